#include <gtest/gtest.h>

#include "pipeline/EncodeSettings.h"
#include "pipeline/ExternalTools.h"

TEST(EncodeSettings, DefaultsAreTheWindowsInitialChoices) {
    const EncodeSettings s;
    EXPECT_EQ(SettingItems::SourceType[s.SourceType], "Anime");
    EXPECT_EQ(SettingItems::OutputFormat[s.OutputFormat], "MP4");
    EXPECT_EQ(s.VideoBitrate, "268");
    EXPECT_EQ(SettingItems::VideoQuality[s.VideoQuality], "Normal");
    EXPECT_EQ(SettingItems::AudioBitrate[s.AudioBitrate], "32 kbps PS");
    EXPECT_TRUE(s.Stereo);
    EXPECT_FALSE(s.FixLevels || s.PostProcessing || s.ResizeOn || s.FrameOn || s.DenoiseOn ||
                 s.SharpenOn || s.ResampleOn);
    EXPECT_EQ(s.ResizeTo, "640:480");
    EXPECT_EQ(SettingItems::FrameMode[s.FrameMode], "IVTC");
    EXPECT_EQ(SettingItems::DenoiseLevel[s.DenoiseLevel], "Low");
    EXPECT_EQ(SettingItems::SharpenLevel[s.SharpenLevel], "Low");
    EXPECT_EQ(SettingItems::ResampleRate[s.ResampleRate], "44 khz");
}

TEST(EncodeSettings, EveryChoiceHasItsExactText) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {SourceTypeText(0), "deblock=0,0:bframes=2:frameref=2:"},
        {SourceTypeText(1), "deblock=1,1:bframes=5:frameref=5:"},
        {SourceTypeText(2), "deblock=-2,-1:bframes=3:frameref=4:"},
        {SourceTypeText(3), "deblock=-3,-1:bframes=3:frameref=3:"},
        {SourceTypeText(4), "deblock=-1,0:bframes=5:frameref=3:"},
        {VideoQualityText(0),
         ":pass=2:8x8dct:weight_b:mixed_refs:me=umh:bime:partitions=all:subq=6:brdo:trellis=1 "},
        {VideoQualityText(1),
         ":pass=2:8x8dct:weight_b:mixed_refs:me=umh:bime:partitions=all:subq=7:brdo:trellis=2 "},
        {AudioBitrateText(0), "16000 "},
        {AudioBitrateText(1), "24000 "},
        {AudioBitrateText(2), "32000 "},
        {AudioBitrateText(3), "48000 "},
        {AudioBitrateText(4), "64000 --disable-ps "},
        {ChannelCountText(true), "2"},
        {ChannelCountText(false), "1"},
        {MonoOptionsText(true), ""},
        {MonoOptionsText(false), " --force-mono --channel-count 1"},
        {FrameFragment(0), "kerndeint,"},
        {FrameFragment(1), "pullup,softskip,"},
        {ResizeFragment("640:480"), "scale=640:480,"},
        {ResizeFragment(""), "scale=,"},
        {ResizeFragment("abc 1"), "scale=abc 1,"},
        {DenoiseFragment(0), "hqdn3d=3:2:5,"},
        {DenoiseFragment(1), "hqdn3d=4:3:6,"},
        {DenoiseFragment(2), "hqdn3d=5:4:7,"},
        {SharpenFragment(0), "unsharp=l5x5:0.5:c:5x5:0.5,"},
        {SharpenFragment(1), "unsharp=l5x5:1:c:5x5:1,"},
        {SharpenFragment(2), "unsharp=l5x5:1.5:c:5x5:1.5,"},
        {PostProcessingFragment(), "fspp,"},
        {FixLevelsFragment(), "pp=al:f,"},
        {ResampleText(0), ",resample=44100:0:2"},
        {ResampleText(1), ",resample=48000:0:2"},
        {OutputExtension(0), ".mp4"},
        {OutputExtension(1), ".mkv"},
        {SourceTypeText(5), ""},
        {AudioBitrateText(-1), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.text, c.expected);
    }
}

TEST(EncodeSettings, ItemListsMatchTheirTexts) {
    EXPECT_EQ(SettingItems::SourceType,
              (std::vector<std::string>{"Generic", "Anime", "Movies", "Sports", "DV Captures"}));
    EXPECT_EQ(SettingItems::AudioBitrate,
              (std::vector<std::string>{"16 kbps PS", "24 kbps PS", "32 kbps PS", "48 kbps PS",
                                        "64 kbps HE"}));
    EXPECT_EQ(SettingItems::ResizeTo,
              (std::vector<std::string>{"320:240", "512:384", "640:360", "640:480", "1280:720"}));
    EXPECT_EQ(SettingItems::FrameMode, (std::vector<std::string>{"IVTC", "Deinterlace"}));
    EXPECT_EQ(SettingItems::ResampleRate, (std::vector<std::string>{"44 khz", "48 khz"}));
}

TEST(EncodeSettings, DefaultOutputFolderIsHomeWithDelimiter) {
    const char* saved = std::getenv("HOME");
    const std::string restore = saved ? saved : "";
    setenv("HOME", "/home/ann", 1);
    EXPECT_EQ(DefaultOutputFolder(), "/home/ann/");
    setenv("HOME", "/home/ann/", 1);
    EXPECT_EQ(DefaultOutputFolder(), "/home/ann/");
    setenv("HOME", "", 1);
    EXPECT_EQ(DefaultOutputFolder(), "/");
    setenv("HOME", restore.c_str(), 1);
}

TEST(ExternalTools, EveryStageHasOneSlot) {
    EXPECT_EQ(ToolFor(Stage::AnalysisPass).SlotFile, "mencoder.exe");
    EXPECT_EQ(ToolFor(Stage::EncodingPass).SlotFile, "mencoder.exe");
    EXPECT_EQ(ToolFor(Stage::AudioExtraction).SlotFile, "mplayer.exe");
    EXPECT_EQ(ToolFor(Stage::AudioEncoding).SlotFile, "enhAacPlusEnc.exe");
    EXPECT_EQ(ToolFor(Stage::Mp4Merge).SlotFile, "MP4Box.exe");
    EXPECT_EQ(ToolFor(Stage::MkvMerge).SlotFile, "mkv/mkvmerge.exe");
    EXPECT_EQ(ToolFor(Stage::MatroskaConversion).SlotFile, "mkv/mkvmerge.exe");
    EXPECT_EQ(ExternalTools().size(), 5u);
}
