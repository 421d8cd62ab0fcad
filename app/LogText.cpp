#include "app/LogText.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

std::string FormatLogTime(const std::tm& time) {
    char buffer[128];
    const size_t length = std::strftime(buffer, sizeof buffer, "%X", &time);
    return std::string(buffer, length);
}

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
        return message + ".";
    }
    return message;
}

void SaveLinesCrLf(const std::string& path, const std::vector<std::string>& lines) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        throw std::runtime_error("Cannot create file \"" + path + "\". " + std::strerror(errno));
    }
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    size_t done = 0;
    int error = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    // A log that did not reach the disk is reported, never passed off as saved.
    if (error != 0) {
        throw std::runtime_error("Cannot write file \"" + path + "\". " + std::strerror(error));
    }
}
