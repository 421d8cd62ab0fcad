#include "tests/tools/ToolTestSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tooltest {

namespace fs = std::filesystem;

namespace {

std::vector<char*> CArgv(const std::vector<std::string>& argv) {
    std::vector<char*> cargv;
    for (const std::string& arg : argv) {
        cargv.push_back(const_cast<char*>(arg.c_str()));
    }
    cargv.push_back(nullptr);
    return cargv;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& cwd, int outFd,
            bool ownGroup) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDERR_FILENO);
    if (!cwd.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (ownGroup) {
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
    }
    std::vector<char*> cargv = CArgv(argv);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, cargv[0], &actions, &attr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (error != 0) {
        throw std::runtime_error("cannot start " + argv[0]);
    }
    return pid;
}

int ExitCodeOf(int status) {
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

std::string CacheFolder() {
    const std::string folder = TOOLS_CLIP_CACHE;
    fs::create_directories(folder);
    return folder;
}

void RunOrThrow(const std::vector<std::string>& argv) {
    const RunResult result = Run(argv);
    if (result.exitCode != 0) {
        throw std::runtime_error("clip generation failed: " + argv[0] + "\n" + result.output);
    }
}

const std::string kSeconds = "2";
const std::string kPicture = "testsrc=size=176x144:rate=25:duration=" + kSeconds + ",hue=H=PI*t";
const std::string kSound = "sine=frequency=440:sample_rate=44100:duration=" + kSeconds;

std::vector<std::string> FfmpegClip(const std::string& picture, const std::string& sound,
                                    const std::vector<std::string>& encode) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",
                                     "-y",     "-f",       "lavfi",        "-i",        picture};
    if (!sound.empty()) {
        argv.insert(argv.end(), {"-f", "lavfi", "-i", sound});
    }
    argv.insert(argv.end(), encode.begin(), encode.end());
    return argv;
}

struct ClipRecipe {
    std::string extension;
    std::vector<std::string> ffmpeg;  // output file appended
    // A second step, when one command cannot make the clip: "{in}" is the first step's output
    // (written with `firstExtension`), the output file is appended.
    std::vector<std::string> then = {};
    std::string firstExtension = "";
};

// Flashes and beeps together: white pictures and a 1 kHz tone from 1.0 s and from 2.4 s.
const std::string kFlashes = "between(t,0.999,1.039)+between(t,2.399,2.439)";

