#include <QApplication>
#include <QIcon>

#include "app/Tfmain.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // The window carries its own taskbar button; the application title is the caption of its
    // boxes (ApplicationTitle), not a suffix the desktop would add to every dialog's caption.
    QApplication::setApplicationName(QStringLiteral("quintaro"));
    Tfmain fmain;
    QApplication::setWindowIcon(fmain.windowIcon());
    fmain.show();
    return application.exec();
}
