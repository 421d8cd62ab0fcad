// The window as a new start shows it: caption, geometry, tabs, controls, defaults, menus.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>

#include "AppTestSupport.h"

namespace {

QStringList ItemsOf(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) {
        items << combo->itemText(i);
    }
    return items;
}

QStringList Texts(const std::vector<std::string>& items) {
    QStringList texts;
    for (const std::string& item : items) {
        texts << QString::fromStdString(item);
    }
    return texts;
}

}  // namespace

using NewWindow = WindowTest;

TEST_F(NewWindow, HasCaptionSizeAndWindowButtons) {
    EXPECT_EQ(Window->objectName(), "fmain");
    EXPECT_EQ(Window->windowTitle(), "Quintaro 6");
    EXPECT_EQ(Window->size(), QSize(328, 352));
    EXPECT_EQ(Window->minimumSize(), Window->maximumSize()) << "not resizable";
    const Qt::WindowFlags flags = Window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_NEAR(Window->windowOpacity(), 240.0 / 255.0, 0.01);
    EXPECT_FALSE(Window->windowIcon().isNull());
    EXPECT_EQ(Window->font().family(), "Tahoma");
    EXPECT_EQ(Window->font().pointSize(), 8);
}

TEST_F(NewWindow, ShowsFourTabsInOrderWithStatusFirst) {
    auto* tabs = Window->findChild<QTabWidget*>("PageControl1");
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->geometry(), QRect(8, 8, 315, 337));
    const char* names[] = {"tStatus", "tFiles", "tSettings", "tAbout"};
    const char* captions[] = {"Status", "Files", "Settings", "About"};
    ASSERT_EQ(tabs->count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(tabs->widget(i)->objectName(), names[i]);
        EXPECT_EQ(tabs->tabText(i), captions[i]);
    }
    EXPECT_EQ(tabs->currentIndex(), 0);
}

TEST_F(NewWindow, PlacesControlsAtTheirPositions) {
    struct Place {
        const char* Name;
        QRect Geometry;
    };
    const Place places[] = {
        {"btnStart", {3, 3, 75, 25}},         {"btnStop", {84, 3, 75, 25}},
        {"Image1", {207, 3, 97, 23}},         {"lstLog", {3, 34, 301, 245}},
        {"txtLogEncoder", {3, 285, 301, 22}}, {"lstFiles", {3, 1, 301, 278}},
        {"txtOutput", {3, 285, 270, 21}},     {"Button1", {279, 287, 25, 19}},
        {"grpGeneral", {3, 3, 134, 70}},      {"grpVideo", {3, 79, 134, 74}},
        {"grpAudio", {3, 159, 134, 74}},      {"grpLanguage", {3, 239, 134, 67}},
        {"grpFiltering", {143, 3, 161, 206}}, {"grpTitle", {3, 3, 301, 86}},
        {"grpCredits", {3, 95, 150, 211}},    {"grpLegal", {159, 95, 145, 105}},
        {"grpEmpty", {159, 206, 145, 100}},
    };
    for (const Place& place : places) {
        auto* widget = Window->findChild<QWidget*>(place.Name);
        ASSERT_NE(widget, nullptr) << place.Name;
        EXPECT_EQ(widget->geometry(), place.Geometry) << place.Name;
    }
    EXPECT_EQ(Window->findChild<QGroupBox*>("grpLanguage")->children().size(), 0u)
        << "the Language group holds nothing";
}

TEST_F(NewWindow, ShowsCaptionsHintsAndStartState) {
    EXPECT_EQ(Window->findChild<QPushButton*>("btnStart")->text(), "Start");
    EXPECT_TRUE(Window->findChild<QPushButton*>("btnStart")->isEnabled());
    EXPECT_EQ(Window->findChild<QPushButton*>("btnStop")->text(), "Stop");
    EXPECT_FALSE(Window->findChild<QPushButton*>("btnStop")->isEnabled());
    EXPECT_EQ(Window->findChild<QPushButton*>("Button1")->text(), "...");
    EXPECT_EQ(Window->findChild<QLineEdit*>("txtLogEncoder")->font().family(), "Arial");
    EXPECT_EQ(Window->findChild<QLabel*>("Image1")->pixmap().size(), QSize(97, 23));
    EXPECT_EQ(Window->findChild<QLabel*>("Image1")->cursor().shape(), Qt::PointingHandCursor);

    struct Check {
        const char* Name;
        const char* Caption;
        const char* Hint;
        bool Checked;
    };
    const Check checks[] = {
        {"chkStereo", "Stereo", "Uncheck for mono", true},
        {"chkFLevel", "Fix Levels", "", false},
        {"chkFPP", "Post Processing", "FSPP, applied on the source", false},
        {"chkFResize", "Resize", "", false},
        {"chkDeInt", "Frame", "", false},
        {"chkFDenoise", "Denoise", "", false},
        {"chkFSharpen", "Sharpen", "", false},
        {"chkFSample", "Audio SR", "", false},
    };
    for (const Check& check : checks) {
        auto* box = Window->findChild<QCheckBox*>(check.Name);
        ASSERT_NE(box, nullptr) << check.Name;
        EXPECT_EQ(box->text(), check.Caption);
        EXPECT_EQ(box->toolTip(), check.Hint) << check.Name;
        EXPECT_EQ(box->isChecked(), check.Checked) << check.Name;
    }
    // Each filter's drop-down sits beside its check box, rows in order.
    const char* rows[][2] = {{"chkFResize", "cboFResize"},
                             {"chkDeInt", "cboFDeInt"},
                             {"chkFDenoise", "cboFDenoise"},
                             {"chkFSharpen", "cboFSharpen"},
                             {"chkFSample", "cboFSample"}};
    int lastY = -1;
    for (const auto& row : rows) {
        const QRect check = Window->findChild<QWidget*>(row[0])->geometry();
        const QRect list = Window->findChild<QWidget*>(row[1])->geometry();
        EXPECT_EQ(check.y(), list.y()) << row[1];
        EXPECT_LT(check.right(), list.left()) << row[1];
        EXPECT_GT(check.y(), lastY) << row[0];
        lastY = check.y();
    }
}

