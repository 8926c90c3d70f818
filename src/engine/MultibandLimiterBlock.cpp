// The limiter's hot loop, band-wise over runs of up to 512 samples. Every value is computed with the
// same single-precision operations in the same order as processSample; only the grouping differs:
//  1. the crossovers run the four bands of a sample side by side in vector lanes;
//  2. each band's look-ahead peak comes from a sliding-window maximum over the run (maxima are exact,
//     so any evaluation order gives the same value);
//  3. attack, hold and release run the four bands side by side;
//  4. each band waits out its alignment delay, then the band sum runs four samples at a time.
// Afterwards the per-sample state (crossover memory, rings, gains, hold counters, window peaks) is
// exactly what processSample would have left, so the two may be mixed freely.
#include "engine/MultibandLimiter.h"
#include "engine/VectorBiquad.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvanta {

#if defined(__SSE2__)

namespace {

// A later stage of a cascade: its input and previous input are the earlier stage's last two outputs
// (x1 of a later stage always equals y1 of the stage before it), so it keeps only x2 and its outputs.
struct FollowerMemory {
    __m128 x2, y1, y2;
};

inline __m128 followerStep(const Biquad4& k, FollowerMemory& m, __m128 x, __m128 x1) {
    __m128 y = _mm_add_ps(_mm_mul_ps(k.b0, x), _mm_mul_ps(k.b1, x1));
    y = _mm_add_ps(y, _mm_mul_ps(k.b2, m.x2));
    y = _mm_sub_ps(y, _mm_mul_ps(k.a1, m.y1));
    y = _mm_sub_ps(y, _mm_mul_ps(k.a2, m.y2));
    m.x2 = x1;
    m.y2 = m.y1;
    m.y1 = y;
    return y;
}

inline __m128 lowLowHighHigh(__m128 lowHigh) { return _mm_shuffle_ps(lowHigh, lowHigh, _MM_SHUFFLE(1, 1, 0, 0)); }

Memory4 gatherMemory(CrossoverMemory* lanes[4]) {
    alignas(16) float v[4][4] = {};
    for (int l = 0; l < 4; ++l) {
        if (lanes[l] == nullptr) continue;
        v[0][l] = lanes[l]->x1;
        v[1][l] = lanes[l]->x2;
        v[2][l] = lanes[l]->y1;
        v[3][l] = lanes[l]->y2;
    }
    return {_mm_load_ps(v[0]), _mm_load_ps(v[1]), _mm_load_ps(v[2]), _mm_load_ps(v[3])};
}

void scatterMemory(const Memory4& m, CrossoverMemory* lanes[4]) {
    alignas(16) float v[4][4];
    _mm_store_ps(v[0], m.x1);
    _mm_store_ps(v[1], m.x2);
    _mm_store_ps(v[2], m.y1);
    _mm_store_ps(v[3], m.y2);
    for (int l = 0; l < 4; ++l) {
        if (lanes[l] == nullptr) continue;
        *lanes[l] = {v[0][l], v[1][l], v[2][l], v[3][l]};
    }
}

inline __m128 select(__m128 mask, __m128 whenSet, __m128 otherwise) {
    return _mm_or_ps(_mm_and_ps(mask, whenSet), _mm_andnot_ps(mask, otherwise));
}

inline __m128 laneMask(int lane) {
    alignas(16) uint32_t bits[4] = {0, 0, 0, 0};
    bits[lane] = 0xFFFFFFFFu;
    return _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(bits)));
}

inline float* row(std::vector<float>& rows, size_t index) { return rows.data() + index * 4; }

} // namespace

