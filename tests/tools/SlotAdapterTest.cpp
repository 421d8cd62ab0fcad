// Each adapter on its own: what it makes of its options, and how it fails.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/tools/ToolTestSupport.h"

namespace {

namespace fs = std::filesystem;
using tooltest::Clip;
using tooltest::Probe;
using tooltest::RunResult;
using tooltest::Slot;
using tooltest::TempDir;

// A raw H.264 stream with B-frames at 29.97 fps, as mencoder's x264 writes them.
std::string MakeStream(const TempDir& dir) {
    const std::string stream = dir / "video.264";
    const RunResult made = tooltest::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi",
                                          "-i", "testsrc=size=176x144:rate=30000/1001:duration=2",
                                          "-c:v", "libx264", "-bf", "3", "-f", "h264", stream});
    EXPECT_EQ(made.exitCode, 0) << made.output;
    return stream;
}

std::string MakeAac(const TempDir& dir) {
    const std::string aac = dir / "audio.mp4";
    const RunResult made =
        tooltest::Run({Slot("enhAacPlusEnc.exe"), Clip("wav"), aac, "--cbr", "32000"});
    EXPECT_EQ(made.exitCode, 0) << made.output;
    return aac;
}

TEST(Mp4BoxSlot, TrustsTheStreamsOwnTimingOverAnyRateItIsGiven) {
    TempDir dir;
    const std::string stream = MakeStream(dir);
    const std::string aac = MakeAac(dir);
    // What the merge gets from mencoder's "VIDEO" line: a rate, the "1)" of MPEG-2, ASF's 1000,
    // the untouched placeholder, nothing at all.
    const std::vector<std::vector<std::string>> fpsWords = {
        {"-fps", "29.970"}, {"-fps", "1)"}, {"-fps", "1000.000"}, {"-fps", "[FPS]"}, {"-fps"}, {}};
    for (const auto& fps : fpsWords) {
        SCOPED_TRACE(::testing::PrintToString(fps));
        const bool withAudio = fps.size() == 2 && fps[1] == "1)";
        const std::string target = dir / "out.mp4";
        std::vector<std::string> argv = {Slot("MP4Box.exe"), "-tmp", dir.path() + "/", "-add",
                                         stream};
        argv.insert(argv.end(), fps.begin(), fps.end());
        argv.insert(argv.end(), {"-new", target});
        if (withAudio) {
            argv.insert(argv.end(), {"-add", aac});
        }
        const RunResult merge = tooltest::Run(argv);
        ASSERT_EQ(merge.exitCode, 0) << merge.output;
        const tooltest::MediaInfo out = Probe(target);
        EXPECT_EQ(out.videoCodec, "h264");
        EXPECT_EQ(out.frameRate, "30000/1001");
        EXPECT_EQ(out.frames, 60);
        EXPECT_NEAR(out.duration, 2.002, 0.001);
        EXPECT_EQ(out.audioCodec, withAudio ? "aac" : "");
        fs::remove(target);
    }
    // Nothing of the temporary Matroska file is left in the -tmp folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(AacSlot, EncodesAtTheRequestedRateAndChannels) {
    TempDir dir;
    struct Case {
        std::vector<std::string> options;
        int channels;
    };
    const std::vector<Case> cases = {
        {{"--cbr", "32000"}, 2},
        {{"--cbr", "64000", "--disable-ps"}, 2},
        {{"--cbr", "16000", "--force-mono", "--channel-count", "1"}, 1},
        {{"--cbr", "48000", "--disable-ps", "--force-mono", "--channel-count", "1"}, 1},
    };
    // A stereo WAV at 48 kHz, as mplayer writes it with "Audio SR" at 48 kHz.
    const std::string wav = dir / "audio.wav";
    ASSERT_EQ(tooltest::Run({"ffmpeg", "-nostdin", "-v", "error", "-i", Clip("wav"), "-ac", "2",
                             "-ar", "48000", wav})
                  .exitCode,
              0);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        const std::string out = dir / "audio.mp4";
        std::vector<std::string> argv = {Slot("enhAacPlusEnc.exe"), wav, out};
        argv.insert(argv.end(), c.options.begin(), c.options.end());
        const RunResult result = tooltest::Run(argv);
        ASSERT_EQ(result.exitCode, 0) << result.output;
        const tooltest::MediaInfo info = Probe(out);
#ifdef QUINTARO_FDK_AAC
        // Parametric stereo needs two channels: mono and "--disable-ps" are HE-AAC v1.
        const bool v2 = c.channels == 2 && c.options.size() == 2;
        EXPECT_NE(result.output.find(std::string(v2 ? "HE-AAC v2" : "HE-AAC") + " at " +
                                     c.options[1] + " bit/s (Fraunhofer FDK AAC)"),
                  std::string::npos)
            << result.output;
        EXPECT_EQ(info.audioProfile, v2 ? "HE-AACv2" : "HE-AAC");
#else
        // Without the Fraunhofer library the adapter says what it used instead.
        EXPECT_NE(result.output.find("AAC-LC at " + c.options[1] + " bit/s"), std::string::npos)
            << result.output;
#endif
        EXPECT_EQ(info.audioCodec, "aac");
        EXPECT_EQ(info.channels, c.channels);
#ifdef QUINTARO_FDK_AAC
        // Below 18 kbit/s the Fraunhofer encoder takes 32 kHz only.
        EXPECT_EQ(info.sampleRate, std::stol(c.options[1]) < 18000 ? 32000 : 48000);
#else
        EXPECT_EQ(info.sampleRate, 48000);
#endif
        EXPECT_NEAR(info.audioBitRate, std::stol(c.options[1]), std::stol(c.options[1]) * 0.25);
    }
}

