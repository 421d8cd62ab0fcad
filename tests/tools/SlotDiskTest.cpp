// A slot that cannot write fails, says why in its last line, and leaves nothing half-written
// that could be taken for its result. The full disk is a small tmpfs the test mounts (as root);
// without the right to mount, the tests are skipped.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
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

std::vector<std::string> Pass(const std::string& source, const std::string& stream, int pass) {
    const std::string quality =
        pass == 1 ? ":pass=1:turbo=2" : ":pass=2:8x8dct:weight_b:mixed_refs:me=umh:subq=6";
    return {Slot("mencoder.exe"),
            source,
            "-mc",
            "0",
            "-of",
            "rawvideo",
            "-ovc",
            "x264",
            "-oac",
            "pcm",
            "-o",
            stream,
            "-x264encopts",
            "deblock=1,1:bframes=5:frameref=5:threads=auto:b_pyramid:nofast_pskip:nopsnr:"
            "bitrate=268" +
                quality,
            "-vf",
            "harddup"};
}

class FullDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        disk_ = dir_ / "disk";
        small_ = std::make_unique<tooltest::SmallDisk>(disk_, "1m");
        if (!small_->Mounted()) {
            GTEST_SKIP() << "a small tmpfs cannot be mounted here (needs root)";
        }
    }

    // Fills the disk until only `bytes` (rounded to pages) are left.
    void LeaveFree(unsigned long long bytes) { small_->LeaveFree(bytes); }

    // Only the filler and the files named may be on the disk.
    void ExpectOnlyOnDisk(const std::vector<std::string>& names) {
        for (const auto& entry : fs::directory_iterator(disk_)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "filler" ||
                        std::find(names.begin(), names.end(), name) != names.end())
                << name << " was left on the full disk";
        }
    }

    TempDir dir_;
    std::string disk_;
    std::unique_ptr<tooltest::SmallDisk> small_;
};

TEST_F(FullDisk, AnalysisPassFailsWithTheReasonAndLeavesNoStream) {
    for (const unsigned long long free : {0ull, 40000ull}) {
        SCOPED_TRACE(free);
        LeaveFree(free);
        const RunResult pass = tooltest::Run(Pass(Clip("avi"), disk_ + "/video.264", 1));
        EXPECT_EQ(pass.exitCode, 1) << pass.output;
        EXPECT_EQ(tooltest::LastLine(pass.output)
                      .rfind("mencoder.exe: No space left on device (" + disk_, 0),
                  0u)
            << tooltest::LastLine(pass.output);
        ExpectOnlyOnDisk({});
        fs::remove(disk_ + "/filler");
    }
}

TEST_F(FullDisk, EncodingPassFailsWhenTheStreamDoesNotFit) {
    const std::string stream = disk_ + "/video.264";
    const RunResult first = tooltest::Run(Pass(Clip("avi"), stream, 1));
    ASSERT_EQ(first.exitCode, 0) << first.output;
    fs::remove(stream);
    LeaveFree(24000);  // the stream needs about 67 kB
    const RunResult second = tooltest::Run(Pass(Clip("avi"), stream, 2));
    EXPECT_EQ(second.exitCode, 1) << second.output;
    EXPECT_EQ(tooltest::LastLine(second.output),
              "mencoder.exe: No space left on device (" + stream + ")");
    // The first pass's statistics stay for another try; no stream is left.
    ExpectOnlyOnDisk({"divx2pass.log", "divx2pass.log.mbtree"});
}

TEST_F(FullDisk, MergeFailsAndLeavesNoTarget) {
    TempDir work;
    const std::string stream = work / "video.264";
    ASSERT_EQ(tooltest::Run(Pass(Clip("avi"), stream, 1)).exitCode, 0);
    const std::string aac = work / "audio.mp4";
    ASSERT_EQ(
        tooltest::Run({Slot("enhAacPlusEnc.exe"), Clip("wav"), aac, "--cbr", "32000"}).exitCode, 0);
    struct Case {
        std::string name;
        std::string tmp, target;
    };
    const std::vector<Case> cases = {
        {"target on the full disk", work.path(), disk_ + "/clip.mp4.part"},
        {"scratch on the full disk", disk_, work / "clip.mp4.part"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LeaveFree(16000);
        const RunResult merge = tooltest::Run({Slot("MP4Box.exe"), "-tmp", c.tmp, "-add", stream,
                                               "-fps", "25.000", "-new", c.target, "-add", aac});
        EXPECT_EQ(merge.exitCode, 1) << merge.output;
        EXPECT_EQ(
            tooltest::LastLine(merge.output).rfind("MP4Box.exe: No space left on device (", 0), 0u)
            << tooltest::LastLine(merge.output);
        EXPECT_FALSE(fs::exists(c.target));
        ExpectOnlyOnDisk({});
        fs::remove(disk_ + "/filler");
    }
    // With room, the same merge writes MP4 under the ".part" name.
    const RunResult merge =
        tooltest::Run({Slot("MP4Box.exe"), "-tmp", work.path(), "-add", stream, "-fps", "25.000",
                       "-new", disk_ + "/clip.mp4.part", "-add", aac});
    ASSERT_EQ(merge.exitCode, 0) << merge.output;
    const tooltest::MediaInfo out = tooltest::Probe(disk_ + "/clip.mp4.part");
    EXPECT_EQ(out.videoCodec, "h264");
    EXPECT_EQ(out.audioCodec, "aac");
}

// Each failure's last line says why, for the program to show.
TEST(SlotReasons, TheLastLineSaysWhy) {
    TempDir dir;
    fs::copy_file(Clip("wav"), dir / "song.wav");
    struct Case {
        std::vector<std::string> argv;
        int exitCode;
        std::string lastLine;  // its start
    };
    const std::vector<Case> cases = {
        {Pass(dir / "song.wav", dir / "v.264", 1), 1, "mencoder.exe: no video stream in song.wav"},
        {Pass(dir / "missing.avi", dir / "v.264", 1), 254,
         "mencoder.exe: cannot read missing.avi: No such file or directory"},
        {Pass(Clip("corrupt"), dir / "v.264", 1), 254, "mencoder.exe: cannot read corrupt.avi: "},
        {Pass(Clip("avi"), dir / "no/v.264", 1), 1,
         "mencoder.exe: cannot write " + dir / "no/v.264: No such file or directory"},
        {{Slot("MP4Box.exe"), "-tmp", dir.path(), "-add", dir / "missing.264", "-fps", "25", "-new",
          dir / "t.mp4"},
         1,
         "MP4Box.exe: "},
    };
    for (const Case& c : cases) {
        const RunResult result = tooltest::Run(c.argv);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        EXPECT_EQ(tooltest::LastLine(result.output).rfind(c.lastLine, 0), 0u)
            << tooltest::LastLine(result.output);
    }
}

}  // namespace
