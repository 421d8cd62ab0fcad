#pragma once

#include <string>
#include <vector>

// The command-line programs that do all the media work, started from the program's own folder
// under the slot names that the command lines use.

// The slot files, relative to the program's folder (ToolSlot::Mencoder is "mencoder.exe").
namespace ToolSlot {
#define QUINTARO_TOOL(id, file, adapter) inline constexpr char id[] = file;
#include "pipeline/ExternalTools.def"
#undef QUINTARO_TOOL
}  // namespace ToolSlot
enum class Stage {
    MatroskaConversion,
    AnalysisPass,
    EncodingPass,
    AudioExtraction,
    AudioEncoding,
    Mp4Merge,
    MkvMerge,
};

struct ExternalTool {
    std::string Name;
    std::string SlotFile;  // relative to the program folder
    std::vector<Stage> Stages;
    std::string ReliedOn;  // what a run of the job depends on
};

const std::vector<ExternalTool>& ExternalTools();

// The slot that serves a stage.
const ExternalTool& ToolFor(Stage stage);
