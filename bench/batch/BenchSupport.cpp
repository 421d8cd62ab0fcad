#include "bench/batch/BenchSupport.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "console/ChildProcess.h"

namespace bench {

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double Minimum(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

std::string FlagValue(int argc, char** argv, const std::string& flag, const std::string& fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (flag == argv[i]) {
            return argv[i + 1];
        }
    }
    return fallback;
}

int Repetitions(int argc, char** argv, int fallback) {
    const char* env = std::getenv("QUINTARO_BENCH_REPS");
    const std::string text = FlagValue(argc, argv, "--reps", env && *env ? env : "");
    const int reps = text.empty() ? fallback : std::atoi(text.c_str());
    return std::max(reps, 1);
}

std::string SlotFolder(int argc, char** argv) {
    std::string folder = FlagValue(argc, argv, "--slots", QUINTARO_SLOT_DIR);
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

std::string MakeClip(const std::string& path, int seconds, int width, int height) {
    const std::string duration = std::to_string(seconds);
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string log = path + ".ffmpeg.log";
    const ChildResult result =
        RunChild({"ffmpeg",
                  "-nostdin",
                  "-v",
                  "error",
                  "-y",
                  "-f",
                  "lavfi",
                  "-i",
                  "testsrc2=size=" + size + ":rate=25:duration=" + duration,
                  "-f",
                  "lavfi",
                  "-i",
                  "sine=frequency=440:sample_rate=44100:duration=" + duration,
                  "-ac",
                  "2",
                  "-c:v",
                  "libx264",
                  "-preset",
                  "veryfast",
                  "-b:v",
                  "1500k",
                  "-pix_fmt",
                  "yuv420p",
                  "-c:a",
                  "aac",
                  "-b:a",
                  "128k",
                  path},
                 log, 0);
    if (result.status != 0) {
        return "ffmpeg failed with " + std::to_string(result.status) + " (see " + log + ")";
    }
    return {};
}

std::string ShellQuoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string ShellCommand(const std::string& commandLine) {
    std::string line;
    for (const std::string& word : childprocess::SplitCommandLine(commandLine)) {
        if (!line.empty()) {
            line += ' ';
        }
        line += ShellQuoted(word);
    }
    return line;
}

namespace {

double CpuSeconds(int who) {
    struct rusage usage;
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

double ChildrenCpuSeconds() {
    return CpuSeconds(RUSAGE_CHILDREN);
}

double OwnCpuSeconds() {
    return CpuSeconds(RUSAGE_SELF);
}

namespace {
Switches SwitchesOf(int who) {
    struct rusage usage {};
    getrusage(who, &usage);
    return {usage.ru_nvcsw, usage.ru_nivcsw};
}
}  // namespace

Switches ChildrenSwitches() {
    return SwitchesOf(RUSAGE_CHILDREN);
}

Switches OwnSwitches() {
    return SwitchesOf(RUSAGE_SELF);
}

ChildResult RunChild(const std::vector<std::string>& argv, const std::string& outputPath,
                     int niceValue) {
    ChildResult result;
    // Everything the child needs is prepared before fork: it may only call async-signal-safe
    // functions, as this process has threads.
    std::vector<char*> words;
    for (const std::string& word : argv) {
        words.push_back(const_cast<char*>(word.c_str()));
    }
    words.push_back(nullptr);
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (input < 0 || output < 0) {
        if (input >= 0) {
            close(input);
        }
        if (output >= 0) {
            close(output);
        }
        return result;
    }
    const double cpuBefore = ChildrenCpuSeconds();
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (niceValue != 0) {
            setpriority(PRIO_PROCESS, 0, niceValue);
        }
        dup2(input, STDIN_FILENO);
        dup2(output, STDOUT_FILENO);
        dup2(output, STDERR_FILENO);
        execvp(words[0], words.data());
        _exit(127);
    }
    close(input);
    close(output);
    if (pid < 0) {
        return result;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.seconds = SecondsSince(start);
    result.cpuSeconds = ChildrenCpuSeconds() - cpuBefore;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string Verdict(bool met) {
    return met ? "met" : "NOT met";
}

}  // namespace bench
