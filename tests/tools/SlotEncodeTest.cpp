// Real encodes through the slots, stage by stage, with the argument lists the program's command
// lines split into: every kind of source, every filter, awkward file names.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "pipeline/EncodeSettings.h"
#include "tests/tools/ToolTestSupport.h"

namespace {

namespace fs = std::filesystem;
using tooltest::Clip;
using tooltest::Probe;
using tooltest::RunResult;
using tooltest::Slot;
using tooltest::TempDir;

struct Source {
    std::vector<std::string> words;  // the source argument, split
};

Source FileSource(const std::string& path) {
    return {{path}};
}
Source DvdSource(const std::string& folder) {
    return {{"dvd://1", "-dvd-device", folder}};
}

std::string FilterChain(const EncodeSettings& s) {
    std::string chain = "harddup,";
    if (s.FrameOn)
        chain += FrameFragment(s.FrameMode);
    if (s.ResizeOn)
        chain += ResizeFragment(s.ResizeTo);
    if (s.DenoiseOn)
        chain += DenoiseFragment(s.DenoiseLevel);
    if (s.SharpenOn)
        chain += SharpenFragment(s.SharpenLevel);
    if (s.PostProcessing)
        chain += PostProcessingFragment();
    if (s.FixLevels)
        chain += FixLevelsFragment();
    chain.pop_back();
    return chain;
}

// Analysis pass (second == false) or encoding pass, as the program's command line splits.
std::vector<std::string> VideoPass(const Source& source, const std::string& work,
                                   const EncodeSettings& s, bool second) {
    std::vector<std::string> argv = {Slot("mencoder.exe")};
    argv.insert(argv.end(), source.words.begin(), source.words.end());
    argv.insert(argv.end(), {"-mc", "0", "-of", "rawvideo", "-ovc", "x264", "-oac", "pcm", "-o",
                             work + "video.264", "-x264encopts"});
    std::string x264 = SourceTypeText(s.SourceType) +
                       "threads=auto:b_pyramid:nofast_pskip:nopsnr:bitrate=" + s.VideoBitrate;
    if (second) {
        std::string quality = VideoQualityText(s.VideoQuality);
        quality.pop_back();  // the trailing blank only separates words
        argv.insert(argv.end(), {x264 + quality, "-nosound"});
    } else {
        argv.push_back(x264 + ":pass=1:turbo=2");
    }
    argv.insert(argv.end(), {"-vf", FilterChain(s)});
    return argv;
}

std::vector<std::string> Extraction(const Source& source, const std::string& work,
                                    const EncodeSettings& s) {
    const std::string wav = work + "audio.wav";
    std::vector<std::string> argv = {Slot("mplayer.exe")};
    argv.insert(argv.end(), source.words.begin(), source.words.end());
    argv.insert(argv.end(), {"-mc", "0", "-ao",
                             "pcm:waveheader:fast:file=%" + std::to_string(wav.size()) + "%" + wav,
                             "-vo", "null", "-vc", "null", "-af",
                             "channels=" + ChannelCountText(s.Stereo) +
                                 (s.ResampleOn ? ResampleText(s.ResampleRate) : "")});
    return argv;
}

// The program's own command lines are split at blanks; the texts here hold no quotes.
std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text + ' ') {
        if (c != ' ') {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    return words;
}

std::vector<std::string> AudioEncoding(const std::string& work, const EncodeSettings& s) {
    std::vector<std::string> argv = {Slot("enhAacPlusEnc.exe"), work + "audio.wav",
                                     work + "audio.mp4", "--cbr"};
    for (const std::string& word :
         SplitWords(AudioBitrateText(s.AudioBitrate) + MonoOptionsText(s.Stereo))) {
        argv.push_back(word);
    }
    return argv;
}

std::vector<std::string> Mp4Merge(const std::string& work, const std::string& fps,
                                  const std::string& target, bool audio) {
    std::vector<std::string> argv = {
        Slot("MP4Box.exe"), "-tmp", work, "-add", work + "video.264", "-fps", fps, "-new", target};
    if (audio) {
        argv.insert(argv.end(), {"-add", work + "audio.mp4"});
    }
    return argv;
}

struct JobResult {
    std::string output;  // the encoded file
    std::string analysis;
};

// Every stage of one job, as the batch run sequences them; fails the test at the first stage
// that fails.
JobResult EncodeJob(const std::string& queued, bool dvd, const std::string& work,
                    const std::string& outFolder, const EncodeSettings& s, bool mkvOutput,
                    const std::string& cwd) {
    Source source = dvd ? DvdSource(queued) : FileSource(queued);
    if (!dvd && fs::path(queued).extension() == ".ogm") {
        tooltest::Run({Slot("mkv/mkvmerge.exe"), queued, "-o", work + "source.mkv"}, cwd);
        source = FileSource(work + "source.mkv");
    }
    JobResult job;
    const RunResult analysis = tooltest::Run(VideoPass(source, work, s, false), cwd);
    EXPECT_EQ(analysis.exitCode, 0) << analysis.output;
    job.analysis = analysis.output;
    fs::remove(work + "video.264");
    const RunResult encoding = tooltest::Run(VideoPass(source, work, s, true), cwd);
    EXPECT_EQ(encoding.exitCode, 0) << encoding.output;
    const bool audio = tooltest::HasAudioLine(analysis.output);
    if (audio) {
        const RunResult extraction = tooltest::Run(Extraction(source, work, s), cwd);
        EXPECT_EQ(extraction.exitCode, 0) << extraction.output;
        const RunResult encoder = tooltest::Run(AudioEncoding(work, s), cwd);
        EXPECT_EQ(encoder.exitCode, 0) << encoder.output;
    }
    const std::string name = dvd ? "dvdout" : fs::path(queued).stem().string();
    job.output = outFolder + "/" + name + (mkvOutput ? ".mkv" : ".mp4");
    const std::string mp4 = mkvOutput ? work + "tempout.mp4" : job.output;
    const RunResult merge =
        tooltest::Run(Mp4Merge(work, tooltest::FrameRateWord(analysis.output), mp4, audio), cwd);
    EXPECT_EQ(merge.exitCode, 0) << merge.output;
    if (mkvOutput) {
        const RunResult mkv = tooltest::Run({Slot("mkv/mkvmerge.exe"), mp4, "-o", job.output}, cwd);
        EXPECT_EQ(mkv.exitCode, 0) << mkv.output;
    }
    return job;
}

struct SourceCase {
    std::string kind;
    bool mkvOutput;  // with mono, "Audio SR" 48 kHz and "64 kbps HE" as well
};

class SourceKinds : public ::testing::TestWithParam<SourceCase> {};

TEST_P(SourceKinds, EncodeToH264AndAacFollowingTheSource) {
    const SourceCase& c = GetParam();
    TempDir dir;
    const std::string work = dir / "tarnok/";
    fs::create_directory(work);
    fs::create_directory(dir / "cwd");
    const bool dvd = c.kind == "dvd";
    const std::string queued = Clip(c.kind);
    const std::string reference = dvd ? Clip("dvdsource") : queued;

    EncodeSettings settings;
    if (c.mkvOutput) {
        settings.Stereo = false;
        settings.ResampleOn = true;
        settings.ResampleRate = 1;
        settings.AudioBitrate = 4;
    }
    const JobResult job =
        EncodeJob(queued, dvd, work, dir.path(), settings, c.mkvOutput, dir / "cwd");
    if (HasFailure()) {
        return;
    }
    const tooltest::MediaInfo source = Probe(reference);
    const tooltest::MediaInfo out = Probe(job.output);
    EXPECT_EQ(out.videoCodec, "h264");
    EXPECT_EQ(out.frameRate, source.frameRate);
    EXPECT_NEAR(out.frames, source.frames, source.frames * 0.02);
    // The picture lasts as long as the source's (whose own time line may hold a slot more than
    // it has pictures).
    EXPECT_NEAR(out.duration, source.nominalDuration, source.nominalDuration * 0.02 + 0.1);
    EXPECT_EQ(out.audioCodec, c.kind == "noaudio" ? "" : "aac");
    if (c.mkvOutput) {
        EXPECT_EQ(out.channels, 1);
        EXPECT_EQ(out.sampleRate, 48000);
    }
    EXPECT_TRUE(tooltest::DecodesCleanly(job.output));
    // A frozen picture scores about 13 dB on these clips.
    const double psnr =
        tooltest::Psnr(job.output, reference, source.frameRate, source.width, source.height);
    RecordProperty("psnr", std::to_string(psnr));
    EXPECT_GE(psnr, 25.0);

    // The two-pass statistics stay in the work folder, and the merge leaves no scratch files.
    EXPECT_FALSE(fs::exists(dir / "cwd/divx2pass.log"));
    EXPECT_TRUE(fs::exists(work + "divx2pass.log"));
    const std::set<std::string> expected = {"video.264",           "audio.wav",  "audio.mp4",
                                            "tempout.mp4",         "source.mkv", "divx2pass.log",
                                            "divx2pass.log.mbtree"};
    for (const auto& entry : fs::directory_iterator(work)) {
        EXPECT_TRUE(expected.count(entry.path().filename().string())) << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(Slots, SourceKinds,
                         ::testing::Values(SourceCase{"avi", false}, SourceCase{"mkv", false},
                                           SourceCase{"mp4", false}, SourceCase{"ogm", false},
                                           SourceCase{"wmv", false}, SourceCase{"mpg", false},
                                           SourceCase{"noaudio", false}, SourceCase{"dvd", false},
                                           SourceCase{"mp4", true}),
                         [](const auto& info) {
                             return info.param.kind + (info.param.mkvOutput ? "ToMkv" : "");
                         });

// Sources whose pictures do not come at a constant rate, or are turned, telecined, anamorphic or
// 10-bit: the stream follows their time stamps at a rate a player expects, keeps the shape they
// are shown in, and is 8-bit 4:2:0 High profile.
struct PictureCase {
    std::string name;
    std::string kind;
    int frame;  // -1 without "Frame", else its item: 0 "IVTC" (kerndeint), 1 "Deinterlace"
    bool mkvOutput;
    std::string rate;    // of the output
    double aspect;       // displayed width / height of the output
    double minimumPsnr;  // against the source as shown, pictures paired by time stamp
};

class SlotPictures : public ::testing::TestWithParam<PictureCase> {};

TEST_P(SlotPictures, FollowTheSourcesTimeStampsAndShape) {
    const PictureCase& c = GetParam();
    TempDir dir;
    const std::string work = dir / "tarnok/";
    fs::create_directory(work);
    const bool dvd = c.kind.rfind("dvd", 0) == 0;
    const std::string queued = Clip(c.kind);
    const std::string reference =
        dvd ? Clip(c.kind == "dvd" ? "dvdsource" : "dvdsource43") : queued;
    EncodeSettings settings;
    settings.FrameOn = c.frame >= 0;
    settings.FrameMode = std::max(c.frame, 0);
    const JobResult job =
        EncodeJob(queued, dvd, work, dir.path(), settings, c.mkvOutput, dir.path());
    if (HasFailure()) {
        return;
    }
    const tooltest::MediaInfo source = Probe(reference);
    const tooltest::MediaInfo out = Probe(job.output);
    EXPECT_EQ(out.videoCodec, "h264");
    EXPECT_EQ(out.profile, "High");
    EXPECT_EQ(out.pixelFormat, "yuv420p");
    EXPECT_EQ(out.frameRate, c.rate);
    EXPECT_EQ(tooltest::FrameRateWord(job.analysis),
              c.rate == "24000/1001"   ? "23.976"
              : c.rate == "30000/1001" ? "29.970"
                                       : c.rate.substr(0, c.rate.find('/')) + ".000");
    // The picture lasts as long as the source's.
    EXPECT_NEAR(out.duration, source.duration, 0.02 * source.duration + 0.1);
    EXPECT_NEAR(out.displayAspect, c.aspect, c.aspect * 0.02);
    EXPECT_NEAR(source.displayAspect, c.aspect, c.aspect * 0.02) << "the clip itself";
    if (c.minimumPsnr > 0) {
        const bool turned = source.rotation % 180 != 0;
        const double psnr =
            tooltest::Psnr(job.output, reference, c.rate, turned ? source.height : source.width,
                           turned ? source.width : source.height);
        RecordProperty("psnr", std::to_string(psnr));
        EXPECT_GE(psnr, c.minimumPsnr);
    }
    EXPECT_TRUE(tooltest::DecodesCleanly(job.output));
}

INSTANTIATE_TEST_SUITE_P(
    Slots, SlotPictures,
    ::testing::Values(PictureCase{"Phone", "phone", -1, false, "60/1", 180.0 / 320.0, 20},
                      PictureCase{"PhoneToMkv", "phone", -1, true, "60/1", 180.0 / 320.0, 20},
                      PictureCase{"VariableRate", "vfr", -1, false, "30/1", 4.0 / 3.0, 20},
                      PictureCase{"TelecineDeinterlace", "telecine", 1, false, "24000/1001",
                                  4.0 / 3.0, 0},
                      PictureCase{"TelecineIvtc", "telecine", 0, false, "30000/1001", 4.0 / 3.0, 0},
                      PictureCase{"Hevc10Bit", "hevc10", -1, false, "25/1", 176.0 / 144.0, 25},
                      PictureCase{"Dvd16To9", "dvd", -1, false, "25/1", 16.0 / 9.0, 25},
                      PictureCase{"Dvd4To3", "dvd43", -1, true, "25/1", 4.0 / 3.0, 25},
                      PictureCase{"DvInterlaced", "dv", -1, false, "30000/1001", 4.0 / 3.0, 25}),
    [](const auto& info) { return info.param.name; });

// Lip sync: the beeps of the output start within 45 ms of its flashes, in MP4 and in MKV.
class SlotLipSync : public ::testing::TestWithParam<bool> {};

TEST_P(SlotLipSync, BeepsStayWithTheFlashes) {
    TempDir dir;
    const std::string work = dir / "tarnok/";
    fs::create_directory(work);
    const std::string source = Clip("flash");
    ASSERT_EQ(tooltest::FlashStarts(source).size(), 2u) << "the clip itself";
    const JobResult job =
        EncodeJob(source, false, work, dir.path(), EncodeSettings{}, GetParam(), dir.path());
    ASSERT_FALSE(HasFailure());
    const std::vector<double> flashes = tooltest::FlashStarts(job.output);
    const std::vector<double> beeps = tooltest::BeepStarts(job.output);
    ASSERT_GE(flashes.size(), 2u);
    ASSERT_GE(beeps.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(beeps[i], flashes[i], 0.045) << "beep " << i;
        EXPECT_NEAR(flashes[i], i == 0 ? 1.0 : 2.4, 0.1) << "flash " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Slots, SlotLipSync, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Mkv" : "Mp4"; });

// The filters that Debian's mencoder rejects as given, each alone; the levels no combination
// below uses; and every filter together, once with each "Frame" item. The x264 texts of every
// source type and both qualities come along.
struct FilterCase {
    std::string name;
    void (*set)(EncodeSettings&);
    int width, height;
    int sourceType, quality;
};

class SlotFilters : public ::testing::TestWithParam<FilterCase> {};

TEST_P(SlotFilters, Encode) {
    const FilterCase& c = GetParam();
    const std::string source = Clip("avi");
    TempDir dir;
    const std::string work = dir.path() + "/";
    EncodeSettings s;
    s.SourceType = c.sourceType;
    s.VideoQuality = c.quality;
    c.set(s);
    for (bool second : {false, true}) {
        const RunResult pass =
            tooltest::Run(VideoPass(FileSource(source), work, s, second), dir.path());
        ASSERT_EQ(pass.exitCode, 0) << pass.output;
    }
    const tooltest::MediaInfo stream = Probe(work + "video.264");
    EXPECT_EQ(stream.width, c.width);
    EXPECT_EQ(stream.height, c.height);
    // pullup holds back a few frames at the ends of the clip; the AVI's time line has one slot
    // more than it has pictures, which the constant rate fills.
    const long sourceFrames = Probe(source).frames;
    EXPECT_GE(stream.frames, sourceFrames * 0.9);
    EXPECT_LE(stream.frames, sourceFrames + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Slots, SlotFilters,
    ::testing::Values(
        FilterCase{"FrameIvtc", [](EncodeSettings& s) { s.FrameOn = true, s.FrameMode = 0; }, 176,
                   144, 0, 0},
        FilterCase{"FrameDeinterlace", [](EncodeSettings& s) { s.FrameOn = true, s.FrameMode = 1; },
                   176, 144, 1, 1},
        FilterCase{"PostProcessing", [](EncodeSettings& s) { s.PostProcessing = true; }, 176, 144,
                   2, 0},
        FilterCase{"ResizeEmpty", [](EncodeSettings& s) { s.ResizeOn = true, s.ResizeTo = ""; },
                   176, 144, 3, 1},
        FilterCase{"DenoiseSharpenHigh",
                   [](EncodeSettings& s) {
                       s.DenoiseOn = s.SharpenOn = true;
                       s.DenoiseLevel = s.SharpenLevel = 2;
                   },
                   176, 144, 4, 0},
        FilterCase{"AllWithIvtc",
                   [](EncodeSettings& s) {
                       s.FrameOn = s.ResizeOn = s.DenoiseOn = s.SharpenOn = true;
                       s.PostProcessing = s.FixLevels = true;
                   },
                   640, 480, 2, 1},
        FilterCase{"AllWithDeinterlace",
                   [](EncodeSettings& s) {
                       s.FrameOn = s.ResizeOn = s.DenoiseOn = s.SharpenOn = true;
                       s.PostProcessing = s.FixLevels = true;
                       s.FrameMode = 1, s.DenoiseLevel = 1, s.SharpenLevel = 1;
                       s.ResizeTo = "320:240";
                   },
                   320, 240, 3, 0}),
    [](const auto& info) { return info.param.name; });

TEST(SlotNames, AwkwardSourceAndTargetNamesReachTheToolsAsOneWord) {
    TempDir dir;
    const std::string name = "-my clip $HOME `id` \xc3\xbc";  // ü in UTF-8
    const std::string folder = dir / "in $x `y`";
    fs::create_directory(folder);
    fs::copy_file(Clip("avi"), folder + "/" + name + ".avi");
    const std::string work = dir / "tarnok/";
    fs::create_directory(work);

    // Absolute, as the program queues it.
    const JobResult job = EncodeJob(folder + "/" + name + ".avi", false, work, folder,
                                    EncodeSettings{}, false, dir.path());
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(job.output, folder + "/" + name + ".mp4");
    const tooltest::MediaInfo out = Probe(job.output);
    EXPECT_EQ(out.videoCodec, "h264");
    EXPECT_EQ(out.audioCodec, "aac");

    // Relative names beginning with "-" are files, not options.
    fs::copy_file(work + "audio.wav", folder + "/-a.wav");
    const std::vector<std::vector<std::string>> stages = {
        {Slot("mencoder.exe"), name + ".avi", "-mc", "0", "-of", "rawvideo", "-ovc", "x264",
         "-nosound", "-o", "-v.264", "-x264encopts", "bitrate=200", "-vf", "harddup"},
        {Slot("enhAacPlusEnc.exe"), "-a.wav", "-a.mp4", "--cbr", "32000"},
        {Slot("MP4Box.exe"), "-tmp", ".", "-add", "-v.264", "-fps", "25.000", "-new", "-o $x.mp4",
         "-add", "-a.mp4"},
    };
    for (const auto& stage : stages) {
        const RunResult result = tooltest::Run(stage, folder);
        EXPECT_EQ(result.exitCode, 0) << stage[0] << "\n" << result.output;
    }
    const tooltest::MediaInfo relative = Probe(folder + "/-o $x.mp4");
    EXPECT_EQ(relative.videoCodec, "h264");
    EXPECT_EQ(relative.audioCodec, "aac");
}

}  // namespace
