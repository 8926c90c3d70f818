#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace orvanta {

// Small file helpers that report failures as Error (domain "FileSystem") naming the files.

bool fileExists(const std::filesystem::path& path) noexcept;

// Removes a file; a missing file is not an error. Throws on failure.
void removeFile(const std::filesystem::path& path);
// Removes a file and ignores every failure. Returns true when no file remains.
bool removeFileQuietly(const std::filesystem::path& path) noexcept;

// Moves a file, replacing an existing destination; falls back to copy-and-remove across devices.
void moveFile(const std::filesystem::path& from, const std::filesystem::path& to);
// Copies a file; fails when the destination exists.
void copyFile(const std::filesystem::path& from, const std::filesystem::path& to);
// Copies `from` to a hidden temporary name beside `to`, then renames it over `to`, so `to` is
// either the old file or the complete new one, never a partial copy. Throws on failure.
void copyFileAtomically(const std::filesystem::path& from, const std::filesystem::path& to);

// Calls `write` with a hidden name beside `to` (siblingTemporaryPath), then renames that file over
// `to`; when `write` or the rename throws, the hidden file is removed and the exception passes on. So
// `to` is the old file or the whole new one, and nothing is left behind.
void writeBesideThenRename(const std::filesystem::path& to,
                           const std::function<void(const std::filesystem::path& partial)>& write);

// A hidden, unique name in `to`'s folder for writing a file that is renamed over `to` once complete.
// Within the folder's name limit however long `to`'s name is (the name part is shortened).
std::filesystem::path siblingTemporaryPath(const std::filesystem::path& to);

// Removes the hidden files that siblingTemporaryPath(to) gave runs that died before renaming them
// (killed outright, a crash, a power cut): regular files of this user with exactly that name pattern
// whose process no longer exists and which nothing has written to for five minutes (a run of the same
// process id on another machine that shares the folder is still writing to its own). Never throws.
void removeStalePartialFiles(const std::filesystem::path& to) noexcept;

// The longest file name `folder` takes, in bytes (NAME_MAX: 255 on every common Linux file system;
// 255 when the folder cannot be asked).
std::size_t fileNameLimit(const std::filesystem::path& folder) noexcept;

// The first `bytes` bytes of a UTF-8 name, never ending inside a character.
std::string utf8Prefix(const std::string& name, std::size_t bytes);

// Last path component without its extension ("Song" for "/a/Song.wav").
std::string baseNameWithoutExtension(const std::filesystem::path& path);

// Same file on disk (both exist and are the same inode), or the same normalised absolute path.
bool isSameFile(const std::filesystem::path& a, const std::filesystem::path& b) noexcept;

} // namespace orvanta
