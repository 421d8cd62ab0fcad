#include "tools/Mp4AudioWriter.h"

#include <algorithm>
#include <cstdint>

namespace mp4 {

namespace {

// Access units per chunk: about a second of sound, so that readers seek in few steps.
constexpr size_t kFramesPerChunk = 32;

class Box {
  public:
    explicit Box(const char* type) { U32(0).Tag(type); }
    Box& U8(uint32_t v) {
        data_.push_back(static_cast<char>(v & 0xFF));
        return *this;
    }
    Box& U16(uint32_t v) { return U8(v >> 8).U8(v); }
    Box& U24(uint32_t v) { return U8(v >> 16).U16(v); }
    Box& U32(uint32_t v) { return U16(v >> 16).U16(v); }
    Box& U64(uint64_t v) {
        return U32(static_cast<uint32_t>(v >> 32)).U32(static_cast<uint32_t>(v));
    }
    Box& Tag(const char* tag) {
        data_.append(tag, 4);
        return *this;
    }
    Box& Zeros(size_t n) {
        data_.append(n, '\0');
        return *this;
    }
    Box& Bytes(const std::string& bytes) {
        data_ += bytes;
        return *this;
    }
    Box& Full(uint32_t version, uint32_t flags) { return U8(version).U24(flags); }
    Box& Add(const Box& child) { return Bytes(child.Done()); }
    std::string Done() const {
        std::string out = data_;
        const uint32_t size = static_cast<uint32_t>(out.size());
        for (int i = 0; i < 4; ++i) {
            out[static_cast<size_t>(i)] = static_cast<char>((size >> (24 - 8 * i)) & 0xFF);
        }
        return out;
    }