const std::map<std::string, ClipRecipe>& Recipes() {
    static const std::map<std::string, ClipRecipe> recipes = {
        {"avi",
         {".avi",
          FfmpegClip(kPicture, kSound, {"-c:v", "mpeg4", "-q:v", "3", "-c:a", "libmp3lame"})}},
        {"pcmavi",
         {".avi",
          FfmpegClip(kPicture, kSound, {"-c:v", "mpeg4", "-q:v", "3", "-c:a", "pcm_s16le"})}},
        {"mkv",
         {".mkv", FfmpegClip(kPicture, kSound,
                             {"-pix_fmt", "yuv420p", "-c:v", "libx264", "-c:a", "libvorbis"})}},
        {"mp4",
         {".mp4",
          FfmpegClip(kPicture, kSound, {"-pix_fmt", "yuv420p", "-c:v", "libx264", "-c:a", "aac"})}},
        {"ogm",
         {".ogm", FfmpegClip(kPicture, kSound,
                             {"-pix_fmt", "yuv420p", "-c:v", "libtheora", "-q:v", "7", "-c:a",
                              "libvorbis", "-f", "ogg"})}},
        {"wmv",
         {".wmv",
          FfmpegClip("testsrc=size=176x144:rate=30000/1001:duration=" + kSeconds + ",hue=H=PI*t",
                     kSound, {"-c:v", "wmv2", "-b:v", "1M", "-c:a", "wmav2"})}},
        {"mpg",
         {".mpg",
          FfmpegClip(kPicture, kSound, {"-c:v", "mpeg2video", "-q:v", "3", "-c:a", "mp2"})}},
        {"noaudio", {".avi", FfmpegClip(kPicture, "", {"-c:v", "mpeg4", "-q:v", "3"})}},
        {"dvdsource",
         {".mpg",
          FfmpegClip("testsrc=size=352x288:rate=25:duration=" + kSeconds + ",hue=H=PI*t",
                     "sine=frequency=440:sample_rate=48000:duration=" + kSeconds,
                     {"-target", "pal-dvd", "-s", "352x288", "-aspect", "16:9", "-b:v", "1500k"})}},
        {"dvdsource43",
         {".mpg",
          FfmpegClip("testsrc=size=352x288:rate=25:duration=" + kSeconds + ",hue=H=PI*t",
                     "sine=frequency=440:sample_rate=48000:duration=" + kSeconds,
                     {"-target", "pal-dvd", "-s", "352x288", "-aspect", "4:3", "-b:v", "1500k"})}},
        {"wav", {".wav", FfmpegClip(kSound, "", {})}},
        // A phone's clip: stored landscape, shown portrait (90 degrees), 60 fps nominal with
        // pictures missing here and there (154 over 3 s), AAC at 48 kHz.
        {"phone",
         {".mp4",
          FfmpegClip("testsrc2=size=320x180:rate=60:duration=3",
                     "sine=frequency=440:sample_rate=48000:duration=3",
                     {"-vf", "select='not(eq(mod(n\\,7)\\,3))'", "-fps_mode", "vfr", "-pix_fmt",
                      "yuv420p", "-c:v", "libx264", "-c:a", "aac"}),
          {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i", "{in}", "-c",
           "copy", "-metadata:s:v:0", "rotate=90"},
          ".mp4"}},
        // A screen recording: 40 pictures over 3.9 s in Matroska, nominal 30 fps.
        {"vfr",
         {".mkv", FfmpegClip("testsrc2=size=320x240:rate=30:duration=4",
                             "sine=frequency=440:sample_rate=48000:duration=4",
                             {"-vf", "select='not(mod(n\\,3))'", "-fps_mode", "vfr", "-pix_fmt",
                              "yuv420p", "-c:v", "libx264", "-c:a", "aac"})}},
        // Lip sync: H.264 with B-frames and AAC, flashes and beeps at the same instants.
        {"flash",
         {".mp4",
          FfmpegClip("color=c=black:size=320x240:rate=25:duration=3.4,drawbox=c=white:t=fill:"
                     "enable='" +
                         kFlashes + "'",
                     "aevalsrc=exprs='0.5*sin(2*PI*1000*t)*(" + kFlashes +
                         ")':sample_rate=48000:duration=3.4",
                     {"-pix_fmt", "yuv420p", "-c:v", "libx264", "-bf", "3", "-c:a", "aac"})}},
        // Film at 23.976 telecined to 29.97 interlaced, as NTSC broadcasts and DVDs carry it.
        {"telecine",
         {".mpg",
          FfmpegClip("testsrc2=size=320x240:rate=24000/1001:duration=3",
                     "sine=frequency=440:sample_rate=48000:duration=3",
                     {"-vf", "telecine=first_field=top:pattern=23", "-c:v", "mpeg2video", "-q:v",
                      "3", "-flags", "+ilme+ildct", "-top", "1", "-c:a", "mp2", "-f", "mpeg"})}},
        {"hevc10",
         {".mkv", FfmpegClip(kPicture, kSound,
                             {"-pix_fmt", "yuv420p10le", "-c:v", "libx265", "-preset", "ultrafast",
                              "-x265-params", "log-level=error", "-c:a", "aac"})}},
        {"av1",
         {".mkv", FfmpegClip(kPicture, kSound,
                             {"-pix_fmt", "yuv420p", "-c:v", "libaom-av1", "-cpu-used", "8",
                              "-row-mt", "1", "-b:v", "200k", "-c:a", "libopus"})}},
        // DV from a camera: NTSC, interlaced, 4:3 with pixels 8:9, PCM sound.
        {"dv",
         {".avi",
          FfmpegClip("testsrc=size=720x480:rate=30000/1001:duration=" + kSeconds + ",hue=H=PI*t",
                     "sine=frequency=440:sample_rate=48000:duration=" + kSeconds,
                     {"-c:v", "dvvideo", "-aspect", "4:3", "-pix_fmt", "yuv411p", "-top", "0",
                      "-c:a", "pcm_s16le"})}},
        // 5.1 AC3 with the tone in the centre channel only.
        {"ac3",
         {".mkv",
          FfmpegClip(kPicture,
                     "sine=frequency=440:sample_rate=48000:duration=" + kSeconds +
                         ",pan=5.1|FL=0*c0|FR=0*c0|FC=c0|LFE=0*c0|BL=0*c0|BR=0*c0",
                     {"-pix_fmt", "yuv420p", "-c:v", "libx264", "-c:a", "ac3", "-b:a", "384k"})}},
        // Two audio tracks (the tone first, then silence) and subtitles.
        {"mkv2",
         {".mkv", {"ffmpeg",      "-nostdin", "-hide_banner",
                   "-loglevel",   "error",    "-y",
                   "-f",          "lavfi",    "-i",
                   kPicture,      "-f",       "lavfi",
                   "-i",          kSound,     "-f",
                   "lavfi",       "-i",       "anullsrc=sample_rate=44100:duration=" + kSeconds,
                   "-f",          "srt",      "-i",
                   "{subtitles}", "-map",     "0:v",
                   "-map",        "1:a",      "-map",
                   "2:a",         "-map",     "3:s",
                   "-pix_fmt",    "yuv420p",  "-c:v",
                   "libx264",     "-c:a",     "libvorbis",
                   "-c:s",        "srt",      "-t",
                   kSeconds}}},
    };
    return recipes;
}

