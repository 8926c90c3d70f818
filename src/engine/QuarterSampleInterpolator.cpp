#include "engine/QuarterSampleInterpolator.h"

#include <cmath>

namespace orvanta {

namespace {

// Point k lies k/4 of a sample after tap latencySamples (counted from the newest); tap i is u samples
// away from it. Each point's filter is normalised to unit gain at DC, so a constant reads as itself,
// and point 0 is exactly the sample.
QuarterSampleInterpolator design() {
    constexpr int taps = QuarterSampleInterpolator::taps;
    constexpr double halfSpan = 6.0; // samples: the 49 points at four times the rate span ±24 points
    QuarterSampleInterpolator filter{};
    for (int k = 0; k < QuarterSampleInterpolator::points; ++k) {
        const double fraction = double(k) / QuarterSampleInterpolator::points;
        double h[taps];
        double sum = 0.0;
        for (int i = 0; i < taps; ++i) {
            const double u = double(taps - 1 - i) - QuarterSampleInterpolator::latencySamples + fraction;
            const double sinc = u == 0.0 ? 1.0 : std::sin(M_PI * u) / (M_PI * u);
            const double hann = std::fabs(u) < halfSpan ? 0.5 * (1.0 + std::cos(M_PI * u / halfSpan)) : 0.0;
            h[i] = sinc * hann;
            sum += h[i];
        }
        for (int i = 0; i < taps; ++i) filter.coefficients[i][k] = float(h[i] / sum);
    }
    return filter;
}

} // namespace

const QuarterSampleInterpolator& QuarterSampleInterpolator::instance() {
    static const QuarterSampleInterpolator filter = design();
    return filter;
}

} // namespace orvanta
