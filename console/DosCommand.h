// Runs one command line as a hidden child process on a worker thread and captures its output
// lines. The command lives on its owning (user-interface) thread; see DosThread.h for the worker.
#pragma once

#include <QObject>
#include <QReadWriteLock>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

enum TOutputType { otEntireLine = 0, otBeginningOfLine = 1 };

// How far a run got: the worker goes through the even steps, a failure at a step is the odd code
// after it, and the poll loop ends with one of the last three.
enum TRunStatus {
    rsPreparing = 0,
    rsPreparingFailed = 1,
    rsCreatingPipes = 2,
    rsCreatingPipesFailed = 3,
    rsStartingChild = 4,
    rsStartingChildFailed = 5,
    rsChildRunning = 6,
    rsChildRunningFailed = 7,
    rsEnded = 8,    // the child ended by itself; ExitValue holds its exit code
    rsStopped = 9,  // stopped on request
    rsTimedOut = 10,
};

enum TReturnCode { rcCRLF = 0, rcLF = 1 };

enum TShowWindow {
    swHIDE = 0,
    swMAXIMIZE = 1,
    swMINIMIZE = 2,
    swRESTORE = 3,
    swSHOW = 4,
    swSHOWDEFAULT = 5,
    swSHOWMAXIMIZED = 6,
    swSHOWMINIMIZED = 7,
    swSHOWMINNOACTIVE = 8,
    swSHOWNA = 9,
    swSHOWNOACTIVATE = 10,
    swSHOWNORMAL = 11,
};

enum TCreationFlag {
    fCREATE_DEFAULT_ERROR_MODE = 0,
    fCREATE_NEW_CONSOLE = 1,
    fCREATE_NEW_PROCESS_GROUP = 2,
    fCREATE_SEPARATE_WOW_VDM = 3,
    fCREATE_SHARED_WOW_VDM = 4,
    fCREATE_SUSPENDED = 5,
    fCREATE_UNICODE_ENVIRONMENT = 6,
    fDEBUG_PROCESS = 7,
    fDEBUG_ONLY_THIS_PROCESS = 8,
    fDETACHED_PROCESS = 9,
};

// The Windows values these stand for. They are kept with the command but have no effect on Linux.
int ShowWindowValue(TShowWindow showWindow);
uint32_t CreationFlagValue(TCreationFlag creationFlag);

class TDosCommand;
struct TDelivery;
struct TDosRun;

using TNewLineEvent =
    std::function<void(TDosCommand* Sender, std::string NewLine, TOutputType OutputType)>;
using TTerminateEvent = std::function<void(TDosCommand* Sender, uint32_t ExitCode)>;

class TCreatePipeError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TCreateProcessError : public std::runtime_error {
  public:
    explicit TCreateProcessError(const std::string& commandLine)
        : std::runtime_error(commandLine + " doesn't exist.") {}
};

// The watchdog: counts whole seconds for the time limits. It ticks on its owner's thread; the
// counters are read and reset by the worker as well, hence atomic.
class TProcessTimer : public QTimer {
  public:
    explicit TProcessTimer(QObject* owner);

    int32_t SecondsSinceStart() const { return secondsSinceStart_.load(); }
    int32_t SecondsSinceOutput() const { return secondsSinceOutput_.load(); }

    void Tick();
    // Arm and Disarm act on the timer and belong to its own thread; the worker asks for them
    // through its command.
    void Arm();
    void Disarm();
    // Any thread.
    void NoteOutput() { secondsSinceOutput_.store(0); }
    void ResetCounters();

  private:
    friend class TDosCommand;
    std::atomic<int32_t> secondsSinceStart_{0};
    std::atomic<int32_t> secondsSinceOutput_{0};
    std::weak_ptr<TDosRun> armedRun_;  // woken on every tick when it has a time limit
};

class TDosCommand : public QObject {
  public:
    explicit TDosCommand(QObject* owner = nullptr);
    ~TDosCommand() override;

