#include "platform/DecodedInput.h"

#include "platform/AudioBuffer.h"
#include "platform/AudioFileReader.h"
#include "platform/AudioReaderBackend.h"
#include "platform/Error.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <vector>

namespace orvanta {

namespace {

struct HeldSamples {
    std::shared_ptr<const AudioBuffer> samples;
    int64_t declaredFrames = -1; // the length the file's header claims, for the truncation note
    int holders = 0;
};

// The samples held in this process, by file.
struct Registry {
    std::mutex mutex;
    std::map<std::array<int64_t, 4>, HeldSamples> held;
    uint64_t bytes = 0;            // under mutex
    std::atomic<int> entries{0};  // lets readers skip the look-up while nothing is held
};

Registry& registry() {
    static Registry instance;
    return instance;
}

class DecodedBackend final : public AudioReaderBackend {
public:
    DecodedBackend(std::shared_ptr<const AudioBuffer> samples, int64_t declaredFrames)
        : samples_(std::move(samples)), declaredFrames_(declaredFrames) {}
    AudioFormat format() const override { return samples_->format(); }
    int64_t lengthFrames() const override { return samples_->frameLength(); }
    int64_t declaredFrames() const override { return declaredFrames_; }
    // The samples were read through AudioFileReader::read, which refuses what the check refuses.
    bool samplesChecked() const override { return true; }
    const AudioBuffer* samplesInMemory() const override { return samples_.get(); }
    uint32_t read(int64_t startFrame, float* const* channels, uint32_t frames) override {
        const int64_t available = std::max<int64_t>(int64_t(samples_->frameLength()) - startFrame, 0);
        const uint32_t count = uint32_t(std::min<int64_t>(frames, available));
        for (uint32_t c = 0; c < samples_->channelCount(); ++c) {
            const float* from = samples_->channel(c) + startFrame;
            std::copy(from, from + count, channels[c]);
        }
        return count;
    }

private:
    std::shared_ptr<const AudioBuffer> samples_;
    int64_t declaredFrames_;
};

// Below this many frames a second reader costs more than it saves.
constexpr int64_t shortestSplitFrames = 1 << 20;

// Frames [first, end) of the file into `samples`, by `reader` from `first` on; false when fewer decode.
bool readPart(AudioFileReader& reader, AudioBuffer& samples, int64_t first, int64_t end) {
    std::vector<float*> channels(samples.channelCount());
    for (uint32_t c = 0; c < samples.channelCount(); ++c) channels[c] = samples.channel(c) + first;
    reader.setFramePosition(first);
    return reader.read(channels.data(), uint32_t(end - first)) == uint32_t(end - first);
}

// The whole file in its processing format, or nullptr when it does not fit `room` or cannot be read
// in one go (the streaming readers then meet and handle whatever went wrong, as they always have).
std::shared_ptr<const AudioBuffer> decodeWhole(const std::filesystem::path& path, uint64_t room,
                                               const DecodedInput::ForEachPart& forEachPart,
                                               int64_t& declaredFrames) noexcept {
    try {
        AudioFileReader reader(path);
        declaredFrames = reader.declaredLengthFrames();
        const int64_t length = reader.lengthFrames();
        const uint64_t bytes = uint64_t(length) * reader.channelCount() * sizeof(float);
        if (length < 1 || bytes > room) return nullptr;
        auto samples = std::make_shared<AudioBuffer>(reader.makeBuffer(uint32_t(length)));
        samples->setFrameLength(uint32_t(length));
        if (!forEachPart || length < shortestSplitFrames || !reader.readsAnywhere()) {
            return readPart(reader, *samples, 0, length) ? samples : nullptr;
        }
        const int64_t half = length / 2;
        bool complete[2] = {false, false};
        forEachPart(2, [&](uint32_t part) {
            if (part == 0) {
                complete[0] = readPart(reader, *samples, 0, half);
                return;
            }
            AudioFileReader second(path);
            complete[1] = second.lengthFrames() == length && readPart(second, *samples, half, length);
        });
        return complete[0] && complete[1] ? samples : nullptr;
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::array<int64_t, 4> keyOf(uint64_t device, uint64_t inode, uint64_t size, int64_t modified) {
    return {int64_t(device), int64_t(inode), int64_t(size), modified};
}

} // namespace

bool DecodedInput::identify(const std::filesystem::path& path, FileIdentity& identity) noexcept {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    identity = {uint64_t(status.st_dev), uint64_t(status.st_ino), uint64_t(status.st_size),
                int64_t(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
    return true;
}

DecodedInput::DecodedInput(const std::filesystem::path& path, const ForEachPart& forEachPart) noexcept {
    if (!identify(path, identity_)) return;
    Registry& r = registry();
    const auto key = keyOf(identity_.device, identity_.inode, identity_.size, identity_.modifiedNanoseconds);
    uint64_t room = 0;
    {
        const std::lock_guard<std::mutex> lock(r.mutex);
        if (const auto found = r.held.find(key); found != r.held.end()) {
            ++found->second.holders;
            held_ = true;
            return;
        }
        room = budgetBytes - std::min(budgetBytes, r.bytes);
    }
    int64_t declaredFrames = -1;
    std::shared_ptr<const AudioBuffer> samples = decodeWhole(path, room, forEachPart, declaredFrames);
    if (!samples) return;
    const uint64_t bytes = uint64_t(samples->frameLength()) * samples->channelCount() * sizeof(float);
    const std::lock_guard<std::mutex> lock(r.mutex);
    HeldSamples& entry = r.held[key];
    if (entry.holders == 0) {
        // Another thread may have decoded the same file meanwhile: theirs is kept.
        if (!entry.samples) {
            if (r.bytes + bytes > budgetBytes) {
                r.held.erase(key);
                return;
            }
            entry.samples = std::move(samples);
            entry.declaredFrames = declaredFrames;
            r.bytes += bytes;
            r.entries.fetch_add(1);
        }
    }
    ++entry.holders;
    held_ = true;
}

DecodedInput::~DecodedInput() {
    if (!held_) return;
    Registry& r = registry();
    const auto key = keyOf(identity_.device, identity_.inode, identity_.size, identity_.modifiedNanoseconds);
    const std::lock_guard<std::mutex> lock(r.mutex);
    const auto found = r.held.find(key);
    if (found == r.held.end() || --found->second.holders > 0) return;
    r.bytes -= uint64_t(found->second.samples->frameLength()) * found->second.samples->channelCount() * sizeof(float);
    r.held.erase(found);
    r.entries.fetch_sub(1);
}

std::unique_ptr<AudioReaderBackend> openDecodedBackend(const std::filesystem::path& path) {
    Registry& r = registry();
    if (r.entries.load() == 0) return nullptr;
    DecodedInput::FileIdentity identity;
    if (!DecodedInput::identify(path, identity)) return nullptr;
    const auto key = keyOf(identity.device, identity.inode, identity.size, identity.modifiedNanoseconds);
    const std::lock_guard<std::mutex> lock(r.mutex);
    const auto found = r.held.find(key);
    if (found == r.held.end() || !found->second.samples) return nullptr;
    return std::make_unique<DecodedBackend>(found->second.samples, found->second.declaredFrames);
}

} // namespace orvanta