struct FailureCase {
    std::string name;
    std::vector<std::string> argv;  // "{dir}", "{stream}", "{aac}", "{wav}" are replaced
    int exitCode;                   // -1: any failure other than the usage and corrupt codes
    std::string mustNotExist;       // a path that the failure leaves absent
};

class SlotFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(SlotFailures, EndWithANonZeroCodeAndNoHalfFile) {
    TempDir dir;
    const auto replace = [&](std::string word) {
        const std::vector<std::pair<std::string, std::string>> names = {
            {"{stream}", word.find("{stream}") != std::string::npos ? MakeStream(dir) : ""},
            {"{aac}", word.find("{aac}") != std::string::npos ? MakeAac(dir) : ""},
            {"{wav}", word.find("{wav}") != std::string::npos ? Clip("wav") : ""},
            {"{corrupt}", word.find("{corrupt}") != std::string::npos ? Clip("corrupt") : ""},
            {"{avi}", word.find("{avi}") != std::string::npos ? Clip("avi") : ""},
            {"{dir}", dir.path()},
        };
        for (const auto& [key, value] : names) {
            for (size_t at; (at = word.find(key)) != std::string::npos;) {
                word.replace(at, key.size(), value);
            }
        }
        return word;
    };
    std::vector<std::string> argv;
    for (const std::string& word : GetParam().argv) {
        argv.push_back(replace(word));
    }
    fs::create_directory(dir / "folder");
    const RunResult result = tooltest::Run(argv, dir.path());
    if (GetParam().exitCode >= 0) {
        EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.output;
    } else {
        EXPECT_NE(result.exitCode, 0) << result.output;
        EXPECT_NE(result.exitCode, 2) << result.output;
        EXPECT_NE(result.exitCode, 254) << result.output;
    }
    if (result.exitCode == 2) {
        EXPECT_NE(result.output.find("usage: "), std::string::npos) << result.output;
    }
    if (!GetParam().mustNotExist.empty()) {
        EXPECT_FALSE(fs::exists(replace(GetParam().mustNotExist))) << result.output;
    }
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
}

