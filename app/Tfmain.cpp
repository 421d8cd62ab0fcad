#include "app/Tfmain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <exception>
#include <stdexcept>

#include "app/DesktopSession.h"
#include "app/Intake.h"
#include "app/JobQueue.h"
#include "app/LogText.h"
#include "app/QueueDrops.h"
#include "app/WindowBatchHost.h"
#include "app/WindowWidgets.h"
#include "console/DosCommand.h"
#include "pipeline/BatchRun.h"

// Resources of a static library are linked only when something refers to them.
static void InitQuintaroResources() {
    Q_INIT_RESOURCE(quintaro);
}

namespace {

constexpr int kLogLineHeight = 13;
// Keeps the 8-bit text of a log line, which a QString cannot always carry unchanged.
constexpr int kLogBytesRole = Qt::UserRole + 1;
// Room the list leaves around a line's text.
constexpr int kLogTextMargin = 8;

// A log line as the list shows it: as wide as its text, so that the list scrolls sideways to a
// long one, and the whole text as its tooltip.
void SetLogLine(QListWidgetItem* item, const std::string& line, const QFontMetrics& metrics) {
    const QString text = Local(line);
    item->setData(kLogBytesRole, QByteArray::fromStdString(line));
    item->setText(text);
    item->setToolTip(text);
    item->setSizeHint(QSize(metrics.horizontalAdvance(text) + kLogTextMargin, kLogLineHeight));
}

}  // namespace

Tfmain::Tfmain(QWidget* parent) : QWidget(parent) {
    InitQuintaroResources();
    setObjectName(QStringLiteral("fmain"));
    setWindowTitle(QString::fromLatin1(ApplicationTitle));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(328, 352);
    setWindowOpacity(240.0 / 255.0);
    setFont(NamedFont("Tahoma", 8));
    setWindowIcon(QIcon(QStringLiteral(":/quintaro/icon.png")));

    Dialogs.MessageBox = [this](QMessageBox::Icon icon, const QString& title, const QString& text,
                                QMessageBox::StandardButtons buttons) {
        QMessageBox box(icon, title, text, buttons, this);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    };
    Dialogs.Notice = [this](QMessageBox::Icon icon, const QString& title, const QString& text) {
        auto* box = new QMessageBox(icon, title, text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    };
    Dialogs.OpenFiles = [this] { return QFileDialog::getOpenFileNames(this); };
    Dialogs.SaveFile = [this] {
        return QFileDialog::getSaveFileName(this, QString(), QString(), QString(), nullptr,
                                            QFileDialog::DontConfirmOverwrite);
    };
    Dialogs.SelectFolder = [this](const QString& startFolder) {
        QFileDialog dialog(this, QStringLiteral("Select Directory"), startFolder);
        dialog.setFileMode(QFileDialog::Directory);
        // Read-only: the dialog offers no way to create a folder.
        dialog.setOption(QFileDialog::ReadOnly, true);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return QString();
        }
        return dialog.selectedFiles().constFirst();
    };
    NotificationAreaAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    Desktop = std::make_unique<DesktopSession>();
    TrayMessage = [this](const QString& text) {
        // A notification area that came up after the program started gets the icon now.
        if (!TrayIcon1->isVisible()) {
            TrayIcon1->show();
        }
        TrayIcon1->showMessage(QString::fromLatin1(ApplicationTitle), text);
    };

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(8, 8, 315, 337);
    BuildStatusTab();
    BuildFilesTab();
    BuildSettingsTab();
    BuildAboutTab();
    BuildMenus();
    DescribeControls();

    TrayIcon1 = new QSystemTrayIcon(windowIcon(), this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    TrayIcon1->setToolTip(QString::fromLatin1(ApplicationTitle));
    connect(TrayIcon1, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    Guarded([this] { TrayIcon1Click(); });
                }
            });
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        TrayIcon1->show();
    }
    connect(qApp, &QGuiApplication::commitDataRequest, this, &Tfmain::CommitDataRequest,
            Qt::DirectConnection);

    progressRepaint_ = new QTimer(this);
    progressRepaint_->setSingleShot(true);
    connect(progressRepaint_, &QTimer::timeout, this, &Tfmain::RepaintProgress);

    FormCreate();
    // A tool that cannot be started is reported in the window's error box, which the run does
    // not wait for: an unattended queue goes on to its next stage or job meanwhile.
    TDosCommand::SetErrorHandler([this](const std::string& message) { ShowRunError(message); });

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

