#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <functional>

#include "../app/AppTestSupport.h"
#include "../batch/BatchFixture.h"

namespace {

// A window whose tool slots are stand-ins, pressed Start on.
class WindowRunTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        Window->AppDir = Tools.AppDir();
        Window->txtOutput->setText(QString::fromStdString(Tools.OutputFolder()));
    }

    bool Progress(const char* text) const { return Window->txtLogEncoder->text() == text; }

    StandInTools Tools;
};

}  // namespace

TEST_F(WindowRunTest, StartEncodesTheQueueAndLogsEachStage) {
    Window->AddQueueEntry(Tools.Source("a.avi"));
    Window->AddQueueEntry(Tools.Source("b.avi"));
    Window->btnStart->click();

    EXPECT_EQ(Statuses(), (std::vector<std::string>{"done", "done", ""}));
    const std::vector<std::string> log = Window->LogLines();
    ASSERT_EQ(log.size(), 14u);
    EXPECT_TRUE(log[0].front() == '[' && EndsWith(log[0], "] Encoding: a.avi")) << log[0];
    EXPECT_TRUE(EndsWith(log[1], "] > Running video analysis... done.")) << log[1];
    EXPECT_TRUE(EndsWith(log[5], "] > Merging audio and video to MP4... done.")) << log[5];
    EXPECT_TRUE(EndsWith(log[13], "] > Finished!")) << log[13];
    EXPECT_TRUE(Eventually([this] { return Progress("Pos:   1.0s     25f (100%)  25 fps"); }))
        << Window->txtLogEncoder->text().toStdString();
    EXPECT_TRUE(Window->btnStart->isEnabled());
    EXPECT_FALSE(Window->btnStop->isEnabled());
    EXPECT_FALSE(Window->RunInProgress);
    EXPECT_TRUE(FileExists(Tools.OutputFolder() + "a.mp4"));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(WindowRunTest, EmptyQueueAndUnwritableFolderLeaveTheButtons) {
    Window->btnStart->click();
    Window->txtOutput->setText(QString::fromStdString(Tools.Root() + "/nowhere"));
    Window->AddQueueEntry(Tools.Source("a.avi"));
    Window->btnStart->click();
    const std::vector<std::string> log = Window->LogLines();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(EndsWith(log[0], "] Nothing to do. Queue is empty!"));
    EXPECT_TRUE(EndsWith(log[1], "] Error: Output folder not writable."));
    EXPECT_TRUE(Window->btnStart->isEnabled());
    EXPECT_FALSE(Window->btnStop->isEnabled());
}

TEST_F(WindowRunTest, StopButtonEndsTheRunAndTheTool) {
    Tools.Behave("mencoder.exe",
                 "case \"$*\" in *pass=2*) progress='second pass'; delay=30.731;; esac");
    Window->AddQueueEntry(Tools.Source("a.avi"));
    Window->AddQueueEntry(Tools.Source("b.avi"));
    bool buttonsDuringRun = false;
    WhenDuringRun([this] { return Progress("second pass"); },
                  [this, &buttonsDuringRun] {
                      buttonsDuringRun =
                          !Window->btnStart->isEnabled() && Window->btnStop->isEnabled();
                      Window->btnStop->click();
                      EXPECT_FALSE(Window->btnStop->isEnabled());
                  });
    Window->btnStart->click();

    EXPECT_TRUE(buttonsDuringRun);
    EXPECT_EQ(Statuses(), (std::vector<std::string>{"ready", "ready", ""}));
    const std::vector<std::string> log = Window->LogLines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_TRUE(EndsWith(log[log.size() - 2], "] > Running video encoding... error #-1"));
    EXPECT_TRUE(EndsWith(log.back(), "] >> Stopped."));
    EXPECT_TRUE(Window->btnStart->isEnabled());
    EXPECT_FALSE(Window->btnStop->isEnabled());
    EXPECT_TRUE(NoProcessWith("sleep 30.731"));
}

TEST_F(WindowRunTest, ClosingDuringARunStopsTheToolThenCloses) {
    Tools.Behave("mencoder.exe", "progress='analysing'; delay=30.732");
    Window->show();
    Window->AddQueueEntry(Tools.Source("a.avi"));
    bool closedAtOnce = true;
    WhenDuringRun([this] { return Progress("analysing"); },
                  [this, &closedAtOnce] { closedAtOnce = Window->close(); });
    Window->btnStart->click();

    EXPECT_FALSE(closedAtOnce);  // the window stays until the run has ended
    EXPECT_FALSE(Window->isVisible());
    EXPECT_FALSE(Window->ClosePending);
    EXPECT_EQ(Statuses(), (std::vector<std::string>{"ready", ""}));
    EXPECT_TRUE(NoProcessWith("sleep 30.732"));
}

TEST_F(WindowRunTest, MissingToolIsReportedInAnErrorBox) {
    unlink((Tools.AppDir() + "mencoder.exe").c_str());
    Window->AddQueueEntry(Tools.Source("a.avi"));
    Window->AddQueueEntry(Tools.Source("b.avi"));
    Window->btnStart->click();
    QElapsedTimer waited;
    waited.start();
    while (Boxes.size() < 2 && waited.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(Boxes[0].Title, "Quintaro 6");
    EXPECT_TRUE(EndsWith(Boxes[0].Text,
                         "bframes=5:frameref=5:threads=auto:b_pyramid:nofast_pskip:"
                         "nopsnr:bitrate=268:pass=1:turbo=2 -vf harddup doesn't "
                         "exist."))
        << Boxes[0].Text;
    EXPECT_EQ(Boxes[0].Text.rfind("\"" + Tools.AppDir() + "mencoder.exe\"", 0), 0u);
    EXPECT_TRUE(EndsWith(Window->LogLines()[1], "] > Running video analysis... error #2"));
    EXPECT_EQ(Statuses(), (std::vector<std::string>{"error", "error", ""}));
}

TEST_F(WindowRunTest, TheRunDoesNotWaitForAnOpenErrorBox) {
    Window->Dialogs.Notice = DefaultNotice;
    unlink((Tools.AppDir() + "mencoder.exe").c_str());
    Window->AddQueueEntry(Tools.Source("a.avi"));
    Window->AddQueueEntry(Tools.Source("b.avi"));
    // Ends only when the run does, with nobody answering the boxes.
    Window->btnStart->click();
    EXPECT_EQ(Statuses(), (std::vector<std::string>{"error", "error", ""}));
    EXPECT_TRUE(Window->btnStart->isEnabled());

    QElapsedTimer waited;
    waited.start();
    QList<QMessageBox*> boxes;
    while (boxes.size() < 2 && waited.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        boxes = Window->findChildren<QMessageBox*>();
    }
    ASSERT_EQ(boxes.size(), 2);
    for (QMessageBox* box : boxes) {
        EXPECT_TRUE(box->isVisible());
        EXPECT_FALSE(box->isModal()) << "Stop and the window stay usable";
        EXPECT_EQ(box->windowTitle(), "Quintaro 6");
        EXPECT_TRUE(box->text().endsWith(" doesn't exist.")) << box->text().toStdString();
        box->close();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Window->findChildren<QMessageBox*>().isEmpty()) << "a closed box is freed";
}

TEST_F(WindowRunTest, TwoWindowsNeverShareAWorkFolder) {
    Tools.Behave("mencoder.exe", "progress='analysing'; delay=30.733");
    Tfmain other;
    other.AppDir = Tools.AppDir();
    other.txtOutput->setText(QString::fromStdString(Tools.OutputFolder()));
    other.Dialogs.MessageBox = Window->Dialogs.MessageBox;
    other.Dialogs.Notice = Window->Dialogs.Notice;
    Window->AddQueueEntry(Tools.Source("a.avi"));
    other.AddQueueEntry(Tools.Source("b.avi"));
    std::vector<std::string> otherLog;
    WhenDuringRun([this] { return Progress("analysing"); },
                  [this, &other, &otherLog] {
                      other.btnStart->click();  // returns at once: the folder is taken
                      otherLog = other.LogLines();
                      Window->btnStop->click();
                  });
    Window->btnStart->click();

    ASSERT_EQ(otherLog.size(), 1u);
    EXPECT_TRUE(EndsWith(otherLog[0], "] Error: Another Quintaro run is using the work folder \"" +
                                          Tools.WorkFolder() +
                                          "\"; start again when it has ended."))
        << otherLog[0];
    EXPECT_EQ(other.RowStatus(1), "ready");
    EXPECT_TRUE(other.btnStart->isEnabled());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Icon, QMessageBox::Critical);

    // Once the first run has ended, the other window's run goes ahead.
    Tools.Behave("mencoder.exe", "");
    other.btnStart->click();
    EXPECT_EQ(other.RowStatus(1), "done");
}

TEST_F(WindowRunTest, StartRightAfterStopNeverMeetsTheStoppedTool) {
    Tools.Behave("mencoder.exe",
                 "case \"$*\" in *pass=2*) echo $$ > \"$STANDIN_DIR/group\"; "
                 "progress='second pass'; delay=30.734;; esac");
    Window->AddQueueEntry(Tools.Source("a.avi"));
    WhenDuringRun([this] { return Progress("second pass"); }, [this] { Window->btnStop->click(); });
    Window->btnStart->click();
    const pid_t stopped = static_cast<pid_t>(std::stol(ReadFile(Tools.Root() + "/group")));
    EXPECT_FALSE(GroupHasLiveMembers(stopped));

    Tools.Behave("mencoder.exe", "");
    Window->btnStart->click();
    EXPECT_EQ(Statuses(), (std::vector<std::string>{"done", ""}));
    EXPECT_FALSE(FileExists(Tools.OutputFolder() + "a (2).mp4"));
    EXPECT_TRUE(FileExists(Tools.OutputFolder() + "a.mp4"));
}
