#include <QCoreApplication>
#include <QThread>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "console/DosCommand.h"
#include "console/DosThread.h"

namespace {

using namespace std::chrono_literals;

const std::string kHelper = CONSOLE_HELPER;

std::string HelperLine(const std::string& actions) {
    return "\"" + kHelper + "\" " + actions;
}

// Pumps the event loop until `done` holds; the deadline is generous for a loaded CI machine.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Waits without handling any event of this thread.
bool WaitWithoutEvents(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Gone, or a zombie that only waits for its reaper.
bool ProcessGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return true;
    }
    const size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() &&
           (text[close + 2] == 'Z' || text[close + 2] == 'X');
}

// The number after `prefix` in the first captured line that starts with it, or -1.
pid_t NumberAfter(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const std::string& line : lines) {
        if (line.rfind(prefix, 0) == 0 && line.size() > prefix.size()) {
            return static_cast<pid_t>(std::stol(line.substr(prefix.size())));
        }
    }
    return -1;
}

// What the events of one command reported.
struct Recorder {
    std::vector<std::string> lines;  // OnNewLine, on the command's thread
    std::vector<TOutputType> kinds;
    bool linesOnOwnerThread = true;
    std::mutex mutex;  // OnTerminated comes from the worker
    int terminated = 0;
    uint32_t terminatedCode = 0;
    bool terminatedOnWorker = false;

    void Attach(TDosCommand& command) {
        QThread* owner = command.thread();
        command.SetOnNewLine([this, owner](TDosCommand*, std::string line, TOutputType kind) {
            linesOnOwnerThread = linesOnOwnerThread && QThread::currentThread() == owner;
            lines.push_back(line);
            kinds.push_back(kind);
        });
        command.SetOnTerminated([this, owner](TDosCommand*, uint32_t code) {
            std::lock_guard<std::mutex> lock(mutex);
            ++terminated;
            terminatedCode = code;
            terminatedOnWorker = QThread::currentThread() != owner;
        });
    }
    int Terminated() {
        std::lock_guard<std::mutex> lock(mutex);
        return terminated;
    }
};

class DosCommandTest : public testing::Test {
  protected:
    void TearDown() override {
        TDosThread::SetStartHook(nullptr);
        TDosCommand::SetErrorHandler(nullptr);
        // Every worker of the test has freed itself before the next test begins.
        EXPECT_TRUE(WaitUntil([] { return TDosThread::LiveCount() == 0; }));
    }

    static void RunToEnd(TDosCommand& command) {
        command.Execute();
        ASSERT_TRUE(WaitUntil([&] { return !command.IsRunning(); }));
    }
};

TEST_F(DosCommandTest, ConstructionDefaults) {
    TDosCommand command;
    EXPECT_EQ(command.CommandLine(), "");
    EXPECT_FALSE(command.OnNewLine());
    EXPECT_FALSE(command.OnTerminated());
    EXPECT_FALSE(command.InputToOutput());
    EXPECT_EQ(command.MaxTimeAfterBeginning(), 0);
    EXPECT_EQ(command.MaxTimeAfterLastOutput(), 0);
    EXPECT_EQ(command.ShowWindow(), swHIDE);
    EXPECT_EQ(command.CreationFlag(), fCREATE_NEW_CONSOLE);
    EXPECT_EQ(command.ReturnCode(), rcCRLF);
    EXPECT_EQ(command.OutputReturnCode(), rcCRLF);
    EXPECT_EQ(command.PriorityClass(), 32);
    EXPECT_EQ(command.RunStatus(), 0);
    EXPECT_EQ(command.ExitValue(), 0u);
    EXPECT_TRUE(command.CapturedLines().empty());
    EXPECT_TRUE(command.InputQueue().empty());
    EXPECT_EQ(command.DisplayLines(), nullptr);
    EXPECT_EQ(command.Watchdog(), nullptr);
    EXPECT_FALSE(command.IsRunning());
}

// ---------------------------------------------------------------------------------------------
// Splitting the output into lines.

struct SplitCase {
    const char* name;
    std::string actions;  // helper actions; each w: is a read of its own
    std::vector<std::string> captured;
    std::vector<TOutputType> kinds;
    std::vector<std::string> display;
    TReturnCode returnCode;
    // What the line handler got, when it differs from what was captured (a growing unfinished
    // line is one captured entry but a delivery per read).
    std::vector<std::string> handled = {};
    std::vector<TOutputType> handledKinds = {};
};

