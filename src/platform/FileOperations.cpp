#include "platform/FileOperations.h"

#include "platform/Error.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <optional>
#include <string_view>
#include <vector>

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

namespace {

constexpr std::string_view partialMark = ".partial-";

// "." + the start of `to`'s name that leaves room for a suffix of `suffixBytes` in the folder.
std::string partialStem(const fs::path& to, std::size_t suffixBytes) {
    const std::size_t limit = fileNameLimit(to.parent_path());
    const std::size_t room = limit > suffixBytes + 1 ? limit - suffixBytes - 1 : 0;
    return "." + utf8Prefix(to.filename().string(), room);
}

// The process id in a suffix "<pid>-<counter>-<random>" (what follows partialMark), or none when the
// text has another shape.
std::optional<pid_t> partialOwner(std::string_view suffix) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t dash = suffix.find('-', start);
        fields.push_back(suffix.substr(start, dash == std::string_view::npos ? dash : dash - start));
        if (dash == std::string_view::npos) break;
        start = dash + 1;
    }
    if (fields.size() != 3) return std::nullopt;
    for (const std::string_view field : fields) {
        if (field.empty() || field.size() > 10) return std::nullopt;
        for (const char c : field)
            if (c < '0' || c > '9') return std::nullopt;
    }
    const long long pid = std::stoll(std::string(fields[0]));
    if (pid <= 0 || pid > 0x7FFFFFFF) return std::nullopt;
    return pid_t(pid);
}

} // namespace

fs::path siblingTemporaryPath(const fs::path& to) {
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string suffix = std::string(partialMark) + std::to_string(::getpid()) + "-" +
                               std::to_string(counter++) + "-" + std::to_string(device() ^ unsigned(stamp));
    // A long legal name would overflow the folder's name limit with the suffix added: the name part
    // is shortened instead, the unique suffix stays whole.
    return to.parent_path() / (partialStem(to, suffix.size()) + suffix);
}

void removeStalePartialFiles(const fs::path& to) noexcept {
    try {
        const fs::path folder = to.parent_path().empty() ? fs::path(".") : to.parent_path();
        const auto now = fs::file_time_type::clock::now();
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            const std::size_t mark = name.rfind(partialMark);
            if (mark == std::string::npos) continue;
            // The stem must be the one this output's partial files get with a suffix of that length.
            const std::string_view suffix = std::string_view(name).substr(mark + partialMark.size());
            if (name.substr(0, mark) != partialStem(to, name.size() - mark)) continue;
            const std::optional<pid_t> owner = partialOwner(suffix);
            if (!owner || (::kill(*owner, 0) == 0 || errno != ESRCH)) continue;
            struct stat info {};
            if (::lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
                continue;
            std::error_code ignored;
            const auto written = fs::last_write_time(it->path(), ignored);
            if (ignored || now - written < std::chrono::minutes(5)) continue;
            fs::remove(it->path(), ignored);
        }
    } catch (...) {
    }
}

void copyFileAtomically(const fs::path& from, const fs::path& to) {
    removeStalePartialFiles(to);
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

void writeBesideThenRename(const std::filesystem::path& to,
                           const std::function<void(const std::filesystem::path& partial)>& write) {
    const std::filesystem::path partial = siblingTemporaryPath(to);
    try {
        write(partial);
        moveFile(partial, to);
    } catch (...) {
        removeFileQuietly(partial);
        throw;
    }
}

} // namespace orvanta
