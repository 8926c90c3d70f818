#include "platform/FileOperations.h"

#include "platform/Error.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <random>

namespace orvanta {

namespace fs = std::filesystem;

namespace {
std::string quoted(const fs::path& path) { return "\"" + path.string() + "\""; }
} // namespace

bool fileExists(const fs::path& path) noexcept {
    std::error_code ec;
    return fs::exists(path, ec);
}

void removeFile(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
    if (ec) {
        throw fileSystemError(FileSystemErrorCode::removeFailed,
                              "Could not delete " + quoted(path) + ": " + ec.message());
    }
}

bool removeFileQuietly(const fs::path& path) noexcept {
    std::error_code ec;
    fs::remove(path, ec);
    return !fs::exists(path, ec);
}

void moveFile(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec) {
        return;
    }
    if (ec == std::errc::cross_device_link) {
        copyFileAtomically(from, to);
        fs::remove(from, ec);
        return;
    }
    throw fileSystemError(FileSystemErrorCode::moveFailed,
                          "Could not move " + quoted(from) + " to " + quoted(to) + ": " + ec.message());
}

void copyFile(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    if (!fs::exists(from, ec)) {
        throw fileSystemError(FileSystemErrorCode::notFound, "The file " + quoted(from) + " does not exist");
    }
    fs::copy_file(from, to, fs::copy_options::none, ec);
    if (ec) {
        throw fileSystemError(FileSystemErrorCode::copyFailed,
                              "Could not copy " + quoted(from) + " to " + quoted(to) + ": " + ec.message());
    }
}

std::size_t fileNameLimit(const fs::path& folder) noexcept {
    const long limit = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? std::size_t(limit) : 255;
}

std::string utf8Prefix(const std::string& name, std::size_t bytes) {
    if (name.size() <= bytes) return name;
    while (bytes > 0 && (static_cast<unsigned char>(name[bytes]) & 0xC0) == 0x80) --bytes;
    return name.substr(0, bytes);
}

fs::path siblingTemporaryPath(const fs::path& to) {
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string suffix = ".partial-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                               std::to_string(device() ^ unsigned(stamp));
    // A long legal name would overflow the folder's name limit with the suffix added: the name part
    // is shortened instead, the unique suffix stays whole.
    const std::size_t limit = fileNameLimit(to.parent_path());
    const std::size_t room = limit > suffix.size() + 1 ? limit - suffix.size() - 1 : 0;
    return to.parent_path() / ("." + utf8Prefix(to.filename().string(), room) + suffix);
}

void copyFileAtomically(const fs::path& from, const fs::path& to) {
    const fs::path partial = siblingTemporaryPath(to);
    try {
        copyFile(from, partial);
        std::error_code ec;
        fs::rename(partial, to, ec);
        if (ec) {
            throw fileSystemError(FileSystemErrorCode::copyFailed,
                                  "Could not write " + quoted(to) + ": " + ec.message());
        }
    } catch (...) {
        removeFileQuietly(partial);
        throw;
    }
}

std::string baseNameWithoutExtension(const fs::path& path) { return path.stem().string(); }

bool isSameFile(const fs::path& a, const fs::path& b) noexcept {
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec)) {
        const bool same = fs::equivalent(a, b, ec);
        if (!ec) {
            return same;
        }
    }
    return fs::weakly_canonical(a, ec).lexically_normal() == fs::weakly_canonical(b, ec).lexically_normal();
}

} // namespace orvanta
