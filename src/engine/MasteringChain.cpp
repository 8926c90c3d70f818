#include "engine/MasteringChain.h"

#include "engine/CpuFeatures.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace orvanta {

namespace {

float linearFromDb(float db) { return std::pow(10.0f, db / 20.0f); }

// The band limit's transition: steep enough to keep nearly all of the audible band, wide enough for a
// filter of about a hundred taps at 44.1 kHz.
constexpr float bandLimitTransitionHz = 1500.0f;

} // namespace

MasteringChain::MasteringChain(int channelCount, float sampleRate, uint32_t maxBlockFrames,
                               const MasteringChainSettings& settings, WorkExecutor* executor)
    : executor_(executor), settings_(settings), bands_(channelCount, MultibandLimiterConfig{}, sampleRate),
      phaseReturn_(channelCount, sampleRate, bands_.allPassCoeffs(), maxBlockFrames),
      clipper_(channelCount, linearFromDb(settings.ceilingDb - ceilingMarginDb), settings.softClipDepthDb),
      bandLimit_(channelCount, sampleRate, settings.bandLimitHz, settings.bandLimitHz + bandLimitTransitionHz),
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
           bandLimit_.latencySamples() + truePeak_.latencySamples();
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

// Channels are independent up to the true-peak limiter, which links them. With eight-lane vectors two
// channels run side by side in one job for the price of one; without them every channel is a job.
// The jobs run side by side on the executor, or one after another without one.
template <class Single, class Pair>
void MasteringChain::forEachPair(uint32_t channels, const Single& single, const Pair& pair) {
    const bool pairs = hasAvx2();
    const uint32_t jobs = pairs ? (channels + 1) / 2 : channels;
    const auto job = [&](uint32_t k) {
        const uint32_t c = 2 * k;
        if (!pairs) {
            single(k);
        } else if (c + 1 < channels) {
            pair(c);
        } else {
            single(c);
        }
    };
    if (executor_ == nullptr || jobs <= 1) {
        for (uint32_t k = 0; k < jobs; ++k) job(k);
        return;
    }
    executor_->forEach(jobs, job);
}

void MasteringChain::limitBands(AudioBuffer& buffer) {
    std::vector<const float*> inputs(buffer.channelCount());
    for (uint32_t c = 0; c < buffer.channelCount(); ++c) inputs[c] = buffer.channel(c);
    limitBands(inputs.data(), buffer);
}

void MasteringChain::limitBands(const float* const* inputs, AudioBuffer& buffer) {
    const uint32_t frames = buffer.frameLength();
    const float gain = settings_.inputGain;
    forEachPair(
        buffer.channelCount(),
        [&](uint32_t c) {
            bands_.processBlock(int(c), inputs[c], buffer.channel(c), frames, gain);
            phaseReturn_.process(int(c), buffer.channel(c), frames);
        },
        [&](uint32_t c) {
            float* const outputs[2] = {buffer.channel(c), buffer.channel(c + 1)};
            bands_.processBlockPair(int(c), inputs + c, outputs, frames, gain);
            phaseReturn_.processPair(int(c), outputs[0], outputs[1], frames);
        });
}

void MasteringChain::clipAndDetect(AudioBuffer& buffer, int peakSet) {
    const uint32_t frames = buffer.frameLength();
    const auto finishChannel = [&](uint32_t c) {
        float* samples = buffer.channel(c);
        silenceOutsideKeptFrames(samples, frames);
        clipper_.process(int(c), samples, frames);
        bandLimit_.process(int(c), samples, frames);
        truePeak_.detect(int(c), samples, frames, peakSet);
    };
    forEachPair(
        buffer.channelCount(), [&](uint32_t c) { finishChannel(c); },
        [&](uint32_t c) {
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
    clipAndDetect(buffer, 0);
    limitLinked(buffer, 0);
}

} // namespace orvanta
