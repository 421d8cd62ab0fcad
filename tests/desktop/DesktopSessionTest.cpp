// The desktop's services over D-Bus, against a private bus with stand-in services on it.
#include <QDBusUnixFileDescriptor>

#include "../app/AppTestSupport.h"
#include "PrivateBus.h"
#include "app/DesktopSession.h"

TEST(ProgressPercent, ReadsTheToolsPercentage) {
    const std::pair<const char*, int> cases[] = {
        {"Pos:  18.8s    470f (31%) 236.54fps Trem:   0min   1mb  A-V:0.000 [268:0]", 31},
        {"Pos:   0.1s      3f ( 0%)  0.00fps Trem:   0min   0mb", 0},
        {"Pos:   1.0s     25f (100%)  25 fps", 100},
        {"Pos:  12.3s    310f ( 4%)", 4},
        {"Progress: 37%", 37},
        {"37%", 37},
        {"encoding 12.5% done", 12},
        {"AUDIO: 44100 Hz, 2 ch, s16le, 1411.2 kbit/100.00% (ratio: 176400->176400)", -1},
        {"(250%)", -1},
        {"%", -1},
        {"", -1},
        {"Pos: 12.3s 310f", -1},
    };
    for (const auto& [line, percent] : cases) {
        EXPECT_EQ(ProgressPercent(line), percent) << line;
    }
}

namespace {

class Session : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Bus.IsRunning()) << "dbus-daemon could not be started";
        Services = Bus.Connect(QStringLiteral("stand-ins"));
        ASSERT_TRUE(Services.isConnected());
    }

    // A session on the private bus, which stands for both buses.
    std::unique_ptr<DesktopSession> OnTheBus() {
        return std::make_unique<DesktopSession>(Bus.Connect(QStringLiteral("program-session")),
                                                Bus.Connect(QStringLiteral("program-system")));
    }

    PrivateBus Bus;
    QDBusConnection Services{QString()};
};

}  // namespace

TEST_F(Session, NotificationReachesTheService) {
    NotificationStandIn notifications;
    ASSERT_TRUE(notifications.Serve(Services));
    auto desktop = OnTheBus();
    int fallbacks = 0;
    desktop->Notify("Queue finished: 2 done, 1 failed", [&] { ++fallbacks; });
    ASSERT_TRUE(Eventually([&] { return !notifications.Notifications.empty(); }));
    const NotificationStandIn::Shown& shown = notifications.Notifications[0];
    EXPECT_EQ(shown.Summary, "Queue finished: 2 done, 1 failed");
    EXPECT_EQ(shown.App, "Quintaro");
    EXPECT_EQ(shown.Icon, "org.quintaro.Quintaro");
    EXPECT_EQ(shown.Hints.value("desktop-entry").toString(), "org.quintaro.Quintaro");
    EXPECT_EQ(shown.Timeout, -1);
    QTest::qWait(50);  // the answer comes back
    EXPECT_EQ(fallbacks, 0);
    EXPECT_EQ(notifications.Notifications.size(), 1u);
}

TEST_F(Session, WithoutANotificationServiceTheFallbackRuns) {
    auto desktop = OnTheBus();
    int fallbacks = 0;
    desktop->Notify("Queue finished: 1 done, 0 failed", [&] { ++fallbacks; });
    ASSERT_TRUE(Eventually([&] { return fallbacks > 0; }));
    QTest::qWait(50);
    EXPECT_EQ(fallbacks, 1);
}

TEST_F(Session, WithoutABusNothingFails) {
    DesktopSession desktop(NoBus(), NoBus());
    int fallbacks = 0;
    desktop.Notify("Queue finished: 1 done, 0 failed", [&] { ++fallbacks; });
    EXPECT_EQ(fallbacks, 0) << "the fallback comes later, never inside the call";
    ASSERT_TRUE(Eventually([&] { return fallbacks == 1; }));
    desktop.InhibitSleep("Encoding the queue");
    desktop.SetLauncherProgress(40);
    QTest::qWait(20);
    EXPECT_FALSE(desktop.HoldsSleepInhibitor());
    desktop.ReleaseSleep();
    desktop.SetLauncherProgress(-1);
}

TEST_F(Session, SleepInhibitorIsHeldUntilReleased) {
    LoginStandIn login;
    ASSERT_TRUE(login.Serve(Services));
    auto desktop = OnTheBus();
    desktop->InhibitSleep("Encoding the queue");
    desktop->InhibitSleep("Encoding the queue");  // already asked for: no second inhibitor
    ASSERT_TRUE(Eventually([&] { return desktop->HoldsSleepInhibitor(); }));
    ASSERT_EQ(login.Calls.size(), 1u);
    EXPECT_EQ(login.Calls[0],
              (QStringList{"sleep:idle", "Quintaro", "Encoding the queue", "block"}));
    QTest::qWait(50);
    EXPECT_FALSE(login.Released(0)) << "held while the run goes on";

    desktop->ReleaseSleep();
    EXPECT_FALSE(desktop->HoldsSleepInhibitor());
    EXPECT_TRUE(Eventually([&] { return login.Released(0); }));

    // A new run takes a new one.
    desktop->InhibitSleep("Encoding the queue");
    ASSERT_TRUE(Eventually([&] { return desktop->HoldsSleepInhibitor(); }));
    EXPECT_EQ(login.Calls.size(), 2u);
    desktop.reset();  // a window that goes away lets go too
    EXPECT_TRUE(Eventually([&] { return login.Released(1); }));
}

TEST_F(Session, InhibitorArrivingAfterTheRunIsLetGo) {
    LoginStandIn login;
    ASSERT_TRUE(login.Serve(Services));
    auto desktop = OnTheBus();
    // The run ends before logind has answered.
    desktop->InhibitSleep("Encoding the queue");
    desktop->ReleaseSleep();
    ASSERT_TRUE(Eventually([&] { return login.Calls.size() == 1; }));
    EXPECT_TRUE(Eventually([&] { return login.Released(0); }));
    EXPECT_FALSE(desktop->HoldsSleepInhibitor());
}

TEST_F(Session, WithoutLogindThereIsNoInhibitorAndNoError) {
    auto desktop = OnTheBus();
    desktop->InhibitSleep("Encoding the queue");
    QTest::qWait(100);
    EXPECT_FALSE(desktop->HoldsSleepInhibitor());
    desktop->ReleaseSleep();
}

TEST_F(Session, LauncherEntryShowsProgressWhenItChanges) {
    LauncherListener launcher;
    ASSERT_TRUE(launcher.Listen(Services));
    auto desktop = OnTheBus();
    desktop->SetLauncherProgress(0);
    desktop->SetLauncherProgress(31);
    desktop->SetLauncherProgress(31);  // unchanged: not sent again
    desktop->SetLauncherProgress(-1);
    ASSERT_TRUE(Eventually([&] { return launcher.Updates.size() >= 3; }));
    QTest::qWait(50);
    ASSERT_EQ(launcher.Updates.size(), 3u);
    for (const LauncherListener::Update& update : launcher.Updates) {
        EXPECT_EQ(update.Uri, "application://org.quintaro.Quintaro.desktop");
    }
    EXPECT_DOUBLE_EQ(launcher.Updates[1].Properties.value("progress").toDouble(), 0.31);
    EXPECT_TRUE(launcher.Updates[1].Properties.value("progress-visible").toBool());
    EXPECT_FALSE(launcher.Updates[2].Properties.value("progress-visible").toBool());
}
