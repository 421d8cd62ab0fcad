#include "tools/AdapterSupport.h"

#include "console/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace adapter {

namespace {

std::string g_toolName = "adapter";
// The tools running now, for the stop handler: a slot may run a reader feeding its tool.
constexpr int kMaxChildren = 4;
volatile sig_atomic_t g_children[kMaxChildren] = {};
volatile sig_atomic_t g_stopSignal = 0;
volatile sig_atomic_t g_endOnStop = 0;
const char* volatile g_stopCleanup = nullptr;
int g_childSignal = 0;  // what the last tool died of
bool g_outputGone = false;
// The tools' output that passed through ended inside a line: a report of ours starts a new one.
bool g_midLine = false;

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The tool is killed outright: ffmpeg, for one, only notes a SIGTERM and goes on waiting for
// an input that does not come.
void OnStopSignal(int sig) {
    if (g_stopSignal == 0) {
        g_stopSignal = sig;
    }
    for (int i = 0; i < kMaxChildren; ++i) {
        const pid_t child = g_children[i];
        if (child > 0) {
            kill(child, SIGKILL);
        }
    }
    if (g_endOnStop) {
        if (const char* path = g_stopCleanup) {
            unlink(path);
        }
        // Blocked while this handler runs, the signal ends the process as soon as it returns.
        signal(sig, SIG_DFL);
        raise(sig);
    }
}

// Called with the stop signals blocked.
bool Register(pid_t pid) {
    for (int i = 0; i < kMaxChildren; ++i) {
        if (g_children[i] == 0) {
            g_children[i] = pid;
            return true;
        }
    }
    return false;
}

void Unregister(pid_t pid) {
    for (int i = 0; i < kMaxChildren; ++i) {
        if (g_children[i] == pid) {
            g_children[i] = 0;
        }
    }
}

sigset_t StopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kStopSignals) {
        sigaddset(&set, sig);
    }
    return set;
}

int WaitForChild(pid_t pid) {
    // Wait without reaping first, so that a stop signal is never forwarded to a recycled pid.
    siginfo_t info;
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    const sigset_t stopSet = StopSignalSet();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &stopSet, &previous);
    Unregister(pid);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        g_childSignal = WTERMSIG(status);
        return 128 + WTERMSIG(status);
    }
    g_childSignal = 0;
    return WEXITSTATUS(status);
}

}  // namespace

void SetToolName(std::string name) {
    g_toolName = std::move(name);
}
const std::string& ToolName() {
    return g_toolName;
}

void Report(const std::string& message) {
    const std::string line = (g_midLine ? "\n" : "") + g_toolName + ": " + message + "\n";
    WriteAll(STDERR_FILENO, line);
}

void UsageError(const std::string& problem, const std::string& usage) {
    Report(problem);
    WriteAll(STDERR_FILENO, "usage: " + g_toolName + " " + usage + "\n");
    std::exit(kUsageExit);
}

void InstallStopHandling() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kStopSignals) {
        sigaction(sig, &action, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);
}

int StopSignal() {
    return g_stopSignal;
}

void EndOnStop() {
    g_endOnStop = 1;
    if (g_stopSignal != 0) {
        raise(g_stopSignal);
    }
}

void SetStopCleanup(const char* path) {
    g_stopCleanup = path;
}

int Finish(int result) {
    const int sig = g_stopSignal != 0 ? g_stopSignal : g_childSignal;
    if (sig == 0 || result != 128 + sig) {
        return result;
    }
    // The tool's crash is the tool's: no core file of the adapter for it.
    const struct rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    return result;  // a signal whose default is not to end the process
}

pid_t StartChild(const std::vector<std::string>& argv, const std::vector<FdMapping>& fds,
                 const std::vector<int>& keepFds) {
    if (argv.empty()) {
        return -1;
    }
    childprocess::SpawnRequest request;
    request.argv = argv;
    for (const FdMapping& fd : fds) {
        request.fds.push_back({fd.from, fd.to});
    }
    request.keepFds = keepFds;
    // Keep a stop signal from slipping in between fork and recording the child: blocked until
    // the child is registered, which happens before its program starts.
    const sigset_t stopSet = StopSignalSet();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &stopSet, &previous);
    if (g_stopSignal != 0) {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        return -1;
    }
    pid_t forked = -1;
    request.onForked = [&](pid_t pid) {
        forked = pid;
        if (!Register(pid)) {
            kill(pid, SIGKILL);
        }
        sigprocmask(SIG_SETMASK, &previous, nullptr);
    };
    const childprocess::StartResult started = childprocess::Spawn(request);
    if (forked < 0) {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
    }
    if (started.pid < 0) {
        if (forked > 0) {
            // The child that could not start its program is reaped already.
            sigprocmask(SIG_BLOCK, &stopSet, &previous);
            Unregister(forked);
            sigprocmask(SIG_SETMASK, &previous, nullptr);
        }
        Report("cannot start " + argv[0] + ": " + std::strerror(started.error));
        return -1;
    }
    return started.pid;
}

