// The program as main.cpp starts it, reporting on standard output what its window does, for the
// tests of starts that hand over to a running window:
//   "window"          this start opened the window
//   "queued <path>"   an entry was added to the queue
//   "box <text>"      a message box (answered at once; line breaks as "|")
//   "hidden"          the window hid itself (with PROBE_HIDDEN set), as if minimized to the tray,
//                     once it has queued the paths it was started with
//   "front"           the window was shown after being hidden
// The probe ends when its standard input is closed.
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>

#include "app/ApplicationId.h"
#include "app/ProgramStart.h"
#include "app/Tfmain.h"

namespace {

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(ApplicationId());
    const CommandLine commandLine = ReadCommandLine(argc, argv);

    auto* input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &application);
    QObject::connect(input, &QSocketNotifier::activated, [input] {
        char buffer[256];
        if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) {
            input->setEnabled(false);
            QCoreApplication::quit();
        }
    });

    return RunProgram(application, commandLine, [](Tfmain& window) {
        Say("window");
        window.Dialogs.MessageBox = [](QMessageBox::Icon, const QString&, const QString& text,
                                       QMessageBox::StandardButtons) {
            Say("box " + QString(text).replace('\n', '|').toStdString());
            return QMessageBox::Ok;
        };
        if (qEnvironmentVariableIsSet("PROBE_HIDDEN")) {
            // After the paths of this start, which come to the window the same way.
            QTimer::singleShot(0, &window, [&window] {
                window.hide();
                Say("hidden");
            });
        }
        auto* watch = new QTimer(&window);
        QObject::connect(watch, &QTimer::timeout, [&window] {
            static size_t reported = 0;
            static bool wasVisible = true;
            for (; reported < window.QueuedPaths.size(); ++reported) {
                Say("queued " + window.QueuedPaths[reported]);
            }
            if (window.isVisible() && !wasVisible) {
                Say("front");
            }
            wasVisible = window.isVisible();
        });
        watch->start(10);
    });
}
