#include "console/DosCommand.h"

#include <QCoreApplication>
#include <QEvent>
#include <QReadLocker>
#include <QWriteLocker>

#include "console/DosThread.h"
#include "console/ErrorRelay.h"
#include "console/HandOver.h"
#include "console/Tsan.h"

int ShowWindowValue(TShowWindow showWindow) {
    static constexpr int kValues[] = {0, 3, 6, 9, 5, 10, 3, 2, 7, 8, 4, 1};
    const int i = static_cast<int>(showWindow);
    return i >= 0 && i < 12 ? kValues[i] : 0;
}

uint32_t CreationFlagValue(TCreationFlag creationFlag) {
    static constexpr uint32_t kValues[] = {0x4000000, 0x10,  0x200, 0x800, 0x1000,
                                           0x4,       0x400, 0x1,   0x2,   0x8};
    const int i = static_cast<int>(creationFlag);
    return i >= 0 && i < 10 ? kValues[i] : 0;
}

// ---------------------------------------------------------------------------------------------

TProcessTimer::TProcessTimer(QObject* owner) : QTimer(owner) {
    connect(this, &QTimer::timeout, this, &TProcessTimer::Tick);
}

void TProcessTimer::Tick() {
    secondsSinceStart_.fetch_add(1);
    secondsSinceOutput_.fetch_add(1);
    // The worker sleeps until something can change; a tick can, when there is a limit.
    if (std::shared_ptr<TDosRun> run = armedRun_.lock(); run && run->HasTimeLimit()) {
        run->Wake();
    }
}

void TProcessTimer::Arm() {
    setInterval(1000);
    ResetCounters();
    start();
}

void TProcessTimer::Disarm() {
    stop();
    armedRun_.reset();
}

void TProcessTimer::ResetCounters() {
    secondsSinceStart_.store(0);
    secondsSinceOutput_.store(0);
}

// ---------------------------------------------------------------------------------------------

TDosCommand::TDosCommand(QObject* owner) : QObject(owner) {
    EnsureErrorRelay();
}

TDosCommand::~TDosCommand() {
    Sever();
    // The watchdog goes with the QObject children.
}

void TDosCommand::Execute() {
    if (commandLine_.empty()) {
        return;
    }
    EnsureErrorRelay();  // the application may have been created after this command
    // The old worker never reaches this command again: not its lines, not its status.
    Sever();
    if (!watchdog_) {
        watchdog_ = new TProcessTimer(this);
    }
    {
        QWriteLocker lock(&linesLock_);
        QUINTARO_TSAN_ACQUIRE(&linesLock_);
        capturedLines_.clear();
        capturedKinds_.clear();
        QUINTARO_TSAN_RELEASE(&linesLock_);
    }
    run_ = std::make_shared<TDosRun>();
    new TDosThread(this, run_);
    attached_ = true;
}

void TDosCommand::Stop() {
    if (!attached_) {
        return;
    }
    run_->terminate.store(true);
    run_->Wake();
    attached_ = false;
}

bool TDosCommand::IsRunning() const {
    return attached_ && run_ && run_->running.load() && !run_->terminate.load();
}

void TDosCommand::Sever() {
    if (!run_) {
        return;
    }
    // Cut off first, then stopped: told to stop while still linked, the worker could end and
    // reach this command in between.
    {
        std::lock_guard<std::mutex> lock(run_->linkMutex);
        run_->command = nullptr;
    }
    run_->terminate.store(true);
    attached_ = false;
    run_->released.store(true);
    run_->applied.fetch_add(1);
    run_->applied.notify_all();
    run_->Wake();
    if (watchdog_) {
        watchdog_->Disarm();
    }
    run_.reset();
}

std::shared_ptr<const std::atomic<bool>> TDosCommand::ChildGone() const {
    if (!run_) {
        return nullptr;
    }
    return std::shared_ptr<const std::atomic<bool>>(run_, &run_->childGone);
}

std::vector<std::string> TDosCommand::CapturedLinesSnapshot() const {
    QReadLocker lock(&linesLock_);
    QUINTARO_TSAN_ACQUIRE(&linesLock_);
    std::vector<std::string> copy = capturedLines_;
    QUINTARO_TSAN_RELEASE(&linesLock_);
    return copy;
}

void TDosCommand::AddInput(std::string entry) {
    {
        std::lock_guard<std::mutex> lock(inputMutex_);
        inputQueue_.push_back(std::move(entry));
    }
    if (run_) {
        run_->Wake();
    }
}

void TDosCommand::customEvent(QEvent* event) {
    AcceptEvent(event);
    const QEvent::Type type = event->type();
    if (type == ApplyLinesEvent()) {
        if (run_) {
            ApplyPendingLines(run_);
        }
    } else if (type == ArmWatchdogEvent()) {
        // Posted by the current run's worker, or by one that Execute has since replaced (and
        // whose later requests never come): either way the watchdog serves the current run.
        if (watchdog_ && run_) {
            watchdog_->armedRun_ = run_;
            watchdog_->Arm();
        }
    } else if (type == DisarmWatchdogEvent()) {
        if (watchdog_) {
            watchdog_->Disarm();
        }
    } else {
        QObject::customEvent(event);
    }
}
