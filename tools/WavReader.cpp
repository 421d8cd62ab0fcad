#include "tools/WavReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace wav {

namespace {

constexpr uint64_t kToTheEnd = UINT64_MAX;
constexpr uint16_t kPcm = 1;
constexpr uint16_t kFloat = 3;
constexpr uint16_t kExtensible = 0xFFFE;

uint16_t Le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

float Finite(double value) {
    return std::isfinite(value) ? static_cast<float>(value) : 0.0f;
}

}  // namespace

Reader::~Reader() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool Reader::Fail(const std::string& message) {
    error_ = message;
    return false;
}

bool Reader::ReadExact(void* buffer, size_t size) {
    auto* p = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t n = read(fd_, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error_ = "cannot read " + path_ + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0) {
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool Reader::Skip(uint64_t size) {
    if (lseek(fd_, static_cast<off_t>(size), SEEK_CUR) >= 0) {
        return true;
    }
    // A pipe: read it away.
    unsigned char buffer[4096];
    while (size > 0) {
        const size_t part = size < sizeof buffer ? static_cast<size_t>(size) : sizeof buffer;
        if (!ReadExact(buffer, part)) {
            return false;
        }
        size -= part;
    }
    return true;
}

bool Reader::Open(const std::string& path) {
    path_ = path;
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        return Fail("cannot open " + path + ": " + std::strerror(errno));
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0) {
        return Fail("cannot read " + path + ": " + std::strerror(errno));
    }
    const bool regular = S_ISREG(st.st_mode);
    if (S_ISDIR(st.st_mode)) {
        return Fail("cannot read " + path + ": " + std::strerror(EISDIR));
    }
    const auto notWav = [&] { return Fail(error_.empty() ? path + " is not a WAV file" : error_); };

    unsigned char riff[12];
    if (!ReadExact(riff, sizeof riff) ||
        (std::memcmp(riff, "RIFF", 4) != 0 && std::memcmp(riff, "RF64", 4) != 0) ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        return notWav();
    }
    uint64_t offset = sizeof riff;
    bool haveFormat = false;
    for (;;) {
        unsigned char header[8];
        if (!ReadExact(header, sizeof header)) {
            return Fail(!error_.empty() ? error_
                        : haveFormat    ? path + " holds no audio data"
                                        : path + " is not a WAV file");
        }
        offset += sizeof header;
        const uint32_t size = Le32(header + 4);
        if (std::memcmp(header, "data", 4) == 0) {
            if (!haveFormat) {
                return Fail(path + " has its audio data before its format");
            }
            remaining_ = size;
            const uint64_t available = regular && static_cast<uint64_t>(st.st_size) > offset
                                           ? static_cast<uint64_t>(st.st_size) - offset
                                           : 0;
            const bool sized = size != 0 && size != 0xFFFFFFFFu;
            if (!sized || !regular || size > available) {
                remaining_ = kToTheEnd;
            }
            const uint64_t frameBytes =
                static_cast<uint64_t>(format_.channels) * (format_.bitsPerSample / 8);
            if (regular) {
                expectedFrames_ = (remaining_ == kToTheEnd ? available : remaining_) / frameBytes;
            } else if (sized) {
                // A pipe is read to its end; its header's size serves only to tell the progress.
                expectedFrames_ = size / frameBytes;
            }
            return true;
        }
        if (size == 0xFFFFFFFFu) {
            return Fail(path + " is not a WAV file that can be read");
        }
        const uint64_t padded = size + (size & 1u);
        if (std::memcmp(header, "fmt ", 4) != 0) {
            if (!Skip(padded)) {
                return notWav();
            }
            offset += padded;
            continue;
        }

        if (size < 16) {
            return notWav();
        }
        unsigned char fmt[40] = {};
        const size_t kept = size < sizeof fmt ? size : sizeof fmt;
        if (!ReadExact(fmt, kept) || !Skip(padded - kept)) {
            return notWav();
        }
        offset += padded;
        uint16_t tag = Le16(fmt);
        format_.channels = Le16(fmt + 2);
        format_.sampleRate = static_cast<long>(Le32(fmt + 4));
        format_.bitsPerSample = Le16(fmt + 14);
        if (tag == kExtensible) {
            if (kept < 40) {
                return Fail(path + " has a damaged format header");
            }
            format_.channelMask = Le32(fmt + 20);
            tag = Le16(fmt + 24);  // the first two bytes of the sub-format's GUID
        }
        const int bits = format_.bitsPerSample;
        format_.isFloat = tag == kFloat;
        if ((tag != kPcm && tag != kFloat) ||
            (tag == kPcm && bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
            (tag == kFloat && bits != 32 && bits != 64)) {
            return Fail(path + " holds audio in a form this encoder cannot read (format " +
                        std::to_string(tag) + ", " + std::to_string(bits) + " bits)");
        }
        if (format_.channels < 1 || format_.channels > 8) {
            return Fail(path + " has " + std::to_string(format_.channels) +
                        " channels; 1 to 8 can be encoded");
        }
        if (format_.sampleRate < 1000 || format_.sampleRate > 768000) {
            return Fail(path + " has an unusable sample rate of " +
                        std::to_string(format_.sampleRate) + " Hz");
        }
        haveFormat = true;
    }
}

size_t Reader::Read(float* out, size_t frames) {
    const size_t sampleBytes = static_cast<size_t>(format_.bitsPerSample / 8);
    const size_t frameBytes = sampleBytes * static_cast<size_t>(format_.channels);
    const size_t want = frames * frameBytes;
    if (raw_.size() < want) {
        raw_.resize(want);
    }
    size_t fill = rawFill_;
    while (!ended_ && fill < want) {
        size_t part = want - fill;
        if (remaining_ != kToTheEnd && part > remaining_) {
            part = static_cast<size_t>(remaining_);
        }
        if (part == 0) {
            ended_ = true;
            break;
        }
        const ssize_t n = read(fd_, raw_.data() + fill, part);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error_ = "cannot read " + path_ + ": " + std::strerror(errno);
            ended_ = true;
            return 0;
        }
        if (n == 0) {
            ended_ = true;  // a last, unfinished frame is dropped
            break;
        }
        fill += static_cast<size_t>(n);
        if (remaining_ != kToTheEnd) {
            remaining_ -= static_cast<uint64_t>(n);
        }
    }
    const size_t got = fill / frameBytes;
    const size_t samples = got * static_cast<size_t>(format_.channels);
    const unsigned char* p = raw_.data();
    for (size_t i = 0; i < samples; ++i, p += sampleBytes) {
        switch (format_.bitsPerSample) {
            case 8:
                out[i] = static_cast<float>(p[0] - 128) / 128.0f;
                break;
            case 16:
                out[i] = static_cast<float>(static_cast<int16_t>(Le16(p))) / 32768.0f;
                break;
            case 24: {
                const uint32_t u = static_cast<uint32_t>(p[0]) |
                                   (static_cast<uint32_t>(p[1]) << 8) |
                                   (static_cast<uint32_t>(p[2]) << 16);
                const int32_t v = static_cast<int32_t>(u ^ 0x800000u) - 0x800000;
                out[i] = static_cast<float>(v) / 8388608.0f;
                break;
            }
            case 32:
                if (format_.isFloat) {
                    float f;
                    const uint32_t bits = Le32(p);
                    std::memcpy(&f, &bits, sizeof f);
                    out[i] = Finite(f);
                } else {
                    out[i] = static_cast<float>(static_cast<double>(static_cast<int32_t>(Le32(p))) /
                                                2147483648.0);
                }
                break;
            case 64: {
                const uint64_t bits =
                    static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
                double d;
                std::memcpy(&d, &bits, sizeof d);
                out[i] = Finite(d);
                break;
            }
        }
    }
    rawFill_ = fill - got * frameBytes;
    if (rawFill_ > 0) {
        std::memmove(raw_.data(), raw_.data() + got * frameBytes, rawFill_);
    }
    return got;
}

}  // namespace wav
