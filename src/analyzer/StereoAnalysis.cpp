#include "analyzer/StereoAnalysis.h"

#include "analyzer/VectorMath.h"

#include <algorithm>
#include <cmath>

namespace orvanta::AudioAnalyzer {

namespace {

StereoCorrelation correlationOf(float leftRight, float leftEnergy, float rightEnergy) {
    return {true, leftRight / std::max(std::sqrt(leftEnergy * rightEnergy), 0.0001f)};
}

} // namespace

MidSideMeasurement measureMidSide(const AudioBuffer& buffer) {
    if (buffer.channelCount() < 2 || !buffer.hasFloatData()) {
        return {};
    }
    StereoAccumulator stereo;
    stereo.add(buffer.channel(0), buffer.channel(1), buffer.frameLength());
    return stereo.midSide();
}

StereoCorrelation stereoCorrelation(const AudioBuffer& buffer) {
    if (buffer.channelCount() < 2 || !buffer.hasFloatData()) {
        return {};
    }
    const float* left = buffer.channel(0);
    const float* right = buffer.channel(1);
    const size_t n = buffer.frameLength();
    return correlationOf(vector_math::dotProduct(left, right, n), vector_math::sumOfSquares(left, n),
                         vector_math::sumOfSquares(right, n));
}

void StereoAccumulator::add(const float* left, const float* right, size_t n) noexcept {
    constexpr size_t chunk = 16384;
    for (size_t start = 0; start < n; start += chunk) {
        const size_t end = std::min(start + chunk, n);
        double chunkMid = 0.0;
        double chunkSide = 0.0;
        for (size_t i = start; i < end; ++i) {
            const double mid = (double(left[i]) + double(right[i])) * 0.5;
            const double side = (double(left[i]) - double(right[i])) * 0.5;
            chunkMid += mid * mid;
            chunkSide += side * side;
        }
        midEnergy_ += chunkMid;
        sideEnergy_ += chunkSide;
        leftRight_ += vector_math::dotProduct(left + start, right + start, end - start);
        leftEnergy_ += vector_math::sumOfSquares(left + start, end - start);
        rightEnergy_ += vector_math::sumOfSquares(right + start, end - start);
    }
}

MidSideMeasurement StereoAccumulator::midSide() const noexcept {
    const double total = std::max(midEnergy_ + sideEnergy_, 1e-9);
    MidSideMeasurement result;
    result.midRatio = midEnergy_ / total;
    result.sideRatio = sideEnergy_ / total;
    result.width = std::clamp(sideEnergy_ / std::max(midEnergy_, 1e-9), 0.0, 2.0);
    return result;
}

StereoCorrelation StereoAccumulator::correlation() const noexcept {
    return correlationOf(float(leftRight_), float(leftEnergy_), float(rightEnergy_));
}

} // namespace orvanta::AudioAnalyzer
