#include "engine/MultibandLimiter.h"
#include "support/Signals.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orvanta;
using namespace orvanta::test;

namespace {

// The per-sample arithmetic written out plainly: full scan of each look-ahead ring, one sample and
// one channel at a time. The engine's sliding maximum must give bit-identical output.
class ReferenceLimiter {
public:
    ReferenceLimiter(int channels, float sampleRate, int bpm) : config_() {
        for (float fc : config_.crossoverFrequencies) {
            const float w = 6.283185f * fc / sampleRate;
            const float s = std::sin(w), c = std::cos(w);
            const float alpha = s / 1.4142135f;
            const float a0 = 1.0f + alpha;
            lp_.push_back({(1.0f - c) * 0.5f / a0, (1.0f - c) / a0, (1.0f - c) * 0.5f / a0, -2.0f * c / a0,
                           (1.0f - alpha) / a0});
            hp_.push_back({(1.0f + c) * 0.5f / a0, -(1.0f + c) / a0, (1.0f + c) * 0.5f / a0, -2.0f * c / a0,
                           (1.0f - alpha) / a0});
            ap_.push_back({(1.0f - alpha) / a0, -2.0f * c / a0, 1.0f, -2.0f * c / a0, (1.0f - alpha) / a0});
        }
        for (size_t b = 0; b < 4; ++b) {
            attack_[b] = std::exp(-1.0f / (sampleRate * config_.attackTimes[b]));
            release_[b] = std::exp(-1.0f / (sampleRate * config_.releaseTimes[b]));
        }
        if (bpm >= 1) {
            const float f = bpm <= 80 ? 1.2f : bpm <= 120 ? 1.0f : bpm <= 150 ? 0.85f : 0.7f;
            for (size_t b = 0; b < 4; ++b) {
                float r = b < 2 ? config_.releaseTimes[b] * f * 1.2f : config_.releaseTimes[b] * f;
                r = r <= 0.015f ? 0.015f : (r > 0.2f ? 0.2f : r);
                release_[b] = std::exp(-1.0f / (sampleRate * r));
            }
        }
        state_.resize(size_t(channels));
        for (auto& channel : state_) {
            for (size_t b = 0; b < 4; ++b) {
                channel.bands[b].ring.assign(size_t(config_.lookAheadSamples[b]), 0.0f);
                channel.bands[b].wait.assign(size_t(64 - config_.lookAheadSamples[b]), 0.0f);
            }
        }
    }

    float threshold = 0.977f;

    float process(int channel, float x) {
        Channel& ch = state_[size_t(channel)];
        const float low = biquad(ap_[2], ch.lowAllPass, lr4(lp_[1], ch.filters[1], x));
        const float high = biquad(ap_[0], ch.highAllPass, lr4(hp_[1], ch.filters[4], x));
        const float bands[4] = {lr4(lp_[0], ch.filters[0], low), lr4(hp_[0], ch.filters[3], low),
                                lr4(lp_[2], ch.filters[2], high), lr4(hp_[2], ch.filters[5], high)};
        float out[4];
        for (size_t b = 0; b < 4; ++b) {
            Band& s = ch.bands[b];
            const float t = threshold * std::pow(10.0f, config_.thresholdOffsets[b] / 20.0f);
            const int n = int(s.ring.size());
            s.ring[size_t(s.index)] = bands[b];
            s.index = (s.index + 1) % n;
            const float delayed = s.ring[size_t(s.index)];
            float peak = 0.0f;
            for (float v : s.ring) peak = std::max(peak, std::fabs(v));
            const float target = t < peak ? t / peak : 1.0f;
            if (target < s.gain) {
                s.gain = attack_[b] * s.gain + (1.0f - attack_[b]) * target;
                s.hold = config_.holdSamples;
            } else if (s.hold > 0) {
                --s.hold;
            } else {
                s.gain = release_[b] * s.gain + (1.0f - release_[b]) * std::min(target, 1.0f);
            }
            s.gain = std::min(s.gain, 1.0f);
            // Every band leaves 63 samples late: the shorter rings wait out the difference.
            s.wait.push_back(delayed * s.gain);
            out[b] = s.wait.front();
            s.wait.erase(s.wait.begin());
        }
        return ((out[0] + out[1]) + out[2]) + out[3];
    }

private:
    struct Memory { float x1 = 0, x2 = 0, y1 = 0, y2 = 0; };
    struct Stage { Memory first, second; };
    struct Band { std::vector<float> ring, wait; int index = 0; float gain = 1.0f; int hold = 0; };
    struct Channel { Stage filters[6]; Memory lowAllPass, highAllPass; Band bands[4]; };

