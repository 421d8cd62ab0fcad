// The worker behind one run of a TDosCommand: it starts the child, reads its output, hands the
// lines over, writes queued input, keeps the time limits and ends the child.
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
#include "console/DosRun.h"

class TDosThread : public QThread {
  public:
    // Takes the settings and the input queue of `command`, links to it and starts at once.
    explicit TDosThread(TDosCommand* command, std::shared_ptr<TDosRun> run);
    ~TDosThread() override;

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
    void DeliverLine(TDosRun& run, const std::string& line, TOutputType kind);
    bool TimeLimitExceeded(TDosRun& run);
    void SetRunStatus(TDosRun& run, RunState& st, TRunStatus status);

    static void StopAllAtExit();

    std::shared_ptr<TDosRun> run_;
};