TEST_F(NewWindow, SettingsListsHoldTheirItemsAndDefaults) {
    struct List {
        const char* Name;
        const std::vector<std::string>& Items;
        const char* Current;
    };
    const List lists[] = {
        {"cboVSourceType", SettingItems::SourceType, "Anime"},
        {"cboOutput", SettingItems::OutputFormat, "MP4"},
        {"cboVQuality", SettingItems::VideoQuality, "Normal"},
        {"cboAQuality", SettingItems::AudioBitrate, "32 kbps PS"},
        {"cboFResize", SettingItems::ResizeTo, "640:480"},
        {"cboFDeInt", SettingItems::FrameMode, "IVTC"},
        {"cboFDenoise", SettingItems::DenoiseLevel, "Low"},
        {"cboFSharpen", SettingItems::SharpenLevel, "Low"},
        {"cboFSample", SettingItems::ResampleRate, "44 khz"},
    };
    for (const List& list : lists) {
        auto* combo = Window->findChild<QComboBox*>(list.Name);
        ASSERT_NE(combo, nullptr) << list.Name;
        EXPECT_EQ(ItemsOf(combo), Texts(list.Items)) << list.Name;
        EXPECT_EQ(combo->currentText(), list.Current) << list.Name;
        // Only the resize list takes typed text.
        EXPECT_EQ(combo->isEditable(), std::string(list.Name) == "cboFResize") << list.Name;
    }
    EXPECT_EQ(Window->findChild<QLineEdit*>("txtVBitrate")->text(), "268");
    EXPECT_EQ(Window->findChild<QLineEdit*>("txtOutput")->text().toStdString(),
              DefaultOutputFolder());

    EncodeSettings expected;
    expected.OutputFolder = DefaultOutputFolder();
    const EncodeSettings read = Window->CurrentSettings();
    EXPECT_EQ(read.SourceType, expected.SourceType);
    EXPECT_EQ(read.OutputFormat, expected.OutputFormat);
    EXPECT_EQ(read.VideoBitrate, expected.VideoBitrate);
    EXPECT_EQ(read.VideoQuality, expected.VideoQuality);
    EXPECT_EQ(read.AudioBitrate, expected.AudioBitrate);
    EXPECT_EQ(read.Stereo, expected.Stereo);
    EXPECT_EQ(read.ResizeTo, expected.ResizeTo);
    EXPECT_EQ(read.OutputFolder, expected.OutputFolder);
    EXPECT_FALSE(read.FixLevels || read.PostProcessing || read.ResizeOn || read.FrameOn ||
                 read.DenoiseOn || read.SharpenOn || read.ResampleOn);
}

TEST_F(NewWindow, CurrentSettingsReadsEveryWidgetAsItIsNow) {
    auto combo = [this](const char* name) { return Window->findChild<QComboBox*>(name); };
    auto check = [this](const char* name) { return Window->findChild<QCheckBox*>(name); };
    combo("cboVSourceType")->setCurrentIndex(4);
    combo("cboOutput")->setCurrentIndex(1);
    Window->findChild<QLineEdit*>("txtVBitrate")->setText("");
    combo("cboVQuality")->setCurrentIndex(1);
    combo("cboAQuality")->setCurrentIndex(4);
    check("chkStereo")->setChecked(false);
    for (const char* name : {"chkFLevel", "chkFPP", "chkFResize", "chkDeInt", "chkFDenoise",
                             "chkFSharpen", "chkFSample"}) {
        check(name)->setChecked(true);
    }
    combo("cboFResize")->setCurrentText("720:-2");  // typed, not an item
    combo("cboFDeInt")->setCurrentIndex(1);
    combo("cboFDenoise")->setCurrentIndex(2);
    combo("cboFSharpen")->setCurrentIndex(1);
    combo("cboFSample")->setCurrentIndex(1);
    Window->findChild<QLineEdit*>("txtOutput")->setText("/media/out dir");

    const EncodeSettings s = Window->CurrentSettings();
    EXPECT_EQ(s.SourceType, 4);
    EXPECT_EQ(s.OutputFormat, 1);
    EXPECT_EQ(s.VideoBitrate, "");
    EXPECT_EQ(s.VideoQuality, 1);
    EXPECT_EQ(s.AudioBitrate, 4);
    EXPECT_FALSE(s.Stereo);
    EXPECT_TRUE(s.FixLevels && s.PostProcessing && s.ResizeOn && s.FrameOn && s.DenoiseOn &&
                s.SharpenOn && s.ResampleOn);
    EXPECT_EQ(s.ResizeTo, "720:-2");
    EXPECT_EQ(s.FrameMode, 1);
    EXPECT_EQ(s.DenoiseLevel, 2);
    EXPECT_EQ(s.SharpenLevel, 1);
    EXPECT_EQ(s.ResampleRate, 1);
    EXPECT_EQ(s.OutputFolder, "/media/out dir");
}

