#pragma once

// Whether a file that a slot wrote is what it should be, as a player would find it: readable,
// with the streams it should hold, and as long as what it was made from.

#include <string>

namespace adapter {

struct MediaSummary {
    bool readable = false;
    bool video = false;
    bool audio = false;
    double duration = 0;  // seconds, of the whole file
};

// What ffprobe finds in the file.
MediaSummary ProbeMedia(const std::string& path);

// Empty when `made` holds video (and audio when `from` has audio) and lasts as long as `from`
// within 2% (and a tenth of a second for very short files); otherwise why not.
std::string CheckMadeFrom(const std::string& made, const MediaSummary& from);

}  // namespace adapter
