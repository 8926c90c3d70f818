#include "engine/TruePeakDetector.h"

#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvanta {

namespace {

constexpr int taps = QuarterSampleInterpolator::taps;
constexpr uint32_t runFrames = 1024;

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
    const QuarterSampleInterpolator interpolator = QuarterSampleInterpolator::instance();

    float* const window = history_[size_t(channel)].samples.data();
    float maximum = maxima_[size_t(channel)];
    for (uint32_t start = 0; start < count; start += runFrames) {
        const uint32_t run = std::min(runFrames, count - start);
        std::copy(samples + start, samples + start + run, window + taps - 1);
        for (uint32_t n = 0; n < run; ++n) {
            float points[QuarterSampleInterpolator::points];
            interpolator.interpolate(window + n, points);
            float peak = 0.0f;
            for (float point : points) peak = std::max(peak, std::fabs(point));
            if (peaks != nullptr) peaks[start + n] = peak;
            maximum = std::max(maximum, peak);
        }
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
