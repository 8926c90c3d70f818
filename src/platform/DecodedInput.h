#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
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

    // Runs job(0) … job(count − 1) and returns when all are done, side by side or one after another,
    // as the caller's threads allow; rethrows an error of a job.
    using ForEachPart = std::function<void(uint32_t count, const std::function<void(uint32_t)>& job)>;

    // With `forEachPart`, a file that can be read from anywhere (PCM, FLAC) is decoded in two halves
    // through it, each by a reader of its own; the samples are the same.
    explicit DecodedInput(const std::filesystem::path& path, const ForEachPart& forEachPart = {}) noexcept;
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
