#include "eq/MatchedEQRefinement.h"

#include "engine/ProcessingErrors.h"
#include "eq/EQFilter.h"
#include "eq/MatchStrength.h"
#include "eq/ReferenceMatching.h"
#include "platform/AudioFileReader.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <optional>
#include <vector>

namespace orvanta {

namespace {

// Bands centred above this fraction of the sample rate stay flat: the peaking filter's formula is
// cramped near Nyquist and unstable beyond it.
constexpr double highestBandFraction = 0.45;
// The gain at which a band's response is probed when its own gain is smaller, dB.
constexpr float probeGainDb = 1.0f;

using Matrix = std::vector<std::vector<double>>;

// The level change in dB that `band` alone, at `gainDb`, makes over the measuring window `bins`: the
// mean of its linear magnitude over the window's bins, as the level measure averages magnitudes.
// The same peaking formula as the filter routine, in double precision.
double windowChangeDb(const EQBand& band, float gainDb, const BandBins& bins, float sampleRate) {
    const double w0 = 2.0 * std::numbers::pi * double(band.frequency) / double(sampleRate);
    const double a = std::pow(10.0, double(gainDb) / 40.0);
    const double alpha = std::sin(w0) / (2.0 * double(band.q));
    const double cs = std::cos(w0);
    const double b0 = 1.0 + alpha * a, b2 = 1.0 - alpha * a;
    const double a0 = 1.0 + alpha / a, a2 = 1.0 - alpha / a;
    double sum = 0.0;
    for (int bin = bins.lo; bin <= bins.hi; ++bin) {
        const double w = 2.0 * std::numbers::pi * double(spectrumBinFrequency(bin, sampleRate)) / double(sampleRate);
        const std::complex<double> z1 = std::polar(1.0, -w), z2 = z1 * z1;
        sum += std::abs((b0 - 2.0 * cs * z1 + b2 * z2) / (a0 - 2.0 * cs * z1 + a2 * z2));
    }
    return 20.0 * std::log10(sum / double(bins.hi - bins.lo + 1));
}

// Solves m·x = v by Gaussian elimination with partial pivoting; none when m is (nearly) singular.
std::optional<std::vector<double>> solve(Matrix m, std::vector<double> v) {
    const size_t n = v.size();
    for (size_t p = 0; p < n; ++p) {
        size_t pivot = p;
        for (size_t r = p + 1; r < n; ++r)
            if (std::fabs(m[r][p]) > std::fabs(m[pivot][p])) pivot = r;
        if (std::fabs(m[pivot][p]) < 1e-6) return std::nullopt;
        std::swap(m[p], m[pivot]);
        std::swap(v[p], v[pivot]);
        for (size_t r = p + 1; r < n; ++r) {
            const double f = m[r][p] / m[p][p];
            for (size_t c = p; c < n; ++c) m[r][c] -= f * m[p][c];
            v[r] -= f * v[p];
        }
    }
    std::vector<double> x(n);
    for (size_t p = n; p-- > 0;) {
        double sum = v[p];
        for (size_t c = p + 1; c < n; ++c) sum -= m[p][c] * x[c];
        x[p] = sum / m[p][p];
    }
    return x;
}

// A band at or under the scale's floor is too quiet for its change to be read.
bool measurable(float decibels) { return decibels > levelFloorDb; }

// Channel 0 alone: the level measure reads nothing else.
AudioBuffer firstChannelOf(const AudioBuffer& chunk) {
    AudioBuffer mono(AudioFormat{chunk.sampleRate(), 1}, chunk.frameLength());
    mono.setFrameLength(chunk.frameLength());
    std::copy_n(chunk.channel(0), chunk.frameLength(), mono.channel(0));
    return mono;
}

} // namespace

EQSettings refineMatchedEQ(const std::filesystem::path& input, const EQSettings& intended, const BandMask& steered,
                           const CancellationQuery& isCancelled) {
    const float sampleRate = static_cast<float>(AudioFileReader(input).sampleRate());
    EQSettings rendered = intended;
    for (EQBand& band : rendered.bands)
        if (double(band.frequency) >= highestBandFraction * double(sampleRate)) band.gain = 0.0f;
    if (!hasActiveEQ(rendered) || rendered.bands.size() < matchedBandCount) return rendered;

    // Each chunk measured before and after the EQ, in dB: the 0…10 scale saturates on the loud bass
    // of a master, and a boost there would read as no change at all.
    EQFilterBank filters; // this measurement's own history, apart from playback and other renders
    const bool highCut = needsHighCut(rendered.bands);
    BandDecibels before{}, after{};
    const auto accumulate = [](BandDecibels& sum, const BandDecibels& chunk) {
        for (size_t i = 0; i < sum.size(); ++i) sum[i] += chunk[i];
    };
    const int64_t chunks = forEachSpectrumChunk(input, [&](AudioBuffer& chunk) {
        if (isCancelled && isCancelled()) throw cancellationError();
        if (!chunk.hasFloatData()) return;
        chunk = firstChannelOf(chunk);
        accumulate(before, computeBandDecibels(chunk));
        filters.applyEQ(chunk, rendered, true, highCut, sampleRate);
        accumulate(after, computeBandDecibels(chunk));
    });
    if (chunks <= 0) return rendered;
    for (size_t i = 0; i < before.size(); ++i) {
        before[i] /= float(chunks);
        after[i] /= float(chunks);
    }

    // The bands whose gain the measurement can steer, with their windows.
    std::vector<size_t> moved;
    std::vector<BandBins> windows;
    for (size_t i = 0; i < matchedBandCount; ++i) {
        const EQBand& band = rendered.bands[i];
        const std::optional<BandBins> bins = bandLevelBins(bandCenterFrequencies[i], sampleRate);
        if (double(band.frequency) >= highestBandFraction * double(sampleRate) || !bins) continue;
        if (!steered[i] || !measurable(before[i]) || !measurable(after[i])) continue;
        moved.push_back(i);
        windows.push_back(*bins);
    }
    // With fewer than two bands nothing is left once the overall level is taken out.
    if (moved.size() < 2) return rendered;

    // What each band still misses, in dB, the overall level aside.
    std::vector<double> shortfall(moved.size());
    double meanShortfall = 0.0;
    for (size_t k = 0; k < moved.size(); ++k) {
        const size_t i = moved[k];
        shortfall[k] = double(intended.bands[i].gain) - (double(after[i]) - double(before[i]));
        meanShortfall += shortfall[k];
    }
    meanShortfall /= double(moved.size());
    for (double& value : shortfall) value -= meanShortfall;

    // overlap[k][l]: dB of change in window k per dB of gain on band l, probed at the band's own gain
    // so that the step follows the filters' slightly non-linear response.
    Matrix overlap(moved.size(), std::vector<double>(moved.size()));
    for (size_t l = 0; l < moved.size(); ++l) {
        const EQBand& band = rendered.bands[moved[l]];
        const float probe = std::fabs(band.gain) >= probeGainDb ? band.gain : probeGainDb;
        for (size_t k = 0; k < moved.size(); ++k)
            overlap[k][l] = windowChangeDb(band, probe, windows[k], sampleRate) / double(probe);
    }
    const std::optional<std::vector<double>> step = solve(overlap, shortfall);
    if (!step) return rendered;

    EQSettings refined = rendered;
    for (size_t k = 0; k < moved.size(); ++k) {
        EQBand& band = refined.bands[moved[k]];
        band.gain = std::clamp(float(double(band.gain) + (*step)[k]), -matchBandLimitDb, matchBandLimitDb);
    }
    return refined;
}

EQSettings referenceMatchedEQ(const std::filesystem::path& input, const BandLevels& reference,
                              const BandLevels& inputLevels, float strengthPercent,
                              const CancellationQuery& isCancelled) {
    if (isGentleMatchStrength(strengthPercent)) return matchedEQSettings(reference, inputLevels, strengthPercent);
    // The song's own levels unsaturated: a master's loud bass sits above the scale's top, and the
    // clamped level would understate how far it lies above the reference. Where the reference itself
    // is saturated its level is only a bound, and the song's clamped level keeps the comparison fair.
    BandDecibels decibels{};
    const int64_t chunks = forEachSpectrumChunk(input, [&](AudioBuffer& chunk) {
        if (isCancelled && isCancelled()) throw cancellationError();
        if (!chunk.hasFloatData()) return;
        const BandDecibels chunkDecibels = computeBandDecibels(firstChannelOf(chunk));
        for (size_t i = 0; i < decibels.size(); ++i) decibels[i] += chunkDecibels[i];
    });
    BandLevels songLevels = inputLevels;
    if (chunks > 0)
        for (size_t i = 0; i < songLevels.size(); ++i)
            if (reference[i] < levelScaleTop)
                songLevels[i] = std::max(0.0f, (decibels[i] / float(chunks) - levelFloorDb) / decibelsPerLevelUnit);
    const EQSettings matched = matchedEQSettings(reference, songLevels, strengthPercent);
    BandMask measured{};
    for (size_t i = 0; i < measured.size(); ++i) measured[i] = bandDifferenceMeasured(reference[i], songLevels[i]);
    return refineMatchedEQ(input, matched, measured, isCancelled);
}

} // namespace orvanta
