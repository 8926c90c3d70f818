#include "playback/SampleConversion.h"

#include <cmath>
#include <cstring>

namespace orvanta {

namespace {

// Full scale and silence for NaN: a non-finite sample would otherwise be undefined once cast to an integer.
inline float clipped(float x) noexcept {
    if (!(x == x)) {
        return 0.0f;
    }
    return x > 1.0f ? 1.0f : (x < -1.0f ? -1.0f : x);
}

} // namespace

size_t bytesPerSample(DeviceSampleFormat format) noexcept {
    switch (format) {
    case DeviceSampleFormat::uint8: return 1;
    case DeviceSampleFormat::int16: return 2;
    case DeviceSampleFormat::int32: return 4;
    case DeviceSampleFormat::float32: return 4;
    }
    return 4;
}

void encodeSamples(const float* source, size_t count, DeviceSampleFormat format, void* destination) noexcept {
    switch (format) {
    case DeviceSampleFormat::float32: {
        auto* out = static_cast<float*>(destination);
        for (size_t i = 0; i < count; ++i) {
            const float x = source[i];
            out[i] = std::isfinite(x) ? x : 0.0f;
        }
        break;
    }
    case DeviceSampleFormat::int16: {
        auto* out = static_cast<int16_t*>(destination);
        for (size_t i = 0; i < count; ++i) {
            out[i] = int16_t(std::lround(clipped(source[i]) * 32767.0f));
        }
        break;
    }
    case DeviceSampleFormat::int32: {
        auto* out = static_cast<int32_t*>(destination);
        for (size_t i = 0; i < count; ++i) {
            // Double precision: 2147483647 has no exact float, and the float product could overflow int32.
            out[i] = int32_t(std::llround(double(clipped(source[i])) * 2147483647.0));
        }
        break;
    }
    case DeviceSampleFormat::uint8: {
        auto* out = static_cast<uint8_t*>(destination);
        for (size_t i = 0; i < count; ++i) {
            out[i] = uint8_t(std::lround(clipped(source[i]) * 127.0f) + 128);
        }
        break;
    }
    }
}

} // namespace orvanta
