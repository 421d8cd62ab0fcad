// The HE-AAC encoder slot with the Fraunhofer FDK AAC library: profiles, bit rates, treble, the
// sound on time through the merge slots, every kind of WAV that can reach it, full disks and
// stops. WAVs are generated with ffmpeg; the results are decoded with ffmpeg, as players do.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/tools/ToolTestSupport.h"

namespace {

namespace fs = std::filesystem;
using tooltest::DecodeAudio;
using tooltest::Probe;
using tooltest::RunResult;
using tooltest::Slot;
using tooltest::TempDir;

const std::string kSlot = Slot("enhAacPlusEnc.exe");

// Beeps of 3 kHz, 20 ms long, at 1 s and 2 s of a 3.5 s stereo WAV at 44.1 kHz.
const std::string kBeeps =
    "aevalsrc='if(lt(mod(t,1),0.02)*gte(t,0.5),0.8*sin(2*PI*3000*t),0)|"
    "if(lt(mod(t,1),0.02)*gte(t,0.5),0.8*sin(2*PI*3000*t),0)':s=44100:d=3.5";
constexpr double kBeepsSeconds = 3.5;
// Pink noise (a different one on each side) with tones at 1, 6, 10 and 14 kHz: sound with
// energy up to the top of the band, like music.
const std::string kMusic =
    "anoisesrc=color=pink:sample_rate=44100:amplitude=0.3:duration=5:seed=1[l];"
    "anoisesrc=color=pink:sample_rate=44100:amplitude=0.3:duration=5:seed=2[r];"
    "sine=f=1000:r=44100:d=5,volume=0.1[t1];sine=f=6000:r=44100:d=5,volume=0.1[t2];"
    "sine=f=10000:r=44100:d=5,volume=0.1[t3];sine=f=14000:r=44100:d=5,volume=0.1[t4];"
    "[t1][t2][t3][t4]amix=inputs=4:normalize=0,asplit[a][b];"
    "[l][a]amix=inputs=2:normalize=0[left];[r][b]amix=inputs=2:normalize=0[right];"
    "[left][right]join=inputs=2:channel_layout=stereo";
constexpr double kMusicSeconds = 5;

// A WAV from an ffmpeg filter graph, with extra output options (sample format, rate, layout).
std::string MakeWav(const TempDir& dir, const std::string& name, const std::string& graph,
                    const std::vector<std::string>& options = {}) {
    const std::string wav = dir / name;
    std::vector<std::string> argv = {"ffmpeg", "-nostdin",        "-v", "error",
                                     "-y",     "-filter_complex", graph};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(wav);
    const RunResult made = tooltest::Run(argv);
    EXPECT_EQ(made.exitCode, 0) << made.output;
    return wav;
}

RunResult Encode(const std::string& wav, const std::string& out,
                 const std::vector<std::string>& options) {
    std::vector<std::string> argv = {kSlot, wav, out, "--cbr"};
    argv.insert(argv.end(), options.begin(), options.end());
    return tooltest::Run(argv);
}

std::string FirstLine(const std::string& output) {
    return output.substr(0, output.find('\n'));
}

#ifdef QUINTARO_FDK_AAC

// Overwrites the size of the WAV's "data" chunk, as a cut-short or streamed writer leaves it.
void SetDataSize(const std::string& wav, uint32_t size) {
    std::fstream file(wav, std::ios::in | std::ios::out | std::ios::binary);
    std::string head(4096, '\0');
    file.read(head.data(), static_cast<std::streamsize>(head.size()));
    const size_t at = head.find("data");
    ASSERT_NE(at, std::string::npos);
    file.clear();
    file.seekp(static_cast<std::streamoff>(at + 4));
    const char bytes[4] = {static_cast<char>(size & 0xFF), static_cast<char>((size >> 8) & 0xFF),
                           static_cast<char>((size >> 16) & 0xFF),
                           static_cast<char>((size >> 24) & 0xFF)};
    file.write(bytes, 4);
}

// The beeps of kBeeps, where a player puts them, each within 5 ms.
void ExpectBeepsOnTime(const std::string& file) {
    SCOPED_TRACE(file);
    const tooltest::DecodedAudio audio = DecodeAudio(file, 44100, 1);
    const std::vector<double> beeps = tooltest::BurstStarts(audio);
    ASSERT_EQ(beeps.size(), 3u) << ::testing::PrintToString(beeps);
    for (size_t i = 0; i < beeps.size(); ++i) {
        EXPECT_NEAR(beeps[i], 1.0 + static_cast<double>(i), 0.005);
    }
    EXPECT_NEAR(audio.start + audio.seconds(), kBeepsSeconds, kBeepsSeconds * 0.02);
}

struct ProfileCase {
    std::vector<std::string> options;  // after "--cbr"
    std::string firstLine;
    std::string profile;  // as ffprobe names it
    int channels;
    int sampleRate;
};

TEST(HeAacSlot, EncodesEachSettingWithItsProfileRateAndLength) {
    TempDir dir;
    const std::string wav = MakeWav(dir, "music.wav", kMusic);
    const std::vector<ProfileCase> cases = {
        {{"16000"}, "HE-AAC v2 at 16000 bit/s", "HE-AACv2", 2, 32000},
        {{"24000"}, "HE-AAC v2 at 24000 bit/s", "HE-AACv2", 2, 44100},
        {{"32000"}, "HE-AAC v2 at 32000 bit/s", "HE-AACv2", 2, 44100},
        {{"48000"}, "HE-AAC v2 at 48000 bit/s", "HE-AACv2", 2, 44100},
        {{"64000", "--disable-ps"}, "HE-AAC at 64000 bit/s", "HE-AAC", 2, 44100},
        {{"16000", "--force-mono", "--channel-count", "1"},
         "HE-AAC at 16000 bit/s",
         "HE-AAC",
         1,
         32000},
        {{"64000", "--disable-ps", "--force-mono", "--channel-count", "1"},
         "HE-AAC at 64000 bit/s",
         "HE-AAC",
         1,
         44100},
    };
    for (const ProfileCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        const std::string out = dir / "audio.mp4";
        const RunResult result = Encode(wav, out, c.options);
        ASSERT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(FirstLine(result.output),
                  "enhAacPlusEnc.exe: " + c.firstLine + " (Fraunhofer FDK AAC)");
        const tooltest::MediaInfo info = Probe(out);
        EXPECT_EQ(info.audioCodec, "aac");
        EXPECT_EQ(info.audioProfile, c.profile);
        EXPECT_EQ(info.channels, c.channels);
        EXPECT_EQ(info.sampleRate, c.sampleRate);
        const double rate = std::stod(c.options[0]);
        EXPECT_NEAR(static_cast<double>(info.audioBitRate), rate, rate * 0.1);
        EXPECT_NEAR(info.audioDuration, kMusicSeconds, kMusicSeconds * 0.02);
        const tooltest::DecodedAudio decoded = DecodeAudio(out, c.sampleRate, c.channels);
        EXPECT_NEAR(decoded.seconds(), kMusicSeconds, kMusicSeconds * 0.02);
        RecordProperty("bitrate_" + c.options[0] + (c.channels == 1 ? "_mono" : ""),
                       std::to_string(info.audioBitRate));
        EXPECT_TRUE(tooltest::DecodesCleanly(out));
    }
}

// AAC-LC at 32 kbit/s keeps nothing above 8 kHz (-74 dB at 8 to 11 kHz); HE-AAC v2 keeps it.
TEST(HeAacSlot, KeepsTheTrebleAt32Kbps) {
    TempDir dir;
    const std::string wav = MakeWav(dir, "music.wav", kMusic);
    const RunResult result = Encode(wav, dir / "audio.mp4", {"32000"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const tooltest::DecodedAudio source = DecodeAudio(wav, 44100, 2);
    const tooltest::DecodedAudio encoded = DecodeAudio(dir / "audio.mp4", 44100, 2);
    const struct {
        double low, high;
        double floor;  // dB relative to the source
    } bands[] = {{4000, 8000, -6}, {8000, 11000, -12}, {11000, 13000, -12}, {13000, 16000, -12}};
    for (const auto& band : bands) {
        const double level = tooltest::BandLevel(encoded, band.low, band.high) -
                             tooltest::BandLevel(source, band.low, band.high);
        RecordProperty("band_" + std::to_string(static_cast<int>(band.low)) + "_" +
                           std::to_string(static_cast<int>(band.high)),
                       std::to_string(level));
        EXPECT_GE(level, band.floor) << band.low << " to " << band.high << " Hz";
        EXPECT_LE(level, 6.0) << band.low << " to " << band.high << " Hz";
    }
}

// The priming is cut off inside the stream, so the sound stays on time wherever the track is
// copied: the merge slot's MP4, and the MKV that mkvmerge makes of it.
TEST(HeAacSlot, SoundStartsOnTimeThroughTheMergeSlots) {
    TempDir dir;
    const std::string wav = MakeWav(dir, "audio.wav", kBeeps);
    const RunResult video = tooltest::Run({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                           "testsrc=size=176x144:rate=25:duration=3.5", "-c:v",
                                           "libx264", "-bf", "3", "-f", "h264", dir / "video.264"});
    ASSERT_EQ(video.exitCode, 0) << video.output;
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"32000"},
          {"64000", "--disable-ps"},
          {"16000", "--force-mono", "--channel-count", "1"}}) {
        SCOPED_TRACE(::testing::PrintToString(options));
        const RunResult encoded = Encode(wav, dir / "audio.mp4", options);
        ASSERT_EQ(encoded.exitCode, 0) << encoded.output;
        ExpectBeepsOnTime(dir / "audio.mp4");
        const RunResult merged = tooltest::Run({Slot("MP4Box.exe"), "-tmp", dir.path() + "/",
                                                "-add", dir / "video.264", "-fps", "25.000", "-new",
                                                dir / "tempout.mp4", "-add", dir / "audio.mp4"});
        ASSERT_EQ(merged.exitCode, 0) << merged.output;
        ExpectBeepsOnTime(dir / "tempout.mp4");
        const RunResult mkv =
            tooltest::Run({Slot("mkv/mkvmerge.exe"), dir / "tempout.mp4", "-o", dir / "out.mkv"});
        ASSERT_LE(mkv.exitCode, 1) << mkv.output;
        ExpectBeepsOnTime(dir / "out.mkv");
        fs::remove(dir / "out.mkv");
    }
}

