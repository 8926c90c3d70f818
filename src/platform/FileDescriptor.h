#pragma once

#include <unistd.h>

namespace orvanta {

// Owns a POSIX file descriptor and closes it when it goes out of scope (a negative one is none).
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const noexcept { return fd_; }
    // Closes now and returns close()'s result: its error matters for a file just written (NFS reports
    // a full disk there).
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

} // namespace orvanta
