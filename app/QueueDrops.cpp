#include "app/QueueDrops.h"

#include <sys/stat.h>

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "app/Intake.h"
#include "app/JobQueue.h"

namespace {

// The 8-bit path of a dropped local file, byte for byte as the drag source encoded it.
bool DroppedPath(const QUrl& url, std::string& path) {
    if (!url.isLocalFile()) {
        return false;
    }
    const QString host = url.host();
    if (!host.isEmpty() && host != QLatin1String("localhost")) {
        return false;
    }
    path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
    return !path.empty() && path.find('\0') == std::string::npos;
}

}  // namespace

std::vector<std::string> QueuePaths(const std::vector<std::string>& paths, JobQueue& queue) {
    std::vector<std::string> refused;
    for (const std::string& path : paths) {
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode) && IsDvdFolder(path)) {
            // A DVD is encoded as one job from its folder; its files are no sources by themselves.
            if (FitsACommandLine(path)) {
                queue.Add(path);
            } else {
                refused.push_back(path);
            }
        } else if (S_ISDIR(st.st_mode)) {
            std::vector<std::string> found;
            CollectFiles(path, found, "*.*");
            for (const std::string& file : found) {
                if (IsCompatibleFile(file, false)) {
                    queue.Add(file);
                }
            }
        } else if (IsCompatibleFile(path, true)) {
            queue.Add(path);
        } else {
            refused.push_back(path);
        }
    }
    return refused;
}

bool TakeFileDrag(QDropEvent& event, std::vector<std::string>& dropped) {
    const QMimeData* mime = event.mimeData();
    if (mime == nullptr || !mime->hasUrls()) {
        return false;
    }
    if (event.possibleActions() & Qt::CopyAction) {
        event.setDropAction(Qt::CopyAction);
    } else if (event.possibleActions() & Qt::LinkAction) {
        event.setDropAction(Qt::LinkAction);
    } else {
        event.ignore();
        return true;
    }
    event.accept();
    if (event.type() == QEvent::Drop) {
        for (const QUrl& url : mime->urls()) {
            std::string path;
            if (DroppedPath(url, path)) {
                dropped.push_back(std::move(path));
            }
        }
    }
    return true;
}
