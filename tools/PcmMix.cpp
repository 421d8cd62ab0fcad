#include "tools/PcmMix.h"

#include <bit>
#include <cmath>

namespace pcm {

namespace {

constexpr float kHalfPower = 0.70710678f;  // -3 dB

// The layouts WAV files have without a channel mask.
uint32_t UsualMask(int channels) {
    switch (channels) {
        case 1:
            return 0x4;  // centre
        case 2:
            return 0x3;  // left, right
        case 3:
            return 0x7;  // left, right, centre
        case 4:
            return 0x33;  // quad
        case 5:
            return 0x37;  // 5.0
        case 6:
            return 0x3F;  // 5.1
        case 7:
            return 0x70F;  // 6.1
        default:
            return 0x63F;  // 7.1
    }
}

struct Pan {
    float left, right;
};

// Where a speaker of the WAV layout goes in stereo (bits as in WAVE_FORMAT_EXTENSIBLE).
Pan PanOf(uint32_t speaker) {
    switch (speaker) {
        case 0x1:
            return {1, 0};  // front left
        case 0x2:
            return {0, 1};  // front right
        case 0x4:
            return {kHalfPower, kHalfPower};  // front centre
        case 0x8:
            return {0, 0};  // low frequencies: not mixed in
        case 0x10:
            return {kHalfPower, 0};  // back left
        case 0x20:
            return {0, kHalfPower};  // back right
        case 0x40:
            return {1, 0};  // front left of centre
        case 0x80:
            return {0, 1};  // front right of centre
        case 0x200:
            return {kHalfPower, 0};  // side left
        case 0x400:
            return {0, kHalfPower};  // side right
        case 0x1000:
            return {kHalfPower, 0};  // top front left
        case 0x4000:
            return {0, kHalfPower};  // top front right
        case 0x8000:
            return {kHalfPower, 0};  // top back left
        case 0x20000:
            return {0, kHalfPower};  // top back right
        default:
            return {0.5f, 0.5f};  // centred ones and the unknown
    }
}

}  // namespace

Mixer::Mixer(int inChannels, uint32_t channelMask, int outChannels)
    : in_(inChannels),
      out_(outChannels),
      passThrough_(inChannels == outChannels && inChannels <= 2) {
    weights_.assign(static_cast<size_t>(in_ * out_), 0.0f);
    if (passThrough_) {
        for (int c = 0; c < in_; ++c) {
            weights_[static_cast<size_t>(c * in_ + c)] = 1.0f;
        }
        return;
    }
    if (in_ == 1) {  // mono into both channels at its own level
        for (int o = 0; o < out_; ++o) {
            weights_[static_cast<size_t>(o)] = 1.0f;
        }
        return;
    }
    uint32_t mask = channelMask;
    if (std::popcount(mask) != in_) {
        mask = UsualMask(in_);
    }
    std::vector<Pan> pans;
    for (uint32_t bit = 1; bit != 0 && static_cast<int>(pans.size()) < in_; bit <<= 1) {
        if (mask & bit) {
            pans.push_back(PanOf(bit));
        }
    }
    // Each side is scaled so that its weights add up to at most 1: nothing clips that did not.
    float sumLeft = 0, sumRight = 0;
    for (const Pan& pan : pans) {
        sumLeft += pan.left;
        sumRight += pan.right;
    }
    const float scaleLeft = sumLeft > 1 ? 1 / sumLeft : 1;
    const float scaleRight = sumRight > 1 ? 1 / sumRight : 1;
    for (int i = 0; i < in_; ++i) {
        const float left = pans[static_cast<size_t>(i)].left * scaleLeft;
        const float right = pans[static_cast<size_t>(i)].right * scaleRight;
        if (out_ == 1) {
            weights_[static_cast<size_t>(i)] = 0.5f * (left + right);
        } else {
            weights_[static_cast<size_t>(i)] = left;
            weights_[static_cast<size_t>(in_ + i)] = right;
        }
    }
}

void Mixer::Mix(const float* in, size_t frames, float* out) const {
    if (passThrough_) {
        for (size_t i = 0; i < frames * static_cast<size_t>(in_); ++i) {
            out[i] = in[i];
        }
        return;
    }
    for (size_t f = 0; f < frames; ++f) {
        const float* frame = in + f * static_cast<size_t>(in_);
        for (int o = 0; o < out_; ++o) {
            const float* w = weights_.data() + static_cast<size_t>(o * in_);
            float sum = 0;
            for (int i = 0; i < in_; ++i) {
                sum += w[i] * frame[i];
            }
            out[f * static_cast<size_t>(out_) + static_cast<size_t>(o)] = sum;
        }
    }
}

void ToInt16(const float* in, size_t samples, int16_t* out) {
    for (size_t i = 0; i < samples; ++i) {
        float scaled = in[i] * 32768.0f;
        if (!(scaled >= -32768.0f)) {  // NaN too
            scaled = scaled < 0 ? -32768.0f : 0.0f;
        } else if (scaled > 32767.0f) {
            scaled = 32767.0f;
        }
        out[i] = static_cast<int16_t>(std::lrint(scaled));
    }
}

}  // namespace pcm