class SplitTest : public DosCommandTest, public testing::WithParamInterface<SplitCase> {};

TEST_P(SplitTest, DeliversLinesAsSplit) {
    const SplitCase& c = GetParam();
    TDosCommand command;
    Recorder rec;
    rec.Attach(command);
    std::vector<std::string> display;
    command.SetDisplayLines(&display);
    command.SetCommandLine(HelperLine(c.actions));
    RunToEnd(command);
    EXPECT_EQ(command.RunStatus(), 8);
    EXPECT_EQ(command.CapturedLinesSnapshot(), c.captured);
    EXPECT_EQ(command.CapturedKinds(), c.kinds);
    EXPECT_EQ(rec.lines, c.handled.empty() ? c.captured : c.handled);
    EXPECT_EQ(rec.kinds, c.handledKinds.empty() ? c.kinds : c.handledKinds);
    EXPECT_TRUE(rec.linesOnOwnerThread);
    EXPECT_EQ(display, c.display);
    EXPECT_EQ(command.OutputReturnCode(), c.returnCode);
}

constexpr TOutputType E = otEntireLine;
constexpr TOutputType B = otBeginningOfLine;

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitTest,
    testing::Values(
        SplitCase{"CrLfInOneRead", "w:a\\r\\nb\\r\\n", {"a", "b"}, {E, E}, {"a", "b"}, rcCRLF},
        // The CR ends the line at once; the LF that starts the next read is skipped.
        SplitCase{"CrLfSplitAcrossReads", "w:a\\r w:\\n", {"a"}, {E}, {"a"}, rcLF},
        SplitCase{
            "LfLaterInNextReadStillEnds", "w:a\\r w:\\nb\\n", {"a", "b"}, {E, E}, {"a", "b"}, rcLF},
        SplitCase{"SecondLfAfterSplitPair", "w:a\\r w:\\n\\n", {"a", ""}, {E, E}, {"a", ""}, rcLF},
        SplitCase{"LoneCrEndsLine", "w:10%\\r20%\\r", {"10%", "20%"}, {E, E}, {"10%", "20%"}, rcLF},
        SplitCase{"TwoLfsGiveEmptyLine",
                  "w:a\\n\\nb\\n",
                  {"a", "", "b"},
                  {E, E, E},
                  {"a", "", "b"},
                  rcLF},
        SplitCase{"NulBytesDropped", "w:\\0a\\0b\\n\\0", {"ab"}, {E}, {"ab"}, rcLF},
        SplitCase{
            "UnfinishedThenCompleted", "w:ab w:cd\\n", {"ab", "abcd"}, {B, E}, {"abcd"}, rcLF},
        SplitCase{"UnfinishedLastLineDeliveredTwice",
                  "w:x\\n w:tail",
                  {"x", "tail", "tail"},
                  {E, B, B},
                  {"x", "tail"},
                  rcLF},
        SplitCase{"UnfinishedGrowsInItsOneEntry",
                  "w:ab w:cd w:ef\\n",
                  {"abcd", "abcdef"},
                  {B, E},
                  {"abcdef"},
                  rcLF,
                  {"ab", "abcd", "abcdef"},
                  {B, B, E}},
        SplitCase{"GrowingLineAfterACompleteOne",
                  "w:a\\nb w:c w:d",
                  {"a", "bcd", "bcd"},
                  {E, B, B},
                  {"a", "bcd"},
                  rcLF,
                  {"a", "b", "bc", "bcd", "bcd"},
                  {E, B, B, B, B}},
        // More than the first buffer's 1024 bytes arrive in one read: one delivery, not four.
        SplitCase{"BurstReadInOnePiece",
                  "c:3000",
                  {std::string(3000, 'x'), std::string(3000, 'x')},
                  {B, B},
                  {std::string(3000, 'x')},
                  rcCRLF}),
    [](const testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// How runs end.

TEST_F(DosCommandTest, LongOutputWithoutLineEndsIsCutAndCapturedOnce) {
    // About 1 MiB in 250 reads, and 200,000 bytes in as few reads as the pipe allows.
    struct Case {
        std::string actions;
        size_t bytes;
    } cases[] = {{"u:250:4100", 250 * 4100}, {"c:200000", 200000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.actions);
        TDosCommand command;
        command.SetCommandLine(HelperLine(c.actions));
        RunToEnd(command);
        const std::vector<std::string> lines = command.CapturedLinesSnapshot();
        const std::vector<TOutputType> kinds = command.CapturedKinds();
        ASSERT_EQ(lines.size(), kinds.size());
        ASSERT_FALSE(lines.empty());
        size_t captured = 0, complete = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_LE(lines[i].size(), kMaxLinePiece);
            captured += lines[i].size();
            if (kinds[i] == otEntireLine) {
                EXPECT_EQ(lines[i].size(), kMaxLinePiece);
                complete += lines[i].size();
            }
        }
        // Every byte is in a piece that was cut off, or in the unfinished rest at the end.
        const size_t rest = c.bytes % kMaxLinePiece;
        EXPECT_EQ(complete, c.bytes - rest);
        EXPECT_EQ(lines.back().size(), rest);
        EXPECT_EQ(lines.back().find_first_not_of('x'), std::string::npos);
        EXPECT_EQ(kinds.back(), otBeginningOfLine);
        // Each piece at most twice (its growing entry, then its cut), never once per read.
        EXPECT_LE(captured, 2 * c.bytes + kMaxLinePiece);
    }
}

