#include "engine/MultibandLimiter.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvanta {

namespace {

inline float lr4Step(const LR4Coefficients& k, LR4FilterState& state, float x) {
    return biquadStep(k, state.stage2, biquadStep(k, state.stage1, x));
}

float tempoFactor(int bpm) {
    if (bpm <= 80) return 1.2f;
    if (bpm <= 120) return 1.0f;
    if (bpm <= 150) return 0.85f;
    return 0.7f;
}

// Largest |x| over a whole ring, four lanes at a time and branch-free. Maximum is exact, so the
// lane order does not change the value.
inline float maximumMagnitude(const float* values, int count) {
    int i = 0;
    float peak = 0.0f;
#if defined(__SSE2__)
    const __m128 magnitudeMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 lanesA = _mm_setzero_ps();
    __m128 lanesB = _mm_setzero_ps();
    for (; i + 8 <= count; i += 8) {
        lanesA = _mm_max_ps(lanesA, _mm_and_ps(_mm_loadu_ps(values + i), magnitudeMask));
        lanesB = _mm_max_ps(lanesB, _mm_and_ps(_mm_loadu_ps(values + i + 4), magnitudeMask));
    }
    for (; i + 4 <= count; i += 4) {
        lanesA = _mm_max_ps(lanesA, _mm_and_ps(_mm_loadu_ps(values + i), magnitudeMask));
    }
    __m128 lanes = _mm_max_ps(lanesA, lanesB);
    lanes = _mm_max_ps(lanes, _mm_shuffle_ps(lanes, lanes, _MM_SHUFFLE(1, 0, 3, 2)));
    lanes = _mm_max_ps(lanes, _mm_shuffle_ps(lanes, lanes, _MM_SHUFFLE(2, 3, 0, 1)));
    peak = _mm_cvtss_f32(lanes);
#endif
    for (; i < count; ++i) {
        peak = std::max(peak, std::fabs(values[i]));
    }
    return peak;
}

float smoothingCoefficient(float sampleRate, float seconds) { return std::exp(-1.0f / (sampleRate * seconds)); }

} // namespace

CrossoverDesign designCrossover(float crossoverHz, float sampleRate) noexcept {
    // A crossover at or above Nyquist has its poles on the unit circle: keep it below, where it is a
    // stable filter that passes the whole band to one side.
    const float fc = std::min(crossoverHz, 0.45f * sampleRate);
    const BiquadCoefficients lowPass = butterworthLowPass(fc, sampleRate);
    return {lowPass, butterworthHighPass(fc, sampleRate), linkwitzRileyAllPass(lowPass)};
}

MultibandLimiterEngine::MultibandLimiterEngine(int channelCount, MultibandLimiterConfig config, float sampleRate)
    : config_(std::move(config)), sampleRate_(sampleRate), channelCount_(std::max(channelCount, 0)) {
    for (size_t b = 0; b < thresholdFactors_.size(); ++b) {
        thresholdFactors_[b] = std::pow(10.0f, config_.thresholdOffsets[b] / 20.0f);
    }
    setupCrossovers();
    setupBandLimiters();
}

void MultibandLimiterEngine::setupCrossovers() {
    lpCoeffs_.clear();
    hpCoeffs_.clear();
    apCoeffs_.clear();
    for (float fc : config_.crossoverFrequencies) {
        const CrossoverDesign design = designCrossover(fc, sampleRate_);
        lpCoeffs_.push_back(design.lowPass);
        hpCoeffs_.push_back(design.highPass);
        apCoeffs_.push_back(design.allPass);
    }
    filterStates_.assign(size_t(channelCount_), {});
}

void MultibandLimiterEngine::setupBandLimiters() {
    attackCoeffs_.clear();
    for (float t : config_.attackTimes) attackCoeffs_.push_back(smoothingCoefficient(sampleRate_, t));
    releaseCoeffs_.clear();
    for (float t : config_.releaseTimes) releaseCoeffs_.push_back(smoothingCoefficient(sampleRate_, t));

    bandLimiterStates_.assign(size_t(channelCount_), {});
    // A run's rows and the look-ahead history before it.
    const size_t rows = runFrames + size_t(longestLookAhead()) - 1;
    for (auto& channel : bandLimiterStates_) {
        for (size_t b = 0; b < channel.bands.size(); ++b) {
            BandLimiterState& state = channel.bands[b];
            const int length = std::max(1, config_.lookAheadSamples[b]);
            // Spare capacity keeps the rings of different channels off each other's cache lines.
            state.lookAheadBuffer.reserve(size_t(length) + 16);
            state.lookAheadBuffer.assign(size_t(length), 0.0f);
            state.alignmentBuffer.assign(size_t(longestLookAhead() - length), 0.0f);
        }
        if (hasFourBandLayout()) channel.rows.assign(4, rows, runFrames);
    }
    pairRows_.assign(hasFourBandLayout() ? size_t(channelCount_ / 2) : 0, {});
    for (LaneRows& pair : pairRows_) pair.assign(8, rows, runFrames);
}

void MultibandLimiterEngine::LaneRows::assign(size_t lanes, size_t rows, size_t runRows) {
    history.assign(rows * lanes, 0.0f);
    maxima.assign(rows * lanes, 0.0f);
    peaks.assign(runRows * lanes, 0.0f);
    limited.assign(rows * lanes, 0.0f);
}

