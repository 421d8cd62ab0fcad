#pragma once

// Running the slots and the media tools from tests, generating small clips, and measuring what
// the slots wrote.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace tooltest {

struct RunResult {
    int exitCode = -1;   // 0..255, or 128 + n for a child killed by signal n
    std::string output;  // standard output and error together
};

// Runs argv (argv[0] looked up on PATH unless it holds a "/") without a shell, in cwd if given.
RunResult Run(const std::vector<std::string>& argv, const std::string& cwd = "");

// Starts argv in a process group of its own, as the program starts its tools, with its output
// discarded. Returns its pid (= the group id).
pid_t StartInOwnGroup(const std::vector<std::string>& argv);

// The slot file in the build's program folder ("mencoder.exe", "mkv/mkvmerge.exe").
std::string Slot(const std::string& name);

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }  // without a trailing "/"
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A test clip, generated once per build with ffmpeg and shared by all tests. Kinds:
// "avi" (MPEG-4 Part 2 + MP3, written by ffmpeg's AVI muxer), "mkv" (H.264 + Vorbis),
// "mp4" (H.264 + AAC), "ogm" (Theora + Vorbis in Ogg), "wmv" (WMV2 + WMA, 29.97 fps),
// "mpg" (MPEG-2 + MP2), "noaudio" (MPEG-4 Part 2 AVI without audio), "dvd" (a DVD folder
// authored by dvdauthor from "dvdsource", anamorphic 16:9), "dvdsource" (its MPEG-2 PAL clip),
// "dvd43" and "dvdsource43" (the same at 4:3), "wav" (audio only), "corrupt" (random bytes named
// .avi), "pcmavi" (MPEG-4 + PCM), "phone" (H.264 shown turned by 90 degrees, 60 fps nominal
// with missing pictures, AAC), "vfr" (40 pictures over 3.9 s in Matroska, nominal 30 fps),
// "flash" (flashes and beeps at 1.0 s and 2.4 s, H.264 with B-frames + AAC), "telecine"
// (23.976 film telecined to 29.97 interlaced MPEG-2), "hevc10" (10-bit HEVC), "av1", "dv" (NTSC
// DV, interlaced, 4:3 with 8:9 pixels), "ac3" (5.1 AC3 with the tone in the centre only),
// "mkv2" (two audio tracks, the first with the tone, and subtitles). The picture keeps
// changing, so a frozen picture scores far below a moving one.
std::string Clip(const std::string& kind);

struct MediaInfo {
    std::string videoCodec;
    std::string frameRate;  // r_frame_rate, "25/1"
    long frames = 0;        // decoded video frames
    int width = 0;
    int height = 0;
    int rotation = 0;            // as the display matrix says, in degrees
    double displayAspect = 0;    // width / height as shown: pixel shape and rotation applied
    std::string profile;         // "High"
    std::string pixelFormat;     // "yuv420p"
    double duration = 0;         // of the video stream, as its timestamps say
    double nominalDuration = 0;  // frames / frame rate
    std::string audioCodec;      // empty without audio
    int channels = 0;
    int sampleRate = 0;
    long audioBitRate = 0;
    std::string audioProfile;  // "LC", "HE-AAC", "HE-AACv2"
    double audioDuration = 0;  // of the audio stream, as the container says
};
MediaInfo Probe(const std::string& path);

// The first audio stream of a file, decoded by ffmpeg as a player would (edit lists applied).
struct DecodedAudio {
    int rate = 0;
    int channels = 0;
    double start = 0;            // the stream's start time in the file, in seconds
    std::vector<float> samples;  // interleaved
    double seconds() const;      // how long the decoded sound lasts
};
// Decodes at the given rate and channel count; empty samples when there is no audio.
DecodedAudio DecodeAudio(const std::string& path, int rate, int channels);
// Power in dB (all channels together, averaged over the whole sound) of [low, high) Hz.
double BandLevel(const DecodedAudio& audio, double low, double high);
// When the bursts of sound begin, in seconds of the file's time line: the first sample above
// half of the loudest one after at least `gap` seconds below a tenth of it.
std::vector<double> BurstStarts(const DecodedAudio& audio, double gap = 0.2);
// When the picture flashes, in seconds of the file's time line: the frames whose mean
// brightness jumps above the middle between the darkest and the brightest frame.
std::vector<double> FlashStarts(const std::string& path);
// When the beeps of the first audio stream start, on the same time line (BurstStarts of the
// sound decoded in mono).
std::vector<double> BeepStarts(const std::string& path);

// Mean PSNR (dB) of the video of `encoded` against `source` as it is shown (turned), both
// resampled to `rate` so that frames are compared by their time stamps; the encoded picture is
// scaled to width x height, the source's size as shown.
double Psnr(const std::string& encoded, const std::string& source, const std::string& rate,
            int width, int height);

// Mean volume of the first audio stream in dB (-91 for silence).
double MeanVolume(const std::string& path);

// Whether ffmpeg decodes every stream of the file without a single error message.
bool DecodesCleanly(const std::string& path);

// Processes whose process group is pgid / whose parent is ppid (zombies excluded).
std::vector<pid_t> ProcessesInGroup(pid_t pgid);
std::vector<pid_t> ChildrenOf(pid_t ppid);
std::string CommandName(pid_t pid);  // /proc/<pid>/comm, "" when gone
bool IsGone(pid_t pid);              // no such process, or a zombie
// Whether the process sleeps in the kernel waiting for the other end of a named pipe to open.
bool WaitsForPipePartner(pid_t pid);

// The last line of a tool's output, whatever ends it.
std::string LastLine(const std::string& output);

// A small file system of its own (a tmpfs) at `folder` while the object lives, where the test
// may mount one (as root), so that a tool can be made to meet a full disk. Where it cannot,
// Mounted() is false and the folder is an ordinary one.
class SmallDisk {
  public:
    SmallDisk(const std::string& folder, const std::string& size);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool Mounted() const { return mounted_; }
    // Fills it until at most `bytes` are left (rounded to pages), with a file named "filler".
    void LeaveFree(unsigned long long bytes);
    // Takes the filling away again.
    void Empty();

  private:
    std::string folder_;
    bool mounted_ = false;
};

// Polls cond every 20 ms until it holds or `seconds` have passed.
bool WaitFor(const std::function<bool()>& cond, double seconds = 20.0);

// Frame rate in the way the program reads it: the fifth word of the first line beginning
// "VIDEO", after every two blanks were made one.
std::string FrameRateWord(const std::string& toolOutput);
bool HasAudioLine(const std::string& toolOutput);

}  // namespace tooltest
