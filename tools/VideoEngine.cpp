#include "tools/VideoEngine.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tools/AdapterSupport.h"

namespace adapter {

namespace {

double Value(const FrameRate& rate) {
    return static_cast<double>(rate.num) / static_cast<double>(rate.den);
}

const FrameRate kUsualRates[] = {{24000, 1001}, {24, 1}, {25, 1},       {30000, 1001},
                                 {30, 1},       {50, 1}, {60000, 1001}, {60, 1}};

FrameRate NearestUsual(double fps) {
    FrameRate best = kUsualRates[0];
    double bestDistance = 1e9;
    for (const FrameRate& rate : kUsualRates) {
        const double distance = std::fabs(std::log(fps / Value(rate)));
        if (distance < bestDistance) {
            best = rate;
            bestDistance = distance;
        }
    }
    return best;
}

// A rate within 0.02% of a usual one is that one ("2997/100" is 29.97; 60 stays 60).
FrameRate Snap(const FrameRate& rate) {
    for (const FrameRate& usual : kUsualRates) {
        if (std::fabs(Value(rate) / Value(usual) - 1) < 0.0002) {
            return usual;
        }
    }
    return rate;
}

bool Near(const FrameRate& a, const FrameRate& b) {
    return std::fabs(Value(a) / Value(b) - 1) < 0.0002;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

}  // namespace

FrameRate ChooseOutputRate(const VideoStreamInfo& video, bool pullup) {
    const auto sensible = [](const std::optional<FrameRate>& rate) {
        return rate && Value(*rate) >= 1.0 && Value(*rate) <= 120.0;
    };
    FrameRate rate{25, 1};
    if (sensible(video.nominalRate)) {
        rate = Snap(*video.nominalRate);
        if (sensible(video.averageRate) &&
            std::fabs(Value(*video.nominalRate) / Value(*video.averageRate) - 2) < 0.01) {
            rate = Snap(*video.averageRate);
        }
    } else if (video.averageRate && Value(*video.averageRate) > 0) {
        rate = NearestUsual(Value(*video.averageRate));
    } else if (video.frames > 0 && video.duration && *video.duration > 0) {
        rate = NearestUsual(static_cast<double>(video.frames) / *video.duration);
    }
    if (pullup) {
        if (Near(rate, {30000, 1001})) {
            rate = {24000, 1001};
        } else if (Near(rate, {30, 1})) {
            rate = {24, 1};
        }
    }
    return rate;
}

double OutputStart(const SourceInfo& source) {
    const std::optional<double> origin =
        source.audio.index >= 0 && source.audio.start ? source.audio.start : source.video.start;
    if (!origin || !source.start) {
        return 0;
    }
    return std::max(0.0, *origin - *source.start);
}

std::string FilterGraph(const FilterPlan& filters, int rotation, const FrameRate& rate,
                        double start) {
    std::string graph;
    for (const std::string& filter : filters.sourceFilters) {
        graph += filter + ",";
    }
    // Turned as the display matrix says, the way ffmpeg itself would.
    if (rotation == 90) {
        graph += "transpose=clock,";
    } else if (rotation == 180) {
        graph += "hflip,vflip,";
    } else if (rotation == 270) {
        graph += "transpose=cclock,";
    }
    for (const std::string& filter : filters.filters) {
        graph += filter + ",";
    }
    graph += "crop=w=trunc(iw/2)*2:h=trunc(ih/2)*2,";
    graph += "fps=fps=" + ToText(rate) + Format(":start_time=%.6f", start) + ",";
    graph += "format=yuv420p";
    return graph;
}

std::string EscapeOptionValue(const std::string& value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\' || c == '\'' || c == ':' || c == '=' || c == ' ' || c == '\t' || c == '\n') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

std::vector<std::string> EngineCommand(const EngineJob& job) {
    std::vector<std::string> argv = {
        "ffmpeg",        "-nostdin",      "-hide_banner", "-nostats",
        "-loglevel",     "level+warning", "-progress",    "pipe:" + std::to_string(job.progressFd),
        "-stats_period", "0.25"};
    if (job.exportQuantizers) {
        argv.insert(argv.end(), {"-export_side_data", "venc_params"});
    }
    if (job.mpegInput) {
        argv.insert(argv.end(), {"-f", "mpeg"});
    }
    // The rotation is in the filter chain, after the filters that need the decoded picture.
    argv.insert(
        argv.end(),
        {"-noautorotate", "-i", job.input, "-map", "0:" + std::to_string(job.videoIndex), "-an",
         "-sn", "-dn", "-filter:v", job.graph, "-fps_mode", "passthrough", "-c:v", "libx264"});
    std::string params = "stats=" + EscapeOptionValue(job.statsPath);
    for (const std::string& item : job.x264.params) {
        const size_t eq = item.find('=');
        params += ":" + item.substr(0, eq) + "=" + EscapeOptionValue(item.substr(eq + 1));
    }
    if (job.x264.pass == 1 || job.x264.pass == 2) {
        argv.insert(argv.end(), {"-pass", std::to_string(job.x264.pass), "-passlogfile",
                                 FolderOf(job.statsPath) + "/divx2pass"});
    } else if (job.x264.pass == 3) {
        // Reads and rewrites the statistics: the "nth pass" of x264.
        params += ":pass=3";
    }
    if (job.x264.pass == 1 && job.x264.turbo == 0) {
        params += ":slow-firstpass=1";
    }
    argv.insert(argv.end(), {"-x264-params", params, "-f", "h264", "-y",
                             "pipe:" + std::to_string(job.streamFd)});
    return argv;
}

std::string VideoLine(const VideoStreamInfo& video, const FrameRate& rate) {
    std::string tag;
    for (char c : video.codec.substr(0, 4)) {
        tag += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return Format("VIDEO:  [%s]  %dx%d  24bpp  %5.3f fps  %5.1f kbps (%4.1f kbyte/s)", tag.c_str(),
                  video.width, video.height, Value(rate), video.bitRate / 1000.0,
                  video.bitRate / 8192.0);
}

std::string AudioLine(const AudioStreamInfo& audio) {
    const double pcm = audio.sampleRate * audio.channels * 2.0;  // bytes/s of s16le
    const double ratio = pcm > 0 ? audio.bitRate / 8.0 / pcm * 100.0 : 0;
    return Format("AUDIO: %d Hz, %d ch, s16le, %3.1f kbit/%3.2f%% (ratio: %.0f->%.0f)",
                  audio.sampleRate, audio.channels, audio.bitRate / 1000.0, ratio,
                  audio.bitRate / 8.0, pcm);
}

bool ProgressReader::Feed(const std::string& chunk) {
    partial_ += chunk;
    bool completed = false;
    size_t end;
    while ((end = partial_.find('\n')) != std::string::npos) {
        const std::string line = partial_.substr(0, end);
        partial_.erase(0, end + 1);
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "frame") {
            building_.frame = std::strtol(value.c_str(), nullptr, 10);
        } else if (key == "out_time_us") {
            const double us = std::strtod(value.c_str(), nullptr);
            building_.outTime = us > 0 ? us / 1e6 : 0;  // "N/A" and negatives before the start
        } else if (key == "total_size") {
            building_.totalSize = std::strtoll(value.c_str(), nullptr, 10);
        } else if (key == "progress") {
            building_.end = value == "end";
            latest_ = building_;
            completed = true;
        }
    }
    return completed;
}

std::string ProgressLine(const Progress& progress, double duration, double elapsed) {
    const double p = duration > 0 ? std::min(1.0, std::max(0.0, progress.outTime / duration)) : 0;
    const double remaining = p > 0.001 ? (elapsed / p - elapsed) / 60 : 0;
    const double size = p > 0.001 ? static_cast<double>(progress.totalSize) / p / 1048576 : 0;
    const double kbps = progress.outTime > 1
                            ? static_cast<double>(progress.totalSize) / (progress.outTime * 125)
                            : 0;
    return Format("Pos:%6.1fs %6ldf (%2d%%) %5.2ffps Trem:%4dmin %4dmb  A-V:%5.3f [%d:%d]",
                  progress.outTime, progress.frame, static_cast<int>(p * 100),
                  elapsed > 1 ? static_cast<double>(progress.frame) / elapsed : 0.0,
                  static_cast<int>(remaining), static_cast<int>(size), 0.0, static_cast<int>(kbps),
                  0);
}

std::string SummaryLine(long long bytes, long frames, const FrameRate& rate) {
    const double seconds = static_cast<double>(frames) / Value(rate);
    const double bytesPerSecond = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
    return Format(
        "Video stream: %8.3f kbit/s  (%.0f B/s)  size: %lld bytes  %5.3f secs  %ld frames",
        bytesPerSecond * 8 / 1000, bytesPerSecond, bytes, seconds, frames);
}

LogLine ParseLogLine(const std::string& line) {
    LogLine parsed;
    size_t at = 0;
    while (at < line.size() && line[at] == '[') {
        const size_t close = line.find(']', at);
        if (close == std::string::npos) {
            break;
        }
        const std::string inside = line.substr(at + 1, close - at - 1);
        static const char* kLevels[] = {"quiet", "panic",   "fatal", "error", "warning",
                                        "info",  "verbose", "debug", "trace"};
        for (const char* level : kLevels) {
            if (inside == level) {
                parsed.level = level;
            }
        }
        at = close + 1;
        while (at < line.size() && line[at] == ' ') {
            ++at;
        }
    }
    parsed.text = line.substr(at);
    while (!parsed.text.empty() && (parsed.text.back() == '\r' || parsed.text.back() == ' ')) {
        parsed.text.pop_back();
    }
    return parsed;
}

std::string CheckPassStatistics(const std::string& statsPath, long frames) {
    std::ifstream stats(statsPath);
    if (!stats) {
        return "the statistics file " + statsPath + " was not written";
    }
    long lines = 0;
    long references = 0;
    long macroblocks = 0;
    bool mbtree = false;
    std::string line;
    bool complete = true;
    while (std::getline(stats, line)) {
        if (line.rfind("#options: ", 0) == 0) {
            int width = 0, height = 0;
            if (std::sscanf(line.c_str(), "#options: %dx%d", &width, &height) == 2) {
                macroblocks = static_cast<long>((width + 15) / 16) * ((height + 15) / 16);
            }
            mbtree = line.find(" mbtree=1") != std::string::npos;
            continue;
        }
        complete = !line.empty() && line.back() == ';';
        ++lines;
        const size_t type = line.find(" type:");
        if (type != std::string::npos && type + 6 < line.size() &&
            std::string("IiPB").find(line[type + 6]) != std::string::npos) {
            ++references;
        }
    }
    if (stats.bad() || lines != frames || !complete || macroblocks == 0) {
        return "the statistics file " + statsPath + " is incomplete (" + std::to_string(lines) +
               " of " + std::to_string(frames) + " pictures)";
    }
    const FileState tree = StatFile(statsPath + ".mbtree");
    if (mbtree && tree.size != static_cast<unsigned long long>(references) *
                                   static_cast<unsigned long long>(1 + 2 * macroblocks)) {
        return "the statistics file " + statsPath + ".mbtree is incomplete";
    }
    return "";
}

}  // namespace adapter
