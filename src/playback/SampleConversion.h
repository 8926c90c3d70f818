#pragma once

#include <cstddef>
#include <cstdint>

namespace orvanta {

// Sample encodings an output device may ask for.
enum class DeviceSampleFormat { uint8, int16, int32, float32 };

// Bytes of one sample in `format`.
size_t bytesPerSample(DeviceSampleFormat format) noexcept;

// Encodes `count` float samples (full scale ±1) into `destination` in `format`. Integer formats clip
// to full scale and round to nearest; NaN becomes silence. Any thread; does not allocate.
void encodeSamples(const float* source, size_t count, DeviceSampleFormat format, void* destination) noexcept;

} // namespace orvanta
