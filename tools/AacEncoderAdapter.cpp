// "enhAacPlusEnc.exe": WAV OUTPUT --cbr RATE [--disable-ps] [--force-mono] [--channel-count N]
// Encodes WAV into an MP4 file holding one AAC track at RATE bits per second, with the
// Fraunhofer FDK AAC library: HE-AAC v2 for stereo, HE-AAC (v1) with --disable-ps or for mono.
// Built without that library, it has ffmpeg encode AAC-LC at the same rate instead. Its first
// line says which. Exit code 0 only when OUTPUT was written completely.

#include <time.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/AdapterSupport.h"

#ifdef QUINTARO_FDK_AAC
#include "tools/FdkEncoder.h"
#include "tools/Mp4AudioWriter.h"
#include "tools/OutputFile.h"
#include "tools/PcmMix.h"
#include "tools/Resampler.h"
#include "tools/WavReader.h"
#endif

namespace {

constexpr const char* kUsage =
    "WAV OUTPUT --cbr RATE [--disable-ps] [--force-mono] [--channel-count N]";

struct Request {
    std::string wav;
    std::string output;
    long rate = 0;
    bool disablePs = false;
    long channels = 0;  // 0: as the WAV has them
};

Request ParseRequest(const std::vector<std::string>& args) {
    Request request;
    std::vector<std::string> files;
    bool forceMono = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--cbr" || arg == "--channel-count") {
            if (i + 1 >= args.size()) {
                adapter::UsageError("option " + arg + " needs a value", kUsage);
            }
            const auto value = adapter::ParsePositiveInteger(args[++i]);
            if (!value) {
                adapter::UsageError(
                    "option " + arg + " needs a positive whole number, not \"" + args[i] + "\"",
                    kUsage);
            }
            if (arg == "--channel-count" && *value > 2) {
                adapter::UsageError("option --channel-count takes 1 or 2, not " + args[i], kUsage);
            }
            (arg == "--cbr" ? request.rate : request.channels) = *value;
        } else if (arg == "--disable-ps") {
            request.disablePs = true;
        } else if (arg == "--force-mono") {
            forceMono = true;
        } else if (arg.starts_with("--")) {
            adapter::UsageError("unknown option " + arg, kUsage);
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2 || files[0].empty() || files[1].empty()) {
        adapter::UsageError("give the WAV file and the output file", kUsage);
    }
    if (request.rate == 0) {
        adapter::UsageError("no bit rate given (--cbr RATE)", kUsage);
    }
    if (forceMono) {
        request.channels = 1;
    }
    request.wav = files[0];
    request.output = files[1];
    return request;
}

#ifdef QUINTARO_FDK_AAC

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The sample rates the library supports for a mode and bit rate, and the one it recommends
// (the table of aacenc_lib.h; HE-AAC v2 and mono HE-AAC share one).
struct Rates {
    std::vector<long> supported;
    long preferred;
};

Rates RatesFor(aac::Profile profile, int channels, long bitRate) {
    const std::vector<long> common = {32000, 44100, 48000};
    if (profile == aac::Profile::HeAacV2 || channels == 1) {
        if (bitRate < 12000) {
            return {{22050, 24000}, 24000};
        }
        if (bitRate < 18000) {
            return {{32000}, 32000};
        }
        return {common, bitRate < 40000 ? 44100 : 48000};
    }
    return {common, bitRate < 28000 ? 32000 : bitRate < 64000 ? 44100 : 48000};
}

std::string Layout(int channels) {
    switch (channels) {
        case 1:
            return "mono";
        case 2:
            return "stereo";
        case 6:
            return "5.1";
        case 8:
            return "7.1";
        default:
            return std::to_string(channels) + " channels";
    }
}

