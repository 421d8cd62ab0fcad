#pragma once

// The frame rate that a raw H.264 stream declares itself, in the timing information of its
// sequence parameter set (x264 always writes it).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace adapter {

struct FrameRate {
    uint64_t num = 0;  // frames ...
    uint64_t den = 1;  // ... per this many seconds; reduced
    bool operator==(const FrameRate&) const = default;
};

// The frame rate of the first sequence parameter set in an Annex B byte stream, if it carries
// timing information.
std::optional<FrameRate> ParseH264FrameRate(std::string_view annexB);

// The same, read from the start of a file.
std::optional<FrameRate> ReadH264FrameRate(const std::string& path);

// The number of pictures in an Annex B file: slices that start a picture (first_mb_in_slice 0).
// Nothing when the file cannot be read.
std::optional<long> CountH264Pictures(const std::string& path);

// A frame rate given as a decimal text ("25", "29.970"): the NTSC rates written in decimals
// (23.976, 29.97, 59.94, ...) become their exact N*1000/1001; other values are taken to the
// thousandth.
FrameRate FrameRateFromDecimal(double fps);

// "25", "30000/1001".
std::string ToText(const FrameRate& rate);

}  // namespace adapter
