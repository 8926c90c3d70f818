#include "engine/TruePeakDetector.h"

#include "engine/CpuFeatures.h"
#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace orvanta {

namespace {

constexpr int taps = QuarterSampleInterpolator::taps;
constexpr int phases = QuarterSampleInterpolator::points;
constexpr uint32_t runFrames = 1024;

using PhaseFilters = QuarterSampleInterpolator;

// out[n] = the peak of the four points of output n, for n in [from, count); returns the largest of
// them (0 for none). Output n reads the taps x[n … n + taps − 1], and each phase adds its products in
// tap order. The vector versions below keep that order for every output, so every instruction set
// gives the same bits.
float interpolatedPeaksScalar(const PhaseFilters& filters, const float* x, uint32_t from, uint32_t count,
                              float* out) noexcept {
    float maximum = 0.0f;
    for (uint32_t n = from; n < count; ++n) {
        float points[phases];
        filters.interpolate(x + n, points);
        float peak = 0.0f;
        for (float point : points) peak = std::max(peak, std::fabs(point));
        out[n] = peak;
        maximum = std::max(maximum, peak);
    }
    return maximum;
}

#if defined(__x86_64__) && defined(__GNUC__)
// Eight outputs per vector, two vectors per step: eight independent sums keep the adders busy.
[[gnu::target("avx2")]] float interpolatedPeaksAvx2(const PhaseFilters& filters, const float* x, uint32_t count,
                                                    float* out) noexcept {
    const __m256 signBit = _mm256_set1_ps(-0.0f);
    __m256 maximum = _mm256_setzero_ps();
    uint32_t n = 0;
    for (; n + 16 <= count; n += 16) {
        __m256 acc[phases][2];
        for (auto& a : acc) a[0] = a[1] = _mm256_setzero_ps();
        for (int i = 0; i < taps; ++i) {
            const __m256 x0 = _mm256_loadu_ps(x + n + uint32_t(i));
            const __m256 x1 = _mm256_loadu_ps(x + n + uint32_t(i) + 8);
            for (int k = 0; k < phases; ++k) {
                const __m256 h = _mm256_broadcast_ss(&filters.coefficients[i][k]);
                acc[k][0] = _mm256_add_ps(acc[k][0], _mm256_mul_ps(h, x0));
                acc[k][1] = _mm256_add_ps(acc[k][1], _mm256_mul_ps(h, x1));
            }
        }
        for (int half = 0; half < 2; ++half) {
            __m256 peak = _mm256_setzero_ps();
            for (int k = 0; k < phases; ++k) peak = _mm256_max_ps(_mm256_andnot_ps(signBit, acc[k][half]), peak);
            _mm256_storeu_ps(out + n + uint32_t(8 * half), peak);
            maximum = _mm256_max_ps(maximum, peak);
        }
    }
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, maximum);
    float result = interpolatedPeaksScalar(filters, x, n, count, out);
    for (float lane : lanes) result = std::max(result, lane);
    return result;
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
// Sixteen outputs per vector, two vectors per step, in the order of the AVX2 version.
// GCC 12 takes the undefined pass-through operand of the 512-bit max for an uninitialised variable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
[[gnu::target("avx512f")]] float interpolatedPeaksAvx512(const PhaseFilters& filters, const float* x, uint32_t count,
                                                         float* out) noexcept {
    const __m512i magnitudeBits = _mm512_set1_epi32(0x7FFFFFFF);
    __m512 maximum = _mm512_setzero_ps();
    uint32_t n = 0;
    for (; n + 32 <= count; n += 32) {
        __m512 acc[phases][2];
        for (auto& a : acc) a[0] = a[1] = _mm512_setzero_ps();
        for (int i = 0; i < taps; ++i) {
            const __m512 x0 = _mm512_loadu_ps(x + n + uint32_t(i));
            const __m512 x1 = _mm512_loadu_ps(x + n + uint32_t(i) + 16);
            for (int k = 0; k < phases; ++k) {
                const __m512 h = _mm512_set1_ps(filters.coefficients[i][k]);
                acc[k][0] = _mm512_add_ps(acc[k][0], _mm512_mul_ps(h, x0));
                acc[k][1] = _mm512_add_ps(acc[k][1], _mm512_mul_ps(h, x1));
            }
        }
        for (int half = 0; half < 2; ++half) {
            __m512 peak = _mm512_setzero_ps();
            for (int k = 0; k < phases; ++k) {
                const __m512 magnitude = _mm512_castsi512_ps(_mm512_and_si512(_mm512_castps_si512(acc[k][half]), magnitudeBits));
                peak = _mm512_max_ps(magnitude, peak);
            }
            _mm512_storeu_ps(out + n + uint32_t(16 * half), peak);
            maximum = _mm512_max_ps(maximum, peak);
        }
    }
    alignas(64) float lanes[16];
    _mm512_store_ps(lanes, maximum);
    float result = interpolatedPeaksScalar(filters, x, n, count, out);
    for (float lane : lanes) result = std::max(result, lane);
    return result;
}
#pragma GCC diagnostic pop
#endif

#if defined(__SSE2__)
float interpolatedPeaksSse2(const PhaseFilters& filters, const float* x, uint32_t count, float* out) noexcept {
    const __m128 signBit = _mm_set1_ps(-0.0f);
    __m128 maximum = _mm_setzero_ps();
    uint32_t n = 0;
    for (; n + 8 <= count; n += 8) {
        __m128 acc[phases][2];
        for (auto& a : acc) a[0] = a[1] = _mm_setzero_ps();
        for (int i = 0; i < taps; ++i) {
            const __m128 x0 = _mm_loadu_ps(x + n + uint32_t(i));
            const __m128 x1 = _mm_loadu_ps(x + n + uint32_t(i) + 4);
            for (int k = 0; k < phases; ++k) {
                const __m128 h = _mm_set1_ps(filters.coefficients[i][k]);
                acc[k][0] = _mm_add_ps(acc[k][0], _mm_mul_ps(h, x0));
                acc[k][1] = _mm_add_ps(acc[k][1], _mm_mul_ps(h, x1));
            }
        }
        for (int half = 0; half < 2; ++half) {
            __m128 peak = _mm_setzero_ps();
            for (int k = 0; k < phases; ++k) peak = _mm_max_ps(_mm_andnot_ps(signBit, acc[k][half]), peak);
            _mm_storeu_ps(out + n + uint32_t(4 * half), peak);
            maximum = _mm_max_ps(maximum, peak);
        }
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, maximum);
    float result = interpolatedPeaksScalar(filters, x, n, count, out);
    for (float lane : lanes) result = std::max(result, lane);
    return result;
}
#endif

// The widest vectors the processor has; the results are the same either way.
float interpolatedPeaks(const PhaseFilters& filters, const float* x, uint32_t count, float* out) noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool hasAvx512 = __builtin_cpu_supports("avx512f");
    if (hasAvx512) return interpolatedPeaksAvx512(filters, x, count, out);
    if (hasAvx2()) return interpolatedPeaksAvx2(filters, x, count, out);
#endif
#if defined(__SSE2__)
    return interpolatedPeaksSse2(filters, x, count, out);
#else
    return interpolatedPeaksScalar(filters, x, 0, count, out);
#endif
}

} // namespace

