#pragma once

#include "platform/Error.h"

#include <filesystem>
#include <optional>
#include <string>

namespace orvanta::cli {

// Why `file` cannot be read as an input, before anything opens it: "no such file", "is a folder",
// "is a named pipe (FIFO), not an audio file", ...; none for a regular file (or a link to one).
std::optional<std::string> inputProblem(const std::filesystem::path& file);

// Why `output` must not be written: it is the same file as the input or the reference (by name, a
// link, a hard link or a bind mount), which the result would overwrite; none when it is neither.
std::optional<std::string> outputReplacesInput(const std::filesystem::path& output, const std::filesystem::path& input,
                                               const std::optional<std::filesystem::path>& reference);

// "cancelled by SIGHUP" for the signal that ended the run.
std::string cancelledText();

} // namespace orvanta::cli
