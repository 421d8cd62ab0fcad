// RunTool capturing a child that prints 1,000,000 short lines, against the same child writing to
// /dev/null, in alternation. Both children run at nice 19, as RunTool starts every tool.
// Target: at least 100,000 lines per second through RunTool.
//
// Flags: --reps N (default 3), --lines N (default 1000000).
#include <QCoreApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/batch/BenchSupport.h"
#include "pipeline/CommandLines.h"

namespace {

// A line cut by a read boundary is delivered twice, its start and then the whole line: an entry
// that the next one starts with is such a start.
bool AllLinesInOrder(const std::vector<std::string>& output, long lines) {
    long next = 0;
    char expected[32];
    for (size_t i = 0; i < output.size(); ++i) {
        if (i + 1 < output.size() && output[i + 1].starts_with(output[i])) {
            continue;
        }
        std::snprintf(expected, sizeof expected, "line %07ld", next++);
        if (output[i] != expected) {
            return false;
        }
    }
    return next == lines;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const int reps = bench::Repetitions(argc, argv, 3);
    const long lines = std::atol(bench::FlagValue(argc, argv, "--lines", "1000000").c_str());
    const std::string printer = LINE_PRINTER;
    const std::string count = std::to_string(lines);
    const std::string commandLine = Quoted(printer) + " " + count;

    std::printf("RunTool line capture: %ld lines of 13 bytes, %d repetitions (load %s)\n", lines,
                reps, bench::LoadAverage().c_str());
    std::vector<double> captured, discarded, capturedCpu, discardedCpu, ownCpuTimes;
    for (int rep = 0; rep < reps; ++rep) {
        bench::QuietHost host;
        std::vector<std::string> output;
        const double cpuBefore = bench::ChildrenCpuSeconds();
        const double ownBefore = bench::OwnCpuSeconds();
        const auto start = bench::Clock::now();
        const int result = RunTool(commandLine, host, output);
        const double runToolSeconds = bench::SecondsSince(start);
        const double runToolCpu = bench::ChildrenCpuSeconds() - cpuBefore;
        const double ownCpu = bench::OwnCpuSeconds() - ownBefore;
        const bool complete = result == 0 && AllLinesInOrder(output, lines);

        const bench::ChildResult null = bench::RunChild({printer, count}, "/dev/null", 19);

        captured.push_back(runToolSeconds);
        capturedCpu.push_back(runToolCpu);
        ownCpuTimes.push_back(ownCpu);
        discarded.push_back(null.seconds);
        discardedCpu.push_back(null.cpuSeconds);
        std::printf(
            "  run %d: RunTool %7.3f s (%zu entries, exit %d, %d progress updates%s)   "
            "/dev/null %7.3f s (exit %d)\n",
            rep + 1, runToolSeconds, output.size(), result, host.updates,
            complete ? "" : ", OUTPUT INCOMPLETE", null.seconds, null.status);
    }

    const double runToolSeconds = bench::Median(captured);
    const double nullSeconds = bench::Median(discarded);
    const double runToolRate = static_cast<double>(lines) / runToolSeconds;
    const double nullRate = static_cast<double>(lines) / nullSeconds;
    std::printf(
        "median RunTool:    %8.3f s  %12.0f lines/s  (child CPU %.3f s, this process CPU %.3f s)\n",
        runToolSeconds, runToolRate, bench::Median(capturedCpu), bench::Median(ownCpuTimes));
    std::printf("median /dev/null:  %8.3f s  %12.0f lines/s  (child CPU %.3f s)\n", nullSeconds,
                nullRate, bench::Median(discardedCpu));
    std::printf("ratio RunTool time / /dev/null time: %.2f\n", runToolSeconds / nullSeconds);
    std::printf("target: at least 100000 lines/s through RunTool: %s\n",
                bench::Verdict(runToolRate >= 100000).c_str());
    return 0;
}
