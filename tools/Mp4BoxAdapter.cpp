// "MP4Box.exe": -tmp DIR -add VIDEO -fps RATE -new TARGET [-add AUDIO]
// Writes TARGET as MP4 holding the raw H.264 stream VIDEO (and the AAC track of AUDIO), copied,
// not re-encoded. ffmpeg cannot mux a raw H.264 stream with B-frames into MP4 by itself (every
// packet gets the same timestamps and the first frame is lost), so mkvmerge first gives the
// stream its timestamps in a temporary Matroska file, and ffmpeg copies that into MP4.
// Whatever TARGET's name, it is written as MP4. Exit code 0 only when TARGET was written and reads
// back with its video (and audio) lasting as long as the stream; otherwise nothing is left under
// TARGET that was not there before, and the last line says why.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tools/AdapterSupport.h"
#include "tools/H264Timing.h"
#include "tools/SourceProbe.h"

namespace {

constexpr const char* kUsage = "-tmp DIR -add VIDEO.264 -fps RATE -new TARGET.mp4 [-add AUDIO.mp4]";

struct Request {
    std::string tmp;
    std::vector<std::string> inputs;
    std::optional<std::string> fps;
    std::string target;
};

bool IsOption(const std::string& word) {
    return word == "-tmp" || word == "-add" || word == "-fps" || word == "-new";
}

Request ParseRequest(const std::vector<std::string>& args) {
    Request request;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (!IsOption(option)) {
            adapter::UsageError("unexpected argument \"" + option + "\"", kUsage);
        }
        // An empty frame-rate text leaves "-fps" directly before the next option.
        if (option == "-fps" && (i + 1 >= args.size() || IsOption(args[i + 1]))) {
            request.fps = "";
            continue;
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            adapter::UsageError("option " + option + " needs a value", kUsage);
        }
        const std::string& value = args[++i];
        if (option == "-tmp") {
            request.tmp = value;
        } else if (option == "-add") {
            request.inputs.push_back(value);
        } else if (option == "-fps") {
            request.fps = value;
        } else {
            request.target = value;
        }
    }
    if (request.inputs.empty()) {
        adapter::UsageError("no video stream given (-add VIDEO)", kUsage);
    }
    if (request.inputs.size() > 2) {
        adapter::UsageError("at most one video stream and one audio track can be added", kUsage);
    }
    if (request.target.empty()) {
        adapter::UsageError("no target given (-new TARGET)", kUsage);
    }
    return request;
}

// An unnamed scratch file in folder: it disappears with the last descriptor, however the
// adapter ends. The tools reach it through /proc/self/fd.
int OpenScratchFile(const std::string& folder) {
    int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        return fd;
    }
    // File systems without O_TMPFILE: a named file, unlinked at once.
    std::string name = folder + "/MP4Box-XXXXXX.mkv";
    fd = mkostemps(name.data(), 4, O_CLOEXEC);
    if (fd >= 0) {
        unlink(name.c_str());
    }
    return fd;
}

// A movie time scale in which every frame time is a whole number: a multiple of the rate's
// numerator, at least 10000 for fine-grained edits.
std::optional<long> TimeScaleFor(const adapter::FrameRate& rate) {
    if (rate.num == 0 || rate.num > INT_MAX) {
        return std::nullopt;
    }
    const uint64_t factor = (10000 + rate.num - 1) / rate.num;
    const uint64_t scale = rate.num * factor;
    if (scale > INT_MAX) {
        return static_cast<long>(rate.num);
    }
    return static_cast<long>(scale);
}

// Why a tool that wrote into folder failed: a full disk first, as the system says it.
std::string WhyFailed(const std::string& folder, adapter::ErrorWatch& watch,
                      const std::string& otherwise) {
    const std::string& said = watch.LastError();
    if (adapter::FolderNearlyFull(folder) ||
        said.find(std::strerror(ENOSPC)) != std::string::npos) {
        return adapter::NoSpaceLeft(WithTrailingDelimiter(folder));
    }
    return said.empty() ? otherwise : said;
}

// The merged file as a player opens it: readable, with the video (and the audio when one was
// added), the picture lasting as long as the stream's within 2%. "" when it is.
std::string CheckOutput(const std::string& target, bool audio, std::optional<long> pictures,
                        const adapter::FrameRate& rate) {
    std::string text;
    adapter::ChildOptions capture;
    capture.onOutput = [&text](std::string_view chunk) { text += chunk; };
    const int status =
        adapter::RunChild(adapter::ProbeCommand(adapter::FfmpegPath(target)), capture);
    const adapter::SourceInfo info = adapter::ParseProbe(text);
    if (status != 0 || info.video.index < 0) {
        return "the merged file " + target + " cannot be read back";
    }
    if (info.video.codec != "h264") {
        return "the merged file " + target + " holds no H.264 video";
    }
    if (audio && info.audio.index < 0) {
        return "the merged file " + target + " holds no audio";
    }
    if (pictures && *pictures > 0) {
        const double expected = static_cast<double>(*pictures) * static_cast<double>(rate.den) /
                                static_cast<double>(rate.num);
        const double got = info.video.duration.value_or(info.duration.value_or(0));
        if (std::fabs(got - expected) > 0.02 * expected) {
            char message[160];
            std::snprintf(message, sizeof message, "lasts %.3f s instead of the stream's %.3f s",
                          got, expected);
            return "the merged file " + target + " " + message;
        }
    }
    return "";
}

}  // namespace

