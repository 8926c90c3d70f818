#pragma once

#include <filesystem>

namespace orvanta {

// The application's private temporary directory, where every intermediate and result file lives
// until it is exported. Per user, mode 0700, owned by the user and never a symbolic link; never the
// shared system temp root itself. Location: $ORVANTA_TEMP_DIR when set (tests), otherwise
// <$TMPDIR or /tmp>/orvanta-<uid>. Created on first use; re-checked on every call, so a directory
// removed meanwhile is made again. Thread-safe. Throws Error (domain "FileSystem") when the
// directory cannot be created or is not safe to use.
std::filesystem::path privateTemporaryDirectory();

} // namespace orvanta
