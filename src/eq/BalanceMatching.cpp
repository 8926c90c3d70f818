#include "eq/BalanceMatching.h"

#include "eq/EQFilter.h"
#include "eq/EQResponse.h"
#include "eq/MatchStrength.h"
#include "eq/QuadraticProgram.h"
#include "eq/ReferenceMatching.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace orvanta {

namespace {

// Bands centred above this fraction of the rate stay flat: the peaking formula is cramped near Nyquist.
constexpr double highestBandFraction = 0.45;
constexpr double largestStepDb = 4.0;
constexpr double zigZagStepDb = 1.5;
constexpr int linearisations = 4; // the peaking response in dB is nearly, not exactly, linear in its gain
constexpr int zigZagRounds = 8;
// The solver holds its limits to 1e-7 dB; the limits sit this far inside the rules, so that gains
// rounded to single precision still keep them.
constexpr double roundingMarginDb = 1e-4;

// Per band of the measure, against its squared miss in dB²: a light pull of neighbouring gains
// together (the step limit itself is a constraint), and a lighter one of every gain toward 0 dB, which
// keeps a band over no content flat and the problem well posed.
constexpr double neighbourPenalty = 0.02;
constexpr double ridgePenalty = 0.002;

using Matrix = std::vector<std::vector<double>>;

// dB per dB of gain that `band` gives at `frequencyHz`, probed at `gainDb` (at least 1 dB off 0).
double responsePerDb(EQBand band, double gainDb, double frequencyHz, double sampleRate) {
    const double probe = std::fabs(gainDb) >= 1.0 ? gainDb : (gainDb < 0.0 ? -1.0 : 1.0);
    band.gain = float(probe);
    EQSettings single;
    single.bands = {band};
    return double(eqResponseDb(single, frequencyHz, sampleRate)) / probe;
}

// The measure's octave smoothing (1/4, 1/2, 1/4 over the neighbouring rows) of one row vector.
std::vector<double> smoothed(const std::vector<double>& values) {
    std::vector<double> result(values.size());
    for (size_t k = 0; k < values.size(); ++k) {
        double sum = 0.5 * values[k], weight = 0.5;
        for (const size_t j : {k - 1, k + 1}) {
            if (j >= values.size()) continue;
            sum += 0.25 * values[j];
            weight += 0.25;
        }
        result[k] = sum / weight;
    }
    return result;
}

struct FitProblem {
    std::vector<EQBand> bands;       // the default bands
    std::vector<size_t> fitted;      // band indices whose gains are fitted, ascending and contiguous
    std::vector<double> frequencies; // balance band centres with a correction
    std::vector<double> target;      // the correction there, mean removed
    double sampleRate = 0.0;
    bool fixedNeighbourAbove = false; // a flat band follows the last fitted one
};

std::vector<double> steps(const std::vector<EQBand>& bands) {
    std::vector<double> result;
    for (size_t i = 1; i < bands.size(); ++i) result.push_back(double(bands[i].gain) - double(bands[i - 1].gain));
    return result;
}

// Row i gives the step g[i + 1] − g[i] from fitted band i to the next (the flat band above the last
// fitted one counts as 0 dB).
std::vector<double> stepRow(const FitProblem& problem, size_t i) {
    std::vector<double> row(problem.fitted.size(), 0.0);
    row[i] = -1.0;
    if (i + 1 < row.size()) row[i + 1] = 1.0;
    return row;
}

size_t stepCount(const FitProblem& problem) {
    return problem.fixedNeighbourAbove ? problem.fitted.size() : problem.fitted.size() - 1;
}

// The constraints every fit keeps: each gain within ±6 dB, each step to the next band (fitted or flat)
// within ±4 dB, the gains' mean 0.
std::vector<LinearConstraint> curveLimits(const FitProblem& problem) {
    const size_t m = problem.fitted.size();
    std::vector<LinearConstraint> limits;
    for (size_t i = 0; i < m; ++i) {
        const double limit = double(matchBandLimitDb) - roundingMarginDb;
        LinearConstraint bound{std::vector<double>(m, 0.0), -limit, limit};
        bound.a[i] = 1.0;
        limits.push_back(std::move(bound));
    }
    const double step = largestStepDb - roundingMarginDb;
    for (size_t s = 0; s < stepCount(problem); ++s) limits.push_back({stepRow(problem, s), -step, step});
    limits.push_back({std::vector<double>(m, 1.0), 0.0, 0.0});
    return limits;
}

// Least squares of the smoothed response against the target under `limits`, starting the
// linearisation at `g`; none when the solver finds no solution.
std::optional<std::vector<double>> fit(const FitProblem& problem, const std::vector<LinearConstraint>& limits,
                                       std::vector<double> g) {
    const size_t m = problem.fitted.size(), rows = problem.frequencies.size();
    for (int round = 0; round < linearisations; ++round) {
        // Each band's response per dB, smoothed as the measure smooths a difference, its mean over
        // the rows removed: the overall level is free.
        Matrix a(m);
        for (size_t i = 0; i < m; ++i) {
            std::vector<double> column(rows);
            for (size_t k = 0; k < rows; ++k)
                column[k] = responsePerDb(problem.bands[problem.fitted[i]], g[i], problem.frequencies[k], problem.sampleRate);
            column = smoothed(column);
            double mean = 0.0;
            for (const double value : column) mean += value / double(rows);
            for (double& value : column) value -= mean;
            a[i] = std::move(column);
        }
        QuadraticProgram qp;
        qp.h.assign(m, std::vector<double>(m, 0.0));
        qp.b.assign(m, 0.0);
        for (size_t i = 0; i < m; ++i) {
            for (size_t k = 0; k < rows; ++k) qp.b[i] += a[i][k] * problem.target[k];
            for (size_t j = 0; j < m; ++j)
                for (size_t k = 0; k < rows; ++k) qp.h[i][j] += a[i][k] * a[j][k];
            qp.h[i][i] += ridgePenalty * double(rows);
        }
        // Between fitted bands only: the flat band above is a limit, not a shape to follow.
        for (size_t s = 0; s + 1 < m; ++s) {
            const std::vector<double> row = stepRow(problem, s);
            for (size_t i = 0; i < m; ++i)
                for (size_t j = 0; j < m; ++j) qp.h[i][j] += neighbourPenalty * double(rows) * row[i] * row[j];
        }
        qp.constraints = limits;
        std::optional<std::vector<double>> next = solveQuadraticProgram(qp);
        if (!next) return std::nullopt;
        g = std::move(*next);
    }
    return g;
}

bool zigZagAt(const std::vector<double>& s, size_t i) {
    const bool large = std::fabs(s[i]) > zigZagStepDb && std::fabs(s[i + 1]) > zigZagStepDb &&
                       std::fabs(s[i + 2]) > zigZagStepDb;
    return large && s[i] * s[i + 1] < 0.0 && s[i + 1] * s[i + 2] < 0.0;
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

    std::vector<LinearConstraint> limits = curveLimits(problem);
    std::vector<double> gains(problem.fitted.size(), 0.0);
    for (int round = 0; round < zigZagRounds; ++round) {
        std::optional<std::vector<double>> next = fit(problem, limits, gains);
        if (!next) break;
        gains = std::move(*next);
        for (size_t i = 0; i < gains.size(); ++i)
            bands[problem.fitted[i]].gain = std::fabs(gains[i]) < 1e-4 ? 0.0f : float(gains[i]);
        // A zig-zag is undone where it turns twice: its middle step is held to 1.5 dB, keeping its sign.
        const std::vector<double> s = steps(bands);
        bool found = false;
        for (size_t i = 0; i + 2 < s.size(); ++i) {
            if (!zigZagAt(s, i)) continue;
            const size_t middle = i + 1; // step from band middle to middle + 1
            if (middle >= problem.fitted.size()) continue;
            const double held = zigZagStepDb - roundingMarginDb, step = largestStepDb - roundingMarginDb;
            limits.push_back({stepRow(problem, middle), s[middle] < 0.0 ? -held : -step, s[middle] < 0.0 ? step : held});
            found = true;
        }
        if (!found) break;
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
    for (size_t i = 0; i + 2 < s.size(); ++i)
        if (zigZagAt(s, i)) return true;
    return false;
}

} // namespace orvanta