int Main(int argc, char** argv) {
    adapter::SetToolName(QUINTARO_SLOT_NAME);  // as the program names the slot
    const Request request = ParseRequest(std::vector<std::string>(argv + 1, argv + argc));
    adapter::InstallStopHandling();
    const std::string& video = request.inputs[0];
    const std::string fpsText = request.fps.value_or("");

    // The stream's own timing is the truth: the rate on the command line comes from mencoder's
    // description of the source, which reads "1)" for MPEG-2 and 1000 for ASF.
    adapter::FrameRate rate{25, 1};
    bool forceRate = false;
    if (const auto own = adapter::ReadH264FrameRate(video)) {
        rate = *own;
        const auto given = adapter::ParsePositiveNumber(fpsText);
        const double ownFps = static_cast<double>(rate.num) / static_cast<double>(rate.den);
        if (request.fps && (!given || std::fabs(*given - ownFps) > 0.01)) {
            adapter::Report("using the stream's own frame rate " + adapter::ToText(rate) +
                            " (-fps \"" + fpsText + "\" ignored)");
        }
    } else if (const auto given = adapter::ParsePositiveNumber(fpsText)) {
        rate = adapter::FrameRateFromDecimal(*given);
        forceRate = true;
    } else {
        adapter::Report("the stream declares no frame rate and -fps \"" + fpsText +
                        "\" is none: 25 assumed");
        forceRate = true;
    }

    std::string tmp = request.tmp;
    if (tmp.empty()) {
        const char* env = std::getenv("TMPDIR");
        tmp = env && *env ? env : "/tmp";
    }
    const int scratch = OpenScratchFile(tmp);
    if (scratch < 0) {
        adapter::Report("cannot create a temporary file in " + tmp + ": " + std::strerror(errno));
        return 1;
    }
    const std::string scratchPath = "/proc/self/fd/" + std::to_string(scratch);
    adapter::ChildOptions options;
    options.keepFds = {scratch};

    // Microsecond timestamps, so that the copy into MP4 can restore exact frame times.
    std::vector<std::string> mkvmerge = {"mkvmerge", "--timestamp-scale", "1000", "-o",
                                         scratchPath};
    if (forceRate) {
        mkvmerge.insert(mkvmerge.end(),
                        {"--default-duration", "0:" + adapter::ToText(rate) + "fps"});
    }
    mkvmerge.push_back(adapter::SafePathArgument(video));
    adapter::ErrorWatch mkvmergeWatch;
    options.onOutput = [&mkvmergeWatch](std::string_view chunk) { mkvmergeWatch.Feed(chunk); };
    int result = adapter::RunChild(mkvmerge, options);
    if (adapter::StopSignal() != 0) {
        return 128 + adapter::StopSignal();
    }
    // mkvmerge exits 1 for warnings, with its file complete.
    if (result > 1 || lseek(scratch, 0, SEEK_END) <= 0) {
        adapter::Report(
            WhyFailed(tmp, mkvmergeWatch, "mkvmerge could not read the video stream " + video));
        return 1;
    }

    // -xerror: ffmpeg otherwise ends with 0 when it cannot write the file's index at the end.
    std::vector<std::string> ffmpeg = {
        "ffmpeg", "-nostdin", "-hide_banner", "-loglevel",          "error", "-xerror", "-y",
        "-f",     "matroska", "-i",           "file:" + scratchPath};
    if (request.inputs.size() > 1) {
        ffmpeg.insert(ffmpeg.end(), {"-i", adapter::FfmpegPath(request.inputs[1])});
    }
    ffmpeg.insert(ffmpeg.end(), {"-map", "0:v:0"});
    if (request.inputs.size() > 1) {
        ffmpeg.insert(ffmpeg.end(), {"-map", "1:a:0"});
    }
    ffmpeg.insert(ffmpeg.end(), {"-c", "copy"});
    if (const auto scale = TimeScaleFor(rate)) {
        ffmpeg.insert(ffmpeg.end(), {"-video_track_timescale", std::to_string(*scale)});
    }
    ffmpeg.insert(ffmpeg.end(),
                  {"-movflags", "+faststart", "-f", "mp4", adapter::FfmpegPath(request.target)});
    adapter::ErrorWatch ffmpegWatch;
    options.onOutput = [&ffmpegWatch](std::string_view chunk) { ffmpegWatch.Feed(chunk); };
    result = adapter::RunProducing(ffmpeg, request.target, options);
    close(scratch);
    if (adapter::StopSignal() != 0) {
        return 128 + adapter::StopSignal();
    }
    if (result != 0) {
        adapter::Report(WhyFailed(FolderOf(request.target), ffmpegWatch,
                                  "ffmpeg could not write " + request.target));
        return 1;
    }
    // Only a file a player can open leaves the slot as its result.
    const std::string wrong = CheckOutput(request.target, request.inputs.size() > 1,
                                          adapter::CountH264Pictures(video), rate);
    if (!wrong.empty()) {
        unlink(request.target.c_str());
        adapter::Report(wrong);
        return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    return adapter::Finish(Main(argc, argv));
}
