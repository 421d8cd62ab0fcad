#pragma once

#include <string>
#include <vector>

#include "pipeline/EncodeSettings.h"
#include "pipeline/ToolRunner.h"

// The statuses of a queue entry, compared exactly.
namespace JobStatus {
inline const std::string Ready = "ready";
inline const std::string Encoding = "encoding";
inline const std::string Done = "done";
inline const std::string Error = "error";
}  // namespace JobStatus

// How a run that got going ended, for the window to tell the user.
struct RunSummary {
    int done = 0;    // jobs of this run that completed
    int failed = 0;  // jobs of this run that ended in "error"
    // The run ended because no "ready" entry was left: not stopped, and the work folder was usable.
    bool queueFinished = false;
};

// What the batch run needs of the window. Rows are counted as the queue grid shows them: row 0 is
// the header, rows 1 to n the entries, and one empty last row follows them.
class BatchHost : public ToolHost {
  public:
    virtual int QueueRowCount() const = 0;
    virtual std::string RowStatus(int row) const = 0;
    virtual void SetRowStatus(int row, const std::string& status) = 0;
    virtual std::vector<std::string> QueuedPathList() const = 0;

    virtual void LogLine(const std::string& text) = 0;
    virtual void LogAppend(const std::string& text) = 0;

    // The settings as the window shows them now, the output folder included.
    virtual EncodeSettings CurrentSettings() const = 0;
    // The folder of the program and its tool slots, ending with "/".
    virtual std::string AppDir() const = 0;

    // running: Start disabled and Stop enabled; otherwise the reverse.
    virtual void SetRunButtons(bool running) = 0;
    virtual void ClearStopRequest() = 0;
    // The window's general error report.
    virtual void ReportError(const std::string& message) = 0;

    virtual std::vector<std::string>& LastToolOutput() = 0;

    // Called once at the end of every run that disabled Start, before the buttons are restored.
    virtual void RunEnded(const RunSummary& summary) { (void)summary; }

    // Runs one stage's command line; the window's RunTool by default.
    virtual int RunStage(const std::string& commandLine, ToolRunDetails& details) {
        return RunTool(commandLine, *this, LastToolOutput(), &details);
    }
    // Deletes one intermediate file; a file that is not there is no error.
    virtual void DeleteFile(const std::string& path);
};

// The scratch folder for the run's intermediate files, ending with "/": TEMP + "/tarnok/", or the
// user's cache folder + "/tarnok/" when TEMP is not set.
std::string WorkFolderPath();

// Makes sure the scratch folder exists, is a real folder of this user and is private.
// Returns an empty text on success, otherwise why it cannot be used.
std::string PrepareWorkFolder(const std::string& workFolder);

// Keeps one run at a time on a work folder: two windows of one user share it, and its files
// have fixed names. The lock goes with the process, so a crashed program leaves none behind.
class WorkFolderLock {
  public:
    WorkFolderLock() = default;
    ~WorkFolderLock();
    WorkFolderLock(const WorkFolderLock&) = delete;
    WorkFolderLock& operator=(const WorkFolderLock&) = delete;
    // Empty on success, otherwise why the folder cannot be used now.
    std::string Take(const std::string& workFolder);

  private:
    int fd_ = -1;
};

// Whether files can be created in the output folder (a trailing "/" is expected).
bool OutputFolderWritable(const std::string& outputFolder);

// The whole batch run behind the Start button; returns when the run has ended.
void RunBatch(BatchHost& host);
