// Stopping an adapter leaves none of its tools running. The program stops a tool by killing its
// whole process group; a tool must also not outlive an adapter that dies alone.
// A named pipe without a writer keeps the real tool waiting, so each adapter is caught with its
// tool running.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>

#include <string>
#include <vector>

#include "tests/tools/ToolTestSupport.h"

namespace {

using tooltest::Slot;
using tooltest::TempDir;

enum class Stop { KillGroup, KillAdapterOnly, TerminateAdapter };

struct StopCase {
    std::string name;
    Stop how;
    std::string tool;  // the real tool the adapter runs while it waits for the pipe
    std::vector<std::string> argv;
};

class SlotStop : public ::testing::TestWithParam<StopCase> {};

TEST_P(SlotStop, LeavesNoToolRunning) {
    const StopCase& c = GetParam();
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    std::vector<std::string> argv;
    for (std::string word : c.argv) {
        if (word.starts_with("{dir}")) {
            word = dir.path() + word.substr(5);
        }
        argv.push_back(word);
    }
    if (c.tool == "ffmpeg" && argv[0] == Slot("MP4Box.exe")) {
        // The video must be real for mkvmerge; ffmpeg then waits for the audio pipe.
        const tooltest::RunResult made = tooltest::Run(
            {"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
             "testsrc=size=64x48:duration=0.2", "-c:v", "libx264", "-f", "h264", dir / "v.264"});
        ASSERT_EQ(made.exitCode, 0) << made.output;
    }

    const pid_t adapter = tooltest::StartInOwnGroup(argv);
    pid_t tool = 0;
    const bool started = tooltest::WaitFor([&] {
        for (pid_t child : tooltest::ChildrenOf(adapter)) {
            // Caught only once it sleeps on the pipe: a tool killed while it still writes its
            // banner dies of the broken pipe anyway, whatever the adapter did.
            if (tooltest::CommandName(child) == c.tool && tooltest::WaitsForPipePartner(child)) {
                tool = child;
                return true;
            }
        }
        return false;
    });
    if (!started) {
        kill(-adapter, SIGKILL);
        waitpid(adapter, nullptr, 0);
        FAIL() << c.tool << " never started";
    }

    int status = 0;
    const auto adapterEnded = [&] {
        if (tooltest::WaitFor([&] { return waitpid(adapter, &status, WNOHANG) == adapter; })) {
            return true;
        }
        kill(-adapter, SIGKILL);
        waitpid(adapter, &status, 0);
        return false;
    };
    switch (c.how) {
        case Stop::KillGroup:
            ASSERT_EQ(kill(-adapter, SIGKILL), 0);
            ASSERT_TRUE(adapterEnded());
            break;
        case Stop::KillAdapterOnly:
            ASSERT_EQ(kill(adapter, SIGKILL), 0);
            ASSERT_TRUE(adapterEnded());
            break;
        case Stop::TerminateAdapter:
            ASSERT_EQ(kill(adapter, SIGTERM), 0);
            ASSERT_TRUE(adapterEnded()) << "the adapter did not end on SIGTERM";
            // Its tool gone, it ends of the signal it was sent.
            EXPECT_TRUE(WIFSIGNALED(status)) << status;
            EXPECT_EQ(WTERMSIG(status), SIGTERM);
            break;
    }
    EXPECT_TRUE(tooltest::WaitFor([&] { return tooltest::IsGone(tool); }))
        << c.tool << " " << tool << " outlived its adapter";
    if (!tooltest::WaitFor([&] { return tooltest::ProcessesInGroup(adapter).empty(); })) {
        ADD_FAILURE() << "processes left in the adapter's group";
        kill(-adapter, SIGKILL);
    }
    if (!tooltest::IsGone(tool)) {
        kill(tool, SIGKILL);  // never leave a stray tool behind, even when the test fails
    }
    // Nothing of the aborted run is left where the output would have gone.
    EXPECT_FALSE(std::filesystem::exists(dir / "out.mp4"));
}

const std::vector<std::string> kMencoderOnPipe = {Slot("mencoder.exe"),
                                                  "{dir}/pipe",
                                                  "-mc",
                                                  "0",
                                                  "-of",
                                                  "rawvideo",
                                                  "-ovc",
                                                  "x264",
                                                  "-oac",
                                                  "pcm",
                                                  "-o",
                                                  "{dir}/video.264",
                                                  "-x264encopts",
                                                  "bitrate=268:pass=1",
                                                  "-vf",
                                                  "harddup"};
const std::vector<std::string> kAacOnPipe = {Slot("enhAacPlusEnc.exe"), "{dir}/pipe",
                                             "{dir}/out.mp4", "--cbr", "32000"};
const std::vector<std::string> kMp4BoxOnPipe = {Slot("MP4Box.exe"), "-tmp", "{dir}",     "-add",
                                                "{dir}/v.264",      "-fps", "25",        "-new",
                                                "{dir}/out.mp4",    "-add", "{dir}/pipe"};
const std::vector<std::string> kMkvmergeOnPipe = {Slot("mkv/mkvmerge.exe"), "{dir}/pipe", "-o",
                                                  "{dir}/out.mp4"};

INSTANTIATE_TEST_SUITE_P(
    Slots, SlotStop,
    ::testing::Values(
        StopCase{"MencoderGroupKilled", Stop::KillGroup, "ffprobe", kMencoderOnPipe},
        StopCase{"MencoderAdapterKilled", Stop::KillAdapterOnly, "ffprobe", kMencoderOnPipe},
        StopCase{"MencoderAdapterTerminated", Stop::TerminateAdapter, "ffprobe", kMencoderOnPipe},
        StopCase{"Mp4BoxGroupKilled", Stop::KillGroup, "ffmpeg", kMp4BoxOnPipe},
        StopCase{"MkvmergeGroupKilled", Stop::KillGroup, "mkvmerge", kMkvmergeOnPipe},
        StopCase{"MkvmergeAdapterTerminated", Stop::TerminateAdapter, "mkvmerge", kMkvmergeOnPipe},
        StopCase{"Mp4BoxAdapterTerminated", Stop::TerminateAdapter, "ffmpeg", kMp4BoxOnPipe}),
    [](const auto& info) { return info.param.name; });

#ifndef QUINTARO_FDK_AAC
// Built without the Fraunhofer library, the HE-AAC slot runs ffmpeg; with it, it runs no tool
// (its stops are tested with the encoder).
INSTANTIATE_TEST_SUITE_P(
    AacSlot, SlotStop,
    ::testing::Values(StopCase{"AacGroupKilled", Stop::KillGroup, "ffmpeg", kAacOnPipe},
                      StopCase{"AacAdapterKilled", Stop::KillAdapterOnly, "ffmpeg", kAacOnPipe}),
    [](const auto& info) { return info.param.name; });
#endif

}  // namespace
