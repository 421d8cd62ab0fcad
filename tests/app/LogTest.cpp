// The activity log: time stamps in the locale's format, appending, its menu, saving.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QHelpEvent>
#include <QListWidget>
#include <QRegularExpression>
#include <QScrollBar>
#include <QToolTip>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "AppTestSupport.h"
#include "app/LogText.h"

namespace {

// Switches LC_TIME for one test and back.
class TimeLocale {
  public:
    explicit TimeLocale(const char* name) : previous_(std::setlocale(LC_TIME, nullptr)) {
        ok_ = std::setlocale(LC_TIME, name) != nullptr;
    }
    ~TimeLocale() { std::setlocale(LC_TIME, previous_.c_str()); }
    bool ok() const { return ok_; }

  private:
    std::string previous_;
    bool ok_ = false;
};

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

using Log = WindowTest;

}  // namespace

TEST(LogTime, FollowsTheLocaleTimeFormat) {
    struct Case {
        const char* Locale;
        int Hour;
        const char* Expected;
    };
    const Case cases[] = {
        {"en_GB.UTF-8", 9, "09:05:03"},
        {"en_GB.UTF-8", 21, "21:05:03"},
        {"en_US.UTF-8", 9, "09:05:03 AM"},
        {"en_US.UTF-8", 21, "09:05:03 PM"},
    };
    for (const Case& c : cases) {
        TimeLocale locale(c.Locale);
        ASSERT_TRUE(locale.ok()) << c.Locale << " is missing: run scripts/setup.sh";
        std::tm time{};
        time.tm_hour = c.Hour;
        time.tm_min = 5;
        time.tm_sec = 3;
        EXPECT_EQ(FormatLogTime(time), c.Expected) << c.Locale;
    }
}

TEST_F(Log, LogLineStampsAndSelectsTheNewLine) {
    struct Case {
        const char* Locale;
        const char* Pattern;
    };
    const Case cases[] = {
        {"en_GB.UTF-8", R"(^\[\d\d:\d\d:\d\d\] Encoding: a\.avi$)"},
        {"en_US.UTF-8", R"(^\[\d\d:\d\d:\d\d (AM|PM)\] Encoding: a\.avi$)"},
    };
    for (const Case& c : cases) {
        TimeLocale locale(c.Locale);
        ASSERT_TRUE(locale.ok()) << c.Locale << " is missing: run scripts/setup.sh";
        Window->LogLine("first");
        Window->LogLine("Encoding: a.avi");
        const std::vector<std::string> lines = Window->LogLines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_TRUE(
            QRegularExpression(c.Pattern).match(QString::fromStdString(lines[1])).hasMatch())
            << lines[1];
        EXPECT_EQ(Window->lstLog->currentRow(), 1);
        Window->Clear1Click();
    }
}

TEST_F(Log, LogAppendExtendsTheLastLineAndKeepsTheSelection) {
    Window->LogLine("Analysis pass...");
    Window->LogLine("Encoding pass...");
    Window->lstLog->setCurrentRow(0);
    Window->LogAppend("done.");
    Window->LogAppend("error # -2");
    const std::vector<std::string> lines = Window->LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[1].ends_with("] Encoding pass... done. error # -2")) << lines[1];
    EXPECT_TRUE(lines[0].ends_with("] Analysis pass...")) << lines[0];
    EXPECT_EQ(Window->lstLog->currentRow(), 0);
}

TEST_F(Log, LogAppendOnAnEmptyLogStartsALine) {
    Window->LogAppend("done.");
    EXPECT_EQ(Window->LogLines(), std::vector<std::string>{"done."});
}

TEST_F(Log, LongLinesCanBeReadWhole) {
    QListWidget* log = Window->lstLog;
    QScrollBar* sideways = log->horizontalScrollBar();
    Window->show();
    Window->LogLine("Encoding: a.avi");
    log->doItemsLayout();
    QCoreApplication::processEvents();
    EXPECT_EQ(sideways->maximum(), 0) << "short lines need no scrolling";

    Window->LogLine("> dvdout.mkv was written earlier in this run by another entry");
    Window->LogAppend("error #17 and a reason that runs far past the right edge of the list");
    const std::string line = Window->LogLines()[1];
    // The list scrolls sideways far enough to show the line's end.
    ASSERT_TRUE(Eventually([&] { return sideways->isVisible() && sideways->maximum() > 0; }));
    sideways->setValue(sideways->maximum());
    const QRect shown = log->visualItemRect(log->item(1));
    const int textWidth = log->fontMetrics().horizontalAdvance(QString::fromStdString(line));
    EXPECT_GE(shown.width(), textWidth);
    EXPECT_LE(shown.right(), log->viewport()->width());

    // Resting the pointer on a line shows the whole line.
    for (int row : {0, 1}) {
        sideways->setValue(0);
        const QPoint at = log->visualItemRect(log->item(row)).center();
        QHelpEvent help(QEvent::ToolTip, at, log->viewport()->mapToGlobal(at));
        QApplication::sendEvent(log->viewport(), &help);
        EXPECT_EQ(QToolTip::text().toStdString(), Window->LogLines()[row]);
        QToolTip::hideText();
    }
}

