#pragma once

// The limiter's hot loop for one lane type, band-wise over runs of up to 512 samples: four lanes per
// channel, one band each, and as many channels as the type has groups of four lanes. Every value is
// computed with the same single-precision operations in the same order as processSample; only the
// grouping differs:
//  1. the crossovers run the four bands of a sample side by side in vector lanes, as a pipeline;
//  2. each band's look-ahead peak comes from a sliding-window maximum over the run (maxima are exact,
//     so any evaluation order gives the same value);
//  3. attack, hold and release run the bands side by side;
//  4. each band waits out its alignment delay, then the band sum runs four samples at a time.
// Afterwards the per-sample state (crossover memory, rings, gains, hold counters, window peaks) is
// exactly what processSample would have left, so the paths may be mixed freely.
//
// Included only by the files that instantiate it, each inside the target region of its lane type.
#include "engine/MultibandLimiter.h"
#include "engine/VectorBiquad.h"

namespace orvanta {

template <class Lanes>
class MultibandLimiterEngine::LaneBlock {
    using L = Lanes;
    using F = typename L::F;
    using I = typename L::I;
    static constexpr int width = L::width;
    static constexpr int channels = width / 4;
    using LanePointers = std::array<CrossoverMemory*, size_t(width)>;

public:
    // Channels first … first + channels − 1, their samples read from inputs[0 … channels − 1] and
    // written to outputs[0 … channels − 1], which may be the inputs (in place).
    LaneBlock(MultibandLimiterEngine& engine, int first, const float* const* inputs, float* const* outputs,
              LaneRows& rows);
    void process(uint32_t count, float inputGain);

private:
    static int lane(int channel, int band) { return 4 * channel + band; }
    BandLimiterState& band(int channel, int b) const { return engine_.bandLimiterStates_[size_t(first_ + channel)].bands[size_t(b)]; }
    F bandMask(int b) const;
    LanePointers lanesOf(CrossoverMemory* (*member)(ChannelFilters&, int b)) const;

    void loadRings();
    void loadFilters();
    void loadGains();
    void crossovers(uint32_t start, uint32_t run, float inputGain);
    void windowPeaks(uint32_t run);
    void probeWindows(int level, uint32_t run);
    void limit(uint32_t run);
    void sumBands(uint32_t start, uint32_t run);
    void storeState(uint32_t count, uint32_t lastRun);

    MultibandLimiterEngine& engine_;
    const int first_;
    const float* inputs_[channels];
    float* outputs_[channels];
    float* const history_;
    float* const maxima_;
    float* const peaks_;
    // Row waitRows_ + i holds the limited bands of sample i of the run, and the rows before it the
    // samples before the run, so band b of output sample i is lane b of row waitRows_ − waits_[b] + i.
    float* const limited_;
    int lengths_[4];
    int waits_[4];
    int waitRows_ = 0;
    int longest_;
    // Each band's window length as a power of two plus a second, overlapping probe.
    int levels_[4], probeOffsets_[4], topLevel_ = 0;

    LanePointers splitFirst_, splitSecond_, allPassMemory_, bandFirst_, bandSecond_;
    LaneBiquad<L> splitK_, allPassK_, bandK_;
    LaneMemory<L> split1_;
    FollowerMemory<L> split2_, allPass_, band1_, band2_;

