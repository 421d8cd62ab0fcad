#include "console/DosThread.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <set>

#include "console/ChildProcess.h"
#include "console/ErrorRelay.h"
#include "console/HandOver.h"
#include "console/Tsan.h"

namespace {

using childprocess::kStillActive;
using Clock = std::chrono::steady_clock;

std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}

std::set<TDosThread*>& Registry() {
    static std::set<TDosThread*> workers;
    return workers;
}

std::mutex& HookMutex() {
    static std::mutex m;
    return m;
}

std::function<void()>& StartHook() {
    static std::function<void()> hook;
    return hook;
}

std::string ErrnoText(int error) {
    return std::strerror(error);
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

}  // namespace

struct TDosThread::RunState {
    TRunStatus status = rsPreparing;
    int lastError = 0;
    int inRead = -1, inWrite = -1, outRead = -1, outWrite = -1;
    bool pipesCreated = false;
    pid_t pid = -1;
    int pidFd = -1;
    uint32_t exitCode = kStillActive;
    std::vector<char> buffer;
    LineSplitter splitter;
    size_t inputOffset = 0;  // bytes of the first input entry already written
};

TDosThread::TDosThread(TDosCommand* command, std::shared_ptr<TDosRun> run) : run_(std::move(run)) {
    TDosRun& r = *run_;
    r.command = command;
    r.commandLine = command->commandLine_;
    {
        std::lock_guard<std::mutex> lock(command->inputMutex_);
        command->inputQueue_.clear();
    }
    r.onNewLine = command->onNewLine_;
    r.onTerminated = command->onTerminated_;
    r.watchdog = command->watchdog_;
    r.maxTimeAfterBeginning = command->maxTimeAfterBeginning_;
    r.maxTimeAfterLastOutput = command->maxTimeAfterLastOutput_;
    r.priorityClass = command->priorityClass_;
    r.showWindow = command->showWindow_;
    r.creationFlag = command->creationFlag_;
    r.lineOpen = false;
    r.running.store(true);

    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        static bool atExitRegistered = false;
        if (!atExitRegistered) {
            atExitRegistered = true;
            qAddPostRoutine(&TDosThread::StopAllAtExit);
        }
        Registry().insert(this);
    }
    // Frees itself on the command's thread once the body has returned.
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    start();
}

TDosThread::~TDosThread() {
    // The thread published everything before it ended; the edge runs through Qt's event queue.
    QUINTARO_TSAN_ACQUIRE(this);
    wait();
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry().erase(this);
}

int TDosThread::LiveCount() {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    return static_cast<int>(Registry().size());
}

void TDosThread::SetStartHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(HookMutex());
    StartHook() = std::move(hook);
}

// When the program ends, its workers are cut loose from the gone event loop and waited for, so
// that no child and no thread outlives it.
void TDosThread::StopAllAtExit() {
    std::vector<TDosThread*> workers;
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        workers.assign(Registry().begin(), Registry().end());
    }
    for (TDosThread* worker : workers) {
        TDosRun& run = *worker->run_;
        {
            std::lock_guard<std::mutex> lock(run.linkMutex);
            run.command = nullptr;
        }
        run.terminate.store(true);
        run.released.store(true);
        run.applied.fetch_add(1);
        run.applied.notify_all();
        run.Wake();
    }
    for (TDosThread* worker : workers) {
        if (worker->wait(5000)) {
            delete worker;
        }
    }
}

void TDosThread::run() {
    std::shared_ptr<TDosRun> run = run_;
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(HookMutex());
        hook = StartHook();
    }
    if (hook) {
        hook();
    }
    // Stopped before it began: no pipe, no child, no terminate event.
    if (run->terminate.load()) {
        run->childGone.store(true);
    } else {
        try {
            RunRoutine(*run);
        } catch (const TCreatePipeError& e) {
            ReportRunError(e.what());
        } catch (const TCreateProcessError& e) {
            ReportRunError(e.what());
        } catch (...) {
        }
    }
    QUINTARO_TSAN_RELEASE(this);
}

