#pragma once

// Sample-rate conversion of interleaved float audio, through libswresample.

#include <cstddef>
#include <string>
#include <vector>

struct SwrContext;

namespace pcm {

class Resampler {
  public:
    Resampler() = default;
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // False, with error() saying why, when the conversion cannot be set up.
    bool Open(int channels, long inRate, long outRate);
    // Converts frames of input, appending what is ready to out (interleaved).
    bool Push(const float* in, size_t frames, std::vector<float>& out);
    // Appends what the filter still holds, at the end of the input.
    bool Flush(std::vector<float>& out);
    const std::string& error() const { return error_; }

  private:
    bool Convert(const float* in, size_t frames, std::vector<float>& out);

    SwrContext* swr_ = nullptr;
    int channels_ = 0;
    std::string error_;
};

}  // namespace pcm