TEST_F(DosCommandTest, ExitCodesOfChildrenThatEndByThemselves) {
    struct Case {
        std::string actions;
        uint32_t exitValue;
    } cases[] = {
        {"x:0", 0},         {"x:3", 3}, {"x:-2", 0xFFFFFFFEu}, {"x:255", 0xFFFFFFFFu},
        {"k:15", 128 + 15},  // killed by someone else than the runner
    };
    for (const Case& c : cases) {
        TDosCommand command;
        Recorder rec;
        rec.Attach(command);
        command.SetCommandLine(HelperLine(c.actions));
        RunToEnd(command);
        EXPECT_EQ(command.RunStatus(), 8) << c.actions;
        EXPECT_EQ(command.ExitValue(), c.exitValue) << c.actions;
        EXPECT_EQ(rec.Terminated(), 1) << c.actions;
        EXPECT_EQ(rec.terminatedCode, c.exitValue) << c.actions;
        EXPECT_TRUE(rec.terminatedOnWorker);
    }
}

TEST_F(DosCommandTest, LetterWithoutLineEndAndExitCode3) {
    TDosCommand command;
    command.SetCommandLine(HelperLine("w:a x:3"));
    RunToEnd(command);
    EXPECT_EQ(command.CapturedLinesSnapshot(), (std::vector<std::string>{"a", "a"}));
    EXPECT_EQ(command.ExitValue(), 3u);
    EXPECT_EQ(command.RunStatus(), 8);
    EXPECT_EQ(static_cast<int32_t>(command.ExitValue()), 3);
}

TEST_F(DosCommandTest, ChildGetsItsOwnGroupQuietStdinNoOtherDescriptorsAndNice) {
    errno = 0;
    const int ownNice = getpriority(PRIO_PROCESS, 0);
    struct Case {
        int32_t priorityClass;
        int nice;
    } cases[] = {{32, ownNice}, {64, 19}};
    // A stray descriptor without close-on-exec must not reach the child.
    const int stray = open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 0);
    for (const Case& c : cases) {
        TDosCommand command;
        command.SetPriorityClass(c.priorityClass);
        command.SetCommandLine(HelperLine("e"));
        RunToEnd(command);
        EXPECT_EQ(command.CapturedLinesSnapshot(),
                  (std::vector<std::string>{"pgid=1 nice=" + std::to_string(c.nice) +
                                            " fds=0,1,2 stdin=quiet"}));
    }
    close(stray);
}

TEST_F(DosCommandTest, EmptyCommandLineDoesNothing) {
    TDosCommand command;
    command.SetCommandLine(HelperLine("w:one\\n x:3"));
    RunToEnd(command);
    ASSERT_EQ(command.RunStatus(), 8);
    ASSERT_TRUE(WaitUntil([] { return TDosThread::LiveCount() == 0; }));

    command.SetCommandLine("");
    command.Execute();
    EXPECT_FALSE(command.IsRunning());
    EXPECT_EQ(TDosThread::LiveCount(), 0);
    EXPECT_EQ(command.CapturedLinesSnapshot(), (std::vector<std::string>{"one"}));
    EXPECT_EQ(command.RunStatus(), 8);
    EXPECT_EQ(command.ExitValue(), 3u);
}