struct WavCase {
    std::string name;
    std::string filters;              // after kBeeps in the filter graph
    std::vector<std::string> ffmpeg;  // output options for the WAV
    int64_t dataSize;                 // written into the header afterwards; -1: as written
    std::vector<std::string> options;
    std::string description;  // what the encoder's second line says of its input
    int channels;
};

class WavInputs : public ::testing::TestWithParam<WavCase> {};

TEST_P(WavInputs, AreEncodedOnTime) {
    const WavCase& c = GetParam();
    TempDir dir;
    const std::string wav = MakeWav(dir, "audio.wav", kBeeps + c.filters, c.ffmpeg);
    if (c.dataSize >= 0) {
        SetDataSize(wav, static_cast<uint32_t>(c.dataSize));
    }
    std::vector<std::string> options = {"32000"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    const RunResult result = Encode(wav, dir / "audio.mp4", options);
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("enhAacPlusEnc.exe: " + wav + ": " + c.description + "\n"),
              std::string::npos)
        << result.output;
    EXPECT_EQ(Probe(dir / "audio.mp4").channels, c.channels);
    ExpectBeepsOnTime(dir / "audio.mp4");
}

INSTANTIATE_TEST_SUITE_P(
    HeAacSlot, WavInputs,
    ::testing::Values(
        WavCase{"Unsigned8", "", {"-c:a", "pcm_u8"}, -1, {}, "44100 Hz stereo", 2},
        WavCase{"Signed24", "", {"-c:a", "pcm_s24le"}, -1, {}, "44100 Hz stereo", 2},
        WavCase{"Signed32", "", {"-c:a", "pcm_s32le"}, -1, {}, "44100 Hz stereo", 2},
        WavCase{"Float32At96k",
                "",
                {"-c:a", "pcm_f32le", "-ar", "96000"},
                -1,
                {},
                "96000 Hz stereo, resampled to 44100 Hz",
                2},
        // WAVE_FORMAT_EXTENSIBLE; the beeps only in the centre channel, which must not be lost.
        WavCase{"Extensible51CentreOnly",
                ",pan=5.1|FC=c0",
                {"-ar", "48000"},
                -1,
                {},
                "48000 Hz 5.1, mixed to stereo",
                2},
        WavCase{"Extensible51ToMono",
                ",pan=5.1|FC=c0|FL=c0|FR=c1",
                {"-ar", "48000"},
                -1,
                {"--force-mono", "--channel-count", "1"},
                "48000 Hz 5.1, mixed to mono",
                1},
        WavCase{"Mono22050",
                "",
                {"-ac", "1", "-ar", "22050"},
                -1,
                {},
                "22050 Hz mono, resampled to 44100 Hz",
                1},
        WavCase{
            "Stereo8000", "", {"-ar", "8000"}, -1, {}, "8000 Hz stereo, resampled to 44100 Hz", 2},
        WavCase{"DataSizeZero", "", {}, 0, {}, "44100 Hz stereo", 2},
        WavCase{"DataSizeAllOnes", "", {}, 0xFFFFFFFF, {}, "44100 Hz stereo", 2},
        WavCase{"DataSizeBeyondTheEnd", "", {}, 0x7FFFF000, {}, "44100 Hz stereo", 2}),
    [](const auto& info) { return info.param.name; });

