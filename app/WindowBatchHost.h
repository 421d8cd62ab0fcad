#pragma once

#include "pipeline/BatchRun.h"

class Tfmain;

// The batch run sees the window only through this.
class WindowBatchHost : public BatchHost {
  public:
    explicit WindowBatchHost(Tfmain& window) : window_(window) {}

    bool StopRequested() const override;
    void SetProgressText(const std::string& text) override;
    int QueueRowCount() const override;
    std::string RowStatus(int row) const override;
    void SetRowStatus(int row, const std::string& status) override;
    std::vector<std::string> QueuedPathList() const override;
    void LogLine(const std::string& text) override;
    void LogAppend(const std::string& text) override;
    EncodeSettings CurrentSettings() const override;
    std::string AppDir() const override;
    void SetRunButtons(bool running) override;
    void ClearStopRequest() override;
    void ReportError(const std::string& message) override;
    std::vector<std::string>& LastToolOutput() override;
    void RunEnded(const RunSummary& summary) override;

  private:
    Tfmain& window_;
};