    static float biquad(const LR4Coefficients& k, Memory& m, float x) {
        const float y = k.b0 * x + k.b1 * m.x1 + k.b2 * m.x2 - k.a1 * m.y1 - k.a2 * m.y2;
        m.x2 = m.x1; m.x1 = x; m.y2 = m.y1; m.y1 = y;
        return y;
    }
    static float lr4(const LR4Coefficients& k, Stage& s, float x) { return biquad(k, s.second, biquad(k, s.first, x)); }

    MultibandLimiterConfig config_;
    std::vector<LR4Coefficients> lp_, hp_, ap_;
    float attack_[4], release_[4];
    std::vector<Channel> state_;
};

// A loud, busy signal: drums-like bursts, bass and noise, well above the threshold after the gain.
Channels loudSignal(double rate, size_t frames) {
    auto kick = clickTrack(128, rate, frames, 1.0);
    auto bass = sine(55, 0.6, rate, frames);
    auto noise = whiteNoise(0.4, frames, 11);
    Channels out(2, std::vector<float>(frames));
    for (size_t i = 0; i < frames; ++i) {
        out[0][i] = kick[i] + bass[i] + noise[i] * float((i / 4000) % 3);
        out[1][i] = 0.5f * kick[i] - bass[i] + noise[(i * 7) % frames];
    }
    return out;
}

} // namespace

TEST(MultibandLimiter, CoefficientsMatchTheDesignAt44100) {
    MultibandLimiterEngine engine(2, {}, 44100.0f);
    ASSERT_EQ(engine.lpCoeffs().size(), 3u);
    EXPECT_NEAR(engine.lpCoeffs()[0].b0, 5.024e-05f, 1e-8f);
    EXPECT_NEAR(engine.lpCoeffs()[0].b1, 1.0048e-04f, 2e-8f);
    EXPECT_NEAR(engine.lpCoeffs()[0].a1, -1.979852f, 1e-6f);
    EXPECT_NEAR(engine.lpCoeffs()[0].a2, 0.980053f, 1e-6f);
    EXPECT_NEAR(engine.hpCoeffs()[0].b0, 0.989976f, 1e-6f);
    EXPECT_NEAR(engine.hpCoeffs()[0].b1, -1.979952f, 1e-6f);
    EXPECT_EQ(engine.lpCoeffs()[0].b2, engine.lpCoeffs()[0].b0);
    EXPECT_EQ(engine.hpCoeffs()[2].b2, engine.hpCoeffs()[2].b0);

    const float attack[] = {0.992470f, 0.988726f, 0.977579f, 0.955662f};
    const float release[] = {0.999849f, 0.999773f, 0.999622f, 0.999244f};
    for (size_t b = 0; b < 4; ++b) {
        EXPECT_NEAR(engine.attackCoeffs()[b], attack[b], 1e-6f) << b;
        EXPECT_NEAR(engine.releaseCoeffs()[b], release[b], 1e-6f) << b;
    }
    EXPECT_EQ(engine.threshold, 0.977f);
    EXPECT_EQ(engine.detectedBPM(), 0);
    for (size_t b = 0; b < 4; ++b) {
        const auto& state = engine.bandState(1, int(b));
        EXPECT_EQ(state.gain, 1.0f);
        EXPECT_EQ(state.holdCounter, 0);
        EXPECT_EQ(state.lookAheadBuffer.size(), size_t(MultibandLimiterConfig{}.lookAheadSamples[b]));
    }
}