std::string Key(const std::vector<std::string>& argv) {
    std::string joined;
    for (const std::string& arg : argv) {
        joined += arg + '\n';
    }
    std::ostringstream key;
    key << std::hex << std::hash<std::string>{}(joined);
    return key.str();
}

// Generates into a private name and renames, so that tests running side by side never read a
// half-written clip; whoever renames first wins.
std::string MakeClip(const std::string& kind) {
    const std::string folder = CacheFolder();
    if (kind == "corrupt") {
        const std::string path = folder + "/corrupt.avi";
        if (!fs::exists(path)) {
            const std::string part = path + "." + std::to_string(getpid());
            std::mt19937 random(6);
            std::string bytes(100000, '\0');
            for (char& byte : bytes) {
                byte = static_cast<char>(random() & 0xff);
            }
            std::ofstream(part, std::ios::binary) << bytes;
            fs::rename(part, path);
        }
        return path;
    }
    if (kind == "dvd" || kind == "dvd43") {
        const std::string source = Clip(kind == "dvd" ? "dvdsource" : "dvdsource43");
        const std::string path = folder + "/" + kind + "-" + Key({source});
        if (!fs::exists(path)) {
            const std::string part = path + "." + std::to_string(getpid());
            fs::remove_all(part);
            RunOrThrow({"env", "VIDEO_FORMAT=PAL", "dvdauthor", "-o", part, "-t", source});
            RunOrThrow({"env", "VIDEO_FORMAT=PAL", "dvdauthor", "-o", part, "-T"});
            std::error_code error;
            fs::rename(part, path, error);
            fs::remove_all(part);
        }
        return path;
    }
    const auto recipe = Recipes().find(kind);
    if (recipe == Recipes().end()) {
        throw std::invalid_argument("no such clip: " + kind);
    }
    std::vector<std::string> key = recipe->second.ffmpeg;
    key.insert(key.end(), recipe->second.then.begin(), recipe->second.then.end());
    const std::string path = folder + "/" + kind + "-" + Key(key) + recipe->second.extension;
    if (!fs::exists(path)) {
        const std::string part =
            folder + "/part" + std::to_string(getpid()) + "-" + fs::path(path).filename().string();
        const std::string subtitles = part + ".srt";
        std::ofstream(subtitles) << "1\n00:00:00,500 --> 00:00:01,500\nHello\n\n";
        const std::string first = part + ".first" + recipe->second.firstExtension;
        std::vector<std::string> argv;
        for (const std::string& word : recipe->second.ffmpeg) {
            argv.push_back(word == "{subtitles}" ? subtitles : word);
        }
        argv.push_back(recipe->second.then.empty() ? part : first);
        RunOrThrow(argv);
        if (!recipe->second.then.empty()) {
            argv.clear();
            for (const std::string& word : recipe->second.then) {
                argv.push_back(word == "{in}" ? first : word);
            }
            argv.push_back(part);
            RunOrThrow(argv);
            fs::remove(first);
        }
        fs::remove(subtitles);
        fs::rename(part, path);
    }
    return path;
}

std::map<std::string, std::string> KeyValues(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos && !values.count(line.substr(0, eq))) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

long ToLong(const std::string& text) {
    return std::strtol(text.c_str(), nullptr, 10);
}

