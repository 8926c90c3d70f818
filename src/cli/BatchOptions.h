#pragma once

#include "batch/ExportFormat.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {
class PreferenceStore;
}

namespace orvanta::cli {

// What `orvanta-cli master IN... [-o FOLDER] [--jobs N] [--skip-existing]` was asked to do.
struct BatchOptions {
    std::vector<std::filesystem::path> inputs;
    // Where the masters go; beside each input when absent.
    std::optional<std::filesystem::path> folder;
    // The single-file options (--preset, --target, --ceiling, --reference, --match-amount), as the
    // user wrote them: every file's run gets them unchanged.
    std::vector<std::string> masterOptions;
    ExportFormat format = ExportFormat::wav;
    std::optional<std::filesystem::path> reference;
    int jobs = 1;
    bool skipExisting = false;
    bool album = false; // --album: one gain for every song, set by the one that needs the least
    bool json = false;
};

// True when the words after "master" ask for more than one file: several inputs, --jobs,
// --skip-existing or --album. Does not validate anything; a malformed line is left to the parser that runs next.
bool isBatchMasterForm(const std::vector<std::string>& words);
// True when they ask for an album (--album before any "--").
bool isAlbumMasterForm(const std::vector<std::string>& words);

// Parses and checks every option before any work starts: throws UsageError for a bad value, an -o
// that exists but is not a folder, or --match-amount without --reference. Whether the folder
// exists is the caller's check (a failure, not a usage error).
BatchOptions parseBatchOptions(const std::vector<std::string>& words, const PreferenceStore& preferences);

// The largest --jobs: more would only compete for the same cores and multiply the memory in use.
inline constexpr int maximumJobs = 64;

// The number of cores this process may run on (its CPU affinity), at least 1.
int availableCores() noexcept;

} // namespace orvanta::cli
