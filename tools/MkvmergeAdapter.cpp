// "mkv/mkvmerge.exe": SOURCE -o TARGET
// Runs Debian's mkvmerge with the command line as it is and makes sure of what it wrote:
// success only when TARGET can be read back with the streams of SOURCE and its length. A failure
// leaves no half-written TARGET behind and ends with one line that says why. mkvmerge's warnings
// (its exit code 1) do not fail a file that checks out.

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

// What the tool left of a target it failed to write goes; a file it never touched stays.
void RemoveIfWritten(const std::string& target, const adapter::FileState& before) {
    const adapter::FileState now = adapter::StatFile(target);
    if (now.exists && now.regular && now != before) {
        unlink(target.c_str());
    }
}

}  // namespace

int Main(int argc, char** argv) {
    adapter::SetToolName(QUINTARO_SLOT_NAME);  // as the program names the slot
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
    adapter::ErrorWatch watch;
    adapter::ChildOptions options;
    options.onOutput = [&watch](std::string_view chunk) { watch.Feed(chunk); };
    const adapter::FileState before = adapter::StatFile(target);
    const int result = adapter::RunChild(mkvmerge, options);
    if (adapter::StopSignal() != 0) {
        RemoveIfWritten(target, before);
        return 128 + adapter::StopSignal();
    }
    const adapter::FileState after = adapter::StatFile(target);
    if (result > 1 || !after.exists || after.size == 0) {
        RemoveIfWritten(target, before);
        // mkvmerge tells a full disk as "The drive may be full".
        const std::string& said = watch.LastError();
        if (adapter::FolderNearlyFull(FolderOf(target)) || said.find("full") != std::string::npos) {
            adapter::Report(adapter::NoSpaceLeft("writing " + target));
        } else if (!said.empty()) {
            adapter::Report(said);
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