std::vector<pid_t> ScanProcesses(int field, pid_t value) {
    std::vector<pid_t> found;
    DIR* dir = opendir("/proc");
    if (!dir) {
        return found;
    }
    while (dirent* entry = readdir(dir)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) {
            continue;
        }
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string content;
        std::getline(stat, content);
        const size_t close = content.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        // After "pid (comm)": state ppid pgrp ...
        std::istringstream rest(content.substr(close + 2));
        std::string state;
        long ppid = 0;
        long pgrp = 0;
        rest >> state >> ppid >> pgrp;
        const long wanted = field == 0 ? ppid : pgrp;
        if (state != "Z" && wanted == value) {
            found.push_back(pid);
        }
    }
    closedir(dir);
    return found;
}

}  // namespace

RunResult Run(const std::vector<std::string>& argv, const std::string& cwd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = Spawn(argv, cwd, fds[1], false);
    close(fds[1]);
    RunResult result;
    char buffer[8192];
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        result.output.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = ExitCodeOf(status);
    return result;
}

pid_t StartInOwnGroup(const std::vector<std::string>& argv) {
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = Spawn(argv, "", devNull, true);
    close(devNull);
    return pid;
}

std::string Slot(const std::string& name) {
    return std::string(QUINTARO_BIN_DIR) + "/" + name;
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "quintaro-tools-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string Clip(const std::string& kind) {
    return MakeClip(kind);
}

MediaInfo Probe(const std::string& path) {
    MediaInfo info;
    const RunResult video = Run(
        {"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
         "stream=codec_name,r_frame_rate,nb_read_frames,width,height,duration,sample_aspect_ratio,"
         "profile,pix_fmt:stream_tags=DURATION:stream_side_data=rotation",
         "-of", "default=noprint_wrappers=1", "file:" + path});
    auto values = KeyValues(video.output);
    info.videoCodec = values["codec_name"];
    info.frameRate = values["r_frame_rate"];
    info.frames = ToLong(values["nb_read_frames"]);
    info.width = static_cast<int>(ToLong(values["width"]));
    info.height = static_cast<int>(ToLong(values["height"]));
    info.rotation = static_cast<int>(ToLong(values["rotation"]));
    info.profile = values["profile"];
    info.pixelFormat = values["pix_fmt"];
    double sar = 1;
    const std::string aspect = values["sample_aspect_ratio"];
    const size_t colon = aspect.find(':');
    if (colon != std::string::npos && ToLong(aspect.substr(colon + 1)) > 0 && ToLong(aspect) > 0) {
        sar = static_cast<double>(ToLong(aspect)) /
              static_cast<double>(ToLong(aspect.substr(colon + 1)));
    }
    if (info.height > 0) {
        info.displayAspect = info.width * sar / info.height;
        if (info.rotation % 180 != 0) {
            info.displayAspect = 1 / info.displayAspect;
        }
    }
    info.duration = std::strtod(values["duration"].c_str(), nullptr);
    // Matroska keeps it in a tag, "00:00:02.000000000".
    const std::string tag = values["TAG:DURATION"];
    if (info.duration <= 0 && tag.size() > 6) {
        info.duration = std::strtod(tag.c_str(), nullptr) * 3600 +
                        std::strtod(tag.c_str() + 3, nullptr) * 60 +
                        std::strtod(tag.c_str() + 6, nullptr);
    }
    const size_t slash = info.frameRate.find('/');
    if (slash != std::string::npos) {
        const double rate = std::strtod(info.frameRate.c_str(), nullptr) /
                            std::strtod(info.frameRate.c_str() + slash + 1, nullptr);
        info.nominalDuration = rate > 0 ? static_cast<double>(info.frames) / rate : 0;
    }
    const RunResult audio =
        Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
             "stream=codec_name,channels,sample_rate,bit_rate,profile,duration", "-of",
             "default=noprint_wrappers=1", "file:" + path});
    values = KeyValues(audio.output);
    info.audioCodec = values["codec_name"];
    info.channels = static_cast<int>(ToLong(values["channels"]));
    info.sampleRate = static_cast<int>(ToLong(values["sample_rate"]));
    info.audioBitRate = ToLong(values["bit_rate"]);
    info.audioProfile = values["profile"];
    info.audioDuration = std::strtod(values["duration"].c_str(), nullptr);
    return info;
}

double DecodedAudio::seconds() const {
    return rate > 0 && channels > 0
               ? static_cast<double>(samples.size()) / channels / static_cast<double>(rate)
               : 0;
}