  private:
    std::string data_;
};

Box& Matrix(Box& box) {
    return box.U32(0x00010000)
        .U32(0)
        .U32(0)
        .U32(0)
        .U32(0x00010000)
        .U32(0)
        .U32(0)
        .U32(0)
        .U32(0x40000000);
}

// An MPEG-4 descriptor: tag, length in the four-byte form, body.
std::string Descriptor(uint8_t tag, const std::string& body) {
    std::string out(1, static_cast<char>(tag));
    const size_t n = body.size();
    out += static_cast<char>(0x80 | ((n >> 21) & 0x7F));
    out += static_cast<char>(0x80 | ((n >> 14) & 0x7F));
    out += static_cast<char>(0x80 | ((n >> 7) & 0x7F));
    out += static_cast<char>(n & 0x7F);
    return out + body;
}

std::string Be(uint64_t v, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) {
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    return out;
}

}  // namespace

bool AudioWriter::Begin() {
    Box ftyp("ftyp");
    ftyp.Tag("isom").U32(0x200).Tag("isom").Tag("iso2").Tag("mp41");
    const std::string head = ftyp.Done();
    // "free" leaves room for a 64-bit mdat size, should the sound outgrow 4 GiB.
    const std::string reserve = Box("free").Done();
    const std::string mdat = Box("mdat").Done();
    mdatStart_ = head.size() + reserve.size();
    return file_.Write(head.data(), head.size()) && file_.Write(reserve.data(), reserve.size()) &&
           file_.Write(mdat.data(), mdat.size());
}

bool AudioWriter::AddFrame(const uint8_t* data, size_t size) {
    sizes_.push_back(static_cast<uint32_t>(size));
    payload_ += size;
    return file_.Write(data, size);
}

bool AudioWriter::Finish(const Track& track) {
    // The mdat box: its 32-bit size, or the 64-bit form over the reserved "free" box.
    const uint64_t mdatSize = 8 + payload_;
    uint64_t dataStart = mdatStart_ + 8;
    if (mdatSize <= UINT32_MAX) {
        const std::string size = Be(mdatSize, 4);
        if (!file_.WriteAt(mdatStart_, size.data(), size.size())) {
            return false;
        }
    } else {
        const std::string header = Be(1, 4) + "mdat" + Be(mdatSize + 8, 8);
        if (!file_.WriteAt(mdatStart_ - 8, header.data(), header.size())) {
            return false;
        }
    }

    const uint64_t mediaDuration =
        static_cast<uint64_t>(sizes_.size()) * static_cast<uint64_t>(track.frameDuration);
    const uint64_t played = track.playDuration;
    const bool wide = mediaDuration > UINT32_MAX || played > UINT32_MAX;
    const uint32_t version = wide ? 1 : 0;
    const auto time = [&](Box& box, uint64_t value) -> Box& {
        return wide ? box.U64(value) : box.U32(static_cast<uint32_t>(value));
    };
    const uint32_t scale = static_cast<uint32_t>(track.timeScale);

    Box mvhd("mvhd");
    mvhd.Full(version, 0);
    time(time(mvhd, 0), 0).U32(scale);
    time(mvhd, played).U32(0x00010000).U16(0x0100).Zeros(10);
    Matrix(mvhd).Zeros(24).U32(2);

    Box tkhd("tkhd");
    tkhd.Full(version, 3);  // enabled, in the movie
    time(time(tkhd, 0), 0).U32(1).U32(0);
    time(tkhd, played).Zeros(8).U16(0).U16(1).U16(0x0100).U16(0);
    Matrix(tkhd).U32(0).U32(0);

    Box elst("elst");
    elst.Full(version, 0).U32(1);
    time(time(elst, played), 0).U16(1).U16(0);  // from the first sample on, at normal speed
    Box edts("edts");
    edts.Add(elst);

    Box mdhd("mdhd");
    mdhd.Full(version, 0);
    time(time(mdhd, 0), 0).U32(scale);
    time(mdhd, mediaDuration).U16(0x55C4).U16(0);  // language "und"

    Box hdlr("hdlr");
    hdlr.Full(0, 0).U32(0).Tag("soun").Zeros(12).Bytes(std::string("SoundHandler", 13));

    Box smhd("smhd");
    smhd.Full(0, 0).U16(0).U16(0);
    Box url("url ");
    url.Full(0, 1);  // the data is in this file
    Box dref("dref");
    dref.Full(0, 0).U32(1).Add(url);
    Box dinf("dinf");
    dinf.Add(dref);

    // Bit rates for the decoder configuration: the average, and the most of any second.
    const double seconds =
        static_cast<double>(played > 0 ? played : 1) / static_cast<double>(track.timeScale);
    const uint32_t average = static_cast<uint32_t>(static_cast<double>(payload_) * 8 / seconds);
    const size_t perSecond = std::max<size_t>(
        1, static_cast<size_t>(track.timeScale / std::max<long>(track.frameDuration, 1)));
    const size_t span = std::max<size_t>(1, std::min(perSecond, sizes_.size()));
    uint64_t window = 0, peak = 0;
    uint32_t largest = 0;
    for (size_t i = 0; i < sizes_.size(); ++i) {
        window += sizes_[i];
        if (i >= span) {
            window -= sizes_[i - span];
        }
        peak = std::max(peak, window);
        largest = std::max(largest, sizes_[i]);
    }
    const uint64_t spanSamples =
        span * static_cast<uint64_t>(std::max<long>(track.frameDuration, 1));
    const uint32_t maximum = static_cast<uint32_t>(std::max<uint64_t>(
        average, peak * 8 * static_cast<uint64_t>(track.timeScale) / spanSamples));
    const std::string asc(track.audioSpecificConfig.begin(), track.audioSpecificConfig.end());
    const std::string decoderConfig =
        Descriptor(0x04, std::string("\x40\x15", 2) + Be(largest, 3) + Be(maximum, 4) +
                             Be(average, 4) + Descriptor(0x05, asc));
    const std::string es = Descriptor(0x03, Be(1, 2) + std::string(1, '\0') + decoderConfig +
                                                Descriptor(0x06, std::string(1, '\x02')));
    Box esds("esds");
    esds.Full(0, 0).Bytes(es);
    Box mp4a("mp4a");
    mp4a.Zeros(6).U16(1).Zeros(8).U16(static_cast<uint32_t>(track.channels)).U16(16).U16(0).U16(0);
    mp4a.U32(track.sampleRate <= 0xFFFF ? static_cast<uint32_t>(track.sampleRate) << 16 : 0);
    mp4a.Add(esds);
    Box stsd("stsd");
    stsd.Full(0, 0).U32(1).Add(mp4a);

    Box stts("stts");
    stts.Full(0, 0)
        .U32(1)
        .U32(static_cast<uint32_t>(sizes_.size()))
        .U32(static_cast<uint32_t>(track.frameDuration));

    const size_t chunks = (sizes_.size() + kFramesPerChunk - 1) / kFramesPerChunk;
    const size_t last = chunks > 0 ? sizes_.size() - (chunks - 1) * kFramesPerChunk : 0;
    Box stsc("stsc");
    const bool uneven = chunks > 1 && last != kFramesPerChunk;
    stsc.Full(0, 0).U32(chunks == 0 ? 0 : uneven ? 2 : 1);
    if (chunks > 0) {
        stsc.U32(1).U32(static_cast<uint32_t>(chunks == 1 ? last : kFramesPerChunk)).U32(1);
    }
    if (uneven) {
        stsc.U32(static_cast<uint32_t>(chunks)).U32(static_cast<uint32_t>(last)).U32(1);
    }

    Box stsz("stsz");
    stsz.Full(0, 0).U32(0).U32(static_cast<uint32_t>(sizes_.size()));
    for (uint32_t size : sizes_) {
        stsz.U32(size);
    }

    const bool wideOffsets = dataStart + payload_ > UINT32_MAX;
    Box stco(wideOffsets ? "co64" : "stco");
    stco.Full(0, 0).U32(static_cast<uint32_t>(chunks));
    uint64_t offset = dataStart;
    for (size_t i = 0; i < sizes_.size(); ++i) {
        if (i % kFramesPerChunk == 0) {
            if (wideOffsets) {
                stco.U64(offset);
            } else {
                stco.U32(static_cast<uint32_t>(offset));
            }
        }
        offset += sizes_[i];
    }

    Box stbl("stbl");
    stbl.Add(stsd).Add(stts).Add(stsc).Add(stsz).Add(stco);
    Box minf("minf");
    minf.Add(smhd).Add(dinf).Add(stbl);
    Box mdia("mdia");
    mdia.Add(mdhd).Add(hdlr).Add(minf);
    Box trak("trak");
    trak.Add(tkhd).Add(edts).Add(mdia);
    Box moov("moov");
    moov.Add(mvhd).Add(trak);
    const std::string index = moov.Done();
    return file_.Write(index.data(), index.size());
}

}  // namespace mp4
