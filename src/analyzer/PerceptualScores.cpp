#include "analyzer/PerceptualScores.h"

#include "analyzer/StereoAnalysis.h"

#include <algorithm>
#include <cmath>

namespace orvanta::AudioAnalyzer {

double warmthScore(const Balance& balance) {
    const double w = balance.bass + 0.5 * balance.lowMid;
    const double d = std::fabs(w - 0.28) / 0.2;
    const double closeness = d > 1.0 ? 0.0 : 1.0 - d;
    double s = balance.subBass > 0.15 ? 1.0 - 2.0 * (balance.subBass - 0.15) : 1.0;
    if (1.5 * (balance.mid + balance.highMid) < w) {
        s -= 0.2; // the low end outweighs the presence range: muddy
    }
    return std::clamp(0.3 * s + 0.7 * closeness, 0.0, 1.0);
}

double clarityScore(const Balance& balance) {
    return std::min((balance.mid + 1.1 * balance.highMid) * 1.3, 1.0);
}

double dynamicsScore(double dynamicRange, double crestFactor) {
    const double r = dynamicRange;
    double a;
    if (r >= 8.0 && r <= 20.0) {
        a = 0.6 + 0.4 * (1.0 - std::fabs(r - 14.0) / 10.0);
    } else if (r < 8.0) {
        a = 0.6 * r / 8.0;
    } else {
        a = std::max(1.0 - (r - 20.0) / 20.0, 0.3);
    }
    const double c = crestFactor;
    double k;
    if (c >= 3.0 && c <= 14.0) {
        k = 0.6 + 0.4 * (1.0 - std::fabs(c - 8.0) / 8.0);
    } else if (c < 3.0) {
        k = 0.5 * c / 3.0;
    } else {
        k = std::max(1.0 - (c - 14.0) / 10.0, 0.3);
    }
    return 0.55 * a + 0.45 * k;
}

double crestFactor(double peak, double rms) {
    return double(float(peak) / std::max(float(rms), 0.0001f));
}

double spaciousnessFromCorrelation(double rho) {
    if (rho >= 0.4 && rho <= 0.85) {
        return 0.7 + 0.3 * (1.0 - std::fabs(rho - 0.6) / 0.3);
    }
    if (rho > 0.85) {
        return 0.5 + 2.0 * (1.0 - rho);
    }
    if (rho > 0.0) {
        return 0.4 + 0.5 * rho;
    }
    return 0.3;
}

double spaciousnessScore(const AudioBuffer& buffer) { return spaciousnessScore(stereoCorrelation(buffer)); }

double spaciousnessScore(const StereoCorrelation& correlation) {
    return correlation.hasValue ? spaciousnessFromCorrelation(correlation.rho) : 0.5;
}

double macBookScore(const Balance& balance, double dynamics, double clarity, double warmth) {
    double t = 0.02 * balance.subBass + 0.15 * balance.bass + 0.6 * balance.lowMid + 1.0 * balance.mid +
               0.95 * balance.highMid;
    if (balance.mid + balance.highMid > 0.35) {
        t += 0.1;
    }
    t += 0.05 * dynamics;
    t += 0.15 * clarity;
    if (warmth > 0.8) {
        t -= 0.2 * (warmth - 0.8);
    }
    return std::clamp(t, 0.0, 1.0);
}

double paSystemScore(const Balance& balance, double dynamics, double clarity, double warmth, double lufsIntegrated) {
    const double t =
        0.9 * balance.subBass + balance.bass + balance.lowMid + balance.mid + 0.95 * balance.highMid;
    const double tilt = 1.0 - 0.5 * std::fabs((balance.lowMid + balance.bass) - (balance.highMid + balance.mid));
    const double loud = std::clamp((lufsIntegrated + 20.0) / 15.0, 0.0, 1.0);
    const double score =
        0.1 * dynamics + 0.15 * tilt + 0.55 * t + 0.1 * clarity + 0.12 * warmth + 0.08 * loud;
    return std::clamp(score, 0.0, 1.0);
}

double loudnessPenalty(double lufsIntegrated, double targetLUFS) {
    const double d = std::fabs(lufsIntegrated - targetLUFS);
    return d > 2.0 ? std::min((d - 2.0) * 1.5, 12.0) : 0.0;
}

double overPenalty(double monoPeak) {
    return monoPeak > 1.0 ? std::min((monoPeak - 1.0) * 20.0, 8.0) : 0.0;
}

double clippingPenalty(double clippingFraction) {
    return clippingFraction > 0.0 ? std::min(clippingFraction * 1000.0, 12.0) : 0.0;
}

double overallScore(const OverallScoreInputs& in) {
    const double perceptual = 0.3 * in.clarity + 0.25 * in.warmth + 0.2 * in.dynamics + 0.25 * in.spaciousness;
    double score = (0.7 * perceptual + 0.3 * 0.5 * (in.macBookScore + in.paSystemScore)) * 100.0;
    score -= loudnessPenalty(in.lufsIntegrated, in.recommendedTargetLUFS);
    score -= overPenalty(in.peakLevel);
    score -= clippingPenalty(in.clippingFraction);
    return std::clamp(score, 0.0, 100.0);
}

namespace {
struct Verdict {
    const char* label;
    const char* sentence;
};

Verdict verdictFor(double s) {
    if (s >= 0.0 && s < 40.0) return {"Poor", "Significant issues detected."};
    if (s >= 40.0 && s < 60.0) return {"Fair", "Some issues present."};
    if (s >= 60.0 && s < 75.0) return {"Good", "Acceptable quality."};
    if (s >= 75.0 && s < 90.0) return {"Excellent", "Well-balanced audio."};
    return {"Reference", "Professional quality."};
}
} // namespace

std::string verdictLabel(double score) { return verdictFor(score).label; }
std::string verdictSentence(double score) { return verdictFor(score).sentence; }

} // namespace orvanta::AudioAnalyzer