void TDosThread::RunRoutine(TDosRun& run) {
    RunState st;
    std::exception_ptr failure;
    try {
        Body(run, st);
    } catch (...) {
        if (st.lastError == 0) {
            st.lastError = errno;
        }
        failure = std::current_exception();
    }
    Cleanup(run, st);
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TDosThread::SetRunStatus(TDosRun& run, RunState& st, TRunStatus status) {
    st.status = status;
    WithCommand(run, [status](TDosCommand& c) { c.runStatus_.store(status); });
}

void TDosThread::Body(TDosRun& run, RunState& st) {
    SetRunStatus(run, st, rsPreparing);
    st.buffer.assign(1024, 0);

    SetRunStatus(run, st, rsCreatingPipes);
    if (run.wakeFd < 0) {
        st.lastError = run.wakeError;
        throw TCreatePipeError("Could not create a pipe: " + ErrnoText(st.lastError));
    }
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        st.lastError = errno;
        throw TCreatePipeError("Could not create a pipe: " + ErrnoText(st.lastError));
    }
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        st.lastError = errno;
        close(in[0]);
        close(in[1]);
        throw TCreatePipeError("Could not create a pipe: " + ErrnoText(st.lastError));
    }
    st.inRead = in[0];
    st.inWrite = in[1];
    st.outRead = out[0];
    st.outWrite = out[1];
    st.pipesCreated = true;
    // The worker must never block on a pipe: a stop has to be noticed within a pass.
    fcntl(st.inWrite, F_SETFL, fcntl(st.inWrite, F_GETFL) | O_NONBLOCK);
    fcntl(st.outRead, F_SETFL, fcntl(st.outRead, F_GETFL) | O_NONBLOCK);

    SetRunStatus(run, st, rsStartingChild);
    childprocess::StartResult started = childprocess::StartChild(
        childprocess::SplitCommandLine(run.commandLine), st.inRead, st.outWrite,
        childprocess::NiceForPriorityClass(run.priorityClass));
    if (started.pid < 0) {
        st.lastError = started.error;
        throw TCreateProcessError(run.commandLine);
    }
    st.pid = started.pid;
    st.pidFd = static_cast<int>(syscall(SYS_pidfd_open, st.pid, 0));

    // The counters restart here as well, so that this pass never sees the last run's seconds.
    WithCommand(run, [&run](TDosCommand& c) {
        run.watchdog->ResetCounters();
        PostEvent(&c, ArmWatchdogEvent());
    });
    st.exitCode = kStillActive;
    SetRunStatus(run, st, rsChildRunning);
    st.splitter.Reset();
    run.lineOpen = false;

    PollLoop(run, st);

    if (!st.splitter.Unfinished().empty()) {
        DeliverLine(run, st.splitter.Unfinished(), otBeginningOfLine);
    }
}

