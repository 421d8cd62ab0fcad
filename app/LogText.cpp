#include "app/LogText.h"

#include <QFile>
#include <QSaveFile>
#include <stdexcept>

std::string FormatLogTime(const std::tm& time) {
    char buffer[128];
    const size_t length = std::strftime(buffer, sizeof buffer, "%X", &time);
    return std::string(buffer, length);
}

void SaveLinesCrLf(const std::string& path, const std::vector<std::string>& lines) {
    // Written beside the old file and put in its place only once complete: a full disk or a
    // failed write leaves the old file as it was.
    QSaveFile file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        throw std::runtime_error("Cannot create file \"" + path + "\". " +
                                 file.errorString().toLocal8Bit().toStdString());
    }
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    // A short write is followed by another, so that a failure is told with the system's words.
    size_t done = 0;
    while (done < text.size()) {
        const qint64 n = file.write(text.data() + done, static_cast<qint64>(text.size() - done));
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    // A log that did not reach the disk is reported, never passed off as saved.
    if (done != text.size() || !file.commit()) {
        const std::string why = file.errorString().toLocal8Bit().toStdString();
        file.cancelWriting();
        throw std::runtime_error("Cannot write file \"" + path + "\". " + why);
    }
}
