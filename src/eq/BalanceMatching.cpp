#include "eq/BalanceMatching.h"

#include "eq/EQFilter.h"
#include "eq/EQResponse.h"
#include "eq/MatchStrength.h"
#include "eq/ReferenceMatching.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvanta {

namespace {

// Bands centred above this fraction of the rate stay flat: the peaking formula is cramped near Nyquist.
constexpr double highestBandFraction = 0.45;
constexpr double largestStepDb = 4.0;
constexpr double zigZagStepDb = 1.5;
constexpr double firstNeighbourPenalty = 0.15; // per dB² of neighbour difference, against the fit's dB²
constexpr double ridgePenalty = 0.01;         // keeps bands over no content near 0 dB
constexpr double meanPenalty = 10.0;          // holds the gains' mean at 0
constexpr int penaltyRaises = 16;
constexpr double penaltyRaise = 1.4;
constexpr int linearisations = 5; // the peaking response in dB is nearly, not exactly, linear in its gain
constexpr int sweeps = 400;

using Matrix = std::vector<std::vector<double>>;

// dB per dB of gain that `band` gives at `frequencyHz`, probed at `gainDb` (at least 1 dB off 0).
double responsePerDb(EQBand band, double gainDb, double frequencyHz, double sampleRate) {
    const double probe = std::fabs(gainDb) >= 1.0 ? gainDb : (gainDb < 0.0 ? -1.0 : 1.0);
    band.gain = float(probe);
    EQSettings single;
    single.bands = {band};
    return double(eqResponseDb(single, frequencyHz, sampleRate)) / probe;
}

// Minimises ½gᵀHg − bᵀg over the box ±limit by coordinate descent (H symmetric positive definite),
// starting from `g`.
void solveBoxedQuadratic(const Matrix& h, const std::vector<double>& b, double limit, std::vector<double>& g) {
    const size_t n = g.size();
    for (int sweep = 0; sweep < sweeps; ++sweep) {
        double largestChange = 0.0;
        for (size_t i = 0; i < n; ++i) {
            double rest = b[i];
            for (size_t j = 0; j < n; ++j)
                if (j != i) rest -= h[i][j] * g[j];
            const double next = std::clamp(rest / h[i][i], -limit, limit);
            largestChange = std::max(largestChange, std::fabs(next - g[i]));
            g[i] = next;
        }
        if (largestChange < 1e-6) break;
    }
}

struct FitProblem {
    std::vector<EQBand> bands;       // the default bands
    std::vector<size_t> fitted;      // band indices whose gains are fitted, ascending and contiguous
    std::vector<double> frequencies; // balance band centres with a correction
    std::vector<double> target;      // the correction there, mean removed
    double sampleRate = 0.0;
    bool fixedNeighbourAbove = false; // a flat band follows the last fitted one
};

std::vector<double> fit(const FitProblem& problem, double neighbourPenalty) {
    const size_t m = problem.fitted.size(), rows = problem.frequencies.size();
    std::vector<double> g(m, 0.0);
    for (int round = 0; round < linearisations; ++round) {
        // Each band's response per dB, with its mean over the rows removed: the overall level is free.
        Matrix a(m, std::vector<double>(rows));
        for (size_t i = 0; i < m; ++i) {
            double mean = 0.0;
            for (size_t k = 0; k < rows; ++k) {
                a[i][k] = responsePerDb(problem.bands[problem.fitted[i]], g[i], problem.frequencies[k], problem.sampleRate);
                mean += a[i][k];
            }
            mean /= double(rows);
            for (double& value : a[i]) value -= mean;
        }
        Matrix h(m, std::vector<double>(m, 0.0));
        std::vector<double> b(m, 0.0);
        for (size_t i = 0; i < m; ++i) {
            for (size_t k = 0; k < rows; ++k) b[i] += a[i][k] * problem.target[k];
            for (size_t j = 0; j < m; ++j) {
                for (size_t k = 0; k < rows; ++k) h[i][j] += a[i][k] * a[j][k];
                h[i][j] += meanPenalty / double(m);
            }
            h[i][i] += ridgePenalty;
        }
        for (size_t i = 0; i + 1 < m; ++i) {
            h[i][i] += neighbourPenalty;
            h[i + 1][i + 1] += neighbourPenalty;
            h[i][i + 1] -= neighbourPenalty;
            h[i + 1][i] -= neighbourPenalty;
        }
        if (problem.fixedNeighbourAbove) h[m - 1][m - 1] += neighbourPenalty;
        solveBoxedQuadratic(h, b, double(matchBandLimitDb), g);
    }
    return g;
}

std::vector<double> steps(const std::vector<EQBand>& bands) {
    std::vector<double> result;
    for (size_t i = 1; i < bands.size(); ++i) result.push_back(double(bands[i].gain) - double(bands[i - 1].gain));
    return result;
}

} // namespace

