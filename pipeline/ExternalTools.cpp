#include "pipeline/ExternalTools.h"

#include <algorithm>
#include <stdexcept>

const std::vector<ExternalTool>& ExternalTools() {
    static const std::vector<ExternalTool> tools = {
        {"mencoder with x264",
         ToolSlot::Mencoder,
         {Stage::AnalysisPass, Stage::EncodingPass},
         "exit code 0 on success; -2 from the analysis pass means a corrupt source; the analysis "
         "output holds a line beginning \"VIDEO\" whose fifth word is the frame rate, and a line "
         "beginning \"AUDIO\" when the source has audio; the stream goes to the file after \"-o\""},
        {"mplayer",
         ToolSlot::Mplayer,
         {Stage::AudioExtraction},
         "exit code 0 on success; the WAV file is written to the path given in \"file=\""},
        {"HE-AAC encoder",
         ToolSlot::HeAacEncoder,
         {Stage::AudioEncoding},
         "exit code 0 on success; the second path argument is written"},
        {"MP4Box",
         ToolSlot::Mp4Box,
         {Stage::Mp4Merge},
         "exit code 0 on success; the file named after \"-new\" is written"},
        {"mkvmerge",
         ToolSlot::Mkvmerge,
         {Stage::MatroskaConversion, Stage::MkvMerge},
         "exit code 0 on success (not examined for the conversion); the file named after \"-o\" "
         "is written"},
    };
    return tools;
}

const ExternalTool& ToolFor(Stage stage) {
    for (const ExternalTool& tool : ExternalTools()) {
        if (std::find(tool.Stages.begin(), tool.Stages.end(), stage) != tool.Stages.end()) {
            return tool;
        }
    }
    throw std::logic_error("no tool serves this stage");
}
