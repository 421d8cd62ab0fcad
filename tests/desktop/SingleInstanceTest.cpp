// One window per user: a later start hands its paths to the running window and ends.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <atomic>
#include <thread>

#include "../app/AppTestSupport.h"
#include "app/SingleInstance.h"

namespace {

// A later start, in a thread of its own, as the running window's thread must stay free to
// answer it.
class LaterStart {
  public:
    LaterStart(const QString& socketPath, std::vector<std::string> paths, int answerTimeoutMs)
        : thread_([this, socketPath, paths = std::move(paths), answerTimeoutMs] {
              SingleInstance instance(socketPath);
              instance.AnswerTimeoutMs = answerTimeoutMs;
              claim_ = instance.ClaimOrHandOver(paths);
              done_ = true;
          }) {}
    ~LaterStart() { thread_.join(); }

    // Serves the window's thread until the start has decided.
    SingleInstance::Claim Claim() {
        EXPECT_TRUE(Eventually([this] { return done_.load(); }, 20000));
        return claim_;
    }

  private:
    std::atomic<bool> done_{false};
    SingleInstance::Claim claim_ = SingleInstance::Claim::Alone;
    std::thread thread_;
};

class Instance : public WindowTest {
  protected:
    QString SocketPath() const { return Temp.path() + "/instance"; }

    // The running window: records every hand-off.
    void StartPrimary(SingleInstance& primary) {
        ASSERT_EQ(primary.ClaimOrHandOver({}), SingleInstance::Claim::Primary);
        primary.OnPathsReceived(
            [this](const std::vector<std::string>& paths) { Received.push_back(paths); });
    }

    std::vector<std::vector<std::string>> Received;
};

}  // namespace

TEST_F(Instance, LaterStartsHandTheirPathsOverByteForByte) {
    SingleInstance primary(SocketPath());
    StartPrimary(primary);
    const std::vector<std::string> paths = {"/videos/a b.avi", "/v/caf\xe9.mkv",
                                            "/v/new\nline.mp4"};
    EXPECT_EQ(LaterStart(SocketPath(), paths, 10000).Claim(), SingleInstance::Claim::HandedOver);
    ASSERT_TRUE(Eventually([this] { return Received.size() == 1; }));
    EXPECT_EQ(Received[0], paths);

    // Without paths: the window is only brought to the front.
    EXPECT_EQ(LaterStart(SocketPath(), {}, 10000).Claim(), SingleInstance::Claim::HandedOver);
    ASSERT_TRUE(Eventually([this] { return Received.size() == 2; }));
    EXPECT_TRUE(Received[1].empty());
}

TEST_F(Instance, ASocketLeftByAnEndedWindowIsTakenOver) {
    // A socket file nobody listens on, as a window that crashed leaves it.
    const QByteArray path = QFile::encodeName(SocketPath());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);

    SingleInstance primary(SocketPath());
    StartPrimary(primary);
    EXPECT_EQ(LaterStart(SocketPath(), {"/v/a.avi"}, 10000).Claim(),
              SingleInstance::Claim::HandedOver);
    ASSERT_TRUE(Eventually([this] { return Received.size() == 1; }));
}

TEST_F(Instance, AWindowThatDoesNotAnswerIsGivenUp) {
    QLocalServer silent;  // accepts, and never answers
    ASSERT_TRUE(silent.listen(SocketPath()));
    EXPECT_EQ(LaterStart(SocketPath(), {"/v/a.avi"}, 300).Claim(), SingleInstance::Claim::Alone);
    EXPECT_TRUE(QFile::exists(SocketPath())) << "the running one's socket is left alone";
}

TEST_F(Instance, GarbageIsDroppedAndTheWindowStillServes) {
    SingleInstance primary(SocketPath());
    StartPrimary(primary);
    for (const QByteArray& junk : {QByteArray("hello there, window"),
                                   QByteArray("QTR1\xff\xff\xff\xff", 8)}) {  // a length too big
        QLocalSocket client;
        client.connectToServer(SocketPath());
        ASSERT_TRUE(client.waitForConnected(5000));
        client.write(junk);
        client.flush();
        EXPECT_TRUE(Eventually([&] { return client.state() == QLocalSocket::UnconnectedState; }));
    }
    EXPECT_TRUE(Received.empty());
    EXPECT_EQ(LaterStart(SocketPath(), {"/v/a.avi"}, 10000).Claim(),
              SingleInstance::Claim::HandedOver);
    ASSERT_TRUE(Eventually([this] { return Received.size() == 1; }));
}