std::vector<std::string> PassOne(const std::vector<std::string>& source, const std::string& out) {
    std::vector<std::string> argv = {Slot("mencoder.exe")};
    argv.insert(argv.end(), source.begin(), source.end());
    argv.insert(argv.end(), {"-mc", "0", "-of", "rawvideo", "-ovc", "x264", "-oac", "pcm", "-o",
                             out, "-x264encopts", "bitrate=268:pass=1:turbo=2", "-vf", "harddup"});
    return argv;
}

std::vector<std::string> Merge(const std::string& video, const std::string& target,
                               const std::string& audio = "", const std::string& tmp = "{dir}") {
    std::vector<std::string> argv = {
        Slot("MP4Box.exe"), "-tmp", tmp, "-add", video, "-fps", "25", "-new", target};
    if (!audio.empty()) {
        argv.insert(argv.end(), {"-add", audio});
    }
    return argv;
}

const std::string kMencoder = Slot("mencoder.exe");
const std::string kMp4Box = Slot("MP4Box.exe");
const std::string kAac = Slot("enhAacPlusEnc.exe");

INSTANTIATE_TEST_SUITE_P(
    Slots, SlotFailures,
    ::testing::Values(
        // mencoder.exe: -2 is the program's "File is corrupt."
        FailureCase{"MencoderNoArguments", {kMencoder}, 2, ""},
        FailureCase{"MencoderNoOutput", {kMencoder, "{avi}", "-mc", "0"}, 2, ""},
        FailureCase{"MencoderOutputWithoutValue", {kMencoder, "{avi}", "-o"}, 2, ""},
        FailureCase{"MencoderMissingSource", PassOne({"{dir}/missing.avi"}, "{dir}/v.264"), 254,
                    ""},
        FailureCase{"MencoderCorruptSource", PassOne({"{corrupt}"}, "{dir}/v.264"), 254, ""},
        FailureCase{"MencoderNoDvdInFolder",
                    PassOne({"dvd://1", "-dvd-device", "{dir}/folder"}, "{dir}/v.264"), 254, ""},
        FailureCase{"MencoderAudioOnlySource", PassOne({"{wav}"}, "{dir}/v.264"), 1, ""},
        FailureCase{"MencoderUnwritableStream", PassOne({"{avi}"}, "{dir}/no/v.264"), -1, ""},
        // MP4Box.exe
        FailureCase{"Mp4BoxNoArguments", {kMp4Box}, 2, ""},
        FailureCase{"Mp4BoxNoTarget", {kMp4Box, "-add", "{dir}/v.264"}, 2, ""},
        FailureCase{"Mp4BoxNoVideo", {kMp4Box, "-new", "{dir}/t.mp4"}, 2, "{dir}/t.mp4"},
        FailureCase{"Mp4BoxUnknownOption",
                    {kMp4Box, "-add", "{dir}/v.264", "-new", "{dir}/t.mp4", "-cat", "x"},
                    2,
                    "{dir}/t.mp4"},
        FailureCase{"Mp4BoxThreeInputs",
                    {kMp4Box, "-add", "a", "-add", "b", "-add", "c", "-new", "{dir}/t.mp4"},
                    2,
                    "{dir}/t.mp4"},
        FailureCase{"Mp4BoxMissingVideo", Merge("{dir}/missing.264", "{dir}/t.mp4"), 1,
                    "{dir}/t.mp4"},
        FailureCase{"Mp4BoxVideoNotH264", Merge("{corrupt}", "{dir}/t.mp4"), 1, "{dir}/t.mp4"},
        FailureCase{"Mp4BoxMissingAudio", Merge("{stream}", "{dir}/t.mp4", "{dir}/missing.mp4"), 1,
                    "{dir}/t.mp4"},
        FailureCase{"Mp4BoxAudioNotAudio", Merge("{stream}", "{dir}/t.mp4", "{stream}"), 1,
                    "{dir}/t.mp4"},
        FailureCase{"Mp4BoxTargetFolderMissing", Merge("{stream}", "{dir}/no/t.mp4"), 1, ""},
        FailureCase{"Mp4BoxTargetIsAFolder", Merge("{stream}", "{dir}/folder"), 1, ""},
        FailureCase{"Mp4BoxTmpFolderMissing", Merge("{stream}", "{dir}/t.mp4", "", "{dir}/no"), 1,
                    "{dir}/t.mp4"},
        // enhAacPlusEnc.exe
        FailureCase{"AacNoArguments", {kAac}, 2, ""},
        FailureCase{"AacNoRate", {kAac, "{wav}", "{dir}/a.mp4"}, 2, "{dir}/a.mp4"},
        FailureCase{
            "AacRateNotANumber", {kAac, "{wav}", "{dir}/a.mp4", "--cbr", "32k"}, 2, "{dir}/a.mp4"},
        FailureCase{"AacRateZero", {kAac, "{wav}", "{dir}/a.mp4", "--cbr", "0"}, 2, "{dir}/a.mp4"},
        FailureCase{"AacUnknownOption",
                    {kAac, "{wav}", "{dir}/a.mp4", "--cbr", "32000", "--sbr-ratio", "1"},
                    2,
                    "{dir}/a.mp4"},
        FailureCase{"AacOneFile", {kAac, "{wav}", "--cbr", "32000"}, 2, ""},
        FailureCase{"AacMissingWav",
                    {kAac, "{dir}/missing.wav", "{dir}/a.mp4", "--cbr", "32000"},
                    1,
                    "{dir}/a.mp4"},
        FailureCase{
            "AacNotAudio", {kAac, "{stream}", "{dir}/a.mp4", "--cbr", "32000"}, 1, "{dir}/a.mp4"},
        FailureCase{
            "AacOutputFolderMissing", {kAac, "{wav}", "{dir}/no/a.mp4", "--cbr", "32000"}, 1, ""}),
    [](const auto& info) { return info.param.name; });

