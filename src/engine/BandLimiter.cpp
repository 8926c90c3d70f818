#include "engine/BandLimiter.h"

#include "engine/KaiserWindow.h"

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
    const double cutoff = 0.5 * (passHz + stopHz) / sampleRate;
    const double centre = (length - 1) / 2.0;
    std::vector<double> h(static_cast<size_t>(length));
    double sum = 0.0;
    for (int i = 0; i < length; ++i) {
        const double t = double(i) - centre;
        const double sinc = t == 0.0 ? 2.0 * cutoff : std::sin(2.0 * M_PI * cutoff * t) / (M_PI * t);
        h[size_t(i)] = sinc * kaiserWindow(t / (centre + 1.0), beta);
        sum += h[size_t(i)];
    }
    std::vector<float> taps(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) taps[size_t(i)] = float(h[size_t(i)] / sum);
    return taps;
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
    const float* const h = taps_.data();
    const size_t length = taps_.size();
    const size_t history = length - 1;
    for (uint32_t start = 0; start < count; start += runFrames) {
        const uint32_t run = std::min(runFrames, count - start);
        std::copy(samples + start, samples + start + run, window + history);
        for (uint32_t n = 0; n < run; ++n) {
            const float* x = window + n;
            float lanes[8] = {};
            size_t i = 0;
            for (; i + 8 <= length; i += 8)
                for (size_t j = 0; j < 8; ++j) lanes[j] += h[i + j] * x[i + j];
            float sum = ((lanes[0] + lanes[4]) + (lanes[1] + lanes[5])) + ((lanes[2] + lanes[6]) + (lanes[3] + lanes[7]));
            for (; i < length; ++i) sum += h[i] * x[i];
            samples[start + n] = sum;
        }
        std::copy(window + run, window + run + history, window);
    }
}

} // namespace orvanta
