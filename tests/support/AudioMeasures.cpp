#include "support/AudioMeasures.h"

#include "platform/RealFft.h"

#include <ebur128.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace orvanta::test {

namespace {

constexpr size_t largestFrame = 65536;
constexpr size_t smallestFrame = 4096;
constexpr double upperLimitHz = 20000.0;
// The window's main lobe reaches 4 bins to each side; one more covers a fundamental between bins.
constexpr size_t bandHalfWidthBins = 5;

// Periodic 4-term Blackman-Harris window (highest side lobe −92 dB).
std::vector<float> blackmanHarris(size_t n) {
    constexpr std::array<double, 4> a = {0.35875, 0.48829, 0.14128, 0.01168};
    std::vector<float> window(n);
    for (size_t i = 0; i < n; ++i) {
        const double x = 2.0 * std::numbers::pi * double(i) / double(n);
        window[i] = float(a[0] - a[1] * std::cos(x) + a[2] * std::cos(2.0 * x) - a[3] * std::cos(3.0 * x));
    }
    return window;
}

// The least-squares fit of DC plus a sine at `omega` (radians per sample), subtracted from `x`.
// The window's edges still leak about −88 dB of whatever it frames into every bin; without the
// fundamental the residual leaks only its own, far smaller energy.
std::vector<float> withoutFundamental(const float* x, size_t n, double omega) {
    // Normal equations over the basis (sin, cos, 1).
    std::array<std::array<double, 3>, 3> m{};
    std::array<double, 3> v{};
    for (size_t i = 0; i < n; ++i) {
        const std::array<double, 3> basis = {std::sin(omega * double(i)), std::cos(omega * double(i)), 1.0};
        for (size_t r = 0; r < 3; ++r) {
            v[r] += basis[r] * double(x[i]);
            for (size_t c = 0; c < 3; ++c) m[r][c] += basis[r] * basis[c];
        }
    }
    // Gaussian elimination; the matrix is symmetric positive definite for any omega not near 0 or π.
    for (size_t p = 0; p < 3; ++p) {
        for (size_t r = p + 1; r < 3; ++r) {
            const double f = m[r][p] / m[p][p];
            for (size_t c = p; c < 3; ++c) m[r][c] -= f * m[p][c];
            v[r] -= f * v[p];
        }
    }
    std::array<double, 3> coefficients{};
    for (size_t p = 3; p-- > 0;) {
        double sum = v[p];
        for (size_t c = p + 1; c < 3; ++c) sum -= m[p][c] * coefficients[c];
        coefficients[p] = sum / m[p][p];
    }
    std::vector<float> residual(n);
    for (size_t i = 0; i < n; ++i) {
        const double fit = coefficients[0] * std::sin(omega * double(i)) +
                           coefficients[1] * std::cos(omega * double(i)) + coefficients[2];
        residual[i] = float(double(x[i]) - fit);
    }
    return residual;
}

// Squared magnitudes of the windowed spectrum, bins 0 … n/2 − 1 (bin 0 is never used).
std::vector<double> powerSpectrum(const float* x, const std::vector<float>& window, RealFft& fft) {
    const size_t n = window.size();
    std::vector<float> windowed(n);
    for (size_t i = 0; i < n; ++i) windowed[i] = x[i] * window[i];
    std::vector<float> magnitudes(n / 2);
    fft.packedMagnitudes(windowed.data(), magnitudes.data());
    std::vector<double> power(n / 2);
    for (size_t k = 0; k < n / 2; ++k) power[k] = double(magnitudes[k]) * double(magnitudes[k]);
    return power;
}

} // namespace