    F attack_, attackRest_, release_, releaseRest_, bandThreshold_, gain_;
    I hold_;
};

template <class Lanes>
MultibandLimiterEngine::LaneBlock<Lanes>::LaneBlock(MultibandLimiterEngine& engine, int first,
                                                    const float* const* inputs, float* const* outputs, LaneRows& rows)
    : engine_(engine), first_(first), history_(rows.history.data()), maxima_(rows.maxima.data()),
      peaks_(rows.peaks.data()), limited_(rows.limited.data()), longest_(engine.longestLookAhead()) {
    for (int k = 0; k < channels; ++k) {
        inputs_[k] = inputs[k];
        outputs_[k] = outputs[k];
    }
    for (int b = 0; b < 4; ++b) {
        lengths_[b] = int(band(0, b).lookAheadBuffer.size());
        waits_[b] = int(band(0, b).alignmentBuffer.size());
        waitRows_ = std::max(waitRows_, waits_[b]);
        int level = 0;
        while ((2 << level) <= lengths_[b]) ++level;
        levels_[b] = level;
        probeOffsets_[b] = lengths_[b] - (1 << level);
        topLevel_ = std::max(topLevel_, level);
    }
    loadRings();
    loadFilters();
    loadGains();
}

template <class Lanes>
typename Lanes::F MultibandLimiterEngine::LaneBlock<Lanes>::bandMask(int b) const {
    alignas(64) uint32_t bits[width] = {};
    for (int k = 0; k < channels; ++k) bits[lane(k, b)] = 0xFFFFFFFFu;
    return L::fromBits(bits);
}

// The history rows hold the band samples still in each band's look-ahead ring, oldest first: lane b of
// row r is the sample that leaves band b's window r samples into the run, so row r is both the
// delayed output and the start of the look-ahead window of sample r. The limited rows start with the
// samples waiting in the alignment rings.
template <class Lanes>
void MultibandLimiterEngine::LaneBlock<Lanes>::loadRings() {
    for (int k = 0; k < channels; ++k) {
        for (int b = 0; b < 4; ++b) {
            const BandLimiterState& s = band(k, b);
            for (int j = 0; j + 1 < lengths_[b]; ++j) {
                history_[size_t(j) * width + size_t(lane(k, b))] = s.lookAheadBuffer[size_t((s.lookAheadIndex + 1 + j) % lengths_[b])];
            }
            for (int j = 0; j < waits_[b]; ++j) {
                limited_[size_t(waitRows_ - waits_[b] + j) * width + size_t(lane(k, b))] =
                    s.alignmentBuffer[size_t((s.alignmentIndex + j) % waits_[b])];
            }
        }
    }
}

template <class Lanes>
typename MultibandLimiterEngine::LaneBlock<Lanes>::LanePointers
MultibandLimiterEngine::LaneBlock<Lanes>::lanesOf(CrossoverMemory* (*member)(ChannelFilters&, int b)) const {
    LanePointers lanes{};
    for (int k = 0; k < channels; ++k) {
        for (int b = 0; b < 4; ++b) lanes[size_t(lane(k, b))] = member(engine_.filterStates_[size_t(first_ + k)], b);
    }
    return lanes;
}

// Lanes 0 and 1 of a group run the split into the low and high branch, lanes 0 to 3 the four bands.
template <class Lanes>
void MultibandLimiterEngine::LaneBlock<Lanes>::loadFilters() {
    using Filters = ChannelFilters;
    static constexpr int split[2] = {1, 4};
    static constexpr int bands[4] = {0, 3, 2, 5};
    splitFirst_ = lanesOf([](Filters& f, int b) { return b < 2 ? &f.stages[size_t(split[b])].stage1 : nullptr; });
    splitSecond_ = lanesOf([](Filters& f, int b) { return b < 2 ? &f.stages[size_t(split[b])].stage2 : nullptr; });
    allPassMemory_ = lanesOf([](Filters& f, int b) { return b == 0 ? &f.lowAllPass : b == 1 ? &f.highAllPass : nullptr; });
    bandFirst_ = lanesOf([](Filters& f, int b) { return &f.stages[size_t(bands[b])].stage1; });
    bandSecond_ = lanesOf([](Filters& f, int b) { return &f.stages[size_t(bands[b])].stage2; });

    const MultibandLimiterEngine& e = engine_;
    std::array<const LR4Coefficients*, size_t(width)> splitLanes{}, allPassLanes{}, bandLanes{};
    for (int k = 0; k < channels; ++k) {
        const LR4Coefficients* const splits[4] = {&e.lpCoeffs_[1], &e.hpCoeffs_[1], nullptr, nullptr};
        const LR4Coefficients* const allPasses[4] = {&e.apCoeffs_[2], &e.apCoeffs_[0], nullptr, nullptr};
        const LR4Coefficients* const bandFilters[4] = {&e.lpCoeffs_[0], &e.hpCoeffs_[0], &e.lpCoeffs_[2], &e.hpCoeffs_[2]};
        for (int b = 0; b < 4; ++b) {
            splitLanes[size_t(lane(k, b))] = splits[b];
            allPassLanes[size_t(lane(k, b))] = allPasses[b];
            bandLanes[size_t(lane(k, b))] = bandFilters[b];
        }
    }
    splitK_ = gatherLaneCoefficients<L>(splitLanes.data());
    allPassK_ = gatherLaneCoefficients<L>(allPassLanes.data());
    bandK_ = gatherLaneCoefficients<L>(bandLanes.data());
    split1_ = gatherLaneMemory<L>(splitFirst_.data());
    const auto follower = [](const LaneMemory<L>& m) { return FollowerMemory<L>{m.x2, m.y1, m.y2}; };
    split2_ = follower(gatherLaneMemory<L>(splitSecond_.data()));
    allPass_ = follower(gatherLaneMemory<L>(allPassMemory_.data()));
    band1_ = follower(gatherLaneMemory<L>(bandFirst_.data()));
    band2_ = follower(gatherLaneMemory<L>(bandSecond_.data()));
}

template <class Lanes>
void MultibandLimiterEngine::LaneBlock<Lanes>::loadGains() {
    alignas(64) float attack[width], attackRest[width], release[width], releaseRest[width], gains[width], thresholds[width];
    alignas(64) int32_t holds[width];
    for (int k = 0; k < channels; ++k) {
        for (int b = 0; b < 4; ++b) {
            const int l = lane(k, b);
            attack[l] = engine_.attackCoeffs_[size_t(b)];
            attackRest[l] = 1.0f - attack[l];
            release[l] = engine_.releaseCoeffs_[size_t(b)];
            releaseRest[l] = 1.0f - release[l];
            gains[l] = band(k, b).gain;
            holds[l] = band(k, b).holdCounter;
            thresholds[l] = engine_.thresholdFactors_[size_t(b)];
        }
    }
    attack_ = L::load(attack);
    attackRest_ = L::load(attackRest);
    release_ = L::load(release);
    releaseRest_ = L::load(releaseRest);
    bandThreshold_ = L::mul(L::set1(engine_.threshold), L::load(thresholds));
    gain_ = L::load(gains);
    hold_ = L::loadI(holds);
}

template <class Lanes>
void MultibandLimiterEngine::LaneBlock<Lanes>::process(uint32_t count, float inputGain) {
    uint32_t run = 0;
    for (uint32_t start = 0; start < count; start += run) {
        run = uint32_t(std::min<size_t>(runFrames, count - start));
        if (start > 0) {
            // The previous run's last samples become this run's history.
            std::memmove(history_, history_ + runFrames * width, size_t(longest_ - 1) * width * sizeof(float));
        }
        crossovers(start, run, inputGain);
        windowPeaks(run);
        limit(run);
        sumBands(start, run);
    }
    storeState(count, run);
}

// A five-stage pipeline: in step t the first split stage takes sample t, the second sample t − 1, the
// branch all-passes t − 2, the band filters' first stage t − 3 and their second t − 4, so the five
// filters of a step are independent of each other. Each run fills and drains it; later stages go
// first in a step, each taking what the stage before it produced in the previous step.
template <class Lanes>
void MultibandLimiterEngine::LaneBlock<Lanes>::crossovers(uint32_t start, uint32_t run, float inputGain) {
    const LaneBiquad<L> splitK = splitK_, allPassK = allPassK_, bandK = bandK_;
    LaneMemory<L> split1 = split1_;
    FollowerMemory<L> split2 = split2_, allPass = allPass_, band1 = band1_, band2 = band2_;
    float* const history = history_;
    const float* inputs[channels];
    for (int k = 0; k < channels; ++k) inputs[k] = inputs_[k] + start;
    const auto storeBands = [&](F bands, uint32_t frame) {
        alignas(64) float values[width];
        L::store(values, bands);
        for (int k = 0; k < channels; ++k) {
            for (int b = 0; b < 4; ++b) {
                history[(frame + uint32_t(lengths_[b]) - 1) * width + uint32_t(lane(k, b))] = values[lane(k, b)];
            }
        }
    };
    const auto input = [&](uint32_t t) {
        float values[channels];
        for (int k = 0; k < channels; ++k) values[k] = inputs[k][t] * inputGain;
        return L::broadcastGroups(values);
    };
    const auto secondBandStage = [&] { return followerStep(bandK, band2, band1.y1, band1.y2); };
    const auto firstBandStage = [&] { followerStep(bandK, band1, L::lowLowHighHigh(allPass.y1), L::lowLowHighHigh(allPass.y2)); };
    const auto allPassStage = [&] { followerStep(allPassK, allPass, split2.y1, split2.y2); };
    const auto secondSplitStage = [&] { followerStep(splitK, split2, split1.y1, split1.y2); };
    const auto firstSplitStage = [&](uint32_t t) { biquadStep(splitK, split1, input(t)); };
    const uint32_t steps = run + 4;
    for (uint32_t t = 0; t < steps; ++t) {
        if (t >= 4 && t < run) {
            // Every stage busy: no tests.
            const F bands = secondBandStage();
            firstBandStage();
            allPassStage();
            secondSplitStage();
            firstSplitStage(t);
            storeBands(bands, t - 4);
            continue;
        }
        if (t >= 4) storeBands(secondBandStage(), t - 4);
        if (t >= 3 && t - 3 < run) firstBandStage();
        if (t >= 2 && t - 2 < run) allPassStage();
        if (t >= 1 && t - 1 < run) secondSplitStage();
        if (t < run) firstSplitStage(t);
    }
    split1_ = split1;
    split2_ = split2;
    allPass_ = allPass;
    band1_ = band1;
    band2_ = band2;
}

// Maxima over 2^k rows, grown in place two or four times at a step; at each length, the peaks of the
// bands whose window is that long.
template <class Lanes>
void MultibandLimiterEngine::LaneBlock<Lanes>::windowPeaks(uint32_t run) {
    const size_t rows = run + size_t(longest_) - 1;
    for (size_t j = 0; j < rows; ++j) L::store(maxima_ + j * width, L::magnitude(L::load(history_ + j * width)));
    for (int level = 0; level <= topLevel_;) {
        probeWindows(level, run);
        if (level == topLevel_) break;
        int nextNeeded = topLevel_;
        for (int b = 0; b < 4; ++b) {
            if (levels_[b] > level) nextNeeded = std::min(nextNeeded, levels_[b]);
        }
        const size_t spanRows = size_t(1) << level;
        const size_t steps = nextNeeded - level >= 2 ? 4 : 2;
        const size_t limit = rows >= spanRows * steps ? rows - spanRows * steps + 1 : 0;
        const size_t span = spanRows * width;
        for (size_t j = 0; j < limit; ++j) {
            float* target = maxima_ + j * width;
            if (steps == 4) {
                const F near = L::max(L::load(target), L::load(target + span));
                const F far = L::max(L::load(target + 2 * span), L::load(target + 3 * span));
                L::store(target, L::max(near, far));
            } else {
                L::store(target, L::max(L::load(target), L::load(target + span)));
            }
        }
        level += steps == 4 ? 2 : 1;
    }
}

// The peaks of the bands whose window spans 2^level to 2^(level + 1) − 1 rows: two overlapping probes
// of 2^level rows, one where the window is exactly that long.
template <class Lanes>
void MultibandLimiterEngine::LaneBlock<Lanes>::probeWindows(int level, uint32_t run) {
    F levelLanes = L::zero(), probedLanes = L::zero();
    size_t probeOffset = 0;
    bool uniformOffset = true;
    for (int b = 0; b < 4; ++b) {
        if (levels_[b] != level) continue;
        levelLanes = L::bitOr(levelLanes, bandMask(b));
        if (probeOffsets_[b] == 0) continue;
        if (probeOffset != 0 && probeOffset != size_t(probeOffsets_[b])) uniformOffset = false;
        probeOffset = size_t(probeOffsets_[b]);
        probedLanes = L::bitOr(probedLanes, bandMask(b));
    }
    if (!uniformOffset) {
        // Bands of one length class with different remainders: one band at a time.
        for (int b = 0; b < 4; ++b) {
            if (levels_[b] != level) continue;
            const F mask = bandMask(b);
            const size_t offset = size_t(probeOffsets_[b]) * width;
            for (uint32_t i = 0; i < run; ++i) {
                const F windowMax = L::max(L::load(maxima_ + i * width), L::load(maxima_ + i * width + offset));
                L::store(peaks_ + i * width, L::select(mask, windowMax, L::load(peaks_ + i * width)));
            }
        }
        return;
    }
    if (!L::any(levelLanes)) return;
    for (uint32_t i = 0; i < run; ++i) {
        const F single = L::load(maxima_ + i * width);
        const F windowMax = L::select(probedLanes, L::max(single, L::load(maxima_ + (i + probeOffset) * width)), single);
        L::store(peaks_ + i * width, L::select(levelLanes, windowMax, L::load(peaks_ + i * width)));
    }
}

// Attack towards threshold/peak, hold, or release towards 1, chosen by selects.
template <class Lanes>
void MultibandLimiterEngine::LaneBlock<Lanes>::limit(uint32_t run) {
    const F a = attack_, aRest = attackRest_, r = release_, rRest = releaseRest_, threshold = bandThreshold_;
    const F one = L::set1(1.0f);
    const I holdSamples = L::set1I(engine_.config_.holdSamples), zeroI = L::set1I(0), oneI = L::set1I(1);
    F gain = gain_;
    I hold = hold_;
    float* const limited = limited_ + size_t(waitRows_) * width;
    for (uint32_t i = 0; i < run; ++i) {
        const F peak = L::load(peaks_ + i * width);
        const F target = L::select(L::less(threshold, peak), L::div(threshold, peak), one);
        const F attacked = L::add(L::mul(a, gain), L::mul(aRest, target));
        const F released = L::add(L::mul(r, gain), L::mul(rRest, L::min(one, target)));
        const F attacking = L::less(target, gain);
        const I holding = L::greaterI(hold, zeroI);
        const F next = L::select(attacking, attacked, L::select(L::asFloat(holding), gain, released));
        hold = L::selectI(attacking, holdSamples, L::andI(holding, L::subI(hold, oneI)));
        gain = L::min(one, next);
        L::store(limited + i * width, L::mul(L::load(history_ + i * width), gain));
    }
    gain_ = gain;
    hold_ = hold;
}

// Each band behind its wait, then ((b0 + b1) + b2) + b3 of each channel, four samples at a time.
template <class Lanes>
void MultibandLimiterEngine::LaneBlock<Lanes>::sumBands(uint32_t start, uint32_t run) {
    const float* bandRows[4];
    for (int b = 0; b < 4; ++b) bandRows[b] = limited_ + size_t(waitRows_ - waits_[b]) * width;
    float* outputs[channels];
    for (int k = 0; k < channels; ++k) outputs[k] = outputs_[k] + start;
    uint32_t i = 0;
    for (; i + 4 <= run; i += 4) {
        F rows[4];
        for (uint32_t q = 0; q < 4; ++q) {
            const size_t offset = size_t(i + q) * width;
            const F bands[4] = {L::load(bandRows[0] + offset), L::load(bandRows[1] + offset),
                                L::load(bandRows[2] + offset), L::load(bandRows[3] + offset)};
            rows[q] = L::pickDiagonal(bands);
        }
        L::storeGroupSums(rows, outputs, i);
    }
    for (; i < run; ++i) {
        const size_t offset = size_t(i) * width;
        for (int k = 0; k < channels; ++k) {
            const size_t l = size_t(lane(k, 0));
            outputs[k][i] = ((bandRows[0][offset + l] + bandRows[1][offset + l + 1]) + bandRows[2][offset + l + 2]) +
                            bandRows[3][offset + l + 3];
        }
    }
    // The run's last limited rows wait for the next run.
    std::memmove(limited_, limited_ + size_t(run) * width, size_t(waitRows_) * width * sizeof(float));
}

// The rings, gains and filter memories as after as many processSample calls: each ring holds its
// band's last samples, the oldest at the next slot to write.
template <class Lanes>
void MultibandLimiterEngine::LaneBlock<Lanes>::storeState(uint32_t count, uint32_t lastRun) {
    scatterLaneMemory<L>(split1_, splitFirst_.data());
    scatterLaneMemory<L>({split1_.y1, split2_.x2, split2_.y1, split2_.y2}, splitSecond_.data());
    scatterLaneMemory<L>({split2_.y1, allPass_.x2, allPass_.y1, allPass_.y2}, allPassMemory_.data());
    scatterLaneMemory<L>({L::lowLowHighHigh(allPass_.y1), band1_.x2, band1_.y1, band1_.y2}, bandFirst_.data());
    scatterLaneMemory<L>({band1_.y1, band2_.x2, band2_.y1, band2_.y2}, bandSecond_.data());
    alignas(64) float gains[width];
    alignas(64) int32_t holds[width];
    L::store(gains, gain_);
    L::storeI(holds, hold_);
    for (int k = 0; k < channels; ++k) {
        for (int b = 0; b < 4; ++b) {
            BandLimiterState& s = band(k, b);
            const size_t l = size_t(lane(k, b));
            s.gain = gains[l];
            s.holdCounter = holds[l];
            const int length = lengths_[b];
            s.lookAheadIndex = int((uint64_t(s.lookAheadIndex) + count) % uint64_t(length));
            float peak = 0.0f;
            for (int j = 0; j < length; ++j) {
                const float value = history_[(lastRun - 1 + size_t(j)) * width + l];
                s.lookAheadBuffer[size_t((s.lookAheadIndex + j) % length)] = value;
                peak = std::max(peak, std::fabs(value));
            }
            s.windowPeak = peak;
            const int wait = waits_[b];
            if (wait == 0) continue;
            s.alignmentIndex = int((uint64_t(s.alignmentIndex) + count) % uint64_t(wait));
            for (int j = 0; j < wait; ++j) {
                s.alignmentBuffer[size_t((s.alignmentIndex + j) % wait)] = limited_[size_t(waitRows_ - wait + j) * width + l];
            }
        }
    }
}

} // namespace orvanta
