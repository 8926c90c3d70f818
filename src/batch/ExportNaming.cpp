#include "batch/ExportNaming.h"

#include <algorithm>
#include <cctype>

namespace orvanta {

namespace {

// `name` up to the first case-insensitive occurrence of `marker` (the whole name when absent).
std::string cutBefore(const std::string& name, std::string_view marker) {
    const auto found = std::search(name.begin(), name.end(), marker.begin(), marker.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
    return std::string(name.begin(), found);
}

} // namespace

std::string exportFileName(const std::filesystem::path& currentFile, bool finalMode, std::string_view extension) {
    if (currentFile.empty()) return defaultExportFileName;
    std::string name = currentFile.stem().string();
    name = cutBefore(cutBefore(name, "_master"), "_final");
    name += finalMode ? " (FINAL)" : " (MASTER)";
    name += '.';
    name += extension;
    return name;
}

} // namespace orvanta
