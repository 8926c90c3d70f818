#pragma once

#include <cstdint>

namespace orvanta {

// Speaker positions as the bits of a WAVE_FORMAT_EXTENSIBLE channel mask (FFmpeg's AV_CH_* bits are
// the same). A file's channels appear in the order of their bits; a mask of 0 says nothing about them.
namespace speaker {
inline constexpr uint64_t frontLeft = 0x1;
inline constexpr uint64_t frontRight = 0x2;
inline constexpr uint64_t frontCentre = 0x4;
inline constexpr uint64_t lowFrequency = 0x8;
inline constexpr uint64_t backLeft = 0x10;
inline constexpr uint64_t backRight = 0x20;
inline constexpr uint64_t frontLeftOfCentre = 0x40;
inline constexpr uint64_t frontRightOfCentre = 0x80;
inline constexpr uint64_t backCentre = 0x100;
inline constexpr uint64_t sideLeft = 0x200;
inline constexpr uint64_t sideRight = 0x400;
inline constexpr uint64_t topCentre = 0x800;
inline constexpr uint64_t topFrontLeft = 0x1000;
inline constexpr uint64_t topFrontCentre = 0x2000;
inline constexpr uint64_t topFrontRight = 0x4000;
inline constexpr uint64_t topBackLeft = 0x8000;
inline constexpr uint64_t topBackCentre = 0x10000;
inline constexpr uint64_t topBackRight = 0x20000;
inline constexpr uint64_t all = 0x3FFFF; // every position a WAVE_FORMAT_EXTENSIBLE mask can name
} // namespace speaker

// True when `mask` names exactly one position per channel of a file with `channelCount` channels.
bool maskDescribesChannels(uint64_t mask, uint32_t channelCount) noexcept;

// The position (one bit) of channel `channel` under `mask`: its channel-th lowest set bit; 0 past them.
uint64_t speakerOfChannel(uint64_t mask, uint32_t channel) noexcept;

} // namespace orvanta