TEST(MencoderSlot, WritesTheStatisticsBesideTheStreamAndPassesItsLinesOn) {
    TempDir dir;
    fs::create_directory(dir / "work");
    const RunResult pass =
        tooltest::Run(PassOne({Clip("avi")}, dir / "work/video.264"), dir.path());
    ASSERT_EQ(pass.exitCode, 0) << pass.output;
    EXPECT_TRUE(fs::exists(dir / "work/divx2pass.log"));
    EXPECT_FALSE(fs::exists(dir / "divx2pass.log"));
    EXPECT_EQ(tooltest::FrameRateWord(pass.output), "25.000");
    EXPECT_TRUE(tooltest::HasAudioLine(pass.output));
    // Progress lines as mencoder writes them.
    EXPECT_NE(pass.output.find("\rPos:"), std::string::npos);
}

// A tool that crashes takes its adapter down with the same signal: the program reads a signal
// as 128 + n, but an exit code of 128 + n as a negative number.
TEST(MencoderSlot, EndsOfTheSignalItsToolDiedOf) {
    TempDir dir;
    fs::create_directory(dir / "bin");
    std::ofstream(dir / "bin/ffmpeg") << "#!/bin/sh\nkill -SEGV $$\n";
    fs::permissions(dir / "bin/ffmpeg", fs::perms::owner_all);
    const char* path = std::getenv("PATH");
    std::vector<std::string> argv = {"env", "PATH=" + dir / "bin" + ":" + (path ? path : "")};
    const std::vector<std::string> pass = PassOne({Clip("avi")}, dir / "video.264");
    argv.insert(argv.end(), pass.begin(), pass.end());
    const pid_t adapter = tooltest::StartInOwnGroup(argv);
    ASSERT_GT(adapter, 0);
    int status = 0;
    ASSERT_EQ(waitpid(adapter, &status, 0), adapter);
    EXPECT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
}

}  // namespace
