#pragma once

#include <filesystem>

namespace orvanta {

// The engine names its files after its input ("<name>_master.wav", "<name>_analyzer_eq_master.wav"),
// which overflows the file system's limit of 255 bytes per name when the song's own name is long but
// legal. Such a song is handed to the engine as a symbolic link in the private temporary directory,
// named after the first 180 bytes of the song's name; a shorter name is used as it is. The link is
// removed when this object goes. Any thread; throws Error (domain "FileSystem") when the link cannot
// be made.
class EngineInput {
public:
    explicit EngineInput(const std::filesystem::path& song);
    ~EngineInput();
    EngineInput(const EngineInput&) = delete;
    EngineInput& operator=(const EngineInput&) = delete;

    // What to hand to the engine: the song itself, or the link to it.
    const std::filesystem::path& path() const noexcept { return path_; }

private:
    std::filesystem::path path_;
    bool linked_ = false;
};

} // namespace orvanta