TEST_F(DosCommandTest, ProgramThatCannotStart) {
    const std::string notExecutable = testing::TempDir() + "quintaro-not-executable";
    { std::ofstream(notExecutable) << "plain text\n"; }
    chmod(notExecutable.c_str(), 0644);
    struct Case {
        std::string line;
        uint32_t error;
    } cases[] = {
        {"/nonexistent/quintaro-tool -i \"in put.avi\"", ENOENT},
        {"quintaro-no-such-tool arg", ENOENT},
        {"\"" + notExecutable + "\" arg", EACCES},
        {"  ", ENOENT},
    };
    std::vector<std::string> messages;
    bool onMainThread = true;
    TDosCommand::SetErrorHandler([&](const std::string& message) {
        onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
        messages.push_back(message);
    });
    for (const Case& c : cases) {
        TDosCommand command;
        Recorder rec;
        rec.Attach(command);
        command.SetCommandLine(c.line);
        RunToEnd(command);
        EXPECT_EQ(command.RunStatus(), 5) << c.line;
        EXPECT_EQ(command.ExitValue(), c.error) << c.line;
        EXPECT_TRUE(command.CapturedLinesSnapshot().empty());
        EXPECT_EQ(rec.Terminated(), 1);
        ASSERT_TRUE(WaitUntil([&] { return !messages.empty(); })) << c.line;
        EXPECT_EQ(messages.back(), c.line + " doesn't exist.");
        messages.clear();
    }
    EXPECT_TRUE(onMainThread);
    unlink(notExecutable.c_str());
}

TEST_F(DosCommandTest, PipeThatCannotBeCreated) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer runtime needs descriptors of its own for its checks.
    GTEST_SKIP() << "descriptors cannot be exhausted under AddressSanitizer";
#endif
    {
        // A first run, so that nothing of the worker's code path is set up for the first time
        // (sanitizer type checks need descriptors of their own) while descriptors are exhausted.
        TDosCommand warmUp;
        warmUp.SetCommandLine(HelperLine("x:0"));
        RunToEnd(warmUp);
        ASSERT_TRUE(WaitUntil([] { return TDosThread::LiveCount() == 0; }));
    }
    std::binary_semaphore arrived(0);
    std::binary_semaphore gate(0);
    TDosThread::SetStartHook([&] {
        arrived.release();
        gate.acquire();
    });
    std::vector<std::string> messages;
    TDosCommand::SetErrorHandler([&](const std::string& m) { messages.push_back(m); });

    TDosCommand command;
    command.SetCommandLine(HelperLine("x:0"));
    command.Execute();
    // The worker's thread is fully set up (Qt gives it an event dispatcher) before the
    // descriptors run out.
    ASSERT_TRUE(arrived.try_acquire_for(30s));

    rlimit original{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
    rlimit lowered = original;
    lowered.rlim_cur = std::min<rlim_t>(original.rlim_cur, 1024);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<int> fillers;
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        fillers.push_back(fd);
    }
    gate.release();
    const bool ended = WaitWithoutEvents([&] { return !command.IsRunning(); });
    for (int fd : fillers) {
        close(fd);
    }
    setrlimit(RLIMIT_NOFILE, &original);

    ASSERT_TRUE(ended);
    EXPECT_EQ(command.RunStatus(), 3);
    EXPECT_EQ(command.ExitValue(), static_cast<uint32_t>(EMFILE));
    ASSERT_TRUE(WaitUntil([&] { return !messages.empty(); }));
    EXPECT_EQ(messages[0].rfind("Could not create a pipe: ", 0), 0u) << messages[0];
    EXPECT_EQ(messages[0].back(), '.');
}

// ---------------------------------------------------------------------------------------------
// Stop, restart and destruction.