void MultibandLimiterEngine::processBlock(int channel, float* samples, uint32_t count, float inputGain) {
    ChannelLimiters& limiters = bandLimiterStates_[size_t(channel)];
    if (count == 0) return;
    if (!hasFourBandLayout() || limiters.history.empty()) {
        for (uint32_t i = 0; i < count; ++i) samples[i] = processSample(channel, samples[i], inputGain);
        return;
    }

    int lengths[4];
    for (int b = 0; b < 4; ++b) lengths[b] = int(limiters.bands[size_t(b)].lookAheadBuffer.size());
    const int longest = longestLookAhead();

    // History rows: lane b of row r holds the band sample that leaves band b's window r samples into
    // the run, so row r is both the delayed output and the start of the look-ahead window of sample r.
    // The first lengths[b] − 1 rows of a lane come from its ring, oldest first.
    for (int b = 0; b < 4; ++b) {
        const BandLimiterState& s = limiters.bands[size_t(b)];
        for (int j = 0; j + 1 < lengths[b]; ++j) {
            row(limiters.history, size_t(j))[b] = s.lookAheadBuffer[size_t((s.lookAheadIndex + 1 + j) % lengths[b])];
        }
    }

    ChannelFilters& filters = filterStates_[size_t(channel)];
    auto& f = filters.stages;
    const LR4Coefficients* splitLanes[4] = {&lpCoeffs_[1], &hpCoeffs_[1], nullptr, nullptr};
    const LR4Coefficients* allPassLanes[4] = {&apCoeffs_[2], &apCoeffs_[0], nullptr, nullptr};
    const LR4Coefficients* bandLanes[4] = {&lpCoeffs_[0], &hpCoeffs_[0], &lpCoeffs_[2], &hpCoeffs_[2]};
    CrossoverMemory* splitFirst[4] = {&f[1].stage1, &f[4].stage1, nullptr, nullptr};
    CrossoverMemory* splitSecond[4] = {&f[1].stage2, &f[4].stage2, nullptr, nullptr};
    CrossoverMemory* allPassMemory[4] = {&filters.lowAllPass, &filters.highAllPass, nullptr, nullptr};
    CrossoverMemory* bandFirst[4] = {&f[0].stage1, &f[3].stage1, &f[2].stage1, &f[5].stage1};
    CrossoverMemory* bandSecond[4] = {&f[0].stage2, &f[3].stage2, &f[2].stage2, &f[5].stage2};
    const Biquad4 splitK = gatherCoefficients(splitLanes);
    const Biquad4 allPassK = gatherCoefficients(allPassLanes);
    const Biquad4 bandK = gatherCoefficients(bandLanes);
    Memory4 split1 = gatherMemory(splitFirst);
    const auto follower = [](const Memory4& m) { return FollowerMemory{m.x2, m.y1, m.y2}; };
    FollowerMemory split2 = follower(gatherMemory(splitSecond));
    FollowerMemory allPass = follower(gatherMemory(allPassMemory));
    FollowerMemory band1 = follower(gatherMemory(bandFirst));
    FollowerMemory band2 = follower(gatherMemory(bandSecond));

    alignas(16) float attack[4], attackRest[4], release[4], releaseRest[4], gains[4];
    alignas(16) int32_t holds[4];
    for (int b = 0; b < 4; ++b) {
        attack[b] = attackCoeffs_[size_t(b)];
        attackRest[b] = 1.0f - attack[b];
        release[b] = releaseCoeffs_[size_t(b)];
        releaseRest[b] = 1.0f - release[b];
        gains[b] = limiters.bands[size_t(b)].gain;
        holds[b] = limiters.bands[size_t(b)].holdCounter;
    }
    const __m128 a = _mm_load_ps(attack), aRest = _mm_load_ps(attackRest);
    const __m128 r = _mm_load_ps(release), rRest = _mm_load_ps(releaseRest);
    const __m128 bandThreshold =
        _mm_mul_ps(_mm_set1_ps(threshold), _mm_loadu_ps(thresholdFactors_.data()));
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 magnitudeMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128i holdSamples = _mm_set1_epi32(config_.holdSamples);
    const __m128i zeroI = _mm_setzero_si128();
    const __m128i oneI = _mm_set1_epi32(1);
    __m128 gain = _mm_load_ps(gains);
    __m128i hold = _mm_load_si128(reinterpret_cast<const __m128i*>(holds));

    // Each lane's window length as a power of two plus a second, overlapping probe.
    int levels[4], probeOffsets[4], topLevel = 0;
    for (int b = 0; b < 4; ++b) {
        int level = 0;
        while ((2 << level) <= lengths[b]) ++level;
        levels[b] = level;
        probeOffsets[b] = lengths[b] - (1 << level);
        topLevel = std::max(topLevel, level);
    }

    float* const historyRows = limiters.history.data();
    float* const maxima = limiters.maxima.data();
    float* const peaks = limiters.peaks.data();
    uint32_t run = 0;
    for (uint32_t start = 0; start < count; start += run) {
        run = uint32_t(std::min<size_t>(runFrames, count - start));
        float* const out = samples + start;

        if (start > 0) {
            // The previous run's last samples become this run's history.
            std::memmove(row(limiters.history, 0), row(limiters.history, runFrames),
                         size_t(longest - 1) * 4 * sizeof(float));
        }

        // 1. Crossovers, as a five-stage pipeline: in step t the first split stage takes sample t, the
        //    second sample t − 1, the branch all-passes t − 2, the band filters' first stage t − 3 and
        //    their second t − 4, so the five filters of a step are independent of each other. Each run
        //    fills and drains it.
        const auto storeBands = [&](__m128 bands, uint32_t frame) {
            alignas(16) float lanes[4];
            _mm_store_ps(lanes, bands);
            for (int b = 0; b < 4; ++b) historyRows[(frame + uint32_t(lengths[b]) - 1) * 4 + uint32_t(b)] = lanes[b];
        };
        const auto input = [&](uint32_t frame) { return _mm_set1_ps(out[frame] * inputGain); };
        // Later stages first: each takes what the stage before it produced in the previous step.
        const auto secondBandStage = [&] { return followerStep(bandK, band2, band1.y1, band1.y2); };
        const auto firstBandStage = [&] { followerStep(bandK, band1, lowLowHighHigh(allPass.y1), lowLowHighHigh(allPass.y2)); };
        const auto allPassStage = [&] { followerStep(allPassK, allPass, split2.y1, split2.y2); };
        const auto secondSplitStage = [&] { followerStep(splitK, split2, split1.y1, split1.y2); };
        const auto firstSplitStage = [&](uint32_t t) { biquad4(splitK, split1, input(t)); };
        const uint32_t steps = run + 4;
        for (uint32_t t = 0; t < steps; ++t) {
            if (t >= 4 && t < run) {
                const __m128 bands = secondBandStage();
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

        // 2. Window peaks: maxima over 2^k rows, grown in place two or four times at a step, then for
        //    the lanes whose window is that long, two overlapping probes of 2^k rows.
        const size_t rows = run + size_t(longest) - 1;
        for (size_t j = 0; j < rows; ++j) {
            _mm_storeu_ps(maxima + j * 4, _mm_and_ps(_mm_loadu_ps(historyRows + j * 4), magnitudeMask));
        }
        for (int level = 0; level <= topLevel;) {
            __m128 levelLanes = _mm_setzero_ps();
            __m128 probedLanes = _mm_setzero_ps();
            size_t probeOffset = 0;
            bool uniformOffset = true;
            for (int b = 0; b < 4; ++b) {
                if (levels[b] != level) continue;
                levelLanes = _mm_or_ps(levelLanes, laneMask(b));
                if (probeOffsets[b] == 0) continue;
                if (probeOffset != 0 && probeOffset != size_t(probeOffsets[b])) uniformOffset = false;
                probeOffset = size_t(probeOffsets[b]);
                probedLanes = _mm_or_ps(probedLanes, laneMask(b));
            }
            if (!uniformOffset) {
                // Lanes of one length class with different remainders: one lane at a time.
                for (int b = 0; b < 4; ++b) {
                    if (levels[b] != level) continue;
                    const __m128 mask = laneMask(b);
                    const size_t offset = size_t(probeOffsets[b]);
                    for (uint32_t i = 0; i < run; ++i) {
                        const __m128 windowMax = _mm_max_ps(_mm_loadu_ps(maxima + i * 4), _mm_loadu_ps(maxima + (i + offset) * 4));
                        _mm_storeu_ps(peaks + i * 4, select(mask, windowMax, _mm_loadu_ps(peaks + i * 4)));
                    }
                }
            } else if (_mm_movemask_ps(levelLanes) != 0) {
                for (uint32_t i = 0; i < run; ++i) {
                    const __m128 single = _mm_loadu_ps(maxima + i * 4);
                    const __m128 windowMax = select(probedLanes, _mm_max_ps(single, _mm_loadu_ps(maxima + (i + probeOffset) * 4)), single);
                    _mm_storeu_ps(peaks + i * 4, select(levelLanes, windowMax, _mm_loadu_ps(peaks + i * 4)));
                }
            }
            if (level == topLevel) break;
            int nextNeeded = topLevel;
            for (int b = 0; b < 4; ++b) {
                if (levels[b] > level) nextNeeded = std::min(nextNeeded, levels[b]);
            }
            const size_t span = size_t(1) << level;
            if (nextNeeded - level >= 2) {
                const size_t limit = rows >= span * 4 ? rows - span * 4 + 1 : 0;
                for (size_t j = 0; j < limit; ++j) {
                    float* target = maxima + j * 4;
                    const __m128 near = _mm_max_ps(_mm_loadu_ps(target), _mm_loadu_ps(target + span * 4));
                    const __m128 far = _mm_max_ps(_mm_loadu_ps(target + span * 8), _mm_loadu_ps(target + span * 12));
                    _mm_storeu_ps(target, _mm_max_ps(near, far));
                }
                level += 2;
            } else {
                const size_t limit = rows >= span * 2 ? rows - span * 2 + 1 : 0;
                for (size_t j = 0; j < limit; ++j) {
                    float* target = maxima + j * 4;
                    _mm_storeu_ps(target, _mm_max_ps(_mm_loadu_ps(target), _mm_loadu_ps(target + span * 4)));
                }
                level += 1;
            }
        }

        // 3. Gain: attack towards threshold/peak, hold, or release towards 1; the limited bands replace
        //    the peaks.
        for (uint32_t i = 0; i < run; ++i) {
            float* slot = peaks + i * 4;
            const __m128 peak = _mm_loadu_ps(slot);
            const __m128 target =
                select(_mm_cmplt_ps(bandThreshold, peak), _mm_div_ps(bandThreshold, peak), one);
            const __m128 attacked = _mm_add_ps(_mm_mul_ps(a, gain), _mm_mul_ps(aRest, target));
            const __m128 released = _mm_add_ps(_mm_mul_ps(r, gain), _mm_mul_ps(rRest, _mm_min_ps(one, target)));
            const __m128 attacking = _mm_cmplt_ps(target, gain);
            const __m128i holding = _mm_cmpgt_epi32(hold, zeroI);
            const __m128 next = select(attacking, attacked, select(_mm_castsi128_ps(holding), gain, released));
            const __m128i attackingI = _mm_castps_si128(attacking);
            hold = _mm_or_si128(_mm_and_si128(attackingI, holdSamples),
                                _mm_andnot_si128(attackingI, _mm_and_si128(holding, _mm_sub_epi32(hold, oneI))));
            gain = _mm_min_ps(one, next);
            _mm_storeu_ps(slot, _mm_mul_ps(_mm_loadu_ps(historyRows + i * 4), gain));
        }

        // 4. Alignment: lane b of aligned row i is the limited band that leaves i samples into the run,
        //    its first rows the band's waiting samples, oldest first. Then ((b0 + b1) + b2) + b3.
        float* const aligned = limiters.aligned.data();
        for (int b = 0; b < 4; ++b) {
            BandLimiterState& s = limiters.bands[size_t(b)];
            const int wait = int(s.alignmentBuffer.size());
            for (int j = 0; j < wait; ++j) {
                aligned[size_t(j) * 4 + size_t(b)] = s.alignmentBuffer[size_t((s.alignmentIndex + j) % wait)];
            }
            for (uint32_t k = 0; k < run; ++k) aligned[(k + uint32_t(wait)) * 4 + uint32_t(b)] = peaks[k * 4 + uint32_t(b)];
            // The newest `wait` limited samples stay behind, the oldest at the next slot to write.
            s.alignmentIndex = wait == 0 ? 0 : int((uint64_t(s.alignmentIndex) + run) % uint64_t(wait));
            for (int j = 0; j < wait; ++j) {
                s.alignmentBuffer[size_t((s.alignmentIndex + j) % wait)] = aligned[(run + uint32_t(j)) * 4 + uint32_t(b)];
            }
        }
        uint32_t i = 0;
        for (; i + 4 <= run; i += 4) {
            __m128 s0 = _mm_loadu_ps(aligned + i * 4);
            __m128 s1 = _mm_loadu_ps(aligned + (i + 1) * 4);
            __m128 s2 = _mm_loadu_ps(aligned + (i + 2) * 4);
            __m128 s3 = _mm_loadu_ps(aligned + (i + 3) * 4);
            _MM_TRANSPOSE4_PS(s0, s1, s2, s3);
            _mm_storeu_ps(out + i, _mm_add_ps(_mm_add_ps(_mm_add_ps(s0, s1), s2), s3));
        }
        for (; i < run; ++i) {
            const float* o = aligned + i * 4;
            out[i] = ((o[0] + o[1]) + o[2]) + o[3];
        }
    }

    scatterMemory(split1, splitFirst);
    scatterMemory({split1.y1, split2.x2, split2.y1, split2.y2}, splitSecond);
    scatterMemory({split2.y1, allPass.x2, allPass.y1, allPass.y2}, allPassMemory);
    scatterMemory({lowLowHighHigh(allPass.y1), band1.x2, band1.y1, band1.y2}, bandFirst);
    scatterMemory({band1.y1, band2.x2, band2.y1, band2.y2}, bandSecond);
    _mm_store_ps(gains, gain);
    _mm_store_si128(reinterpret_cast<__m128i*>(holds), hold);
    // The rings hold each band's last samples, oldest at the next slot to write, as after as many
    // processSample calls.
    for (int b = 0; b < 4; ++b) {
        BandLimiterState& s = limiters.bands[size_t(b)];
        s.gain = gains[b];
        s.holdCounter = holds[b];
        const int length = lengths[b];
        s.lookAheadIndex = int((uint64_t(s.lookAheadIndex) + count) % uint64_t(length));
        float peak = 0.0f;
        for (int j = 0; j < length; ++j) {
            const float value = row(limiters.history, run - 1 + size_t(j))[b];
            s.lookAheadBuffer[size_t((s.lookAheadIndex + j) % length)] = value;
            peak = std::max(peak, std::fabs(value));
        }
        s.windowPeak = peak;
    }
}

#else

void MultibandLimiterEngine::processBlock(int channel, float* samples, uint32_t count, float inputGain) {
    for (uint32_t i = 0; i < count; ++i) samples[i] = processSample(channel, samples[i], inputGain);
}

#endif

} // namespace orvanta
