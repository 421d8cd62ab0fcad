#pragma once

// The video engine behind "mencoder.exe": ffmpeg with libx264, converting the source to a
// constant frame rate by its time stamps, applying its display rotation and keeping its aspect.
// Here: the choices and texts that do not need a running tool.

#include <optional>
#include <string>
#include <vector>

#include "tools/H264Timing.h"
#include "tools/MencoderCommand.h"
#include "tools/SourceProbe.h"

namespace adapter {

// The constant rate the output gets: the source's nominal rate when it is one a player expects
// (up to 120 fps; a field rate twice the average is taken as the average), otherwise (a time
// base such as 1000 or 90000 fps) its average rate rounded to the nearest usual rate. Inverse
// telecine (pullup) turns 29.97 and 30 into 23.976 and 24.
FrameRate ChooseOutputRate(const VideoStreamInfo& video, bool pullup);

// Where the output's first picture lies on the source's time line, relative to the container's
// start (which ffmpeg takes as zero): at the start of the sound, which the audio extraction
// takes as its own start, so that picture and sound stay together; at the picture's own start
// without sound.
double OutputStart(const SourceInfo& source);

// The whole ffmpeg filter chain: the postprocessing filters on the decoded picture, the display
// rotation (clockwise degrees), the other filters, then an even size for 4:2:0, the constant
// rate from start, and 8-bit 4:2:0 for a profile every player decodes.
std::string FilterGraph(const FilterPlan& filters, int rotation, const FrameRate& rate,
                        double start);

struct EngineJob {
    std::string input;              // what ffmpeg opens ("file:/x.avi", "pipe:0")
    bool mpegInput = false;         // a DVD title on standard input
    bool exportQuantizers = false;  // for the postprocessing filters
    int videoIndex = 0;
    std::string graph;
    X264Plan x264;
    std::string statsPath;
    int progressFd = 3;  // -progress pipe:N
    int streamFd = 4;    // the stream goes to pipe:N
};

std::vector<std::string> EngineCommand(const EngineJob& job);

// Escapes a value for ffmpeg's "key=value:key=value" option lists.
std::string EscapeOptionValue(const std::string& value);

// The lines mencoder prints, in its shape, so that the program reads them as it reads
// mencoder's: "VIDEO:  [H264]  640x360  24bpp  60.000 fps  1101.4 kbps (134.4 kbyte/s)" (the
// fifth word the output's rate), "AUDIO: 48000 Hz, 2 ch, s16le, ...".
std::string VideoLine(const VideoStreamInfo& video, const FrameRate& rate);
std::string AudioLine(const AudioStreamInfo& audio);

struct Progress {
    long frame = 0;
    double outTime = 0;       // seconds of output written
    long long totalSize = 0;  // bytes
    bool end = false;
};

// Reads ffmpeg's "-progress" blocks; Feed returns true when a block was completed.
class ProgressReader {
  public:
    bool Feed(const std::string& chunk);
    const Progress& Latest() const { return latest_; }

  private:
    std::string partial_;
    Progress building_;
    Progress latest_;
};

// "Pos:  18.8s    470f (31%) 236.54fps Trem:   0min   1mb  A-V:0.000 [269:0]"; duration 0
// when unknown.
std::string ProgressLine(const Progress& progress, double duration, double elapsed);

// "Video stream:  268.107 kbit/s  (33513 B/s)  size: 671000 bytes  20.020 secs  500 frames"
std::string SummaryLine(long long bytes, long frames, const FrameRate& rate);

// A line of ffmpeg's "-loglevel level+..." output: its level and its text without prefixes.
struct LogLine {
    std::string level;  // "error", "warning", "fatal", ... ; "" when the line has none
    std::string text;
};
LogLine ParseLogLine(const std::string& line);

// Whether x264's first-pass statistics (statsPath and statsPath + ".mbtree") are complete for
// frames pictures: "" when they are, otherwise what is wrong.
std::string CheckPassStatistics(const std::string& statsPath, long frames);

}  // namespace adapter
