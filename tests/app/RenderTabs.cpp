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

    // The same window in use: a few entries in the queue and lines in the log.
    const char* entries[][2] = {{"/home/user/Videos/holiday 2007.avi", "done"},
                                {"/home/user/Videos/concert.mkv", "encoding"},
                                {"/home/user/Videos/old tape.mpg", "error"},
                                {"/home/user/Videos/lecture.wmv", "ready"}};
    for (const auto& entry : entries) {
        fmain.AddQueueEntry(entry[0]);
        fmain.SetRowStatus(fmain.QueueRowCount() - 2, entry[1]);
    }
    fmain.LogLine("Encoding: holiday 2007.avi");
    fmain.LogLine("Analysis pass...");
    fmain.LogAppend("done.");
    fmain.LogLine("> Finished!");
    fmain.LogLine("Encoding: concert.mkv");
    fmain.SetProgressText("Pos:  41.2s   1030f (12%)  24.93fps Trem:   2min");
    for (int tab = 0; tab < 2; ++tab) {
        fmain.PageControl1->setCurrentIndex(tab);
        QApplication::processEvents();
        const QString file = folder.filePath(
            QStringLiteral("in-use-%1-%2.png").arg(tab + 1).arg(QString::fromLatin1(names[tab])));
        if (!fmain.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    return 0;
}
