#pragma once

#include <string>
#include <vector>

// The user's choices for one job, read from the window once when the job starts.
// A "choice" is the zero-based position in its fixed list; texts are 8-bit as typed.
struct EncodeSettings {
    int SourceType = 1;    // "Anime"
    int OutputFormat = 0;  // "MP4"
    std::string VideoBitrate = "268";
    int VideoQuality = 0;  // "Normal"
    int AudioBitrate = 2;  // "32 kbps PS"
    bool Stereo = true;
    bool FixLevels = false;
    bool PostProcessing = false;
    bool ResizeOn = false;
    std::string ResizeTo = "640:480";
    bool FrameOn = false;
    int FrameMode = 0;  // "IVTC"
    bool DenoiseOn = false;
    int DenoiseLevel = 0;  // "Low"
    bool SharpenOn = false;
    int SharpenLevel = 0;  // "Low"
    bool ResampleOn = false;
    int ResampleRate = 0;  // "44 khz"
    std::string
        OutputFolder;  // the user's home folder with a trailing "/", see DefaultOutputFolder()
};

// The items of each drop-down, in list order, as the window shows them.
namespace SettingItems {
extern const std::vector<std::string> SourceType;
extern const std::vector<std::string> OutputFormat;
extern const std::vector<std::string> VideoQuality;
extern const std::vector<std::string> AudioBitrate;
extern const std::vector<std::string> ResizeTo;  // suggestions; any text may be typed
extern const std::vector<std::string> FrameMode;
extern const std::vector<std::string> DenoiseLevel;
extern const std::vector<std::string> SharpenLevel;
extern const std::vector<std::string> ResampleRate;
}  // namespace SettingItems

// The text each choice stands for in the command lines, used exactly as given.
// An index outside its list gives an empty text (the window's lists cannot produce one).
std::string SourceTypeText(int index);
std::string VideoQualityText(int index);
std::string AudioBitrateText(int index);
std::string ChannelCountText(bool stereo);
std::string MonoOptionsText(bool stereo);
std::string FrameFragment(int mode);
std::string ResizeFragment(const std::string& resizeTo);
std::string DenoiseFragment(int level);
std::string SharpenFragment(int level);
std::string PostProcessingFragment();
std::string FixLevelsFragment();
std::string ResampleText(int index);
std::string OutputExtension(int outputFormat);

// The user's home folder with a trailing "/" ("/" when HOME is unset or empty).
std::string DefaultOutputFolder();
