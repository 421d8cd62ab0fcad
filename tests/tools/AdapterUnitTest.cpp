// The adapters' own logic: how the mencoder command line is translated for the video engine, the
// engine's choices and lines, and which frame rate a raw H.264 stream declares.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tools/ToolTestSupport.h"
#include "tools/H264Timing.h"
#include "tools/MencoderCommand.h"
#include "tools/SourceProbe.h"
#include "tools/VideoEngine.h"

namespace {

using adapter::FrameRate;

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ":") + item;
    }
    return text;
}

TEST(MencoderCommand, TranslatesX264EncoptsIntoX264sOwnNames) {
    struct Case {
        std::string given;
        int pass, turbo;
        std::string params;
    };
    const std::string head =
        "deblock=1,1:bframes=5:frameref=5:threads=auto:b_pyramid:nofast_pskip:"
        "nopsnr:bitrate=268";
    const std::vector<Case> cases = {
        // The analysis pass: the fast first pass sets ref and fast-pskip itself.
        {head + ":pass=1:turbo=2", 1, 2,
         "deblock=1,1:bframes=5:threads=auto:b-pyramid=normal:psnr=0:bitrate=268"},
        // The encoding pass, "High": every option carried over, bime and brdo gone.
        {head + ":pass=2:8x8dct:weight_b:mixed_refs:me=umh:bime:partitions=all:subq=7:brdo:"
                "trellis=2",
         2, 0,
         "deblock=1,1:bframes=5:ref=5:threads=auto:b-pyramid=normal:fast-pskip=0:psnr=0:"
         "bitrate=268:8x8dct=1:weightb=1:mixed-refs=1:me=umh:partitions=all:subme=7:trellis=2"},
        // A slow first pass keeps every option.
        {"frameref=3:bitrate=100:pass=1", 1, 0, "ref=3:bitrate=100"},
        {"deblock=-2,-1:nob_pyramid:nobime:nobrdo:bitrate=5", 0, 0,
         "deblock=-2,-1:b-pyramid=none:bitrate=5"},
        {"b_pyramid=2:bitrate=1", 0, 0, "b-pyramid=normal:bitrate=1"},
    };
    for (const Case& c : cases) {
        const adapter::X264Plan plan = adapter::TranslateX264Options(c.given);
        EXPECT_EQ(plan.error, "") << c.given;
        EXPECT_EQ(plan.pass, c.pass) << c.given;
        EXPECT_EQ(plan.turbo, c.turbo) << c.given;
        EXPECT_EQ(Joined(plan.params), c.params) << c.given;
    }
    // An empty or typed-over bitrate is refused, not encoded at some other rate.
    for (const std::string bad : {"bitrate=:pass=1", "bitrate=2 68", "bitrate=-5", "pass=x"}) {
        EXPECT_NE(adapter::TranslateX264Options(bad).error, "") << bad;
    }
}

TEST(MencoderCommand, TranslatesTheFilterChainIntoFfmpegsFilters) {
    struct Case {
        std::string given;
        std::string expected;  // the ffmpeg filters, comma-separated
        bool pullup, quantizers;
    };
    const std::vector<Case> cases = {
        {"harddup", "", false, false},
        {"harddup,kerndeint", "kerndeint", false, false},
        {"harddup,pullup,softskip", "pullup", true, false},
        // Postprocessing goes first, on the picture as decoded, where its quantizers fit.
        {"harddup,kerndeint,scale=640:480,hqdn3d=3:2:5,unsharp=l5x5:0.5:c:5x5:0.5,fspp,pp=al:f",
         "fspp,pp=al|f;kerndeint,scale=w=640:h=480,hqdn3d=3:2:5,unsharp=5:5:0.5:5:5:0.5", false,
         true},
        {"harddup,pullup,softskip,scale=320:240,hqdn3d=5:4:7,unsharp=l5x5:1.5:c:5x5:1.5",
         "pullup,scale=w=320:h=240,hqdn3d=5:4:7,unsharp=5:5:1.5:5:5:1.5", true, false},
        // An empty size keeps the picture as it is.
        {"harddup,scale=", "", false, false},
        {"harddup,scale=,pp=al:f", "pp=al|f;", false, true},
        {"unsharp=l3x5:0.8:c7x7:-0.2", "unsharp=3:5:0.8:7:7:-0.2", false, false},
        {"unsharp=l5x5:1", "unsharp=5:5:1:5:5:0", false, false},
    };
    for (const Case& c : cases) {
        const adapter::FilterPlan plan = adapter::TranslateFilterChain(c.given);
        EXPECT_EQ(plan.error, "") << c.given;
        std::string filters;
        for (const std::string& filter : plan.sourceFilters) {
            filters += (filters.empty() ? "" : ",") + filter;
        }
        filters += plan.sourceFilters.empty() ? "" : ";";
        for (const std::string& filter : plan.filters) {
            filters += (filters.empty() || filters.back() == ';' ? "" : ",") + filter;
        }
        EXPECT_EQ(filters, c.expected) << c.given;
        EXPECT_EQ(plan.pullup, c.pullup) << c.given;
        EXPECT_EQ(plan.needsQuantizers, c.quantizers) << c.given;
    }
    // Typed sizes never reach ffmpeg's graph parser as anything but a size.
    for (const std::string bad : {"harddup,scale=640:480;movie=/etc/passwd", "scale=[in]",
                                  "scale=640:480[x]", "dsize=4/3", "unsharp=lfoo"}) {
        EXPECT_NE(adapter::TranslateFilterChain(bad).error, "") << bad;
    }
}

