// "mplayer.exe": SOURCE ... -ao pcm:waveheader:fast:file=%N%WAV ...
// Runs Debian's mplayer with the command line as it is. mplayer ends "successfully" when its
// writes fail (a full disk leaves a WAV whose header promises more sound than the file holds),
// so the WAV is read back: success only when it holds all the sound its header announces. A WAV
// that is cut short is removed, and the last line says why.

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/AdapterSupport.h"

namespace {

constexpr const char* kUsage = "SOURCE [mplayer options] -ao pcm:waveheader:file=WAV";

// The WAV file named in "-ao pcm:...:file=%N%PATH" (or "file=PATH", the last option).
std::optional<std::string> WavPathOf(const std::vector<std::string>& args) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] != "-ao" || args[i + 1].rfind("pcm", 0) != 0) {
            continue;
        }
        const std::string& output = args[i + 1];
        const size_t at = output.find("file=");
        if (at == std::string::npos) {
            return std::nullopt;
        }
        std::string file = output.substr(at + 5);
        // "%N%" gives the length of what follows, so that it may hold ":" and ",".
        if (file.size() > 2 && file[0] == '%') {
            const size_t close = file.find('%', 1);
            const auto length = close == std::string::npos
                                    ? std::nullopt
                                    : adapter::ParsePositiveInteger(file.substr(1, close - 1));
            if (length && close + 1 + static_cast<size_t>(*length) <= file.size()) {
                return file.substr(close + 1, static_cast<size_t>(*length));
            }
        }
        return file.substr(0, file.find(':'));
    }
    return std::nullopt;
}

uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Empty when the WAV holds every byte its "data" chunk announces; otherwise why not.
std::string CheckWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> head(4096);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    const adapter::FileState file = adapter::StatFile(path);
    if (head.size() < 12 || std::memcmp(head.data(), "RIFF", 4) != 0 ||
        std::memcmp(head.data() + 8, "WAVE", 4) != 0) {
        return path + " is not a WAV file";
    }
    for (size_t at = 12; at + 8 <= head.size();) {
        const uint32_t size = Le32(head.data() + at + 4);
        if (std::memcmp(head.data() + at, "data", 4) == 0) {
            // 0 and 0xFFFFFFFF: a writer that could not go back to tell the size.
            if (size == 0 || size == UINT32_MAX) {
                return file.size > at + 8 ? "" : path + " holds no sound";
            }
            const uint64_t expected = at + 8 + static_cast<uint64_t>(size);
            if (file.size < expected) {
                return path + " is cut short: " + std::to_string(file.size - at - 8) + " of " +
                       std::to_string(size) + " bytes of sound were written";
            }
            return {};
        }
        at += 8 + size + (size & 1);
    }
    return path + " has no sound chunk";
}

}  // namespace

int Main(int argc, char** argv) {
    adapter::SetToolName(QUINTARO_SLOT_NAME);  // as the program names the slot
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::optional<std::string> wav = WavPathOf(args);
    if (args.empty()) {
        adapter::UsageError("no source given", kUsage);
    }
    adapter::InstallStopHandling();

    std::vector<std::string> mplayer = {"mplayer"};
    mplayer.insert(mplayer.end(), args.begin(), args.end());
    adapter::ChildOptions options;
    options.onOutput = [](std::string_view chunk) { adapter::WriteAll(STDOUT_FILENO, chunk); };
    const int result = adapter::RunChild(mplayer, options);
    if (adapter::StopSignal() != 0 || result != 0 || !wav) {
        return adapter::StopSignal() != 0 ? 128 + adapter::StopSignal() : result;
    }
    const std::string wrong = CheckWav(*wav);
    if (!wrong.empty()) {
        const bool full = adapter::FolderNearlyFull(FolderOf(*wav));
        unlink(wav->c_str());
        adapter::Report(full ? adapter::NoSpaceLeft("writing " + *wav) : wrong);
        return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    return adapter::Finish(Main(argc, argv));
}