Tfmain::~Tfmain() {
    TDosCommand::SetErrorHandler(nullptr);
    FormDestroy();
}

void Tfmain::BuildMenus() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto item = [](QMenu* menu, QAction*& action, const char* name, const char* caption) {
        action = menu->addAction(QString::fromLatin1(caption));
        action->setObjectName(QString::fromLatin1(name));
    };
    auto separator = [](QMenu* menu, QAction*& action, const char* name) {
        action = menu->addSeparator();
        action->setObjectName(QString::fromLatin1(name));
    };
    item(PopupMenu1, Add1, "Add1", "Add");
    separator(PopupMenu1, N5, "N5");
    item(PopupMenu1, Remove1, "Remove1", "Remove");
    item(PopupMenu1, Clearfinished1, "Clearfinished1", "Clear finished");
    item(PopupMenu1, Clearall1, "Clearall1", "Clear all");
    item(PopupMenu1, resetstatus1, "resetstatus1", "Reset status");
    resetstatus1->setEnabled(false);
    item(PopupMenu1, ResetallStatus1, "ResetallStatus1", "Reset all Status");
    separator(PopupMenu1, N7, "N7");
    item(PopupMenu1, Properties1, "Properties1", "Properties");
    ConnectGuarded(Add1, &Tfmain::Add1Click);
    ConnectGuarded(Remove1, &Tfmain::Remove1Click);
    ConnectGuarded(Clearfinished1, &Tfmain::Clearfinished1Click);
    ConnectGuarded(Clearall1, &Tfmain::Clearall1Click);
    ConnectGuarded(ResetallStatus1, &Tfmain::ResetallStatus1Click);
    connect(lstFiles, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->popup(lstFiles->viewport()->mapToGlobal(pos));
    });

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
    item(PopupMenu2, Clear1, "Clear1", "Clear");
    item(PopupMenu2, Showcommandline1, "Showcommandline1", "Show details");
    separator(PopupMenu2, N1, "N1");
    item(PopupMenu2, Savelogsas1, "Savelogsas1", "Save logs as...");
    ConnectGuarded(Clear1, &Tfmain::Clear1Click);
    ConnectGuarded(Showcommandline1, &Tfmain::Showcommandline1Click);
    ConnectGuarded(Savelogsas1, &Tfmain::Savelogsas1Click);
    connect(lstLog, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu2->popup(lstLog->viewport()->mapToGlobal(pos)); });
}

void Tfmain::FormCreate() {
    lblVersion->setText(QString::fromLatin1(kBuildDate));
    PageControl1->setCurrentWidget(tStatus);
    AppDir = QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString();
    if (AppDir.empty() || AppDir.back() != '/') {
        AppDir += '/';
    }
    queue_->WriteHeader();
    LastToolOutput.clear();
    QueuedPaths.clear();
    lstFiles->setAcceptDrops(true);
    lstFiles->viewport()->setAcceptDrops(true);
    lstFiles->viewport()->installEventFilter(this);
    // HideToTray runs from changeEvent whenever the window is minimized.
}

void Tfmain::FormDestroy() {
    LastToolOutput.clear();
    QueuedPaths.clear();
}

// ---- Errors and boxes ----

QMessageBox::StandardButton Tfmain::ShowBox(QMessageBox::Icon icon, const QString& title,
                                            const QString& text,
                                            QMessageBox::StandardButtons buttons) {
    return Dialogs.MessageBox(icon, title, text, buttons);
}

