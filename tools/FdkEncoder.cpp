#include "tools/FdkEncoder.h"

#include <fdk-aac/aacenc_lib.h>

#include <cstdio>

namespace aac {

namespace {

std::string ErrorName(AACENC_ERROR error) {
    switch (error) {
        case AACENC_INVALID_HANDLE:
            return "invalid handle";
        case AACENC_MEMORY_ERROR:
            return "out of memory";
        case AACENC_UNSUPPORTED_PARAMETER:
            return "unsupported parameter";
        case AACENC_INVALID_CONFIG:
            return "invalid configuration";
        case AACENC_INIT_ERROR:
            return "initialisation error";
        case AACENC_INIT_AAC_ERROR:
            return "AAC initialisation error";
        case AACENC_INIT_SBR_ERROR:
            return "SBR initialisation error";
        case AACENC_INIT_TP_ERROR:
            return "transport initialisation error";
        case AACENC_ENCODE_ERROR:
            return "encoding error";
        default: {
            char code[16];
            std::snprintf(code, sizeof code, "error 0x%x", static_cast<unsigned>(error));
            return code;
        }
    }
}

class BitReader {
  public:
    explicit BitReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    uint32_t Read(int bits) {
        uint32_t value = 0;
        for (int i = 0; i < bits; ++i, ++at_) {
            const size_t byte = at_ / 8;
            const uint32_t bit = byte < bytes_.size() ? (bytes_[byte] >> (7 - at_ % 8)) & 1u : 0;
            value = value << 1 | bit;
        }
        return value;
    }
    size_t position() const { return at_; }
    size_t left() const { return bytes_.size() * 8 > at_ ? bytes_.size() * 8 - at_ : 0; }

