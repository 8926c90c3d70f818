#include "engine/TruePeakDetector.h"

#include "engine/CpuFeatures.h"
#include "engine/LaneVectors.h"
#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"

#include <algorithm>
#include <cmath>
#include <limits>


namespace orvanta {

namespace {

constexpr int taps = QuarterSampleInterpolator::taps;
constexpr int phases = QuarterSampleInterpolator::points;
constexpr uint32_t runFrames = 1024;

using PhaseFilters = QuarterSampleInterpolator;

// out[n] = the peak of the four points of output n, for n in [from, count); returns the largest of
// them (0 for none). Output n reads the taps x[n … n + taps − 1], and each phase adds its products in
// tap order. The vector version below keeps that order for every output, so every lane width gives
// the same bits.
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

#if defined(__SSE2__)
// Lanes::width outputs per vector, two vectors per step: independent sums keep the adders busy.
template <class Lanes>
float interpolatedPeaksInLanes(const PhaseFilters& filters, const float* x, uint32_t count, float* out) noexcept {
    using L = Lanes;
    constexpr uint32_t width = uint32_t(L::width);
    typename L::F maximum = L::zero();
    uint32_t n = 0;
    for (; n + 2 * width <= count; n += 2 * width) {
        typename L::F acc[phases][2];
        for (auto& a : acc) a[0] = a[1] = L::zero();
        for (int i = 0; i < taps; ++i) {
            const typename L::F x0 = L::load(x + n + uint32_t(i));
            const typename L::F x1 = L::load(x + n + uint32_t(i) + width);
            for (int k = 0; k < phases; ++k) {
                const typename L::F h = L::set1(filters.coefficients[i][k]);
                acc[k][0] = L::add(acc[k][0], L::mul(h, x0));
                acc[k][1] = L::add(acc[k][1], L::mul(h, x1));
            }
        }
        for (uint32_t half = 0; half < 2; ++half) {
            typename L::F peak = L::zero();
            for (int k = 0; k < phases; ++k) peak = L::max(L::magnitude(acc[k][half]), peak);
            L::store(out + n + width * half, peak);
            maximum = L::max(maximum, peak);
        }
    }
    alignas(64) float lanes[width];
    L::store(lanes, maximum);
    float result = interpolatedPeaksScalar(filters, x, n, count, out);
    for (float lane : lanes) result = std::max(result, lane);
    return result;
}

template float interpolatedPeaksInLanes<SseLanes>(const PhaseFilters&, const float*, uint32_t, float*) noexcept;
#endif

#if defined(ORVANTA_WIDE_LANES)
#pragma GCC push_options
#pragma GCC target("avx2")
template float interpolatedPeaksInLanes<Avx2Lanes>(const PhaseFilters&, const float*, uint32_t, float*) noexcept;
#pragma GCC pop_options

// GCC 12 takes the undefined pass-through operand of the 512-bit max for an uninitialised variable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC push_options
#pragma GCC target("avx512f")
template float interpolatedPeaksInLanes<Avx512Lanes>(const PhaseFilters&, const float*, uint32_t, float*) noexcept;
#pragma GCC pop_options
#pragma GCC diagnostic pop
#endif

// The widest vectors the processor has; the results are the same either way.
float interpolatedPeaks(const PhaseFilters& filters, const float* x, uint32_t count, float* out) noexcept {
#if defined(ORVANTA_WIDE_LANES)
    if (hasAvx512()) return interpolatedPeaksInLanes<Avx512Lanes>(filters, x, count, out);
    if (hasAvx2()) return interpolatedPeaksInLanes<Avx2Lanes>(filters, x, count, out);
#endif
#if defined(__SSE2__)
    return interpolatedPeaksInLanes<SseLanes>(filters, x, count, out);
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
