#pragma once

#include <filesystem>
#include <functional>

namespace orvanta {

// Where a finished result goes: the user's output file. A regular file (or a new name) receives the
// result through a hidden name beside it and one rename, so it is either the old file or the whole
// new one. A character device (/dev/null, /dev/full) or a named pipe that already exists is written
// into as any Unix tool does; it is never renamed over or removed. A symbolic link is written
// through: the file at the end of its chain is the one replaced (or created), the link stays. A link
// to an open descriptor (/dev/stdout, /dev/fd/N, /proc/self/fd/N) is written into in place, and when
// it is this process's standard output, through that descriptor. Everything else (a folder, a socket,
// a block device) is refused. Failures throw Error (domain "FileSystem") naming the file.

// What writing to an output path really touches.
struct OutputTarget {
    std::filesystem::path path; // the path itself, or the end of its chain of symbolic links
    bool inPlace = false;       // written into as it is (a device, a pipe, a descriptor's link)
};

// Follows `output`'s symbolic links (at most 40) to the file that receives the result. Throws
// destinationRefused for a chain that loops. Any thread.
OutputTarget resolveOutputTarget(const std::filesystem::path& output);

// True when `output` names the file this process's standard output is (the same inode): whatever the
// process prints there would land inside the result.
bool isStandardOutput(const std::filesystem::path& output) noexcept;

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
