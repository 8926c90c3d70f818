#include "support/TestEnvironment.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace orvanta::test {

namespace fs = std::filesystem;

namespace {
fs::path& root() {
    static fs::path path;
    return path;
}
} // namespace

void setUpTestEnvironment() {
    std::string pattern = (fs::temp_directory_path() / "orvanta-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a scratch folder");
    }
    root() = pattern;
    fs::create_directories(root() / "files");
    fs::create_directories(root() / "config");
    ::setenv("ORVANTA_TEMP_DIR", (root() / "apptmp").c_str(), 1);
    ::setenv("ORVANTA_CONFIG_DIR", (root() / "config").c_str(), 1);
    // No test touches a sound card: the default output path is the null one in every test process.
    ::setenv("ORVANTA_AUDIO_OUTPUT", "null", 1);
}

void resetTestEnvironment() {
    for (const fs::path& folder : {scratchDirectory(), appTemporaryDirectory(), configDirectory()}) {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    fs::create_directories(scratchDirectory());
    fs::create_directories(configDirectory());
}

void tearDownTestEnvironment() {
    if (!root().empty() && std::getenv("ORVANTA_KEEP_TEST_FILES") == nullptr) {
        std::error_code ec;
        fs::remove_all(root(), ec);
    }
}

fs::path scratchDirectory() { return root() / "files"; }
fs::path appTemporaryDirectory() { return root() / "apptmp"; }
fs::path configDirectory() { return root() / "config"; }
fs::path scratchPath(const std::string& name) { return scratchDirectory() / name; }

std::string contentsOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool appTemporaryDirectoryIsEmpty() {
    return !fs::exists(appTemporaryDirectory()) || fs::is_empty(appTemporaryDirectory());
}

bool hasPartialFiles(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find(".partial-") != std::string::npos) return true;
    return false;
}

} // namespace orvanta::test