void TDosThread::PollLoop(TDosRun& run, RunState& st) {
    for (;;) {
        // The exit code comes before the peek, so the pass that sees the end reads everything the
        // child wrote. WNOWAIT leaves the child unreaped: its process group stays ours to kill.
        if (st.exitCode == kStillActive) {
            siginfo_t info{};
            if (waitid(P_PID, static_cast<id_t>(st.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid == st.pid) {
                st.exitCode = childprocess::ExitCodeFromChildInfo(info.si_code, info.si_status);
            }
        }
        int waiting = 0;
        if (ioctl(st.outRead, FIONREAD, &waiting) != 0) {
            waiting = 0;
        }
        if (waiting > 0) {
            OutputStep(run, st, static_cast<size_t>(waiting));
        } else {
            InputStep(run, st);
        }
        WaitForEvent(run, st);
        if (st.exitCode != kStillActive) {
            // The exit value first, so that whoever sees 8 also sees its exit code.
            const uint32_t code = st.exitCode;
            WithCommand(run, [code](TDosCommand& c) { c.exitValue_.store(code); });
            SetRunStatus(run, st, rsEnded);
            return;
        }
        if (run.terminate.load()) {
            SetRunStatus(run, st, rsStopped);
            return;
        }
        if (TimeLimitExceeded(run)) {
            SetRunStatus(run, st, rsTimedOut);
            return;
        }
    }
}

bool TDosThread::TimeLimitExceeded(TDosRun& run) {
    if (!run.HasTimeLimit()) {
        return false;
    }
    bool exceeded = false;
    WithCommand(run, [&](TDosCommand&) {
        exceeded = (run.maxTimeAfterBeginning > 0 &&
                    run.watchdog->SecondsSinceStart() > run.maxTimeAfterBeginning) ||
                   (run.maxTimeAfterLastOutput > 0 &&
                    run.watchdog->SecondsSinceOutput() > run.maxTimeAfterLastOutput);
    });
    return exceeded;
}

// Sleeps until something can change the outcome of the next pass: output, the child's end, a
// stop, a watchdog tick or queued input.
void TDosThread::WaitForEvent(TDosRun& run, RunState& st) {
    if (st.exitCode != kStillActive || run.terminate.load()) {
        return;
    }
    pollfd fds[4];
    nfds_t n = 0;
    fds[n++] = {st.outRead, POLLIN, 0};
    fds[n++] = {run.wakeFd, POLLIN, 0};
    if (st.pidFd >= 0) {
        fds[n++] = {st.pidFd, POLLIN, 0};
    }
    if (st.inputOffset > 0) {
        fds[n++] = {st.inWrite, POLLOUT, 0};  // the rest of a partly written input entry
    }
    // Without a process descriptor (old kernels) the end can only be polled for.
    const int timeout = st.pidFd >= 0 ? -1 : 1;
    if (poll(fds, n, timeout) > 0 && (fds[1].revents & POLLIN)) {
        uint64_t count;
        ssize_t ignored = read(run.wakeFd, &count, sizeof count);
        (void)ignored;
    }
}

void TDosThread::OutputStep(TDosRun& run, RunState& st, size_t waiting) {
    if (waiting > st.buffer.size()) {
        st.buffer.resize(waiting);
    }
    ssize_t got;
    do {
        got = read(st.outRead, st.buffer.data(), st.buffer.size());
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        Split(run, st, st.buffer.data(), static_cast<size_t>(got));
    }
}

void TDosThread::Split(TDosRun& run, RunState& st, const char* bytes, size_t count) {
    std::vector<TDelivery> batch = st.splitter.Split(std::string_view(bytes, count), [&run] {
        return !run.terminate.load(std::memory_order_relaxed);
    });
    if (!batch.empty() && HandOver(run, std::move(batch)) >= 0) {
        // Stopped right after a line end: nothing of the rest was gathered.
        st.splitter.SetUnfinished({});
    }
}

void TDosThread::InputStep(TDosRun& run, RunState& st) {
    while (!run.terminate.load()) {
        std::string entry;
        bool have = false;
        WithCommand(run, [&](TDosCommand& c) {
            std::lock_guard<std::mutex> lock(c.inputMutex_);
            if (!c.inputQueue_.empty()) {
                entry = c.inputQueue_.front();
                have = true;
            }
        });
        if (!have) {
            return;
        }
        while (st.inputOffset < entry.size()) {
            ssize_t put =
                write(st.inWrite, entry.data() + st.inputOffset, entry.size() - st.inputOffset);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                return;  // the child does not read: the rest goes when the pipe has room
            }
            st.inputOffset += static_cast<size_t>(put);
        }
        st.inputOffset = 0;
        bool echo = false;  // read live, once the entry is written
        WithCommand(run, [&](TDosCommand& c) { echo = c.inputToOutput_.load(); });
        if (echo) {
            st.splitter.SetUnfinished(run.lineOpen ? st.splitter.Unfinished() + entry : entry);
            if (!entry.empty() && entry.back() == '\n') {
                DeliverLine(run, st.splitter.Unfinished(), otEntireLine);
                st.splitter.SetUnfinished({});
            } else {
                DeliverLine(run, st.splitter.Unfinished(), otBeginningOfLine);
            }
        }
        WithCommand(run, [](TDosCommand& c) {
            std::lock_guard<std::mutex> lock(c.inputMutex_);
            if (!c.inputQueue_.empty()) {
                c.inputQueue_.pop_front();
            }
        });
    }
}

void TDosThread::DeliverLine(TDosRun& run, const std::string& line, TOutputType kind) {
    std::vector<TDelivery> batch;
    batch.push_back({line, kind, -1, false});
    HandOver(run, std::move(batch));
}

void TDosThread::Cleanup(TDosRun& run, RunState& st) {
    if (st.pid > 0) {
        // The whole group goes, also what a finished child left behind; the child is reaped only
        // now, so its process group id cannot have been reused.
        childprocess::KillProcessGroup(st.pid);
        PostToCommand(run, DisarmWatchdogEvent());
        int status;
        while (waitpid(st.pid, &status, 0) < 0 && errno == EINTR) {
        }
        // What the tool started may take a moment to die; whoever waits for this run must never
        // meet it, but a process that ignores SIGKILL (stuck in the kernel) is not waited for
        // forever.
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (!childprocess::ProcessGroupGone(st.pid) && Clock::now() < deadline) {
            childprocess::KillProcessGroup(st.pid);
            usleep(2000);
        }
        st.pid = -1;
        CloseFd(st.pidFd);
    }
    run.childGone.store(true);
    if (st.pipesCreated) {
        CloseFd(st.inRead);
        CloseFd(st.outWrite);
        CloseFd(st.outRead);
        CloseFd(st.inWrite);
    }
    st.buffer.clear();
    st.buffer.shrink_to_fit();

    // Final step.
    // Before the child started there is no exit code; the error code tells more.
    const uint32_t exitCode =
        st.status < rsChildRunning ? static_cast<uint32_t>(st.lastError) : st.exitCode;
    if (run.onTerminated) {
        // Called while linked, so that a command that is destroyed or restarted meanwhile is never
        // reached: its severing waits for the handler to return.
        WithCommand(run, [&](TDosCommand& c) {
            try {
                run.onTerminated(&c, exitCode);
            } catch (...) {
            }
        });
    }
    if (st.status == rsPreparing || st.status == rsCreatingPipes || st.status == rsStartingChild ||
        st.status == rsChildRunning) {
        // Each step's failure is the code after it.
        const auto failed = static_cast<TRunStatus>(st.status + 1);
        const uint32_t error = static_cast<uint32_t>(st.lastError);
        SetRunStatus(run, st, failed);
        WithCommand(run, [error](TDosCommand& c) { c.exitValue_.store(error); });
    }
    run.running.store(false);
}
