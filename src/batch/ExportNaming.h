#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace orvanta {

// The name proposed for an exported song: the file's name without extension, cut before the
// first "_master" and then before the first "_final" (case-insensitive), then " (FINAL)" or
// " (MASTER)", then "." and `extension`. Without a current file: "masterized_audio.wav".
std::string exportFileName(const std::filesystem::path& currentFile, bool finalMode, std::string_view extension);

inline constexpr const char* defaultExportFileName = "masterized_audio.wav";

} // namespace orvanta
