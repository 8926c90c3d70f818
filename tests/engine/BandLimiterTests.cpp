#include "engine/BandLimiter.h"
#include "engine/SoftClipper.h"
#include "support/Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

using namespace orvanta;
using namespace orvanta::test;

namespace {

// The gain (dB) of the band limiter's impulse response at `hz`, by the DFT at that one frequency.
double responseDb(const std::vector<float>& impulseResponse, double rate, double hz) {
    std::complex<double> sum = 0.0;
    for (size_t n = 0; n < impulseResponse.size(); ++n)
        sum += double(impulseResponse[n]) * std::polar(1.0, -2.0 * M_PI * hz * double(n) / rate);
    return 20.0 * std::log10(std::abs(sum));
}

} // namespace

// An impulse comes out as the filter's response, centred on the reported latency: flat through the
// pass band, at least 60 dB down from the stop edge on, and on both channels alike.
TEST(BandLimiter, PassesTheBandFlatAndStopsWhatTheCodecWouldCut) {
    for (const double rate : {44100.0, 48000.0}) {
        SCOPED_TRACE(rate);
        BandLimiter limiter(2, rate, 18500.0, 20000.0);
        ASSERT_TRUE(limiter.isActive());
        const size_t length = 4096;
        std::vector<float> left(length, 0.0f), right(length, 0.0f);
        left[0] = right[0] = 1.0f;
        limiter.process(0, left.data(), uint32_t(length));
        limiter.process(1, right.data(), uint32_t(length));
        EXPECT_EQ(left, right);
        size_t peak = 0;
        for (size_t i = 0; i < length; ++i)
            if (std::fabs(left[i]) > std::fabs(left[peak])) peak = i;
        EXPECT_EQ(int(peak), limiter.latencySamples());
        for (const double hz : {0.0, 100.0, 1000.0, 10000.0, 18000.0}) EXPECT_NEAR(responseDb(left, rate, hz), 0.0, 0.05) << hz;
        for (const double hz : {20000.0, 21000.0, 0.5 * rate - 50.0}) EXPECT_LT(responseDb(left, rate, hz), -59.0) << hz;
    }
    // Without a band to keep below the Nyquist frequency it is left out.
    EXPECT_FALSE(BandLimiter(2, 44100.0, 0.0, 1500.0).isActive());
    EXPECT_FALSE(BandLimiter(2, 32000.0, 18500.0, 20000.0).isActive());
}

// Outputs are computed a vector of them at a time where a call holds enough samples and one by one
// where it does not; both keep the same order of sums, so the output does not depend on how the
// input is cut into calls, to the bit.
TEST(BandLimiter, GivesTheSameBitsHoweverTheInputIsCut) {
    const std::vector<float> input = whiteNoise(0.5, 5000, 3);
    std::vector<float> whole = input;
    BandLimiter inOneCall(1, 44100.0, 17000.0, 18500.0);
    inOneCall.process(0, whole.data(), uint32_t(whole.size()));
    for (const uint32_t callFrames : {1u, 7u, 13u, 600u}) {
        SCOPED_TRACE(callFrames);
        std::vector<float> cut = input;
        BandLimiter inPieces(1, 44100.0, 17000.0, 18500.0);
        for (uint32_t start = 0; start < cut.size(); start += callFrames)
            inPieces.process(0, cut.data() + start, std::min<uint32_t>(callFrames, uint32_t(cut.size()) - start));
        EXPECT_EQ(cut, whole);
    }
}

// The clipper reports the largest reduction its curve took: none for a tone under the knee, its whole
// depth for one far above the ceiling.
TEST(SoftClipper, ReportsTheLargestReductionItTook) {
    const float ceiling = std::pow(10.0f, -0.35f / 20.0f);
    const auto largestFor = [&](double amplitude) {
        SoftClipper clipper(1, ceiling, 1.5f);
        std::vector<float> tone = sine(997.0, amplitude, 44100.0, 44100);
        clipper.process(0, tone.data(), uint32_t(tone.size()));
        return clipper.largestReductionDb();
    };
    EXPECT_EQ(largestFor(0.5), 0.0f);
    EXPECT_NEAR(largestFor(4.0), 1.5f, 1e-3f);
    const float some = largestFor(1.0);
    EXPECT_GT(some, 0.0f);
    EXPECT_LT(some, 1.5f);
    EXPECT_EQ(SoftClipper(1, ceiling, 0.0f).largestReductionDb(), 0.0f);
}
