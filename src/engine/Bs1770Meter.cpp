#include "engine/Bs1770Meter.h"

#include "platform/ChannelLayout.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvanta {

namespace {

constexpr float smallestFloat = std::numeric_limits<float>::denorm_min(); // 1.401298464324817e-45

// Frames in `seconds`, truncated from a single-precision product.
size_t framesIn(double sampleRate, float seconds) { return size_t(uint32_t(float(sampleRate) * seconds)); }

// Blocks of `length` frames starting every `hop` frames in `frames` frames.
size_t blockCount(size_t length, size_t hop, int64_t frames, bool mayEndOnLastFrame) {
    if (length == 0 || hop == 0 || frames < int64_t(length)) return 0;
    const auto room = size_t(frames) - length;
    if (mayEndOnLastFrame) return room / hop + 1;
    return room == 0 ? 0 : (room + hop - 1) / hop;
}

float meanOf(const std::vector<float>& values) {
    float sum = 0.0f;
    for (float v : values) sum += v;
    return values.empty() ? 0.0f : sum / float(values.size());
}

} // namespace

Bs1770Meter::Bs1770Meter(double sampleRate, uint32_t channelCount, const Bs1770Config& config,
                         int64_t expectedFrames, uint32_t maxPiece, uint64_t channelMask)
    : config_(config), blockFrames_(framesIn(sampleRate, config.blockSeconds)),
      shortTermFrames_(framesIn(sampleRate, config.shortTermSeconds)), maxPiece_(maxPiece) {
    const size_t hop = framesIn(sampleRate, config.hopSeconds);
    const size_t shortTermHop = framesIn(sampleRate, config.shortTermHopSeconds);
    const bool lastFrame = config.lastBlockMayEndOnLastFrame;
    channels_.reserve(channelCount);
    for (uint32_t c = 0; c < channelCount; ++c) weights_.push_back(loudnessChannelWeight(channelMask, channelCount, c));
    for (uint32_t c = 0; c < channelCount; ++c) {
        Channel& channel = channels_.emplace_back(
            KWeightingFilter(sampleRate),
            WindowedSums(blockFrames_, hop, blockCount(blockFrames_, hop, expectedFrames, lastFrame), maxPiece,
                         config.sumOfSquares),
            std::nullopt);
        if (shortTermFrames_ > 0) {
            channel.shortTerm.emplace(shortTermFrames_, shortTermHop,
                                      blockCount(shortTermFrames_, shortTermHop, expectedFrames, lastFrame), maxPiece,
                                      config.sumOfSquares);
        }
    }
    if (config.truePeak) truePeak_.emplace(int(channelCount));
}

void Bs1770Meter::weigh(uint32_t first, uint32_t count, const float* const* samples, uint32_t frames) noexcept {
    Channel& a = channels_[first];
    if (count == 2) {
        Channel& b = channels_[first + 1];
        KWeightingFilter::processPair(a.kWeighting, samples[0], a.blocks.room(), b.kWeighting, samples[1],
                                      b.blocks.room(), frames);
    } else {
        a.kWeighting.process(samples[0], a.blocks.room(), frames);
    }
    for (uint32_t c = first; c < first + count; ++c) {
        Channel& channel = channels_[c];
        if (channel.shortTerm) {
            const float* weighted = channel.blocks.room();
            std::copy(weighted, weighted + frames, channel.shortTerm->room());
            channel.shortTerm->append(frames);
        }
        channel.blocks.append(frames);
    }
}

void Bs1770Meter::addTruePeak(uint32_t channel, const float* samples, uint32_t frames) {
    if (truePeak_) truePeak_->process(int(channel), samples, frames, nullptr);
}

void Bs1770Meter::addPlanar(const float* const* channels, uint32_t frames) {
    for (uint32_t start = 0; start < frames; start += maxPiece_) {
        const uint32_t count = std::min(maxPiece_, frames - start);
        for (uint32_t c = 0; c < channelCount(); c += 2) {
            const uint32_t pair = std::min<uint32_t>(2, channelCount() - c);
            const float* piece[2] = {channels[c] + start, pair == 2 ? channels[c + 1] + start : nullptr};
            weigh(c, pair, piece, count);
            for (uint32_t i = 0; i < pair; ++i) addTruePeak(c + i, piece[i], count);
        }
    }
}

void Bs1770Meter::addInterleaved(const float* samples, uint32_t frames) {
    const uint32_t channels = channelCount();
    if (channels == 0) return;
    if (scratch_.empty()) {
        scratch_.resize(size_t(maxPiece_) * channels);
        for (uint32_t c = 0; c < channels; ++c) scratchChannels_.push_back(scratch_.data() + size_t(c) * maxPiece_);
    }
    for (uint32_t start = 0; start < frames; start += maxPiece_) {
        const uint32_t count = std::min(maxPiece_, frames - start);
        for (uint32_t i = 0; i < count; ++i)
            for (uint32_t c = 0; c < channels; ++c)
                scratch_[size_t(c) * maxPiece_ + i] = samples[(size_t(start) + i) * channels + c];
        addPlanar(scratchChannels_.data(), count);
    }
}

