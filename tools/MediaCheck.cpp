#include "tools/MediaCheck.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "tools/AdapterSupport.h"

namespace adapter {

MediaSummary ProbeMedia(const std::string& path) {
    std::string listing;
    ChildOptions options;
    options.onOutput = [&listing](std::string_view chunk) { listing.append(chunk); };
    const int result =
        RunChild({"ffprobe", "-v", "error", "-show_entries", "format=duration:stream=codec_type",
                  "-of", "default=nw=1", FfmpegPath(path)},
                 options);
    MediaSummary summary;
    if (result != 0) {
        return summary;
    }
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        if (line == "codec_type=video") {
            summary.video = true;
        } else if (line == "codec_type=audio") {
            summary.audio = true;
        } else if (line.rfind("duration=", 0) == 0) {
            summary.duration = std::strtod(line.c_str() + 9, nullptr);
        }
    }
    summary.readable = summary.video || summary.audio;
    return summary;
}

std::string CheckMadeFrom(const std::string& made, const MediaSummary& from) {
    const MediaSummary out = ProbeMedia(made);
    if (!out.readable) {
        return made + " cannot be read back";
    }
    if (from.video && !out.video) {
        return made + " holds no video";
    }
    if (from.audio && !out.audio) {
        return made + " holds no audio";
    }
    if (from.duration > 0 &&
        std::fabs(out.duration - from.duration) > std::max(0.02 * from.duration, 0.1)) {
        char text[128];
        std::snprintf(text, sizeof text, " lasts %.2f s instead of %.2f s", out.duration,
                      from.duration);
        return made + text;
    }
    return {};
}

}  // namespace adapter
