#include "engine/MasteringChain.h"

#include "engine/CpuFeatures.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <vector>

namespace orvanta {

namespace {

float linearFromDb(float db) { return std::pow(10.0f, db / 20.0f); }

} // namespace

MasteringChain::MasteringChain(int channelCount, float sampleRate, uint32_t maxBlockFrames,
                               const MasteringChainSettings& settings)
    : settings_(settings), bands_(channelCount, MultibandLimiterConfig{}, sampleRate),
      phaseReturn_(channelCount, sampleRate, bands_.allPassCoeffs(), maxBlockFrames),
      clipper_(channelCount, linearFromDb(settings.ceilingDb - ceilingMarginDb), settings.softClipDepthDb),
      truePeak_(channelCount, sampleRate, linearFromDb(settings.ceilingDb - ceilingMarginDb), maxBlockFrames,
                settings.truePeakTiming),
      guard_(std::max(guardClip, linearFromDb(settings.ceilingDb))) {
    bands_.threshold = settings.bandThreshold;
    if (settings.bpm >= 1) {
        bands_.adaptReleaseToTempo(settings.bpm);
    }
}

int MasteringChain::latencySamples() const noexcept {
    return bands_.latencySamples() + phaseReturn_.latencySamples() + (clipper_.isActive() ? SoftClipper::latencySamples : 0) +
           truePeak_.latencySamples();
}

void MasteringChain::setKeptFrames(int64_t first, int64_t end) noexcept {
    keptFirst_ = first;
    keptEnd_ = end;
}

void MasteringChain::silenceOutsideKeptFrames(float* bandSum, uint32_t frames) const noexcept {
    // Output i of the phase return belongs to input frame i − the delay of the two.
    const int64_t delay = bands_.latencySamples() + phaseReturn_.latencySamples();
    const int64_t start = processedFrames_ - delay;
    const int64_t end = start + int64_t(frames);
    // Compared before subtracting: the kept end may be INT64_MAX.
    const int64_t keptFrom = keptFirst_ <= start ? 0 : keptFirst_ >= end ? frames : keptFirst_ - start;
    const int64_t keptTo = keptEnd_ >= end ? frames : std::max(keptFrom, keptEnd_ <= start ? 0 : keptEnd_ - start);
    std::fill(bandSum, bandSum + keptFrom, 0.0f);
    std::fill(bandSum + keptTo, bandSum + frames, 0.0f);
}

namespace {

// Runs job(0) … job(count − 1), each on a thread of its own but the first, which runs on this one.
template <class Job>
void runSideBySide(uint32_t count, const Job& job) {
    std::vector<std::thread> workers;
    workers.reserve(count > 0 ? count - 1 : 0);
    for (uint32_t k = 1; k < count; ++k) workers.emplace_back([&job, k] { job(k); });
    if (count > 0) job(0);
    for (std::thread& worker : workers) worker.join();
}

} // namespace

// Channels are independent up to the true-peak limiter, which links them. With eight-lane vectors two
// channels run side by side in one thread for the price of one, and the pairs run on threads of their
// own; without them every channel has a thread.
template <class Single, class Pair>
void MasteringChain::forEachPair(uint32_t channels, const Single& single, const Pair& pair) {
    if (!hasAvx2()) {
        runSideBySide(channels, single);
        return;
    }
    runSideBySide((channels + 1) / 2, [&](uint32_t k) {
        const uint32_t c = 2 * k;
        if (c + 1 < channels) {
            pair(c);
        } else {
            single(c);
        }
    });
}

void MasteringChain::limitBands(AudioBuffer& buffer) {
    const uint32_t frames = buffer.frameLength();
    const float gain = settings_.inputGain;
    forEachPair(
        buffer.channelCount(), [&](uint32_t c) { bands_.processBlock(int(c), buffer.channel(c), frames, gain); },
        [&](uint32_t c) { bands_.processBlockPair(int(c), buffer.channel(c), buffer.channel(c + 1), frames, gain); });
}

void MasteringChain::returnPhaseAndDetect(AudioBuffer& buffer, int peakSet) {
    const uint32_t frames = buffer.frameLength();
    const auto finishChannel = [&](uint32_t c) {
        float* samples = buffer.channel(c);
        silenceOutsideKeptFrames(samples, frames);
        clipper_.process(int(c), samples, frames);
        truePeak_.detect(int(c), samples, frames, peakSet);
    };
    forEachPair(
        buffer.channelCount(),
        [&](uint32_t c) {
            phaseReturn_.process(int(c), buffer.channel(c), frames);
            finishChannel(c);
        },
        [&](uint32_t c) {
            phaseReturn_.processPair(int(c), buffer.channel(c), buffer.channel(c + 1), frames);
            finishChannel(c);
            finishChannel(c + 1);
        });
    processedFrames_ += frames;
}

void MasteringChain::limitLinked(AudioBuffer& buffer, int peakSet) {
    const uint32_t channels = buffer.channelCount();
    const uint32_t frames = buffer.frameLength();
    std::vector<float*> pointers(channels);
    for (uint32_t c = 0; c < channels; ++c) pointers[c] = buffer.channel(c);
    truePeak_.apply(pointers.data(), frames, peakSet);
    for (uint32_t c = 0; c < channels; ++c) {
        for (uint32_t i = 0; i < frames; ++i) pointers[c][i] = std::clamp(pointers[c][i], -guard_, guard_);
    }
}

void MasteringChain::process(AudioBuffer& buffer) {
    limitBands(buffer);
    returnPhaseAndDetect(buffer, 0);
    limitLinked(buffer, 0);
}

} // namespace orvanta
