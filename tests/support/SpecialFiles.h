#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace orvanta::test {

// Real special files for the tests of hostile inputs and outputs. Making device nodes and mounting
// need root (CI runs as root); where the machine does not allow it, these return false and the test
// skips with the reason.

// A named pipe at `path`. Throws when it cannot be made.
void makeNamedPipe(const std::filesystem::path& path);

// A character (or block) device node at `path` with the given numbers: 1/3 is the null device, 1/7
// the full device. Tests write into such a copy, never into /dev itself. False when not allowed.
bool makeDeviceNode(const std::filesystem::path& path, unsigned major, unsigned minor, bool block = false);

// A listening Unix socket at `path`, closed with the object.
class UnixSocket {
public:
    explicit UnixSocket(const std::filesystem::path& path);
    ~UnixSocket();
    UnixSocket(const UnixSocket&) = delete;
    UnixSocket& operator=(const UnixSocket&) = delete;

private:
    int fd_ = -1;
};

// A small tmpfs mounted at `folder` (created), unmounted with the object: a real file system that
// fills up. `readOnly` mounts it read-only instead.
class SmallFileSystem {
public:
    SmallFileSystem(const std::filesystem::path& folder, std::size_t bytes, bool readOnly = false);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return mounted_; }
    // Why it could not be mounted.
    const std::string& failure() const { return failure_; }

private:
    std::filesystem::path folder_;
    bool mounted_ = false;
    std::string failure_;
};

} // namespace orvanta::test
