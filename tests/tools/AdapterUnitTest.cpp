// The adapters' own logic: how the mencoder command line is translated, and which frame rate a
// raw H.264 stream declares.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/tools/ToolTestSupport.h"
#include "tools/H264Timing.h"
#include "tools/MencoderCommand.h"

namespace {

using adapter::FrameRate;

TEST(MencoderCommand, TranslatesOnlyWhatTodaysX264Rejects) {
    struct Case {
        std::string given;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"deblock=1,1:bframes=5:frameref=5:threads=auto:b_pyramid:nofast_pskip:nopsnr:bitrate=268:"
         "pass=1:turbo=2",
         "deblock=1,1:bframes=5:frameref=5:threads=auto:b_pyramid=normal:nofast_pskip:nopsnr:"
         "bitrate=268:pass=1:turbo=2"},
        {"deblock=-2,-1:bitrate=268:pass=2:8x8dct:weight_b:mixed_refs:me=umh:bime:partitions=all:"
         "subq=7:brdo:trellis=2",
         "deblock=-2,-1:bitrate=268:pass=2:8x8dct:weight_b:mixed_refs:me=umh:partitions=all:"
         "subq=7:trellis=2"},
        {"nob_pyramid:nobime:nobrdo:bitrate=", "b_pyramid=none:bitrate="},
        {"b_pyramid=strict", "b_pyramid=strict"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(adapter::TranslateX264Options(c.given), c.expected) << c.given;
    }
}

TEST(MencoderCommand, RepairsTheFiltersDebiansMencoderRejects) {
    struct Case {
        std::string given;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"harddup", "harddup"},
        {"harddup,fspp", "harddup,pp7"},
        {"harddup,kerndeint", "harddup,kerndeint,scale"},
        {"harddup,kerndeint,hqdn3d=3:2:5", "harddup,kerndeint,scale,hqdn3d=3:2:5"},
        {"harddup,kerndeint,scale=640:480,hqdn3d=3:2:5,unsharp=l5x5:0.5:c:5x5:0.5,fspp,pp=al:f",
         "harddup,kerndeint,scale=640:480,hqdn3d=3:2:5,unsharp=l5x5:0.5:c:5x5:0.5,pp7,pp=al:f"},
        {"harddup,pullup,softskip,scale=", "harddup,pullup,softskip,scale="},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(adapter::TranslateFilterChain(c.given), c.expected) << c.given;
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

TEST(MencoderCommand, PlansTheRealCommandLine) {
    struct Case {
        std::string args;      // blank-separated
        std::string expected;  // blank-separated
    };
    const std::string tail = "-o /w/video.264 -x264encopts bitrate=268 -vf harddup";
    const std::vector<Case> cases = {
        // File: libavformat demuxer, no frame skipping, statistics beside the stream.
        {"/v/clip.avi -mc 0 " + tail,
         "mencoder -demuxer lavf -noskip -passlogfile /w/divx2pass.log /v/clip.avi -mc 0 " + tail},
        {"dvd://1 -dvd-device /v/DVD -mc 0 " + tail,
         "mencoder -demuxer lavf -noskip -passlogfile /w/divx2pass.log dvd://1 -dvd-device /v/DVD "
         "-mc 0 " +
             tail},
        // A relative name that looks like an option.
        {"-clip.avi " + tail,
         "mencoder -demuxer lavf -noskip -passlogfile /w/divx2pass.log ./-clip.avi " + tail},
        // pullup drops frames through softskip, which needs mencoder's frame skipping.
        {"/v/a.avi -o video.264 -vf harddup,pullup,softskip",
         "mencoder -demuxer lavf -passlogfile ./divx2pass.log /v/a.avi -o video.264 -vf "
         "harddup,pullup,softskip"},
        // What the command line already says is kept.
        {"/v/a.avi -demuxer mkv -noskip -passlogfile /p/log -o /w/v.264",
         "mencoder /v/a.avi -demuxer mkv -noskip -passlogfile /p/log -o /w/v.264"},
    };
    for (const Case& c : cases) {
        const adapter::MencoderPlan plan = adapter::PlanMencoder(Words(c.args));
        EXPECT_EQ(plan.error, "") << c.args;
        EXPECT_EQ(plan.argv, Words(c.expected)) << c.args;
    }
}

TEST(MencoderCommand, RefusesCommandLinesItCannotRead) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {""}, {"/v/a.avi", "-mc", "0"}, {"/v/a.avi", "-o"}, {"/v/a.avi", "-o", "x", "-vf"}};
    for (const auto& args : cases) {
        EXPECT_NE(adapter::PlanMencoder(args).error, "") << ::testing::PrintToString(args);
    }
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
    }
    EXPECT_EQ(adapter::ReadH264FrameRate(dir / "missing.264"), std::nullopt);
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
