#pragma once

#include <optional>
#include <string>
#include <vector>

// What the batch run learns from the analysis pass's console output.

// True when any line starts with exactly "AUDIO".
bool HasAudio(const std::vector<std::string>& lines);

// The fifth word of the first line that starts with "VIDEO"; none when there is no such line or
// it has fewer than five words. `unfinished` flags the entries that are unfinished deliveries of
// a line (see ToolRunDetails): such a line is read in its complete form, a later entry.
std::optional<std::string> FrameRate(const std::vector<std::string>& lines,
                                     const std::vector<bool>& unfinished = {});

// Splits a line into blank-separated words: runs of characters 1 to 32 separate, leading ones are
// skipped, and a word that starts with a double quote runs to its closing quote (a doubled quote
// inside stands for one; the enclosing quotes are dropped).
std::vector<std::string> SplitWords(const std::string& line);