bool MultibandLimiterEngine::hasFourBandLayout() const noexcept {
    return lpCoeffs_.size() == 3 && hpCoeffs_.size() == 3 && config_.lookAheadSamples.size() >= 4 &&
           attackCoeffs_.size() >= 4 && releaseCoeffs_.size() >= 4;
}

int MultibandLimiterEngine::longestLookAhead() const noexcept {
    int longest = 1;
    for (size_t b = 0; b < 4 && b < config_.lookAheadSamples.size(); ++b) {
        longest = std::max(longest, std::max(1, config_.lookAheadSamples[b]));
    }
    return longest;
}

void MultibandLimiterEngine::adaptReleaseToTempo(int bpm) {
    detectedBPM_ = bpm;
    if (bpm < 1) {
        return;
    }
    if (config_.releaseTimes.empty()) {
        releaseCoeffs_.clear();
        return;
    }
    const float factor = tempoFactor(bpm);
    releaseCoeffs_.clear();
    for (size_t i = 0; i < config_.releaseTimes.size(); ++i) {
        float adapted = i < 2 ? config_.releaseTimes[i] * factor * 1.2f : config_.releaseTimes[i] * factor;
        if (adapted <= 0.015f) {
            adapted = 0.015f;
        } else if (adapted > 0.2f) {
            adapted = 0.2f;
        }
        releaseCoeffs_.push_back(smoothingCoefficient(sampleRate_, adapted));
    }
}

std::array<float, 4> MultibandLimiterEngine::splitBands(int channel, float x) {
    ChannelFilters& filters = filterStates_[size_t(channel)];
    auto& f = filters.stages;
    const float low = biquadStep(apCoeffs_[2], filters.lowAllPass, lr4Step(lpCoeffs_[1], f[1], x));
    const float high = biquadStep(apCoeffs_[0], filters.highAllPass, lr4Step(hpCoeffs_[1], f[4], x));
    return {lr4Step(lpCoeffs_[0], f[0], low), lr4Step(hpCoeffs_[0], f[3], low), lr4Step(lpCoeffs_[2], f[2], high),
            lr4Step(hpCoeffs_[2], f[5], high)};
}

inline float MultibandLimiterEngine::limitBand(BandLimiterState& s, int band, float bandSample, float bandThreshold) {
    // The ring wraps by comparison: a division per step would cost more than the rest of the band.
    const int length = int(s.lookAheadBuffer.size());
    const float leaving = std::fabs(s.lookAheadBuffer[size_t(s.lookAheadIndex)]);
    s.lookAheadBuffer[size_t(s.lookAheadIndex)] = bandSample;
    s.lookAheadIndex = s.lookAheadIndex + 1 == length ? 0 : s.lookAheadIndex + 1;
    const float delayed = s.lookAheadBuffer[size_t(s.lookAheadIndex)];
    // The window peak changes only when the new sample reaches it or the peak sample leaves; only
    // the latter needs a scan. The value is always exactly the maximum over the ring.
    const float magnitude = std::fabs(bandSample);
    if (magnitude >= s.windowPeak) {
        s.windowPeak = magnitude;
    } else if (leaving == s.windowPeak) {
        s.windowPeak = maximumMagnitude(s.lookAheadBuffer.data(), length);
    }
    const float peak = s.windowPeak;

    const float target = bandThreshold < peak ? bandThreshold / peak : 1.0f;
    // Attack, hold or release, chosen by selects rather than branches: on music the choice changes
    // often enough for mispredicted branches to dominate the cost of a sample.
    const float a = attackCoeffs_[size_t(band)];
    const float r = releaseCoeffs_[size_t(band)];
    const float attacked = a * s.gain + (1.0f - a) * target;
    const float released = r * s.gain + (1.0f - r) * std::min(target, 1.0f);
    const bool attack = target < s.gain;
    const bool holding = s.holdCounter > 0;
    s.gain = attack ? attacked : (holding ? s.gain : released);
    s.holdCounter = attack ? config_.holdSamples : (holding ? s.holdCounter - 1 : 0);
    s.gain = std::min(s.gain, 1.0f);
    return delayed * s.gain;
}

inline float MultibandLimiterEngine::align(BandLimiterState& s, float limited) {
    const int length = int(s.alignmentBuffer.size());
    if (length == 0) return limited;
    const float oldest = s.alignmentBuffer[size_t(s.alignmentIndex)];
    s.alignmentBuffer[size_t(s.alignmentIndex)] = limited;
    s.alignmentIndex = s.alignmentIndex + 1 == length ? 0 : s.alignmentIndex + 1;
    return oldest;
}

float MultibandLimiterEngine::processSample(int channel, float sample, float inputGain) {
    const std::array<float, 4> bands = splitBands(channel, sample * inputGain);
    auto& states = bandLimiterStates_[size_t(channel)].bands;
    std::array<float, 4> out{};
    for (int b = 0; b < 4; ++b) {
        BandLimiterState& state = states[size_t(b)];
        out[size_t(b)] = align(state, limitBand(state, b, bands[size_t(b)], threshold * thresholdFactors_[size_t(b)]));
    }
    return ((out[0] + out[1]) + out[2]) + out[3];
}

} // namespace orvanta