TEST(MencoderCommand, TranslatesMencodersScaleSizes) {
    struct Case {
        std::string given, expected;
    };
    const std::vector<Case> cases = {
        {"640:480", "scale=w=640:h=480"},
        {"", ""},
        {":", ""},
        {"-1:-1", ""},
        {"640", "scale=w=640:h=ih"},
        {"640:-2", "scale=w=640:h=-2"},
        {"-3:360", "scale=w=2*trunc(oh*dar/2):h=360"},
        {"0:0", "scale=w=2*trunc(iw*sar/2):h=ih"},
        {"-10:480", "scale=w=-16:h=480"},
        {"720:576:1", "scale=w=720:h=576:interl=1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(adapter::TranslateScale(c.given), c.expected) << c.given;
    }
    for (const std::string bad : {"640x480", "a:b", "-4:480", "640:1e3"}) {
        EXPECT_EQ(adapter::TranslateScale(bad), std::nullopt) << bad;
    }
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find(' ', start);
        words.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return words;
}

TEST(MencoderCommand, ReadsTheProgramsCommandLines) {
    const adapter::MencoderRequest file = adapter::ParseMencoderCommand(
        Words("/v/clip.avi -mc 0 -of rawvideo -ovc x264 -oac pcm -o /w/video.264 -x264encopts "
              "bitrate=268:pass=1 -nosound -vf harddup,kerndeint"));
    EXPECT_EQ(file.error, "");
    EXPECT_FALSE(file.dvd);
    EXPECT_EQ(file.source, "/v/clip.avi");
    EXPECT_EQ(file.streamPath, "/w/video.264");
    EXPECT_EQ(file.statsPath, "/w/divx2pass.log");
    EXPECT_EQ(file.x264Options, "bitrate=268:pass=1");
    EXPECT_EQ(file.filterChain, "harddup,kerndeint");

    const adapter::MencoderRequest dvd = adapter::ParseMencoderCommand(
        Words("dvd://1 -dvd-device /v/MY_DVD -mc 0 -o video.264 -vf-add scale -vf harddup "
              "-vf-pre pp -passlogfile /p/log -ofps 25"));
    EXPECT_EQ(dvd.error, "");
    EXPECT_TRUE(dvd.dvd);
    EXPECT_EQ(dvd.dvdTitle, 1);
    EXPECT_EQ(dvd.source, "/v/MY_DVD");
    EXPECT_EQ(dvd.statsPath, "/p/log");
    EXPECT_EQ(dvd.filterChain, "pp,harddup,scale");
    EXPECT_EQ(dvd.outputRate, (FrameRate{25, 1}));

    const std::vector<std::vector<std::string>> bad = {
        {},
        {""},
        {"/v/a.avi", "-mc", "0"},
        {"/v/a.avi", "-o"},
        {"/v/a.avi", "-o", "x", "-vf"},
        {"/v/a.avi", "-o", "x", "-ovc", "lavc"},
        {"/v/a.avi", "-o", "x", "-frobnicate"},
        {"dvd://1", "-o", "x"},
        {"dvd://x", "-dvd-device", "/d", "-o", "x"},
    };
    for (const auto& args : bad) {
        EXPECT_NE(adapter::ParseMencoderCommand(args).error, "") << ::testing::PrintToString(args);
    }
}

adapter::VideoStreamInfo Video(const std::string& nominal, const std::string& average,
                               long frames = 0, double duration = 0) {
    adapter::VideoStreamInfo video;
    video.index = 0;
    video.nominalRate = adapter::ParseRate(nominal);
    video.averageRate = adapter::ParseRate(average);
    video.frames = frames;
    if (duration > 0) {
        video.duration = duration;
    }
    return video;
}

TEST(VideoEngine, ChoosesTheRateAPlayerExpects) {
    struct Case {
        std::string name;
        adapter::VideoStreamInfo video;
        bool pullup;
        FrameRate expected;
    };
    const std::vector<Case> cases = {
        {"constant", Video("25/1", "25/1"), false, {25, 1}},
        {"ntsc", Video("30000/1001", "30000/1001"), false, {30000, 1001}},
        {"ntsc in decimals", Video("2997/100", "0/0"), false, {30000, 1001}},
        {"sixty is not 59.94", Video("60/1", "60/1"), false, {60, 1}},
        {"phone, variable", Video("60/1", "9240/179"), false, {60, 1}},
        {"screen recorder", Video("30/1", "40/4"), false, {30, 1}},
        {"millisecond time base", Video("1000/1", "24000/1001"), false, {24000, 1001}},
        {"90 kHz time base", Video("90000/1", "2997/100"), false, {30000, 1001}},
        {"time base, no average", Video("1000/1", "0/0", 100, 4.0), false, {25, 1}},
        {"nothing known", Video("0/0", "0/0"), false, {25, 1}},
        {"field rate", Video("50/1", "25/1"), false, {25, 1}},
        {"slow motion", Video("120/1", "120/1"), false, {120, 1}},
        {"telecined film", Video("30000/1001", "30000/1001"), true, {24000, 1001}},
        {"telecined at 30", Video("30/1", "30/1"), true, {24, 1}},
        {"pullup of PAL", Video("25/1", "25/1"), true, {25, 1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(adapter::ChooseOutputRate(c.video, c.pullup), c.expected) << c.name;
    }
}

TEST(VideoEngine, ReadsFfprobesDescription) {
    const std::string text =
        "[STREAM]\nindex=0\ncodec_name=mjpeg\ncodec_type=video\nwidth=300\nheight=300\n"
        "r_frame_rate=90000/1\navg_frame_rate=0/0\nDISPOSITION:attached_pic=1\n[/STREAM]\n"
        "[STREAM]\nindex=1\ncodec_name=h264\ncodec_type=video\nwidth=640\nheight=360\n"
        "sample_aspect_ratio=8:9\npix_fmt=yuv420p10le\nr_frame_rate=60/1\n"
        "avg_frame_rate=9240/179\nstart_time=0.021000\nduration=2.983333\nbit_rate=1101420\n"
        "nb_frames=154\nDISPOSITION:attached_pic=0\n[SIDE_DATA]\nrotation=90\n[/SIDE_DATA]\n"
        "[/STREAM]\n"
        "[STREAM]\nindex=2\ncodec_name=aac\ncodec_type=audio\nsample_rate=48000\nchannels=2\n"
        "start_time=-0.021333\nbit_rate=N/A\n[/STREAM]\n"
        "[STREAM]\nindex=3\ncodec_name=ac3\ncodec_type=audio\nsample_rate=44100\n[/STREAM]\n"
        "[FORMAT]\nstart_time=-0.021333\nduration=3.000000\n[/FORMAT]\n";
    adapter::SourceInfo info = adapter::ParseProbe(text);
    EXPECT_EQ(info.video.index, 1);  // not the cover picture
    EXPECT_EQ(info.video.codec, "h264");
    EXPECT_EQ(info.video.width, 640);
    EXPECT_EQ(info.video.sar, (FrameRate{8, 9}));
    EXPECT_EQ(info.video.pixelFormat, "yuv420p10le");
    EXPECT_EQ(info.video.nominalRate, (FrameRate{60, 1}));
    EXPECT_EQ(info.video.averageRate, (FrameRate{9240, 179}));
    EXPECT_EQ(info.video.frames, 154);
    EXPECT_EQ(info.video.rotation, 270);
    EXPECT_EQ(info.audio.index, 2);  // the first audio track
    EXPECT_EQ(info.audio.channels, 2);
    EXPECT_EQ(info.audio.bitRate, 0);
    EXPECT_DOUBLE_EQ(*info.duration, 3.0);
    // The picture starts where the sound starts.
    EXPECT_NEAR(adapter::OutputStart(info), 0.0, 1e-9);
    info.audio.start = 0.5;
    EXPECT_NEAR(adapter::OutputStart(info), 0.521333, 1e-6);

    const adapter::SourceInfo none = adapter::ParseProbe("");
    EXPECT_EQ(none.video.index, -1);
    EXPECT_EQ(none.audio.index, -1);
}

TEST(VideoEngine, PrintsMencodersLinesForTheProgramToRead) {
    adapter::VideoStreamInfo video = Video("60/1", "60/1");
    video.codec = "h264";
    video.width = 640;
    video.height = 360;
    video.bitRate = 1101420;
    const std::string line = adapter::VideoLine(video, {60, 1});
    EXPECT_EQ(line, "VIDEO:  [H264]  640x360  24bpp  60.000 fps  1101.4 kbps (134.5 kbyte/s)");
    EXPECT_EQ(tooltest::FrameRateWord(line), "60.000");
    EXPECT_EQ(tooltest::FrameRateWord(adapter::VideoLine(video, {30000, 1001})), "29.970");
    EXPECT_EQ(tooltest::FrameRateWord(adapter::VideoLine(video, {120, 1})), "120.000");

    adapter::AudioStreamInfo audio;
    audio.sampleRate = 48000;
    audio.channels = 2;
    EXPECT_EQ(adapter::AudioLine(audio).rfind("AUDIO: 48000 Hz, 2 ch, ", 0), 0u);

    adapter::ProgressReader reader;
    EXPECT_FALSE(reader.Feed("frame=470\nfps=236.54\nout_time_us=18800000\ntotal_si"));
    EXPECT_TRUE(reader.Feed("ze=632000\nspeed=3x\nprogress=continue\nframe=4"));
    EXPECT_EQ(reader.Latest().frame, 470);
    EXPECT_FALSE(reader.Latest().end);
    EXPECT_EQ(adapter::ProgressLine(reader.Latest(), 60.0, 2.0),
              "Pos:  18.8s    470f (31%) 235.00fps Trem:   0min    1mb  A-V:0.000 [268:0]");
    EXPECT_TRUE(reader.Feed("80\nout_time_us=N/A\nprogress=end\n"));
    EXPECT_EQ(reader.Latest().frame, 480);
    EXPECT_TRUE(reader.Latest().end);
    // Without a known length: no percentage and no estimate.
    EXPECT_EQ(adapter::ProgressLine(reader.Latest(), 0, 2.0),
              "Pos:   0.0s    480f ( 0%) 240.00fps Trem:   0min    0mb  A-V:0.000 [0:0]");
}

TEST(VideoEngine, EscapesValuesInFfmpegOptionLists) {
    EXPECT_EQ(adapter::EscapeOptionValue("/home/u/.cache/tarnok/divx2pass.log"),
              "/home/u/.cache/tarnok/divx2pass.log");
    EXPECT_EQ(adapter::EscapeOptionValue("/a b:c='d\\"), "/a\\ b\\:c\\=\\'d\\\\");
    const adapter::LogLine line = adapter::ParseLogLine(
        "[libx264 @ 0x55b6] [error] ratecontrol_end: stats file could not "
        "be written to\r");
    EXPECT_EQ(line.level, "error");
    EXPECT_EQ(line.text, "ratecontrol_end: stats file could not be written to");
    EXPECT_EQ(adapter::ParseLogLine("[error] a: No such file").text, "a: No such file");
    EXPECT_EQ(adapter::ParseLogLine("plain").level, "");
}

// A baseline sequence parameter set, with or without VUI timing.
std::string MakeSps(bool timing, uint32_t unitsInTick, uint32_t timeScale) {
    std::vector<int> bits;
    auto put = [&bits](uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            bits.push_back(static_cast<int>((value >> i) & 1));
        }
    };
    auto ue = [&put](uint64_t value) {
        int length = 0;
        while ((value + 1) >> (length + 1)) {
            ++length;
        }
        put(0, length);
        put(value + 1, length + 1);
    };
    put(66, 8);  // baseline
    put(0, 8);
    put(30, 8);
    ue(0);  // sps id
    ue(0);  // log2_max_frame_num - 4
    ue(2);  // pic order count type
    ue(1);  // reference frames
    put(0, 1);
    ue(10);     // width in macroblocks - 1
    ue(8);      // height in map units - 1
    put(1, 1);  // frame_mbs_only
    put(1, 1);  // direct_8x8_inference
    put(0, 1);  // no cropping
    put(timing ? 1 : 0, 1);
    if (timing) {
        put(0, 4);  // no aspect, overscan, signal type, chroma location
        put(1, 1);
        put(unitsInTick, 32);
        put(timeScale, 32);
        put(1, 1);
        put(0, 5);  // no HRD, no pic_struct, no restrictions
    }
    put(1, 1);  // stop bit
    while (bits.size() % 8) {
        bits.push_back(0);
    }
    std::string nal = {'\0', '\0', '\0', '\1', '\x67'};
    int zeros = 0;
    for (size_t i = 0; i < bits.size(); i += 8) {
        int byte = 0;
        for (size_t j = 0; j < 8; ++j) {
            byte = (byte << 1) | bits[i + j];
        }
        if (zeros >= 2 && byte <= 3) {
            nal += '\3';
            zeros = 0;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        nal += static_cast<char>(byte);
    }
    return nal + std::string("\0\0\1\x68", 4);
}

TEST(H264Timing, ReadsTheTimingOfHandMadeParameterSets) {
    // 1001 and 60000 put runs of zero bytes into the set, so emulation prevention is exercised.
    EXPECT_EQ(adapter::ParseH264FrameRate(MakeSps(true, 1001, 60000)), (FrameRate{30000, 1001}));
    EXPECT_EQ(adapter::ParseH264FrameRate(MakeSps(true, 1, 50)), (FrameRate{25, 1}));
    EXPECT_EQ(adapter::ParseH264FrameRate(MakeSps(false, 0, 0)), std::nullopt);
    EXPECT_EQ(adapter::ParseH264FrameRate(MakeSps(true, 0, 50)), std::nullopt);
    EXPECT_EQ(adapter::ParseH264FrameRate(std::string("\0\0\1\x67\x64", 5)), std::nullopt);
    EXPECT_EQ(adapter::ParseH264FrameRate("no start code here"), std::nullopt);
}

TEST(H264Timing, ReadsTheTimingX264Writes) {
    tooltest::TempDir dir;
    for (const std::string rate : {"25", "30000/1001", "24000/1001", "50"}) {
        const std::string stream = dir / "stream.264";
        const tooltest::RunResult made =
            tooltest::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                           "testsrc=size=64x48:duration=0.2:rate=" + rate, "-c:v", "libx264", "-f",
                           "h264", stream});
        ASSERT_EQ(made.exitCode, 0) << made.output;
        const auto parsed = adapter::ReadH264FrameRate(stream);
        ASSERT_TRUE(parsed) << rate;
        EXPECT_EQ(adapter::ToText(*parsed), rate);
        // The merge checks its result against the stream's pictures.
        const long expected = tooltest::Probe(stream).frames;
        EXPECT_GT(expected, 0);
        EXPECT_EQ(adapter::CountH264Pictures(stream), expected) << rate;
    }
    EXPECT_EQ(adapter::ReadH264FrameRate(dir / "missing.264"), std::nullopt);
    EXPECT_EQ(adapter::CountH264Pictures(dir / "missing.264"), std::nullopt);
}

TEST(H264Timing, TakesDecimalRatesAsTheirUsualFractions) {
    struct Case {
        double fps;
        FrameRate expected;
    };
    const std::vector<Case> cases = {
        {25.0, {25, 1}},         {29.97, {30000, 1001}}, {29.970, {30000, 1001}},
        {23.976, {24000, 1001}}, {59.94, {60000, 1001}}, {12.5, {25, 2}},
        {1000.0, {1000, 1}},     {30.0, {30, 1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(adapter::FrameRateFromDecimal(c.fps), c.expected) << c.fps;
    }
}

}  // namespace
