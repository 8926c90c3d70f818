#include "support/TonalBalance.h"

#include "platform/RealFft.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace orvanta::test {

namespace {
constexpr size_t frameSize = 16384;
constexpr size_t hopSize = frameSize / 2;
constexpr int lowestBand = -15;
constexpr int highestBand = 12;
} // namespace

std::vector<double> thirdOctaveCentresHz() {
    std::vector<double> centres;
    for (int k = lowestBand; k <= highestBand; ++k) centres.push_back(1000.0 * std::pow(2.0, double(k) / 3.0));
    return centres;
}

std::vector<double> thirdOctaveLevelsDb(const Channels& channels, double sampleRate) {
    const size_t frames = channels.empty() ? 0 : channels.front().size();
    if (frames < frameSize) throw std::invalid_argument("thirdOctaveLevelsDb: fewer than 16384 frames");

    RealFft fft(frameSize);
    const std::vector<float> window = hannWindow(frameSize, 0.5);
    std::vector<double> power(frameSize / 2, 0.0);
    std::vector<float> frame(frameSize), magnitudes(frameSize / 2);
    for (const std::vector<float>& channel : channels) {
        for (size_t start = 0; start + frameSize <= frames; start += hopSize) {
            for (size_t n = 0; n < frameSize; ++n) frame[n] = channel[start + n] * window[n];
            fft.packedMagnitudes(frame.data(), magnitudes.data());
            for (size_t b = 1; b < power.size(); ++b) power[b] += double(magnitudes[b]) * magnitudes[b];
        }
    }

    const double binHz = sampleRate / double(frameSize);
    const double edge = std::pow(2.0, 1.0 / 6.0);
    std::vector<double> levels;
    for (const double centre : thirdOctaveCentresHz()) {
        const double lower = centre / edge, upper = centre * edge;
        double sum = 0.0;
        for (size_t b = 1; b < power.size(); ++b) {
            const double f = double(b) * binHz;
            if (f >= lower && f < upper) sum += power[b];
        }
        const bool readable = upper <= sampleRate / 2.0 && sum > 0.0;
        levels.push_back(readable ? 10.0 * std::log10(sum) : std::numeric_limits<double>::quiet_NaN());
    }
    return levels;
}

double tonalDistanceDb(const std::vector<double>& levelsA, const std::vector<double>& levelsB) {
    std::vector<double> differences;
    for (size_t i = 0; i < levelsA.size() && i < levelsB.size(); ++i)
        if (std::isfinite(levelsA[i]) && std::isfinite(levelsB[i])) differences.push_back(levelsA[i] - levelsB[i]);
    if (differences.empty()) return std::numeric_limits<double>::quiet_NaN();
    double mean = 0.0;
    for (const double d : differences) mean += d;
    mean /= double(differences.size());
    double sum = 0.0;
    for (const double d : differences) sum += (d - mean) * (d - mean);
    return std::sqrt(sum / double(differences.size()));
}

double tonalDistanceDb(const std::filesystem::path& a, const std::filesystem::path& b) {
    double rateA = 0.0, rateB = 0.0;
    const Channels channelsA = readWithSndfile(a, &rateA);
    const Channels channelsB = readWithSndfile(b, &rateB);
    return tonalDistanceDb(thirdOctaveLevelsDb(channelsA, rateA), thirdOctaveLevelsDb(channelsB, rateB));
}

namespace {

// Third-octave levels (centres 1000·2^(k/3), k = -16…12) of the frames above -70 dBFS; NaN for a band
// beyond Nyquist or more than 60 dB under the loudest band.
std::vector<double> broadBalanceLevels(const std::filesystem::path& path) {
    double rate = 0.0;
    const Channels channels = readWithSndfile(path, &rate);
    const size_t frames = channels.empty() ? 0 : channels.front().size();
    if (frames < frameSize) throw std::invalid_argument("broadBalanceLevels: fewer than 16384 frames");
    RealFft fft(frameSize);
    const std::vector<float> window = hannWindow(frameSize, 0.5);
    std::vector<double> power(frameSize / 2, 0.0), framePower(frameSize / 2);
    std::vector<float> frame(frameSize), magnitudes(frameSize / 2);
    for (size_t start = 0; start + frameSize <= frames; start += hopSize) {
        double meanSquare = 0.0;
        for (const auto& channel : channels)
            for (size_t n = 0; n < frameSize; ++n) meanSquare += double(channel[start + n]) * channel[start + n];
        if (meanSquare / double(frameSize * channels.size()) < 1e-7) continue;
        for (const auto& channel : channels) {
            for (size_t n = 0; n < frameSize; ++n) frame[n] = channel[start + n] * window[n];
            fft.packedMagnitudes(frame.data(), magnitudes.data());
            for (size_t b = 1; b < power.size(); ++b) power[b] += double(magnitudes[b]) * magnitudes[b];
        }
    }
    const double binHz = rate / double(frameSize), edge = std::pow(2.0, 1.0 / 6.0);
    std::vector<double> levels;
    for (int k = -16; k <= 12; ++k) {
        const double centre = 1000.0 * std::pow(2.0, double(k) / 3.0);
        double sum = 0.0;
        for (size_t b = 1; b < power.size(); ++b) {
            const double f = double(b) * binHz;
            if (f >= centre / edge && f < centre * edge) sum += power[b];
        }
        const bool readable = centre * edge <= rate / 2.0 && sum > 0.0;
        levels.push_back(readable ? 10.0 * std::log10(sum) : std::numeric_limits<double>::quiet_NaN());
    }
    double loudest = -std::numeric_limits<double>::infinity();
    for (const double level : levels)
        if (std::isfinite(level)) loudest = std::max(loudest, level);
    for (double& level : levels)
        if (level < loudest - 60.0) level = std::numeric_limits<double>::quiet_NaN();
    return levels;
}

} // namespace

double broadBalanceDistanceDb(const std::filesystem::path& a, const std::filesystem::path& b) {
    const std::vector<double> levelsA = broadBalanceLevels(a), levelsB = broadBalanceLevels(b);
    const size_t n = levelsA.size();
    std::vector<double> difference(n);
    for (size_t i = 0; i < n; ++i) difference[i] = levelsA[i] - levelsB[i];
    std::vector<double> smoothed;
    for (size_t i = 0; i < n; ++i) {
        if (!std::isfinite(difference[i])) continue;
        double sum = 0.5 * difference[i], weight = 0.5;
        for (const size_t j : {i - 1, i + 1}) {
            if (j >= n || !std::isfinite(difference[j])) continue;
            sum += 0.25 * difference[j];
            weight += 0.25;
        }
        smoothed.push_back(sum / weight);
    }
    if (smoothed.empty()) return std::numeric_limits<double>::quiet_NaN();
    double mean = 0.0;
    for (const double d : smoothed) mean += d;
    mean /= double(smoothed.size());
    double sum = 0.0;
    for (const double d : smoothed) sum += (d - mean) * (d - mean);
    return std::sqrt(sum / double(smoothed.size()));
}

} // namespace orvanta::test
