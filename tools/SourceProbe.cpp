#include "tools/SourceProbe.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <numeric>
#include <sstream>
#include <vector>

namespace adapter {

namespace {

std::optional<double> ParseSeconds(const std::string& text) {
    if (text.empty() || text == "N/A") {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

long ParseLong(const std::string& text) {
    return std::strtol(text.c_str(), nullptr, 10);
}

using Section = std::map<std::string, std::string>;

}  // namespace

std::vector<std::string> ProbeCommand(const std::string& input) {
    return {"ffprobe",
            "-v",
            "error",
            "-show_entries",
            "format=start_time,duration:stream=index,codec_type,codec_name,width,height,"
            "sample_aspect_ratio,pix_fmt,r_frame_rate,avg_frame_rate,start_time,duration,nb_frames,"
            "bit_rate,sample_rate,channels:stream_disposition=attached_pic:stream_side_data="
            "rotation",
            input};
}

std::optional<FrameRate> ParseRate(const std::string& text) {
    const size_t slash = text.find_first_of("/:");
    if (slash == std::string::npos) {
        return std::nullopt;
    }
    const long num = ParseLong(text.substr(0, slash));
    const long den = ParseLong(text.substr(slash + 1));
    if (num <= 0 || den <= 0) {
        return std::nullopt;
    }
    const long divisor = std::gcd(num, den);
    return FrameRate{static_cast<uint64_t>(num / divisor), static_cast<uint64_t>(den / divisor)};
}

SourceInfo ParseProbe(const std::string& text) {
    std::vector<Section> streams;
    Section format;
    Section* current = nullptr;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line == "[STREAM]") {
            streams.emplace_back();
            current = &streams.back();
        } else if (line == "[FORMAT]") {
            current = &format;
        } else if (line == "[/STREAM]" || line == "[/FORMAT]") {
            current = nullptr;
        } else if (current && !line.empty() && line[0] != '[') {
            const size_t eq = line.find('=');
            if (eq != std::string::npos && !current->count(line.substr(0, eq))) {
                (*current)[line.substr(0, eq)] = line.substr(eq + 1);
            }
        }
    }

    SourceInfo info;
    info.start = ParseSeconds(format["start_time"]);
    info.duration = ParseSeconds(format["duration"]);
    for (Section& s : streams) {
        const std::string type = s["codec_type"];
        if (type == "video" && info.video.index < 0 && s["DISPOSITION:attached_pic"] != "1") {
            VideoStreamInfo& v = info.video;
            v.index = static_cast<int>(ParseLong(s["index"]));
            v.codec = s["codec_name"];
            v.width = static_cast<int>(ParseLong(s["width"]));
            v.height = static_cast<int>(ParseLong(s["height"]));
            if (const auto sar = ParseRate(s["sample_aspect_ratio"])) {
                v.sar = *sar;
            }
            v.pixelFormat = s["pix_fmt"];
            v.nominalRate = ParseRate(s["r_frame_rate"]);
            v.averageRate = ParseRate(s["avg_frame_rate"]);
            v.start = ParseSeconds(s["start_time"]);
            v.duration = ParseSeconds(s["duration"]);
            v.frames = ParseLong(s["nb_frames"]);
            v.bitRate = ParseSeconds(s["bit_rate"]).value_or(0);
            // ffprobe gives the counter-clockwise angle of the display matrix.
            if (const auto angle = ParseSeconds(s["rotation"])) {
                const long turned = std::lround(-*angle / 90.0) * 90;
                v.rotation = static_cast<int>(((turned % 360) + 360) % 360);
            }
        } else if (type == "audio" && info.audio.index < 0) {
            AudioStreamInfo& a = info.audio;
            a.index = static_cast<int>(ParseLong(s["index"]));
            a.codec = s["codec_name"];
            a.sampleRate = static_cast<int>(ParseLong(s["sample_rate"]));
            a.channels = static_cast<int>(ParseLong(s["channels"]));
            a.start = ParseSeconds(s["start_time"]);
            a.bitRate = ParseSeconds(s["bit_rate"]).value_or(0);
        }
    }
    return info;
}

}  // namespace adapter
