#include "analyzer/StereoAnalysis.h"

#include "analyzer/VectorMath.h"

#include <algorithm>
#include <cmath>

namespace orvanta::AudioAnalyzer {

MidSideMeasurement measureMidSide(const AudioBuffer& buffer) {
    if (buffer.channelCount() < 2 || !buffer.hasFloatData()) {
        return {};
    }
    const float* left = buffer.channel(0);
    const float* right = buffer.channel(1);
    const size_t n = buffer.frameLength();
    constexpr size_t chunk = 16384;
    double midEnergy = 0.0;
    double sideEnergy = 0.0;
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
        midEnergy += chunkMid;
        sideEnergy += chunkSide;
    }
    const double total = std::max(midEnergy + sideEnergy, 1e-9);
    MidSideMeasurement result;
    result.midRatio = midEnergy / total;
    result.sideRatio = sideEnergy / total;
    result.width = std::clamp(sideEnergy / std::max(midEnergy, 1e-9), 0.0, 2.0);
    return result;
}

StereoCorrelation stereoCorrelation(const AudioBuffer& buffer) {
    if (buffer.channelCount() < 2 || !buffer.hasFloatData()) {
        return {};
    }
    const float* left = buffer.channel(0);
    const float* right = buffer.channel(1);
    const size_t n = buffer.frameLength();
    const float lr = vector_math::dotProduct(left, right, n);
    const float ll = vector_math::sumOfSquares(left, n);
    const float rr = vector_math::sumOfSquares(right, n);
    return {true, lr / std::max(std::sqrt(ll * rr), 0.0001f)};
}

} // namespace orvanta::AudioAnalyzer
