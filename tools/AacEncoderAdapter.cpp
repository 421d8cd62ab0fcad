// "enhAacPlusEnc.exe": WAV OUTPUT --cbr RATE [--disable-ps] [--force-mono] [--channel-count N]
// Encodes WAV to AAC in MP4 at RATE bits per second through ffmpeg: HE-AAC v2 (v1 with
// --disable-ps or a single channel) when ffmpeg has an HE-AAC encoder (libfdk_aac), otherwise
// AAC-LC at the same rate. Says which. Exit code 0 only when OUTPUT was written.

#include <string>
#include <string_view>
#include <vector>

#include "tools/AdapterSupport.h"

namespace {

constexpr const char* kUsage =
    "WAV OUTPUT --cbr RATE [--disable-ps] [--force-mono] [--channel-count N]";

struct Request {
    std::string wav;
    std::string output;
    long rate = 0;
    bool disablePs = false;
    long channels = 0;  // 0: as the WAV has them
};

Request ParseRequest(const std::vector<std::string>& args) {
    Request request;
    std::vector<std::string> files;
    bool forceMono = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--cbr" || arg == "--channel-count") {
            if (i + 1 >= args.size()) {
                adapter::UsageError("option " + arg + " needs a value", kUsage);
            }
            const auto value = adapter::ParsePositiveInteger(args[++i]);
            if (!value) {
                adapter::UsageError(
                    "option " + arg + " needs a positive whole number, not \"" + args[i] + "\"",
                    kUsage);
            }
            (arg == "--cbr" ? request.rate : request.channels) = *value;
        } else if (arg == "--disable-ps") {
            request.disablePs = true;
        } else if (arg == "--force-mono") {
            forceMono = true;
        } else if (arg.starts_with("--")) {
            adapter::UsageError("unknown option " + arg, kUsage);
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2 || files[0].empty() || files[1].empty()) {
        adapter::UsageError("give the WAV file and the output file", kUsage);
    }
    if (request.rate == 0) {
        adapter::UsageError("no bit rate given (--cbr RATE)", kUsage);
    }
    if (forceMono) {
        request.channels = 1;
    }
    request.wav = files[0];
    request.output = files[1];
    return request;
}

bool HasHeAacEncoder() {
    std::string listing;
    adapter::ChildOptions options;
    options.onOutput = [&listing](std::string_view chunk) { listing.append(chunk); };
    adapter::RunChild({"ffmpeg", "-hide_banner", "-encoders"}, options);
    return listing.find(" libfdk_aac ") != std::string::npos;
}

}  // namespace

int Main(int argc, char** argv) {
    adapter::SetToolName("enhAacPlusEnc.exe");
    const Request request = ParseRequest(std::vector<std::string>(argv + 1, argv + argc));
    adapter::InstallStopHandling();

    const std::string rate = std::to_string(request.rate);
    std::vector<std::string> ffmpeg = {"ffmpeg", "-nostdin", "-hide_banner",
                                       "-y",     "-i",       adapter::FfmpegPath(request.wav),
                                       "-vn",    "-map",     "0:a:0"};
    if (request.channels > 0) {
        ffmpeg.insert(ffmpeg.end(), {"-ac", std::to_string(request.channels)});
    }
    if (HasHeAacEncoder()) {
        // Parametric stereo needs two channels.
        const bool v2 = !request.disablePs && request.channels != 1;
        adapter::Report(std::string(v2 ? "HE-AAC v2" : "HE-AAC") + " at " + rate +
                        " bit/s (libfdk_aac)");
        ffmpeg.insert(ffmpeg.end(),
                      {"-c:a", "libfdk_aac", "-profile:a", v2 ? "aac_he_v2" : "aac_he"});
    } else {
        adapter::Report("AAC-LC at " + rate + " bit/s (this ffmpeg has no HE-AAC encoder)");
        ffmpeg.insert(ffmpeg.end(), {"-c:a", "aac"});
    }
    if (adapter::StopSignal() != 0) {
        return 128 + adapter::StopSignal();
    }
    ffmpeg.insert(ffmpeg.end(), {"-b:a", rate, "-f", "mp4", adapter::FfmpegPath(request.output)});
    const int result = adapter::RunProducing(ffmpeg, request.output);
    if (adapter::StopSignal() != 0) {
        return 128 + adapter::StopSignal();
    }
    return result == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    return adapter::Finish(Main(argc, argv));
}
