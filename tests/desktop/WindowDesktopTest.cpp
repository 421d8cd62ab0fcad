// A run of the real window, offscreen, with stand-in tools and a private bus: the machine is kept
// awake during the run, the launcher entry follows the tool's percentage, and a finished queue
// is told to the user.
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <fstream>

#include "../app/AppTestSupport.h"
#include "../batch/BatchFixture.h"
#include "PrivateBus.h"
#include "app/DesktopSession.h"

namespace {

class RunOnTheDesktop : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(Bus.IsRunning()) << "dbus-daemon could not be started";
        Services = Bus.Connect(QStringLiteral("stand-ins"));
        ASSERT_TRUE(login.Serve(Services));
        ASSERT_TRUE(launcher.Listen(Services));
        Window->Desktop =
            std::make_unique<DesktopSession>(Bus.Connect(QStringLiteral("window-session")),
                                             Bus.Connect(QStringLiteral("window-system")));
        Window->AppDir = Tools.AppDir();
        Window->txtOutput->setText(QString::fromStdString(Tools.OutputFolder()));
        Window->TrayMessage = [this](const QString& text) {
            TrayMessages.push_back(text.toStdString());
        };
    }

    // The encoding pass shows its percentage and then waits until the test lets it go on.
    void HoldTheEncodingPass() {
        Tools.Behave("mencoder.exe",
                     "case \"$*\" in *pass=2*)"
                     " printf 'Pos:  18.8s    470f (42%%) 236.54fps Trem: 0min\\n';"
                     " while [ ! -e \"$dir/go\" ]; do sleep 0.02; done;; esac");
    }
    void LetTheEncodingPassGoOn() { std::ofstream(Tools.Root() + "/go") << "go"; }

    double LastProgress() const {
        return launcher.Updates.empty()
                   ? -1
                   : launcher.Updates.back().Properties.value("progress").toDouble();
    }
    bool ProgressVisible() const {
        return !launcher.Updates.empty() &&
               launcher.Updates.back().Properties.value("progress-visible").toBool();
    }

    PrivateBus Bus;
    QDBusConnection Services{QString()};
    LoginStandIn login;
    LauncherListener launcher;
    StandInTools Tools;
    std::vector<std::string> TrayMessages;
};

}  // namespace

TEST_F(RunOnTheDesktop, FinishedQueueIsNotifiedAndTheMachineKeptAwakeMeanwhile) {
    NotificationStandIn notifications;
    ASSERT_TRUE(notifications.Serve(Services));
    HoldTheEncodingPass();
    Window->AddQueueEntry(Tools.Source("a.avi"));
    Window->AddQueueEntry(Tools.Source("b.avi"));
    Tools.Behave("MP4Box.exe", "case \"$*\" in *b.mp4*) code=1;; esac");  // b fails
    bool heldDuringRun = false;
    bool progressDuringRun = false;
    WhenDuringRun(
        [this] { return Window->Desktop->HoldsSleepInhibitor() && LastProgress() == 0.42; },
        [&] {
            heldDuringRun = !login.Released(0);
            progressDuringRun = ProgressVisible();
            LetTheEncodingPassGoOn();
        });
    Window->btnStart->click();

    EXPECT_EQ(Statuses(), (std::vector<std::string>{"done", "error", ""}));
    EXPECT_TRUE(heldDuringRun);
    EXPECT_TRUE(progressDuringRun);
    ASSERT_EQ(login.Calls.size(), 1u) << "one inhibitor for the whole run";
    EXPECT_EQ(login.Calls[0][0], "sleep:idle");
    EXPECT_EQ(login.Calls[0][3], "block");
    EXPECT_TRUE(Eventually([this] { return login.Released(0); })) << "let go when the run ends";
    ASSERT_TRUE(Eventually([&] { return !notifications.Notifications.empty(); }));
    EXPECT_EQ(notifications.Notifications[0].Summary, "Queue finished: 1 done, 1 failed");
    EXPECT_TRUE(Eventually([this] { return !ProgressVisible(); })) << "the launcher is cleared";
    EXPECT_TRUE(TrayMessages.empty());
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(RunOnTheDesktop, StoppedRunIsNotNotified) {
    NotificationStandIn notifications;
    ASSERT_TRUE(notifications.Serve(Services));
    HoldTheEncodingPass();
    Window->AddQueueEntry(Tools.Source("a.avi"));
    WhenDuringRun([this] { return Window->Desktop->HoldsSleepInhibitor(); },
                  [this] {
                      Window->btnStop->click();
                      LetTheEncodingPassGoOn();
                  });
    Window->btnStart->click();

    EXPECT_EQ(Statuses(), (std::vector<std::string>{"ready", ""}));
    EXPECT_TRUE(Eventually([this] { return login.Released(0); }));
    EXPECT_TRUE(Eventually([this] { return !ProgressVisible(); }));
    QTest::qWait(100);
    EXPECT_TRUE(notifications.Notifications.empty());
    EXPECT_TRUE(TrayMessages.empty());
}

TEST_F(RunOnTheDesktop, WithoutANotificationServiceTheTrayTells) {
    Window->AddQueueEntry(Tools.Source("a.avi"));
    Window->NotificationAreaAvailable = [] { return true; };
    Window->btnStart->click();
    ASSERT_TRUE(Eventually([this] { return !TrayMessages.empty(); }));
    EXPECT_EQ(TrayMessages, std::vector<std::string>{"Queue finished: 1 done, 0 failed"});

    // Neither a service nor a notification area: nothing, and no box.
    TrayMessages.clear();
    Window->NotificationAreaAvailable = [] { return false; };
    Window->ResetallStatus1Click();
    Window->btnStart->click();
    QTest::qWait(100);
    EXPECT_TRUE(TrayMessages.empty());
    EXPECT_EQ(Statuses(), (std::vector<std::string>{"done", ""}));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(RunOnTheDesktop, WithoutAnyBusTheRunGoesOnAsBefore) {
    Window->Desktop = std::make_unique<DesktopSession>(NoBus(), NoBus());
    Window->NotificationAreaAvailable = [] { return true; };
    Window->AddQueueEntry(Tools.Source("a.avi"));
    Window->btnStart->click();
    EXPECT_EQ(Statuses(), (std::vector<std::string>{"done", ""}));
    EXPECT_FALSE(Window->Desktop->HoldsSleepInhibitor());
    EXPECT_TRUE(login.Calls.empty());
    ASSERT_TRUE(Eventually([this] { return !TrayMessages.empty(); }));
    EXPECT_EQ(TrayMessages[0], "Queue finished: 1 done, 0 failed");
    EXPECT_TRUE(Boxes.empty());
}
