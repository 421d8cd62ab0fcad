#pragma once

// Channel mixing and sample conversion for the encoder's input: any WAV layout from mono to 7.1
// into the mono or stereo the encoder takes, the centre channel kept, and floats into the
// encoder's 16-bit samples.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pcm {

class Mixer {
  public:
    // channelMask: the WAV's speaker positions; 0 (or one that does not match the channel
    // count) means the usual order for that many channels.
    Mixer(int inChannels, uint32_t channelMask, int outChannels);
    int inChannels() const { return in_; }
    int outChannels() const { return out_; }
    bool passThrough() const { return passThrough_; }
    // The weight of input channel i in output channel o.
    float weight(int o, int i) const { return weights_[static_cast<size_t>(o * in_ + i)]; }
    // frames of interleaved input into interleaved output.
    void Mix(const float* in, size_t frames, float* out) const;

  private:
    int in_, out_;
    bool passThrough_;
    std::vector<float> weights_;  // out_ rows of in_ weights
};

// Rounds to 16 bits, clipping what lies beyond full scale.
void ToInt16(const float* in, size_t samples, int16_t* out);

}  // namespace pcm
