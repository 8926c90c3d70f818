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

} // namespace orvanta
