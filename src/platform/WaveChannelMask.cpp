#include "platform/WaveChannelMask.h"

#include "platform/Error.h"
#include "platform/FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace orvanta {

namespace {

uint32_t little32(const unsigned char* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

bool readAt(int fd, void* into, size_t bytes, off_t offset) {
    return ::pread(fd, into, bytes, offset) == ssize_t(bytes);
}

} // namespace

bool clearWaveChannelMask(const std::filesystem::path& path) {
    // Non-blocking, so that a pipe at `path` is never waited on; only a regular file is changed.
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;

    unsigned char head[12];
    if (!readAt(fd.get(), head, sizeof head, 0)) return false;
    if ((std::memcmp(head, "RF64", 4) != 0 && std::memcmp(head, "RIFF", 4) != 0) ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        return false;
    }
    // The "fmt " chunk precedes the data; only the chunks before it ("ds64", "JUNK") are walked.
    for (off_t offset = 12; offset + 8 <= status.st_size;) {
        unsigned char chunk[8];
        if (!readAt(fd.get(), chunk, sizeof chunk, offset)) return false;
        const uint32_t bytes = little32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) return false;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            // WAVEFORMATEXTENSIBLE: format tag 0xFFFE, then at byte 20 of the chunk the 32-bit mask.
            unsigned char format[24];
            if (bytes < 40 || !readAt(fd.get(), format, sizeof format, offset + 8)) return false;
            if (format[0] != 0xFE || format[1] != 0xFF) return false;
            const unsigned char zero[4] = {0, 0, 0, 0};
            if (::pwrite(fd.get(), zero, sizeof zero, offset + 8 + 20) != ssize_t(sizeof zero) || fd.close() != 0) {
                throw audioFileError(AudioFileErrorCode::writeFailed, "Could not finish \"" + path.string() +
                                                                          "\": " + std::strerror(errno));
            }
            return true;
        }
        offset += 8 + off_t(bytes) + (bytes & 1);
    }
    return false;
}

} // namespace orvanta
