// "mkv/mkvmerge.exe": SOURCE -o TARGET
// Runs Debian's mkvmerge with the command line as it is and makes sure of what it wrote:
// success only when TARGET can be read back with the streams of SOURCE and its length. A failure
// leaves no half-written TARGET behind and ends with one line that says why. mkvmerge's warnings
// (its exit code 1) do not fail a file that checks out.

#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/AdapterSupport.h"
#include "tools/MediaCheck.h"

namespace {

constexpr const char* kUsage = "SOURCE -o TARGET";

// mkvmerge's last "Error: ..." line.
class ErrorWatch {
  public:
    void Feed(std::string_view chunk) {
        for (char c : chunk) {
            if (c == '\n' || c == '\r') {
                Check();
                line_.clear();
            } else if (line_.size() < 1024) {
                line_ += c;
            }
        }
    }
    const std::string& Last() {
        Check();
        return error_;
    }

  private:
    void Check() {
        if (line_.rfind("Error: ", 0) == 0) {
            error_ = line_.substr(7);
        }
    }
    std::string line_;
    std::string error_;
};

// What the tool left of a target it failed to write goes; a file it never touched stays.
void RemoveIfWritten(const std::string& target, const adapter::FileState& before) {
    const adapter::FileState now = adapter::StatFile(target);
    if (now.exists && now.regular && now != before) {
        unlink(target.c_str());
    }
}

bool FolderIsFull(const std::string& path) {
    struct statvfs info;
    return statvfs(FolderOf(path).c_str(), &info) == 0 && info.f_bavail == 0;
}

}  // namespace

int Main(int argc, char** argv) {
    adapter::SetToolName("mkvmerge.exe");
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string target;
    std::vector<std::string> sources;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                adapter::UsageError("option -o needs a file", kUsage);
            }
            target = args[++i];
        } else if (!args[i].starts_with("-")) {
            sources.push_back(args[i]);
        }
    }
    if (target.empty() || sources.empty()) {
        adapter::UsageError("give the source and the target (-o TARGET)", kUsage);
    }
    adapter::InstallStopHandling();

    std::vector<std::string> mkvmerge = {"mkvmerge"};
    for (const std::string& arg : args) {
        mkvmerge.push_back(arg.starts_with("-") ? arg : adapter::SafePathArgument(arg));
    }
    ErrorWatch watch;
    adapter::ChildOptions options;
    options.onOutput = [&watch](std::string_view chunk) {
        adapter::WriteAll(STDOUT_FILENO, chunk);
        watch.Feed(chunk);
    };
    const adapter::FileState before = adapter::StatFile(target);
    const int result = adapter::RunChild(mkvmerge, options);
    if (adapter::StopSignal() != 0) {
        RemoveIfWritten(target, before);
        return 128 + adapter::StopSignal();
    }
    const adapter::FileState after = adapter::StatFile(target);
    if (result > 1 || !after.exists || after.size == 0) {
        RemoveIfWritten(target, before);
        if (FolderIsFull(target) || watch.Last().find("full") != std::string::npos) {
            adapter::Report(std::string(std::strerror(ENOSPC)) + " (writing " + target + ")");
        } else if (!watch.Last().empty()) {
            adapter::Report(watch.Last());
        } else if (result != 0) {
            adapter::Report("mkvmerge failed with code " + std::to_string(result));
        } else {
            adapter::Report("nothing was written to " + target);
        }
        return result > 1 ? result : 2;
    }
    adapter::MediaSummary from;
    for (const std::string& source : sources) {
        const adapter::MediaSummary one = adapter::ProbeMedia(source);
        from.video = from.video || one.video;
        from.audio = from.audio || one.audio;
        from.duration = std::max(from.duration, one.duration);
    }
    const std::string wrong = adapter::CheckMadeFrom(target, from);
    if (!wrong.empty()) {
        unlink(target.c_str());
        adapter::Report(wrong);
        return 2;
    }
    return 0;
}

int main(int argc, char** argv) {
    return adapter::Finish(Main(argc, argv));
}
