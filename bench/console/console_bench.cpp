// Benchmarks of the console runner. Prints figures and ratios; asserts nothing.
//   bench_console [lines]      (default 1000000)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "console/DosCommand.h"

namespace {

const QString kHelper = QStringLiteral(CONSOLE_HELPER);

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long long NowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

std::string Line(const QStringList& args) {
    std::string line = "\"" + kHelper.toStdString() + "\"";
    for (const QString& a : args)
        line += " " + a.toStdString();
    return line;
}

// Runs the command while this thread's event loop runs; returns the seconds it took.
double RunInEventLoop(TDosCommand& command, int pollMs = 2) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!command.IsRunning())
            loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    command.Execute();
    poll.start(pollMs);
    loop.exec();
    return clock.nsecsElapsed() / 1e9;
}

// Runs the command the way the tool runner does: pump, sleep 20 ms, pump.
double RunWithToolRunnerPump(TDosCommand& command) {
    QElapsedTimer clock;
    clock.start();
    command.Execute();
    while (command.IsRunning()) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        QCoreApplication::processEvents();
    }
    return clock.nsecsElapsed() / 1e9;
}

double QProcessReader(const QStringList& args, long* lines) {
    QProcess p;
    QByteArray partial;
    *lines = 0;
    QObject::connect(&p, &QProcess::readyReadStandardOutput, [&] {
        partial += p.readAllStandardOutput();
        qsizetype start = 0;
        for (qsizetype nl; (nl = partial.indexOf('\n', start)) >= 0; start = nl + 1) {
            QByteArray line = partial.mid(start, nl - start);
            (void)line;
            ++*lines;
        }
        partial.remove(0, start);
    });
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    p.start(kHelper, args);
    loop.exec();
    return clock.nsecsElapsed() / 1e9;
}

double ToDevNull(const QStringList& args) {
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    p.start(kHelper, args);
    p.waitForFinished(-1);
    return clock.nsecsElapsed() / 1e9;
}

void Throughput(long n, bool flush) {
    const QStringList args{QStringLiteral("t:%1:%2").arg(n).arg(flush ? 1 : 0)};
    std::printf("\n%ld lines, %s:\n", n, flush ? "flushed after every line" : "block-buffered");

    TDosCommand command;
    command.SetCommandLine(Line(args));
    const double tCommand = RunInEventLoop(command);
    const size_t got = command.CapturedLines().size();
    long qLines = 0;
    const double tQProcess = QProcessReader(args, &qLines);
    const double tNull = ToDevNull(args);

    const double rCommand = got / tCommand, rQProcess = qLines / tQProcess, rNull = n / tNull;
    std::printf("  TDosCommand, event loop    %10.0f lines/s  (%zu lines, %.2f s)\n", rCommand, got,
                tCommand);
    std::printf("  QProcess reader            %10.0f lines/s  (%ld lines, %.2f s)\n", rQProcess,
                qLines, tQProcess);
    std::printf("  child to /dev/null         %10.0f lines/s  (%.2f s)\n", rNull, tNull);
    std::printf(
        "  ratio TDosCommand/QProcess %.2f, TDosCommand/devnull %.2f  (target >= 200000/s)\n",
        rCommand / rQProcess, rCommand / rNull);

    TDosCommand pumped;
    pumped.SetCommandLine(Line(args));
    const double tPumped = RunWithToolRunnerPump(pumped);
    std::printf("  TDosCommand, tool runner's 20 ms pump %10.0f lines/s  (%zu lines, %.2f s)\n",
                pumped.CapturedLines().size() / tPumped, pumped.CapturedLines().size(), tPumped);
}

void IdleCost() {
    TDosCommand command;
    command.SetCommandLine(Line({QStringLiteral("s:10000")}));
    // No polling of our own: the end is announced by the worker.
    QEventLoop loop;
    command.SetOnTerminated([&loop](TDosCommand*, uint32_t) {
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    const double before = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    command.Execute();
    loop.exec();
    const double wall = clock.nsecsElapsed() / 1e9;
    const double cpu = CpuSeconds() - before;
    std::printf(
        "\nQuiet child for 10 s: runner CPU %.4f s in %.2f s = %.3f%% of one core (target <= "
        "0.2%%)\n",
        cpu, wall, 100.0 * cpu / wall);
}

void Latency() {
    std::vector<double> ms;
    TDosCommand command;
    command.SetOnNewLine([&](TDosCommand*, std::string line, TOutputType kind) {
        if (kind == otEntireLine && !line.empty()) {
            ms.push_back((NowNs() - std::stoll(line)) / 1e6);
        }
    });
    command.SetCommandLine(Line({QStringLiteral("L:1000:10")}));
    RunInEventLoop(command, 200);
    std::sort(ms.begin(), ms.end());
    if (ms.empty())
        return;
    std::printf(
        "\nLatency write -> line handed over (%zu lines 10 ms apart): median %.3f ms, "
        "p99 %.3f ms, worst %.3f ms (target median < 1 ms)\n",
        ms.size(), ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const long n = argc > 1 ? std::atol(argv[1]) : 1000000;
    Throughput(n, false);
    Throughput(n, true);
    IdleCost();
    Latency();
    return 0;
}
