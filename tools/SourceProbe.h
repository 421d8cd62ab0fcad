#pragma once

// What the video engine needs to know of a source before it encodes it: its first video stream
// (size, aspect, rates, rotation, start) and its first audio stream, as ffprobe describes them.

#include <optional>
#include <string>
#include <vector>

#include "tools/H264Timing.h"

namespace adapter {

struct VideoStreamInfo {
    int index = -1;  // in the container; -1 when the source has no video
    std::string codec;
    int width = 0;
    int height = 0;
    FrameRate sar{1, 1};
    std::string pixelFormat;
    std::optional<FrameRate> nominalRate;  // r_frame_rate
    std::optional<FrameRate> averageRate;  // avg_frame_rate
    std::optional<double> start;
    std::optional<double> duration;
    long frames = 0;     // as the container counts them, 0 when unknown
    int rotation = 0;    // 0, 90, 180 or 270, as the display matrix turns the picture
    double bitRate = 0;  // bit/s, 0 when unknown
};

struct AudioStreamInfo {
    int index = -1;  // -1 when the source has no audio
    std::string codec;
    int sampleRate = 0;
    int channels = 0;
    std::optional<double> start;
    double bitRate = 0;
};

struct SourceInfo {
    VideoStreamInfo video;
    AudioStreamInfo audio;
    std::optional<double> start;     // the container's start time
    std::optional<double> duration;  // the container's duration
};

// The ffprobe command line whose output ParseProbe reads; input is what ffprobe opens.
std::vector<std::string> ProbeCommand(const std::string& input);

// Reads ffprobe's default output of ProbeCommand. Cover pictures do not count as video.
SourceInfo ParseProbe(const std::string& text);

// "30000/1001", "25/1", "0/0" (nothing), "N/A".
std::optional<FrameRate> ParseRate(const std::string& text);

}  // namespace adapter
