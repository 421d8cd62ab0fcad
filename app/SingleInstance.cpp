#include "app/SingleInstance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <QtEndian>
#include <memory>

#include "app/ApplicationId.h"

namespace {

// A hand-off: the magic, the length of what follows (32 bits, big-endian), then every path
// followed by a NUL, which no Linux path holds. Then the running window answers kTaken.
constexpr char kMagic[4] = {'Q', 'T', 'R', '1'};
constexpr int kHeaderSize = 8;
constexpr quint32 kMaxPayload = 16 * 1024 * 1024;
constexpr char kTaken = 'T';
// A running window accepts a connection at once; this is only for a machine under load.
constexpr int kConnectTimeoutMs = 2000;

bool IsPrivateFolder(const QByteArray& folder, bool followLink) {
    struct stat st;
    const int result = followLink ? stat(folder.constData(), &st) : lstat(folder.constData(), &st);
    return result == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
           (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

QByteArray HandOffMessage(const std::vector<std::string>& paths) {
    QByteArray payload;
    for (const std::string& path : paths) {
        payload.append(path.data(), static_cast<qsizetype>(path.size()));
        payload.append('\0');
    }
    QByteArray message(kMagic, sizeof kMagic);
    char length[4];
    qToBigEndian(static_cast<quint32>(payload.size()), length);
    message.append(length, sizeof length);
    message.append(payload);
    return message;
}

}  // namespace

QString InstanceSocketPath() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && IsPrivateFolder(runtime, true)) {
        return QFile::decodeName(runtime) + QLatin1Char('/') + ApplicationId() +
               QStringLiteral(".instance");
    }
    // The temporary folder is shared with every user: only a folder of our own, that nobody
    // else can enter, keeps another user from listening in our place.
    const QByteArray own = QFile::encodeName(QDir::tempPath()) + "/quintaro-" +
                           QByteArray::number(static_cast<qulonglong>(getuid()));
    mkdir(own.constData(), 0700);
    if (IsPrivateFolder(own, false)) {
        return QFile::decodeName(own) + QStringLiteral("/instance");
    }
    return {};
}

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(std::move(socketPath)) {}

SingleInstance::~SingleInstance() = default;

SingleInstance::Claim SingleInstance::ClaimOrHandOver(const std::vector<std::string>& paths) {
    if (socketPath_.isEmpty()) {
        return Claim::Alone;
    }
    // Two starts at the same moment (several files opened at once) must not both become the
    // window: the one that holds the lock decides first.
    QLockFile lock(socketPath_ + QStringLiteral(".lock"));
    if (!lock.tryLock(AnswerTimeoutMs + kConnectTimeoutMs)) {
        return Claim::Alone;
    }
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (socket.waitForConnected(kConnectTimeoutMs)) {
        return HandOver(socket, paths) ? Claim::HandedOver : Claim::Alone;
    }
    if (socket.error() != QLocalSocket::ServerNotFoundError &&
        socket.error() != QLocalSocket::ConnectionRefusedError) {
        return Claim::Alone;
    }
    // Nobody listens: a window that ended without removing its socket left the file behind.
    QLocalServer::removeServer(socketPath_);
    return Listen() ? Claim::Primary : Claim::Alone;
}

bool SingleInstance::HandOver(QLocalSocket& socket, const std::vector<std::string>& paths) {
    QElapsedTimer waited;
    waited.start();
    auto remaining = [&] { return std::max<int>(1, AnswerTimeoutMs - int(waited.elapsed())); };
    socket.write(HandOffMessage(paths));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(remaining()) || waited.elapsed() >= AnswerTimeoutMs) {
            return false;
        }
    }
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(remaining()) || waited.elapsed() >= AnswerTimeoutMs) {
            return false;
        }
    }
    char answer = 0;
    return socket.read(&answer, 1) == 1 && answer == kTaken;
}

bool SingleInstance::Listen() {
    auto server = std::make_unique<QLocalServer>(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath_)) {
        return false;
    }
    server_ = server.release();
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            Serve(socket);
        }
    });
    return true;
}

void SingleInstance::Serve(QLocalSocket* socket) {
    struct Reading {
        QByteArray received;
        bool done = false;
    };
    auto reading = std::make_shared<Reading>();
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A start that never completes its message is not waited for.
    QTimer::singleShot(AnswerTimeoutMs, socket, [socket] { socket->abort(); });
    connect(socket, &QLocalSocket::readyRead, socket, [this, socket, reading] {
        QByteArray* received = &reading->received;
        if (reading->done) {
            socket->readAll();
            return;
        }
        received->append(socket->readAll());
        if (received->size() < kHeaderSize) {
            return;
        }
        const quint32 length = qFromBigEndian<quint32>(received->constData() + sizeof kMagic);
        if (!received->startsWith(QByteArray(kMagic, sizeof kMagic)) || length > kMaxPayload) {
            socket->abort();
            return;
        }
        if (received->size() < kHeaderSize + static_cast<qsizetype>(length)) {
            return;
        }
        std::vector<std::string> paths;
        const QByteArray payload = received->mid(kHeaderSize, length);
        for (qsizetype start = 0; start < payload.size();) {
            qsizetype end = payload.indexOf('\0', start);
            if (end < 0) {
                end = payload.size();
            }
            if (end > start) {
                paths.emplace_back(payload.constData() + start, static_cast<size_t>(end - start));
            }
            start = end + 1;
        }
        reading->done = true;
        socket->write(&kTaken, 1);
        socket->flush();
        socket->disconnectFromServer();
        // The paths may bring up a box that waits for the user; the start that sent them
        // has its answer by then.
        QMetaObject::invokeMethod(
            this,
            [this, paths = std::move(paths)] {
                if (handler_) {
                    handler_(paths);
                }
            },
            Qt::QueuedConnection);
    });
}