  private:
    const std::vector<uint8_t>& bytes_;
    size_t at_ = 0;
};

uint32_t ReadObjectType(BitReader& bits) {
    const uint32_t type = bits.Read(5);
    return type == 31 ? 32 + bits.Read(6) : type;
}

void ReadSampleRate(BitReader& bits) {
    if (bits.Read(4) == 0xF) {
        bits.Read(24);
    }
}

// The library's backward compatible signalling of HE-AAC (an AAC-LC configuration with an SBR
// extension) does not say that PS is absent; decoders then expect that PS might turn up and
// play a mono stream as stereo. The standard's flag for that (extension 0x548 with
// psPresentFlag 0) is added after the SBR extension.
void SayNoParametricStereo(std::vector<uint8_t>& config) {
    BitReader bits(config);
    if (ReadObjectType(bits) != AOT_AAC_LC) {
        return;
    }
    ReadSampleRate(bits);
    if (bits.Read(4) == 0) {
        return;  // a program config element: not written for mono or stereo
    }
    bits.Read(3);  // GASpecificConfig: frame length, core coder, extension flags
    if (bits.left() < 16 || bits.Read(11) != 0x2B7 || ReadObjectType(bits) != AOT_SBR ||
        bits.Read(1) != 1) {
        return;
    }
    ReadSampleRate(bits);
    const size_t end = bits.position();
    if (bits.left() >= 12 && bits.Read(11) == 0x548) {
        return;
    }
    std::vector<uint8_t> out((end + 12 + 7) / 8, 0);
    for (size_t i = 0; i < end; ++i) {
        if ((config[i / 8] >> (7 - i % 8)) & 1u) {
            out[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
        }
    }
    const uint32_t flag = 0x548u << 1;  // psPresentFlag 0
    for (size_t i = 0; i < 12; ++i) {
        if ((flag >> (11 - i)) & 1u) {
            out[(end + i) / 8] |= static_cast<uint8_t>(0x80u >> ((end + i) % 8));
        }
    }
    config = out;
}

}  // namespace

std::string ProfileName(Profile profile) {
    return profile == Profile::HeAacV2 ? "HE-AAC v2" : "HE-AAC";
}

Encoder::~Encoder() {
    if (handle_) {
        aacEncClose(&handle_);
    }
}

bool Encoder::Open(const Settings& settings) {
    settings_ = settings;
    const auto fail = [&](const char* step, AACENC_ERROR error) {
        error_ = "the Fraunhofer FDK AAC encoder refused " + ProfileName(settings.profile) +
                 " at " + std::to_string(settings.bitRate) + " bit/s for " +
                 std::to_string(settings.sampleRate) + " Hz " +
                 (settings.channels == 1 ? "mono" : "stereo") + " (" + step + ": " +
                 ErrorName(error) + ")";
        if (handle_) {
            aacEncClose(&handle_);
        }
        return false;
    };
    if (AACENC_ERROR e = aacEncOpen(&handle_, 0, static_cast<UINT>(settings.channels));
        e != AACENC_OK) {
        handle_ = nullptr;
        return fail("open", e);
    }
    const struct {
        AACENC_PARAM param;
        UINT value;
        const char* name;
    } params[] = {
        {AACENC_AOT, settings.profile == Profile::HeAacV2 ? UINT{AOT_PS} : UINT{AOT_SBR}, "AOT"},
        {AACENC_SAMPLERATE, static_cast<UINT>(settings.sampleRate), "sample rate"},
        {AACENC_CHANNELMODE, settings.channels == 1 ? UINT{MODE_1} : UINT{MODE_2}, "channels"},
        {AACENC_CHANNELORDER, 1, "channel order"},
        {AACENC_BITRATEMODE, 0, "bit rate mode"},
        {AACENC_BITRATE, static_cast<UINT>(settings.bitRate), "bit rate"},
        {AACENC_TRANSMUX, UINT{TT_MP4_RAW}, "transport"},
        // Explicit signalling: the MP4 file says HE-AAC and the full sample rate, so that
        // players decode the SBR part instead of taking the stream for half-rate AAC-LC.
        // Hierarchical for HE-AAC v2; backward compatible for HE-AAC, the only form that can
        // also say that no PS follows (see SayNoParametricStereo).
        {AACENC_SIGNALING_MODE, settings.profile == Profile::HeAacV2 ? 2u : 1u, "signalling"},
        {AACENC_AFTERBURNER, 1, "afterburner"},
        // The SBR header in every frame: the stream starts with its first kept frame (see
        // below) and with any frame a player seeks to, instead of lacking its treble for half a
        // second until the next header.
        {AACENC_HEADER_PERIOD, 1, "header period"},
    };
    for (const auto& p : params) {
        if (AACENC_ERROR e = aacEncoder_SetParam(handle_, p.param, p.value); e != AACENC_OK) {
            return fail(p.name, e);
        }
    }
    if (AACENC_ERROR e = aacEncEncode(handle_, nullptr, nullptr, nullptr, nullptr);
        e != AACENC_OK) {
        return fail("initialisation", e);
    }
    AACENC_InfoStruct info = {};
    if (AACENC_ERROR e = aacEncInfo(handle_, &info); e != AACENC_OK) {
        return fail("information", e);
    }
    info_.audioSpecificConfig.assign(info.confBuf, info.confBuf + info.confSize);
    if (settings.profile == Profile::HeAac) {
        SayNoParametricStereo(info_.audioSpecificConfig);
    }
    info_.frameLength = static_cast<long>(info.frameLength);
    // The priming is cut off in whole frames, so that the stream needs no edit list to start
    // in time: silence in front of the input makes the encoder's delay a whole number of
    // frames, and that many frames are left out. Edit lists do not survive every copy into
    // another file, and ffmpeg doubles the priming it skips for SBR streams.
    const long delay = static_cast<long>(info.nDelay);
    const long frame = info_.frameLength > 0 ? info_.frameLength : 1;
    const long lead = (frame - delay % frame) % frame;
    pending_.assign(static_cast<size_t>(lead * settings.channels), 0);
    skipFrames_ = (delay + lead) / frame;
    info_.maxFrameBytes = static_cast<long>(info.maxOutBufBytes);
    out_.resize(info.maxOutBufBytes > 0 ? info.maxOutBufBytes : 8192);
    return true;
}

bool Encoder::Call(const int16_t* samples, int count, int* consumed, const FrameSink& sink,
                   bool* ended) {
    void* inBuffer = const_cast<int16_t*>(samples);
    INT inId = IN_AUDIO_DATA;
    INT inSize = count > 0 ? count * static_cast<INT>(sizeof(int16_t)) : 0;
    INT inElSize = sizeof(int16_t);
    AACENC_BufDesc in = {};
    in.numBufs = 1;
    in.bufs = &inBuffer;
    in.bufferIdentifiers = &inId;
    in.bufSizes = &inSize;
    in.bufElSizes = &inElSize;

    void* outBuffer = out_.data();
    INT outId = OUT_BITSTREAM_DATA;
    INT outSize = static_cast<INT>(out_.size());
    INT outElSize = 1;
    AACENC_BufDesc out = {};
    out.numBufs = 1;
    out.bufs = &outBuffer;
    out.bufferIdentifiers = &outId;
    out.bufSizes = &outSize;
    out.bufElSizes = &outElSize;

    AACENC_InArgs inArgs = {};
    inArgs.numInSamples = count;  // -1 flushes
    AACENC_OutArgs outArgs = {};
    const AACENC_ERROR e = aacEncEncode(handle_, &in, &out, &inArgs, &outArgs);
    if (e == AACENC_ENCODE_EOF) {
        *ended = true;
        return true;
    }
    if (e != AACENC_OK) {
        error_ = "the Fraunhofer FDK AAC encoder failed: " + ErrorName(e);
        return false;
    }
    *consumed = outArgs.numInSamples;
    if (outArgs.numOutBytes > 0) {
        if (skipFrames_ > 0) {
            --skipFrames_;
        } else if (!sink(out_.data(), static_cast<size_t>(outArgs.numOutBytes))) {
            return false;
        }
    }
    // Neither input taken nor output made: it waits for more input.
    *ended = outArgs.numInSamples == 0 && outArgs.numOutBytes == 0;
    return true;
}

// Whole frames only: FDK 2.0.2 writes past its own buffers when HE-AAC v2 input arrives in
// pieces that end inside a frame.
bool Encoder::FeedWholeFrames(const FrameSink& sink) {
    const size_t frame = static_cast<size_t>(info_.frameLength * settings_.channels);
    size_t at = 0;
    while (pending_.size() - at >= frame) {
        size_t left = frame;
        while (left > 0) {
            int consumed = 0;
            bool waiting = false;
            if (!Call(pending_.data() + at, static_cast<int>(left), &consumed, sink, &waiting)) {
                return false;
            }
            at += static_cast<size_t>(consumed);
            left -= static_cast<size_t>(consumed);
            if (waiting) {
                error_ = "the Fraunhofer FDK AAC encoder took no input";
                return false;
            }
        }
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

bool Encoder::Encode(const int16_t* samples, size_t frames, const FrameSink& sink) {
    pending_.insert(pending_.end(), samples,
                    samples + frames * static_cast<size_t>(settings_.channels));
    return FeedWholeFrames(sink);
}

bool Encoder::Flush(const FrameSink& sink) {
    // The last frame is filled up with silence, which the file's edit list leaves unplayed.
    const size_t frame = static_cast<size_t>(info_.frameLength * settings_.channels);
    if (!pending_.empty()) {
        pending_.resize(frame, 0);
        if (!FeedWholeFrames(sink)) {
            return false;
        }
    }
    for (;;) {
        int consumed = 0;
        bool ended = false;
        if (!Call(nullptr, -1, &consumed, sink, &ended)) {
            return false;
        }
        if (ended) {
            return true;
        }
    }
}

}  // namespace aac