// Prints "n%" of the input at most four times a second.
class Progress {
  public:
    Progress(uint64_t total, long rate) : total_(total), rate_(rate), next_(Now() + kInterval) {}
    void Update(uint64_t done) {
        const double now = Now();
        if (now < next_) {
            return;
        }
        next_ = now + kInterval;
        const double seconds = static_cast<double>(done) / static_cast<double>(rate_);
        if (total_ > 0) {
            const uint64_t percent = done >= total_ ? 100 : done * 100 / total_;
            adapter::Report(std::to_string(percent) + "% (" + Fixed(seconds, 1) + " of " +
                            Fixed(static_cast<double>(total_) / static_cast<double>(rate_), 1) +
                            " s)");
        } else {
            adapter::Report(Fixed(seconds, 1) + " s encoded");
        }
    }

  private:
    static constexpr double kInterval = 0.25;
    uint64_t total_;
    long rate_;
    double next_;
};

int EncodeWithFdk(const Request& request) {
    wav::Reader reader;
    if (!reader.Open(request.wav)) {
        adapter::Report(reader.error());
        return 1;
    }
    const wav::Format& format = reader.format();
    // Without a channel count the WAV decides, as far as the encoder can follow: mono stays
    // mono, everything else becomes stereo. Parametric stereo needs two channels.
    const int channels =
        request.channels == 1 || (request.channels == 0 && format.channels == 1) ? 1 : 2;
    const aac::Profile used =
        request.disablePs || channels == 1 ? aac::Profile::HeAac : aac::Profile::HeAacV2;
    adapter::Report(aac::ProfileName(used) + " at " + std::to_string(request.rate) +
                    " bit/s (Fraunhofer FDK AAC)");

    const Rates rates = RatesFor(used, channels, request.rate);
    long encodeRate = rates.preferred;
    for (long rate : rates.supported) {
        if (rate == format.sampleRate) {
            encodeRate = rate;
        }
    }
    aac::Encoder encoder;
    aac::Settings settings{used, encodeRate, channels, request.rate};
    if (!encoder.Open(settings)) {
        if (encodeRate == rates.preferred) {
            adapter::Report(encoder.error());
            return 1;
        }
        settings.sampleRate = encodeRate = rates.preferred;
        if (!encoder.Open(settings)) {
            adapter::Report(encoder.error());
            return 1;
        }
    }
    std::string input =
        request.wav + ": " + std::to_string(format.sampleRate) + " Hz " + Layout(format.channels);
    if (format.channels != channels) {
        input += ", mixed to " + Layout(channels);
    }
    if (format.sampleRate != encodeRate) {
        input += ", resampled to " + std::to_string(encodeRate) + " Hz";
    }
    adapter::Report(input);

    pcm::Mixer mixer(format.channels, format.channelMask, channels);
    pcm::Resampler resampler;
    const bool resample = format.sampleRate != encodeRate;
    if (resample && !resampler.Open(channels, format.sampleRate, encodeRate)) {
        adapter::Report(resampler.error());
        return 1;
    }

    adapter::OutputFile file;
    if (!file.Create(request.output)) {
        adapter::Report(file.error());
        return 1;
    }
    mp4::AudioWriter writer(file);
    const aac::FrameSink sink = [&](const uint8_t* data, size_t size) {
        return writer.AddFrame(data, size);
    };
    if (!writer.Begin()) {
        adapter::Report(file.error());
        return 1;
    }

    constexpr size_t kBlock = 4096;
    std::vector<float> raw(kBlock * static_cast<size_t>(format.channels));
    std::vector<float> mixed(kBlock * static_cast<size_t>(channels));
    std::vector<float> converted;
    std::vector<int16_t> samples;
    uint64_t readFrames = 0;
    uint64_t encodedFrames = 0;
    Progress progress(reader.expectedFrames(), format.sampleRate);
    const auto encode = [&](const float* data, size_t frames) {
        samples.resize(frames * static_cast<size_t>(channels));
        pcm::ToInt16(data, samples.size(), samples.data());
        encodedFrames += frames;
        return encoder.Encode(samples.data(), frames, sink);
    };
    const auto failed = [&](const std::string& why) {
        adapter::Report(!file.error().empty() ? file.error() : why);
        file.Abandon();
        return 1;
    };

    for (;;) {
        const size_t got = reader.Read(raw.data(), kBlock);
        if (got == 0) {
            break;
        }
        readFrames += got;
        mixer.Mix(raw.data(), got, mixed.data());
        if (resample) {
            converted.clear();
            if (!resampler.Push(mixed.data(), got, converted)) {
                return failed(resampler.error());
            }
            if (!encode(converted.data(), converted.size() / static_cast<size_t>(channels))) {
                return failed(encoder.error());
            }
        } else if (!encode(mixed.data(), got)) {
            return failed(encoder.error());
        }
        progress.Update(readFrames);
    }
    if (!reader.error().empty()) {
        return failed(reader.error());
    }
    if (readFrames == 0) {
        return failed(request.wav + " holds no sound");
    }
    if (resample) {
        converted.clear();
        if (!resampler.Flush(converted)) {
            return failed(resampler.error());
        }
        if (!encode(converted.data(), converted.size() / static_cast<size_t>(channels))) {
            return failed(encoder.error());
        }
    }
    if (!encoder.Flush(sink)) {
        return failed(encoder.error());
    }

    mp4::Track track;
    track.sampleRate = encodeRate;
    track.channels = channels;
    track.audioSpecificConfig = encoder.info().audioSpecificConfig;
    track.timeScale = encodeRate;
    track.frameDuration = encoder.info().frameLength;
    track.playDuration = encodedFrames;
    if (!writer.Finish(track) || !file.Commit()) {
        return failed("cannot write " + request.output);
    }
    const double seconds = static_cast<double>(encodedFrames) / static_cast<double>(encodeRate);
    adapter::Report("wrote " + request.output + ": " + Fixed(seconds, 2) + " s at " +
                    Fixed(static_cast<double>(writer.payloadBytes()) * 8 / seconds / 1000, 1) +
                    " kbit/s");
    return 0;
}

