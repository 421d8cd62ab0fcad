// "mencoder.exe": carries out the program's mencoder command line with ffmpeg and libx264, so
// that the stream follows the source's time stamps (a constant rate, pictures repeated or
// dropped as a player shows them), its display rotation and its aspect (see VideoEngine.h). A
// DVD title is read by mplayer's DVD reader and piped into ffmpeg.
// Output: mencoder's "VIDEO" and "AUDIO" lines, its progress lines a few times a second, and on
// failure one last line saying why.
// Exit codes: 0 success; -2 when the source cannot be opened or demuxed; 2 for an unreadable
// command line; 1 for every other failure, a write error (a full disk) among them.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/AdapterSupport.h"
#include "tools/MencoderCommand.h"
#include "tools/SourceProbe.h"
#include "tools/VideoEngine.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSourceUnreadableExit = -2;
constexpr int kFailedExit = 1;
constexpr const char* kUsage =
    "SOURCE [mencoder options] -o STREAM\n"
    "  SOURCE is a file, or dvd://N with -dvd-device FOLDER";
// A tool that has made no progress for this long on a full file system cannot write.
constexpr double kStallSeconds = 10;

struct Pipe {
    int read = -1;
    int write = -1;
    bool Open() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return false;
        }
        read = fds[0];
        write = fds[1];
        return true;
    }
    void CloseRead() {
        if (read >= 0) {
            close(read);
        }
        read = -1;
    }
    void CloseWrite() {
        if (write >= 0) {
            close(write);
        }
        write = -1;
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
};

// mplayer's DVD reader writing title `title` of folder to fd; its own output is not wanted.
pid_t StartDvdReader(const adapter::MencoderRequest& request, int fd) {
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    const pid_t pid = adapter::StartChild(
        {"mplayer", "-noconfig", "all", "-really-quiet", "-nocache", "-dvd-device", request.source,
         "dvd://" + std::to_string(request.dvdTitle), "-dumpstream", "-dumpfile", "/dev/fd/3"},
        {{devNull, STDIN_FILENO}, {devNull, STDOUT_FILENO}, {devNull, STDERR_FILENO}, {fd, 3}});
    close(devNull);
    return pid;
}

