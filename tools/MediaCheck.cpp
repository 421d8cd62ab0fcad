#include "tools/MediaCheck.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tools/AdapterSupport.h"
#include "tools/SourceProbe.h"

namespace adapter {

MediaSummary ProbeMedia(const std::string& path) {
    std::string listing;
    ChildOptions options;
    options.onOutput = [&listing](std::string_view chunk) { listing.append(chunk); };
    MediaSummary summary;
    if (RunChild(ProbeCommand(FfmpegPath(path)), options) != 0) {
        return summary;
    }
    const SourceInfo info = ParseProbe(listing);
    summary.video = info.video.index >= 0;
    summary.audio = info.audio.index >= 0;
    summary.duration = info.duration.value_or(0);
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
