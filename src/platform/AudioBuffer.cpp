#include "platform/AudioBuffer.h"

#include <algorithm>
#include <new>

namespace orvanta {

namespace {

// calloc hands out fresh pages for large sizes and skips clearing them: the system zeroes each page
// when it is first touched.
float* zeroedSamples(size_t count) {
    if (count == 0) return nullptr;
    auto* samples = static_cast<float*>(std::calloc(count, sizeof(float)));
    if (samples == nullptr) throw std::bad_alloc();
    return samples;
}

} // namespace

AudioBuffer::AudioBuffer(AudioFormat format, uint32_t frameCapacity)
    : format_(format), frameCapacity_(frameCapacity),
      samples_(zeroedSamples(size_t(format.channelCount) * frameCapacity)) {}

AudioBuffer::AudioBuffer(const AudioBuffer& other)
    : format_(other.format_), frameCapacity_(other.frameCapacity_), frameLength_(other.frameLength_),
      samples_(zeroedSamples(size_t(other.format_.channelCount) * other.frameCapacity_)) {
    if (samples_) std::copy_n(other.samples_.get(), size_t(format_.channelCount) * frameCapacity_, samples_.get());
}

AudioBuffer& AudioBuffer::operator=(const AudioBuffer& other) {
    if (this != &other) *this = AudioBuffer(other);
    return *this;
}

void AudioBuffer::setFrameLength(uint32_t frames) noexcept {
    frameLength_ = std::min(frames, frameCapacity_);
}

void AudioBuffer::clear() noexcept {
    for (uint32_t c = 0; c < format_.channelCount; ++c) {
        std::fill_n(channel(c), frameLength_, 0.0f);
    }
}

} // namespace orvanta