// The WAV as the program's audio extraction really writes it, from a source with the beeps.
TEST(HeAacSlot, EncodesMplayersWavOnTime) {
    TempDir dir;
    const std::string source = dir / "source.avi";
    const RunResult made =
        tooltest::Run({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                       "testsrc=size=176x144:rate=25:duration=3.5", "-filter_complex", kBeeps,
                       "-c:v", "mpeg4", "-c:a", "pcm_s16le", source});
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const std::string wav = dir / "audio.wav";
    const RunResult extracted =
        tooltest::Run({Slot("mplayer.exe"), source, "-mc", "0", "-ao",
                       "pcm:waveheader:fast:file=%" + std::to_string(wav.size()) + "%" + wav, "-vo",
                       "null", "-vc", "null", "-af", "channels=2"});
    ASSERT_EQ(extracted.exitCode, 0) << extracted.output;
    const RunResult result = Encode(wav, dir / "audio.mp4", {"32000"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    ExpectBeepsOnTime(dir / "audio.mp4");
}

// Writes the file into a named pipe in pieces, a pause after each.
void FeedPipe(const std::string& pipe, const std::string& file, int pieces, int pauseMs) {
    std::ifstream in(file, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int fd = open(pipe.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const size_t piece = data.size() / static_cast<size_t>(pieces) + 1;
    for (size_t at = 0; at < data.size(); at += piece) {
        const size_t n = std::min(piece, data.size() - at);
        if (write(fd, data.data() + at, n) != static_cast<ssize_t>(n)) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    close(fd);
}

// Read from a pipe, as slowly as a decoder delivers it: read to the end, on time, and a
// progress line a few times a second, never more than about five.
TEST(HeAacSlot, ReadsAPipeToItsEndAndTellsItsProgress) {
    TempDir dir;
    const std::string wav = MakeWav(dir, "beeps.wav", kBeeps);
    // The header of a streamed WAV does not know its size.
    SetDataSize(wav, 0);
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    RunResult result;
    const auto started = std::chrono::steady_clock::now();
    std::thread encoder([&] { result = Encode(dir / "pipe", dir / "audio.mp4", {"32000"}); });
    FeedPipe(dir / "pipe", wav, 15, 100);
    encoder.join();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_EQ(result.exitCode, 0) << result.output;
    ExpectBeepsOnTime(dir / "audio.mp4");
    int progressLines = 0;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        progressLines += line.find(" s encoded") != std::string::npos;
    }
    EXPECT_GE(progressLines, 2) << result.output;
    EXPECT_LE(progressLines, 5 * elapsed + 1) << result.output;
    EXPECT_EQ(
        tooltest::LastLine(result.output).rfind("enhAacPlusEnc.exe: wrote " + dir / "audio.mp4", 0),
        0u)
        << result.output;
}

TEST(HeAacSlot, TellsThePercentOfAPipeWhoseHeaderHasTheSize) {
    TempDir dir;
    const std::string wav = MakeWav(dir, "beeps.wav", kBeeps);
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    RunResult result;
    std::thread encoder([&] { result = Encode(dir / "pipe", dir / "audio.mp4", {"32000"}); });
    FeedPipe(dir / "pipe", wav, 10, 100);
    encoder.join();
    ASSERT_EQ(result.exitCode, 0) << result.output;
    std::vector<long> percents;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) {
        if (const size_t at = line.find("% ("); at != std::string::npos) {
            percents.push_back(std::strtol(line.c_str() + line.rfind(' ', at) + 1, nullptr, 10));
        }
    }
    ASSERT_GE(percents.size(), 2u) << result.output;
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << result.output;
    EXPECT_LE(percents.back(), 100);
}

// A full disk is a failure that says so, with the system's words and the file, and leaves no
// part of the file behind.
TEST(HeAacSlot, FullDiskFailsAndLeavesNothing) {
    TempDir dir;
    const std::string wav = MakeWav(dir, "music.wav", kMusic);
    fs::create_directory(dir / "small");
    const std::string out = dir / "small/audio.mp4";
    const RunResult result =
        tooltest::Run({"unshare", "-m", "sh", "-c",
                       "mount -t tmpfs -o size=16k tmpfs \"$1\" || exit 99; shift; exec \"$@\"; ",
                       "sh", dir / "small", kSlot, wav, out, "--cbr", "32000"});
    if (result.exitCode == 99 || result.output.find("unshare failed") != std::string::npos) {
        GTEST_SKIP() << "no small file system can be mounted here: " << result.output;
    }
    EXPECT_NE(result.exitCode, 0) << result.output;
    EXPECT_EQ(tooltest::LastLine(result.output),
              "enhAacPlusEnc.exe: cannot write " + out + ": No space left on device");
    // The mount went with its namespace: nothing was written to the folder underneath either.
    EXPECT_TRUE(fs::is_empty(dir / "small"));
}

TEST(HeAacSlot, ReplacesAnEarlierOutputAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string wav = MakeWav(dir, "beeps.wav", kBeeps);
    std::ofstream(dir / "audio.mp4") << "an earlier, broken file";
    const RunResult result = Encode(wav, dir / "audio.mp4", {"32000"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    ExpectBeepsOnTime(dir / "audio.mp4");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"audio.mp4", "beeps.wav"}));
}

TEST(HeAacSlot, RefusesChannelCountsItCannotEncode) {
    TempDir dir;
    const RunResult result =
        Encode(dir / "a.wav", dir / "a.mp4", {"32000", "--channel-count", "6"});
    EXPECT_EQ(result.exitCode, 2) << result.output;
    EXPECT_NE(result.output.find("usage: "), std::string::npos) << result.output;
}

bool ReadsFromAPipe(pid_t pid) {
    std::ifstream wchan("/proc/" + std::to_string(pid) + "/wchan");
    std::string where;
    std::getline(wchan, where);
    // "pipe_read", "anon_pipe_read" or "pipe_wait", depending on the kernel.
    return where.find("pipe_read") != std::string::npos ||
           where.find("pipe_wait") != std::string::npos;
}

enum class StopHow { Terminate, KillGroup };

// Stopped in the middle of the WAV (a pipe that stops delivering), the slot ends of the signal
// and leaves neither its output nor a temporary file.
TEST(HeAacSlot, StopInTheMiddleLeavesNothing) {
    for (StopHow how : {StopHow::Terminate, StopHow::KillGroup}) {
        SCOPED_TRACE(how == StopHow::Terminate ? "SIGTERM" : "SIGKILL to the group");
        TempDir dir;
        const std::string wav = MakeWav(dir, "beeps.wav", kBeeps);
        fs::create_directory(dir / "work");
        ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
        const pid_t slot = tooltest::StartInOwnGroup(
            {kSlot, dir / "pipe", dir / "work/audio.mp4", "--cbr", "32000"});
        ASSERT_GT(slot, 0);
        const int fd = open((dir / "pipe").c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        std::ifstream in(wav, std::ios::binary);
        std::string half(static_cast<size_t>(fs::file_size(wav) / 2), '\0');
        in.read(half.data(), static_cast<std::streamsize>(half.size()));
        ASSERT_EQ(write(fd, half.data(), half.size()), static_cast<ssize_t>(half.size()));
        // Half of the WAV read and encoded, it waits for more.
        EXPECT_TRUE(tooltest::WaitFor([&] { return ReadsFromAPipe(slot); }));
        ASSERT_EQ(how == StopHow::Terminate ? kill(slot, SIGTERM) : kill(-slot, SIGKILL), 0);
        int status = 0;
        ASSERT_TRUE(tooltest::WaitFor([&] { return waitpid(slot, &status, WNOHANG) == slot; }));
        close(fd);
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), how == StopHow::Terminate ? SIGTERM : SIGKILL);
        EXPECT_TRUE(fs::is_empty(dir / "work"));
        EXPECT_TRUE(tooltest::ProcessesInGroup(slot).empty());
    }
}

// Waiting for a writer that never comes, it still ends of the signal it is sent.
TEST(HeAacSlot, StopBeforeTheWavOpensEndsOfTheSignal) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    const pid_t slot =
        tooltest::StartInOwnGroup({kSlot, dir / "pipe", dir / "audio.mp4", "--cbr", "32000"});
    ASSERT_TRUE(tooltest::WaitFor([&] { return tooltest::WaitsForPipePartner(slot); }));
    ASSERT_EQ(kill(slot, SIGTERM), 0);
    int status = 0;
    ASSERT_TRUE(tooltest::WaitFor([&] { return waitpid(slot, &status, WNOHANG) == slot; }));
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_FALSE(fs::exists(dir / "audio.mp4"));
}

#else

TEST(HeAacSlot, BuiltWithoutTheFdkLibrarySaysItEncodesAacLc) {
    TempDir dir;
    const std::string wav = MakeWav(dir, "beeps.wav", kBeeps);
    const RunResult result = Encode(wav, dir / "audio.mp4", {"32000"});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(FirstLine(result.output),
              "enhAacPlusEnc.exe: AAC-LC at 32000 bit/s (ffmpeg; built without the Fraunhofer "
              "FDK AAC library)");
    EXPECT_EQ(Probe(dir / "audio.mp4").audioProfile, "LC");
}

#endif

}  // namespace
