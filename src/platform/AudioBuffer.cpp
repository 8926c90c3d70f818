#include "platform/AudioBuffer.h"

#include <algorithm>

namespace orvanta {

AudioBuffer::AudioBuffer(AudioFormat format, uint32_t frameCapacity)
    : format_(format), frameCapacity_(frameCapacity),
      samples_(size_t(format.channelCount) * frameCapacity, 0.0f) {}

void AudioBuffer::setFrameLength(uint32_t frames) noexcept {
    frameLength_ = std::min(frames, frameCapacity_);
}

void AudioBuffer::clear() noexcept {
    for (uint32_t c = 0; c < format_.channelCount; ++c) {
        std::fill_n(channel(c), frameLength_, 0.0f);
    }
}

} // namespace orvanta
