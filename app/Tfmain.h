#pragma once

#include <QElapsedTimer>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/EncodeSettings.h"

class DesktopSession;
class JobQueue;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSessionManager;
class QSystemTrayIcon;
class QTabWidget;
class QTableWidget;
struct RunSummary;

// The caption of the window, the tooltip of the tray icon and the title of the program's boxes.
inline constexpr char ApplicationTitle[] = "Quintaro 6";

// The one window of the program. It owns the job queue (the grid lstFiles and QueuedPaths), the
// activity log, the settings widgets and the tray icon. Everything here runs on the window's
// thread; only ShowError may be called from another thread.
//
// Queue rows: row 0 is the header ("Status", "File"), rows 1 to n are the entries, and there is
// always one empty last row, so QueueRowCount() is n + 2. QueuedPaths[r - 1] is the full path of
// row r. Paths and texts are 8-bit; they become QString only inside the window.
class Tfmain : public QWidget {
    Q_OBJECT

  public:
    explicit Tfmain(QWidget* parent = nullptr);
    ~Tfmain() override;

    // Every modal box and dialog of the window goes through these hooks. Each starts out showing
    // the real box or dialog; a test replaces it to answer at once, so none is left waiting.
    struct DialogHooks {
        // A message box: returns the button pressed.
        std::function<QMessageBox::StandardButton(QMessageBox::Icon icon, const QString& title,
                                                  const QString& text,
                                                  QMessageBox::StandardButtons buttons)>
            MessageBox;
        // A box that does not wait for its answer: the caller goes on while it is open.
        std::function<void(QMessageBox::Icon icon, const QString& title, const QString& text)>
            Notice;
        // OpenDialog1 (several existing files). An empty list is Cancel.
        std::function<QStringList()> OpenFiles;
        // SaveDialog1 (no filter, no overwrite question). An empty name is Cancel.
        std::function<QString()> SaveFile;
        // "Select Directory", opening at startFolder. An empty name is Cancel.
        std::function<QString(const QString& startFolder)> SelectFolder;
    };
    DialogHooks Dialogs;

    // Whether the desktop has a notification area now; without one, minimizing never hides the
    // window, as it could not be brought back. Tests replace it.
    std::function<bool()> NotificationAreaAvailable;

    // The desktop's services: notifications, the sleep inhibitor, the launcher entry's progress.
    // Tests give it buses of their own.
    std::unique_ptr<DesktopSession> Desktop;
    // The tray icon's message, shown where the desktop has no notification service.
    std::function<void(const QString& text)> TrayMessage;

    // Program folder with a trailing "/"; the tools are started from it.
    std::string AppDir;
    std::vector<std::string> QueuedPaths;
    std::vector<std::string> LastToolOutput;
    bool StopRequested = false;

    // Closing the window while a run is in progress only asks the run to stop: closeEvent sets
    // StopRequested and ClosePending and keeps the window. The run calls close() again when it
    // has ended and finds ClosePending set.
    bool RunInProgress = false;
    bool ClosePending = false;

    // The job queue.
    int QueueRowCount() const;
    std::string RowStatus(int row) const;                   // "" outside the grid
    void SetRowStatus(int row, const std::string& status);  // ignored outside the grid
    std::string RowFileName(int row) const;
    int SelectedQueueRow() const;  // the row Remove acts on; never the header
    void AddQueueEntry(const std::string& path);
    // Throws std::out_of_range "List index out of bounds (%d)" for a row without an entry.
    void DeleteQueueRow(int row);
    void CollectFiles(const std::string& folder, std::vector<std::string>& list,
                      const std::string& mask);
    // Queues what it can of one drop; refused files give one message box at the end.
    void HandleDroppedFiles(const std::vector<std::string>& paths);

    // The activity log.
    void LogLine(const std::string& text);
    void LogAppend(const std::string& text);
    std::vector<std::string> LogLines() const;
    void SetProgressText(const std::string& text);

    // A run has disabled Start (true) or is about to enable it again (false): the machine stays
    // awake meanwhile, and the launcher entry shows the running tool's percentage.
    void RunActive(bool running);
    // The end of a run that disabled Start: a finished queue is told to the user.
    void RunEnded(const RunSummary& summary);
    // Shows the window in front, from the tray or from under other windows.
    void BringToFront() { TrayIcon1Click(); }

    // The settings as the widgets hold them at the moment of the call.
    EncodeSettings CurrentSettings() const;

