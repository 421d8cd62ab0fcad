#pragma once

#include <string>
#include <vector>

// What running a tool needs of the window: the stop flag and the progress field.
class ToolHost {
  public:
    virtual ~ToolHost() = default;
    virtual bool StopRequested() const = 0;
    virtual void SetProgressText(const std::string& text) = 0;
};

// What RunTool returns for a run that was stopped on request: neither success (0) nor the
// analysis pass's corrupt-source code (-2).
constexpr int kStoppedRunResult = -1;

// How often a running tool is looked at, in milliseconds.
constexpr int kPollIntervalMs = 20;

// What a caller may want to know of a run besides its result.
struct ToolRunDetails {
    bool stopped = false;      // stopped on request
    bool startFailed = false;  // the tool could not be started; the result is the system's code
    // One flag per line of lastToolOutput: that entry is an unfinished line, whose complete
    // form (if it came) is a later entry.
    std::vector<bool> unfinished;
};

// Runs one command line at idle priority to its end while the caller's event loop keeps being
// serviced, shows the tool's latest output line as progress, stops the tool when the host asks,
// and leaves every captured line in lastToolOutput. Returns the tool's exit code, the system's
// error code when it could not be started, kStoppedRunResult when stopped, 0 for an empty line.
// A stopped tool is waited for (a few seconds at most) until nothing of its process group is
// left, so that whatever runs next never meets it.
int RunTool(const std::string& commandLine, ToolHost& host,
            std::vector<std::string>& lastToolOutput, ToolRunDetails* details = nullptr);

// The progress text for an output line: every "encoded frames: " cut out.
std::string ProgressText(const std::string& line);
