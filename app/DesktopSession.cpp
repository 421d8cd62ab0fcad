#include "app/DesktopSession.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <cctype>
#include <cstdlib>

#include "app/ApplicationId.h"

namespace {

// D-Bus's own default is 25 s; a service that has not answered by then is not coming.
constexpr int kCallTimeoutMs = 10000;

QString LauncherEntryUri() {
    return QStringLiteral("application://") + ApplicationId() + QStringLiteral(".desktop");
}

}  // namespace

int ProgressPercent(const std::string& line) {
    for (size_t percent = line.find('%'); percent != std::string::npos;
         percent = line.find('%', percent + 1)) {
        size_t start = percent;
        bool dot = false;
        while (start > 0) {
            const char c = line[start - 1];
            if (std::isdigit(static_cast<unsigned char>(c))) {
                --start;
            } else if (c == '.' && !dot) {
                dot = true;
                --start;
            } else {
                break;
            }
        }
        if (start == percent || !std::isdigit(static_cast<unsigned char>(line[start]))) {
            continue;
        }
        if (start > 0 && line[start - 1] != ' ' && line[start - 1] != '(') {
            continue;  // "kbit/100.00%" is a rate, not progress
        }
        const double value = std::strtod(line.substr(start, percent - start).c_str(), nullptr);
        if (value >= 0 && value <= 100) {
            return static_cast<int>(value);
        }
    }
    return -1;
}

DesktopSession::DesktopSession(QObject* parent) : QObject(parent) {}

DesktopSession::DesktopSession(const QDBusConnection& sessionBus, const QDBusConnection& systemBus,
                               QObject* parent)
    : QObject(parent), sessionBus_(sessionBus), systemBus_(systemBus) {}

DesktopSession::~DesktopSession() {
    SetLauncherProgress(-1);
}

QDBusConnection DesktopSession::SessionBus() {
    if (!sessionBus_) {
        sessionBus_ = QDBusConnection::sessionBus();
    }
    return *sessionBus_;
}

QDBusConnection DesktopSession::SystemBus() {
    if (!systemBus_) {
        systemBus_ = QDBusConnection::systemBus();
    }
    return *systemBus_;
}

void DesktopSession::Notify(const QString& summary, std::function<void()> fallback) {
    QDBusConnection bus = SessionBus();
    if (!bus.isConnected()) {
        QMetaObject::invokeMethod(
            this, [fallback] { fallback(); }, Qt::QueuedConnection);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), ApplicationId());
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));  // normal
    call << QStringLiteral("Quintaro") << 0u << ApplicationId() << summary << QString()
         << QStringList() << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [fallback](QDBusPendingCallWatcher* finished) {
                if (finished->isError()) {
                    fallback();
                }
                finished->deleteLater();
            });
}

void DesktopSession::InhibitSleep(const QString& why) {
    if (sleepWanted_) {
        return;
    }
    sleepWanted_ = true;
    const unsigned request = ++inhibitRequest_;
    QDBusConnection bus = SystemBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Quintaro") << why
         << QStringLiteral("block");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, request](QDBusPendingCallWatcher* finished) {
                const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *finished;
                // An answer to a request released meanwhile is dropped, and its descriptor
                // closed with it.
                if (!reply.isError() && request == inhibitRequest_ && sleepWanted_) {
                    sleepInhibitor_ = reply.value();
                }
                finished->deleteLater();
            });
}

void DesktopSession::ReleaseSleep() {
    sleepWanted_ = false;
    ++inhibitRequest_;
    // The inhibitor ends when its last descriptor is closed.
    sleepInhibitor_ = QDBusUnixFileDescriptor();
}

bool DesktopSession::HoldsSleepInhibitor() const {
    return sleepInhibitor_.isValid();
}

void DesktopSession::SetLauncherProgress(int percent) {
    if (percent < 0) {
        percent = -1;
    }
    if (percent > 100) {
        percent = 100;
    }
    if (percent == launcherPercent_) {
        return;
    }
    launcherPercent_ = percent;
    QDBusConnection bus = SessionBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage update = QDBusMessage::createSignal(
        QLatin1Char('/') + ApplicationId().replace(QLatin1Char('.'), QLatin1Char('/')) +
            QStringLiteral("/LauncherEntry"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), percent < 0 ? 0.0 : percent / 100.0);
    properties.insert(QStringLiteral("progress-visible"), percent >= 0);
    update << LauncherEntryUri() << properties;
    bus.send(update);
}
