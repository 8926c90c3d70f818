#pragma once

#include "support/VectorState.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace orvanta::test {

// Every test process gets a fresh scratch folder with its own private temporary directory
// (ORVANTA_TEMP_DIR) and preference folder (ORVANTA_CONFIG_DIR), removed at exit, and plays
// through the null audio output (ORVANTA_AUDIO_OUTPUT=null).
void setUpTestEnvironment();
void tearDownTestEnvironment();
// Empties the scratch, temporary and preference folders and rereads the process's preference store,
// so that every test case starts as in a process of its own. Called before each case.
void resetTestEnvironment();

// Calls resetTestEnvironment before every test case; the test mains install it.
class FreshEnvironmentPerCase : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        resetTestEnvironment();
        releaseVectorUpperHalves(); // the previous case's window may have left them in use
    }
};

// Files the test writes itself (inputs, outputs).
std::filesystem::path scratchDirectory();
// The application's private temporary directory of this process.
std::filesystem::path appTemporaryDirectory();
// The preference folder of this process.
std::filesystem::path configDirectory();

// A path in the scratch folder.
std::filesystem::path scratchPath(const std::string& name);

// Every byte of a file (empty when it cannot be read).
std::string contentsOf(const std::filesystem::path& path);

// What a run may leave behind: anything in this process's private temporary directory, or a hidden
// ".partial-" file of an unfinished write in `folder`.
bool appTemporaryDirectoryIsEmpty();
bool hasPartialFiles(const std::filesystem::path& folder);

} // namespace orvanta::test
