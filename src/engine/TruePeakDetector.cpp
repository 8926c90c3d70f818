#include "engine/TruePeakDetector.h"

#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvanta {

namespace {

constexpr int taps = TruePeakDetector::tapsPerPhase;
constexpr int phases = TruePeakDetector::oversampling;
constexpr uint32_t runFrames = 1024;

// Zeroth-order modified Bessel function of the first kind, by its power series (converges fast for
// the small arguments of a window).
double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 30; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// 16 taps and β = 4 keep every phase within ±0.02 dB of an ideal fractional delay up to 15 kHz at
// 44.1 kHz (+0.09 dB at 18 kHz); a shorter filter drifts by tenths of a dB in the treble.
// Phase k reconstructs the point k/4 of a sample after x[n − latency] from the taps x[n − taps + 1 … n]
// (oldest first): a sinc centred on that point under a Kaiser window that spans the taps. Each phase
// is normalised to unit gain at DC, so a constant reads exactly as itself.
std::array<std::array<float, taps>, phases> designPhaseFilters() {
    constexpr double beta = 4.0;
    constexpr double halfSpan = taps / 2.0;
    std::array<std::array<float, taps>, phases> filters{};
    for (int k = 0; k < phases; ++k) {
        const double fraction = double(k) / phases;
        std::array<double, taps> h{};
        double sum = 0.0;
        for (int i = 0; i < taps; ++i) {
            // Distance from tap i (sample n − taps + 1 + i) to the point n − latency + fraction.
            const double u = double(taps - 1 - i) - TruePeakDetector::latencySamples + fraction;
            const double sinc = u == 0.0 ? 1.0 : std::sin(M_PI * u) / (M_PI * u);
            const double r = u / halfSpan;
            const double window = r * r < 1.0 ? besselI0(beta * std::sqrt(1.0 - r * r)) / besselI0(beta) : 0.0;
            h[size_t(i)] = sinc * window;
            sum += h[size_t(i)];
        }
        for (int i = 0; i < taps; ++i) filters[size_t(k)][size_t(i)] = float(h[size_t(i)] / sum);
    }
    return filters;
}

} // namespace

const std::array<std::array<float, taps>, phases>& TruePeakDetector::phaseFilters() {
    static const auto filters = designPhaseFilters();
    return filters;
}

TruePeakDetector::TruePeakDetector(int channelCount) : history_(size_t(std::max(channelCount, 0))) {
    phaseFilters();
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
    // Lane k of `filter[i]` is phase k's coefficient for tap i: the four phases of a point are computed
    // side by side, which the compiler turns into one vector multiply-add per tap.
    const auto& filters = phaseFilters();
    alignas(16) float filter[taps][phases];
    for (int i = 0; i < taps; ++i)
        for (int k = 0; k < phases; ++k) filter[i][k] = filters[size_t(k)][size_t(i)];

    float* const window = history_[size_t(channel)].samples.data();
    float maximum = maxima_[size_t(channel)];
    for (uint32_t start = 0; start < count; start += runFrames) {
        const uint32_t run = std::min(runFrames, count - start);
        std::copy(samples + start, samples + start + run, window + taps - 1);
        for (uint32_t n = 0; n < run; ++n) {
            const float* x = window + n;
            float acc[phases] = {};
            for (int i = 0; i < taps; ++i)
                for (int k = 0; k < phases; ++k) acc[k] += filter[i][k] * x[i];
            float peak = 0.0f;
            for (int k = 0; k < phases; ++k) peak = std::max(peak, std::fabs(acc[k]));
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
