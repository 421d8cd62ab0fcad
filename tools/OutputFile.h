#pragma once

// A file that appears under its name only when it is complete. It is written unnamed (O_TMPFILE)
// in the target's folder, so that a kill, even SIGKILL, leaves nothing behind; on file systems
// without unnamed files, under a hidden temporary name that is removed on failure. Every write
// error (a full disk, EIO, a failed fsync or close) is kept and reported, never taken for
// success.

#include <cstddef>
#include <cstdint>
#include <string>

namespace adapter {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();  // abandons an uncommitted file
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(const std::string& path);
    // Writes all of data at the current end; false after the first error.
    bool Write(const void* data, size_t size);
    // Writes data at offset (for headers patched at the end).
    bool WriteAt(uint64_t offset, const void* data, size_t size);
    uint64_t size() const { return size_; }
    // Flushes the file to disk and gives it its name, replacing any file there.
    bool Commit();
    // Removes the unfinished file.
    void Abandon();
    // "cannot write /x/audio.mp4: No space left on device"
    const std::string& error() const { return error_; }

  private:
    bool Fail(const std::string& what, int error);
    bool Flush();

    std::string path_;
    std::string tempPath_;  // only when the file has a temporary name
    int fd_ = -1;
    uint64_t size_ = 0;
    std::string buffer_;
    std::string error_;
};

}  // namespace adapter
