#pragma once

#include <string>

#include "pipeline/EncodeSettings.h"
#include "pipeline/Paths.h"

// Builders of every command line of a job. Pure text work: no file access, no widgets,
// and no validation (values are pasted in as typed; a tool that rejects them fails the stage).

enum class SourceKind {
    File,          // a queued media file
    Dvd,           // a queued folder holding a DVD
    ConvertedOgm,  // an ".ogm" file after its conversion to WorkFolder + "source.mkv"
};

// The value in double quotes. Nothing is escaped: intake refuses paths holding a double quote.
std::string Quoted(const std::string& value);

// The source as the tools read it; always ends with exactly one space.
std::string SourceArgument(const std::string& sourcePath, SourceKind kind,
                           const std::string& workFolder);

// " -vf harddup" followed by the enabled filters in their fixed order.
std::string FilterChain(const EncodeSettings& settings);

std::string AnalysisPassCommand(const std::string& appDir, const std::string& workFolder,
                                const std::string& sourceArgument, const EncodeSettings& settings);
std::string EncodingPassCommand(const std::string& appDir, const std::string& workFolder,
                                const std::string& sourceArgument, const EncodeSettings& settings);

std::string MatroskaConversionCommand(const std::string& appDir, const std::string& workFolder,
                                      const std::string& sourcePath);
std::string AudioExtractionCommand(const std::string& appDir, const std::string& workFolder,
                                   const std::string& sourceArgument,
                                   const EncodeSettings& settings);
std::string AudioEncodingCommand(const std::string& appDir, const std::string& workFolder,
                                 const EncodeSettings& settings);

// The MP4 merge, still holding the "[FPS]" placeholder. Its target is the output file for MP4
// output and WorkFolder + "tempout.mp4" for MKV output.
std::string Mp4MergeCommand(const std::string& appDir, const std::string& workFolder,
                            const std::string& outputPath, const EncodeSettings& settings);
// Every "[FPS]" replaced by the frame rate.
std::string ReplaceFps(const std::string& mergeCommand, const std::string& frameRate);
// The audio piece that a merge gets when the source has audio.
std::string AppendAudioPiece(const std::string& mergeCommand, const std::string& workFolder);

std::string MkvMergeCommand(const std::string& appDir, const std::string& workFolder,
                            const std::string& outputPath);

// True when the file name's extension (from its last ".") is exactly ".ogm".
bool IsOgmSource(const std::string& sourcePath);
// Output folder + the source's file name with its last extension replaced ("dvdout" for a DVD).
std::string OutputPath(const std::string& outputFolder, const std::string& sourcePath, bool isDvd,
                       int outputFormat);

// Every command line of one job, built from one reading of the settings.
struct JobCommands {
    bool IsOgm = false;
    std::string OutputPath;
    std::string MatroskaConversion;  // empty unless IsOgm
    std::string AnalysisPass;
    std::string EncodingPass;
    std::string AudioExtraction;
    std::string AudioEncoding;
    std::string Mp4Merge;  // with "[FPS]"; the audio piece is appended only when there is audio
    std::string MkvMerge;  // empty for MP4 output
};

// outputPath is the job's output file, normally OutputPath() of the same source and settings.
JobCommands BuildJobCommands(const std::string& appDir, const std::string& workFolder,
                             const std::string& sourcePath, bool isDvd,
                             const EncodeSettings& settings, const std::string& outputPath);
