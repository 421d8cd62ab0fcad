#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "console/ErrorRelay.h"  // ErrorBoxText, the rule of every error box

// The time of day in the locale's time format (LC_TIME's "%X"): hour, minutes and seconds, and
// in 12-hour locales the AM/PM marker where the locale puts it.
std::string FormatLogTime(const std::tm& time);

// Writes lines as 8-bit text, each followed by CR LF, replacing an existing file.
// Throws std::runtime_error with the text to show when the file cannot be created or written.
void SaveLinesCrLf(const std::string& path, const std::vector<std::string>& lines);
