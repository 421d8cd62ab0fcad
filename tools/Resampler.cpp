#include "tools/Resampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace pcm {

namespace {

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

Resampler::~Resampler() {
    swr_free(&swr_);
}

bool Resampler::Open(int channels, long inRate, long outRate) {
    channels_ = channels;
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    int result =
        swr_alloc_set_opts2(&swr_, &layout, AV_SAMPLE_FMT_FLT, static_cast<int>(outRate), &layout,
                            AV_SAMPLE_FMT_FLT, static_cast<int>(inRate), 0, nullptr);
    av_channel_layout_uninit(&layout);
    if (result >= 0) {
        // A longer filter than the default: a steeper cut below the new Nyquist frequency, so
        // that the treble the encoder keeps is not dulled.
        av_opt_set_int(swr_, "filter_size", 64, 0);
        av_opt_set_double(swr_, "cutoff", 0.98, 0);
        result = swr_init(swr_);
    }
    if (result < 0) {
        error_ = "cannot convert " + std::to_string(inRate) + " Hz to " + std::to_string(outRate) +
                 " Hz: " + ErrorText(result);
        return false;
    }
    return true;
}

bool Resampler::Convert(const float* in, size_t frames, std::vector<float>& out) {
    int room = swr_get_out_samples(swr_, static_cast<int>(frames));
    if (room >= 0 && !in) {
        room += 64;  // what the delay line still holds is not always counted
    }
    if (room < 0) {
        error_ = "resampling failed: " + ErrorText(room);
        return false;
    }
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(room) * static_cast<size_t>(channels_));
    auto* target = reinterpret_cast<uint8_t*>(out.data() + start);
    const auto* source = reinterpret_cast<const uint8_t*>(in);
    const int made =
        swr_convert(swr_, &target, room, in ? &source : nullptr, static_cast<int>(frames));
    if (made < 0) {
        out.resize(start);
        error_ = "resampling failed: " + ErrorText(made);
        return false;
    }
    out.resize(start + static_cast<size_t>(made) * static_cast<size_t>(channels_));
    return true;
}

bool Resampler::Push(const float* in, size_t frames, std::vector<float>& out) {
    return frames == 0 || Convert(in, frames, out);
}

bool Resampler::Flush(std::vector<float>& out) {
    for (;;) {
        const size_t before = out.size();
        if (!Convert(nullptr, 0, out)) {
            return false;
        }
        if (out.size() == before) {
            return true;
        }
    }
}

}  // namespace pcm