void Tfmain::ShowError(const std::string& message) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, message] { ShowError(message); }, Qt::QueuedConnection);
        return;
    }
    ShowBox(QMessageBox::Critical, QString::fromLatin1(ApplicationTitle),
            Local(ErrorBoxText(message)), QMessageBox::Ok);
}

void Tfmain::ShowRunError(const std::string& message) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, message] { ShowRunError(message); }, Qt::QueuedConnection);
        return;
    }
    Dialogs.Notice(QMessageBox::Critical, QString::fromLatin1(ApplicationTitle),
                   Local(ErrorBoxText(message)));
}

void Tfmain::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowError(e.what());
    } catch (...) {
        ShowError("Unknown error");
    }
}

void Tfmain::ConnectGuarded(QAction* action, void (Tfmain::*handler)()) {
    connect(action, &QAction::triggered, this,
            [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
}

// ---- The job queue ----

int Tfmain::QueueRowCount() const {
    return queue_->RowCount();
}

std::string Tfmain::RowStatus(int row) const {
    return queue_->RowStatus(row);
}

void Tfmain::SetRowStatus(int row, const std::string& status) {
    queue_->SetRowStatus(row, status);
}

std::string Tfmain::RowFileName(int row) const {
    return queue_->RowFileName(row);
}

int Tfmain::SelectedQueueRow() const {
    return queue_->SelectedRow();
}

void Tfmain::AddQueueEntry(const std::string& path) {
    queue_->Add(path);
}

void Tfmain::DeleteQueueRow(int row) {
    queue_->DeleteRow(row);
}

void Tfmain::CollectFiles(const std::string& folder, std::vector<std::string>& list,
                          const std::string& mask) {
    ::CollectFiles(folder, list, mask);
}

void Tfmain::HandleDroppedFiles(const std::vector<std::string>& paths) {
    const std::vector<std::string> refused = QueuePaths(paths, *queue_);
    if (!refused.empty()) {
        ShowBox(QMessageBox::NoIcon, QString::fromLatin1(ApplicationTitle),
                Local(RefusedFilesText(refused)), QMessageBox::Ok);
    }
}

bool Tfmain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lstFiles->viewport() && QueueGridWindowProc(event)) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool Tfmain::QueueGridWindowProc(QEvent* event) {
    if (event->type() != QEvent::DragEnter && event->type() != QEvent::DragMove &&
        event->type() != QEvent::Drop) {
        return false;
    }
    std::vector<std::string> paths;
    if (!TakeFileDrag(*static_cast<QDropEvent*>(event), paths)) {
        return false;
    }
    if (event->type() == QEvent::Drop) {
        // Handled once the drop has finished, so that the source is released before a
        // message box can wait for the user. A failure here ends the handling silently.
        QMetaObject::invokeMethod(
            this,
            [this, paths = std::move(paths)] {
                try {
                    HandleDroppedFiles(paths);
                } catch (...) {
                }
            },
            Qt::QueuedConnection);
    }
    return true;
}

void Tfmain::Add1Click() {
    const QStringList chosen = Dialogs.OpenFiles();
    std::vector<std::string> refused;
    for (const QString& name : chosen) {
        const std::string path = QFile::encodeName(name).toStdString();
        if (IsCompatibleFile(path, true)) {
            AddQueueEntry(path);
        } else {
            refused.push_back(path);
        }
    }
    if (!refused.empty()) {
        ShowBox(QMessageBox::NoIcon, QString::fromLatin1(ApplicationTitle),
                Local(RefusedFilesText(refused)), QMessageBox::Ok);
    }
}

void Tfmain::Remove1Click() {
    DeleteQueueRow(SelectedQueueRow());
}

void Tfmain::Clearfinished1Click() {
    queue_->ClearFinished();
}

void Tfmain::Clearall1Click() {
    queue_->ClearAll();
}

void Tfmain::ResetallStatus1Click() {
    queue_->ResetAllStatus();
}

// ---- Log, progress, output folder ----

void Tfmain::LogLine(const std::string& text) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string line = "[" + FormatLogTime(local) + "] " + text;
    auto* item = new QListWidgetItem();
    SetLogLine(item, line, lstLog->fontMetrics());
    lstLog->addItem(item);
    lstLog->setCurrentItem(item);
    lstLog->scrollToItem(item);
}