TEST_F(Log, ClearAndShowDetails) {
    Window->LogLine("one");
    Window->findChild<QAction*>("Clear1")->trigger();
    EXPECT_EQ(Window->findChild<QListWidget*>("lstLog")->count(), 0);
    Window->findChild<QAction*>("Showcommandline1")->trigger();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "in dev...");
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::NoIcon);
    EXPECT_EQ(Boxes[0].Title, "Quintaro 6");
}

TEST_F(Log, SaveWritesEightBitLinesEndedByCrLf) {
    const std::string path = TempPath("log.txt");
    Window->Dialogs.SaveFile = [&] { return QString::fromStdString(path); };
    QAction* save = Window->findChild<QAction*>("Savelogsas1");

    save->trigger();  // empty log
    EXPECT_EQ(ReadBytes(path), "");
    ASSERT_TRUE(QFile::exists(QString::fromStdString(path)));

    // Bytes that are not UTF-8 (a Latin-1 file name) come back unchanged.
    Window->LogLine("Encoding: caf\xe9.avi");
    Window->LogAppend("done.");
    Window->LogLine("> Finished!");
    const std::vector<std::string> lines = Window->LogLines();
    save->trigger();
    EXPECT_EQ(ReadBytes(path), lines[0] + "\r\n" + lines[1] + "\r\n");
    EXPECT_TRUE(lines[0].ends_with("] Encoding: caf\xe9.avi done."));

    // A shorter log replaces a longer file entirely.
    Window->Clear1Click();
    Window->LogAppend("x");
    save->trigger();
    EXPECT_EQ(ReadBytes(path), "x\r\n");
    EXPECT_TRUE(Boxes.empty());

    Window->Dialogs.SaveFile = [] { return QString(); };  // Cancel
    save->trigger();
    EXPECT_EQ(ReadBytes(path), "x\r\n");
}

TEST_F(Log, SaveThatCannotCreateTheFileReportsIt) {
    const std::string path = TempPath("no such folder/log.txt");
    Window->Dialogs.SaveFile = [&] { return QString::fromStdString(path); };
    Window->LogLine("kept");
    Window->findChild<QAction*>("Savelogsas1")->trigger();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Cannot create file \"" + path + "\". No such file or directory.");
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Window->LogLines().size(), 1u);
}

TEST_F(Log, SaveThatCannotWriteLeavesTheOldFileWhole) {
    const std::string path = TempPath("kept.txt");
    { std::ofstream(path) << "the old log\r\n"; }
    chmod(path.c_str(), 0640);
    Window->Dialogs.SaveFile = [&] { return QString::fromStdString(path); };
    for (int i = 0; i < 2000; ++i) {
        Window->LogLine("a line of the log that is long enough to need some room on the disk");
    }
    // The disk fills up after 16 KiB: writes past it fail as they would on a full disk.
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    const struct rlimit small = {16384, saved.rlim_max};
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    Window->findChild<QAction*>("Savelogsas1")->trigger();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Cannot write file \"" + path + "\". File too large.");
    EXPECT_EQ(ReadBytes(path), "the old log\r\n");
    // Nothing is left beside it, and a save that works keeps the file's permissions.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(TempPath("")),
                            std::filesystem::directory_iterator{}),
              1);
    Window->Clear1Click();
    Window->LogAppend("new");
    Window->findChild<QAction*>("Savelogsas1")->trigger();
    EXPECT_EQ(ReadBytes(path), "new\r\n");
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(ErrorBox, AddsAPeriodOnlyAfterCharactersSortingAfterIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"Stream write error", "Stream write error."},
        {"Already ends.", "Already ends."},
        {"List index out of bounds (0)", "List index out of bounds (0)"},
        {"Question?", "Question?."},
        {"dash-", "dash-"},
        {"", ""},
    };
    for (const auto& [message, shown] : cases) {
        EXPECT_EQ(ErrorBoxText(message), shown);
    }
}
