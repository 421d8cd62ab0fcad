#include <QApplication>
#include <cstdio>

#include "app/ApplicationId.h"
#include "app/ProgramStart.h"

int main(int argc, char* argv[]) {
    if (const int code = AnswerInfoOptions(argc, argv); code >= 0) {
        return code;
    }
    QApplication application(argc, argv);
    // The window carries its own taskbar button; the application title is the caption of its
    // boxes (ApplicationTitle), not a suffix the desktop would add to every dialog's caption.
    QApplication::setApplicationName(QStringLiteral("quintaro"));
    QApplication::setApplicationVersion(QStringLiteral(QUINTARO_VERSION));
    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(ApplicationId());
    // What Qt took of the arguments (-platform, -style ...) is gone from argv now.
    const CommandLine commandLine = ReadCommandLine(argc, argv);
    if (!commandLine.Error.empty()) {
        std::fprintf(stderr, "quintaro: %s\n\n%s", commandLine.Error.c_str(), UsageText().c_str());
        return 2;
    }
    return RunProgram(application, commandLine);
}
