#include "tools/H264Timing.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numeric>
#include <vector>

namespace adapter {

namespace {

// Reads an RBSP (emulation-prevention bytes already removed); any read past the end fails.
class BitReader {
  public:
    explicit BitReader(const std::vector<uint8_t>& data) : data_(data) {}

    bool Bits(int count, uint64_t& value) {
        value = 0;
        for (int i = 0; i < count; ++i) {
            if (pos_ >= data_.size() * 8) {
                return false;
            }
            const int bit = (data_[pos_ / 8] >> (7 - pos_ % 8)) & 1;
            value = (value << 1) | static_cast<uint64_t>(bit);
            ++pos_;
        }
        return true;
    }
    bool Skip(int count) {
        uint64_t ignored;
        return Bits(count, ignored);
    }
    bool Flag(bool& flag) {
        uint64_t value;
        if (!Bits(1, value)) {
            return false;
        }
        flag = value != 0;
        return true;
    }
    bool Ue(uint64_t& value) {
        int zeros = 0;
        uint64_t bit = 0;
        while (Bits(1, bit) && bit == 0) {
            if (++zeros > 31) {
                return false;
            }
        }
        if (bit != 1) {
            return false;
        }
        uint64_t suffix;
        if (!Bits(zeros, suffix)) {
            return false;
        }
        value = (uint64_t{1} << zeros) - 1 + suffix;
        return true;
    }
    bool SkipUe() {
        uint64_t ignored;
        return Ue(ignored);
    }
    bool Se(int64_t& value) {
        uint64_t code;
        if (!Ue(code)) {
            return false;
        }
        value = (code & 1) ? static_cast<int64_t>((code + 1) / 2) : -static_cast<int64_t>(code / 2);
        return true;
    }

  private:
    const std::vector<uint8_t>& data_;
    size_t pos_ = 0;
};

bool SkipScalingList(BitReader& reader, int size) {
    int64_t last = 8;
    int64_t next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0) {
            int64_t delta;
            if (!reader.Se(delta)) {
                return false;
            }
            next = (last + delta + 256) % 256;
        }
        last = next == 0 ? last : next;
    }
    return true;
}

// Sequence parameter set syntax up to the VUI timing information.
std::optional<FrameRate> ParseSps(const std::vector<uint8_t>& rbsp) {
    BitReader r(rbsp);
    uint64_t profile;
    if (!r.Bits(8, profile) || !r.Skip(16) || !r.SkipUe()) {
        return std::nullopt;
    }
    static const uint64_t kHighProfiles[] = {100, 110, 122, 244, 44,  83, 86,
                                             118, 128, 138, 139, 134, 135};
    if (std::find(std::begin(kHighProfiles), std::end(kHighProfiles), profile) !=
        std::end(kHighProfiles)) {
        uint64_t chroma;
        bool scaling;
        if (!r.Ue(chroma) || (chroma == 3 && !r.Skip(1)) || !r.SkipUe() || !r.SkipUe() ||
            !r.Skip(1) || !r.Flag(scaling)) {
            return std::nullopt;
        }
        if (scaling) {
            for (int i = 0; i < (chroma == 3 ? 12 : 8); ++i) {
                bool present;
                if (!r.Flag(present) || (present && !SkipScalingList(r, i < 6 ? 16 : 64))) {
                    return std::nullopt;
                }
            }
        }
    }
    uint64_t pocType;
    if (!r.SkipUe() || !r.Ue(pocType)) {
        return std::nullopt;
    }
    if (pocType == 0) {
        if (!r.SkipUe()) {
            return std::nullopt;
        }
    } else if (pocType == 1) {
        uint64_t cycle;
        if (!r.Skip(1) || !r.SkipUe() || !r.SkipUe() || !r.Ue(cycle) || cycle > 255) {
            return std::nullopt;
        }
        for (uint64_t i = 0; i < cycle; ++i) {
            if (!r.SkipUe()) {
                return std::nullopt;
            }
        }
    }
    bool frameMbsOnly;
    bool cropping;
    bool vui;
    if (!r.SkipUe() || !r.Skip(1) || !r.SkipUe() || !r.SkipUe() || !r.Flag(frameMbsOnly) ||
        (!frameMbsOnly && !r.Skip(1)) || !r.Skip(1) || !r.Flag(cropping)) {
        return std::nullopt;
    }
    if (cropping && !(r.SkipUe() && r.SkipUe() && r.SkipUe() && r.SkipUe())) {
        return std::nullopt;
    }
    if (!r.Flag(vui) || !vui) {
        return std::nullopt;
    }
    bool flag;
    if (!r.Flag(flag)) {  // aspect_ratio_info_present_flag
        return std::nullopt;
    }
    if (flag) {
        uint64_t idc;
        if (!r.Bits(8, idc) || (idc == 255 && !r.Skip(32))) {
            return std::nullopt;
        }
    }
    if (!r.Flag(flag) || (flag && !r.Skip(1))) {  // overscan
        return std::nullopt;
    }
    if (!r.Flag(flag)) {  // video_signal_type_present_flag
        return std::nullopt;
    }
    if (flag) {
        bool colour;
        if (!r.Skip(4) || !r.Flag(colour) || (colour && !r.Skip(24))) {
            return std::nullopt;
        }
    }
    if (!r.Flag(flag) || (flag && !(r.SkipUe() && r.SkipUe()))) {  // chroma location
        return std::nullopt;
    }
    uint64_t unitsInTick;
    uint64_t timeScale;
    if (!r.Flag(flag) || !flag || !r.Bits(32, unitsInTick) || !r.Bits(32, timeScale) ||
        unitsInTick == 0 || timeScale == 0) {
        return std::nullopt;
    }
    // One frame lasts two ticks.
    FrameRate rate{timeScale, 2 * unitsInTick};
    const uint64_t divisor = std::gcd(rate.num, rate.den);
    rate.num /= divisor;
    rate.den /= divisor;
    return rate;
}

}  // namespace