    const std::string& CommandLine() const { return commandLine_; }
    void SetCommandLine(std::string commandLine) { commandLine_ = std::move(commandLine); }
    const TNewLineEvent& OnNewLine() const { return onNewLine_; }
    void SetOnNewLine(TNewLineEvent handler) { onNewLine_ = std::move(handler); }
    // Fired on the worker once a run has ended. It must not wait for the command's thread:
    // destroying or restarting the command waits for it to return.
    const TTerminateEvent& OnTerminated() const { return onTerminated_; }
    void SetOnTerminated(TTerminateEvent handler) { onTerminated_ = std::move(handler); }
    bool InputToOutput() const { return inputToOutput_.load(); }
    void SetInputToOutput(bool value) { inputToOutput_.store(value); }
    int32_t MaxTimeAfterBeginning() const { return maxTimeAfterBeginning_; }
    void SetMaxTimeAfterBeginning(int32_t seconds) { maxTimeAfterBeginning_ = seconds; }
    int32_t MaxTimeAfterLastOutput() const { return maxTimeAfterLastOutput_; }
    void SetMaxTimeAfterLastOutput(int32_t seconds) { maxTimeAfterLastOutput_ = seconds; }
    TShowWindow ShowWindow() const { return showWindow_; }
    void SetShowWindow(TShowWindow value) { showWindow_ = value; }
    TCreationFlag CreationFlag() const { return creationFlag_; }
    void SetCreationFlag(TCreationFlag value) { creationFlag_ = value; }
    TReturnCode ReturnCode() const { return returnCode_; }
    void SetReturnCode(TReturnCode value) { returnCode_ = value; }
    TReturnCode OutputReturnCode() const {
        return static_cast<TReturnCode>(outputReturnCode_.load());
    }
    void SetPriorityClass(int32_t value) { priorityClass_ = value; }
    int32_t PriorityClass() const { return priorityClass_; }

    // Starts a run and returns at once; does nothing when the command line is empty.
    void Execute();
    // Detaches the worker without waiting: it kills the child's process group and frees itself.
    void Stop();
    bool IsRunning() const;

    // Hold for reading around every access to CapturedLines while a worker may run.
    QReadWriteLock& LinesLock() { return linesLock_; }
    const std::vector<std::string>& CapturedLines() const { return capturedLines_; }
    // The kind of each entry of CapturedLines, under the same lock. While an unfinished line
    // keeps growing read after read, its one entry grows with it (kind otBeginningOfLine), so
    // that a long line without line ends costs its length once, not once per read.
    const std::vector<TOutputType>& CapturedKinds() const { return capturedKinds_; }
    // A copy taken under LinesLock.
    std::vector<std::string> CapturedLinesSnapshot() const;
    // Not owned; kept up to date on the owning thread with unfinished lines merged.
    void SetDisplayLines(std::vector<std::string>* lines) { displayLines_ = lines; }
    std::vector<std::string>* DisplayLines() const { return displayLines_; }
    // Taken by the next worker, which empties it first; touch it only while no worker runs.
    std::deque<std::string>& InputQueue() { return inputQueue_; }
    // Queues one entry for the running child's standard input (on the command's thread).
    void AddInput(std::string entry);

    uint32_t ExitValue() const { return exitValue_.load(); }
    TRunStatus RunStatus() const { return static_cast<TRunStatus>(runStatus_.load()); }
    // Created by the first Execute, kept for later runs.
    TProcessTimer* Watchdog() const { return watchdog_; }

    // Set once the current run's child has ended and nothing of its process group is left
    // (also when no child was started). It outlives Stop and the command, so a caller can wait
    // for a stopped run's tool to be really gone. Null before the first Execute.
    std::shared_ptr<const std::atomic<bool>> ChildGone() const;

    // How a worker's start failure is shown: installed by the window. Called on the main thread,
    // never on a worker, and no worker waits for it. Without one the message goes to stderr.
    static void SetErrorHandler(std::function<void(const std::string& message)> handler);

  protected:
    void customEvent(QEvent* event) override;

  private:
    friend class TDosThread;
    friend void ApplyDelivery(TDosRun& run, TDosCommand& command, TDelivery& d);

    // Cuts the current run off from this command for good, stops it and releases a waiting
    // hand-over.
    void Sever();

    std::string commandLine_;
    TNewLineEvent onNewLine_;
    TTerminateEvent onTerminated_;
    std::atomic<bool> inputToOutput_{false};
    int32_t maxTimeAfterBeginning_ = 0;
    int32_t maxTimeAfterLastOutput_ = 0;
    TShowWindow showWindow_ = swHIDE;
    TCreationFlag creationFlag_ = fCREATE_NEW_CONSOLE;
    TReturnCode returnCode_ = rcCRLF;
    int32_t priorityClass_ = 32;

    // Written by the worker, read anywhere.
    std::atomic<int> outputReturnCode_{rcCRLF};
    std::atomic<int> runStatus_{0};
    std::atomic<uint32_t> exitValue_{0};

    mutable QReadWriteLock linesLock_;
    std::vector<std::string> capturedLines_;
    std::vector<TOutputType> capturedKinds_;
    std::vector<std::string>* displayLines_ = nullptr;
    std::mutex inputMutex_;
    std::deque<std::string> inputQueue_;

    TProcessTimer* watchdog_ = nullptr;
    std::shared_ptr<TDosRun> run_;  // kept after Stop until the next Execute or destruction
    bool attached_ = false;
};
