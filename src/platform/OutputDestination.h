#pragma once

#include <filesystem>
#include <functional>

namespace orvanta {

// Where a finished result goes: the user's output file. A regular file (or a new name) receives the
// result through a hidden name beside it and one rename, so it is either the old file or the whole
// new one. A character device (/dev/null, /dev/full) or a named pipe that already exists is written
// into as any Unix tool does; it is never renamed over or removed. Everything else (a folder, a
// socket, a block device) is refused. Failures throw Error (domain "FileSystem") naming the file.

// Checks, before any work is done, that `output` can receive a result: its folder exists and takes
// new files (a probe file is created and removed), or it is a writable device or pipe.
// Throws destinationRefused with the reason.
void checkOutputDestination(const std::filesystem::path& output);

// Writes every byte of `source` to `output` as described above. `isCancelled` is asked between
// chunks of 1 MiB; a yes stops the write, removes the partial file and returns false. Throws
// destinationRefused (no program reads from the pipe, a folder, ...) or writeFailed with the system's
// reason ("No space left on device"). Never throws after `output` has been replaced. Any thread;
// the process must not die of SIGPIPE (the command line catches it, the window ignores it).
bool publishFile(const std::filesystem::path& source, const std::filesystem::path& output,
                 const std::function<bool()>& isCancelled = {});

// publishFile for a source nobody needs afterwards (a run's own temporary result): into a regular
// file on the same file system it is renamed into place, as atomic as the copy's last step and
// without reading it back; elsewhere it is copied as above and stays where it was.
bool publishFileConsuming(const std::filesystem::path& source, const std::filesystem::path& output,
                          const std::function<bool()>& isCancelled = {});

} // namespace orvanta
