#include "app/WindowBatchHost.h"

#include <QPushButton>

#include "app/Tfmain.h"

bool WindowBatchHost::StopRequested() const {
    return window_.StopRequested;
}
void WindowBatchHost::SetProgressText(const std::string& text) {
    window_.SetProgressText(text);
}
int WindowBatchHost::QueueRowCount() const {
    return window_.QueueRowCount();
}
std::string WindowBatchHost::RowStatus(int row) const {
    return window_.RowStatus(row);
}
void WindowBatchHost::SetRowStatus(int row, const std::string& status) {
    window_.SetRowStatus(row, status);
}
std::vector<std::string> WindowBatchHost::QueuedPathList() const {
    return window_.QueuedPaths;
}
void WindowBatchHost::LogLine(const std::string& text) {
    window_.LogLine(text);
}
void WindowBatchHost::LogAppend(const std::string& text) {
    window_.LogAppend(text);
}
EncodeSettings WindowBatchHost::CurrentSettings() const {
    return window_.CurrentSettings();
}
std::string WindowBatchHost::AppDir() const {
    return window_.AppDir;
}
void WindowBatchHost::SetRunButtons(bool running) {
    window_.btnStart->setEnabled(!running);
    window_.btnStop->setEnabled(running);
    window_.RunActive(running);
}
void WindowBatchHost::ClearStopRequest() {
    window_.StopRequested = false;
}
void WindowBatchHost::ReportError(const std::string& message) {
    window_.ShowError(message);
}
std::vector<std::string>& WindowBatchHost::LastToolOutput() {
    return window_.LastToolOutput;
}
void WindowBatchHost::RunEnded(const RunSummary& summary) {
    window_.RunEnded(summary);
}
