#pragma once

// Internal to the platform layer: libsndfile's channel map beside our channel masks.

#include <cstdint>
#include <vector>

namespace orvanta {

// The mask that a libsndfile channel map (one SF_CHANNEL_MAP_* per channel) describes; 0 when a
// position has no mask bit, repeats, or the channels are not in the order of their bits, as a
// WAVE_FORMAT_EXTENSIBLE mask requires.
uint64_t channelMaskOfSndfileMap(const std::vector<int>& map) noexcept;

// The libsndfile channel map of `mask`, one entry per set bit in order (empty for 0).
std::vector<int> sndfileMapOfChannelMask(uint64_t mask);

} // namespace orvanta
