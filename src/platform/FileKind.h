#pragma once

#include <filesystem>
#include <string_view>

namespace orvanta {

// What a path names on disk, after following symbolic links. Only regular files are read as audio:
// opening a named pipe blocks until some other program writes to it, and a device or a socket
// never ends.
enum class FileKind { missing, regular, folder, namedPipe, socket, characterDevice, blockDevice, other };

// Any thread; never throws (a path that cannot be examined counts as missing).
FileKind fileKindOf(const std::filesystem::path& path) noexcept;

// "a folder", "a named pipe (FIFO)", "a socket", "a character device", "a block device", ... for
// messages of the form "<file> is <description>".
std::string_view describeFileKind(FileKind kind) noexcept;

} // namespace orvanta
