#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

namespace orvanta {

class AudioReaderBackend;

// A song decoded once for every reader of a run. While a DecodedInput lives, each AudioFileReader
// opened on the same file (by any path or link to it, as long as it is unchanged) reads the samples
// from memory instead of opening and decoding the file again, with the same samples, length and
// format. The song is decoded only while the decoded inputs of the process fit the budget together
// (1 GiB of float samples); beyond it, or when the file cannot be read in one go, the readers stream
// it from the file as before. Decoding the same file again while it is held shares the samples. Any
// thread; never throws.
class DecodedInput {
public:
    static constexpr uint64_t budgetBytes = uint64_t(1) << 30;

    explicit DecodedInput(const std::filesystem::path& path) noexcept;
    ~DecodedInput();
    DecodedInput(const DecodedInput&) = delete;
    DecodedInput& operator=(const DecodedInput&) = delete;

    bool isInMemory() const noexcept { return held_; }

private:
    struct FileIdentity {
        uint64_t device = 0, inode = 0, size = 0;
        int64_t modifiedNanoseconds = 0;
    };
    static bool identify(const std::filesystem::path& path, FileIdentity& identity) noexcept;
    friend std::unique_ptr<AudioReaderBackend> openDecodedBackend(const std::filesystem::path& path);

    FileIdentity identity_;
    bool held_ = false;
};

// Internal to the platform layer: a reader of the samples held for `path`, or nullptr.
std::unique_ptr<AudioReaderBackend> openDecodedBackend(const std::filesystem::path& path);

} // namespace orvanta
