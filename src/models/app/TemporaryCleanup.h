#pragma once

#include <filesystem>

namespace orvanta {

// Removes rendered audio files from the application's private temporary directory: files whose
// lowercased extension is wav, mp3, aif, aiff, m4a or flac; with `all` false only those whose name
// contains "_master" or "_final". Other files, folders and anything outside the private directory
// (the shared system temp root above all) are never touched. Failures are silent. Any thread.
void cleanUpTemporaryFiles(bool all);

// The same inside `directory` (its direct entries only).
void cleanUpTemporaryFiles(const std::filesystem::path& directory, bool all);

} // namespace orvanta