// Reads fds until each reports its end; handler(index, data) gets every chunk; tick runs at
// least every quarter second.
void Pump(const std::vector<int>& fds, const std::function<void(size_t, std::string_view)>& handler,
          const std::function<void()>& tick) {
    std::vector<pollfd> polled;
    for (int fd : fds) {
        polled.push_back({fd, POLLIN, 0});
    }
    std::vector<char> buffer(1 << 16);
    size_t open = fds.size();
    while (open > 0) {
        const int ready = poll(polled.data(), polled.size(), 250);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        for (size_t i = 0; i < polled.size(); ++i) {
            if (polled[i].fd < 0 || !(polled[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            const ssize_t n = read(polled[i].fd, buffer.data(), buffer.size());
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            if (n <= 0) {
                polled[i].fd = -1;
                --open;
                continue;
            }
            handler(i, std::string_view(buffer.data(), static_cast<size_t>(n)));
        }
        tick();
    }
}

struct ProbeResult {
    bool ok = false;
    adapter::SourceInfo info;
    std::string why;  // ffprobe's own reason when it failed
};

ProbeResult Probe(const adapter::MencoderRequest& request) {
    ProbeResult result;
    Pipe out, err, dvd;
    if (!out.Open() || !err.Open() || (request.dvd && !dvd.Open())) {
        result.why = std::strerror(errno);
        return result;
    }
    pid_t reader = -1;
    if (request.dvd) {
        reader = StartDvdReader(request, dvd.write);
        dvd.CloseWrite();
        if (reader < 0) {
            result.why = "the DVD reader (mplayer) cannot be started";
            return result;
        }
    }
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t probe = adapter::StartChild(
        adapter::ProbeCommand(request.dvd ? "pipe:0" : adapter::FfmpegPath(request.source)),
        {{request.dvd ? dvd.read : devNull, STDIN_FILENO},
         {out.write, STDOUT_FILENO},
         {err.write, STDERR_FILENO}});
    close(devNull);
    out.CloseWrite();
    err.CloseWrite();
    dvd.CloseRead();
    std::string text, errors;
    if (probe > 0) {
        Pump(
            {out.read, err.read},
            [&](size_t index, std::string_view data) { (index == 0 ? text : errors) += data; },
            [] {});
    }
    const int status = probe > 0 ? adapter::WaitChild(probe) : adapter::kStartFailedExit;
    if (reader > 0) {
        kill(reader, SIGKILL);  // it has nobody to write to any more
        adapter::WaitChild(reader);
    }
    result.info = adapter::ParseProbe(text);
    result.ok = status == 0 && (result.info.video.index >= 0 || result.info.audio.index >= 0);
    // ffprobe's last line names the input and why: "file:/x.avi: Invalid data found ...".
    while (!errors.empty() && (errors.back() == '\n' || errors.back() == '\r')) {
        errors.pop_back();
    }
    const size_t lastLine = errors.rfind('\n');
    std::string why = errors.substr(lastLine == std::string::npos ? 0 : lastLine + 1);
    const size_t colon = why.rfind(": ");
    if (colon != std::string::npos) {
        why = why.substr(colon + 2);
    }
    result.why = why.empty() ? "no streams found" : why;
    return result;
}

class Encoder {
  public:
    Encoder(const adapter::MencoderRequest& request, const adapter::SourceInfo& source,
            const adapter::FilterPlan& filters, const adapter::X264Plan& x264)
        : request_(request), source_(source), filters_(filters), x264_(x264) {}

    // Runs the pass; "" on success, else why it failed.
    std::string Run(const adapter::FrameRate& rate) {
        const std::string streamFolder = WithTrailingDelimiter(FolderOf(request_.streamPath));
        const int stream =
            open(request_.streamPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (stream < 0) {
            const int error = errno;
            return error == ENOSPC
                       ? adapter::NoSpaceLeft(request_.streamPath)
                       : "cannot write " + request_.streamPath + ": " + std::strerror(error);
        }
        createdStream_ = true;
        Pipe log, progress, data, dvd;
        if (!log.Open() || !progress.Open() || !data.Open() || (request_.dvd && !dvd.Open())) {
            close(stream);
            return std::string("cannot start ffmpeg: ") + std::strerror(errno);
        }
        pid_t reader = -1;
        if (request_.dvd) {
            reader = StartDvdReader(request_, dvd.write);
            dvd.CloseWrite();
            if (reader < 0) {
                close(stream);
                return "the DVD reader (mplayer) cannot be started";
            }
        }
        adapter::EngineJob job;
        job.input = request_.dvd ? "pipe:0" : adapter::FfmpegPath(request_.source);
        job.mpegInput = request_.dvd;
        job.exportQuantizers = filters_.needsQuantizers;
        job.videoIndex = source_.video.index;
        job.graph = adapter::FilterGraph(filters_, source_.video.rotation, rate,
                                         adapter::OutputStart(source_));
        job.x264 = x264_;
        job.statsPath = request_.statsPath;
        const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
        const pid_t ffmpeg = adapter::StartChild(adapter::EngineCommand(job),
                                                 {{request_.dvd ? dvd.read : devNull, STDIN_FILENO},
                                                  {log.write, STDOUT_FILENO},
                                                  {log.write, STDERR_FILENO},
                                                  {progress.write, job.progressFd},
                                                  {data.write, job.streamFd}});
        close(devNull);
        log.CloseWrite();
        progress.CloseWrite();
        data.CloseWrite();
        dvd.CloseRead();
        if (ffmpeg < 0) {
            close(stream);
            if (reader > 0) {
                kill(reader, SIGKILL);
                adapter::WaitChild(reader);
            }
            return "ffmpeg cannot be started";
        }

        const auto start = Clock::now();
        auto lastChange = start;
        auto lastPrinted = start - std::chrono::seconds(1);
        adapter::ProgressReader reader_;
        std::string logPartial;
        std::string failure;
        long long written = 0;
        long lastFrame = -1;
        const double duration = source_.duration.value_or(source_.video.duration.value_or(0));
        const auto stopEngine = [&](const std::string& why) {
            if (failure.empty()) {
                failure = why;
            }
            killed_ = true;
            kill(ffmpeg, SIGKILL);
        };
        Pump(
            {log.read, progress.read, data.read},
            [&](size_t index, std::string_view chunk) {
                if (index == 0) {
                    logPartial += chunk;
                    size_t end;
                    while ((end = logPartial.find('\n')) != std::string::npos) {
                        NoteLogLine(logPartial.substr(0, end));
                        logPartial.erase(0, end + 1);
                    }
                } else if (index == 1) {
                    if (reader_.Feed(std::string(chunk))) {
                        const adapter::Progress& p = reader_.Latest();
                        if (p.frame != lastFrame) {
                            lastFrame = p.frame;
                            lastChange = Clock::now();
                        }
                        const auto now = Clock::now();
                        if (now - lastPrinted >= std::chrono::milliseconds(200) || p.end) {
                            lastPrinted = now;
                            const double elapsed =
                                std::chrono::duration<double>(now - start).count();
                            adapter::WriteAll(STDOUT_FILENO,
                                              adapter::ProgressLine(p, duration, elapsed) + "\r");
                        }
                    }
                } else if (failure.empty()) {
                    size_t done = 0;
                    while (done < chunk.size()) {
                        const ssize_t n = write(stream, chunk.data() + done, chunk.size() - done);
                        if (n < 0 && errno == EINTR) {
                            continue;
                        }
                        if (n <= 0) {
                            const int error = n < 0 ? errno : ENOSPC;
                            stopEngine(error == ENOSPC
                                           ? adapter::NoSpaceLeft(request_.streamPath)
                                           : request_.streamPath + ": " + std::strerror(error));
                            return;
                        }
                        done += static_cast<size_t>(n);
                    }
                    written += static_cast<long long>(chunk.size());
                    lastChange = Clock::now();
                }
            },
            [&] {
                if (!failure.empty() ||
                    std::chrono::duration<double>(Clock::now() - lastChange).count() <
                        kStallSeconds) {
                    return;
                }
                // No progress: a tool that cannot write its statistics or stream waits forever.
                const std::string statsFolder = WithTrailingDelimiter(FolderOf(request_.statsPath));
                if (adapter::FolderNearlyFull(streamFolder)) {
                    stopEngine(adapter::NoSpaceLeft(streamFolder));
                } else if (adapter::FolderNearlyFull(statsFolder)) {
                    stopEngine(adapter::NoSpaceLeft(statsFolder));
                }
            });
        if (!logPartial.empty()) {
            NoteLogLine(logPartial);
        }
        // ffmpeg has closed its pipes: the reader has nobody to feed. ffmpeg is waited for
        // last, so that the adapter ends of the signal ffmpeg may have died of.
        if (reader > 0) {
            kill(reader, SIGKILL);
            adapter::WaitChild(reader);
        }
        const int status = adapter::WaitChild(ffmpeg);
        status_ = status;
        if (close(stream) != 0 && failure.empty()) {
            const int error = errno;
            failure = error == ENOSPC ? adapter::NoSpaceLeft(request_.streamPath)
                                      : request_.streamPath + ": " + std::strerror(error);
        }
        frames_ = reader_.Latest().frame;
        bytes_ = written;
        if (adapter::StopSignal() != 0) {
            return "stopped";
        }
        if (!failure.empty()) {
            return failure;
        }
        if (status != 0 || !fatal_.empty()) {
            return Reason(streamFolder);
        }
        if (frames_ <= 0 || written == 0) {
            return "no video was written to " + request_.streamPath;
        }
        if (x264_.pass == 1 || x264_.pass == 3) {
            const std::string incomplete =
                adapter::CheckPassStatistics(request_.statsPath, frames_);
            if (!incomplete.empty()) {
                const std::string folder = WithTrailingDelimiter(FolderOf(request_.statsPath));
                return adapter::FolderNearlyFull(folder) ? adapter::NoSpaceLeft(folder)
                                                         : incomplete;
            }
        }
        return "";
    }

    // Removes what a failed pass wrote, so that nothing incomplete is taken for a stream.
    void RemovePartialOutput() const {
        if (createdStream_) {
            unlink(request_.streamPath.c_str());
        }
        // x264 renames its statistics into place even when the pass failed.
        if (x264_.pass == 1) {
            for (const char* suffix : {"", ".mbtree", ".temp", ".mbtree.temp"}) {
                unlink((request_.statsPath + suffix).c_str());
            }
        }
    }

    long frames() const { return frames_; }
    // ffmpeg's exit status: 128 + n when it died of signal n (not of the adapter's kill).
    int status() const { return killed_ ? 1 : status_; }
    long long bytes() const { return bytes_; }

  private:
    void NoteLogLine(const std::string& line) {
        const adapter::LogLine parsed = adapter::ParseLogLine(line);
        if (parsed.text.empty()) {
            return;
        }
        // x264 warns, and encodes on without it, of an option it does not know.
        const bool badOption = parsed.text.rfind("Error parsing option", 0) == 0;
        if (parsed.level == "error" || parsed.level == "fatal" || parsed.level == "panic" ||
            badOption) {
            lastError_ = badOption ? "x264 does not take the option " +
                                         parsed.text.substr(parsed.text.find('\''))
                                   : parsed.text;
            if (badOption) {
                fatal_ = lastError_;
            }
            adapter::WriteAll(STDOUT_FILENO, parsed.text + "\n");
        }
    }

    std::string Reason(const std::string& streamFolder) const {
        const std::string statsFolder = WithTrailingDelimiter(FolderOf(request_.statsPath));
        if (lastError_.find(std::strerror(ENOSPC)) != std::string::npos) {
            return adapter::NoSpaceLeft(adapter::FolderNearlyFull(statsFolder) &&
                                                !adapter::FolderNearlyFull(streamFolder)
                                            ? statsFolder
                                            : streamFolder);
        }
        // x264 says only that its statistics could not be written.
        if (lastError_.find("could not be written") != std::string::npos ||
            lastError_.find("encoding failed") != std::string::npos || lastError_.empty()) {
            if (adapter::FolderNearlyFull(streamFolder)) {
                return adapter::NoSpaceLeft(streamFolder);
            }
            if (adapter::FolderNearlyFull(statsFolder)) {
                return adapter::NoSpaceLeft(statsFolder);
            }
        }
        if (!fatal_.empty()) {
            return fatal_;
        }
        return lastError_.empty() ? "ffmpeg failed" : lastError_;
    }

    const adapter::MencoderRequest& request_;
    const adapter::SourceInfo& source_;
    const adapter::FilterPlan& filters_;
    const adapter::X264Plan& x264_;
    bool createdStream_ = false;
    std::string lastError_;
    std::string fatal_;
    long frames_ = 0;
    long long bytes_ = 0;
    int status_ = 0;
    bool killed_ = false;
};

}  // namespace

int Main(int argc, char** argv) {
    adapter::SetToolName(QUINTARO_SLOT_NAME);  // as the program names the slot
    const adapter::MencoderRequest request =
        adapter::ParseMencoderCommand(std::vector<std::string>(argv + 1, argv + argc));
    if (!request.error.empty()) {
        adapter::UsageError(request.error, kUsage);
    }
    const adapter::X264Plan x264 = adapter::TranslateX264Options(request.x264Options);
    if (!x264.error.empty()) {
        adapter::Report(x264.error);
        return kFailedExit;
    }
    const adapter::FilterPlan filters = adapter::TranslateFilterChain(request.filterChain);
    if (!filters.error.empty()) {
        adapter::Report(filters.error);
        return kFailedExit;
    }
    adapter::InstallStopHandling();

    const std::string shownName = request.dvd ? "title " + std::to_string(request.dvdTitle) +
                                                    " of the DVD in " + request.source
                                              : FileNameOf(request.source);
    const ProbeResult probe = Probe(request);
    if (adapter::StopSignal() != 0) {
        return 128 + adapter::StopSignal();
    }
    if (!probe.ok) {
        adapter::Report("cannot read " + shownName + ": " + probe.why);
        return kSourceUnreadableExit;
    }
    if (probe.info.video.index < 0) {
        adapter::Report("no video stream in " + shownName);
        return kFailedExit;
    }
    const adapter::FrameRate rate =
        request.outputRate.value_or(adapter::ChooseOutputRate(probe.info.video, filters.pullup));
    std::string head = adapter::VideoLine(probe.info.video, rate) + "\n";
    if (probe.info.audio.index >= 0) {
        head += adapter::AudioLine(probe.info.audio) + "\n";
    }
    adapter::WriteAll(STDOUT_FILENO, head);

    Encoder encoder(request, probe.info, filters, x264);
    const std::string failure = encoder.Run(rate);
    if (!failure.empty()) {
        encoder.RemovePartialOutput();
        if (adapter::StopSignal() != 0) {
            return 128 + adapter::StopSignal();
        }
        adapter::Report(failure);
        // A crash of ffmpeg's ends the adapter of the same signal (see Finish).
        return encoder.status() > 128 && encoder.status() < 160 ? encoder.status() : kFailedExit;
    }
    adapter::WriteAll(STDOUT_FILENO,
                      "\n" + adapter::SummaryLine(encoder.bytes(), encoder.frames(), rate) + "\n");
    return 0;
}

int main(int argc, char** argv) {
    return adapter::Finish(Main(argc, argv));
}
