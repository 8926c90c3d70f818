#pragma once
// One biquad in double precision from the RBJ audio EQ cookbook, independent of the engine's filters:
// tests and benchmarks shape material with it and compare what the engine measures or fits against
// its exact response.

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace orvanta::test {

struct CookbookBiquad {
    double b0, b1, b2, a1, a2;
    double sampleRate;

    static CookbookBiquad peaking(double f, double gainDb, double q, double sampleRate) {
        const double a = std::pow(10.0, gainDb / 40.0), w = 2.0 * std::numbers::pi * f / sampleRate;
        const double alpha = std::sin(w) / (2.0 * q), a0 = 1.0 + alpha / a;
        return {(1.0 + alpha * a) / a0, -2.0 * std::cos(w) / a0, (1.0 - alpha * a) / a0, -2.0 * std::cos(w) / a0,
                (1.0 - alpha / a) / a0, sampleRate};
    }
    // Shelf slope 1: the gentlest shelf without overshoot.
    static CookbookBiquad shelf(double f, double gainDb, bool high, double sampleRate) {
        const double a = std::pow(10.0, gainDb / 40.0), w = 2.0 * std::numbers::pi * f / sampleRate;
        const double c = std::cos(w), alpha = std::sin(w) / 2.0 * std::sqrt(2.0), s = 2.0 * std::sqrt(a) * alpha;
        const double sign = high ? -1.0 : 1.0;
        const double a0 = (a + 1.0) + sign * (a - 1.0) * c + s;
        return {a * ((a + 1.0) - sign * (a - 1.0) * c + s) / a0,
                2.0 * sign * a * ((a - 1.0) - sign * (a + 1.0) * c) / a0,
                a * ((a + 1.0) - sign * (a - 1.0) * c - s) / a0,
                -2.0 * sign * ((a - 1.0) + sign * (a + 1.0) * c) / a0,
                ((a + 1.0) + sign * (a - 1.0) * c - s) / a0,
                sampleRate};
    }
    // Magnitude response at `f` Hz, dB.
    double responseDb(double f) const {
        const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * f / sampleRate), z2 = z1 * z1;
        return 20.0 * std::log10(std::abs((b0 + b1 * z1 + b2 * z2) / (1.0 + a1 * z1 + a2 * z2)));
    }
    // Filters a whole channel in place, from rest.
    void run(std::vector<float>& samples) const {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (float& sample : samples) {
            const double x = sample, y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1, x1 = x, y2 = y1, y1 = y;
            sample = float(y);
        }
    }
};

} // namespace orvanta::test