TEST_F(DosCommandTest, StopBeforeTheWorkerBegins) {
    TDosCommand command;
    command.SetCommandLine(HelperLine("w:old\\n x:3"));
    RunToEnd(command);
    ASSERT_EQ(command.RunStatus(), 8);

    const std::string marker = testing::TempDir() + "quintaro-started-" + std::to_string(getpid());
    unlink(marker.c_str());
    std::binary_semaphore gate(0);
    TDosThread::SetStartHook([&] { gate.acquire(); });
    Recorder rec;
    rec.Attach(command);
    command.SetCommandLine(HelperLine("f:" + marker));
    command.Execute();
    command.Stop();
    EXPECT_FALSE(command.IsRunning());
    gate.release();
    ASSERT_TRUE(WaitUntil([] { return TDosThread::LiveCount() == 0; }));

    EXPECT_NE(access(marker.c_str(), F_OK), 0) << "the child was started";
    EXPECT_EQ(rec.Terminated(), 0);
    EXPECT_EQ(command.RunStatus(), 8);
    EXPECT_EQ(command.ExitValue(), 3u);
    EXPECT_TRUE(command.CapturedLinesSnapshot().empty());
}

TEST_F(DosCommandTest, StopWhileRunningKillsTheWholeGroup) {
    TDosCommand command;
    Recorder rec;
    rec.Attach(command);
    command.SetCommandLine(HelperLine("g p s:60000"));
    command.Execute();
    ASSERT_TRUE(WaitUntil([&] { return command.CapturedLinesSnapshot().size() == 2; }));
    const pid_t grandchild = NumberAfter(command.CapturedLinesSnapshot(), "grandchild ");
    const pid_t child = NumberAfter(command.CapturedLinesSnapshot(), "pid ");
    ASSERT_GT(grandchild, 0);
    ASSERT_GT(child, 0);
    ASSERT_TRUE(command.IsRunning());

    command.Stop();
    EXPECT_FALSE(command.IsRunning());
    EXPECT_EQ(command.ExitValue(), 0u);
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(child) && ProcessGone(grandchild); }));
    EXPECT_TRUE(WaitUntil([&] { return rec.Terminated() == 1; }));
    EXPECT_EQ(rec.terminatedCode, 259u);
    EXPECT_EQ(command.RunStatus(), 9);
    EXPECT_EQ(command.ExitValue(), 0u);
    EXPECT_FALSE(command.IsRunning());
}

TEST_F(DosCommandTest, ChildGoneOnlyWhenNothingOfTheGroupIsLeft) {
    // Stopped, and ended by itself with a helper of its own still running.
    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "stopped" : "ended by itself");
        TDosCommand command;
        EXPECT_EQ(command.ChildGone(), nullptr);
        command.SetCommandLine(HelperLine(stop ? "g p s:60000" : "g p w:ready x:0"));
        command.Execute();
        const std::shared_ptr<const std::atomic<bool>> gone = command.ChildGone();
        ASSERT_NE(gone, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return command.CapturedLinesSnapshot().size() >= 2; }));
        const pid_t grandchild = NumberAfter(command.CapturedLinesSnapshot(), "grandchild ");
        const pid_t child = NumberAfter(command.CapturedLinesSnapshot(), "pid ");
        ASSERT_GT(grandchild, 0);
        ASSERT_GT(child, 0);
        if (stop) {
            EXPECT_FALSE(gone->load());
            command.Stop();
            ASSERT_TRUE(WaitUntil([&] { return gone->load(); }));
        } else {
            ASSERT_TRUE(WaitUntil([&] { return !command.IsRunning(); }));
            EXPECT_TRUE(gone->load());
        }
        EXPECT_TRUE(ProcessGone(child));
        EXPECT_TRUE(ProcessGone(grandchild));
    }
}

TEST_F(DosCommandTest, ExecuteWhileRunningDetachesTheOldWorkerAndReusesTheWatchdog) {
    TDosCommand command;
    Recorder rec;
    rec.Attach(command);
    command.SetCommandLine(HelperLine("p s:60000"));
    command.Execute();
    ASSERT_TRUE(WaitUntil([&] { return !command.CapturedLinesSnapshot().empty(); }));
    const pid_t first = NumberAfter(command.CapturedLinesSnapshot(), "pid ");
    TProcessTimer* watchdog = command.Watchdog();
    ASSERT_NE(watchdog, nullptr);

    command.SetCommandLine(HelperLine("w:second\\n x:4"));
    command.Execute();
    EXPECT_TRUE(command.IsRunning());
    ASSERT_TRUE(WaitUntil([&] { return !command.IsRunning(); }));
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(first); }));
    EXPECT_EQ(command.CapturedLinesSnapshot(), (std::vector<std::string>{"second"}));
    EXPECT_EQ(command.RunStatus(), 8);
    EXPECT_EQ(command.ExitValue(), 4u);
    EXPECT_EQ(command.Watchdog(), watchdog);
    EXPECT_EQ(command.findChildren<TProcessTimer*>().size(), 1);
    // The old worker was cut off: only the new run ended on this command.
    ASSERT_TRUE(WaitUntil([] { return TDosThread::LiveCount() == 0; }));
    EXPECT_EQ(rec.Terminated(), 1);
    EXPECT_EQ(rec.terminatedCode, 4u);
}

