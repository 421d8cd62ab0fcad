#include <gtest/gtest.h>

#include "pipeline/AnalysisOutput.h"

using Lines = std::vector<std::string>;

TEST(AnalysisOutput, AudioOnlyFromLinesStartingWithUpperCaseAudio) {
    EXPECT_TRUE(HasAudio({"Opening video", "AUDIO: 44100 Hz, 2 ch, s16le, 128.0 kbit"}));
    EXPECT_TRUE(HasAudio({"AUDIO"}));
    EXPECT_FALSE(HasAudio({"Audio: no sound", " AUDIO: indented", "AUDI", ""}));
    EXPECT_FALSE(HasAudio({}));
}

TEST(AnalysisOutput, FrameRateIsTheFifthWordOfTheFirstVideoLine) {
    struct Case {
        Lines lines;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {{"VIDEO:  [FMP4]  320x240  24bpp  25.000 fps  327.7 kbps (40.0 kbyte/s)"}, "25.000"},
        {{"junk", "VIDEO:  MPEG2  352x288  (aspect 1)  25.000 fps  1800.0 kbps"}, "1)"},
        {{"VIDEO: [H264] 640x480 24bpp 29.970 fps", "VIDEO: [X] 1x1 1bpp 12.000 fps"}, "29.970"},
        {{"   VIDEO: not at the start 1 2 3"}, std::nullopt},
        {{"Video: [FMP4] 320x240 24bpp 25.000 fps"}, std::nullopt},
        {{"VIDEO: [FMP4] 320x240 24bpp"}, std::nullopt},
        {{"VIDEO: [FMP4] 320x240 24bpp 25.000 fps"}, "25.000"},
        {{"VIDEO:\t[FMP4]\t320x240\t24bpp\t23.976"}, "23.976"},
        {{"VIDEO: \"two words\" 320x240 24bpp \"30 fps\" rest"}, "30 fps"},
        {{"VIDEO: \"a \"\"quoted\"\" word\" b c 12.5"}, "12.5"},
        {{"VIDEO: \"x    y\" b c \"a  b\""}, "a b"},
        {{}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FrameRate(c.lines), c.expected) << (c.lines.empty() ? "" : c.lines.back());
    }
}

TEST(AnalysisOutput, AVideoLineThatCameInPiecesIsReadWhole) {
    const std::string whole = "VIDEO:  [H264]  640x360  24bpp  59.940 fps  1200.0 kbps";
    struct Case {
        const char* name;
        Lines lines;
        std::vector<bool> unfinished;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"two reads", {"VIDEO:  [H264]  640x360  24bpp  5", whole}, {true, false}, "59.940"},
        {"three reads, the last still open",
         {"x", "VIDEO:  [H2", "VIDEO:  [H264]  640x360  24bpp  59.9"},
         {false, true, true},
         "59.9"},
        {"never completed", {"VIDEO:  [H264]  640x360  24bpp  2"}, {true}, "2"},
        // A complete line is what it is, whatever follows it.
        {"complete line first", {"VIDEO: a b c 25 x", "VIDEO: a b c 25 x y"}, {false, false}, "25"},
        {"without flags", {"VIDEO:  [H264]  640x360  24bpp  5", whole}, {}, "5"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FrameRate(c.lines, c.unfinished), c.expected) << c.name;
    }
}

TEST(AnalysisOutput, WordSplitting) {
    EXPECT_EQ(SplitWords("  a  b\t\tc "), (Lines{"a", "b", "c"}));
    EXPECT_EQ(SplitWords("\"a \"\"b\"\"\" c"), (Lines{"a \"b\"", "c"}));
    EXPECT_EQ(SplitWords("\"open quote runs to the end"), (Lines{"open quote runs to the end"}));
    EXPECT_EQ(SplitWords("\"ab\"cd"), (Lines{"ab", "cd"}));
    EXPECT_EQ(SplitWords("\"\" x"), (Lines{"", "x"}));
    EXPECT_EQ(SplitWords(""), Lines{});
}