void Tfmain::LogAppend(const std::string& text) {
    const int count = lstLog->count();
    if (count == 0) {
        // Nothing to extend (the log was cleared during a run): the text starts a line.
        auto* item = new QListWidgetItem();
        SetLogLine(item, text, lstLog->fontMetrics());
        lstLog->addItem(item);
        return;
    }
    QListWidgetItem* item = lstLog->item(count - 1);
    const std::string line = item->data(kLogBytesRole).toByteArray().toStdString() + " " + text;
    SetLogLine(item, line, lstLog->fontMetrics());
    // The list lays its lines out again only when lines come or go; a line grown past the
    // others widens what it scrolls over only after that.
    lstLog->doItemsLayout();
}

std::vector<std::string> Tfmain::LogLines() const {
    std::vector<std::string> lines;
    lines.reserve(static_cast<size_t>(lstLog->count()));
    for (int i = 0; i < lstLog->count(); ++i) {
        const QListWidgetItem* item = lstLog->item(i);
        const QVariant bytes = item->data(kLogBytesRole);
        lines.push_back(bytes.isValid() ? bytes.toByteArray().toStdString()
                                        : EightBit(item->text()));
    }
    return lines;
}

namespace {

// A running tool's line changes with every poll, 50 times a second, but a person reads it far
// slower, and laying out and painting the text takes CPU time from the encoder: the field takes
// a new line at most this often, and always ends up with the latest one.
constexpr int kProgressRepaintMs = 100;

}  // namespace

void Tfmain::SetProgressText(const std::string& text) {
    if (RunInProgress) {
        // A line without a percentage (a tool's banner) leaves the last one shown.
        if (const int percent = ProgressPercent(text); percent >= 0) {
            Desktop->SetLauncherProgress(percent);
        }
    }
    progressPending_ = text;
    if (progressRepaint_->isActive()) {
        return;
    }
    if (progressPainted_.isValid() && progressPainted_.elapsed() < kProgressRepaintMs) {
        progressRepaint_->start(static_cast<int>(kProgressRepaintMs - progressPainted_.elapsed()));
        return;
    }
    RepaintProgress();
}

void Tfmain::RepaintProgress() {
    const QString shown = Local(progressPending_);
    if (shown == txtLogEncoder->text()) {
        return;
    }
    txtLogEncoder->setText(shown);
    // A progress line is read from its start (position, frames, percentage); a line edit would
    // scroll a long one to its end.
    txtLogEncoder->setCursorPosition(0);
    progressPainted_.start();
}

void Tfmain::Clear1Click() {
    lstLog->clear();
}

void Tfmain::Showcommandline1Click() {
    ShowBox(QMessageBox::NoIcon, QString::fromLatin1(ApplicationTitle), QStringLiteral("in dev..."),
            QMessageBox::Ok);
}

void Tfmain::Savelogsas1Click() {
    const QString name = Dialogs.SaveFile();
    if (name.isEmpty()) {
        return;
    }
    SaveLinesCrLf(QFile::encodeName(name).toStdString(), LogLines());
}

void Tfmain::Button1Click() {
    const QString folder = Dialogs.SelectFolder(QDir::currentPath());
    if (!folder.isEmpty()) {
        txtOutput->setText(folder);
    }
}

EncodeSettings Tfmain::CurrentSettings() const {
    EncodeSettings s;
    s.SourceType = cboVSourceType->currentIndex();
    s.OutputFormat = cboOutput->currentIndex();
    s.VideoBitrate = EightBit(txtVBitrate->text());
    s.VideoQuality = cboVQuality->currentIndex();
    s.AudioBitrate = cboAQuality->currentIndex();
    s.Stereo = chkStereo->isChecked();
    s.FixLevels = chkFLevel->isChecked();
    s.PostProcessing = chkFPP->isChecked();
    s.ResizeOn = chkFResize->isChecked();
    s.ResizeTo = EightBit(cboFResize->currentText());
    s.FrameOn = chkDeInt->isChecked();
    s.FrameMode = cboFDeInt->currentIndex();
    s.DenoiseOn = chkFDenoise->isChecked();
    s.DenoiseLevel = cboFDenoise->currentIndex();
    s.SharpenOn = chkFSharpen->isChecked();
    s.SharpenLevel = cboFSharpen->currentIndex();
    s.ResampleOn = chkFSample->isChecked();
    s.ResampleRate = cboFSample->currentIndex();
    s.OutputFolder = QFile::encodeName(txtOutput->text()).toStdString();
    return s;
}