DecodedAudio DecodeAudio(const std::string& path, int rate, int channels) {
    DecodedAudio audio;
    audio.rate = rate;
    audio.channels = channels;
    const RunResult start =
        Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
             "stream=start_time", "-of", "default=noprint_wrappers=1:nokey=1", "file:" + path});
    audio.start = std::strtod(start.output.c_str(), nullptr);
    TempDir dir;
    const std::string raw = dir / "audio.f32";
    const RunResult decoded =
        Run({"ffmpeg", "-nostdin", "-v", "error", "-i", "file:" + path, "-map", "0:a:0", "-ar",
             std::to_string(rate), "-ac", std::to_string(channels), "-f", "f32le", raw});
    if (decoded.exitCode != 0) {
        return audio;
    }
    std::ifstream in(raw, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    audio.samples.resize(bytes.size() / sizeof(float));
    std::memcpy(audio.samples.data(), bytes.data(), audio.samples.size() * sizeof(float));
    return audio;
}

namespace {

void Fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(a[i], a[j]);
        }
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2 * M_PI / static_cast<double>(len);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (size_t k = 0; k < len / 2; ++k, w *= step) {
                const std::complex<double> u = a[i + k];
                const std::complex<double> v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

}  // namespace

double BandLevel(const DecodedAudio& audio, double low, double high) {
    constexpr size_t kSize = 4096;
    const size_t frames = audio.channels > 0 ? audio.samples.size() / audio.channels : 0;
    double power = 0;
    size_t windows = 0;
    std::vector<std::complex<double>> bins(kSize);
    for (size_t at = 0; at + kSize <= frames; at += kSize / 2, ++windows) {
        for (int c = 0; c < audio.channels; ++c) {
            for (size_t i = 0; i < kSize; ++i) {
                const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / kSize);
                bins[i] = hann * audio.samples[(at + i) * audio.channels + c];
            }
            Fft(bins);
            for (size_t k = 0; k < kSize / 2; ++k) {
                const double frequency = static_cast<double>(k) * audio.rate / kSize;
                if (frequency >= low && frequency < high) {
                    power += std::norm(bins[k]);
                }
            }
        }
    }
    return windows > 0 && power > 0 ? 10 * std::log10(power / static_cast<double>(windows)) : -400;
}

std::vector<double> BurstStarts(const DecodedAudio& audio, double gap) {
    std::vector<double> starts;
    const size_t frames = audio.channels > 0 ? audio.samples.size() / audio.channels : 0;
    float peak = 0;
    for (float v : audio.samples) {
        peak = std::max(peak, std::fabs(v));
    }
    if (peak <= 0) {
        return starts;
    }
    const size_t quiet = static_cast<size_t>(gap * audio.rate);
    size_t silent = 0;
    bool armed = true;  // the start of the file counts as quiet
    for (size_t f = 0; f < frames; ++f) {
        float level = 0;
        for (int c = 0; c < audio.channels; ++c) {
            level = std::max(level, std::fabs(audio.samples[f * audio.channels + c]));
        }
        silent = level < peak / 10 ? silent + 1 : 0;
        armed = armed || silent >= quiet;
        // The coder's pre-echo, in the few milliseconds before a burst, does not count.
        if (armed && level >= peak / 2) {
            starts.push_back(audio.start + static_cast<double>(f) / audio.rate);
            armed = false;
        }
    }
    return starts;
}

std::vector<double> FlashStarts(const std::string& path) {
    const RunResult stats = Run(
        {"ffmpeg", "-nostdin", "-v", "error", "-copyts", "-i", "file:" + path, "-map", "0:v:0",
         "-vf", "signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-", "-f", "null", "-"});
    std::vector<std::pair<double, double>> frames;  // time, brightness
    std::istringstream lines(stats.output);
    double time = 0;
    for (std::string line; std::getline(lines, line);) {
        if (const size_t at = line.find("pts_time:"); at != std::string::npos) {
            time = std::strtod(line.c_str() + at + 9, nullptr);
        } else if (const size_t eq = line.find("YAVG="); eq != std::string::npos) {
            frames.emplace_back(time, std::strtod(line.c_str() + eq + 5, nullptr));
        }
    }
    std::vector<double> flashes;
    if (frames.empty()) {
        return flashes;
    }
    double darkest = frames[0].second, brightest = frames[0].second;
    for (const auto& [t, y] : frames) {
        darkest = std::min(darkest, y);
        brightest = std::max(brightest, y);
    }
    const double middle = (darkest + brightest) / 2;
    bool lit = false;
    for (const auto& [t, y] : frames) {
        if (y > middle && !lit) {
            flashes.push_back(t);
        }
        lit = y > middle;
    }
    return flashes;
}

