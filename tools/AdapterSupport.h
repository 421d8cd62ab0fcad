#pragma once

// What every tool adapter shares: reporting, starting the real tool without a shell and waiting
// for it, and the rules for handing file names to the real tools.

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/Paths.h"

namespace adapter {

// Exit code of an adapter whose command line cannot be read.
constexpr int kUsageExit = 2;
// Exit code when the real tool cannot be started at all.
constexpr int kStartFailedExit = 127;

// The slot name the adapter reports under ("mencoder.exe"), set once by main().
void SetToolName(std::string name);
const std::string& ToolName();

// "<tool>: <message>" on standard error.
void Report(const std::string& message);

// Prints the problem and the usage text to standard error and exits with kUsageExit.
[[noreturn]] void UsageError(const std::string& problem, const std::string& usage);

// A stop request (SIGTERM, SIGINT, SIGHUP) kills the running tool; the adapter then finishes
// its clean-up and returns 128 + the signal number, for Finish. SIGPIPE is ignored so that a
// vanished reader never kills the adapter before its tool.
void InstallStopHandling();
// The stop signal received so far, or 0.
int StopSignal();

// For an adapter that does its work itself instead of running a tool: from now on a stop signal
// ends the adapter at once, of that same signal, after removing the file SetStopCleanup named.
void EndOnStop();
// The temporary file a stop removes (the pointer is kept, not the text); nullptr for none.
void SetStopCleanup(const char* path);

// The adapter's exit: when result stands for a signal (its own stop, or the death of its last
// tool), the adapter dies of that same signal, so that its caller sees a signal and not an exit
// code of 128 + n, which a reader of signed exit codes would take for a negative number.
// Otherwise returns result.
int Finish(int result);

struct ChildOptions {
    // When set, the tool's standard output and error go into one pipe and every chunk read from
    // it is passed here, as it arrives; otherwise the tool writes to the adapter's own output.
    std::function<void(std::string_view)> onOutput;
    // Descriptors the tool inherits (everything else above standard error is closed).
    std::vector<int> keepFds;
};

// Runs argv (argv[0] looked up on PATH) in the adapter's own process group, with a parent-death
// signal, and waits for it. Returns its exit status (0..255), 128 + n when it died of signal n,
// 128 + n as well when a stop signal arrived before it could start, and kStartFailedExit (after
// reporting why) when it could not be started.
int RunChild(const std::vector<std::string>& argv, const ChildOptions& options = {});

struct FdMapping {
    int from;  // a descriptor of the adapter
    int to;    // the number the tool sees it under
};

// Starts argv (argv[0] looked up on PATH) in the adapter's own process group, with a parent-death
// signal, without waiting: a stop signal kills it. fds are handed over under their new numbers
// (everything else above standard error is closed, but keepFds). Returns its pid, or -1 (after
// reporting why, unless a stop signal came first) when it could not be started.
pid_t StartChild(const std::vector<std::string>& argv, const std::vector<FdMapping>& fds,
                 const std::vector<int>& keepFds = {});
// Waits for a child of StartChild: its exit status (0..255), or 128 + n when it died of signal n.
int WaitChild(pid_t pid);

// Runs a tool that writes target (RunChild's results) and makes sure of it: success only when
// target exists afterwards and is not an empty file (1 otherwise). When the run fails, a target
// that the tool created or changed is removed, so that no half-written file looks finished; one
// it never touched stays.
int RunProducing(const std::vector<std::string>& argv, const std::string& target,
                 const ChildOptions& options = {});

// Writes all of data to a descriptor; gives up silently once the reader is gone.
void WriteAll(int fd, std::string_view data);

// Nearly full: a tool's writes fail well before the last block is taken.
bool FolderNearlyFull(const std::string& folder);
// "No space left on device (where)", in the system's words.
std::string NoSpaceLeft(const std::string& where);

// Passes a tool's output on to the adapter's own, and keeps the tool's last word on an error:
// its last "Error: " line (without the prefix), else its last "what: why" line that is not
// progress or a warning.
class ErrorWatch {
  public:
    void Feed(std::string_view chunk);
    const std::string& LastError();

  private:
    void Take();
    std::string partial_;
    std::string lastError_;
    bool sawErrorLine_ = false;
};

// A relative name that a tool would read as an option ("-x") or an option file ("@x") gets "./".
std::string SafePathArgument(const std::string& path);
// ffmpeg reads a ":" as a protocol separator and "-" as an option: "file:" avoids both.
std::string FfmpegPath(const std::string& path);

// A whole-text decimal number ("25", "29.970"); nothing for "1)", "", "[FPS]" or non-positive.
std::optional<double> ParsePositiveNumber(const std::string& text);
// A whole-text positive integer without sign ("32000"); nothing otherwise.
std::optional<long> ParsePositiveInteger(const std::string& text);

struct FileState {
    bool exists = false;
    bool regular = false;
    unsigned long long size = 0;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    long long mtimeNs = 0;
    bool operator==(const FileState&) const = default;
};
FileState StatFile(const std::string& path);

}  // namespace adapter
