#include "engine/PassOutput.h"

#include "platform/AudioFileWriter.h"
#include "platform/FileOperations.h"

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

namespace orvanta {

namespace {

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
    : spill_(std::move(other.spill_)), held_(std::move(other.held_)) {
    other.spill_.clear();
    other.held_.reset();
}

PassOutput& PassOutput::operator=(PassOutput&& other) noexcept {
    if (this != &other) {
        discard();
        spill_ = std::move(other.spill_);
        held_ = std::move(other.held_);
        other.spill_.clear();
        other.held_.reset();
    }
    return *this;
}

AudioBuffer* PassOutput::hold(const AudioFormat& format, int64_t frames) noexcept {
    held_.reset();
    if (frames < 1 || frames > std::numeric_limits<uint32_t>::max()) return nullptr;
    if (uint64_t(frames) * format.channelCount * sizeof(float) > memoryBudgetBytes) return nullptr;
    try {
        held_.emplace(format, uint32_t(frames));
        held_->setFrameLength(uint32_t(frames));
        return &*held_;
    } catch (const std::bad_alloc&) {
        held_.reset();
        return nullptr;
    }
}

void PassOutput::placeAt(const std::filesystem::path& result) {
    if (held_) {
        try {
            writeWav(*held_, spill_);
        } catch (...) {
            removeFileQuietly(spill_);
            throw;
        }
        held_.reset();
    }
    if (fileExists(result)) removeFile(result);
    moveFile(spill_, result);
    spill_.clear();
}

void PassOutput::discard() noexcept {
    held_.reset();
    if (!spill_.empty()) removeFileQuietly(spill_);
    spill_.clear();
}

} // namespace orvanta
