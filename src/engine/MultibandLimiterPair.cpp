// The block path of two channels at once: the run-wise steps of processBlock with eight lanes per row,
// the first channel's four bands in the low half and the second's in the high half. Every lane sees
// the same single-precision operations in the same order as in processBlock, so each channel gives
// the same bits and leaves the same state as processBlock would; one instruction does the work of
// two, and the recursions of both channels overlap in the processor.
#include "engine/MultibandLimiter.h"
#include "engine/CpuFeatures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ORVANTA_PAIR_LANES 1
#define ORVANTA_AVX2 [[gnu::target("avx2")]]
#endif

namespace orvanta {

#if defined(ORVANTA_PAIR_LANES)

namespace {

struct Biquad8 {
    __m256 b0, b1, b2, a1, a2;
};

struct Memory8 {
    __m256 x1, x2, y1, y2;
};

// See processBlock: a later stage of a cascade keeps only x2 and its outputs.
struct Follower8 {
    __m256 x2, y1, y2;
};

ORVANTA_AVX2 inline __m256 biquadStep8(const Biquad8& k, Memory8& m, __m256 x) {
    __m256 y = _mm256_add_ps(_mm256_mul_ps(k.b0, x), _mm256_mul_ps(k.b1, m.x1));
    y = _mm256_add_ps(y, _mm256_mul_ps(k.b2, m.x2));
    y = _mm256_sub_ps(y, _mm256_mul_ps(k.a1, m.y1));
    y = _mm256_sub_ps(y, _mm256_mul_ps(k.a2, m.y2));
    m.x2 = m.x1;
    m.x1 = x;
    m.y2 = m.y1;
    m.y1 = y;
    return y;
}

ORVANTA_AVX2 inline __m256 followerStep8(const Biquad8& k, Follower8& m, __m256 x, __m256 x1) {
    __m256 y = _mm256_add_ps(_mm256_mul_ps(k.b0, x), _mm256_mul_ps(k.b1, x1));
    y = _mm256_add_ps(y, _mm256_mul_ps(k.b2, m.x2));
    y = _mm256_sub_ps(y, _mm256_mul_ps(k.a1, m.y1));
    y = _mm256_sub_ps(y, _mm256_mul_ps(k.a2, m.y2));
    m.x2 = x1;
    m.y2 = m.y1;
    m.y1 = y;
    return y;
}

// The first channel's sample in the low four lanes, the second's in the high four.
ORVANTA_AVX2 inline __m256 pairInput(float first, float second) {
    return _mm256_setr_ps(first, first, first, first, second, second, second, second);
}

ORVANTA_AVX2 inline __m256 lowLowHighHigh8(__m256 lowHigh) {
    return _mm256_shuffle_ps(lowHigh, lowHigh, _MM_SHUFFLE(1, 1, 0, 0));
}

// The same four coefficient lanes in both halves; missing lanes stay zero.
ORVANTA_AVX2 Biquad8 gatherCoefficients8(const LR4Coefficients* lanes[4]) {
    alignas(32) float v[5][8] = {};
    for (int l = 0; l < 4; ++l) {
        if (lanes[l] == nullptr) continue;
        for (int half = 0; half < 2; ++half) {
            v[0][4 * half + l] = lanes[l]->b0;
            v[1][4 * half + l] = lanes[l]->b1;
            v[2][4 * half + l] = lanes[l]->b2;
            v[3][4 * half + l] = lanes[l]->a1;
            v[4][4 * half + l] = lanes[l]->a2;
        }
    }
    return {_mm256_load_ps(v[0]), _mm256_load_ps(v[1]), _mm256_load_ps(v[2]), _mm256_load_ps(v[3]),
            _mm256_load_ps(v[4])};
}

// lanes[0..3] belong to the first channel, lanes[4..7] to the second; null lanes read as zero.
ORVANTA_AVX2 Memory8 gatherMemory8(CrossoverMemory* const lanes[8]) {
    alignas(32) float v[4][8] = {};
    for (int l = 0; l < 8; ++l) {
        if (lanes[l] == nullptr) continue;
        v[0][l] = lanes[l]->x1;
        v[1][l] = lanes[l]->x2;
        v[2][l] = lanes[l]->y1;
        v[3][l] = lanes[l]->y2;
    }
    return {_mm256_load_ps(v[0]), _mm256_load_ps(v[1]), _mm256_load_ps(v[2]), _mm256_load_ps(v[3])};
}

ORVANTA_AVX2 void scatterMemory8(const Memory8& m, CrossoverMemory* const lanes[8]) {
    alignas(32) float v[4][8];
    _mm256_store_ps(v[0], m.x1);
    _mm256_store_ps(v[1], m.x2);
    _mm256_store_ps(v[2], m.y1);
    _mm256_store_ps(v[3], m.y2);
    for (int l = 0; l < 8; ++l) {
        if (lanes[l] == nullptr) continue;
        *lanes[l] = {v[0][l], v[1][l], v[2][l], v[3][l]};
    }
}

ORVANTA_AVX2 inline __m256 select8(__m256 mask, __m256 whenSet, __m256 otherwise) {
    return _mm256_or_ps(_mm256_and_ps(mask, whenSet), _mm256_andnot_ps(mask, otherwise));
}

// Band `band` of both channels.
ORVANTA_AVX2 inline __m256 bandMask8(int band) {
    alignas(32) uint32_t bits[8] = {};
    bits[band] = bits[4 + band] = 0xFFFFFFFFu;
    return _mm256_castsi256_ps(_mm256_load_si256(reinterpret_cast<const __m256i*>(bits)));
}

} // namespace

void MultibandLimiterEngine::processBlockPair(int first, float* firstSamples, float* secondSamples, uint32_t count,
                                              float inputGain) {
    if (count == 0) return;
    if (!hasAvx2() || size_t(first / 2) >= pairRows_.size() || first % 2 != 0) {
        processBlock(first, firstSamples, count, inputGain);
        processBlock(first + 1, secondSamples, count, inputGain);
        return;
    }
    processPairInVectors(first, firstSamples, secondSamples, count, inputGain);
}

ORVANTA_AVX2 void MultibandLimiterEngine::processPairInVectors(int first, float* firstSamples, float* secondSamples,
                                                              uint32_t count, float inputGain) {
    ChannelLimiters* const limiters[2] = {&bandLimiterStates_[size_t(first)], &bandLimiterStates_[size_t(first) + 1]};
    ChannelFilters* const filters[2] = {&filterStates_[size_t(first)], &filterStates_[size_t(first) + 1]};
    float* const samples[2] = {firstSamples, secondSamples};
    PairRows& pair = pairRows_[size_t(first / 2)];

    int lengths[4];
    for (int b = 0; b < 4; ++b) lengths[b] = int(limiters[0]->bands[size_t(b)].lookAheadBuffer.size());
    const int longest = longestLookAhead();

    float* const historyRows = pair.history.data();
    float* const maxima = pair.maxima.data();
    float* const peaks = pair.peaks.data();
    // Limited rows: row M + i holds the limited bands of sample i of the run, and the M rows before it
    // the samples before the run, so band b of output sample i is lane b of row M − wait[b] + i.
    float* const limited = pair.aligned.data();
    int waits[4];
    int M = 0;
    for (int b = 0; b < 4; ++b) {
        waits[b] = int(limiters[0]->bands[size_t(b)].alignmentBuffer.size());
        M = std::max(M, waits[b]);
    }
    for (int k = 0; k < 2; ++k) {
        for (int b = 0; b < 4; ++b) {
            const BandLimiterState& s = limiters[k]->bands[size_t(b)];
            for (int j = 0, slot = s.alignmentIndex; j < waits[b]; ++j, slot = slot + 1 == waits[b] ? 0 : slot + 1) {
                limited[size_t(M - waits[b] + j) * 8 + size_t(4 * k + b)] = s.alignmentBuffer[size_t(slot)];
            }
        }
    }

    // History rows as in processBlock, lane 4·k + b for band b of channel k.
    for (int k = 0; k < 2; ++k) {
        for (int b = 0; b < 4; ++b) {
            const BandLimiterState& s = limiters[k]->bands[size_t(b)];
            for (int j = 0; j + 1 < lengths[b]; ++j) {
                historyRows[size_t(j) * 8 + size_t(4 * k + b)] =
                    s.lookAheadBuffer[size_t((s.lookAheadIndex + 1 + j) % lengths[b])];
            }
        }
    }

    const auto lanesOf = [&filters](auto member) {
        std::array<CrossoverMemory*, 8> lanes{};
        for (int k = 0; k < 2; ++k) member(*filters[k], lanes.data() + 4 * k);
        return lanes;
    };
    const auto splitFirst = lanesOf([](ChannelFilters& f, CrossoverMemory** l) {
        l[0] = &f.stages[1].stage1, l[1] = &f.stages[4].stage1;
    });
    const auto splitSecond = lanesOf([](ChannelFilters& f, CrossoverMemory** l) {
        l[0] = &f.stages[1].stage2, l[1] = &f.stages[4].stage2;
    });
    const auto allPassMemory = lanesOf([](ChannelFilters& f, CrossoverMemory** l) {
        l[0] = &f.lowAllPass, l[1] = &f.highAllPass;
    });
    const auto bandFirst = lanesOf([](ChannelFilters& f, CrossoverMemory** l) {
        l[0] = &f.stages[0].stage1, l[1] = &f.stages[3].stage1, l[2] = &f.stages[2].stage1, l[3] = &f.stages[5].stage1;
    });
    const auto bandSecond = lanesOf([](ChannelFilters& f, CrossoverMemory** l) {
        l[0] = &f.stages[0].stage2, l[1] = &f.stages[3].stage2, l[2] = &f.stages[2].stage2, l[3] = &f.stages[5].stage2;
    });
    const LR4Coefficients* splitLanes[4] = {&lpCoeffs_[1], &hpCoeffs_[1], nullptr, nullptr};
    const LR4Coefficients* allPassLanes[4] = {&apCoeffs_[2], &apCoeffs_[0], nullptr, nullptr};
    const LR4Coefficients* bandLanes[4] = {&lpCoeffs_[0], &hpCoeffs_[0], &lpCoeffs_[2], &hpCoeffs_[2]};
    const Biquad8 splitK = gatherCoefficients8(splitLanes);
    const Biquad8 allPassK = gatherCoefficients8(allPassLanes);
    const Biquad8 bandK = gatherCoefficients8(bandLanes);
    Memory8 split1 = gatherMemory8(splitFirst.data());
    const Memory8 split2Full = gatherMemory8(splitSecond.data());
    const Memory8 allPassFull = gatherMemory8(allPassMemory.data());
    const Memory8 band1Full = gatherMemory8(bandFirst.data());
    const Memory8 band2Full = gatherMemory8(bandSecond.data());
    Follower8 split2{split2Full.x2, split2Full.y1, split2Full.y2};
    Follower8 allPass{allPassFull.x2, allPassFull.y1, allPassFull.y2};
    Follower8 band1{band1Full.x2, band1Full.y1, band1Full.y2};
    Follower8 band2{band2Full.x2, band2Full.y1, band2Full.y2};

    alignas(32) float attack[8], attackRest[8], release[8], releaseRest[8], gains[8], thresholds[8];
    alignas(32) int32_t holds[8];
    for (int k = 0; k < 2; ++k) {
        for (int b = 0; b < 4; ++b) {
            const int lane = 4 * k + b;
            attack[lane] = attackCoeffs_[size_t(b)];
            attackRest[lane] = 1.0f - attack[lane];
            release[lane] = releaseCoeffs_[size_t(b)];
            releaseRest[lane] = 1.0f - release[lane];
            gains[lane] = limiters[k]->bands[size_t(b)].gain;
            holds[lane] = limiters[k]->bands[size_t(b)].holdCounter;
            thresholds[lane] = thresholdFactors_[size_t(b)];
        }
    }
    const __m256 a = _mm256_load_ps(attack), aRest = _mm256_load_ps(attackRest);
    const __m256 r = _mm256_load_ps(release), rRest = _mm256_load_ps(releaseRest);
    const __m256 bandThreshold = _mm256_mul_ps(_mm256_set1_ps(threshold), _mm256_load_ps(thresholds));
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 magnitudeMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
    const __m256i holdSamples = _mm256_set1_epi32(config_.holdSamples);
    const __m256i zeroI = _mm256_setzero_si256();
    const __m256i oneI = _mm256_set1_epi32(1);
    __m256 gain = _mm256_load_ps(gains);
    __m256i hold = _mm256_load_si256(reinterpret_cast<const __m256i*>(holds));

    int levels[4], probeOffsets[4], topLevel = 0;
    for (int b = 0; b < 4; ++b) {
        int level = 0;
        while ((2 << level) <= lengths[b]) ++level;
        levels[b] = level;
        probeOffsets[b] = lengths[b] - (1 << level);
        topLevel = std::max(topLevel, level);
    }

    uint32_t run = 0;
    for (uint32_t start = 0; start < count; start += run) {
        run = uint32_t(std::min<size_t>(runFrames, count - start));
        float* const outA = samples[0] + start;
        float* const outB = samples[1] + start;

        if (start > 0) {
            std::memmove(historyRows, historyRows + runFrames * 8, size_t(longest - 1) * 8 * sizeof(float));
        }

        // 1. Crossovers: the five-stage pipeline of processBlock, later stages first in each step.
        alignas(32) float lanes[8];
        const uint32_t steps = run + 4;
        for (uint32_t t = 0; t < steps; ++t) {
            __m256 bands = _mm256_setzero_ps();
            if (t >= 4 && t < run) {
                // Every stage busy: no tests.
                bands = followerStep8(bandK, band2, band1.y1, band1.y2);
                followerStep8(bandK, band1, lowLowHighHigh8(allPass.y1), lowLowHighHigh8(allPass.y2));
                followerStep8(allPassK, allPass, split2.y1, split2.y2);
                followerStep8(splitK, split2, split1.y1, split1.y2);
                biquadStep8(splitK, split1, pairInput(outA[t] * inputGain, outB[t] * inputGain));
            } else {
                if (t >= 4) bands = followerStep8(bandK, band2, band1.y1, band1.y2);
                if (t >= 3 && t - 3 < run) {
                    followerStep8(bandK, band1, lowLowHighHigh8(allPass.y1), lowLowHighHigh8(allPass.y2));
                }
                if (t >= 2 && t - 2 < run) followerStep8(allPassK, allPass, split2.y1, split2.y2);
                if (t >= 1 && t - 1 < run) followerStep8(splitK, split2, split1.y1, split1.y2);
                if (t < run) biquadStep8(splitK, split1, pairInput(outA[t] * inputGain, outB[t] * inputGain));
                if (t < 4) continue;
            }
            _mm256_store_ps(lanes, bands);
            const uint32_t frame = t - 4;
            for (int b = 0; b < 4; ++b) {
                float* slot = historyRows + (frame + uint32_t(lengths[b]) - 1) * 8 + uint32_t(b);
                slot[0] = lanes[b];
                slot[4] = lanes[4 + b];
            }
        }

        // 2. Window peaks, as in processBlock.
        const size_t rows = run + size_t(longest) - 1;
        for (size_t j = 0; j < rows; ++j) {
            _mm256_storeu_ps(maxima + j * 8, _mm256_and_ps(_mm256_loadu_ps(historyRows + j * 8), magnitudeMask));
        }
        for (int level = 0; level <= topLevel;) {
            __m256 levelLanes = _mm256_setzero_ps();
            __m256 probedLanes = _mm256_setzero_ps();
            size_t probeOffset = 0;
            bool uniformOffset = true;
            for (int b = 0; b < 4; ++b) {
                if (levels[b] != level) continue;
                levelLanes = _mm256_or_ps(levelLanes, bandMask8(b));
                if (probeOffsets[b] == 0) continue;
                if (probeOffset != 0 && probeOffset != size_t(probeOffsets[b])) uniformOffset = false;
                probeOffset = size_t(probeOffsets[b]);
                probedLanes = _mm256_or_ps(probedLanes, bandMask8(b));
            }
            if (!uniformOffset) {
                for (int b = 0; b < 4; ++b) {
                    if (levels[b] != level) continue;
                    const __m256 mask = bandMask8(b);
                    const size_t offset = size_t(probeOffsets[b]);
                    for (uint32_t i = 0; i < run; ++i) {
                        const __m256 windowMax =
                            _mm256_max_ps(_mm256_loadu_ps(maxima + i * 8), _mm256_loadu_ps(maxima + (i + offset) * 8));
                        _mm256_storeu_ps(peaks + i * 8, select8(mask, windowMax, _mm256_loadu_ps(peaks + i * 8)));
                    }
                }
            } else if (_mm256_movemask_ps(levelLanes) != 0) {
                for (uint32_t i = 0; i < run; ++i) {
                    const __m256 single = _mm256_loadu_ps(maxima + i * 8);
                    const __m256 windowMax = select8(
                        probedLanes, _mm256_max_ps(single, _mm256_loadu_ps(maxima + (i + probeOffset) * 8)), single);
                    _mm256_storeu_ps(peaks + i * 8, select8(levelLanes, windowMax, _mm256_loadu_ps(peaks + i * 8)));
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
                    float* target = maxima + j * 8;
                    const __m256 near = _mm256_max_ps(_mm256_loadu_ps(target), _mm256_loadu_ps(target + span * 8));
                    const __m256 far = _mm256_max_ps(_mm256_loadu_ps(target + span * 16), _mm256_loadu_ps(target + span * 24));
                    _mm256_storeu_ps(target, _mm256_max_ps(near, far));
                }
                level += 2;
            } else {
                const size_t limit = rows >= span * 2 ? rows - span * 2 + 1 : 0;
                for (size_t j = 0; j < limit; ++j) {
                    float* target = maxima + j * 8;
                    _mm256_storeu_ps(target, _mm256_max_ps(_mm256_loadu_ps(target), _mm256_loadu_ps(target + span * 8)));
                }
                level += 1;
            }
        }

        // 3. Gain: attack, hold or release, as in processBlock.
        for (uint32_t i = 0; i < run; ++i) {
            float* slot = peaks + i * 8;
            const __m256 peak = _mm256_loadu_ps(slot);
            const __m256 target = select8(_mm256_cmp_ps(bandThreshold, peak, _CMP_LT_OS),
                                          _mm256_div_ps(bandThreshold, peak), one);
            const __m256 attacked = _mm256_add_ps(_mm256_mul_ps(a, gain), _mm256_mul_ps(aRest, target));
            const __m256 released =
                _mm256_add_ps(_mm256_mul_ps(r, gain), _mm256_mul_ps(rRest, _mm256_min_ps(one, target)));
            const __m256 attacking = _mm256_cmp_ps(target, gain, _CMP_LT_OS);
            const __m256i holding = _mm256_cmpgt_epi32(hold, zeroI);
            const __m256 next = select8(attacking, attacked, select8(_mm256_castsi256_ps(holding), gain, released));
            const __m256i attackingI = _mm256_castps_si256(attacking);
            hold = _mm256_or_si256(_mm256_and_si256(attackingI, holdSamples),
                                   _mm256_andnot_si256(attackingI, _mm256_and_si256(holding, _mm256_sub_epi32(hold, oneI))));
            gain = _mm256_min_ps(one, next);
            _mm256_storeu_ps(limited + (size_t(M) + i) * 8, _mm256_mul_ps(_mm256_loadu_ps(historyRows + i * 8), gain));
        }

        // 4. Each band behind its wait, then ((b0 + b1) + b2) + b3 of each channel, four samples at a time.
        const float* const band0Rows = limited + size_t(M - waits[0]) * 8;
        const float* const band1Rows = limited + size_t(M - waits[1]) * 8;
        const float* const band2Rows = limited + size_t(M - waits[2]) * 8;
        const float* const band3Rows = limited + size_t(M - waits[3]) * 8;
        uint32_t i = 0;
        for (; i + 4 <= run; i += 4) {
            __m256 rows4[4];
            for (uint32_t q = 0; q < 4; ++q) {
                const size_t offset = size_t(i + q) * 8;
                __m256 row = _mm256_loadu_ps(band0Rows + offset);
                row = _mm256_blend_ps(row, _mm256_loadu_ps(band1Rows + offset), 0x22);
                row = _mm256_blend_ps(row, _mm256_loadu_ps(band2Rows + offset), 0x44);
                rows4[q] = _mm256_blend_ps(row, _mm256_loadu_ps(band3Rows + offset), 0x88);
            }
            // A 4x4 transpose in each half: row b then holds band b of four samples.
            const __m256 low01 = _mm256_unpacklo_ps(rows4[0], rows4[1]), low23 = _mm256_unpacklo_ps(rows4[2], rows4[3]);
            const __m256 high01 = _mm256_unpackhi_ps(rows4[0], rows4[1]), high23 = _mm256_unpackhi_ps(rows4[2], rows4[3]);
            const __m256 band0 = _mm256_shuffle_ps(low01, low23, _MM_SHUFFLE(1, 0, 1, 0));
            const __m256 band1 = _mm256_shuffle_ps(low01, low23, _MM_SHUFFLE(3, 2, 3, 2));
            const __m256 band2 = _mm256_shuffle_ps(high01, high23, _MM_SHUFFLE(1, 0, 1, 0));
            const __m256 band3 = _mm256_shuffle_ps(high01, high23, _MM_SHUFFLE(3, 2, 3, 2));
            const __m256 sum = _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(band0, band1), band2), band3);
            _mm_storeu_ps(outA + i, _mm256_castps256_ps128(sum));
            _mm_storeu_ps(outB + i, _mm256_extractf128_ps(sum, 1));
        }
        for (; i < run; ++i) {
            const size_t offset = size_t(i) * 8;
            outA[i] = ((band0Rows[offset] + band1Rows[offset + 1]) + band2Rows[offset + 2]) + band3Rows[offset + 3];
            outB[i] = ((band0Rows[offset + 4] + band1Rows[offset + 5]) + band2Rows[offset + 6]) + band3Rows[offset + 7];
        }
        // The run's last M limited rows wait for the next run.
        std::memmove(limited, limited + size_t(run) * 8, size_t(M) * 8 * sizeof(float));
    }

    // The waiting samples go back to the alignment rings, oldest at the next slot to write, as after as
    // many processSample calls.
    for (int k = 0; k < 2; ++k) {
        for (int b = 0; b < 4; ++b) {
            BandLimiterState& s = limiters[k]->bands[size_t(b)];
            const int wait = waits[b];
            if (wait == 0) continue;
            s.alignmentIndex = int((uint64_t(s.alignmentIndex) + count) % uint64_t(wait));
            for (int j = 0, slot = s.alignmentIndex; j < wait; ++j, slot = slot + 1 == wait ? 0 : slot + 1) {
                s.alignmentBuffer[size_t(slot)] = limited[size_t(M - wait + j) * 8 + size_t(4 * k + b)];
            }
        }
    }

    scatterMemory8(split1, splitFirst.data());
    scatterMemory8({split1.y1, split2.x2, split2.y1, split2.y2}, splitSecond.data());
    scatterMemory8({split2.y1, allPass.x2, allPass.y1, allPass.y2}, allPassMemory.data());
    scatterMemory8({lowLowHighHigh8(allPass.y1), band1.x2, band1.y1, band1.y2}, bandFirst.data());
    scatterMemory8({band1.y1, band2.x2, band2.y1, band2.y2}, bandSecond.data());
    _mm256_store_ps(gains, gain);
    _mm256_store_si256(reinterpret_cast<__m256i*>(holds), hold);
    for (int k = 0; k < 2; ++k) {
        for (int b = 0; b < 4; ++b) {
            BandLimiterState& s = limiters[k]->bands[size_t(b)];
            const int lane = 4 * k + b;
            s.gain = gains[lane];
            s.holdCounter = holds[lane];
            const int length = lengths[b];
            s.lookAheadIndex = int((uint64_t(s.lookAheadIndex) + count) % uint64_t(length));
            float peak = 0.0f;
            for (int j = 0; j < length; ++j) {
                const float value = historyRows[(run - 1 + size_t(j)) * 8 + size_t(lane)];
                s.lookAheadBuffer[size_t((s.lookAheadIndex + j) % length)] = value;
                peak = std::max(peak, std::fabs(value));
            }
            s.windowPeak = peak;
        }
    }
}

#else

void MultibandLimiterEngine::processBlockPair(int first, float* firstSamples, float* secondSamples, uint32_t count,
                                              float inputGain) {
    processBlock(first, firstSamples, count, inputGain);
    processBlock(first + 1, secondSamples, count, inputGain);
}

#endif

} // namespace orvanta