int WaitChild(pid_t pid) {
    return WaitForChild(pid);
}

int RunChild(const std::vector<std::string>& argv, const ChildOptions& options) {
    int outPipe[2] = {-1, -1};
    if (options.onOutput && pipe2(outPipe, O_CLOEXEC) != 0) {
        Report("cannot start " + (argv.empty() ? std::string() : argv[0]) + ": " +
               std::strerror(errno));
        return kStartFailedExit;
    }
    std::vector<FdMapping> fds;
    if (outPipe[1] >= 0) {
        fds = {{outPipe[1], STDOUT_FILENO}, {outPipe[1], STDERR_FILENO}};
    }
    const pid_t pid = StartChild(argv, fds, options.keepFds);
    if (outPipe[1] >= 0) {
        close(outPipe[1]);
    }
    if (pid < 0) {
        if (outPipe[0] >= 0) {
            close(outPipe[0]);
        }
        return g_stopSignal != 0 ? 128 + g_stopSignal : kStartFailedExit;
    }
    if (outPipe[0] >= 0) {
        char buffer[16384];
        for (;;) {
            const ssize_t n = read(outPipe[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            options.onOutput(std::string_view(buffer, static_cast<size_t>(n)));
        }
        close(outPipe[0]);
    }
    return WaitForChild(pid);
}

int RunProducing(const std::vector<std::string>& argv, const std::string& target,
                 const ChildOptions& options) {
    const FileState before = StatFile(target);
    int result = RunChild(argv, options);
    const FileState after = StatFile(target);
    if (result == 0 && (!after.exists || (after.regular && after.size == 0))) {
        Report("nothing was written to " + target);
        result = 1;
    }
    if (result != 0 && after.exists && after.regular && after != before) {
        unlink(target.c_str());
    }
    return result;
}

void WriteAll(int fd, std::string_view data) {
    if ((fd == STDOUT_FILENO || fd == STDERR_FILENO) && !data.empty()) {
        g_midLine = data.back() != '\n' && data.back() != '\r';
    }
    while (!data.empty() && !g_outputGone) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            g_outputGone = true;  // the reader is gone; the tool still runs to its end
            return;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
}

bool FolderNearlyFull(const std::string& folder) {
    struct statvfs fs {};
    return statvfs(folder.c_str(), &fs) == 0 &&
           static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize < 256 * 1024;
}

std::string NoSpaceLeft(const std::string& where) {
    return std::string(std::strerror(ENOSPC)) + " (" + where + ")";
}

void ErrorWatch::Feed(std::string_view chunk) {
    WriteAll(STDOUT_FILENO, chunk);
    for (char c : chunk) {
        if (c != '\n' && c != '\r') {
            if (partial_.size() < 4096) {
                partial_ += c;
            }
            continue;
        }
        Take();
    }
}

const std::string& ErrorWatch::LastError() {
    Take();
    return lastError_;
}

void ErrorWatch::Take() {
    if (partial_.rfind("Error: ", 0) == 0) {
        lastError_ = partial_.substr(7);
        sawErrorLine_ = true;
    } else if (!sawErrorLine_ && !partial_.empty() && partial_.rfind("Progress: ", 0) != 0 &&
               partial_.rfind("Warning: ", 0) != 0 && partial_.find(": ") != std::string::npos) {
        lastError_ = partial_;
    }
    partial_.clear();
}

std::string SafePathArgument(const std::string& path) {
    if (!path.empty() && (path[0] == '-' || path[0] == '@')) {
        return "./" + path;
    }
    return path;
}

std::string FfmpegPath(const std::string& path) {
    return "file:" + path;
}

std::optional<double> ParsePositiveNumber(const std::string& text) {
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !(value > 0.0) || value > 1e6) {
        return std::nullopt;
    }
    return value;
}

std::optional<long> ParsePositiveInteger(const std::string& text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value <= 0) {
        return std::nullopt;
    }
    return value;
}

FileState StatFile(const std::string& path) {
    FileState state;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return state;
    }
    state.exists = true;
    state.regular = S_ISREG(st.st_mode);
    state.size = static_cast<unsigned long long>(st.st_size);
    state.device = static_cast<unsigned long long>(st.st_dev);
    state.inode = static_cast<unsigned long long>(st.st_ino);
    state.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return state;
}

}  // namespace adapter
