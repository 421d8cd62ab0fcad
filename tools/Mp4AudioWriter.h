#pragma once

// Writes one AAC track as an MP4 file: the access units as they come, then the index. Its edit
// list ends the sound where the input ended, inside the last access unit.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/OutputFile.h"

namespace mp4 {

struct Track {
    long sampleRate = 0;                       // of the decoded sound
    int channels = 0;                          // of the decoded sound
    std::vector<uint8_t> audioSpecificConfig;  // the decoder's configuration
    // Times below are in ticks of timeScale per second.
    long timeScale = 0;
    long frameDuration = 0;     // of one access unit
    uint64_t playDuration = 0;  // of the sound after the priming
};

class AudioWriter {
  public:
    explicit AudioWriter(adapter::OutputFile& file) : file_(file) {}
    // Writes the file header; false on a write error (file.error()).
    bool Begin();
    bool AddFrame(const uint8_t* data, size_t size);
    // Writes the index. The file is not committed.
    bool Finish(const Track& track);
    size_t frames() const { return sizes_.size(); }
    uint64_t payloadBytes() const { return payload_; }

  private:
    adapter::OutputFile& file_;
    uint64_t mdatStart_ = 0;
    uint64_t payload_ = 0;
    std::vector<uint32_t> sizes_;
};

}  // namespace mp4
