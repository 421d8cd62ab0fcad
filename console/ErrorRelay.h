// A worker's start failure, shown on the main thread without the worker waiting for it.
#pragma once

#include <string>

// Makes sure worker errors can reach the main thread (called where commands are created).
void EnsureErrorRelay();

// The text of an error box: a "." is added when the last character sorts after ".".
std::string ErrorBoxText(const std::string& message);

// Shows a worker's start failure on the main thread without waiting for it: through the handler
// the window installed (TDosCommand::SetErrorHandler), else on standard error.
void ReportRunError(const std::string& message);