TEST_F(Instance, SocketLivesInAPrivateFolderOfTheUsers) {
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const QString runtime = Temp.path() + "/runtime";
    ASSERT_EQ(mkdir(QFile::encodeName(runtime).constData(), 0700), 0);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    EXPECT_EQ(InstanceSocketPath(), runtime + "/org.quintaro.Quintaro.instance");

    // A runtime folder others may enter is not used; a folder of the user's own in the
    // temporary folder is.
    chmod(QFile::encodeName(runtime).constData(), 0755);
    const QString fallback = InstanceSocketPath();
    EXPECT_TRUE(fallback.startsWith(QDir::tempPath() + "/quintaro-" + QString::number(getuid())))
        << fallback.toStdString();
    struct stat st;
    ASSERT_EQ(stat(QFile::encodeName(QFileInfo(fallback).path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    qputenv("XDG_RUNTIME_DIR", saved);

    SingleInstance nowhere{QString()};
    EXPECT_EQ(nowhere.ClaimOrHandOver({"/v/a.avi"}), SingleInstance::Claim::Alone);
}

// ---- Two real processes: the program as main.cpp starts it ----

namespace {

// One start of the program (the probe, which reports what its window does).
class Start {
  public:
    Start(const QStringList& arguments, const QProcessEnvironment& environment,
          const QString& folder) {
        process_.setProcessEnvironment(environment);
        process_.setWorkingDirectory(folder);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(QUINTARO_PROBE), arguments);
        process_.waitForStarted(20000);
    }
    ~Start() {
        process_.closeWriteChannel();  // the probe ends when its input does
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }

    // Reads what the window says until it has said line.
    bool Says(const std::string& line, int timeoutMs = 20000) {
        QElapsedTimer waited;
        waited.start();
        while (std::find(lines_.begin(), lines_.end(), line) == lines_.end()) {
            if (waited.elapsed() > timeoutMs) {
                return false;
            }
            process_.waitForReadyRead(50);
            Read();
        }
        return true;
    }
    // Whether the start ended by itself, with exit code 0, within the time.
    bool EndsAtOnce(int timeoutMs = 20000) {
        const bool ended =
            process_.state() == QProcess::NotRunning || process_.waitForFinished(timeoutMs);
        Read();
        return ended && process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }
    bool Running() const { return process_.state() != QProcess::NotRunning; }
    const std::vector<std::string>& Lines() {
        Read();
        return lines_;
    }

  private:
    void Read() {
        pending_ += process_.readAllStandardOutput().toStdString();
        for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
            lines_.push_back(pending_.substr(0, end));
            pending_.erase(0, end + 1);
        }
    }

    QProcess process_;
    std::string pending_;
    std::vector<std::string> lines_;
};

class TwoStarts : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        Environment = QProcessEnvironment::systemEnvironment();
        Environment.insert("QT_QPA_PLATFORM", "offscreen");
        ASSERT_TRUE(QDir().mkpath(Temp.path() + "/runtime"));
        ASSERT_EQ(chmod(QFile::encodeName(Temp.path() + "/runtime").constData(), 0700), 0);
        Environment.insert("XDG_RUNTIME_DIR", Temp.path() + "/runtime");
    }

    QString Path(const std::string& relative) const {
        return QString::fromStdString(TempPath(relative));
    }

    QProcessEnvironment Environment;
};

}  // namespace

TEST_F(TwoStarts, OpenWithAddsToTheRunningQueue) {
    MakeFile("first.avi");
    MakeFile("videos/clip.mkv");
    MakeFile("videos/notes.txt");
    QProcessEnvironment hidden = Environment;
    hidden.insert("PROBE_HIDDEN", "1");
    Start running({Path("first.avi")}, hidden, Temp.path());
    ASSERT_TRUE(running.Says("window"));
    ASSERT_TRUE(running.Says("queued " + TempPath("first.avi")));
    ASSERT_TRUE(running.Says("hidden"));

    // "Open with" from the file manager, or a start from a shell in another folder.
    Start later({"clip.mkv", "notes.txt"}, Environment, Path("videos"));
    EXPECT_TRUE(later.EndsAtOnce());
    EXPECT_TRUE(later.Lines().empty()) << "it opened no window of its own";
    EXPECT_TRUE(running.Says("queued " + TempPath("videos/clip.mkv")));
    EXPECT_TRUE(running.Says(std::string("box ") + kNotCompatibleText + "||notes.txt"));
    EXPECT_TRUE(running.Says("front")) << "the window comes out of the tray";

    Start plain({}, Environment, Temp.path());
    EXPECT_TRUE(plain.EndsAtOnce());
    EXPECT_TRUE(running.Running());
}

TEST_F(TwoStarts, StartsAtTheSameMomentMeetOneWindow) {
    // A file manager opening several files at once may start the program once for each.
    std::vector<std::unique_ptr<Start>> starts;
    for (int i = 0; i < 4; ++i) {
        const std::string file = "f" + std::to_string(i) + ".avi";
        MakeFile(file);
        starts.push_back(
            std::make_unique<Start>(QStringList{Path(file)}, Environment, Temp.path()));
    }
    Start* window = nullptr;
    for (auto& start : starts) {
        ASSERT_TRUE(
            Eventually([&] { return !start->Lines().empty() || !start->Running(); }, 20000));
        if (start->Running()) {
            EXPECT_EQ(window, nullptr) << "a second window";
            window = start.get();
        } else {
            EXPECT_TRUE(start->EndsAtOnce());
        }
    }
    ASSERT_NE(window, nullptr);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(window->Says("queued " + TempPath("f" + std::to_string(i) + ".avi"))) << i;
    }
}
