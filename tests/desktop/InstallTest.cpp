// `cmake --install` into a DESTDIR, the way a package is made: the program, its menu entry,
// icons and AppStream metadata where a desktop looks for them, all of them valid, and the
// installed program starting and handing over to itself.
#include <unistd.h>

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QtEndian>
#include <fstream>
#include <iterator>

#include "../app/AppTestSupport.h"

namespace {

struct Ran {
    int ExitCode = -1;
    std::string Output;  // standard output and error together
};

Ran RunTool(const QString& program, const QStringList& arguments,
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Ran ran;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        ran.Output = "did not finish";
        return ran;
    }
    ran.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    ran.Output = process.readAll().toStdString();
    return ran;
}

std::string ReadText(const QString& path) {
    std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The width and height in a PNG file's header.
QSize PngSize(const QString& path) {
    const std::string bytes = ReadText(path);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) {
        return {};
    }
    return QSize(static_cast<int>(qFromBigEndian<quint32>(bytes.data() + 16)),
                 static_cast<int>(qFromBigEndian<quint32>(bytes.data() + 20)));
}

const QString kId = QStringLiteral("org.quintaro.Quintaro");

void CheckProgramAndManifest(const QString& root) {
    const QFileInfo link(root + "/bin/quintaro");
    ASSERT_TRUE(link.isSymLink());
    // Relative, so that the installed tree works wherever it is unpacked.
    char target[4096];
    const ssize_t length =
        readlink(QFile::encodeName(link.filePath()).constData(), target, sizeof target - 1);
    ASSERT_GT(length, 0);
    target[length] = '\0';
    EXPECT_EQ(std::string(target).rfind("../", 0), 0u) << target;
    const QFileInfo program(root + "/" + QUINTARO_INSTALL_DIR + "/quintaro");
    EXPECT_EQ(link.canonicalFilePath(), program.canonicalFilePath());
    EXPECT_TRUE(program.isExecutable());

    // One path a line, the last one without a line end.
    const std::string manifest =
        "\n" + ReadText(QStringLiteral(BUILD_DIR "/install_manifest.txt")) + "\n";
    for (const QString& file :
         {QString("/bin/quintaro"), "/" + QString(QUINTARO_INSTALL_DIR) + "/quintaro",
          "/share/applications/" + kId + ".desktop", "/share/metainfo/" + kId + ".metainfo.xml",
          "/share/icons/hicolor/scalable/apps/" + kId + ".svg"}) {
        // The manifest names the files as installed, without the DESTDIR.
        EXPECT_NE(manifest.find("\n/usr" + file.toStdString() + "\n"), std::string::npos)
            << file.toStdString();
    }
}

void CheckDesktopEntry(const QString& root) {
    const QString entry = root + "/share/applications/" + kId + ".desktop";
    const Ran validated = RunTool("desktop-file-validate", {entry});
    EXPECT_EQ(validated.ExitCode, 0) << validated.Output;
    EXPECT_EQ(validated.Output, "") << "no warnings either";

    const std::string text = ReadText(entry);
    for (const char* line :
         {"\nExec=quintaro %F\n", "\nIcon=org.quintaro.Quintaro\n", "\nType=Application\n",
          "\nTerminal=false\n", "\nCategories=AudioVideo;Video;"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    const size_t mime = text.find("\nMimeType=");
    ASSERT_NE(mime, std::string::npos);
    const std::string types = text.substr(mime, text.find('\n', mime + 1) - mime);
    for (const char* type : {"video/x-matroska", "video/x-msvideo", "video/mp4", "video/mpeg",
                             "video/x-ms-wmv", "video/x-ogm+ogg", "video/quicktime", "video/webm",
                             "video/mp2t", "video/3gpp", "video/x-flv", "inode/directory"}) {
        EXPECT_NE(types.find(std::string(type) + ";"), std::string::npos) << type;
    }
}

void CheckMetainfoAndIcons(const QString& root) {
    const QString metainfo = root + "/share/metainfo/" + kId + ".metainfo.xml";
    const Ran validated = RunTool("appstreamcli", {"validate", "--no-net", metainfo});
    EXPECT_EQ(validated.ExitCode, 0) << validated.Output;
    const std::string text = ReadText(metainfo);
    for (const char* piece : {"<component type=\"desktop-application\">",
                              "<launchable type=\"desktop-id\">org.quintaro.Quintaro.desktop<",
                              "<release version=\"6.0\"", "<description>"}) {
        EXPECT_NE(text.find(piece), std::string::npos) << piece;
    }

    const QString icons = root + "/share/icons/hicolor/";
    EXPECT_NE(ReadText(icons + "scalable/apps/" + kId + ".svg").find("<svg"), std::string::npos);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString png = icons + QString("%1x%1/apps/").arg(size) + kId + ".png";
        EXPECT_EQ(PngSize(png), QSize(size, size)) << png.toStdString();
    }
}

using Install = WindowTest;

}  // namespace

// One test, as every install writes the build's one install manifest.
TEST_F(Install, PutsTheProgramWhereDesktopsFindIt) {
    QProcessEnvironment packaging = QProcessEnvironment::systemEnvironment();
    packaging.insert("DESTDIR", Temp.path() + "/dest");
    const Ran installed =
        RunTool(QStringLiteral(CMAKE_COMMAND),
                {"--install", QStringLiteral(BUILD_DIR), "--prefix", "/usr"}, packaging);
    ASSERT_EQ(installed.ExitCode, 0) << installed.Output;
    const QString root = Temp.path() + "/dest/usr";
    CheckProgramAndManifest(root);
    CheckDesktopEntry(root);
    CheckMetainfoAndIcons(root);
    // What a software centre checks of the tree: the metainfo's launchable, the entry, the icon.
    const Ran tree = RunTool("appstreamcli", {"validate-tree", "--no-net", Temp.path() + "/dest"});
    EXPECT_EQ(tree.ExitCode, 0) << tree.Output;

    // The installed program starts, and a second start hands over to it and ends.
    MakeFile("clip.avi");
    MakeFile("more.mkv");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    const QString runtime = Temp.path() + "/runtime";
    ASSERT_TRUE(QDir().mkpath(runtime));
    ASSERT_TRUE(
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    environment.insert("XDG_RUNTIME_DIR", runtime);
    const QString program = root + "/bin/quintaro";

    const Ran version = RunTool(program, {"--version"}, environment);
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Output, "quintaro 6.0\n");

    QProcess window;
    window.setProcessEnvironment(environment);
    window.setProcessChannelMode(QProcess::ForwardedChannels);
    window.start(program, {QString::fromStdString(TempPath("clip.avi"))});
    ASSERT_TRUE(window.waitForStarted(20000));
    EXPECT_TRUE(Eventually([&] { return QFile::exists(runtime + "/" + kId + ".instance"); }, 30000))
        << "listening for later starts";

    const Ran later = RunTool(program, {QString::fromStdString(TempPath("more.mkv"))}, environment);
    EXPECT_EQ(later.ExitCode, 0) << later.Output;
    EXPECT_EQ(window.state(), QProcess::Running) << "the first window goes on";

    window.terminate();
    EXPECT_TRUE(window.waitForFinished(20000));
}
