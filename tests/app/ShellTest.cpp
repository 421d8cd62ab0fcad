// Buttons, the output folder, tray, session end, closing, and errors from other threads.
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QThread>
#include <thread>

#include "AppTestSupport.h"

using Shell = WindowTest;

TEST_F(Shell, StopSetsTheFlagAndDisablesItself) {
    auto* stop = Window->findChild<QPushButton*>("btnStop");
    stop->setEnabled(true);
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_TRUE(Window->StopRequested);
    EXPECT_FALSE(stop->isEnabled());
}

TEST_F(Shell, BrowseStartsAtTheCurrentFolderAndFillsTheOutputField) {
    auto* output = Window->findChild<QLineEdit*>("txtOutput");
    output->setText("/somewhere/else");
    QString startedAt;
    Window->Dialogs.SelectFolder = [&](const QString& start) {
        startedAt = start;
        return QString();  // Cancel
    };
    QTest::mouseClick(Window->findChild<QPushButton*>("Button1"), Qt::LeftButton);
    EXPECT_EQ(startedAt, QDir::currentPath());
    EXPECT_EQ(output->text(), "/somewhere/else");

    Window->Dialogs.SelectFolder = [](const QString&) { return QStringLiteral("/media/videos"); };
    QTest::mouseClick(Window->findChild<QPushButton*>("Button1"), Qt::LeftButton);
    EXPECT_EQ(output->text(), "/media/videos");
    EXPECT_EQ(Window->CurrentSettings().OutputFolder, "/media/videos");
}

TEST_F(Shell, ProgressTextShowsTheToolsLatestLineFromItsStart) {
    auto* progress = Window->findChild<QLineEdit*>("txtLogEncoder");
    Window->show();
    Window->SetProgressText("Pos:  12.3s    310f ( 4%)");
    EXPECT_EQ(progress->text(), "Pos:  12.3s    310f ( 4%)");

    // Lines that come faster than anyone reads are taken in a few times a second; the latest
    // is the one that stays. Far wider than the field, it is shown from its beginning.
    const std::string longLine =
        "Pos:  41.2s   1030f (12%)  24.93fps Trem:   2min  13mb  A-V:0.000 [268:0] "
        "with a tail that the field cannot hold";
    int changes = 0;
    QObject::connect(progress, &QLineEdit::textChanged, [&changes] { ++changes; });
    for (int frame = 311; frame < 361; ++frame) {
        Window->SetProgressText("Pos:  12.4s    " + std::to_string(frame) + "f ( 4%)");
    }
    Window->SetProgressText(longLine);
    ASSERT_TRUE(Eventually([&] { return progress->text().toStdString() == longLine; }));
    EXPECT_LE(changes, 2);
    EXPECT_EQ(progress->cursorPosition(), 0);

    // A later line is not lost to a quiet spell either.
    QTest::qWait(150);
    Window->SetProgressText("Pos:  41.3s   1031f (12%)");
    EXPECT_EQ(progress->text(), "Pos:  41.3s   1031f (12%)");
}

TEST_F(Shell, MinimizeHidesToTheTrayAndAClickBringsItBack) {
    Window->NotificationAreaAvailable = [] { return true; };
    Window->show();
    Window->showMinimized();
    ASSERT_TRUE(Eventually([this] { return !Window->isVisible(); }));
    auto* tray = Window->findChild<QSystemTrayIcon*>("TrayIcon1");
    emit tray->activated(QSystemTrayIcon::Context);  // a right click does nothing
    QCoreApplication::processEvents();
    EXPECT_FALSE(Window->isVisible());
    emit tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(Window->isVisible());
    EXPECT_FALSE(Window->isMinimized());
}

TEST_F(Shell, WithoutANotificationAreaMinimizeNeverHides) {
    Window->NotificationAreaAvailable = [] { return false; };
    Window->show();
    Window->showMinimized();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(Window->isVisible());
    EXPECT_TRUE(Window->isMinimized());
}

TEST_F(Shell, SessionEndAsksAndHonoursTheAnswer) {
    for (const auto& [answer, mayEnd] :
         {std::pair{QMessageBox::Yes, true}, std::pair{QMessageBox::No, false}}) {
        Boxes.clear();
        NextAnswer = answer;
        EXPECT_EQ(Window->ConfirmSessionEnd(), mayEnd);
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].Text, "Close Windows ?");
        EXPECT_EQ(Boxes[0].Title, "Confirm");
        EXPECT_EQ(Boxes[0].Icon, QMessageBox::Question);
        EXPECT_EQ(Boxes[0].Buttons, QMessageBox::Yes | QMessageBox::No);
    }
}

TEST_F(Shell, SessionManagerGetsTheAnswer) {
    struct FakeRequest : Tfmain::SessionEndRequest {
        bool allows = true;
        std::string said;
        bool AllowsInteraction() override { return allows; }
        void Release() override { said += "release"; }
        void Cancel() override { said += "cancel"; }
    };
    struct Case {
        bool allows;
        QMessageBox::StandardButton answer;
        const char* said;
        size_t questions;
    };
    const Case cases[] = {
        {true, QMessageBox::Yes, "release", 1},
        {true, QMessageBox::No, "cancel", 1},
        {false, QMessageBox::No, "", 0},  // no question may be asked: the session just ends
    };
    for (const Case& c : cases) {
        Boxes.clear();
        NextAnswer = c.answer;
        FakeRequest request;
        request.allows = c.allows;
        Window->AnswerSessionEnd(request);
        EXPECT_EQ(request.said, c.said);
        EXPECT_EQ(Boxes.size(), c.questions);
    }
}

TEST_F(Shell, ClosingDuringARunAsksTheRunToStopFirst) {
    Window->show();
    Window->RunInProgress = true;
    EXPECT_FALSE(Window->close());
    EXPECT_TRUE(Window->isVisible());
    EXPECT_TRUE(Window->StopRequested);
    EXPECT_TRUE(Window->ClosePending);

    Window->RunInProgress = false;  // the run has ended and closes again
    EXPECT_TRUE(Window->close());
    EXPECT_FALSE(Window->isVisible());
}

TEST_F(Shell, ErrorsFromAnotherThreadAreShownOnTheWindowsThread) {
    QThread* shownOn = nullptr;
    Window->Dialogs.MessageBox = [&](QMessageBox::Icon, const QString&, const QString& text,
                                     QMessageBox::StandardButtons) {
        shownOn = QThread::currentThread();
        Boxes.push_back({QMessageBox::Critical, "", text.toStdString(), QMessageBox::Ok});
        return QMessageBox::Ok;
    };
    std::thread worker([this] { Window->ShowError("Pipe broken"); });
    worker.join();
    ASSERT_TRUE(Eventually([this] { return !Boxes.empty(); }));
    EXPECT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(shownOn, Window->thread());
    EXPECT_EQ(Boxes[0].Text, "Pipe broken.");
}
