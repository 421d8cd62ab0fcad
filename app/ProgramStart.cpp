#include "app/ProgramStart.h"

#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <cerrno>
#include <cstdio>
#include <exception>

#include "app/SingleInstance.h"
#include "app/Tfmain.h"

namespace {

// "a//b/./c/" as "a/b/c": the queue shows the text after the last "/", which a trailing one
// would leave empty. ".." stays, as a link in the path may make it mean another folder.
std::string CleanPath(const std::string& path) {
    std::string clean;
    size_t i = 0;
    while (i < path.size()) {
        const size_t end = std::min(path.find('/', i), path.size());
        const std::string part = path.substr(i, end - i);
        if (!part.empty() && part != ".") {
            clean += '/';
            clean += part;
        }
        i = end + 1;
    }
    return clean.empty() ? "/" : clean;
}

bool StartsWith(const std::string& text, const char* head) {
    return text.rfind(head, 0) == 0;
}

// A local "file://" URI's path, percent-decoded to its bytes; false for any other argument.
bool LocalFileUri(const std::string& argument, std::string& path) {
    std::string rest;
    if (StartsWith(argument, "file:///")) {
        rest = argument.substr(7);
    } else if (StartsWith(argument, "file://localhost/")) {
        rest = argument.substr(16);
    } else {
        return false;
    }
    path = QByteArray::fromPercentEncoding(QByteArray::fromStdString(rest)).toStdString();
    return path.find('\0') == std::string::npos;
}

std::string CurrentFolder() {
    std::string folder(4096, '\0');
    while (getcwd(folder.data(), folder.size()) == nullptr) {
        if (errno != ERANGE) {
            return "/";
        }
        folder.resize(folder.size() * 2);
    }
    folder.resize(folder.find('\0'));
    return folder;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                             const std::string& currentFolder) {
    CommandLine result;
    bool options = true;
    for (const std::string& argument : arguments) {
        if (options && argument == "--") {
            options = false;
            continue;
        }
        if (options && (argument == "--help" || argument == "-h")) {
            result.Help = true;
            continue;
        }
        if (options && argument == "--version") {
            result.Version = true;
            continue;
        }
        if (options && argument.size() > 1 && argument[0] == '-') {
            result.Error = "unknown option " + argument;
            continue;
        }
        if (argument.empty()) {
            continue;
        }
        std::string path;
        if (!LocalFileUri(argument, path)) {
            path = argument[0] == '/' ? argument : currentFolder + "/" + argument;
        }
        result.Paths.push_back(CleanPath(path));
    }
    return result;
}

CommandLine ReadCommandLine(int argc, char* argv[]) {
    return ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), CurrentFolder());
}

std::string UsageText() {
    return "Usage: quintaro [FILE|FOLDER]...\n"
           "Queues the video files and folders given, as a drop of them onto the queue does.\n"
           "While Quintaro runs, a second start hands them to its window and ends.\n"
           "\n"
           "  -h, --help     show this text\n"
           "      --version  show the version\n"
           "  --             end of options: the rest are files even when they begin with -\n";
}

int AnswerInfoOptions(int argc, char* argv[]) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const CommandLine commandLine = ParseCommandLine(arguments, "/");
    if (commandLine.Help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (commandLine.Version) {
        std::printf("quintaro %s\n", QUINTARO_VERSION);
        return 0;
    }
    return -1;
}

namespace {

// What a later start brings, or the paths of this one: queued as a drop of them is.
void OpenInWindow(Tfmain& window, const std::vector<std::string>& paths) {
    window.BringToFront();
    if (paths.empty()) {
        return;
    }
    try {
        window.HandleDroppedFiles(paths);
    } catch (const std::exception& e) {
        window.ShowError(e.what());
    }
}

}  // namespace

int RunProgram(QApplication& application, const CommandLine& commandLine,
               const std::function<void(Tfmain&)>& started) {
    SingleInstance instance(InstanceSocketPath());
    if (instance.ClaimOrHandOver(commandLine.Paths) == SingleInstance::Claim::HandedOver) {
        return 0;
    }
    Tfmain fmain;
    QApplication::setWindowIcon(fmain.windowIcon());
    instance.OnPathsReceived(
        [&fmain](const std::vector<std::string>& paths) { OpenInWindow(fmain, paths); });
    fmain.show();
    if (!commandLine.Paths.empty()) {
        // Once the window is up, so that a box about refused files has it to stand on.
        QMetaObject::invokeMethod(
            &fmain, [&fmain, paths = commandLine.Paths] { OpenInWindow(fmain, paths); },
            Qt::QueuedConnection);
    }
    if (started) {
        started(fmain);
    }
    return application.exec();
}