void Bs1770Meter::finish(int64_t frames) {
    const bool lastFrame = config_.lastBlockMayEndOnLastFrame;
    for (uint32_t c = 0; c < channelCount(); ++c) {
        Channel& channel = channels_[c];
        channel.blocks.truncate(blockCount(blockFrames_, channel.blocks.hop(), frames, lastFrame));
        if (channel.shortTerm) {
            channel.shortTerm->truncate(blockCount(shortTermFrames_, channel.shortTerm->hop(), frames, lastFrame));
        }
        if (truePeak_) truePeak_->flush(int(c), nullptr);
    }
}

std::vector<float> Bs1770Meter::powers(bool shortTerm) const {
    const auto sumsOf = [shortTerm](const Channel& channel) -> const std::vector<float>& {
        static const std::vector<float> none;
        return shortTerm ? (channel.shortTerm ? channel.shortTerm->sums() : none) : channel.blocks.sums();
    };
    const float length = float(shortTerm ? shortTermFrames_ : blockFrames_);
    std::vector<float> result(channels_.empty() ? 0 : sumsOf(channels_[0]).size());
    for (size_t j = 0; j < result.size(); ++j) {
        float z = 0.0f;
        for (size_t c = 0; c < channels_.size(); ++c) {
            const float sum = sumsOf(channels_[c])[j];
            // The two orders round differently with the 1.41 weight; each user keeps its own.
            z += config_.weightMeanSquares ? weights_[c] * (sum / length) : weights_[c] * sum / length;
        }
        result[j] = z;
    }
    return result;
}

std::vector<float> Bs1770Meter::blockPowers() const { return powers(false); }

std::vector<float> Bs1770Meter::shortTermPowers() const { return powers(true); }

float Bs1770Meter::gatedMeanSquare() const {
    const std::vector<float> blocks = blockPowers();
    std::vector<float> absoluteGated;
    for (float z : blocks)
        if (z > 1e-7f) absoluteGated.push_back(z);
    if (absoluteGated.empty()) absoluteGated = blocks;
    const float relativeThreshold = 0.1f * meanOf(absoluteGated);
    std::vector<float> relativeGated;
    for (float z : absoluteGated)
        if (z > relativeThreshold) relativeGated.push_back(z);
    return meanOf(relativeGated.empty() ? absoluteGated : relativeGated);
}

float Bs1770Meter::integratedLoudness() const { return loudnessOfPower(gatedMeanSquare()); }

double Bs1770Meter::loudnessRange() const {
    const float meanSquare = gatedMeanSquare();
    const double integrated = meanSquare > 0.0f ? loudnessOfPower(meanSquare) : -70.0;
    std::vector<double> values;
    for (float z : shortTermPowers()) values.push_back(loudnessOfPower(z));
    return orvanta::loudnessRange(values, integrated);
}

float loudnessChannelWeight(uint64_t channelMask, uint32_t channelCount, uint32_t channel) noexcept {
    if (!maskDescribesChannels(channelMask, channelCount)) return channel < 2 ? 1.0f : 1.41f;
    constexpr uint64_t surrounds = speaker::sideLeft | speaker::sideRight | speaker::backLeft | speaker::backRight |
                                   speaker::backCentre | speaker::topBackLeft | speaker::topBackCentre |
                                   speaker::topBackRight;
    const uint64_t position = speakerOfChannel(channelMask, channel);
    if (position == speaker::lowFrequency) return 0.0f;
    return (position & surrounds) != 0 ? 1.41f : 1.0f;
}

float loudnessOfPower(float power) { return 10.0f * std::log10(std::max(power, smallestFloat)) - 0.691f + meterCalibrationDb; }

double loudnessRange(const std::vector<double>& shortTermValues, double integrated) {
    std::vector<double> kept;
    for (double v : shortTermValues)
        if (v > -70.0 && v > integrated - 20.0) kept.push_back(v);
    if (kept.size() < 2) return 0.0;
    std::sort(kept.begin(), kept.end());
    const auto percentile = [&kept](double q) {
        const double position = std::clamp(q, 0.0, 1.0) * double(kept.size() - 1);
        const auto lower = size_t(std::floor(position));
        const auto upper = size_t(std::ceil(position));
        const double t = position - double(lower);
        return kept[lower] + (kept[upper] - kept[lower]) * t;
    };
    return std::max(percentile(0.95) - percentile(0.10), 0.0);
}

} // namespace orvanta
