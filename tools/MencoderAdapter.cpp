// "mencoder.exe": runs Debian's mencoder with the program's command line, translated for today's
// mencoder and x264 (see MencoderCommand.h). Its output passes through unchanged as it comes.
// Exit codes: 0 success; -2 when the source cannot be opened or demuxed (mencoder itself says
// so and exits 1); otherwise mencoder's own code, 2 for an unreadable command line.

#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "tools/AdapterSupport.h"
#include "tools/MencoderCommand.h"

namespace {

constexpr int kSourceUnreadableExit = -2;
constexpr const char* kUsage =
    "SOURCE [mencoder options] -o STREAM\n"
    "  SOURCE is a file, or dvd://N with -dvd-device FOLDER";

// Watches the output line by line for mencoder's verdicts on the source.
class SourceVerdict {
  public:
    void Feed(std::string_view chunk) {
        for (char c : chunk) {
            if (c == '\n' || c == '\r') {
                Check();
                line_.clear();
            } else if (line_.size() < 256) {
                line_ += c;
            }
        }
    }
    bool Unreadable() {
        Check();
        return unreadable_;
    }

  private:
    void Check() {
        if (line_.starts_with("Cannot open demuxer.") ||
            line_.starts_with("Cannot open file/device.")) {
            unreadable_ = true;
        }
    }
    std::string line_;
    bool unreadable_ = false;
};

}  // namespace

int Main(int argc, char** argv) {
    adapter::SetToolName("mencoder.exe");
    const std::vector<std::string> args(argv + 1, argv + argc);
    const adapter::MencoderPlan plan = adapter::PlanMencoder(args);
    if (!plan.error.empty()) {
        adapter::UsageError(plan.error, kUsage);
    }
    adapter::InstallStopHandling();

    SourceVerdict verdict;
    adapter::ChildOptions options;
    options.onOutput = [&verdict](std::string_view chunk) {
        adapter::WriteAll(STDOUT_FILENO, chunk);
        verdict.Feed(chunk);
    };
    const int result = adapter::RunChild(plan.argv, options);
    if (adapter::StopSignal() != 0) {
        return 128 + adapter::StopSignal();
    }
    if (result != 0) {
        if (verdict.Unreadable()) {
            adapter::Report("the source cannot be opened or demuxed");
            return kSourceUnreadableExit;
        }
        return result;
    }
    // mencoder can end "successfully" without a single frame (nothing decodable, for one).
    const adapter::FileState stream = adapter::StatFile(plan.streamPath);
    if (!stream.exists || (stream.regular && stream.size == 0)) {
        adapter::Report("no video was written to " + plan.streamPath);
        return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    return adapter::Finish(Main(argc, argv));
}
