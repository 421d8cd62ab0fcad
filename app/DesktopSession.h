#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>

// The percentage a tool's progress line shows, as in "470f (31%)" or "Progress: 37%": the first
// number from 0 to 100 followed by "%" that starts the line or follows a blank or "(". -1 when
// the line shows none.
int ProgressPercent(const std::string& line);

// What the program asks of the user's desktop over D-Bus: a notification, keeping the machine
// awake during a run, and the run's progress on the program's launcher entry. Every request is
// asynchronous, so a slow or missing service never holds up the window. Without a bus, or
// without the service on it, a request quietly does nothing; a notification then goes to the
// fallback given with it.
class DesktopSession : public QObject {
    Q_OBJECT

  public:
    // The buses of this session and of the system, connected when first needed.
    explicit DesktopSession(QObject* parent = nullptr);
    // Given buses; a connection that is not connected stands for a missing bus.
    DesktopSession(const QDBusConnection& sessionBus, const QDBusConnection& systemBus,
                   QObject* parent = nullptr);
    ~DesktopSession() override;

    // A notification through org.freedesktop.Notifications; fallback runs (later, on this
    // thread) when no notification service takes it.
    void Notify(const QString& summary, std::function<void()> fallback);

    // Asks logind for a "sleep:idle" block inhibitor and holds it until ReleaseSleep. Asking
    // again while one is held or asked for changes nothing.
    void InhibitSleep(const QString& why);
    void ReleaseSleep();
    // Whether logind's inhibitor descriptor has arrived and is held now.
    bool HoldsSleepInhibitor() const;

    // The progress shown on the launcher entry (com.canonical.Unity.LauncherEntry), 0 to 100;
    // -1 hides it. Sent only when it changes.
    void SetLauncherProgress(int percent);

  private:
    QDBusConnection SessionBus();
    QDBusConnection SystemBus();

    std::optional<QDBusConnection> sessionBus_;
    std::optional<QDBusConnection> systemBus_;
    // Counts the inhibitor requests, so that an answer arriving after its release is dropped.
    unsigned inhibitRequest_ = 0;
    bool sleepWanted_ = false;
    QDBusUnixFileDescriptor sleepInhibitor_;
    int launcherPercent_ = -1;
};
