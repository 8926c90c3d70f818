#pragma once

#include <cstddef>
#include <cstdint>

namespace orvanta {

// A scratch file in the private temporary directory that has no name: nothing is left behind however
// the process ends, and its pages live in the page cache rather than in the process's memory. Append
// while filling, then read at any offset from any number of threads (positional reads). Throws Error
// (domain "AudioFile": cannotCreate, writeFailed or readFailed; the private directory's own errors).
class UnnamedTemporaryFile {
public:
    UnnamedTemporaryFile();
    ~UnnamedTemporaryFile();
    UnnamedTemporaryFile(const UnnamedTemporaryFile&) = delete;
    UnnamedTemporaryFile& operator=(const UnnamedTemporaryFile&) = delete;

    // Appends `bytes` bytes at the end (not thread-safe; fill before reading).
    void append(const void* data, size_t bytes);
    // Reads `bytes` bytes at `offset`; fewer when the file ends first. Returns the count read.
    size_t readAt(void* data, size_t bytes, uint64_t offset) const;
    uint64_t size() const noexcept { return size_; }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

} // namespace orvanta