double Psnr(const std::string& encoded, const std::string& source, const std::string& rate,
            int width, int height) {
    const std::string size = std::to_string(width) + ":" + std::to_string(height);
    const RunResult result =
        Run({"ffmpeg", "-nostdin", "-hide_banner", "-i", "file:" + encoded, "-i", "file:" + source,
             "-lavfi",
             "[0:v]scale=" + size + ",fps=" + rate + ",setpts=PTS-STARTPTS[a];[1:v]fps=" + rate +
                 ",setpts=PTS-STARTPTS[b];[a][b]psnr",
             "-f", "null", "-"});
    const size_t at = result.output.rfind("average:");
    if (at == std::string::npos) {
        return 0;
    }
    return std::strtod(result.output.c_str() + at + 8, nullptr);
}

namespace {

// The values after `key` in ffmpeg's log ("silence_end: 1.0023").
std::vector<double> LoggedTimes(const std::string& log, const std::string& key) {
    std::vector<double> times;
    for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) {
        times.push_back(std::strtod(log.c_str() + at + key.size(), nullptr));
    }
    return times;
}

}  // namespace

std::vector<double> BeepStarts(const std::string& path) {
    return BurstStarts(DecodeAudio(path, 44100, 1));
}

double MeanVolume(const std::string& path) {
    const RunResult result = Run({"ffmpeg", "-nostdin", "-hide_banner", "-i", "file:" + path,
                                  "-map", "0:a:0", "-af", "volumedetect", "-f", "null", "-"});
    const std::vector<double> volume = LoggedTimes(result.output, "mean_volume: ");
    return volume.empty() ? -91 : volume.back();
}

bool DecodesCleanly(const std::string& path) {
    const RunResult result = Run({"ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-i",
                                  "file:" + path, "-f", "null", "-"});
    return result.exitCode == 0 && result.output.empty();
}

std::vector<pid_t> ProcessesInGroup(pid_t pgid) {
    return ScanProcesses(1, pgid);
}
std::vector<pid_t> ChildrenOf(pid_t ppid) {
    return ScanProcesses(0, ppid);
}

std::string CommandName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

bool IsGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content;
    if (!std::getline(stat, content)) {
        return true;
    }
    const size_t close = content.rfind(')');
    return close != std::string::npos && content.compare(close + 2, 1, "Z") == 0;
}

bool WaitsForPipePartner(pid_t pid) {
    std::ifstream wchan("/proc/" + std::to_string(pid) + "/wchan");
    std::string name;
    std::getline(wchan, name);
    return name == "wait_for_partner";
}

bool WaitFor(const std::function<bool()>& cond, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string FrameRateWord(const std::string& toolOutput) {
    std::istringstream lines(toolOutput);
    std::string line;
    while (std::getline(lines, line, '\n')) {
        if (line.compare(0, 5, "VIDEO") != 0) {
            continue;
        }
        std::istringstream words(line);
        std::string word;
        for (int i = 0; i < 5 && words >> word; ++i) {
        }
        return word;
    }
    return "";
}

bool HasAudioLine(const std::string& toolOutput) {
    return toolOutput.compare(0, 5, "AUDIO") == 0 ||
           toolOutput.find("\nAUDIO") != std::string::npos ||
           toolOutput.find("\rAUDIO") != std::string::npos;
}

std::string LastLine(const std::string& output) {
    std::string text = output;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    const size_t end = text.find_last_of("\r\n");
    return end == std::string::npos ? text : text.substr(end + 1);
}

SmallDisk::SmallDisk(const std::string& folder, const std::string& size) : folder_(folder) {
    std::filesystem::create_directories(folder_);
    const std::string options = "size=" + size + ",mode=0700";
    mounted_ = geteuid() == 0 && mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    if (mounted_) {
        umount2(folder_.c_str(), MNT_DETACH);
    }
}

void SmallDisk::LeaveFree(unsigned long long bytes) {
    const int fd = open((folder_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0) {
        return;
    }
    const std::string piece(4096, 'x');
    for (;;) {
        struct statvfs info {};
        if (statvfs(folder_.c_str(), &info) != 0 ||
            static_cast<unsigned long long>(info.f_bavail) * info.f_frsize <= bytes ||
            write(fd, piece.data(), piece.size()) <= 0) {
            break;
        }
    }
    close(fd);
}

void SmallDisk::Empty() {
    unlink((folder_ + "/filler").c_str());
}

}  // namespace tooltest
