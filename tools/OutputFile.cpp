#include "tools/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/AdapterSupport.h"

namespace adapter {

namespace {

constexpr size_t kBufferSize = 1 << 16;

}  // namespace

OutputFile::~OutputFile() {
    Abandon();
}

bool OutputFile::Fail(const std::string& what, int error) {
    if (error_.empty()) {
        error_ = what + " " + path_ + ": " + std::strerror(error);
    }
    return false;
}

bool OutputFile::Create(const std::string& path) {
    path_ = path;
    const std::string folder = FolderOf(path);
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return Fail("cannot write", EISDIR);
    }
    fd_ = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // No unnamed files here: a hidden name beside the target, removed on failure or stop.
        tempPath_ = (folder == "/" ? "" : folder) + "/." + FileNameOf(path) + ".XXXXXX";
        fd_ = mkostemp(tempPath_.data(), O_CLOEXEC);
        if (fd_ >= 0) {
            SetStopCleanup(tempPath_.c_str());
        } else {
            tempPath_.clear();
        }
    }
    if (fd_ < 0) {
        return Fail("cannot create", errno);
    }
    // The file takes the permissions a new file gets from the user's umask.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
    buffer_.reserve(kBufferSize);
    return true;
}

bool OutputFile::Flush() {
    const char* p = buffer_.data();
    size_t left = buffer_.size();
    while (left > 0) {
        const ssize_t n = write(fd_, p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return Fail("cannot write", errno);
        }
        if (n == 0) {
            return Fail("cannot write", ENOSPC);
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    buffer_.clear();
    return true;
}

bool OutputFile::Write(const void* data, size_t size) {
    if (fd_ < 0 || !error_.empty()) {
        return false;
    }
    size_ += size;
    if (buffer_.size() + size > kBufferSize && !Flush()) {
        return false;
    }
    if (size >= kBufferSize) {
        buffer_.assign(static_cast<const char*>(data), size);
        return Flush();
    }
    buffer_.append(static_cast<const char*>(data), size);
    return true;
}

bool OutputFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    if (fd_ < 0 || !error_.empty() || !Flush()) {
        return false;
    }
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = pwrite(fd_, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return Fail("cannot write", n < 0 ? errno : ENOSPC);
        }
        p += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool OutputFile::Commit() {
    if (fd_ < 0 || !error_.empty() || !Flush()) {
        return false;
    }
    if (fsync(fd_) != 0) {
        return Fail("cannot write", errno);
    }
    if (tempPath_.empty()) {
        // An unnamed file gets its name by a link; an existing target is replaced by a rename
        // from a second, hidden name.
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno != EEXIST) {
                return Fail("cannot write", errno);
            }
            const std::string folder = FolderOf(path_);
            std::string hidden;
            for (int attempt = 0; attempt < 100; ++attempt) {
                hidden = (folder == "/" ? "" : folder) + "/." + FileNameOf(path_) + "." +
                         std::to_string(getpid()) + "." + std::to_string(attempt);
                if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) ==
                    0) {
                    break;
                }
                if (errno != EEXIST) {
                    return Fail("cannot write", errno);
                }
                hidden.clear();
            }
            if (hidden.empty()) {
                return Fail("cannot write", EEXIST);
            }
            tempPath_ = hidden;
            SetStopCleanup(tempPath_.c_str());
        }
    }
    if (!tempPath_.empty()) {
        if (rename(tempPath_.c_str(), path_.c_str()) != 0) {
            return Fail("cannot write", errno);
        }
        SetStopCleanup(nullptr);
        tempPath_.clear();
    }
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        const int error = errno;
        unlink(path_.c_str());
        return Fail("cannot write", error);
    }
    // The name itself must last too.
    const int dir = open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

void OutputFile::Abandon() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        unlink(tempPath_.c_str());
        SetStopCleanup(nullptr);
        tempPath_.clear();
    }
}

}  // namespace adapter
