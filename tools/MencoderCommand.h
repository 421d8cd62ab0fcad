#pragma once

// Reads the command line the program gives its "mencoder.exe" slot and translates its parts for
// the video engine (ffmpeg with libx264): the x264encopts into x264's own option names, and
// mencoder's filter chain into an ffmpeg filter chain of the same meaning.

#include <optional>
#include <string>
#include <vector>

#include "tools/H264Timing.h"

namespace adapter {

struct X264Plan {
    std::string error;  // set when an option cannot be carried over
    int pass = 0;       // 0: one pass; 1: analysis (writes the statistics); 2: reads them
    int turbo = 0;      // mencoder's fast first pass
    // "name=value" in x264's own spelling, for -x264-params (every switch with its value).
    std::vector<std::string> params;
};

// "b_pyramid" (a switch in old x264) becomes "b-pyramid=normal"; "bime" and "brdo" (gone from
// x264, part of today's subme) are dropped; "frameref" is "ref"; "nofoo" is "foo=0". "pass" and
// "turbo" become the plan's pass and turbo. With turbo in the first pass, the options that
// x264's fast first pass sets itself are left out, as mencoder's turbo overrode them.
X264Plan TranslateX264Options(const std::string& options);

struct FilterPlan {
    std::string error;
    // The postprocessing filters, which read the source's quantizers: they run first, on the
    // picture as it was decoded.
    std::vector<std::string> sourceFilters;
    std::vector<std::string> filters;  // the others, in order
    bool pullup = false;               // inverse telecine: 4 of 5 pictures remain
    bool needsQuantizers = false;      // a postprocessing filter reads the source's quantizers
};

// mencoder's -vf chain ("harddup,kerndeint,scale=640:480,...") in ffmpeg's terms. "harddup" and
// "softskip" have no filter of their own: the engine always writes a constant frame rate.
FilterPlan TranslateFilterChain(const std::string& chain);

// mencoder's "scale=W:H[:interlaced...]" (W, H: a size; empty or -1 the source's; 0 the
// displayed size; -2 from the other side and the picture's shape; -3 from the other side and
// the displayed shape; -9 to -11 the same rounded to 16) as an ffmpeg scale filter, "" when the
// size stays, nothing when the text is no size.
std::optional<std::string> TranslateScale(const std::string& parameters);

struct MencoderRequest {
    std::string error;   // set when the command line cannot be read
    std::string source;  // a file (or URL), or the DVD folder
    bool dvd = false;
    int dvdTitle = 1;
    std::string streamPath;  // after "-o"
    std::string statsPath;   // the two-pass statistics: "divx2pass.log" beside the stream
    std::string x264Options;
    std::string filterChain;  // every -vf, -vf-pre and -vf-add joined in mencoder's order
    std::optional<FrameRate> outputRate;  // -ofps
};

// args are the adapter's arguments without its own name: the source first (a file, or
// "dvd://N" with "-dvd-device FOLDER"), then mencoder options, among them "-o STREAM".
MencoderRequest ParseMencoderCommand(const std::vector<std::string>& args);

}  // namespace adapter
