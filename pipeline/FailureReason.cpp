#include "pipeline/FailureReason.h"

#include <sys/statvfs.h>

#include <cstring>

#include "console/ChildProcess.h"
#include "pipeline/CommandLines.h"

namespace {

constexpr const char* kNoSpace = "No space left on device";
constexpr size_t kLongestReason = 300;

uint64_t FreeBytesOf(const std::string& folder) {
    struct statvfs info;
    if (statvfs(folder.c_str(), &info) != 0) {
        return UINT64_MAX;
    }
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

// One line of text for the log: control characters become blanks, the ends are trimmed, and a
// very long line is cut.
std::string Tidy(const std::string& text) {
    std::string line;
    for (char c : text) {
        line += static_cast<unsigned char>(c) < 32 ? ' ' : c;
    }
    const size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    line = line.substr(first, line.find_last_not_of(' ') - first + 1);
    if (line.size() > kLongestReason) {
        line = line.substr(0, kLongestReason) + "...";
    }
    return line;
}

// What the tool said last about itself: its last line that names it ("mencoder.exe: ..."), else
// its last complete line, else the last line it began.
std::string LastWord(const std::vector<std::string>& output, const std::vector<bool>& unfinished,
                     const std::string& toolFileName) {
    const std::string ownPrefix = toolFileName + ": ";
    std::string complete, begun;
    for (size_t i = output.size(); i-- > 0;) {
        const std::string line = Tidy(output[i]);
        if (line.empty()) {
            continue;
        }
        if (line.compare(0, ownPrefix.size(), ownPrefix) == 0) {
            return line;
        }
        const bool isUnfinished = i < unfinished.size() && unfinished[i];
        if (!isUnfinished && complete.empty()) {
            complete = line;
        } else if (isUnfinished && begun.empty()) {
            begun = line;
        }
    }
    return complete.empty() ? begun : complete;
}

}  // namespace

std::string FailureReason(const std::string& commandLine, int result, const ToolRunDetails& details,
                          const std::vector<std::string>& output,
                          const std::vector<std::string>& folders, bool ownWordOnly,
                          const std::function<uint64_t(const std::string&)>& freeBytes) {
    if (details.stopped) {
        return "Stopped.";
    }
    const std::vector<std::string> words = childprocess::SplitCommandLine(commandLine);
    const std::string program = words.empty() ? std::string() : words[0];
    const std::string tool = FileNameOf(program);
    if (details.startFailed) {
        return tool + " cannot be started: " + std::strerror(result) + " (" + program + ")";
    }

    bool noSpace = false;
    for (const std::string& line : output) {
        noSpace = noSpace || line.find(kNoSpace) != std::string::npos;
    }
    if (noSpace && !folders.empty()) {
        // The folder the tool named, else the one with the least room.
        std::string full;
        for (const std::string& folder : folders) {
            for (const std::string& line : output) {
                if (line.find(kNoSpace) != std::string::npos &&
                    line.find(folder) != std::string::npos && folder.size() > full.size()) {
                    full = folder;
                }
            }
        }
        if (full.empty()) {
            const auto room = freeBytes ? freeBytes : FreeBytesOf;
            uint64_t least = UINT64_MAX;
            for (const std::string& folder : folders) {
                const uint64_t bytes = room(folder);
                if (full.empty() || bytes < least) {
                    full = folder;
                    least = bytes;
                }
            }
        }
        return std::string(kNoSpace) + " (" + full + ")";
    }

    const std::string said = LastWord(output, details.unfinished, tool);
    if (ownWordOnly) {
        return said.compare(0, tool.size() + 2, tool + ": ") == 0 ? said : std::string();
    }
    if (!said.empty()) {
        return said;
    }
    if (result > 128 && result < 128 + 65) {
        const int sig = result - 128;
        return tool + " was ended by signal " + std::to_string(sig) + " (" + strsignal(sig) +
               ") and said nothing.";
    }
    return tool + " ended with code " + std::to_string(result) + " and said nothing.";
}
