#include <sys/wait.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/ChildProcess.h"
#include "console/DosCommand.h"

namespace {

struct SplitCase {
    const char* name;
    std::string line;
    std::vector<std::string> words;
};

class SplitCommandLineTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, SplitsByWindowsRules) {
    EXPECT_EQ(childprocess::SplitCommandLine(GetParam().line), GetParam().words);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCommandLineTest,
    testing::Values(
        SplitCase{"Empty", "", {}}, SplitCase{"OnlyBlanks", "   \t ", {}},
        SplitCase{"ProgramAndArguments",
                  "/opt/q/mencoder.exe -ovc x264",
                  {"/opt/q/mencoder.exe", "-ovc", "x264"}},
        SplitCase{"RunsOfBlanksAndTabs", "  prog   a\tb  ", {"prog", "a", "b"}},
        SplitCase{"QuotedSpans", "\"/my dir/prog\" \"a b\" c", {"/my dir/prog", "a b", "c"}},
        SplitCase{"QuoteInsideWord", "prog a\" b\"c d", {"prog", "a bc", "d"}},
        SplitCase{"EmptyQuotedWord", "prog \"\" x", {"prog", "", "x"}},
        // Backslashes are literal unless a double quote follows them.
        SplitCase{"LiteralBackslashes", "prog a\\b c\\\\d", {"prog", "a\\b", "c\\\\d"}},
        SplitCase{"EscapedQuote", "prog a\\\"b", {"prog", "a\"b"}},
        SplitCase{"EvenBackslashesBeforeQuote", "prog \"a\\\\\" b", {"prog", "a\\", "b"}},
        SplitCase{"OddBackslashesBeforeQuote", "prog a\\\\\\\"b", {"prog", "a\\\"b"}},
        // The program keeps its backslashes.
        SplitCase{"ProgramKeepsBackslashes", "\"C:\\tools\\\" x", {"C:\\tools\\", "x"}},
        // The video stream file is not quoted, a path with a colon is a plain word.
        SplitCase{"ColonIsPlain",
                  "mkv/mkvmerge.exe -o \"/out/a:b.mkv\" /tmp/tarnok/video.264",
                  {"mkv/mkvmerge.exe", "-o", "/out/a:b.mkv", "/tmp/tarnok/video.264"}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(ExitCodeTest, StatusIsASignedByteAndSignalsAre128Plus) {
    struct Case {
        int status;
        uint32_t code;
    } cases[] = {
        {0 << 8, 0},
        {3 << 8, 3},
        {127 << 8, 127},
        {254 << 8, 0xFFFFFFFEu},  // exit(-2)
        {255 << 8, 0xFFFFFFFFu},
        {128 << 8, 0xFFFFFF80u},
        {SIGTERM, 128 + SIGTERM},
        {SIGKILL, 128 + SIGKILL},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(childprocess::ExitCodeFromWaitStatus(c.status), c.code) << c.status;
    }
    EXPECT_EQ(static_cast<int32_t>(childprocess::ExitCodeFromWaitStatus(254 << 8)), -2);
}

TEST(ExitCodeTest, PriorityClassToNice) {
    EXPECT_EQ(childprocess::NiceForPriorityClass(64), 19);
    EXPECT_EQ(childprocess::NiceForPriorityClass(32), -1);
    EXPECT_EQ(childprocess::NiceForPriorityClass(0x10 | 64), 19);
    EXPECT_EQ(childprocess::NiceForPriorityClass(0x4000), 10);
    EXPECT_EQ(childprocess::NiceForPriorityClass(128), -1);
}

TEST(ResolveProgramTest, SearchesPathOnlyForBareNames) {
    EXPECT_EQ(childprocess::ResolveProgram("./x/y"), "./x/y");
    EXPECT_EQ(childprocess::ResolveProgram(""), "");
    EXPECT_FALSE(childprocess::ResolveProgram("sh").empty());
    EXPECT_EQ(childprocess::ResolveProgram("quintaro-no-such-tool"), "");
}

TEST(EnumerationTest, OrdinalsAndWindowsValues) {
    const std::pair<TShowWindow, int> show[] = {
        {swHIDE, 0},          {swMAXIMIZE, 3},       {swMINIMIZE, 6},
        {swRESTORE, 9},       {swSHOW, 5},           {swSHOWDEFAULT, 10},
        {swSHOWMAXIMIZED, 3}, {swSHOWMINIMIZED, 2},  {swSHOWMINNOACTIVE, 7},
        {swSHOWNA, 8},        {swSHOWNOACTIVATE, 4}, {swSHOWNORMAL, 1}};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(static_cast<int>(show[i].first), i);
        EXPECT_EQ(ShowWindowValue(show[i].first), show[i].second) << i;
    }
    const std::pair<TCreationFlag, uint32_t> flags[] = {
        {fCREATE_DEFAULT_ERROR_MODE, 0x4000000}, {fCREATE_NEW_CONSOLE, 0x10},
        {fCREATE_NEW_PROCESS_GROUP, 0x200},      {fCREATE_SEPARATE_WOW_VDM, 0x800},
        {fCREATE_SHARED_WOW_VDM, 0x1000},        {fCREATE_SUSPENDED, 0x4},
        {fCREATE_UNICODE_ENVIRONMENT, 0x400},    {fDEBUG_PROCESS, 0x1},
        {fDEBUG_ONLY_THIS_PROCESS, 0x2},         {fDETACHED_PROCESS, 0x8}};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(static_cast<int>(flags[i].first), i);
        EXPECT_EQ(CreationFlagValue(flags[i].first), flags[i].second) << i;
    }
    EXPECT_EQ(otEntireLine, 0);
    EXPECT_EQ(otBeginningOfLine, 1);
    EXPECT_EQ(rcCRLF, 0);
    EXPECT_EQ(rcLF, 1);
}

}  // namespace