TruePeakDetector::TruePeakDetector(int channelCount) : history_(size_t(std::max(channelCount, 0))) {
    for (ChannelHistory& h : history_) h.samples.assign(size_t(taps - 1) + runFrames, 0.0f);
    maxima_.assign(history_.size(), 0.0f);
}

void TruePeakDetector::reset() {
    for (ChannelHistory& h : history_) std::fill(h.samples.begin(), h.samples.end(), 0.0f);
    std::fill(maxima_.begin(), maxima_.end(), 0.0f);
}

float TruePeakDetector::maximum() const noexcept {
    float peak = 0.0f;
    for (float m : maxima_) peak = std::max(peak, m);
    return peak;
}

void TruePeakDetector::process(int channel, const float* samples, uint32_t count, float* peaks) {
    const QuarterSampleInterpolator& filters = QuarterSampleInterpolator::instance();
    float* const window = history_[size_t(channel)].samples.data();
    float runPeaks[runFrames];
    float maximum = maxima_[size_t(channel)];
    for (uint32_t start = 0; start < count; start += runFrames) {
        const uint32_t run = std::min(runFrames, count - start);
        std::copy(samples + start, samples + start + run, window + taps - 1);
        maximum = std::max(maximum, interpolatedPeaks(filters, window, run, peaks ? peaks + start : runPeaks));
        std::copy(window + run, window + run + taps - 1, window);
    }
    maxima_[size_t(channel)] = maximum;
}

void TruePeakDetector::flush(int channel, float* peaks) {
    const float zeros[latencySamples] = {};
    process(channel, zeros, latencySamples, peaks);
}

double measureTruePeakDb(const std::filesystem::path& path, const CancellationQuery& isCancelled) {
    AudioFileReader reader(path);
    constexpr uint32_t chunk = 1u << 16;
    AudioBuffer buffer = reader.makeBuffer(chunk);
    TruePeakDetector detector(int(reader.channelCount()));
    while (true) {
        if (isCancelled && isCancelled()) throw cancellationError();
        const uint32_t got = reader.read(buffer, chunk);
        if (got == 0) break;
        for (uint32_t c = 0; c < buffer.channelCount(); ++c) detector.process(int(c), buffer.channel(c), got, nullptr);
    }
    for (uint32_t c = 0; c < reader.channelCount(); ++c) detector.flush(int(c), nullptr);
    const float peak = detector.maximum();
    return peak > 0.0f ? 20.0 * std::log10(double(peak)) : -std::numeric_limits<double>::infinity();
}

} // namespace orvanta
