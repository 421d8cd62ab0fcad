#include <gtest/gtest.h>

#include <map>

#include "pipeline/FailureReason.h"

using Lines = std::vector<std::string>;

namespace {

const std::string kLine = "\"/opt/q/mencoder.exe\" \"/in/a.avi\"  -mc 0";

std::string Reason(const Lines& output, int result = 1, ToolRunDetails details = {},
                   bool ownWordOnly = false) {
    const std::map<std::string, uint64_t> room = {{"/work/", 0}, {"/out/", 5000000}};
    return FailureReason(kLine, result, details, output, {"/work/", "/out/"}, ownWordOnly,
                         [&](const std::string& folder) { return room.at(folder); });
}

}  // namespace

TEST(FailureReason, TakenFromWhatTheToolSaid) {
    ToolRunDetails unfinishedLast;
    unfinishedLast.unfinished = {false, false, true};
    struct Case {
        const char* name;
        Lines output;
        ToolRunDetails details;
        std::string expected;
    };
    const Case cases[] = {
        {"its own word beats later lines",
         {"mencoder.exe: no video stream in a.avi", "Pos: 1.0s 25f (4%)", ""},
         {},
         "mencoder.exe: no video stream in a.avi"},
        {"else the last complete line", {"one", "two  \t", ""}, {}, "two"},
        {"a complete line beats an unfinished one",
         {"x", "said", "Pos: 3"},
         unfinishedLast,
         "said"},
        {"the full folder is the one the tool named",
         {"av_interleaved_write_frame(): No space left on device (/out/a.mp4.part)"},
         {},
         "No space left on device (/out/)"},
        {"else the one with the least room",
         {"write error: No space left on device"},
         {},
         "No space left on device (/work/)"},
        {"silence", {}, {}, "mencoder.exe ended with code 1 and said nothing."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Reason(c.output, 1, c.details), c.expected) << c.name;
    }
    EXPECT_EQ(Reason({}, 128 + 11),
              "mencoder.exe was ended by signal 11 (Segmentation fault) and "
              "said nothing.");
    EXPECT_EQ(Reason({std::string(400, 'a')}).size(), 303u);
}

TEST(FailureReason, HowTheRunEndedComesFirst) {
    ToolRunDetails stopped;
    stopped.stopped = true;
    EXPECT_EQ(Reason({"mencoder.exe: interrupted"}, -1, stopped), "Stopped.");
    ToolRunDetails notStarted;
    notStarted.startFailed = true;
    EXPECT_EQ(Reason({}, 2, notStarted),
              "mencoder.exe cannot be started: No such file or directory (/opt/q/mencoder.exe)");
    // An explained failure takes only the tool's own word.
    EXPECT_EQ(Reason({"Pos: 1.0s"}, -2, {}, true), "");
    EXPECT_EQ(Reason({"mencoder.exe: cannot demux a.avi", "Pos"}, -2, {}, true),
              "mencoder.exe: cannot demux a.avi");
}
