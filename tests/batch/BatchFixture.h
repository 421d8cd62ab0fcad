#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

#include <QTemporaryDir>
#include <functional>
#include <string>
#include <vector>

#include "pipeline/BatchRun.h"

class StandInTools;

// A window stand-in for the batch run: the queue, the log and the settings as plain values.
class FakeHost : public BatchHost {
  public:
    struct Entry {
        std::string status;
        std::string path;
    };

    std::vector<Entry> entries;
    std::vector<std::string> log;
    std::vector<std::string> errors;
    std::vector<std::string> progress;
    std::vector<std::string> commandsRun;
    std::vector<std::string> deleted;
    std::vector<std::string> lastOutput;
    EncodeSettings settings;
    std::string appDir;
    bool stop = false;
    bool running = false;
    int buttonChanges = 0;
    std::vector<RunSummary> summaries;

    // Called with every progress text, on the thread that runs the batch.
    std::function<void(FakeHost&, const std::string&)> onProgress;
    // Called after every stage with its command line and result.
    std::function<void(FakeHost&, const std::string&, int)> afterStage;

    void Queue(const std::string& path) { entries.push_back({JobStatus::Ready, path}); }
    // Runs with the stand-in slots of `tools` and writes into its output folder.
    void Use(const StandInTools& tools);
    std::vector<std::string> Statuses() const;

    int QueueRowCount() const override { return static_cast<int>(entries.size()) + 2; }
    std::string RowStatus(int row) const override;
    void SetRowStatus(int row, const std::string& status) override;
    std::vector<std::string> QueuedPathList() const override;
    void LogLine(const std::string& text) override { log.push_back(text); }
    void LogAppend(const std::string& text) override;
    EncodeSettings CurrentSettings() const override { return settings; }
    std::string AppDir() const override { return appDir; }
    void SetRunButtons(bool isRunning) override;
    void ClearStopRequest() override { stop = false; }
    void ReportError(const std::string& message) override { errors.push_back(message); }
    std::vector<std::string>& LastToolOutput() override { return lastOutput; }
    void RunEnded(const RunSummary& summary) override {
        EXPECT_TRUE(running) << "the summary comes before the buttons are restored";
        summaries.push_back(summary);
    }
    bool StopRequested() const override { return stop; }
    void SetProgressText(const std::string& text) override;
    int RunStage(const std::string& commandLine, ToolRunDetails& details) override;
    void DeleteFile(const std::string& path) override {
        deleted.push_back(path);
        BatchHost::DeleteFile(path);
    }
};

// A temporary program folder whose tool slots are stand-in scripts, a scratch folder (TEMP),
// an output folder and a source folder.
class StandInTools {
  public:
    StandInTools();
    ~StandInTools();

    std::string Root() const { return root_; }
    std::string AppDir() const { return root_ + "/app/"; }
    std::string WorkFolder() const { return root_ + "/temp/tarnok/"; }
    std::string OutputFolder() const { return root_ + "/out/"; }
    std::string Source(const std::string& name, const std::string& content = "source");

    // Shell lines run by the stand-in of one slot before it acts; they may set code, delay,
    // write, video_line, audio_line and progress, and see the arguments as "$@".
    void Behave(const std::string& slot, const std::string& shellLines);
    // Each call as "slot [arg] [arg] ...".
    std::vector<std::string> Calls() const;

  private:
    QTemporaryDir dir_;
    std::string root_;
    std::string savedTemp_;
    bool hadTemp_ = false;
};

std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
bool EndsWith(const std::string& text, const std::string& tail);
// True when no process whose command line holds the marker is left, within a few seconds.
bool NoProcessWith(const std::string& marker);
// Whether a live process (zombies aside) is in process group pgid now (no waiting).
bool GroupHasLiveMembers(pid_t pgid);
