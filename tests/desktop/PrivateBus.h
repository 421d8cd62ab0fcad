#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>
#include <vector>

// A dbus-daemon of the test's own, with no services but the ones the test puts on it: it
// stands for the session bus and for the system bus alike.
class PrivateBus {
  public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool IsRunning() const { return !address_.isEmpty(); }
    QString Address() const { return address_; }
    // A new connection of its own to the bus.
    QDBusConnection Connect(const QString& name);

  private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
    QStringList connections_;
};

// A connection that reaches no bus: what the program sees without one.
QDBusConnection NoBus();

// org.freedesktop.Notifications as a desktop offers it; records each notification.
class NotificationStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

  public:
    struct Shown {
        QString App;
        QString Icon;
        QString Summary;
        QString Body;
        QVariantMap Hints;
        int Timeout;
    };
    std::vector<Shown> Notifications;

    // Puts the service on the connection.
    bool Serve(QDBusConnection connection);

  public slots:
    uint Notify(const QString& app, uint replacesId, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int timeout);
};

// org.freedesktop.login1's Inhibit: each inhibitor is a pipe whose write end goes to the
// caller; the read end shows whether the caller still holds it.
class LoginStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

  public:
    ~LoginStandIn() override;
    std::vector<QStringList> Calls;  // what, who, why, mode

    bool Serve(QDBusConnection connection);
    // Whether every copy of inhibitor i's descriptor has been closed.
    bool Released(size_t i) const;

  public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode);

  private:
    std::vector<int> readEnds_;
};

// Hears the launcher entry's Update signals.
class LauncherListener : public QObject {
    Q_OBJECT

  public:
    struct Update {
        QString Uri;
        QVariantMap Properties;
    };
    std::vector<Update> Updates;

    bool Listen(QDBusConnection connection);

  public slots:
    void Updated(const QString& uri, const QVariantMap& properties);
};
