#include "console/ChildProcess.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

extern char** environ;

namespace childprocess {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Writes the errno of a failed step to the error pipe and ends the child. Only async-signal-safe
// calls from here on: the parent has other threads.
[[noreturn]] void FailInChild(int errorFd, int error) {
    ssize_t ignored = write(errorFd, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> words;
    size_t i = 0;
    const size_t n = commandLine.size();
    while (i < n && IsBlank(commandLine[i])) {
        ++i;
    }
    if (i == n) {
        return words;
    }

    // The program: quotes only group, backslashes stay.
    std::string program;
    bool quoted = false;
    for (; i < n && (quoted || !IsBlank(commandLine[i])); ++i) {
        if (commandLine[i] == '"') {
            quoted = !quoted;
        } else {
            program += commandLine[i];
        }
    }
    words.push_back(program);

    for (;;) {
        while (i < n && IsBlank(commandLine[i])) {
            ++i;
        }
        if (i == n) {
            break;
        }
        std::string word;
        quoted = false;
        while (i < n && (quoted || !IsBlank(commandLine[i]))) {
            if (commandLine[i] == '\\') {
                size_t backslashes = 0;
                while (i < n && commandLine[i] == '\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < n && commandLine[i] == '"') {
                    word.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        word += '"';
                        ++i;
                    }
                } else {
                    word.append(backslashes, '\\');
                }
            } else if (commandLine[i] == '"') {
                quoted = !quoted;
                ++i;
            } else {
                word += commandLine[i++];
            }
        }
        words.push_back(word);
    }
    return words;
}

std::string ResolveProgram(const std::string& program) {
    if (program.empty()) {
        return {};
    }
    if (program.find('/') != std::string::npos) {
        return program;
    }
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (end == std::string::npos) {
            return {};
        }
        start = end + 1;
    }
}

uint32_t ExitCodeFromWaitStatus(int status) {
    if (WIFSIGNALED(status)) {
        return 128u + static_cast<uint32_t>(WTERMSIG(status));
    }
    return ExitCodeFromChildInfo(CLD_EXITED, WEXITSTATUS(status));
}

uint32_t ExitCodeFromChildInfo(int siCode, int siStatus) {
    if (siCode == CLD_EXITED) {
        return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(siStatus & 0xff)));
    }
    return 128u + static_cast<uint32_t>(siStatus);
}

int NiceForPriorityClass(int32_t priorityClass) {
    constexpr int32_t kIdle = 0x40;
    constexpr int32_t kBelowNormal = 0x4000;
    if (priorityClass & kIdle) {
        return 19;
    }
    if (priorityClass & kBelowNormal) {
        return 10;
    }
    return -1;
}

StartResult Spawn(const SpawnRequest& request) {
    StartResult result;
    const std::string program =
        request.argv.empty() ? std::string() : ResolveProgram(request.argv[0]);
    if (program.empty()) {
        result.error = ENOENT;
        return result;
    }
    // Everything the child needs is prepared before fork: between fork and exec it may not
    // allocate.
    std::vector<char*> argv;
    argv.reserve(request.argv.size() + 1);
    for (const std::string& w : request.argv) {
        argv.push_back(const_cast<char*>(w.c_str()));
    }
    argv.push_back(nullptr);
    const long openMax = sysconf(_SC_OPEN_MAX);
    const long maxFd = openMax > 0 && openMax < 65536 ? openMax : 65536;
    constexpr size_t kMostFds = 8;
    const size_t mapped = std::min(request.fds.size(), kMostFds);
    int moved[kMostFds];

    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        result.error = errno;
        return result;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        result.error = errno;
        close(errorPipe[0]);
        close(errorPipe[1]);
        return result;
    }
    if (pid == 0) {
        // Every source out of the way of every target first, so that no mapping overwrites
        // another's source, even when the program runs without standard descriptors.
        const int err = fcntl(errorPipe[1], F_DUPFD_CLOEXEC, 16);
        if (err < 0) {
            FailInChild(errorPipe[1], errno);
        }
        for (size_t i = 0; i < mapped; ++i) {
            moved[i] = fcntl(request.fds[i].first, F_DUPFD_CLOEXEC, 16);
            if (moved[i] < 0) {
                FailInChild(err, errno);
            }
        }
        for (size_t i = 0; i < mapped; ++i) {
            if (dup2(moved[i], request.fds[i].second) < 0) {
                FailInChild(err, errno);
            }
        }
        if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) != 0) {
            for (long fd = 3; fd < maxFd; ++fd) {
                fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
            }
        }
        for (size_t i = 0; i < mapped; ++i) {
            fcntl(request.fds[i].second, F_SETFD, 0);
        }
        for (const int fd : request.keepFds) {
            fcntl(fd, F_SETFD, 0);
        }
        if (request.ownProcessGroup) {
            setpgid(0, 0);
        }
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
            FailInChild(err, errno);
        }
        if (getppid() != parent) {
            _exit(127);  // the parent died before the signal was in place
        }
        if (request.niceValue >= 0) {
            setpriority(PRIO_PROCESS, 0, request.niceValue);
        }
        // Ignored and caught dispositions, and a blocked mask, must not leak into the program.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        for (const int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP}) {
            sigaction(sig, &dfl, nullptr);
        }
        execve(program.c_str(), argv.data(), environ);
        FailInChild(err, errno);
    }

    if (request.ownProcessGroup) {
        // Also set here, so that the group exists before the parent could kill it.
        setpgid(pid, pid);
    }
    if (request.onForked) {
        request.onForked(pid);
    }
    close(errorPipe[1]);
    int childError = 0;
    ssize_t got;
    do {
        got = read(errorPipe[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    close(errorPipe[0]);
    if (got == static_cast<ssize_t>(sizeof childError)) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.error = childError;
        return result;
    }
    result.pid = pid;
    return result;
}

StartResult StartChild(const std::vector<std::string>& words, int stdinFd, int outputFd,
                       int niceValue) {
    SpawnRequest request;
    request.argv = words;
    request.fds = {{stdinFd, 0}, {outputFd, 1}, {outputFd, 2}};
    request.ownProcessGroup = true;
    request.niceValue = niceValue;
    return Spawn(request);
}

void KillProcessGroup(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
}

bool ProcessGroupGone(pid_t pgid) {
    if (pgid <= 0 || (kill(-pgid, 0) != 0 && errno == ESRCH)) {
        return true;
    }
    // Someone is left; only zombies do not count.
    DIR* proc = opendir("/proc");
    if (!proc) {
        return false;
    }
    bool gone = true;
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') {
            continue;
        }
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string text;
        if (!std::getline(stat, text)) {
            continue;
        }
        // "pid (comm) state ppid pgrp ...": the name may hold anything, so count from its end.
        const size_t close = text.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        char state = 0;
        long ppid = 0, group = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %ld %ld", &state, &ppid, &group) == 3 &&
            group == pgid && state != 'Z' && state != 'X') {
            gone = false;
            break;
        }
    }
    closedir(proc);
    return gone;
}

}  // namespace childprocess
