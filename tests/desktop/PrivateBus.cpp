#include "PrivateBus.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>

namespace {

// A session bus with no service directories: nothing of the machine's is started on it.
constexpr char kConfig[] = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

}  // namespace

PrivateBus::PrivateBus() {
    if (!dir_.isValid()) {
        return;
    }
    const QString config = dir_.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        return;
    }
    file.write(QString::fromLatin1(kConfig).arg(dir_.path()).toUtf8());
    file.close();
    daemon_.setProgram(QStringLiteral("dbus-daemon"));
    daemon_.setArguments({QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                          QStringLiteral("--print-address")});
    // As root it says it could not raise its descriptor limit, which a test bus does not need.
    daemon_.setStandardErrorFile(QProcess::nullDevice());
    daemon_.start();
    if (!daemon_.waitForStarted(10000)) {
        return;
    }
    QByteArray printed;
    QElapsedTimer waited;
    waited.start();
    while (!printed.contains('\n') && waited.elapsed() < 10000) {
        daemon_.waitForReadyRead(1000);
        printed += daemon_.readAllStandardOutput();
    }
    address_ = QString::fromUtf8(printed.left(printed.indexOf('\n')).trimmed());
}

PrivateBus::~PrivateBus() {
    for (const QString& name : connections_) {
        QDBusConnection::disconnectFromBus(name);
    }
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.kill();
        daemon_.waitForFinished(10000);
    }
}

QDBusConnection PrivateBus::Connect(const QString& name) {
    connections_ << name;
    return QDBusConnection::connectToBus(address_, name);
}

QDBusConnection NoBus() {
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/quintaro-no-bus"),
                                         QStringLiteral("no-bus"));
}

bool NotificationStandIn::Serve(QDBusConnection connection) {
    return connection.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                     QDBusConnection::ExportAllSlots) &&
           connection.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

uint NotificationStandIn::Notify(const QString& app, uint, const QString& icon,
                                 const QString& summary, const QString& body, const QStringList&,
                                 const QVariantMap& hints, int timeout) {
    Notifications.push_back({app, icon, summary, body, hints, timeout});
    return static_cast<uint>(Notifications.size());
}

LoginStandIn::~LoginStandIn() {
    for (int fd : readEnds_) {
        close(fd);
    }
}

bool LoginStandIn::Serve(QDBusConnection connection) {
    return connection.registerObject(QStringLiteral("/org/freedesktop/login1"), this,
                                     QDBusConnection::ExportAllSlots) &&
           connection.registerService(QStringLiteral("org.freedesktop.login1"));
}

QDBusUnixFileDescriptor LoginStandIn::Inhibit(const QString& what, const QString& who,
                                              const QString& why, const QString& mode) {
    Calls.push_back({what, who, why, mode});
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return {};
    }
    readEnds_.push_back(ends[0]);
    QDBusUnixFileDescriptor inhibitor(ends[1]);  // a copy of its own
    close(ends[1]);
    return inhibitor;
}

bool LoginStandIn::Released(size_t i) const {
    if (i >= readEnds_.size()) {
        return false;
    }
    pollfd end{readEnds_[i], POLLIN, 0};
    return poll(&end, 1, 0) == 1 && (end.revents & POLLHUP) != 0;
}

bool LauncherListener::Listen(QDBusConnection connection) {
    return connection.connect(QString(), QString(),
                              QStringLiteral("com.canonical.Unity.LauncherEntry"),
                              QStringLiteral("Update"), this, SLOT(Updated(QString, QVariantMap)));
}

void LauncherListener::Updated(const QString& uri, const QVariantMap& properties) {
    Updates.push_back({uri, properties});
}
