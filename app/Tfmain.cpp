#include "app/Tfmain.h"

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QSysInfo>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <ctime>
#include <exception>
#include <stdexcept>

#include "app/DesktopSession.h"
#include "app/Intake.h"
#include "app/LogText.h"
#include "console/DosCommand.h"
#include "pipeline/BatchRun.h"

// Resources of a static library are linked only when something refers to them.
static void InitQuintaroResources() {
    Q_INIT_RESOURCE(quintaro);
}

namespace {

constexpr char kBuildDate[] = "2007-09-25";
constexpr int kLogLineHeight = 13;
// Keeps the 8-bit text of a log line, which a QString cannot always carry unchanged.
constexpr int kLogBytesRole = Qt::UserRole + 1;
// Room the list leaves around a line's text.
constexpr int kLogTextMargin = 8;

QString Local(const std::string& text) {
    return QString::fromLocal8Bit(text);
}

std::string EightBit(const QString& text) {
    return text.toLocal8Bit().toStdString();
}

QFont NamedFont(const char* family, int pointSize) {
    QFont font(QString::fromLatin1(family));
    font.setPointSize(pointSize);
    return font;
}

QComboBox* MakeList(QWidget* parent, const char* name, const std::vector<std::string>& items,
                    int current, const QRect& geometry) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    for (const std::string& item : items) {
        combo->addItem(QString::fromStdString(item));
    }
    combo->setCurrentIndex(current);
    combo->setGeometry(geometry);
    return combo;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* caption, bool checked,
                     const QRect& geometry) {
    auto* box = new QCheckBox(QString::fromLatin1(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(checked);
    box->setGeometry(geometry);
    return box;
}

// A field's caption; the field is its buddy, so that screen readers say which field it names.
QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, const QRect& geometry,
                  QWidget* buddy) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setBuddy(buddy);
    return label;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const char* caption,
                     const QRect& geometry) {
    auto* group = new QGroupBox(QString::fromLatin1(caption), parent);
    group->setObjectName(QString::fromLatin1(name));
    group->setGeometry(geometry);
    return group;
}

// A log line as the list shows it: as wide as its text, so that the list scrolls sideways to a
// long one, and the whole text as its tooltip.
void SetLogLine(QListWidgetItem* item, const std::string& line, const QFontMetrics& metrics) {
    const QString text = Local(line);
    item->setData(kLogBytesRole, QByteArray::fromStdString(line));
    item->setText(text);
    item->setToolTip(text);
    item->setSizeHint(QSize(metrics.horizontalAdvance(text) + kLogTextMargin, kLogLineHeight));
}

QTableWidgetItem* QueueCell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