std::vector<float> balanceCorrectionDb(const TonalBalance& reference, const TonalBalance& song, float strengthPercent) {
    constexpr float none = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> difference(balanceBandCount, none);
    double mean = 0.0;
    int count = 0;
    for (size_t k = 0; k < balanceBandCount; ++k) {
        if (!reference.hasContent(k) || !song.hasContent(k)) continue;
        difference[k] = reference.levelsDb[k] - song.levelsDb[k];
        mean += difference[k];
        ++count;
    }
    if (count > 0) mean /= double(count);
    const float scale = std::clamp(strengthPercent, minimumMatchStrength, fullMatchStrength) / fullMatchStrength;
    std::vector<float> correction(balanceBandCount, none);
    for (size_t k = 0; k < balanceBandCount; ++k) {
        if (!std::isfinite(difference[k])) continue;
        double sum = 0.5 * (difference[k] - mean), weight = 0.5;
        for (const size_t j : {k - 1, k + 1}) {
            if (j >= balanceBandCount || !std::isfinite(difference[j])) continue;
            sum += 0.25 * (difference[j] - mean);
            weight += 0.25;
        }
        correction[k] = float(sum / weight) * scale;
    }
    return correction;
}

std::vector<EQBand> fitMatchedBands(const std::vector<float>& correctionDb, double sampleRate) {
    FitProblem problem;
    problem.bands = defaultBands();
    problem.sampleRate = sampleRate;
    for (size_t i = 0; i < matchedBandCount && i < problem.bands.size(); ++i) {
        const float frequency = problem.bands[i].frequency;
        if (!filterFitsRate(frequency, float(sampleRate)) || double(frequency) >= highestBandFraction * sampleRate)
            break;
        problem.fitted.push_back(i);
    }
    problem.fixedNeighbourAbove = !problem.fitted.empty() && problem.fitted.back() + 1 < problem.bands.size();
    double mean = 0.0;
    for (size_t k = 0; k < correctionDb.size() && k < balanceBandCount; ++k) {
        if (!std::isfinite(correctionDb[k])) continue;
        problem.frequencies.push_back(balanceBandCentreHz(k));
        problem.target.push_back(correctionDb[k]);
        mean += correctionDb[k];
    }
    std::vector<EQBand> bands = problem.bands;
    if (problem.fitted.empty() || problem.target.size() < 2) return bands;
    mean /= double(problem.target.size());
    for (double& value : problem.target) value -= mean;

    double penalty = firstNeighbourPenalty;
    for (int attempt = 0; attempt <= penaltyRaises; ++attempt, penalty *= penaltyRaise) {
        std::vector<double> gains = fit(problem, penalty);
        double gainMean = 0.0;
        for (const double gain : gains) gainMean += gain;
        gainMean /= double(gains.size());
        for (size_t i = 0; i < gains.size(); ++i) {
            const float gain = std::clamp(float(gains[i] - gainMean), -matchBandLimitDb, matchBandLimitDb);
            bands[problem.fitted[i]].gain = std::fabs(gain) < 1e-4f ? 0.0f : gain;
        }
        if (largestGainStepDb(bands) <= largestStepDb && !hasGainZigZag(bands)) break;
    }
    return bands;
}

EQSettings balanceMatchedEQ(const TonalBalance& reference, const TonalBalance& song, float strengthPercent,
                            double sampleRate) {
    EQSettings settings;
    settings.bands = fitMatchedBands(balanceCorrectionDb(reference, song, strengthPercent), sampleRate);
    settings.isEnabled = true;
    settings.masterGain = 0.0f;
    settings.isAutoReferenceMode = true;
    return settings;
}

double largestGainStepDb(const std::vector<EQBand>& bands) {
    double largest = 0.0;
    for (const double step : steps(bands)) largest = std::max(largest, std::fabs(step));
    return largest;
}

bool hasGainZigZag(const std::vector<EQBand>& bands) {
    const std::vector<double> s = steps(bands);
    for (size_t i = 0; i + 2 < s.size(); ++i) {
        const bool large = std::fabs(s[i]) > zigZagStepDb && std::fabs(s[i + 1]) > zigZagStepDb &&
                           std::fabs(s[i + 2]) > zigZagStepDb;
        if (large && s[i] * s[i + 1] < 0.0 && s[i + 1] * s[i + 2] < 0.0) return true;
    }
    return false;
}

} // namespace orvanta
