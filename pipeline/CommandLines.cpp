#include "pipeline/CommandLines.h"

#include "pipeline/ExternalTools.h"

namespace {

const char kFpsPlaceholder[] = "[FPS]";

std::string MencoderHead(const std::string& appDir, const std::string& workFolder,
                         const std::string& sourceArgument, const EncodeSettings& settings) {
    return Quoted(appDir + ToolSlot::Mencoder) + " " + sourceArgument + " -mc 0 " +
           "-of rawvideo -ovc x264 -oac pcm -o " + workFolder + "video.264" + " -x264encopts " +
           SourceTypeText(settings.SourceType) +
           "threads=auto:b_pyramid:nofast_pskip:nopsnr:bitrate=" + settings.VideoBitrate;
}

std::string MkvmergeExe(const std::string& appDir) {
    return Quoted(appDir + ToolSlot::Mkvmerge);
}

}  // namespace

std::string Quoted(const std::string& value) {
    return "\"" + value + "\"";
}

std::string SourceArgument(const std::string& sourcePath, SourceKind kind,
                           const std::string& workFolder) {
    switch (kind) {
        case SourceKind::Dvd:
            return "dvd://1 -dvd-device " + Quoted(sourcePath) + " ";
        case SourceKind::ConvertedOgm:
            return Quoted(workFolder + "source.mkv") + " ";
        case SourceKind::File:
            break;
    }
    return Quoted(sourcePath) + " ";
}

std::string FilterChain(const EncodeSettings& settings) {
    std::string chain = " -vf harddup,";
    if (settings.FrameOn) {
        chain += FrameFragment(settings.FrameMode);
    }
    if (settings.ResizeOn) {
        chain += ResizeFragment(settings.ResizeTo);
    }
    if (settings.DenoiseOn) {
        chain += DenoiseFragment(settings.DenoiseLevel);
    }
    if (settings.SharpenOn) {
        chain += SharpenFragment(settings.SharpenLevel);
    }
    if (settings.PostProcessing) {
        chain += PostProcessingFragment();
    }
    if (settings.FixLevels) {
        chain += FixLevelsFragment();
    }
    chain.pop_back();  // every fragment ends with a comma
    return chain;
}

std::string AnalysisPassCommand(const std::string& appDir, const std::string& workFolder,
                                const std::string& sourceArgument, const EncodeSettings& settings) {
    return MencoderHead(appDir, workFolder, sourceArgument, settings) + ":pass=1:turbo=2" +
           FilterChain(settings);
}

std::string EncodingPassCommand(const std::string& appDir, const std::string& workFolder,
                                const std::string& sourceArgument, const EncodeSettings& settings) {
    return MencoderHead(appDir, workFolder, sourceArgument, settings) +
           VideoQualityText(settings.VideoQuality) + " -nosound " + FilterChain(settings);
}

std::string MatroskaConversionCommand(const std::string& appDir, const std::string& workFolder,
                                      const std::string& sourcePath) {
    return MkvmergeExe(appDir) + " " + Quoted(sourcePath) + " -o " +
           Quoted(workFolder + "source.mkv");
}

std::string AudioExtractionCommand(const std::string& appDir, const std::string& workFolder,
                                   const std::string& sourceArgument,
                                   const EncodeSettings& settings) {
    const std::string wavPath = workFolder + "audio.wav";
    std::string line = Quoted(appDir + ToolSlot::Mplayer) + " " + sourceArgument + " " +
                       "-mc 0 -ao pcm:waveheader:fast:file=" +
                       Quoted("%" + std::to_string(wavPath.size()) + "%" + wavPath) +
                       " -vo null -vc null -af channels=" + ChannelCountText(settings.Stereo);
    if (settings.ResampleOn) {
        line += ResampleText(settings.ResampleRate);
    }
    return line;
}

std::string AudioEncodingCommand(const std::string& appDir, const std::string& workFolder,
                                 const EncodeSettings& settings) {
    return Quoted(appDir + ToolSlot::HeAacEncoder) + " " + Quoted(workFolder + "audio.wav") + " " +
           Quoted(workFolder + "audio.mp4") + " --cbr " + AudioBitrateText(settings.AudioBitrate) +
           MonoOptionsText(settings.Stereo);
}

std::string Mp4MergeCommand(const std::string& appDir, const std::string& workFolder,
                            const std::string& outputPath, const EncodeSettings& settings) {
    const std::string target = settings.OutputFormat == 1 ? workFolder + "tempout.mp4" : outputPath;
    return Quoted(appDir + ToolSlot::Mp4Box) + " -tmp " + Quoted(workFolder) + " -add " +
           workFolder + "video.264" + " -fps " + kFpsPlaceholder + " -new " + Quoted(target);
}

std::string ReplaceFps(const std::string& mergeCommand, const std::string& frameRate) {
    std::string result;
    const std::string placeholder = kFpsPlaceholder;
    size_t from = 0;
    for (size_t at; (at = mergeCommand.find(placeholder, from)) != std::string::npos;
         from = at + placeholder.size()) {
        result.append(mergeCommand, from, at - from);
        result += frameRate;
    }
    result.append(mergeCommand, from);
    return result;
}

std::string AppendAudioPiece(const std::string& mergeCommand, const std::string& workFolder) {
    return mergeCommand + " -add " + Quoted(workFolder + "audio.mp4") + " ";
}

std::string MkvMergeCommand(const std::string& appDir, const std::string& workFolder,
                            const std::string& outputPath) {
    return MkvmergeExe(appDir) + " " + Quoted(workFolder + "tempout.mp4") + " -o " +
           Quoted(outputPath);
}

bool IsOgmSource(const std::string& sourcePath) {
    const std::string name = FileNameOf(sourcePath);
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && name.compare(dot, std::string::npos, ".ogm") == 0;
}

std::string OutputPath(const std::string& outputFolder, const std::string& sourcePath, bool isDvd,
                       int outputFormat) {
    std::string name = isDvd ? std::string("dvdout.mp4") : FileNameOf(sourcePath);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    return WithTrailingDelimiter(outputFolder) + name + OutputExtension(outputFormat);
}

JobCommands BuildJobCommands(const std::string& appDir, const std::string& workFolder,
                             const std::string& sourcePath, bool isDvd,
                             const EncodeSettings& settings, const std::string& outputPath) {
    JobCommands job;
    job.IsOgm = !isDvd && IsOgmSource(sourcePath);
    job.OutputPath = outputPath;
    const SourceKind kind =
        isDvd ? SourceKind::Dvd : (job.IsOgm ? SourceKind::ConvertedOgm : SourceKind::File);
    const std::string source = SourceArgument(sourcePath, kind, workFolder);
    if (job.IsOgm) {
        job.MatroskaConversion = MatroskaConversionCommand(appDir, workFolder, sourcePath);
    }
    job.AnalysisPass = AnalysisPassCommand(appDir, workFolder, source, settings);
    job.EncodingPass = EncodingPassCommand(appDir, workFolder, source, settings);
    job.AudioExtraction = AudioExtractionCommand(appDir, workFolder, source, settings);
    job.AudioEncoding = AudioEncodingCommand(appDir, workFolder, settings);
    job.Mp4Merge = Mp4MergeCommand(appDir, workFolder, job.OutputPath, settings);
    if (settings.OutputFormat == 1) {
        job.MkvMerge = MkvMergeCommand(appDir, workFolder, job.OutputPath);
    }
    return job;
}
