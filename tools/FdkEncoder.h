#pragma once

// The Fraunhofer FDK AAC encoder, set up for raw access units in an MP4 file: constant bit rate,
// explicit hierarchical signalling of SBR and PS in the AudioSpecificConfig, and the encoder's
// priming cut off, so that the first sample decoded is the first sample put in.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct AACENCODER;

namespace aac {

enum class Profile { HeAacV2, HeAac };

struct Settings {
    Profile profile = Profile::HeAacV2;
    long sampleRate = 44100;
    int channels = 2;  // of the input: HE-AAC v2 takes two
    long bitRate = 32000;
};

struct StreamInfo {
    std::vector<uint8_t> audioSpecificConfig;
    long frameLength = 0;  // input samples per channel in one access unit
    long maxFrameBytes = 0;
};

// Called with each access unit; false stops the encoding.
using FrameSink = std::function<bool(const uint8_t* data, size_t size)>;

class Encoder {
  public:
    Encoder() = default;
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // False, with error() saying why, when the library refuses the settings.
    bool Open(const Settings& settings);
    const StreamInfo& info() const { return info_; }
    // Encodes interleaved samples (frames × channels), passing every finished access unit on.
    bool Encode(const int16_t* samples, size_t frames, const FrameSink& sink);
    // Encodes what the encoder still holds, at the end of the input.
    bool Flush(const FrameSink& sink);
    const std::string& error() const { return error_; }

  private:
    bool Call(const int16_t* samples, int count, int* consumed, const FrameSink& sink, bool* ended);
    bool FeedWholeFrames(const FrameSink& sink);

    AACENCODER* handle_ = nullptr;
    Settings settings_;
    StreamInfo info_;
    std::vector<int16_t> pending_;  // input short of a whole frame
    long skipFrames_ = 0;           // priming frames still to leave out
    std::vector<uint8_t> out_;
    std::string error_;
};

// "HE-AAC v2", "HE-AAC".
std::string ProfileName(Profile profile);

}  // namespace aac
