// The mkvmerge slot: what it writes is checked, and what fails leaves nothing behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/tools/ToolTestSupport.h"

namespace {

namespace fs = std::filesystem;
using tooltest::Clip;
using tooltest::RunResult;
using tooltest::Slot;
using tooltest::TempDir;

std::string LastLine(const std::string& output) {
    std::string text = output;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    const size_t end = text.find_last_of("\r\n");
    return end == std::string::npos ? text : text.substr(end + 1);
}

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

// A disk that fills up while mkvmerge writes: a small tmpfs where mounting is allowed, else a
// file size limit (the same failure as far as the writer can tell).
TEST(MkvmergeSlot, AFullDiskIsAFailure) {
    TempDir dir;
    const std::string full = dir / "full";
    fs::create_directory(full);
    const bool mounted = mount("tmpfs", full.c_str(), "tmpfs", 0, "size=16k") == 0;
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    if (!mounted) {
        const struct rlimit small = {16 * 1024, saved.rlim_max};
        signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
    }
    const std::string target = full + "/clip.mkv.part";
    const RunResult run = tooltest::Run({Slot("mkv/mkvmerge.exe"), Clip("mp4"), "-o", target});
    if (mounted) {
        EXPECT_FALSE(fs::exists(target));
        umount(full.c_str());
    } else {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, SIG_DFL);
        EXPECT_FALSE(fs::exists(target));
    }
    EXPECT_NE(run.exitCode, 0) << run.output;
    if (mounted) {
        EXPECT_EQ(LastLine(run.output),
                  "mkvmerge.exe: No space left on device (writing " + target + ")");
    } else {
        EXPECT_EQ(LastLine(run.output).rfind("mkvmerge.exe: ", 0), 0u) << run.output;
    }
}

}  // namespace
