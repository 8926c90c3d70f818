#include "engine/LoudnessRange.h"

namespace orvanta {

namespace {

float sumOfSquares(const float* samples, size_t count) {
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i) sum += double(samples[i]) * double(samples[i]);
    return float(sum);
}

} // namespace

Bs1770Config loudnessRangeConfig() {
    Bs1770Config config;
    config.shortTermSeconds = 3.0f;
    config.shortTermHopSeconds = 1.0f;
    config.lastBlockMayEndOnLastFrame = true;
    config.sumOfSquares = sumOfSquares;
    return config;
}

} // namespace orvanta
