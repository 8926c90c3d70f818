#include "platform/OutputDestination.h"

#include "platform/Error.h"
#include "platform/FileKind.h"
#include "platform/FileOperations.h"
#include "platform/FileDescriptor.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace orvanta {

namespace fs = std::filesystem;

namespace {

std::string quoted(const fs::path& path) { return "\"" + path.string() + "\""; }

[[noreturn]] void refuse(const std::string& description) {
    throw fileSystemError(FileSystemErrorCode::destinationRefused, description);
}

[[noreturn]] void writeFailed(const fs::path& output, const std::string& reason) {
    throw fileSystemError(FileSystemErrorCode::writeFailed, "Could not write to " + quoted(output) + ": " + reason);
}

// The output's folder ("." for a bare name).
fs::path folderOf(const fs::path& output) {
    const fs::path parent = output.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

// Refuses what must never receive a result; true for a device or a pipe to write into.
bool isStreamDestination(const fs::path& output) {
    const FileKind kind = fileKindOf(output);
    switch (kind) {
    case FileKind::missing:
    case FileKind::regular:
        return false;
    case FileKind::characterDevice:
    case FileKind::namedPipe:
        return true;
    case FileKind::folder:
        refuse(quoted(output) + " is a folder; give the name of a file to write");
    case FileKind::blockDevice:
        refuse(quoted(output) + " is a block device; a result is never written onto a disk device");
    case FileKind::socket:
    case FileKind::other:
        break;
    }
    refuse(quoted(output) + " is " + std::string(describeFileKind(kind)) + "; a result cannot be written there");
}

// Copies everything from `in` to `out`, retrying interrupted and short writes. False when cancelled.
bool copyBytes(int in, int out, const fs::path& source, const fs::path& output,
               const std::function<bool()>& isCancelled) {
    std::vector<char> chunk(size_t(1) << 20);
    while (true) {
        if (isCancelled && isCancelled()) return false;
        const ssize_t got = ::read(in, chunk.data(), chunk.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            throw fileSystemError(FileSystemErrorCode::copyFailed,
                                  "Could not read " + quoted(source) + ": " + std::strerror(errno));
        }
        if (got == 0) return true;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, chunk.data() + done, size_t(got - done));
            if (put < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    // A full pipe: wait for room in short steps, so that a cancel is seen even while
                    // the reader takes its time (a signal may land on any thread and interrupt nothing).
                    pollfd room{out, POLLOUT, 0};
                    ::poll(&room, 1, 100);
                    if (isCancelled && isCancelled()) return false;
                    continue;
                }
                if (errno == EINTR) {
                    if (isCancelled && isCancelled()) return false;
                    continue;
                }
                if (errno == EPIPE) writeFailed(output, "the program reading from the pipe closed it");
                writeFailed(output, std::strerror(errno));
            }
            done += put;
        }
    }
}

bool streamInto(int in, const fs::path& source, const fs::path& output, const std::function<bool()>& isCancelled) {
    // Non-blocking: a pipe without a reader fails at once (ENXIO) instead of waiting for one forever,
    // and a full pipe is waited on in steps that look at the cancellation.
    FileDescriptor out(::open(output.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (out.get() < 0) {
        if (errno == ENXIO) refuse("Could not write to " + quoted(output) + ": no program is reading from the pipe");
        writeFailed(output, std::strerror(errno));
    }
    if (!copyBytes(in, out.get(), source, output, isCancelled)) return false;
    if (out.close() != 0) writeFailed(output, std::strerror(errno));
    return true;
}

bool replaceAtomically(int in, const fs::path& source, const fs::path& output,
                       const std::function<bool()>& isCancelled) {
    const fs::path partial = siblingTemporaryPath(output);
    FileDescriptor out(::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (out.get() < 0) writeFailed(output, std::strerror(errno));
    try {
        if (!copyBytes(in, out.get(), source, output, isCancelled)) {
            removeFileQuietly(partial);
            return false;
        }
        if (out.close() != 0) writeFailed(output, std::strerror(errno));
        if (::rename(partial.c_str(), output.c_str()) != 0) writeFailed(output, std::strerror(errno));
    } catch (...) {
        removeFileQuietly(partial);
        throw;
    }
    return true;
}

} // namespace

void checkOutputDestination(const fs::path& output) {
    if (output.empty()) refuse("The output has no name");
    if (isStreamDestination(output)) {
        if (::access(output.c_str(), W_OK) != 0) refuse("Cannot write to " + quoted(output) + ": " + std::strerror(errno));
        return;
    }
    const fs::path folder = folderOf(output);
    const FileKind folderKind = fileKindOf(folder);
    if (folderKind == FileKind::missing) refuse("The folder " + quoted(folder) + " does not exist");
    if (folderKind != FileKind::folder) {
        refuse(quoted(folder) + " is " + std::string(describeFileKind(folderKind)) + ", not a folder");
    }
    const std::size_t nameBytes = output.filename().string().size();
    if (nameBytes > fileNameLimit(folder)) {
        refuse("File name too long: " + quoted(output.filename()) + " has " + std::to_string(nameBytes) +
               " bytes, the folder takes at most " + std::to_string(fileNameLimit(folder)));
    }
    // Permissions alone do not tell (a read-only mount, ACLs): the folder must take a real new file.
    const fs::path probe = siblingTemporaryPath(output);
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) refuse("Cannot write into the folder " + quoted(folder) + ": " + std::strerror(errno));
    ::close(fd);
    removeFileQuietly(probe);
}

bool publishFile(const fs::path& source, const fs::path& output, const std::function<bool()>& isCancelled) {
    const bool stream = isStreamDestination(output);
    FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        throw fileSystemError(FileSystemErrorCode::copyFailed,
                              "Could not read " + quoted(source) + ": " + std::strerror(errno));
    }
    return stream ? streamInto(in.get(), source, output, isCancelled)
                  : replaceAtomically(in.get(), source, output, isCancelled);
}

bool publishFileConsuming(const fs::path& source, const fs::path& output, const std::function<bool()>& isCancelled) {
    if (!isStreamDestination(output)) {
        if (isCancelled && isCancelled()) return false;
        // Only a source that is a regular file itself is moved: a link would leave its target behind.
        if (fileKindOf(source) == FileKind::regular && !fs::is_symlink(source) &&
            ::rename(source.c_str(), output.c_str()) == 0) {
            return true;
        }
    }
    return publishFile(source, output, isCancelled);
}

} // namespace orvanta
