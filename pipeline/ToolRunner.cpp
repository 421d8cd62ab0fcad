#include "pipeline/ToolRunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QReadLocker>
#include <QTimer>
#include <memory>

#include "console/DosCommand.h"

namespace {

constexpr int kIdlePriorityClass = 64;

// How long a stopped tool's process group is waited for; the worker gives up after 5 s itself.
constexpr int kStoppedToolWaitMs = 6000;

// The worker hands every line over and waits for it to be taken, so processing only what is
// pending would let one line through per call. Keep going while events keep coming, but give
// the caller its turn again after a few milliseconds.
constexpr int kPumpBoundMs = 5;

void ProcessPendingMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, kPumpBoundMs);
}

// Waits out one polling interval while still serving the event loop, so hand-overs and clicks
// that arrive during the wait are handled as they come instead of piling up. The wait is open
// to an early end through *current, so a tool that has ended is not waited on any longer.
void WaitOneInterval(QEventLoop*& current, int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    current = &loop;
    loop.exec();
    current = nullptr;
}

}  // namespace

std::string ProgressText(const std::string& line) {
    static const std::string kCut = "encoded frames: ";
    std::string text;
    text.reserve(line.size());
    size_t from = 0;
    for (size_t at; (at = line.find(kCut, from)) != std::string::npos; from = at + kCut.size()) {
        text.append(line, from, at - from);
    }
    text.append(line, from);
    return text;
}

int RunTool(const std::string& commandLine, ToolHost& host,
            std::vector<std::string>& lastToolOutput, ToolRunDetails* details) {
    ToolRunDetails ignored;
    ToolRunDetails& run = details ? *details : ignored;
    run = ToolRunDetails{};
    // A tool's end is noticed by the worker; without a word from it, every call would wait out
    // the rest of a polling interval, which adds up over the stages of a job. The word is a
    // queued call to an object of this thread that outlives the command: the command's
    // destruction waits for a running handler, and Qt drops calls queued to a destroyed object.
    // The worker says it just before the command stops counting as running, so after the word
    // the waits are short until it does.
    QObject endNotice;
    QEventLoop* currentWait = nullptr;
    bool ended = false;
    auto command = std::make_unique<TDosCommand>(nullptr);
    command->SetPriorityClass(kIdlePriorityClass);
    command->SetCommandLine(commandLine);
    command->SetOnTerminated([&endNotice, &currentWait, &ended](TDosCommand*, uint32_t) {
        QMetaObject::invokeMethod(
            &endNotice,
            [&currentWait, &ended] {
                ended = true;
                if (currentWait != nullptr) {
                    currentWait->quit();
                }
            },
            Qt::QueuedConnection);
    });
    command->Execute();
    const std::shared_ptr<const std::atomic<bool>> childGone = command->ChildGone();

    bool stopped = false;
    const auto stopIfAsked = [&] {
        if (host.StopRequested() && command->IsRunning()) {
            command->Stop();
            stopped = true;
        }
    };
    while (command->IsRunning()) {
        // A stop that was asked for already is honoured before the tool has had time to end by
        // itself: a run of quick stages would otherwise go on past it.
        stopIfAsked();
        if (stopped) {
            break;
        }
        ProcessPendingMessages();
        WaitOneInterval(currentWait, ended ? 1 : kPollIntervalMs);
        ProcessPendingMessages();
        {
            QReadLocker lock(&command->LinesLock());
            const std::vector<std::string>& lines = command->CapturedLines();
            if (!lines.empty()) {
                host.SetProgressText(ProgressText(lines.back()));
            }
        }
        stopIfAsked();
    }
    if (stopped && childGone) {
        // The detached worker kills the tool's group; the window stays alive meanwhile.
        QElapsedTimer waited;
        waited.start();
        while (!childGone->load() && waited.elapsed() < kStoppedToolWaitMs) {
            ProcessPendingMessages();
            WaitOneInterval(currentWait, 2);
        }
    }

    {
        QReadLocker lock(&command->LinesLock());
        lastToolOutput = command->CapturedLines();
        const std::vector<TOutputType>& kinds = command->CapturedKinds();
        run.unfinished.assign(lastToolOutput.size(), false);
        for (size_t i = 0; i < kinds.size() && i < run.unfinished.size(); ++i) {
            run.unfinished[i] = kinds[i] == otBeginningOfLine;
        }
    }
    run.stopped = stopped;
    const TRunStatus status = command->RunStatus();
    run.startFailed = !stopped && (status == rsPreparingFailed || status == rsCreatingPipesFailed ||
                                   status == rsStartingChildFailed);
    return stopped ? kStoppedRunResult : static_cast<int32_t>(command->ExitValue());
}
