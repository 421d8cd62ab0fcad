#pragma once

// Reads the PCM of a WAV file as mplayer writes it ("-ao pcm:waveheader"), and as other tools
// do: PCM or WAVE_FORMAT_EXTENSIBLE, 8/16/24/32-bit integer or 32/64-bit float samples, 1 to 8
// channels. The data size in the header is not trusted: mplayer leaves it 0 or a placeholder
// when it cannot seek back or is cut short, so a size of 0, 0xFFFFFFFF or one beyond the end of
// the file means "to the end", and a pipe is always read to its end.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace wav {

struct Format {
    int channels = 0;
    long sampleRate = 0;
    int bitsPerSample = 0;  // container bits: 8, 16, 24, 32 or 64
    bool isFloat = false;
    uint32_t channelMask = 0;  // speaker positions (WAVE_FORMAT_EXTENSIBLE); 0: the usual order
};

class Reader {
  public:
    Reader() = default;
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Opens the file and reads its header; on failure returns false with error() saying why.
    bool Open(const std::string& path);
    const Format& format() const { return format_; }
    // Sample frames the file holds, when that can be known (a regular file); 0 otherwise.
    uint64_t expectedFrames() const { return expectedFrames_; }

    // Reads up to `frames` sample frames as interleaved floats in [-1, 1]. Returns the number
    // read; 0 at the end of the data, or on a read error (error() then says why).
    size_t Read(float* out, size_t frames);
    const std::string& error() const { return error_; }

  private:
    bool Fail(const std::string& message);
    bool ReadExact(void* buffer, size_t size);  // false at the end of the file or on an error
    bool Skip(uint64_t size);

    int fd_ = -1;
    std::string path_;
    Format format_;
    uint64_t remaining_ = 0;  // bytes of data left; UINT64_MAX: to the end of the file
    uint64_t expectedFrames_ = 0;
    bool ended_ = false;
    std::string error_;
    std::vector<unsigned char> raw_;
    size_t rawFill_ = 0;  // bytes of an unfinished frame carried to the next read
};

}  // namespace wav
