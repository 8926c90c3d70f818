#include "support/SpecialFiles.h"

#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace orvanta::test {

void makeNamedPipe(const std::filesystem::path& path) {
    if (::mkfifo(path.c_str(), 0600) != 0) {
        throw std::runtime_error("cannot make a named pipe: " + std::string(std::strerror(errno)));
    }
}

bool makeDeviceNode(const std::filesystem::path& path, unsigned major, unsigned minor, bool block) {
    return ::mknod(path.c_str(), (block ? S_IFBLK : S_IFCHR) | 0600, makedev(major, minor)) == 0;
}

UnixSocket::UnixSocket(const std::filesystem::path& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = path.string();
    if (fd_ < 0 || name.size() >= sizeof address.sun_path) throw std::runtime_error("cannot make a socket");
    std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 1) != 0) {
        throw std::runtime_error("cannot bind a socket: " + std::string(std::strerror(errno)));
    }
}

UnixSocket::~UnixSocket() {
    if (fd_ >= 0) ::close(fd_);
}

SmallFileSystem::SmallFileSystem(const std::filesystem::path& folder, std::size_t bytes, bool readOnly)
    : folder_(folder) {
    std::filesystem::create_directories(folder);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, options.c_str()) == 0) {
        mounted_ = true;
    } else {
        failure_ = "cannot mount a tmpfs at " + folder.string() + ": " + std::strerror(errno);
    }
}

SmallFileSystem::~SmallFileSystem() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

} // namespace orvanta::test
