#include "platform/SndfileChannelMap.h"

#include "platform/ChannelLayout.h"

#include <sndfile.h>

#include <array>
#include <utility>

namespace orvanta {

namespace {

// Mask bit and libsndfile position, the ones a WAVE_FORMAT_EXTENSIBLE file round-trips.
constexpr std::array<std::pair<uint64_t, int>, 18> positions = {{
    {speaker::frontLeft, SF_CHANNEL_MAP_LEFT},
    {speaker::frontRight, SF_CHANNEL_MAP_RIGHT},
    {speaker::frontCentre, SF_CHANNEL_MAP_CENTER},
    {speaker::lowFrequency, SF_CHANNEL_MAP_LFE},
    {speaker::backLeft, SF_CHANNEL_MAP_REAR_LEFT},
    {speaker::backRight, SF_CHANNEL_MAP_REAR_RIGHT},
    {speaker::frontLeftOfCentre, SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER},
    {speaker::frontRightOfCentre, SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER},
    {speaker::backCentre, SF_CHANNEL_MAP_REAR_CENTER},
    {speaker::sideLeft, SF_CHANNEL_MAP_SIDE_LEFT},
    {speaker::sideRight, SF_CHANNEL_MAP_SIDE_RIGHT},
    {speaker::topCentre, SF_CHANNEL_MAP_TOP_CENTER},
    {speaker::topFrontLeft, SF_CHANNEL_MAP_TOP_FRONT_LEFT},
    {speaker::topFrontCentre, SF_CHANNEL_MAP_TOP_FRONT_CENTER},
    {speaker::topFrontRight, SF_CHANNEL_MAP_TOP_FRONT_RIGHT},
    {speaker::topBackLeft, SF_CHANNEL_MAP_TOP_REAR_LEFT},
    {speaker::topBackCentre, SF_CHANNEL_MAP_TOP_REAR_CENTER},
    {speaker::topBackRight, SF_CHANNEL_MAP_TOP_REAR_RIGHT},
}};

uint64_t bitOf(int position) {
    switch (position) { // the synonyms libsndfile also reports
    case SF_CHANNEL_MAP_FRONT_LEFT: return speaker::frontLeft;
    case SF_CHANNEL_MAP_FRONT_RIGHT: return speaker::frontRight;
    case SF_CHANNEL_MAP_FRONT_CENTER:
    case SF_CHANNEL_MAP_MONO: return speaker::frontCentre;
    default: break;
    }
    for (const auto& [bit, sndfilePosition] : positions)
        if (sndfilePosition == position) return bit;
    return 0;
}

} // namespace

uint64_t channelMaskOfSndfileMap(const std::vector<int>& map) noexcept {
    uint64_t mask = 0;
    uint64_t previous = 0;
    for (const int position : map) {
        const uint64_t bit = bitOf(position);
        if (bit == 0 || bit <= previous) return 0;
        mask |= bit;
        previous = bit;
    }
    return mask;
}

std::vector<int> sndfileMapOfChannelMask(uint64_t mask) {
    std::vector<int> map;
    for (const auto& [bit, position] : positions)
        if (mask & bit) map.push_back(position);
    return map;
}

} // namespace orvanta