TEST_F(DosCommandTest, DestroyedWhileItsWorkerStillDelivers) {
    struct Case {
        const char* name;
        bool stopFirst;
    } cases[] = {{"after Stop", true}, {"without Stop", false}};
    for (const Case& c : cases) {
        auto* command = new TDosCommand;
        int delivered = 0;
        command->SetOnNewLine([&](TDosCommand*, std::string, TOutputType) { ++delivered; });
        command->SetCommandLine(HelperLine("p y"));
        command->Execute();
        ASSERT_TRUE(WaitUntil([&] { return delivered > 200; })) << c.name;
        const pid_t child = NumberAfter(command->CapturedLinesSnapshot(), "pid ");
        if (c.stopFirst) {
            command->Stop();
        }
        delete command;
        const int seen = delivered;
        EXPECT_TRUE(WaitUntil([&] { return ProcessGone(child); })) << c.name;
        EXPECT_TRUE(WaitUntil([] { return TDosThread::LiveCount() == 0; })) << c.name;
        EXPECT_EQ(delivered, seen) << c.name;
    }
}

TEST_F(DosCommandTest, DestroyedWhileItsWorkerWaitsOnAThreadThatDoesNotPump) {
    const std::string pidFile = testing::TempDir() + "quintaro-flood-" + std::to_string(getpid());
    unlink(pidFile.c_str());
    auto* command = new TDosCommand;
    command->SetCommandLine(HelperLine("f:" + pidFile + " y"));
    command->Execute();
    // No events are handled here, so the worker is stuck handing over its first lines.
    pid_t child = -1;
    ASSERT_TRUE(WaitWithoutEvents([&] {
        std::ifstream in(pidFile);
        return static_cast<bool>(in >> child);
    }));
    delete command;
    // Released by the destruction, the worker kills the child while this thread still sleeps.
    EXPECT_TRUE(WaitWithoutEvents([&] { return ProcessGone(child); }));
    unlink(pidFile.c_str());
}

TEST_F(DosCommandTest, StopCalledFromTheLineHandler) {
    TDosCommand command;
    int seen = 0;
    command.SetOnNewLine([&](TDosCommand* sender, std::string, TOutputType) {
        if (++seen == 3) {
            sender->Stop();
        }
    });
    command.SetCommandLine(HelperLine("p y"));
    command.Execute();
    ASSERT_TRUE(WaitUntil([&] { return !command.IsRunning(); }));
    const pid_t child = NumberAfter(command.CapturedLinesSnapshot(), "pid ");
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(child) && command.RunStatus() == 9; }));
    ASSERT_TRUE(WaitUntil([] { return TDosThread::LiveCount() == 0; }));
    // The rest of the read that held the third line was dropped (the child writes whole lines).
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(command.CapturedLinesSnapshot().size(), 3u);
}

TEST_F(DosCommandTest, FinishedCommandCanRunAgain) {
    TDosCommand command;
    command.SetCommandLine(HelperLine("w:1\\n x:1"));
    RunToEnd(command);
    ASSERT_TRUE(WaitUntil([] { return TDosThread::LiveCount() == 0; }));
    command.Stop();  // the worker has freed itself: nothing to reach
    command.SetCommandLine(HelperLine("w:2\\n x:2"));
    RunToEnd(command);
    EXPECT_EQ(command.CapturedLinesSnapshot(), (std::vector<std::string>{"2"}));
    EXPECT_EQ(command.ExitValue(), 2u);
}

