// The slots that run a tool as it is and then check what it wrote (mkvmerge, mplayer): what fails
// leaves nothing behind and says why.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/tools/ToolTestSupport.h"

namespace {

namespace fs = std::filesystem;
using tooltest::Clip;
using tooltest::LastLine;
using tooltest::RunResult;
using tooltest::Slot;
using tooltest::TempDir;

TEST(MkvmergeSlot, WritesMatroskaThatHoldsWhatTheSourceHeld) {
    TempDir dir;
    const std::string target = dir / "clip.mkv.part";
    const RunResult merged = tooltest::Run({Slot("mkv/mkvmerge.exe"), Clip("mp4"), "-o", target});
    ASSERT_EQ(merged.exitCode, 0) << merged.output;
    const tooltest::MediaInfo in = tooltest::Probe(Clip("mp4"));
    const tooltest::MediaInfo out = tooltest::Probe(target);
    EXPECT_EQ(out.videoCodec, "h264");
    EXPECT_EQ(out.audioCodec, in.audioCodec);
    EXPECT_NEAR(out.duration, in.duration, 0.05);
}

TEST(MkvmergeSlot, FailuresSayWhyAndLeaveNoTarget) {
    TempDir dir;
    struct Case {
        const char* name;
        std::vector<std::string> argv;
        int exitCode;
        std::string lastLine;
    };
    const Case cases[] = {
        {"source missing",
         {Slot("mkv/mkvmerge.exe"), dir / "nothere.mp4", "-o", dir / "out.mkv"},
         2,
         "mkvmerge.exe: The file '" + (dir / "nothere.mp4") +
             "' could not be opened for reading: open file error."},
        {"no target", {Slot("mkv/mkvmerge.exe"), Clip("mp4")}, 2, ""},
        {"not media", {Slot("mkv/mkvmerge.exe"), Clip("corrupt"), "-o", dir / "out.mkv"}, 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult run = tooltest::Run(c.argv);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        if (!c.lastLine.empty()) {
            EXPECT_EQ(LastLine(run.output), c.lastLine);
        }
        EXPECT_TRUE(run.output.find("mkvmerge.exe: ") != std::string::npos) << run.output;
        EXPECT_FALSE(fs::exists(dir / "out.mkv"));
    }
}

// Runs argv with `folder` full after `room` bytes: a small tmpfs where mounting is allowed, else
// a file size limit (the same failure as far as the writer can tell). Returns the run and whether
// it was a real full disk.
std::pair<RunResult, bool> RunWithFullFolder(const std::string& folder, const char* room,
                                             const std::vector<std::string>& argv) {
    RunResult run;
    bool mounted = false;
    {
        tooltest::SmallDisk disk(folder, room);
        mounted = disk.Mounted();
        struct rlimit saved;
        getrlimit(RLIMIT_FSIZE, &saved);
        if (!mounted) {
            const struct rlimit small = {std::stoul(room) * 1024, saved.rlim_max};
            signal(SIGXFSZ, SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &small);
        }
        run = tooltest::Run(argv);
        if (!mounted) {
            setrlimit(RLIMIT_FSIZE, &saved);
            signal(SIGXFSZ, SIG_DFL);
        }
        EXPECT_TRUE(fs::is_empty(folder)) << "a failed write leaves nothing behind";
    }
    return {run, mounted};
}

TEST(CheckedSlots, AFullDiskIsAFailureThatSaysSo) {
    TempDir dir;
    const std::string full = dir / "full";
    struct Case {
        const char* slot;
        std::vector<std::string> options;  // after the source
        std::string target;
    };
    const std::string wav = full + "/audio.wav";
    const Case cases[] = {
        {"mkv/mkvmerge.exe", {"-o", full + "/clip.mkv.part"}, full + "/clip.mkv.part"},
        {"mplayer.exe",
         {"-mc", "0", "-ao", "pcm:waveheader:fast:file=%" + std::to_string(wav.size()) + "%" + wav,
          "-vo", "null", "-vc", "null", "-af", "channels=2"},
         wav},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slot);
        std::vector<std::string> argv = {Slot(c.slot), Clip("mp4")};
        argv.insert(argv.end(), c.options.begin(), c.options.end());
        const auto [run, mounted] = RunWithFullFolder(full, "16k", argv);
        EXPECT_NE(run.exitCode, 0) << run.output;
        const std::string name = fs::path(c.slot).filename().string();
        if (mounted) {
            EXPECT_EQ(LastLine(run.output),
                      name + ": No space left on device (writing " + c.target + ")");
        } else {
            EXPECT_EQ(LastLine(run.output).rfind(name + ": ", 0), 0u) << run.output;
        }
    }
}

TEST(MplayerSlot, WritesTheWholeSoundOfTheSource) {
    TempDir dir;
    const std::string wav = dir / "audio a:b.wav";
    const RunResult run =
        tooltest::Run({Slot("mplayer.exe"), Clip("mp4"), "-mc", "0", "-ao",
                       "pcm:waveheader:fast:file=%" + std::to_string(wav.size()) + "%" + wav, "-vo",
                       "null", "-vc", "null", "-af", "channels=2"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(tooltest::Probe(wav).channels, 2);
    const RunResult length = tooltest::Run(
        {"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", wav});
    EXPECT_NEAR(std::stod(length.output), tooltest::Probe(Clip("mp4")).duration, 0.1);
}

}  // namespace
