// What the batch and end-to-end benchmarks share: timing, repetitions, test clips, and running
// a command line the way a shell user would, to compare the program against.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "pipeline/ToolRunner.h"

namespace bench {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start);
double Median(std::vector<double> values);
double Minimum(const std::vector<double>& values);

// "--reps N" on the command line, else QUINTARO_BENCH_REPS, else fallback; at least 1.
int Repetitions(int argc, char** argv, int fallback);
// The value after `flag` on the command line, or fallback.
std::string FlagValue(int argc, char** argv, const std::string& flag, const std::string& fallback);
// The folder of the tool slots, ending with "/": "--slots DIR", else the build's own.
std::string SlotFolder(int argc, char** argv);

// Writes a clip of test picture and tone (H.264 and AAC in MP4) with ffmpeg.
// Returns an empty text on success, otherwise what went wrong.
std::string MakeClip(const std::string& path, int seconds, int width, int height);

// One word for sh, in single quotes.
std::string ShellQuoted(const std::string& word);
// A command line of the program (Windows word rules) as the same words for sh.
std::string ShellCommand(const std::string& commandLine);

struct ChildResult {
    int status = -1;        // exit code, 128 + n for signal n, -1 when it could not start
    double seconds = 0;     // wall time from start to reaped
    double cpuSeconds = 0;  // user + system time of the child and what it waited for
};

// Runs argv (looked up on PATH) with standard input from /dev/null and standard output and
// error into outputPath (truncated), at nice value niceValue (0: unchanged), and waits for it.
ChildResult RunChild(const std::vector<std::string>& argv, const std::string& outputPath,
                     int niceValue);

// User + system time of every reaped child of this process so far, and of this process.
double ChildrenCpuSeconds();
double OwnCpuSeconds();

// Context switches so far (getrusage): how often the processes gave up the processor (waits,
// wake-ups) and how often they were taken off it (preempted).
struct Switches {
    long voluntary = 0;
    long involuntary = 0;
};
Switches ChildrenSwitches();
Switches OwnSwitches();

// A tool host that never asks to stop and counts progress updates.
class QuietHost : public ToolHost {
  public:
    bool StopRequested() const override { return false; }
    void SetProgressText(const std::string& text) override {
        ++updates;
        last = text;
    }
    int updates = 0;
    std::string last;
};

// The machine's load averages (/proc/loadavg), to print beside the figures: other work on the
// machine shows up in every wall time.
std::string LoadAverage();

// "met" or "NOT met", for a target line.
std::string Verdict(bool met);

}  // namespace bench
