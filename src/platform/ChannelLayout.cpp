#include "platform/ChannelLayout.h"

#include <bit>

namespace orvanta {

bool maskDescribesChannels(uint64_t mask, uint32_t channelCount) noexcept {
    return mask != 0 && (mask & ~speaker::all) == 0 && uint32_t(std::popcount(mask)) == channelCount;
}

uint64_t speakerOfChannel(uint64_t mask, uint32_t channel) noexcept {
    for (uint32_t c = 0; mask != 0; ++c) {
        const uint64_t lowest = mask & (~mask + 1);
        if (c == channel) return lowest;
        mask &= mask - 1;
    }
    return 0;
}

} // namespace orvanta