// The 8-bit path of a dropped local file, byte for byte as the drag source encoded it.
bool DroppedPath(const QUrl& url, std::string& path) {
    if (!url.isLocalFile()) {
        return false;
    }
    const QString host = url.host();
    if (!host.isEmpty() && host != QLatin1String("localhost")) {
        return false;
    }
    path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
    return !path.empty() && path.find('\0') == std::string::npos;
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

void Tfmain::BuildStatusTab() {
    tStatus = new QWidget();
    tStatus->setObjectName(QStringLiteral("tStatus"));
    PageControl1->addTab(tStatus, QStringLiteral("Status"));

    btnStart = new QPushButton(QStringLiteral("Start"), tStatus);
    btnStart->setObjectName(QStringLiteral("btnStart"));
    btnStart->setGeometry(3, 3, 75, 25);
    connect(btnStart, &QPushButton::clicked, this,
            [this] { Guarded([this] { btnStartClick(); }); });

    btnStop = new QPushButton(QStringLiteral("Stop"), tStatus);
    btnStop->setObjectName(QStringLiteral("btnStop"));
    btnStop->setGeometry(84, 3, 75, 25);
    btnStop->setEnabled(false);
    connect(btnStop, &QPushButton::clicked, this, [this] { Guarded([this] { btnStopClick(); }); });

    Image1 = new QLabel(tStatus);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(207, 3, 97, 23);
    Image1->setPixmap(QPixmap(QStringLiteral(":/quintaro/banner.png")));
    Image1->setCursor(Qt::PointingHandCursor);

    lstLog = new QListWidget(tStatus);
    lstLog->setObjectName(QStringLiteral("lstLog"));
    lstLog->setGeometry(3, 34, 301, 245);
    // Lines differ in width: a long one widens the list's content, which then scrolls sideways.
    lstLog->setUniformItemSizes(false);
    lstLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    lstLog->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    lstLog->setContextMenuPolicy(Qt::CustomContextMenu);

    txtLogEncoder = new QLineEdit(tStatus);
    txtLogEncoder->setObjectName(QStringLiteral("txtLogEncoder"));
    txtLogEncoder->setGeometry(3, 285, 301, 22);
    txtLogEncoder->setFont(NamedFont("Arial", 8));
}

void Tfmain::BuildFilesTab() {
    tFiles = new QWidget();
    tFiles->setObjectName(QStringLiteral("tFiles"));
    PageControl1->addTab(tFiles, QStringLiteral("Files"));

    lstFiles = new QTableWidget(2, 2, tFiles);
    lstFiles->setObjectName(QStringLiteral("lstFiles"));
    lstFiles->setGeometry(3, 1, 301, 278);
    lstFiles->setColumnWidth(0, 64);
    lstFiles->setColumnWidth(1, 213);
    lstFiles->verticalHeader()->hide();
    lstFiles->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lstFiles->verticalHeader()->setDefaultSectionSize(16);
    lstFiles->verticalHeader()->setMinimumSectionSize(16);
    // Row 0 holds the header cells; the grid shows them in its header bar, which stays in place
    // while the entries scroll, as a fixed row does.
    lstFiles->setHorizontalHeaderLabels({QStringLiteral("Status"), QStringLiteral("File")});
    lstFiles->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    lstFiles->horizontalHeader()->setHighlightSections(false);
    lstFiles->horizontalHeader()->setSectionsClickable(false);
    lstFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    lstFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstFiles->setWordWrap(false);
    lstFiles->setContextMenuPolicy(Qt::CustomContextMenu);

    txtOutput = new QLineEdit(tFiles);
    txtOutput->setObjectName(QStringLiteral("txtOutput"));
    txtOutput->setGeometry(3, 285, 270, 21);
    txtOutput->setText(QFile::decodeName(QByteArray::fromStdString(DefaultOutputFolder())));

    Button1 = new QPushButton(QStringLiteral("..."), tFiles);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(279, 287, 25, 19);
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
}

void Tfmain::BuildSettingsTab() {
    tSettings = new QWidget();
    tSettings->setObjectName(QStringLiteral("tSettings"));
    PageControl1->addTab(tSettings, QStringLiteral("Settings"));
    const EncodeSettings defaults;

    QGroupBox* general = MakeGroup(tSettings, "grpGeneral", "General", QRect(3, 3, 134, 70));
    cboVSourceType = MakeList(general, "cboVSourceType", SettingItems::SourceType,
                              defaults.SourceType, QRect(47, 19, 83, 21));
    MakeLabel(general, "lblVSourceType", "Source:", QRect(4, 19, 42, 21), cboVSourceType);
    cboOutput = MakeList(general, "cboOutput", SettingItems::OutputFormat, defaults.OutputFormat,
                         QRect(47, 44, 83, 21));
    MakeLabel(general, "lblOutput", "Output:", QRect(4, 44, 42, 21), cboOutput);

    QGroupBox* video = MakeGroup(tSettings, "grpVideo", "Video", QRect(3, 79, 134, 74));
    txtVBitrate = new QLineEdit(QString::fromStdString(defaults.VideoBitrate), video);
    txtVBitrate->setObjectName(QStringLiteral("txtVBitrate"));
    txtVBitrate->setGeometry(47, 20, 83, 21);
    MakeLabel(video, "lblVBitrate", "Bitrate:", QRect(4, 20, 42, 21), txtVBitrate);
    cboVQuality = MakeList(video, "cboVQuality", SettingItems::VideoQuality, defaults.VideoQuality,
                           QRect(47, 46, 83, 21));
    MakeLabel(video, "lblVQuality", "Quality:", QRect(4, 46, 42, 21), cboVQuality);

    QGroupBox* audio = MakeGroup(tSettings, "grpAudio", "Audio", QRect(3, 159, 134, 74));
    cboAQuality = MakeList(audio, "cboAQuality", SettingItems::AudioBitrate, defaults.AudioBitrate,
                           QRect(47, 20, 83, 21));
    MakeLabel(audio, "lblAQuality", "Bitrate:", QRect(4, 20, 42, 21), cboAQuality);
    chkStereo = MakeCheck(audio, "chkStereo", "Stereo", defaults.Stereo, QRect(47, 47, 83, 19));
    chkStereo->setToolTip(QStringLiteral("Uncheck for mono"));

    MakeGroup(tSettings, "grpLanguage", "Language", QRect(3, 239, 134, 67));

    QGroupBox* filtering =
        MakeGroup(tSettings, "grpFiltering", "Filtering", QRect(143, 3, 161, 206));
    const int checkX = 6;
    const int checkWidth = 74;
    const int listX = 80;
    const int listWidth = 76;
    auto row = [](int index) { return 18 + index * 26; };
    chkFLevel = MakeCheck(filtering, "chkFLevel", "Fix Levels", defaults.FixLevels,
                          QRect(checkX, row(0), 140, 21));
    chkFPP = MakeCheck(filtering, "chkFPP", "Post Processing", defaults.PostProcessing,
                       QRect(checkX, row(1), 140, 21));
    chkFPP->setToolTip(QStringLiteral("FSPP, applied on the source"));
    chkFResize = MakeCheck(filtering, "chkFResize", "Resize", defaults.ResizeOn,
                           QRect(checkX, row(2), checkWidth, 21));
    cboFResize = MakeList(filtering, "cboFResize", SettingItems::ResizeTo, -1,
                          QRect(listX, row(2), listWidth, 21));
    cboFResize->setEditable(true);
    cboFResize->setInsertPolicy(QComboBox::NoInsert);
    cboFResize->setCurrentText(QString::fromStdString(defaults.ResizeTo));
    chkDeInt = MakeCheck(filtering, "chkDeInt", "Frame", defaults.FrameOn,
                         QRect(checkX, row(3), checkWidth, 21));
    cboFDeInt = MakeList(filtering, "cboFDeInt", SettingItems::FrameMode, defaults.FrameMode,
                         QRect(listX, row(3), listWidth, 21));
    chkFDenoise = MakeCheck(filtering, "chkFDenoise", "Denoise", defaults.DenoiseOn,
                            QRect(checkX, row(4), checkWidth, 21));
    cboFDenoise = MakeList(filtering, "cboFDenoise", SettingItems::DenoiseLevel,
                           defaults.DenoiseLevel, QRect(listX, row(4), listWidth, 21));
    chkFSharpen = MakeCheck(filtering, "chkFSharpen", "Sharpen", defaults.SharpenOn,
                            QRect(checkX, row(5), checkWidth, 21));
    cboFSharpen = MakeList(filtering, "cboFSharpen", SettingItems::SharpenLevel,
                           defaults.SharpenLevel, QRect(listX, row(5), listWidth, 21));
    chkFSample = MakeCheck(filtering, "chkFSample", "Audio SR", defaults.ResampleOn,
                           QRect(checkX, row(6), checkWidth, 21));
    cboFSample = MakeList(filtering, "cboFSample", SettingItems::ResampleRate,
                          defaults.ResampleRate, QRect(listX, row(6), listWidth, 21));
}

void Tfmain::BuildAboutTab() {
    tAbout = new QWidget();
    tAbout->setObjectName(QStringLiteral("tAbout"));
    PageControl1->addTab(tAbout, QStringLiteral("About"));

    QGroupBox* head = MakeGroup(tAbout, "grpTitle", "", QRect(3, 3, 301, 86));
    auto* title = new QLabel(QString::fromLatin1(ApplicationTitle), head);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont(QStringLiteral("Comic Sans MS"));
    titleFont.setPixelSize(45);
    title->setFont(titleFont);
    title->setGeometry(8, 6, 285, 54);
    lblVersion = new QLabel(head);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setGeometry(8, 62, 110, 16);
    // The platform the program runs on, not the one it was first written for.
#ifdef Q_OS_LINUX
    const QString platform = QStringLiteral("for Linux");
#else
    const QString platform = QStringLiteral("for ") + QSysInfo::prettyProductName();
#endif
    lblPlatform = new QLabel(platform, head);
    lblPlatform->setObjectName(QStringLiteral("lblPlatform"));
    QFont italic = lblPlatform->font();
    italic.setItalic(true);
    lblPlatform->setFont(italic);
    lblPlatform->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblPlatform->setGeometry(120, 62, 173, 16);

    QGroupBox* credits = MakeGroup(tAbout, "grpCredits", "", QRect(3, 95, 150, 211));
    memCredits = new QPlainTextEdit(credits);
    memCredits->setObjectName(QStringLiteral("memCredits"));
    memCredits->setGeometry(4, 6, 142, 200);
    memCredits->setReadOnly(true);
    memCredits->setFrameShape(QFrame::NoFrame);
    memCredits->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memCredits->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memCredits->viewport()->setAutoFillBackground(false);
    // "Using:" names the tools this build really runs: the Fraunhofer FDK AAC library encodes
    // the HE-AAC, ffmpeg stands in for MP4Box.
    memCredits->setPlainText(
        QStringLiteral("Developer:\n"
                       "* the Quintaro developers\n"
                       "\n"
                       "Thanks to:\n"
                       "* everyone who tested it\n"
                       "\n"
                       "Based on:\n"
                       "* x264\n"
                       "* Qt\n"
                       "\n"
                       "Using:\n"
                       "* mplayer/mencoder\n"
                       "* Fraunhofer FDK AAC\n"
                       "* ffmpeg\n"
                       "* mkvtoolnix"));

    QGroupBox* legal = MakeGroup(tAbout, "grpLegal", "", QRect(159, 95, 145, 105));
    auto* notice = new QLabel(QStringLiteral("Free to use and share.\nNo warranty."), legal);
    notice->setObjectName(QStringLiteral("lblLegal"));
    notice->setWordWrap(true);
    notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notice->setGeometry(8, 10, 131, 86);

    MakeGroup(tAbout, "grpEmpty", "", QRect(159, 206, 145, 100));
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
    lstFiles->setItem(0, 0, QueueCell(QStringLiteral("Status")));
    lstFiles->setItem(0, 1, QueueCell(QStringLiteral("File")));
    lstFiles->setRowHidden(0, true);
    lstFiles->setCurrentCell(1, 0);
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
    return lstFiles->rowCount();
}

std::string Tfmain::RowStatus(int row) const {
    const QTableWidgetItem* item = lstFiles->item(row, 0);
    return item ? item->text().toStdString() : std::string();
}

void Tfmain::SetRowStatus(int row, const std::string& status) {
    if (row < 0 || row >= lstFiles->rowCount()) {
        return;
    }
    if (QTableWidgetItem* item = lstFiles->item(row, 0)) {
        item->setText(QString::fromStdString(status));
    } else {
        lstFiles->setItem(row, 0, QueueCell(QString::fromStdString(status)));
    }
}

std::string Tfmain::RowFileName(int row) const {
    const QTableWidgetItem* item = lstFiles->item(row, 1);
    return item ? QFile::encodeName(item->text()).toStdString() : std::string();
}

int Tfmain::SelectedQueueRow() const {
    const int row = lstFiles->currentRow();
    return row < 1 ? 1 : row;
}

void Tfmain::AddQueueEntry(const std::string& path) {
    const int row = lstFiles->rowCount() - 1;
    lstFiles->setItem(row, 0, QueueCell(QStringLiteral("ready")));
    lstFiles->setItem(row, 1,
                      QueueCell(QFile::decodeName(QByteArray::fromStdString(FileNameOf(path)))));
    QueuedPaths.push_back(path);
    lstFiles->setRowCount(row + 2);
}

void Tfmain::DeleteQueueRow(int row) {
    const long index = static_cast<long>(row) - 1;
    if (index < 0 || index >= static_cast<long>(QueuedPaths.size())) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    }
    QueuedPaths.erase(QueuedPaths.begin() + index);
    const int current = lstFiles->currentRow();
    const int column = std::max(lstFiles->currentColumn(), 0);
    // Removing the row moves the rows below, the empty last row included, up by one.
    lstFiles->removeRow(row);
    // The selection keeps its row number and so shows the following entry.
    if (current >= 1) {
        lstFiles->setCurrentCell(std::min(current, lstFiles->rowCount() - 1), column);
    }
}

