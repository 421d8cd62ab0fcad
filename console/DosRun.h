// What a command and the worker of one of its runs share.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "console/CommandEvents.h"
#include "console/DosCommand.h"
#include "console/LineSplitter.h"

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

// Runs `f` on the command while the run is linked to it; false once severed.
template <typename F>
bool WithCommand(TDosRun& run, F&& f) {
    std::lock_guard<std::mutex> lock(run.linkMutex);
    if (!run.command) {
        return false;
    }
    f(*run.command);
    return true;
}

// Posts an event to the command while the run is linked to it.
void PostToCommand(TDosRun& run, QEvent::Type type);
