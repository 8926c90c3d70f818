#include "platform/UnnamedTemporaryFile.h"

#include "platform/Error.h"
#include "platform/TemporaryDirectory.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>

namespace orvanta {

namespace {

std::string systemMessage(int code) { return std::strerror(code); }

// O_TMPFILE where the file system has it; otherwise a named file unlinked at once.
int openUnnamed(const std::string& directory) {
    int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string pattern = directory + "/.decoded-XXXXXX";
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(pattern.c_str());
    return fd;
}

} // namespace

UnnamedTemporaryFile::UnnamedTemporaryFile() {
    const std::string directory = privateTemporaryDirectory().string();
    fd_ = openUnnamed(directory);
    if (fd_ < 0) {
        throw audioFileError(AudioFileErrorCode::cannotCreate,
                             "Could not create a scratch file in \"" + directory + "\": " + systemMessage(errno));
    }
}

UnnamedTemporaryFile::~UnnamedTemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
}

void UnnamedTemporaryFile::append(const void* data, size_t bytes) {
    const auto* bytesLeft = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t written = ::pwrite(fd_, bytesLeft, bytes, off_t(size_));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            throw audioFileError(AudioFileErrorCode::writeFailed,
                                 "Could not write a scratch file: " + systemMessage(written < 0 ? errno : ENOSPC));
        }
        bytesLeft += written;
        bytes -= size_t(written);
        size_ += uint64_t(written);
    }
}

size_t UnnamedTemporaryFile::readAt(void* data, size_t bytes, uint64_t offset) const {
    auto* into = static_cast<char*>(data);
    size_t done = 0;
    while (done < bytes) {
        const ssize_t got = ::pread(fd_, into + done, bytes - done, off_t(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            throw audioFileError(AudioFileErrorCode::readFailed, "Could not read a scratch file: " + systemMessage(errno));
        }
        if (got == 0) break;
        done += size_t(got);
    }
    return done;
}

} // namespace orvanta