#else

// ffmpeg's own AAC encoder, which Debian's ffmpeg has: AAC-LC only.
int EncodeWithFfmpeg(const Request& request) {
    const std::string rate = std::to_string(request.rate);
    adapter::Report("AAC-LC at " + rate +
                    " bit/s (ffmpeg; built without the Fraunhofer FDK AAC library)");
    std::vector<std::string> ffmpeg = {"ffmpeg", "-nostdin", "-hide_banner",
                                       "-y",     "-i",       adapter::FfmpegPath(request.wav),
                                       "-vn",    "-map",     "0:a:0"};
    if (request.channels > 0) {
        ffmpeg.insert(ffmpeg.end(), {"-ac", std::to_string(request.channels)});
    }
    ffmpeg.insert(ffmpeg.end(),
                  {"-c:a", "aac", "-b:a", rate, "-f", "mp4", adapter::FfmpegPath(request.output)});
    const int result = adapter::RunProducing(ffmpeg, request.output);
    if (adapter::StopSignal() != 0) {
        return 128 + adapter::StopSignal();
    }
    if (result != 0) {
        adapter::Report("ffmpeg could not encode " + request.wav + " into " + request.output);
        return 1;
    }
    return 0;
}

#endif

}  // namespace

int Main(int argc, char** argv) {
    adapter::SetToolName(QUINTARO_SLOT_NAME);  // as the program names the slot
    const Request request = ParseRequest(std::vector<std::string>(argv + 1, argv + argc));
    adapter::InstallStopHandling();
#ifdef QUINTARO_FDK_AAC
    // No tool to kill: the adapter is the encoder, and a stop ends it where it is.
    adapter::EndOnStop();
    return EncodeWithFdk(request);
#else
    return EncodeWithFfmpeg(request);
#endif
}

int main(int argc, char** argv) {
    return adapter::Finish(Main(argc, argv));
}
