#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QTemporaryDir>
#include <QThread>
#include <fstream>

#include "pipeline/ToolRunner.h"

namespace {

class RecordingHost : public ToolHost {
  public:
    bool stop = false;
    std::vector<std::string> progress;
    std::function<void(RecordingHost&, const std::string&)> onProgress;

    bool StopRequested() const override { return stop; }
    void SetProgressText(const std::string& text) override {
        progress.push_back(text);
        if (onProgress) {
            onProgress(*this, text);
        }
    }
};

// A small shell program written to a temporary folder; started without a shell by the runner.
class Script {
  public:
    explicit Script(const std::string& body) {
        path_ = dir_.path().toStdString() + "/tool";
        std::ofstream(path_) << "#!/bin/sh\n" << body << "\n";
        chmod(path_.c_str(), 0755);
    }
    std::string CommandLine(const std::string& arguments = "") const {
        return "\"" + path_ + "\"" + (arguments.empty() ? "" : " " + arguments);
    }

  private:
    QTemporaryDir dir_;
    std::string path_;
};

}  // namespace

TEST(ProgressText, CutsEveryEncodedFramesMarker) {
    EXPECT_EQ(ProgressText("Pos: 1.0s 25f (10%) encoded frames: 25"), "Pos: 1.0s 25f (10%) 25");
    EXPECT_EQ(ProgressText("encoded frames: encoded frames: x encoded frames: "), "x ");
    EXPECT_EQ(ProgressText("Encoded Frames: 3"), "Encoded Frames: 3");
    EXPECT_EQ(ProgressText("encoded frames:3"), "encoded frames:3");
    EXPECT_EQ(ProgressText(""), "");
}

TEST(RunTool, ReturnsTheExitCodeAndEveryLine) {
    const Script tool("echo one; printf 'two\\r\\nthree encoded frames: 3'; exit 3");
    RecordingHost host;
    std::vector<std::string> output = {"stale"};
    EXPECT_EQ(RunTool(tool.CommandLine(), host, output), 3);
    ASSERT_GE(output.size(), 3u);
    EXPECT_EQ(output[0], "one");
    EXPECT_EQ(output[1], "two");
    EXPECT_EQ(output.back(), "three encoded frames: 3");
    ASSERT_FALSE(host.progress.empty());
    EXPECT_EQ(host.progress.back(), "three 3");
}

TEST(RunTool, NegativeExitCodesKeepTheirSign) {
    const Script tool("exit 254");
    RecordingHost host;
    std::vector<std::string> output;
    EXPECT_EQ(RunTool(tool.CommandLine(), host, output), -2);
}

TEST(RunTool, EmptyCommandLineIsSuccessWithNoOutput) {
    RecordingHost host;
    std::vector<std::string> output = {"stale"};
    EXPECT_EQ(RunTool("", host, output), 0);
    EXPECT_TRUE(output.empty());
    EXPECT_TRUE(host.progress.empty());
}

TEST(RunTool, MissingProgramReturnsTheSystemErrorCode) {
    RecordingHost host;
    std::vector<std::string> output = {"stale"};
    EXPECT_EQ(RunTool("\"/nonexistent/tool.exe\" -x", host, output), ENOENT);
    EXPECT_TRUE(output.empty());
}

TEST(RunTool, PendingStopStopsTheToolAtItsFirstPoll) {
    const Script tool("echo started; exec sleep 30.613");
    RecordingHost host;
    host.stop = true;
    std::vector<std::string> output;
    EXPECT_EQ(RunTool(tool.CommandLine(), host, output), kStoppedRunResult);
    EXPECT_NE(kStoppedRunResult, 0);
    EXPECT_NE(kStoppedRunResult, -2);
}

TEST(RunTool, PendingStopStopsEvenAToolThatWouldEndAtOnce) {
    const Script tool("exit 0");
    for (int attempt = 0; attempt < 20; ++attempt) {
        RecordingHost host;
        host.stop = true;
        std::vector<std::string> output;
        ASSERT_EQ(RunTool(tool.CommandLine(), host, output), kStoppedRunResult)
            << "attempt " << attempt;
    }
}

TEST(RunTool, StopDuringARunKeepsTheLinesSoFar) {
    const Script tool("echo first; echo second; exec sleep 30.614");
    RecordingHost host;
    host.onProgress = [](RecordingHost& h, const std::string& text) {
        if (text == "second") {
            h.stop = true;
        }
    };
    std::vector<std::string> output;
    EXPECT_EQ(RunTool(tool.CommandLine(), host, output), kStoppedRunResult);
    EXPECT_EQ(output, (std::vector<std::string>{"first", "second"}));
}

TEST(RunTool, ToolThatEndedBeforeTheStopWasNoticedKeepsItsResult) {
    const Script tool("echo bye; exit 5");
    RecordingHost host;
    host.onProgress = [](RecordingHost& h, const std::string&) {
        QThread::msleep(500);  // the tool ends meanwhile
        h.stop = true;
    };
    std::vector<std::string> output;
    EXPECT_EQ(RunTool(tool.CommandLine(), host, output), 5);
}

TEST(RunTool, AnEmptyLastLineEmptiesTheProgress) {
    const Script tool("printf 'Pos: 1.0s\\n\\n'");
    RecordingHost host;
    std::vector<std::string> output;
    EXPECT_EQ(RunTool(tool.CommandLine(), host, output), 0);
    EXPECT_EQ(output, (std::vector<std::string>{"Pos: 1.0s", ""}));
    ASSERT_FALSE(host.progress.empty());
    EXPECT_EQ(host.progress.back(), "");
}

TEST(RunTool, SilentToolLeavesTheProgressAlone) {
    const Script tool("exit 0");
    RecordingHost host;
    std::vector<std::string> output = {"earlier"};
    EXPECT_EQ(RunTool(tool.CommandLine(), host, output), 0);
    EXPECT_TRUE(host.progress.empty());
    EXPECT_TRUE(output.empty());
}

TEST(RunTool, ManyLinesAllArrive) {
    const Script tool("i=0; while [ $i -lt 3000 ]; do echo line $i; i=$((i+1)); done");
    RecordingHost host;
    std::vector<std::string> output;
    EXPECT_EQ(RunTool(tool.CommandLine(), host, output), 0);
    ASSERT_EQ(output.size(), 3000u);
    EXPECT_EQ(output.back(), "line 2999");
    EXPECT_EQ(host.progress.back(), "line 2999");
}
