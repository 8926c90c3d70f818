#include "engine/PassOutput.h"

#include "platform/AudioFileWriter.h"
#include "platform/FileOperations.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <new>
#include <vector>

namespace orvanta {

namespace {

// The bytes held by every PassOutput of the process.
std::atomic<uint64_t> heldInProcess{0};

// Takes `bytes` from the budget if they fit what is left.
bool reserve(uint64_t bytes) noexcept {
    uint64_t held = heldInProcess.load();
    do {
        if (bytes > PassOutput::memoryBudgetBytes - held) return false;
    } while (!heldInProcess.compare_exchange_weak(held, held + bytes));
    return true;
}

// The held samples go to the file in blocks, so that the writer's interleaving buffer stays small.
constexpr uint32_t writeBlockFrames = 65536;

void writeWav(const AudioBuffer& samples, const std::filesystem::path& path) {
    AudioFileWriter writer(path, samples.format(), 24, samples.frameLength());
    std::vector<const float*> channels(samples.channelCount());
    for (uint32_t done = 0; done < samples.frameLength();) {
        const uint32_t n = std::min(writeBlockFrames, samples.frameLength() - done);
        for (uint32_t c = 0; c < samples.channelCount(); ++c) channels[c] = samples.channel(c) + done;
        writer.write(channels.data(), n);
        done += n;
    }
    writer.close();
}

} // namespace

PassOutput::~PassOutput() { discard(); }

PassOutput::PassOutput(PassOutput&& other) noexcept
    : spill_(std::move(other.spill_)), keeping_(other.keeping_), held_(std::move(other.held_)),
      heldBytes_(other.heldBytes_) {
    other.spill_.clear();
    other.held_.reset();
    other.heldBytes_ = 0;
}

PassOutput& PassOutput::operator=(PassOutput&& other) noexcept {
    if (this != &other) {
        discard();
        spill_ = std::move(other.spill_);
        keeping_ = other.keeping_;
        held_ = std::move(other.held_);
        heldBytes_ = other.heldBytes_;
        other.spill_.clear();
        other.held_.reset();
        other.heldBytes_ = 0;
    }
    return *this;
}

AudioBuffer* PassOutput::hold(const AudioFormat& format, int64_t frames) noexcept {
    release();
    if (keeping_ == PassKeeping::written) return nullptr;
    if (frames < 1 || frames > std::numeric_limits<uint32_t>::max()) return nullptr;
    const uint64_t bytes = uint64_t(frames) * format.channelCount * sizeof(float);
    if (!reserve(bytes)) return nullptr;
    heldBytes_ = bytes;
    try {
        held_.emplace(format, uint32_t(frames));
        held_->setFrameLength(uint32_t(frames));
        return &*held_;
    } catch (const std::bad_alloc&) {
        release();
        return nullptr;
    }
}

void PassOutput::release() noexcept {
    held_.reset();
    heldInProcess -= heldBytes_;
    heldBytes_ = 0;
}

void PassOutput::placeAt(const std::filesystem::path& result) {
    if (held_) {
        try {
            writeWav(*held_, spill_);
        } catch (...) {
            removeFileQuietly(spill_);
            throw;
        }
        release();
    }
    if (fileExists(result)) removeFile(result);
    moveFile(spill_, result);
    spill_.clear();
}

void PassOutput::discard() noexcept {
    release();
    if (!spill_.empty()) removeFileQuietly(spill_);
    spill_.clear();
}

} // namespace orvanta
