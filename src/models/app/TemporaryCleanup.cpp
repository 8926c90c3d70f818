#include "models/app/TemporaryCleanup.h"

#include "platform/TemporaryDirectory.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <string_view>
#include <system_error>

namespace orvanta {

namespace {

constexpr std::array<std::string_view, 6> audioExtensions = {"wav", "mp3", "aif", "aiff", "m4a", "flac"};

bool hasAudioExtension(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    if (extension.size() < 2) {
        return false;
    }
    extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(audioExtensions.begin(), audioExtensions.end(), extension) != audioExtensions.end();
}

bool isRenderedResult(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    return name.find("_master") != std::string::npos || name.find("_final") != std::string::npos;
}

} // namespace

void cleanUpTemporaryFiles(bool all) {
    std::filesystem::path directory;
    try {
        directory = privateTemporaryDirectory();
    } catch (...) {
        return; // no safe directory: nothing of ours to remove
    }
    cleanUpTemporaryFiles(directory, all);
}

void cleanUpTemporaryFiles(const std::filesystem::path& directory, bool all) {
    std::error_code error;
    std::filesystem::directory_iterator entries(directory, error);
    if (error) {
        return;
    }
    for (const auto& entry : entries) {
        const std::filesystem::path& path = entry.path();
        if (!hasAudioExtension(path) || (!all && !isRenderedResult(path))) {
            continue;
        }
        std::error_code typeError;
        // A folder named like an audio file is not a rendered file; a symbolic link is removed itself,
        // never what it points to.
        if (entry.is_directory(typeError) && !entry.is_symlink(typeError)) {
            continue;
        }
        std::error_code removeError;
        std::filesystem::remove(path, removeError);
    }
}

} // namespace orvanta
