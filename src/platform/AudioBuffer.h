#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace orvanta {

// Processing format of a file or buffer: non-interleaved 32-bit float at the file's own rate.
struct AudioFormat {
    double sampleRate = 44100.0; // Hz
    uint32_t channelCount = 0;
    // Where each channel plays (platform/ChannelLayout.h, one bit per channel in order); 0 when the
    // file does not say. Files written from this format keep it.
    uint64_t channelMask = 0;

    bool operator==(const AudioFormat&) const = default;
};

// Multichannel non-interleaved float buffer with a fixed frame capacity and a current frame length.
// Channels are contiguous blocks of `frameCapacity` samples; only the first `frameLength` are valid.
class AudioBuffer {
public:
    AudioBuffer() = default;
    // Allocates channelCount × frameCapacity zeroed samples; throws std::bad_alloc when memory is short.
    // A large buffer comes zeroed from the system as its pages are first touched, so a buffer for a
    // whole song costs nothing until it is filled, and is filled by whichever thread writes it.
    AudioBuffer(AudioFormat format, uint32_t frameCapacity);
    AudioBuffer(const AudioBuffer& other);
    AudioBuffer& operator=(const AudioBuffer& other);
    AudioBuffer(AudioBuffer&& other) noexcept = default;
    AudioBuffer& operator=(AudioBuffer&& other) noexcept = default;

    const AudioFormat& format() const noexcept { return format_; }
    double sampleRate() const noexcept { return format_.sampleRate; }
    uint32_t channelCount() const noexcept { return format_.channelCount; }
    uint32_t frameCapacity() const noexcept { return frameCapacity_; }
    uint32_t frameLength() const noexcept { return frameLength_; }
    // Clamped to the capacity.
    void setFrameLength(uint32_t frames) noexcept;

    // False for a buffer without channels or storage: the "no float channel data" case.
    bool hasFloatData() const noexcept { return format_.channelCount > 0 && frameCapacity_ > 0; }

    float* channel(uint32_t index) noexcept { return samples_.get() + size_t(index) * frameCapacity_; }
    const float* channel(uint32_t index) const noexcept { return samples_.get() + size_t(index) * frameCapacity_; }

    // Zeroes the valid frames of every channel.
    void clear() noexcept;
    // Same format and capacity, frames copied up to frameLength.
    AudioBuffer copy() const { return *this; }

private:
    AudioFormat format_;
    uint32_t frameCapacity_ = 0;
    uint32_t frameLength_ = 0;
    struct Release {
        void operator()(float* samples) const noexcept { std::free(samples); }
    };
    std::unique_ptr<float[], Release> samples_;
};

} // namespace orvanta