TEST(MultibandLimiter, ReleaseFollowsTheTempo) {
    const float rate = 44100.0f;
    auto expected = [rate](std::initializer_list<float> times) {
        std::vector<float> coefficients;
        for (float t : times) coefficients.push_back(std::exp(-1.0f / (rate * t)));
        return coefficients;
    };
    struct Case { int bpm; std::vector<float> coefficients; };
    const Case cases[] = {
        {60, expected({0.2f, 0.144f, 0.072f, 0.036f})},  {80, expected({0.2f, 0.144f, 0.072f, 0.036f})},
        {81, expected({0.18f, 0.12f, 0.06f, 0.03f})},    {120, expected({0.18f, 0.12f, 0.06f, 0.03f})},
        {121, expected({0.153f, 0.102f, 0.051f, 0.0255f})}, {150, expected({0.153f, 0.102f, 0.051f, 0.0255f})},
        {151, expected({0.126f, 0.084f, 0.042f, 0.021f})}, {170, expected({0.126f, 0.084f, 0.042f, 0.021f})},
    };
    for (const Case& c : cases) {
        MultibandLimiterEngine engine(1, {}, rate);
        engine.adaptReleaseToTempo(c.bpm);
        EXPECT_EQ(engine.detectedBPM(), c.bpm);
        for (size_t b = 0; b < 4; ++b) EXPECT_NEAR(engine.releaseCoeffs()[b], c.coefficients[b], 2e-7f) << c.bpm;
        const auto once = engine.releaseCoeffs();
        engine.adaptReleaseToTempo(c.bpm);
        EXPECT_EQ(engine.releaseCoeffs(), once) << "adaptation starts from the configured times";
    }
    for (int bpm : {0, -5}) {
        MultibandLimiterEngine engine(1, {}, rate);
        const auto defaults = engine.releaseCoeffs();
        engine.adaptReleaseToTempo(bpm);
        EXPECT_EQ(engine.detectedBPM(), bpm);
        EXPECT_EQ(engine.releaseCoeffs(), defaults);
    }
    // A very short configured release is clamped to 15 ms.
    MultibandLimiterConfig fast;
    fast.releaseTimes = {0.001f, 0.001f, 0.001f, 0.5f};
    MultibandLimiterEngine engine(1, fast, rate);
    engine.adaptReleaseToTempo(100);
    EXPECT_FLOAT_EQ(engine.releaseCoeffs()[0], std::exp(-1.0f / (rate * 0.015f)));
    EXPECT_FLOAT_EQ(engine.releaseCoeffs()[3], std::exp(-1.0f / (rate * 0.2f)));
}

TEST(MultibandLimiter, SilenceStaysSilent) {
    MultibandLimiterEngine engine(2, {}, 48000.0f);
    for (int i = 0; i < 10000; ++i) {
        for (int c = 0; c < 2; ++c) ASSERT_EQ(engine.processSample(c, 0.0f, 4.0f), 0.0f);
    }
    for (int b = 0; b < 4; ++b) {
        EXPECT_EQ(engine.bandState(0, b).gain, 1.0f);
        EXPECT_EQ(engine.bandState(0, b).holdCounter, 0);
    }
}

TEST(MultibandLimiter, QuietBandsLeaveTogetherAsTheDelayedBandSum) {
    // Below the threshold every gain stays 1 and the output is the sum of the bands, all delayed by
    // the longest ring less one.
    MultibandLimiterEngine engine(1, {}, 44100.0f);
    MultibandLimiterEngine splitter(1, {}, 44100.0f);
    ASSERT_EQ(engine.latencySamples(), 63);
    const auto input = sine(300, 0.1, 44100, 4000);
    std::vector<std::array<float, 4>> bands;
    for (float x : input) bands.push_back(splitter.splitBands(0, x));
    double difference = 0;
    for (size_t i = 0; i < input.size(); ++i) {
        const float y = engine.processSample(0, input[i], 1.0f);
        float expected = 0;
        for (int b = 0; b < 4; ++b) expected += i >= 63 ? bands[i - 63][size_t(b)] : 0.0f;
        difference = std::max(difference, double(std::fabs(y - expected)));
    }
    EXPECT_LT(difference, 1e-6);
    for (int b = 0; b < 4; ++b) EXPECT_EQ(engine.bandState(0, b).gain, 1.0f);
}

