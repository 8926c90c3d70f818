#include "engine/MultibandLimiter.h"

#include <algorithm>
#include <cmath>

namespace orvanta {

namespace {

inline float biquadStep(const LR4Coefficients& k, CrossoverMemory& m, float x) {
    const float y = k.b0 * x + k.b1 * m.x1 + k.b2 * m.x2 - k.a1 * m.y1 - k.a2 * m.y2;
    m.x2 = m.x1;
    m.x1 = x;
    m.y2 = m.y1;
    m.y1 = y;
    return y;
}

inline float lr4Step(const LR4Coefficients& k, LR4FilterState& state, float x) {
    return biquadStep(k, state.stage2, biquadStep(k, state.stage1, x));
}

float tempoFactor(int bpm) {
    if (bpm <= 80) return 1.2f;
    if (bpm <= 120) return 1.0f;
    if (bpm <= 150) return 0.85f;
    return 0.7f;
}

float smoothingCoefficient(float sampleRate, float seconds) { return std::exp(-1.0f / (sampleRate * seconds)); }

} // namespace

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
    for (float fc : config_.crossoverFrequencies) {
        const float w = 6.283185f * fc / sampleRate_;
        const float s = std::sin(w);
        const float c = std::cos(w);
        const float alpha = s / 1.4142135f;
        const float a0 = 1.0f + alpha;
        LR4Coefficients lp;
        lp.b0 = (1.0f - c) * 0.5f / a0;
        lp.b1 = (1.0f - c) / a0;
        lp.b2 = lp.b0;
        lp.a1 = -2.0f * c / a0;
        lp.a2 = (1.0f - alpha) / a0;
        LR4Coefficients hp;
        hp.b0 = (1.0f + c) * 0.5f / a0;
        hp.b1 = -(1.0f + c) / a0;
        hp.b2 = hp.b0;
        hp.a1 = -2.0f * c / a0;
        hp.a2 = (1.0f - alpha) / a0;
        lpCoeffs_.push_back(lp);
        hpCoeffs_.push_back(hp);
    }
    filterStates_.assign(size_t(channelCount_), {});
}

void MultibandLimiterEngine::setupBandLimiters() {
    attackCoeffs_.clear();
    for (float t : config_.attackTimes) attackCoeffs_.push_back(smoothingCoefficient(sampleRate_, t));
    releaseCoeffs_.clear();
    for (float t : config_.releaseTimes) releaseCoeffs_.push_back(smoothingCoefficient(sampleRate_, t));

    bandLimiterStates_.assign(size_t(channelCount_), {});
    for (auto& channel : bandLimiterStates_) {
        for (size_t b = 0; b < channel.size(); ++b) {
            BandLimiterState& state = channel[b];
            const int length = std::max(1, config_.lookAheadSamples[b]);
            state.lookAheadBuffer.assign(size_t(length), 0.0f);
            state.peakPositions.assign(size_t(length), 0);
            state.peakMagnitudes.assign(size_t(length), 0.0f);
        }
    }
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
    auto& f = filterStates_[size_t(channel)];
    const float low = lr4Step(lpCoeffs_[1], f[1], x);
    const float high = lr4Step(hpCoeffs_[1], f[4], x);
    return {lr4Step(lpCoeffs_[0], f[0], low), lr4Step(hpCoeffs_[0], f[3], low), lr4Step(lpCoeffs_[2], f[2], high),
            lr4Step(hpCoeffs_[2], f[5], high)};
}

inline float MultibandLimiterEngine::limitBand(BandLimiterState& s, int band, float bandSample, float bandThreshold) {
    const int length = int(s.lookAheadBuffer.size());
    s.lookAheadBuffer[size_t(s.lookAheadIndex)] = bandSample;
    s.lookAheadIndex = (s.lookAheadIndex + 1) % length;
    const float delayed = s.lookAheadBuffer[size_t(s.lookAheadIndex)];

    // Window peak: the largest magnitude among the last `length` samples (the ring's contents;
    // the initial zeros never exceed a magnitude).
    const int64_t position = s.written++;
    const float magnitude = std::fabs(bandSample);
    if (s.peakCount > 0 && s.peakPositions[size_t(s.peakHead)] <= position - length) {
        s.peakHead = (s.peakHead + 1) % length;
        --s.peakCount;
    }
    int tail = s.peakHead + s.peakCount - 1;
    while (s.peakCount > 0 && s.peakMagnitudes[size_t(tail % length)] <= magnitude) {
        --s.peakCount;
        --tail;
    }
    const int slot = (s.peakHead + s.peakCount) % length;
    s.peakPositions[size_t(slot)] = position;
    s.peakMagnitudes[size_t(slot)] = magnitude;
    ++s.peakCount;
    const float peak = s.peakMagnitudes[size_t(s.peakHead)];

    const float target = bandThreshold < peak ? bandThreshold / peak : 1.0f;
    if (target < s.gain) {
        const float a = attackCoeffs_[size_t(band)];
        s.gain = a * s.gain + (1.0f - a) * target;
        s.holdCounter = config_.holdSamples;
    } else if (s.holdCounter > 0) {
        --s.holdCounter;
    } else {
        const float r = releaseCoeffs_[size_t(band)];
        s.gain = r * s.gain + (1.0f - r) * std::min(target, 1.0f);
    }
    s.gain = std::min(s.gain, 1.0f);
    return delayed * s.gain;
}

float MultibandLimiterEngine::processSample(int channel, float sample, float inputGain) {
    const std::array<float, 4> bands = splitBands(channel, sample * inputGain);
    auto& states = bandLimiterStates_[size_t(channel)];
    std::array<float, 4> out{};
    for (int b = 0; b < 4; ++b) {
        out[size_t(b)] = limitBand(states[size_t(b)], b, bands[size_t(b)], threshold * thresholdFactors_[size_t(b)]);
    }
    const float y = ((out[0] + out[1]) + out[2]) + out[3];
    if (y <= -outputClip) return -outputClip;
    if (y > outputClip) return outputClip;
    return y;
}

void MultibandLimiterEngine::processBlock(int channel, float* samples, uint32_t count, float inputGain) {
    for (uint32_t i = 0; i < count; ++i) {
        samples[i] = processSample(channel, samples[i], inputGain);
    }
}

} // namespace orvanta