TEST_F(DosCommandTest, ChildDoesNotOutliveTheProgram) {
    // The program under test runs a child through its own command; it is started through one too
    // (QProcess would start it in a way that ThreadSanitizer loses track of).
    TDosCommand program;
    program.SetCommandLine("\"" ORPHAN_DRIVER "\" \"" + kHelper + "\"");
    program.Execute();
    ASSERT_TRUE(
        WaitUntil([&] { return NumberAfter(program.CapturedLinesSnapshot(), "pid ") > 0; }));
    const pid_t driver = NumberAfter(program.CapturedLinesSnapshot(), "driver ");
    const pid_t child = NumberAfter(program.CapturedLinesSnapshot(), "pid ");
    ASSERT_GT(driver, 0);
    ASSERT_FALSE(ProcessGone(child));
    kill(driver, SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return !program.IsRunning(); }));
    EXPECT_EQ(program.RunStatus(), 8);
    EXPECT_EQ(program.ExitValue(), 128u + SIGKILL);
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(child); }));
}

// ---------------------------------------------------------------------------------------------
// Time limits.

TEST_F(DosCommandTest, TimeLimitsEndTheRunAfterNPlusOneTicks) {
    struct Case {
        const char* name;
        int32_t afterBeginning;
        int32_t afterLastOutput;
        std::string actions;
        int runStatus;
    } cases[] = {
        {"after beginning", 1, 0, "p s:60000", 10},
        {"after last output", 0, 1, "p s:60000", 10},
        {"zero means none", 0, -1, "p s:3000", 8},
        {"negative means none", -1, 0, "p s:3000", 8},
    };
    // All at once, so that the test lasts as long as its slowest case.
    std::vector<std::unique_ptr<TDosCommand>> commands;
    std::vector<std::unique_ptr<Recorder>> recorders;
    for (const Case& c : cases) {
        commands.push_back(std::make_unique<TDosCommand>());
        recorders.push_back(std::make_unique<Recorder>());
        recorders.back()->Attach(*commands.back());
        commands.back()->SetMaxTimeAfterBeginning(c.afterBeginning);
        commands.back()->SetMaxTimeAfterLastOutput(c.afterLastOutput);
        commands.back()->SetCommandLine(HelperLine(c.actions));
        commands.back()->Execute();
    }
    for (size_t i = 0; i < commands.size(); ++i) {
        const Case& c = cases[i];
        TDosCommand& command = *commands[i];
        ASSERT_TRUE(WaitUntil([&] { return !command.IsRunning(); })) << c.name;
        EXPECT_EQ(command.RunStatus(), c.runStatus) << c.name;
        EXPECT_EQ(command.ExitValue(), 0u) << c.name;
        if (c.runStatus == 10) {
            const int32_t counted = c.afterBeginning > 0 ? command.Watchdog()->SecondsSinceStart()
                                                         : command.Watchdog()->SecondsSinceOutput();
            EXPECT_EQ(counted, 2) << c.name;
            EXPECT_EQ(recorders[i]->terminatedCode, 259u) << c.name;
            const pid_t child = NumberAfter(command.CapturedLinesSnapshot(), "pid ");
            EXPECT_TRUE(WaitUntil([&] { return ProcessGone(child); })) << c.name;
        } else {
            // It ticked, and a limit of 0 would have ended the run at the first tick.
            EXPECT_GE(command.Watchdog()->SecondsSinceStart(), 1) << c.name;
        }
        // Disarmed by the worker's clean-up, through the command's event queue.
        EXPECT_TRUE(WaitUntil([&] { return !command.Watchdog()->isActive(); })) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// Input.

TEST_F(DosCommandTest, QueuedInputReachesTheChildAndIsEchoed) {
    TDosCommand command;
    Recorder rec;
    rec.Attach(command);
    // Execute empties the queue: this entry never reaches the child.
    command.InputQueue().push_back("left over from before");
    command.SetInputToOutput(true);
    command.SetCommandLine(HelperLine("r"));
    command.Execute();
    command.AddInput("hello\n");
    ASSERT_TRUE(WaitUntil([&] { return !command.IsRunning(); }));
    EXPECT_EQ(command.CapturedLinesSnapshot(), (std::vector<std::string>{"hello\n", "got hello"}));
    EXPECT_EQ(rec.kinds, (std::vector<TOutputType>{otEntireLine, otEntireLine}));
}

}  // namespace