void Tfmain::CollectFiles(const std::string& folder, std::vector<std::string>& list,
                          const std::string& mask) {
    ::CollectFiles(folder, list, mask);
}

void Tfmain::HandleDroppedFiles(const std::vector<std::string>& paths) {
    std::vector<std::string> refused;
    for (const std::string& path : paths) {
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode) && IsDvdFolder(path)) {
            // A DVD is encoded as one job from its folder; its files are no sources by themselves.
            if (FitsACommandLine(path)) {
                AddQueueEntry(path);
            } else {
                refused.push_back(path);
            }
        } else if (S_ISDIR(st.st_mode)) {
            std::vector<std::string> found;
            CollectFiles(path, found, "*.*");
            for (const std::string& file : found) {
                if (IsCompatibleFile(file, false)) {
                    AddQueueEntry(file);
                }
            }
        } else if (IsCompatibleFile(path, true)) {
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
    auto* drop = static_cast<QDropEvent*>(event);
    const QMimeData* mime = drop->mimeData();
    if (mime == nullptr || !mime->hasUrls()) {
        return false;
    }
    // Always a copy: a source told "moved" could delete the user's files.
    if (drop->possibleActions() & Qt::CopyAction) {
        drop->setDropAction(Qt::CopyAction);
    } else if (drop->possibleActions() & Qt::LinkAction) {
        drop->setDropAction(Qt::LinkAction);
    } else {
        drop->ignore();
        return true;
    }
    drop->accept();
    if (event->type() == QEvent::Drop) {
        std::vector<std::string> paths;
        for (const QUrl& url : mime->urls()) {
            std::string path;
            if (DroppedPath(url, path)) {
                paths.push_back(std::move(path));
            }
        }
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
    // Upward, so that removals never move a row still to be visited.
    for (int row = lstFiles->rowCount() - 1; row >= 1; --row) {
        if (RowStatus(row) == "done") {
            DeleteQueueRow(row);
        }
    }
}

void Tfmain::Clearall1Click() {
    QueuedPaths.clear();
    lstFiles->setRowCount(1);
    lstFiles->setRowCount(2);
}

void Tfmain::ResetallStatus1Click() {
    for (int row = 1; row <= lstFiles->rowCount() - 2; ++row) {
        SetRowStatus(row, "ready");
    }
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

namespace {

// The batch run sees the window only through this.
class WindowBatchHost : public BatchHost {
  public:
    explicit WindowBatchHost(Tfmain& window) : window_(window) {}

    bool StopRequested() const override { return window_.StopRequested; }
    void SetProgressText(const std::string& text) override { window_.SetProgressText(text); }
    int QueueRowCount() const override { return window_.QueueRowCount(); }
    std::string RowStatus(int row) const override { return window_.RowStatus(row); }
    void SetRowStatus(int row, const std::string& status) override {
        window_.SetRowStatus(row, status);
    }
    std::vector<std::string> QueuedPathList() const override { return window_.QueuedPaths; }
    void LogLine(const std::string& text) override { window_.LogLine(text); }
    void LogAppend(const std::string& text) override { window_.LogAppend(text); }
    EncodeSettings CurrentSettings() const override { return window_.CurrentSettings(); }
    std::string AppDir() const override { return window_.AppDir; }
    void SetRunButtons(bool running) override {
        window_.btnStart->setEnabled(!running);
        window_.btnStop->setEnabled(running);
        window_.RunActive(running);
    }
    void ClearStopRequest() override { window_.StopRequested = false; }
    void ReportError(const std::string& message) override { window_.ShowError(message); }
    std::vector<std::string>& LastToolOutput() override { return window_.LastToolOutput; }
    void RunEnded(const RunSummary& summary) override { window_.RunEnded(summary); }

  private:
    Tfmain& window_;
};

}  // namespace

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
