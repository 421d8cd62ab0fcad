#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

// Where this user's running window listens for later starts: in XDG_RUNTIME_DIR when that is a
// private folder of the user's, otherwise in a private folder of the user's in the system's
// temporary folder. Empty when neither can be had: the program then runs without hand-off.
QString InstanceSocketPath();

// One window per user. A start first tries to hand its paths to the window already running
// (which queues them as a drop of those paths and comes to the front) and then ends; when no
// window runs, it becomes the one that later starts hand their paths to.
class SingleInstance : public QObject {
    Q_OBJECT

  public:
    using PathsHandler = std::function<void(const std::vector<std::string>& paths)>;

    explicit SingleInstance(QString socketPath, QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Claim {
        Primary,     // no window ran: this one now serves later starts
        HandedOver,  // the running window took the paths; this start ends
        Alone,       // no hand-off possible: this start opens a window of its own
    };
    // How long a running window has to take the paths before this start gives up on it.
    int AnswerTimeoutMs = 10000;
    Claim ClaimOrHandOver(const std::vector<std::string>& paths);

    // Called on this thread, outside the connection's handling, with the paths of each later
    // start (empty when it was started without any).
    void OnPathsReceived(PathsHandler handler) { handler_ = std::move(handler); }

  private:
    bool HandOver(QLocalSocket& socket, const std::vector<std::string>& paths);
    bool Listen();
    void Serve(QLocalSocket* socket);

    QString socketPath_;
    QLocalServer* server_ = nullptr;
    PathsHandler handler_;
};
