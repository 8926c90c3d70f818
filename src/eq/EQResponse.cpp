#include "eq/EQResponse.h"

#include "eq/EQFilter.h"
#include "platform/Biquad.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace orvanta {

namespace {

// |H(e^jw)| of one biquad, in dB.
double magnitudeDb(const BiquadCoefficients& k, double frequencyHz, double sampleRate) {
    const double w = 2.0 * std::numbers::pi * frequencyHz / sampleRate;
    const std::complex<double> z1 = std::polar(1.0, -w);
    const std::complex<double> z2 = z1 * z1;
    const std::complex<double> numerator = double(k.b0) + double(k.b1) * z1 + double(k.b2) * z2;
    const std::complex<double> denominator = 1.0 + double(k.a1) * z1 + double(k.a2) * z2;
    return 20.0 * std::log10(std::max(std::abs(numerator) / std::abs(denominator), 1e-12));
}

} // namespace

float eqResponseDb(const EQSettings& settings, double frequencyHz, double sampleRate) {
    double total = settings.masterGain;
    for (const EQBand& band : settings.bands) {
        if (std::fabs(band.gain) <= 0.1f || !(band.q > 0.0f) || !filterFitsRate(band.frequency, float(sampleRate)))
            continue;
        total += magnitudeDb(peakingEQ(band.frequency, band.gain, band.q, float(sampleRate)), frequencyHz, sampleRate);
    }
    return float(total);
}

std::vector<double> logFrequencies(double lowestHz, double highestHz, int points) {
    std::vector<double> frequencies;
    if (points <= 0 || lowestHz <= 0 || highestHz < lowestHz) return frequencies;
    frequencies.reserve(size_t(points));
    const double ratio = points > 1 ? std::log(highestHz / lowestHz) / double(points - 1) : 0.0;
    for (int i = 0; i < points; ++i) frequencies.push_back(lowestHz * std::exp(ratio * i));
    return frequencies;
}

} // namespace orvanta
