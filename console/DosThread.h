// The worker behind one run of a TDosCommand, and the state the two share.
#pragma once

#include <QEvent>
#include <QThread>

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "console/DosCommand.h"

// One line to deliver: appended to CapturedLines, noted by the watchdog, then applied.
struct TDelivery {
    std::string line;
    TOutputType kind = otEntireLine;
    int returnCode = -1;     // OutputReturnCode to set first, -1 for none
    bool droppable = false;  // dropped with the rest when termination was asked for before it
    bool grows = false;      // a longer state of the unfinished line delivered just before it
};

// The longest piece of a line without line end that is gathered before it is delivered as a
// line of its own: a tool that never ends its lines must not make every read re-deliver all of
// its output.
constexpr size_t kMaxLinePiece = 64 * 1024;

// What a command and its worker share. The command holds it until its next Execute or its
// destruction, then severs it; the worker, the watchdog and pending hand-overs may hold it longer,
// so nothing here may point into a command that is gone.
struct TDosRun {
    TDosRun();
    ~TDosRun();
    TDosRun(const TDosRun&) = delete;
    TDosRun& operator=(const TDosRun&) = delete;

    // Ends a wait of the worker's poll loop (any thread).
    void Wake();
    bool HasTimeLimit() const { return maxTimeAfterBeginning > 0 || maxTimeAfterLastOutput > 0; }

    // Taken from the command when the worker is created.
    std::string commandLine;
    int32_t maxTimeAfterBeginning = 0;
    int32_t maxTimeAfterLastOutput = 0;
    TNewLineEvent onNewLine;
    TTerminateEvent onTerminated;
    int32_t priorityClass = 32;
    TShowWindow showWindow = swHIDE;
    TCreationFlag creationFlag = fCREATE_NEW_CONSOLE;
    TProcessTimer* watchdog = nullptr;  // the command's; only touched while linked

    // The command while it is linked. Written on the command's thread under linkMutex; the worker
    // reads it, and reaches the command, only under linkMutex, and never waits while holding it.
    std::mutex linkMutex;
    TDosCommand* command = nullptr;

    std::atomic<bool> terminate{false};
    std::atomic<bool> running{true};
    // The child has been reaped and its process group is empty (or no child was started).
    std::atomic<bool> childGone{false};
    int wakeFd = -1;
    int wakeError = 0;

    // The hand-over to the command's thread. The worker publishes a batch of deliveries (what one
    // read or one input entry delivers) with `posted` and waits; the command's thread delivers them
    // one after the other, in order, as the worker would have with one blocking hand-over each, and
    // answers with `applied`. `released` lets a waiting worker go when its command is severed.
    std::atomic<uint64_t> posted{0};
    std::atomic<uint64_t> applied{0};
    std::atomic<bool> released{false};
    std::atomic<bool> applyRequested{false};
    std::vector<TDelivery> batch;
    size_t batchNext = 0;  // the command's thread's progress through `batch`
    // Where a termination request made the command's thread stop inside `batch`: the rest of the
    // read is dropped, as the worker's walk would have stopped after the line before. -1: none.
    long droppedAt = -1;
    bool lineOpen = false;  // the last applied line was a beginning of line
};

// Applies every line the run's worker has handed over, on the command's thread.
void ApplyPendingLines(const std::shared_ptr<TDosRun>& run);

class TDosThread : public QThread {
  public:
    // Takes the settings and the input queue of `command`, links to it and starts at once.
    explicit TDosThread(TDosCommand* command, std::shared_ptr<TDosRun> run);
    ~TDosThread() override;

    // One delivery on the command's thread (see ApplyPendingLines).
    static void ApplyDelivery(TDosRun& run, TDosCommand& command, TDelivery& d);

    // Workers whose thread objects still exist (they free themselves on their command's thread).
    static int LiveCount();
    // Test hook: runs on each new worker before it looks at its termination request.
    static void SetStartHook(std::function<void()> hook);

  protected:
    void run() override;

  private:
    struct RunState;

    void RunRoutine(TDosRun& run);
    void Body(TDosRun& run, RunState& st);
    void Cleanup(TDosRun& run, RunState& st);
    void PollLoop(TDosRun& run, RunState& st);
    void OutputStep(TDosRun& run, RunState& st, size_t waiting);
    void Split(TDosRun& run, RunState& st, const char* bytes, size_t count);
    void InputStep(TDosRun& run, RunState& st);
    void WaitForEvent(TDosRun& run, RunState& st);
    // Hands the batch to the command's thread and waits until it has been delivered. Returns
    // where a termination request stopped it, or -1.
    long HandOver(TDosRun& run, std::vector<TDelivery>&& batch);
    void DeliverLine(TDosRun& run, const std::string& line, TOutputType kind);
    bool TimeLimitExceeded(TDosRun& run);
    void SetRunStatus(TDosRun& run, RunState& st, int status);

    static void StopAllAtExit();

    std::shared_ptr<TDosRun> run_;
};

// Data-less events the worker posts to its command (what they carry travels through TDosRun).
constexpr int kApplyLinesEvent = 1000 + 1;  // QEvent::User + 1
constexpr int kArmWatchdogEvent = 1000 + 2;
constexpr int kDisarmWatchdogEvent = 1000 + 3;

// Posts a data-less event of `type` to `receiver`; pair with AcceptEvent in the handler.
void PostEvent(QObject* receiver, int type);
// Makes the event's making visible to ThreadSanitizer on the receiving thread.
void AcceptEvent(QEvent* event);

// Makes sure worker errors can reach the main thread (called where commands are created).
void EnsureErrorRelay();

// Shows a worker's start failure on the main thread without waiting for it.
void ReportRunError(const std::string& message);