double thdPlusNoiseDb(const std::vector<float>& samples, double sampleRate, double fundamentalHz) {
    if (samples.size() < smallestFrame) {
        throw std::invalid_argument("THD+N needs at least 4096 samples");
    }
    if (!(fundamentalHz > 0.0 && fundamentalHz < std::min(upperLimitHz, sampleRate / 2.0))) {
        throw std::invalid_argument("THD+N needs a fundamental between 0 Hz and min(20 kHz, Nyquist)");
    }
    const size_t middle = samples.size() - 2 * (samples.size() / 8);
    size_t n = largestFrame;
    while (n > middle) n /= 2;
    const float* stretch = samples.data() + (samples.size() - n) / 2;

    const std::vector<float> window = blackmanHarris(n);
    RealFft fft(n);
    const double omega = 2.0 * std::numbers::pi * fundamentalHz / sampleRate;
    const std::vector<double> withTone = powerSpectrum(stretch, window, fft);
    const std::vector<float> residual = withoutFundamental(stretch, n, omega);
    const std::vector<double> rest = powerSpectrum(residual.data(), window, fft);

    const double binHz = sampleRate / double(n);
    const size_t centre = size_t(std::lround(fundamentalHz / binHz));
    const size_t bandLow = centre > bandHalfWidthBins ? centre - bandHalfWidthBins : 1;
    const size_t bandHigh = std::min(centre + bandHalfWidthBins, n / 2 - 1);
    // DC's own main lobe is left out, as is everything above 20 kHz.
    const size_t low = bandHalfWidthBins;
    const size_t high = std::min(n / 2 - 1, size_t(std::floor(upperLimitHz / binHz)));

    double fundamental = 0.0;
    for (size_t k = bandLow; k <= bandHigh; ++k) fundamental += withTone[k];
    double distortion = 0.0;
    for (size_t k = low; k <= high; ++k) {
        if (k < bandLow || k > bandHigh) distortion += rest[k];
    }
    if (fundamental <= 0.0) return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(std::max(distortion, std::numeric_limits<double>::min()) / fundamental);
}

double flatTopRunsPerMinute(const Channels& channels, double sampleRate) {
    const size_t frames = channels.empty() ? 0 : channels[0].size();
    double peak = 0.0;
    for (const auto& channel : channels) peak = std::max(peak, peakOf(channel));
    if (frames == 0 || peak == 0.0) return 0.0;

    const double nearPeak = peak * std::pow(10.0, -0.1 / 20.0);
    size_t runs = 0;
    for (const auto& channel : channels) {
        for (size_t start = 0; start < channel.size();) {
            size_t end = start + 1;
            while (end < channel.size() && channel[end] == channel[start]) ++end;
            if (end - start >= 3 && std::fabs(double(channel[start])) >= nearPeak) ++runs;
            start = end;
        }
    }
    const double minutes = double(frames) / sampleRate / 60.0;
    return double(runs) / minutes;
}

Ebur128Reading measureWithEbur128(const Channels& channels, double sampleRate) {
    const size_t channelCount = channels.size();
    ebur128_state* state =
        ebur128_init(unsigned(channelCount), static_cast<unsigned long>(sampleRate), EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    if (state == nullptr) {
        throw std::runtime_error("libebur128 cannot measure this format");
    }
    for (size_t c = 2; c < channelCount; ++c) {
        ebur128_set_channel(state, unsigned(c), EBUR128_LEFT_SURROUND); // weight 1.41
    }
    const size_t frames = channelCount == 0 ? 0 : channels[0].size();
    constexpr size_t chunk = 65536;
    std::vector<float> interleaved(chunk * channelCount);
    for (size_t done = 0; done < frames; done += chunk) {
        const size_t count = std::min(chunk, frames - done);
        for (size_t i = 0; i < count; ++i) {
            for (size_t c = 0; c < channelCount; ++c) interleaved[i * channelCount + c] = channels[c][done + i];
        }
        ebur128_add_frames_float(state, interleaved.data(), count);
    }
    Ebur128Reading reading;
    if (ebur128_loudness_global(state, &reading.integratedLufs) != EBUR128_SUCCESS) {
        reading.integratedLufs = -std::numeric_limits<double>::infinity();
    }
    double truePeak = 0.0;
    for (size_t c = 0; c < channelCount; ++c) {
        double channelPeak = 0.0;
        if (ebur128_true_peak(state, unsigned(c), &channelPeak) == EBUR128_SUCCESS) {
            truePeak = std::max(truePeak, channelPeak);
        }
    }
    reading.truePeakDb = 20.0 * std::log10(truePeak);
    ebur128_destroy(&state);
    return reading;
}

double ebur128IntegratedLoudness(const std::filesystem::path& path) {
    double sampleRate = 0.0;
    const Channels channels = readWithSndfile(path, &sampleRate);
    return measureWithEbur128(channels, sampleRate).integratedLufs;
}

double ebur128TruePeakDb(const std::filesystem::path& path) {
    double sampleRate = 0.0;
    const Channels channels = readWithSndfile(path, &sampleRate);
    return measureWithEbur128(channels, sampleRate).truePeakDb;
}

} // namespace orvanta::test
