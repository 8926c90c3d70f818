#pragma once

#include "platform/Error.h"

#include <filesystem>
#include <optional>
#include <string>

namespace orvanta::cli {

// Why `file` cannot be read as an input, before anything opens it: "no such file", "is a folder",
// "is a named pipe (FIFO), not an audio file", ...; none for a regular file (or a link to one).
std::optional<std::string> inputProblem(const std::filesystem::path& file);

// "cancelled by SIGHUP" for the signal that ended the run.
std::string cancelledText();

} // namespace orvanta::cli