std::optional<FrameRate> ParseH264FrameRate(std::string_view data) {
    size_t i = 0;
    while (i + 3 < data.size()) {
        if (!(data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)) {
            ++i;
            continue;
        }
        const size_t nal = i + 3;
        if ((static_cast<uint8_t>(data[nal]) & 0x1f) != 7) {
            i = nal;
            continue;
        }
        std::vector<uint8_t> rbsp;
        int zeros = 0;
        for (size_t j = nal + 1; j < data.size(); ++j) {
            const auto byte = static_cast<uint8_t>(data[j]);
            if (zeros >= 2 && byte <= 1) {
                break;  // the next start code
            }
            if (zeros >= 2 && byte == 3) {
                zeros = 0;  // emulation prevention
                continue;
            }
            zeros = byte == 0 ? zeros + 1 : 0;
            rbsp.push_back(byte);
        }
        return ParseSps(rbsp);
    }
    return std::nullopt;
}

std::optional<FrameRate> ReadH264FrameRate(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    // The parameter sets open the stream; a megabyte is plenty even after a long SEI.
    std::string head(1 << 20, '\0');
    file.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(file.gcount()));
    return ParseH264FrameRate(head);
}

std::optional<long> CountH264Pictures(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    long pictures = 0;
    std::vector<char> buffer(1 << 16);
    // The last bytes of the previous read: a start code and its NAL header may straddle reads.
    uint32_t window = 0xffffffff;
    int pending = 0;  // 1: the next byte is a NAL header; 2: the first slice byte
    while (file) {
        file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::streamsize got = file.gcount();
        for (std::streamsize i = 0; i < got; ++i) {
            const auto byte = static_cast<uint8_t>(buffer[static_cast<size_t>(i)]);
            if (pending == 1) {
                const int type = byte & 0x1f;
                pending = (type == 1 || type == 5) ? 2 : 0;
            } else if (pending == 2) {
                // first_mb_in_slice is ue(v): 0 is the single bit 1.
                pictures += (byte & 0x80) ? 1 : 0;
                pending = 0;
            }
            window = (window << 8) | byte;
            if ((window & 0xffffff) == 0x000001) {
                pending = 1;
            }
        }
    }
    if (file.bad()) {
        return std::nullopt;
    }
    return pictures;
}

FrameRate FrameRateFromDecimal(double fps) {
    const double ntsc = std::round(fps * 1.001);
    if (ntsc > 0 && std::fabs(fps - ntsc * 1000.0 / 1001.0) < 0.005 &&
        std::fabs(fps - std::round(fps)) > 0.005) {
        FrameRate rate{static_cast<uint64_t>(ntsc) * 1000, 1001};
        const uint64_t divisor = std::gcd(rate.num, rate.den);
        return {rate.num / divisor, rate.den / divisor};
    }
    FrameRate rate{static_cast<uint64_t>(std::llround(fps * 1000.0)), 1000};
    const uint64_t divisor = std::gcd(rate.num, rate.den);
    return {rate.num / divisor, rate.den / divisor};
}

std::string ToText(const FrameRate& rate) {
    if (rate.den == 1) {
        return std::to_string(rate.num);
    }
    return std::to_string(rate.num) + "/" + std::to_string(rate.den);
}

}  // namespace adapter
