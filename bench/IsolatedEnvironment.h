#pragma once

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace orvanta::bench {

// A private folder for a benchmark's temporary files, preferences and songs, set before anything
// reads them and removed at exit. Meant to be constructed during static initialisation, before main
// and before any manager. Audio goes to the silent output.
class IsolatedEnvironment {
public:
    // `tag` names the diagnostic and, in lower case, the folder ("Stall" → "[Stall] …", "orvanta-stall-…").
    explicit IsolatedEnvironment(const std::string& tag) {
        namespace fs = std::filesystem;
        std::string folder = tag;
        for (char& c : folder) c = char(std::tolower(static_cast<unsigned char>(c)));
        std::string pattern = (fs::temp_directory_path() / ("orvanta-" + folder + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror(("[" + tag + "] cannot create a temporary folder").c_str());
            std::exit(1);
        }
        root_ = pattern;
        fs::create_directories(root_ / "tmp");
        fs::permissions(root_ / "tmp", fs::perms::owner_all, fs::perm_options::replace);
        fs::create_directories(root_ / "config");
        fs::create_directories(root_ / "songs");
        ::setenv("ORVANTA_TEMP_DIR", (root_ / "tmp").c_str(), 1);
        ::setenv("ORVANTA_CONFIG_DIR", (root_ / "config").c_str(), 1);
        ::setenv("ORVANTA_AUDIO_OUTPUT", "null", 1);
    }
    ~IsolatedEnvironment() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    IsolatedEnvironment(const IsolatedEnvironment&) = delete;
    IsolatedEnvironment& operator=(const IsolatedEnvironment&) = delete;

    // Where the user's own songs would be: outside the temporary directory, which the window cleans.
    std::filesystem::path songsDirectory() const { return root_ / "songs"; }

private:
    std::filesystem::path root_;
};

} // namespace orvanta::bench