TEST_F(NewWindow, AboutTabNamesThisPlatformAndTheToolsUsed) {
    EXPECT_EQ(Window->findChild<QLabel*>("lblVersion")->text(), "2007-09-25");
    EXPECT_EQ(Window->findChild<QLabel*>("lblPlatform")->text(), "for Linux");
    EXPECT_TRUE(Window->findChild<QLabel*>("lblPlatform")->font().italic());
    auto* credits = Window->findChild<QPlainTextEdit*>("memCredits");
    ASSERT_NE(credits, nullptr);
    EXPECT_TRUE(credits->isReadOnly());
    const QString text = credits->toPlainText();
    for (const char* section : {"Developer:\n* ", "\n\nThanks to:\n* ", "\n\nBased on:\n* "}) {
        EXPECT_TRUE(text.contains(section)) << section;
    }
    EXPECT_TRUE(text.endsWith(
        "\n\nUsing:\n* mplayer/mencoder\n* Fraunhofer FDK AAC\n* ffmpeg\n* mkvtoolnix"))
        << text.toStdString();
}

TEST_F(NewWindow, MenusHoldTheirItemsInOrder) {
    struct Item {
        const char* Name;
        const char* Caption;  // "-" for a separator
        bool Enabled;
    };
    const std::vector<Item> queueMenu = {
        {"Add1", "Add", true},
        {"N5", "-", true},
        {"Remove1", "Remove", true},
        {"Clearfinished1", "Clear finished", true},
        {"Clearall1", "Clear all", true},
        {"resetstatus1", "Reset status", false},
        {"ResetallStatus1", "Reset all Status", true},
        {"N7", "-", true},
        {"Properties1", "Properties", true},
    };
    const std::vector<Item> logMenu = {
        {"Clear1", "Clear", true},
        {"Showcommandline1", "Show details", true},
        {"N1", "-", true},
        {"Savelogsas1", "Save logs as...", true},
    };
    for (const auto& [menuName, items] :
         {std::pair{"PopupMenu1", queueMenu}, std::pair{"PopupMenu2", logMenu}}) {
        auto* menu = Window->findChild<QMenu*>(menuName);
        ASSERT_NE(menu, nullptr) << menuName;
        const QList<QAction*> actions = menu->actions();
        ASSERT_EQ(actions.size(), static_cast<qsizetype>(items.size())) << menuName;
        for (size_t i = 0; i < items.size(); ++i) {
            const QAction* action = actions[static_cast<qsizetype>(i)];
            EXPECT_EQ(action->objectName(), items[i].Name);
            if (std::string(items[i].Caption) == "-") {
                EXPECT_TRUE(action->isSeparator()) << items[i].Name;
            } else {
                EXPECT_EQ(action->text(), items[i].Caption);
            }
            EXPECT_EQ(action->isEnabled(), items[i].Enabled) << items[i].Name;
        }
    }
    EXPECT_EQ(Window->findChild<QTableWidget*>("lstFiles")->contextMenuPolicy(),
              Qt::CustomContextMenu);
    EXPECT_EQ(Window->findChild<QListWidget*>("lstLog")->contextMenuPolicy(),
              Qt::CustomContextMenu);
}

TEST_F(NewWindow, PropertiesDoesNothing) {
    Window->AddQueueEntry("/v/a.avi");
    Window->findChild<QAction*>("Properties1")->trigger();
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(Window->QueueRowCount(), 3);
}

TEST_F(NewWindow, KnowsItsProgramFolderAndStartsEmpty) {
    EXPECT_EQ(Window->AppDir, QCoreApplication::applicationDirPath().toStdString() + "/");
    EXPECT_TRUE(Window->QueuedPaths.empty());
    EXPECT_TRUE(Window->LastToolOutput.empty());
    EXPECT_FALSE(Window->StopRequested);
    EXPECT_EQ(Window->findChild<QListWidget*>("lstLog")->count(), 0);
    auto* tray = Window->findChild<QSystemTrayIcon*>("TrayIcon1");
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(tray->toolTip(), "Quintaro 6");
    EXPECT_FALSE(tray->icon().isNull());
    EXPECT_EQ(tray->contextMenu(), nullptr);
}
