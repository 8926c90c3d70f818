#include "engine/KaiserWindow.h"

#include <cmath>

namespace orvanta {

namespace {

// Zeroth-order modified Bessel function of the first kind, by its power series (converges fast for
// the small arguments of a window).
double besselI0(double x) noexcept {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 30; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

} // namespace

double kaiserWindow(double r, double beta) noexcept {
    if (!(r * r < 1.0)) return 0.0;
    return besselI0(beta * std::sqrt(1.0 - r * r)) / besselI0(beta);
}

std::vector<float> kaiserLowPass(int taps, double cutoff, double beta) {
    const double centre = (taps - 1) / 2.0;
    std::vector<double> h(static_cast<size_t>(taps));
    double sum = 0.0;
    for (int i = 0; i < taps; ++i) {
        const double t = double(i) - centre;
        const double sinc = t == 0.0 ? 2.0 * cutoff : std::sin(2.0 * M_PI * cutoff * t) / (M_PI * t);
        h[size_t(i)] = sinc * kaiserWindow(t / (centre + 1.0), beta);
        sum += h[size_t(i)];
    }
    std::vector<float> out(static_cast<size_t>(taps));
    for (int i = 0; i < taps; ++i) out[size_t(i)] = float(h[size_t(i)] / sum);
    return out;
}

} // namespace orvanta