TEST(MultibandLimiter, AnIdleEngineIsAFlatDelayedAllPass) {
    for (float rate : {44100.0f, 48000.0f, 96000.0f}) {
        MultibandLimiterEngine engine(1, {}, rate);
        std::vector<float> response(1 << 16, 0.0f);
        response[0] = 0.5f;
        engine.processBlock(0, response.data(), uint32_t(response.size()), 1.0f);
        for (int i = 0; i < engine.latencySamples(); ++i) ASSERT_EQ(response[size_t(i)], 0.0f) << "nothing before the delay";
        // Magnitude of the impulse response at log-spaced frequencies from 20 Hz to 20 kHz.
        double lowest = 1e9, highest = -1e9;
        for (double f = 20.0; f <= 20000.0; f *= 1.05) {
            double re = 0, im = 0;
            const double w = 2.0 * M_PI * f / rate;
            for (size_t n = 0; n < response.size(); ++n) {
                re += response[n] * std::cos(w * double(n));
                im -= response[n] * std::sin(w * double(n));
            }
            const double db = 20.0 * std::log10(std::hypot(re, im) / 0.5);
            lowest = std::min(lowest, db);
            highest = std::max(highest, db);
        }
        EXPECT_GT(lowest, -0.1) << rate;
        EXPECT_LT(highest, 0.1) << rate;
    }
}

TEST(MultibandLimiter, TheBandSumIsLeftUnclipped) {
    // Peak control of the sum belongs to the stages after the engine: with a threshold above the
    // signal the sum passes whole, beyond full scale if it is there.
    MultibandLimiterEngine engine(1, {}, 44100.0f);
    engine.threshold = 100.0f;
    auto input = sine(1000, 0.5, 44100, 44100);
    engine.processBlock(0, input.data(), uint32_t(input.size()), 3.0f);
    // Past the onset transient of the all-passes, the steady sine at its own level.
    EXPECT_NEAR(peakOf(std::vector<float>(input.begin() + 22050, input.end())), 1.5, 0.01);
}

TEST(MultibandLimiter, HoldsTheGainFor32SamplesAfterAnAttack) {
    MultibandLimiterEngine engine(1, {}, 44100.0f);
    engine.threshold = 0.05f;
    const auto burst = sine(8000, 0.9, 44100, 400);
    const BandLimiterState& high = engine.bandState(0, 3);
    for (float x : burst) {
        engine.processSample(0, x, 1.0f);
        if (high.holdCounter == 32 && high.gain < 0.5f) break; // an attack step just happened
    }
    ASSERT_LT(high.gain, 1.0f);
    ASSERT_EQ(high.holdCounter, 32);
    // With a threshold nobody reaches, no target lies below the gain: 32 samples of hold, then release.
    engine.threshold = 1000.0f;
    const float held = high.gain;
    for (int i = 0; i < 32; ++i) {
        engine.processSample(0, 0.0f, 1.0f);
        ASSERT_EQ(high.gain, held) << i;
    }
    EXPECT_EQ(high.holdCounter, 0);
    engine.processSample(0, 0.0f, 1.0f);
    EXPECT_GT(high.gain, held);
    EXPECT_FLOAT_EQ(high.gain, engine.releaseCoeffs()[3] * held + (1.0f - engine.releaseCoeffs()[3]));
}

TEST(MultibandLimiter, InputGainActsBeforeTheSplit) {
    MultibandLimiterEngine gained(1, {}, 44100.0f), scaled(1, {}, 44100.0f);
    gained.threshold = scaled.threshold = 0.5f;
    const auto input = sine(1000, 0.2, 44100, 5000);
    for (float x : input) {
        EXPECT_EQ(gained.processSample(0, x, 4.0f), scaled.processSample(0, x * 4.0f, 1.0f));
    }
    EXPECT_LT(gained.bandState(0, 2).gain, 1.0f) << "the limiter reacts to the gained signal";
}

