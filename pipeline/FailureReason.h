#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pipeline/ToolRunner.h"

// Why a stage failed, in words for the log line that follows its "error #N": taken from the
// tool's own output where it said why, from how the run ended otherwise.
//
// folders are the folders the job writes to (the work folder and the output folder, each ending
// with "/"); a full disk is told as "No space left on device (FOLDER)" with the folder that is
// full. freeBytes gives the space left in a folder (statvfs by default; tests replace it).
// With ownWordOnly, only a line in which the tool names itself ("mencoder.exe: ...") counts,
// and without one the reason is empty: for a failure that is explained already.
std::string FailureReason(const std::string& commandLine, int result, const ToolRunDetails& details,
                          const std::vector<std::string>& output,
                          const std::vector<std::string>& folders, bool ownWordOnly = false,
                          const std::function<uint64_t(const std::string&)>& freeBytes = {});
