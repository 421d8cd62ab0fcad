// Renders each tab of the main window to a PNG, so the window can be looked at without a display.
// Usage: quintaro_render_tabs OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <cstdio>

#include "app/Tfmain.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    Tfmain fmain;
    fmain.show();
    QApplication::processEvents();
    const char* names[] = {"status", "files", "settings", "about"};
    for (int tab = 0; tab < fmain.PageControl1->count(); ++tab) {
        fmain.PageControl1->setCurrentIndex(tab);
        QApplication::processEvents();
        const QString file = folder.filePath(
            QStringLiteral("tab-%1-%2.png").arg(tab + 1).arg(QString::fromLatin1(names[tab])));
        if (!fmain.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    return 0;
}
