// What showing a running tool's progress costs the window: the CPU time of one 20 ms poll as the
// tool runner makes it (pending events, a 20 ms wait that serves the event loop, pending events),
// with a new progress line at every poll and without any. Prints figures; asserts nothing.
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <string>

#include "app/Tfmain.h"

namespace {

double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Milliseconds of CPU time per poll over polls polls.
double CostPerPoll(Tfmain& window, int polls, bool withProgress) {
    const double start = CpuSeconds();
    for (int i = 0; i < polls; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QEventLoop wait;
        QTimer::singleShot(20, &wait, &QEventLoop::quit);
        wait.exec();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (withProgress) {
            char line[128];
            std::snprintf(line, sizeof line,
                          "Pos: %5.1fs %6df (%2d%%) 24.93fps Trem:   2min  13mb  A-V:0.000 [268:0]",
                          i / 25.0, i, i % 100);
            window.SetProgressText(line);
        }
    }
    return (CpuSeconds() - start) * 1000 / polls;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    Tfmain window;
    window.show();
    QApplication::processEvents();

    const int polls = 250;  // five seconds of a running tool
    double with = 0, without = 0;
    for (int round = 0; round < 3; ++round) {
        with += CostPerPoll(window, polls, true);
        without += CostPerPoll(window, polls, false);
    }
    with /= 3;
    without /= 3;
    std::printf(
        "CPU per 20 ms poll, shown window: %.3f ms with a new progress line every poll, "
        "%.3f ms without\n",
        with, without);
    std::printf("the progress display costs %.3f ms a poll, %.2f%% of one core\n", with - without,
                (with - without) / 20 * 100);
}
