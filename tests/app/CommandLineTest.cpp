// "quintaro [FILE|FOLDER]...": what the program makes of its arguments.
#include <gtest/gtest.h>

#include "app/ProgramStart.h"

TEST(CommandLine, PathsBecomeAbsoluteAndClean) {
    struct Case {
        std::vector<std::string> Arguments;
        std::vector<std::string> Paths;
    };
    const Case cases[] = {
        {{}, {}},
        {{"/videos/a.avi"}, {"/videos/a.avi"}},
        {{"clip.mkv", "sub/b.mp4"}, {"/home/u/clip.mkv", "/home/u/sub/b.mp4"}},
        {{"./clip.mkv", "disc/", "/videos//x.avi"},
         {"/home/u/clip.mkv", "/home/u/disc", "/videos/x.avi"}},
        {{"../up.avi"}, {"/home/u/../up.avi"}},  // ".." may cross a link: kept
        {{"a b.avi", "caf\xe9.avi"}, {"/home/u/a b.avi", "/home/u/caf\xe9.avi"}},
        {{"file:///videos/a%20b.avi", "file://localhost/v/caf%E9.avi"},
         {"/videos/a b.avi", "/v/caf\xe9.avi"}},
        {{"--", "-dash.avi", "--help"}, {"/home/u/-dash.avi", "/home/u/--help"}},
        {{"-"}, {"/home/u/-"}},
        {{"/"}, {"/"}},
    };
    for (const Case& c : cases) {
        const CommandLine parsed = ParseCommandLine(c.Arguments, "/home/u");
        EXPECT_EQ(parsed.Paths, c.Paths) << (c.Arguments.empty() ? "" : c.Arguments[0]);
        EXPECT_TRUE(parsed.Error.empty()) << parsed.Error;
        EXPECT_FALSE(parsed.Help || parsed.Version);
    }
}

TEST(CommandLine, OptionsAreKnownOrRefused) {
    EXPECT_TRUE(ParseCommandLine({"--help"}, "/").Help);
    EXPECT_TRUE(ParseCommandLine({"a.avi", "-h"}, "/").Help);
    EXPECT_TRUE(ParseCommandLine({"--version"}, "/").Version);
    const CommandLine unknown = ParseCommandLine({"a.avi", "--fullscreen"}, "/");
    EXPECT_EQ(unknown.Error, "unknown option --fullscreen");
    // A NUL cannot be in a path; such a URI is not taken for one.
    EXPECT_EQ(ParseCommandLine({"file:///a%00b.avi"}, "/x").Paths,
              std::vector<std::string>{"/x/file:/a%00b.avi"});
}