    // The general error report: an error box titled with the application title. Safe to call
    // from any thread; from another thread it is shown later on the window's thread.
    void ShowError(const std::string& message);
    // The same box for a tool that could not be started, shown without waiting for it to be
    // closed.
    void ShowRunError(const std::string& message);
    // "Close Windows ?": true when the session may end.
    bool ConfirmSessionEnd();
    // What the answer to the end of the session needs of the session manager.
    struct SessionEndRequest {
        virtual ~SessionEndRequest() = default;
        virtual bool AllowsInteraction() = 0;
        virtual void Release() = 0;
        virtual void Cancel() = 0;
    };
    // Asks "Close Windows ?" when a question may be asked, and cancels the end on No.
    void AnswerSessionEnd(SessionEndRequest& request);

    // Controls, named as their object names.
    QTabWidget* PageControl1 = nullptr;
    QWidget* tStatus = nullptr;
    QWidget* tFiles = nullptr;
    QWidget* tSettings = nullptr;
    QWidget* tAbout = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnStop = nullptr;
    QLabel* Image1 = nullptr;
    QListWidget* lstLog = nullptr;
    QLineEdit* txtLogEncoder = nullptr;
    QTableWidget* lstFiles = nullptr;
    QLineEdit* txtOutput = nullptr;
    QPushButton* Button1 = nullptr;
    QComboBox* cboVSourceType = nullptr;
    QComboBox* cboOutput = nullptr;
    QLineEdit* txtVBitrate = nullptr;
    QComboBox* cboVQuality = nullptr;
    QComboBox* cboAQuality = nullptr;
    QCheckBox* chkStereo = nullptr;
    QCheckBox* chkFLevel = nullptr;
    QCheckBox* chkFPP = nullptr;
    QCheckBox* chkFResize = nullptr;
    QComboBox* cboFResize = nullptr;
    QCheckBox* chkDeInt = nullptr;
    QComboBox* cboFDeInt = nullptr;
    QCheckBox* chkFDenoise = nullptr;
    QComboBox* cboFDenoise = nullptr;
    QCheckBox* chkFSharpen = nullptr;
    QComboBox* cboFSharpen = nullptr;
    QCheckBox* chkFSample = nullptr;
    QComboBox* cboFSample = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblPlatform = nullptr;
    QPlainTextEdit* memCredits = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Add1 = nullptr;
    QAction* N5 = nullptr;
    QAction* Remove1 = nullptr;
    QAction* Clearfinished1 = nullptr;
    QAction* Clearall1 = nullptr;
    QAction* resetstatus1 = nullptr;
    QAction* ResetallStatus1 = nullptr;
    QAction* N7 = nullptr;
    QAction* Properties1 = nullptr;
    QMenu* PopupMenu2 = nullptr;
    QAction* Clear1 = nullptr;
    QAction* Showcommandline1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Savelogsas1 = nullptr;
    QSystemTrayIcon* TrayIcon1 = nullptr;

  public slots:
    void btnStartClick();
    void btnStopClick();
    void Button1Click();
    void Add1Click();
    void Remove1Click();
    void Clearfinished1Click();
    void Clearall1Click();
    void ResetallStatus1Click();
    void Clear1Click();
    void Showcommandline1Click();
    void Savelogsas1Click();
    void HideToTray();
    void TrayIcon1Click();
    // The desktop session is about to end: asks "Close Windows ?" and cancels on No.
    void CommitDataRequest(QSessionManager& manager);

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildStatusTab();
    void BuildFilesTab();
    void BuildSettingsTab();
    void BuildAboutTab();
    void BuildMenus();
    // Accessible names and descriptions for the controls, for screen readers.
    void DescribeControls();
    void FormCreate();
    void FormDestroy();
    bool QueueGridWindowProc(QEvent* event);
    QMessageBox::StandardButton ShowBox(QMessageBox::Icon icon, const QString& title,
                                        const QString& text, QMessageBox::StandardButtons buttons);
    // Runs a handler started from the window; a failure that escapes it goes to ShowError.
    void Guarded(const std::function<void()>& handler);
    void ConnectGuarded(QAction* action, void (Tfmain::*handler)());
    void RepaintProgress();

    // The queue's operations on lstFiles and QueuedPaths; made with the grid.
    std::unique_ptr<JobQueue> queue_;
    std::string progressPending_;
    QElapsedTimer progressPainted_;
    QTimer* progressRepaint_ = nullptr;
};