// ---- Start, Stop, closing ----

void Tfmain::btnStartClick() {
    if (RunInProgress) {
        return;
    }
    RunInProgress = true;
    WindowBatchHost host(*this);
    try {
        RunBatch(host);
    } catch (...) {
        RunInProgress = false;
        host.SetRunButtons(false);
        // A close asked for during the run still happens, after the failure is reported.
        if (ClosePending) {
            ClosePending = false;
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        }
        throw;
    }
    RunInProgress = false;
    if (ClosePending) {
        ClosePending = false;
        close();
    }
}

void Tfmain::RunActive(bool running) {
    if (running) {
        Desktop->InhibitSleep(QStringLiteral("Encoding the queue"));
        Desktop->SetLauncherProgress(0);
    } else {
        Desktop->ReleaseSleep();
        Desktop->SetLauncherProgress(-1);
    }
}

void Tfmain::RunEnded(const RunSummary& summary) {
    if (!summary.queueFinished) {
        return;  // stopped, or the run could not start: the user is at the window
    }
    const QString text =
        QStringLiteral("Queue finished: %1 done, %2 failed").arg(summary.done).arg(summary.failed);
    Desktop->Notify(text, [this, text] {
        if (NotificationAreaAvailable()) {
            TrayMessage(text);
        }
    });
}

void Tfmain::btnStopClick() {
    StopRequested = true;
    btnStop->setEnabled(false);
}

void Tfmain::closeEvent(QCloseEvent* event) {
    if (RunInProgress) {
        // The run stops its tool, ends, and closes the window again.
        StopRequested = true;
        ClosePending = true;
        event->ignore();
        return;
    }
    event->accept();
}

// ---- Tray and session ----

void Tfmain::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        HideToTray();
    }
    QWidget::changeEvent(event);
}

void Tfmain::HideToTray() {
    if (!NotificationAreaAvailable()) {
        return;
    }
    // A notification area that came up after the program started gets the icon now.
    if (!TrayIcon1->isVisible() && QSystemTrayIcon::isSystemTrayAvailable()) {
        TrayIcon1->show();
    }
    // Hidden once the minimize has completed; the window manager may still be changing state.
    QTimer::singleShot(0, this, [this] {
        if (isMinimized()) {
            hide();
        }
    });
}

void Tfmain::TrayIcon1Click() {
    if (windowState() & Qt::WindowMinimized) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    show();
    raise();
    activateWindow();
}

bool Tfmain::ConfirmSessionEnd() {
    return ShowBox(QMessageBox::Question, QStringLiteral("Confirm"),
                   QStringLiteral("Close Windows ?"),
                   QMessageBox::Yes | QMessageBox::No) != QMessageBox::No;
}

void Tfmain::AnswerSessionEnd(SessionEndRequest& request) {
    if (!request.AllowsInteraction()) {
        return;  // no question may be asked: the session ends
    }
    if (ConfirmSessionEnd()) {
        request.Release();
    } else {
        request.Cancel();
    }
}

void Tfmain::CommitDataRequest(QSessionManager& manager) {
    struct Request : SessionEndRequest {
        explicit Request(QSessionManager& m) : manager(m) {}
        bool AllowsInteraction() override { return manager.allowsInteraction(); }
        void Release() override { manager.release(); }
        void Cancel() override { manager.cancel(); }
        QSessionManager& manager;
    } request(manager);
    AnswerSessionEnd(request);
}
