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

// Runs one command line at idle priority to its end while the caller's event loop keeps being
// serviced, shows the tool's latest output line as progress, stops the tool when the host asks,
// and leaves every captured line in lastToolOutput. Returns the tool's exit code, the system's
// error code when it could not be started, kStoppedRunResult when stopped, 0 for an empty line.
int RunTool(const std::string& commandLine, ToolHost& host,
            std::vector<std::string>& lastToolOutput);

// The progress text for an output line: every "encoded frames: " cut out.
std::string ProgressText(const std::string& line);
