#include "pipeline/EncodeSettings.h"

#include <cstdlib>

namespace {

std::string Pick(const std::vector<std::string>& texts, int index) {
    if (index < 0 || static_cast<size_t>(index) >= texts.size()) {
        return {};
    }
    return texts[static_cast<size_t>(index)];
}

const std::vector<std::string> kSourceTypeTexts = {
    "deblock=0,0:bframes=2:frameref=2:",   "deblock=1,1:bframes=5:frameref=5:",
    "deblock=-2,-1:bframes=3:frameref=4:", "deblock=-3,-1:bframes=3:frameref=3:",
    "deblock=-1,0:bframes=5:frameref=3:",
};

const std::vector<std::string> kVideoQualityTexts = {
    ":pass=2:8x8dct:weight_b:mixed_refs:me=umh:bime:partitions=all:subq=6:brdo:trellis=1 ",
    ":pass=2:8x8dct:weight_b:mixed_refs:me=umh:bime:partitions=all:subq=7:brdo:trellis=2 ",
};

const std::vector<std::string> kAudioBitrateTexts = {
    "16000 ", "24000 ", "32000 ", "48000 ", "64000 --disable-ps ",
};

const std::vector<std::string> kFrameFragments = {"kerndeint,", "pullup,softskip,"};
const std::vector<std::string> kDenoiseFragments = {"hqdn3d=3:2:5,", "hqdn3d=4:3:6,",
                                                    "hqdn3d=5:4:7,"};
const std::vector<std::string> kSharpenFragments = {
    "unsharp=l5x5:0.5:c:5x5:0.5,", "unsharp=l5x5:1:c:5x5:1,", "unsharp=l5x5:1.5:c:5x5:1.5,"};
const std::vector<std::string> kResampleTexts = {",resample=44100:0:2", ",resample=48000:0:2"};
const std::vector<std::string> kOutputExtensions = {".mp4", ".mkv"};

}  // namespace

namespace SettingItems {
const std::vector<std::string> SourceType = {"Generic", "Anime", "Movies", "Sports", "DV Captures"};
const std::vector<std::string> OutputFormat = {"MP4", "MKV"};
const std::vector<std::string> VideoQuality = {"Normal", "High"};
const std::vector<std::string> AudioBitrate = {"16 kbps PS", "24 kbps PS", "32 kbps PS",
                                               "48 kbps PS", "64 kbps HE"};
const std::vector<std::string> ResizeTo = {"320:240", "512:384", "640:360", "640:480", "1280:720"};
const std::vector<std::string> FrameMode = {"IVTC", "Deinterlace"};
const std::vector<std::string> DenoiseLevel = {"Low", "Medium", "High"};
const std::vector<std::string> SharpenLevel = {"Low", "Medium", "High"};
const std::vector<std::string> ResampleRate = {"44 khz", "48 khz"};
}  // namespace SettingItems

std::string SourceTypeText(int index) {
    return Pick(kSourceTypeTexts, index);
}
std::string VideoQualityText(int index) {
    return Pick(kVideoQualityTexts, index);
}
std::string AudioBitrateText(int index) {
    return Pick(kAudioBitrateTexts, index);
}
std::string ChannelCountText(bool stereo) {
    return stereo ? "2" : "1";
}
std::string MonoOptionsText(bool stereo) {
    return stereo ? "" : " --force-mono --channel-count 1";
}
std::string FrameFragment(int mode) {
    return Pick(kFrameFragments, mode);
}
std::string ResizeFragment(const std::string& resizeTo) {
    return "scale=" + resizeTo + ",";
}
std::string DenoiseFragment(int level) {
    return Pick(kDenoiseFragments, level);
}
std::string SharpenFragment(int level) {
    return Pick(kSharpenFragments, level);
}
std::string PostProcessingFragment() {
    return "fspp,";
}
std::string FixLevelsFragment() {
    return "pp=al:f,";
}
std::string ResampleText(int index) {
    return Pick(kResampleTexts, index);
}
std::string OutputExtension(int outputFormat) {
    return Pick(kOutputExtensions, outputFormat);
}

std::string DefaultOutputFolder() {
    const char* home = std::getenv("HOME");
    std::string folder = home ? home : "";
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    return folder;
}
