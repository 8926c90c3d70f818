#include "analyzer/LevelAnalysis.h"

#include "analyzer/AnalysisControl.h"
#include "analyzer/VectorMath.h"

#include <algorithm>
#include <cmath>

namespace orvanta::AudioAnalyzer {

std::vector<float> mixToMono(const AudioBuffer& buffer, const ProgressCallback& progress,
                             const CancellationQuery& isCancelled) {
    const size_t n = buffer.frameLength();
    const uint32_t channelCount = buffer.channelCount();
    if (n == 0 || !buffer.hasFloatData()) {
        return {};
    }
    std::vector<float> mono(n, 0.0f);

    if (channelCount == 1) {
        constexpr size_t chunk = 65536;
        const float* source = buffer.channel(0);
        for (size_t start = 0; start < n; start += chunk) {
            throwIfCancelled(isCancelled);
            const size_t end = std::min(start + chunk, n);
            std::copy(source + start, source + end, mono.begin() + std::ptrdiff_t(start));
            report(progress, double(end) / double(n));
            yieldToScheduler();
        }
        return mono;
    }

    constexpr size_t chunk = 2048;
    for (size_t start = 0; start < n; start += chunk) {
        throwIfCancelled(isCancelled);
        const size_t end = std::min(start + chunk, n);
        for (uint32_t c = 0; c < channelCount; ++c) {
            const float* source = buffer.channel(c);
            for (size_t i = start; i < end; ++i) {
                mono[i] += source[i];
            }
        }
        report(progress, double(end) / double(n));
        yieldToScheduler();
    }
    const float scale = 1.0f / float(channelCount);
    for (float& x : mono) {
        x *= scale;
    }
    return mono;
}

double measureDynamicRange(const std::vector<float>& mono) {
    std::vector<float> levels;
    if (mono.size() >= dynamicRangeWindow) {
        levels.reserve((mono.size() - dynamicRangeWindow) / dynamicRangeHop + 1);
        for (size_t start = 0; start + dynamicRangeWindow <= mono.size(); start += dynamicRangeHop) {
            levels.push_back(vector_math::rms(mono.data() + start, dynamicRangeWindow));
        }
    }
    return dynamicRangeOfWindows(std::move(levels));
}

double dynamicRangeOfWindows(std::vector<float> levels) {
    constexpr float floor = 0.0001f; // −80 dBFS: quieter windows are gaps, not dynamics
    std::erase_if(levels, [](float level) { return !(level > floor); });
    if (levels.size() < 11) {
        return 0.0;
    }
    std::sort(levels.begin(), levels.end());
    const size_t k = levels.size();
    const float hi = levels[size_t(0.9 * double(k))];
    const float lo = levels[size_t(0.1 * double(k))];
    const double ratioDB = 20.0 * std::log10(double(hi / std::max(lo, floor)));
    return std::clamp(ratioDB, 0.0, 60.0);
}

ClippingMeasurement measureClipping(const std::vector<float>& mono) {
    ClippingMeasurement result;
    for (float x : mono) {
        if (std::fabs(x) >= 1.0f) {
            ++result.clippingCount;
        }
    }
    result.clippingFraction = mono.empty() ? 0.0 : double(result.clippingCount) / double(mono.size());
    return result;
}

} // namespace orvanta::AudioAnalyzer
