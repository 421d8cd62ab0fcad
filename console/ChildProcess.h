// The Linux side of running one command line: word splitting, starting the child, its exit status.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace childprocess {

// Exit code that means "still running", as the Windows exit-code query reports it.
constexpr uint32_t kStillActive = 259;

// Splits a command line into words by the Windows rules: blanks and tabs separate words outside
// double quotes, a double quote starts or ends a quoted span, and backslashes are literal unless
// they precede a double quote (2n backslashes + quote: n backslashes and the quote toggles the
// span; 2n + 1: n backslashes and a literal quote). The first word, the program, keeps every
// backslash.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The program file that starting `program` would run: a word holding "/" is taken as it is,
// otherwise the first executable regular file of that name along PATH. Empty if none.
std::string ResolveProgram(const std::string& program);

// A child's exit code as the program reports it: the status taken as a signed byte (exit(-2)
// reads 0xFFFFFFFE), or 128 + n for a child ended by signal n.
uint32_t ExitCodeFromWaitStatus(int status);
uint32_t ExitCodeFromChildInfo(int siCode, int siStatus);

// The nice value a Windows priority class stands for, or -1 for "leave it as it is".
int NiceForPriorityClass(int32_t priorityClass);

struct StartResult {
    pid_t pid = -1;
    int error = 0;  // errno when the child could not be started
};

// How to start one child: every program of this project starts its children this way.
struct SpawnRequest {
    std::vector<std::string> argv;  // argv[0] looked up on PATH unless it holds a "/"
    // Descriptors handed over: {one of ours, the number the child sees it under}.
    std::vector<std::pair<int, int>> fds;
    // Descriptors the child keeps under their own numbers; every other one above 2 is closed.
    std::vector<int> keepFds;
    bool ownProcessGroup = false;
    int niceValue = -1;  // -1: as the parent's
    // Runs in the parent as soon as the child exists, before its program is started.
    std::function<void(pid_t)> onForked;
};

// Starts the child with SIGKILL as its parent-death signal (sent when the calling thread ends),
// an empty signal mask, and SIGPIPE and the stop signals (SIGTERM, SIGINT, SIGHUP) at their
// defaults, with the parent's environment and folder. Failures of exec are reported back through
// a close-on-exec pipe, so `error` is the real errno (the child is reaped then).
StartResult Spawn(const SpawnRequest& request);

// Starts the child in its own process group with `stdinFd` as standard input and `outputFd` as
// standard output and standard error.
StartResult StartChild(const std::vector<std::string>& words, int stdinFd, int outputFd,
                       int niceValue);

// Kills the child's whole process group, and the child itself should it have left the group.
void KillProcessGroup(pid_t pid);

// Whether no process of the group is left, zombies aside: a killed tool's helpers go on for a
// moment after the signal, and an orphaned zombie waits for a reaper that is not ours.
bool ProcessGroupGone(pid_t pgid);

}  // namespace childprocess
