#include "engine/BandLimiter.h"

#include "engine/CpuFeatures.h"
#include "engine/KaiserWindow.h"
#include "engine/LaneVectors.h"

#include <algorithm>
#include <cmath>

namespace orvanta {

namespace {

// Kaiser's formulas for 60 dB of stop-band attenuation: β and the length for a transition of
// `transition` cycles per sample.
constexpr double stopBandDb = 60.0;

std::vector<float> designLowPass(double sampleRate, double passHz, double stopHz) {
    const double transition = (stopHz - passHz) / sampleRate;
    const double beta = 0.1102 * (stopBandDb - 8.7);
    int length = int(std::ceil((stopBandDb - 8.0) / (2.285 * 2.0 * M_PI * transition))) + 1;
    length |= 1; // odd: a whole-sample delay
    return kaiserLowPass(length, 0.5 * (passHz + stopHz) / sampleRate, beta);
}

// Running sums over every eighth tap: output n adds h[i + j] x[n + i + j] into sum j for each whole
// eight of taps, adds the eight sums pairwise, then the taps past the last whole eight one by one.
constexpr size_t sums = 8;

// Outputs from, …, count − 1 of a run; output n reads x[n … n + length − 1].
void filterScalar(const float* h, size_t length, const float* x, uint32_t from, uint32_t count, float* out) noexcept {
    for (uint32_t n = from; n < count; ++n) {
        const float* window = x + n;
        float lanes[sums] = {};
        size_t i = 0;
        for (; i + sums <= length; i += sums)
            for (size_t j = 0; j < sums; ++j) lanes[j] += h[i + j] * window[i + j];
        float sum = ((lanes[0] + lanes[4]) + (lanes[1] + lanes[5])) + ((lanes[2] + lanes[6]) + (lanes[3] + lanes[7]));
        for (; i < length; ++i) sum += h[i] * window[i];
        out[n] = sum;
    }
}

#if defined(__SSE2__)
// Lanes::width consecutive outputs per vector, each with the scalar version's sums in its order, so
// every lane width gives the same bits; the outputs past the last whole vector go the scalar way.
template <class Lanes>
void filterInLanes(const float* h, size_t length, const float* x, uint32_t count, float* out) noexcept {
    using L = Lanes;
    using F = typename L::F;
    constexpr uint32_t width = uint32_t(L::width);
    uint32_t n = 0;
    for (; n + width <= count; n += width) {
        const float* window = x + n;
        F lanes[sums];
        for (F& lane : lanes) lane = L::zero();
        size_t i = 0;
        for (; i + sums <= length; i += sums) {
            for (size_t j = 0; j < sums; ++j) {
                lanes[j] = L::add(lanes[j], L::mul(L::set1(h[i + j]), L::load(window + i + j)));
            }
        }
        F sum = L::add(L::add(L::add(lanes[0], lanes[4]), L::add(lanes[1], lanes[5])),
                       L::add(L::add(lanes[2], lanes[6]), L::add(lanes[3], lanes[7])));
        for (; i < length; ++i) sum = L::add(sum, L::mul(L::set1(h[i]), L::load(window + i)));
        L::store(out + n, sum);
    }
    filterScalar(h, length, x, n, count, out);
}

template void filterInLanes<SseLanes>(const float*, size_t, const float*, uint32_t, float*) noexcept;
#endif

#if defined(ORVANTA_WIDE_LANES)
#pragma GCC push_options
#pragma GCC target("avx2")
template void filterInLanes<Avx2Lanes>(const float*, size_t, const float*, uint32_t, float*) noexcept;
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")
template void filterInLanes<Avx512Lanes>(const float*, size_t, const float*, uint32_t, float*) noexcept;
#pragma GCC pop_options
#endif

// The widest vectors the processor has; the results are the same either way.
void filter(const float* h, size_t length, const float* x, uint32_t count, float* out) noexcept {
#if defined(ORVANTA_WIDE_LANES)
    if (hasAvx512()) return filterInLanes<Avx512Lanes>(h, length, x, count, out);
    if (hasAvx2()) return filterInLanes<Avx2Lanes>(h, length, x, count, out);
#endif
#if defined(__SSE2__)
    filterInLanes<SseLanes>(h, length, x, count, out);
#else
    filterScalar(h, length, x, 0, count, out);
#endif
}

} // namespace

BandLimiter::BandLimiter(int channelCount, double sampleRate, double passHz, double stopHz)
    : channels_(size_t(std::max(channelCount, 0))) {
    if (!(passHz > 0.0) || !(stopHz > passHz) || stopHz >= 0.5 * sampleRate) return;
    taps_ = designLowPass(sampleRate, passHz, stopHz);
    for (Channel& channel : channels_) channel.window.assign(taps_.size() - 1 + runFrames, 0.0f);
}

void BandLimiter::process(int channel, float* samples, uint32_t count) {
    if (!isActive()) return;
    float* const window = channels_[size_t(channel)].window.data();
    const size_t history = taps_.size() - 1;
    for (uint32_t start = 0; start < count; start += runFrames) {
        const uint32_t run = std::min(runFrames, count - start);
        std::copy(samples + start, samples + start + run, window + history);
        filter(taps_.data(), taps_.size(), window, run, samples + start);
        std::copy(window + run, window + run + history, window);
    }
}

} // namespace orvanta