TEST(MultibandLimiter, IsBitIdenticalToAPlainReferenceImplementation) {
    struct Case { float rate; int channels; int bpm; float gain; float threshold; };
    const Case cases[] = {{44100, 2, 128, 3.0f, 0.8645f}, {48000, 3, 0, 1.0f, 0.977f}, {44100, 1, 75, 10.0f, 0.5f},
                          {96000, 2, 160, 0.5f, 0.9f}};
    for (const Case& c : cases) {
        const size_t frames = size_t(c.rate * 2);
        Channels signal = loudSignal(c.rate, frames);
        signal.resize(size_t(c.channels), whiteNoise(0.7, frames, 3));
        MultibandLimiterEngine engine(c.channels, {}, c.rate);
        ReferenceLimiter reference(c.channels, c.rate, c.bpm);
        if (c.bpm >= 1) engine.adaptReleaseToTempo(c.bpm);
        engine.threshold = c.threshold;
        reference.threshold = c.threshold;
        // Uneven blocks, as a pass would feed them: pairs of channels through processBlockPair, a lone
        // last channel through processBlock; every other block in place, the rest read from the
        // signal, which stays as it is, into the output.
        Channels blocks = signal;
        const Channels& input = signal;
        bool inPlace = true;
        for (size_t start = 0; start < frames; start += 7919, inPlace = !inPlace) {
            const uint32_t count = uint32_t(std::min<size_t>(7919, frames - start));
            const Channels& from = inPlace ? blocks : input;
            int ch = 0;
            for (; ch + 1 < c.channels; ch += 2) {
                const float* const inputs[2] = {from[size_t(ch)].data() + start, from[size_t(ch) + 1].data() + start};
                float* const outputs[2] = {blocks[size_t(ch)].data() + start, blocks[size_t(ch) + 1].data() + start};
                engine.processBlockPair(ch, inputs, outputs, count, c.gain);
            }
            if (ch < c.channels) {
                engine.processBlock(ch, from[size_t(ch)].data() + start, blocks[size_t(ch)].data() + start, count, c.gain);
            }
        }
        for (int ch = 0; ch < c.channels; ++ch) {
            for (size_t i = 0; i < frames; ++i) {
                const float expected = reference.process(ch, signal[size_t(ch)][i] * c.gain);
                ASSERT_EQ(blocks[size_t(ch)][i], expected) << "rate " << c.rate << " channel " << ch << " frame " << i;
            }
        }
    }
}

// The block paths (one channel, or a pair side by side) leave the per-sample state exactly as
// processSample would, whatever the look-ahead lengths (equal, unequal, one sample, longer than a
// run's history) and however calls are mixed.
TEST(MultibandLimiter, BlockPathMatchesThePerSamplePathForAnyLookAheadAndMixedCalls) {
    const std::vector<std::vector<int>> lookAheads = {{64, 48, 32, 16}, {48, 40, 20, 3}, {1, 1, 1, 1},
                                                      {0, 700, 5, 2}, {17, 17, 17, 17}};
    const size_t frames = 44100;
    const Channels signal = loudSignal(44100, frames);
    for (const bool paired : {false, true}) {
        for (const auto& lengths : lookAheads) {
            MultibandLimiterConfig config;
            config.lookAheadSamples = lengths;
            MultibandLimiterEngine blockwise(2, config, 44100.0f);
            MultibandLimiterEngine sampleWise(2, config, 44100.0f);
            blockwise.threshold = sampleWise.threshold = 0.7f;
            Channels block = signal;
            size_t position = 0;
            for (size_t step = 1; position < frames; ++step) {
                // Runs of 1, 2, 3... samples, with single processSample calls in between.
                const size_t count = std::min(frames - position, step * step);
                if (paired) {
                    blockwise.processBlockPair(0, block[0].data() + position, block[1].data() + position,
                                               uint32_t(count), 3.0f);
                } else {
                    for (int ch = 0; ch < 2; ++ch) {
                        blockwise.processBlock(ch, block[size_t(ch)].data() + position, uint32_t(count), 3.0f);
                    }
                }
                for (int ch = 0; ch < 2; ++ch) {
                    for (size_t i = position; i < position + count; ++i) {
                        ASSERT_EQ(block[size_t(ch)][i], sampleWise.processSample(ch, signal[size_t(ch)][i], 3.0f))
                            << "paired " << paired << " channel " << ch << " frame " << i;
                    }
                }
                position += count;
                if (position < frames) {
                    for (int ch = 0; ch < 2; ++ch) {
                        ASSERT_EQ(blockwise.processSample(ch, signal[size_t(ch)][position], 3.0f),
                                  sampleWise.processSample(ch, signal[size_t(ch)][position], 3.0f));
                    }
                    ++position;
                }
            }
            for (int ch = 0; ch < 2; ++ch) {
                for (int b = 0; b < 4; ++b) {
                    const BandLimiterState& x = blockwise.bandState(ch, b);
                    const BandLimiterState& y = sampleWise.bandState(ch, b);
                    EXPECT_EQ(x.gain, y.gain);
                    EXPECT_EQ(x.holdCounter, y.holdCounter);
                    EXPECT_EQ(x.lookAheadIndex, y.lookAheadIndex);
                    EXPECT_EQ(x.lookAheadBuffer, y.lookAheadBuffer);
                    EXPECT_EQ(x.windowPeak, y.windowPeak);
                }
            }
        }
    }
}
