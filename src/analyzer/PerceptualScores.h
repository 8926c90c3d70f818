#pragma once

#include "analyzer/AudioAnalysisResult.h"
#include "analyzer/StereoAnalysis.h"
#include "platform/AudioBuffer.h"

#include <string>

// The analyzer's perceptual scores (0…1), device scores, overall score (0…100) and verdict words.
// Pure functions; any thread; none throws.
namespace orvanta::AudioAnalyzer {

using Balance = AudioAnalysisResult::SpectralBalance;

// Closeness of bass + ½·lowMid to 0.28, less for too much sub-bass and for a dull top.
double warmthScore(const Balance& balance);
// min((mid + 1.1·highMid) × 1.3, 1).
double clarityScore(const Balance& balance);
// From the dynamic range (dB, best near 14) and the crest factor (linear peak ÷ RMS, best near 8).
double dynamicsScore(double dynamicRange, double crestFactor);
// Crest factor peak ÷ max(rms, 0.0001), both linear.
double crestFactor(double peak, double rms);
// From the correlation of channels 0 and 1 (best near 0.6); 0.5 for fewer than two channels.
double spaciousnessScore(const AudioBuffer& buffer);
// The same from a correlation already measured (0.5 without one, as for a mono file).
double spaciousnessScore(const StereoCorrelation& correlation);
double spaciousnessFromCorrelation(double rho);

// Suitability for laptop speakers.
double macBookScore(const Balance& balance, double dynamics, double clarity, double warmth);
// Suitability for a PA system; lufsIntegrated in LUFS.
double paSystemScore(const Balance& balance, double dynamics, double clarity, double warmth, double lufsIntegrated);

// Penalties of the overall score, in points.
double loudnessPenalty(double lufsIntegrated, double targetLUFS); // beyond 2 LU off target, at most 12
double overPenalty(double monoPeak);                              // peak above 1.0 linear, at most 8
double clippingPenalty(double clippingFraction);                  // any clipping, at most 12

struct OverallScoreInputs {
    double warmth = 0, clarity = 0, dynamics = 0, spaciousness = 0;
    double macBookScore = 0, paSystemScore = 0;
    double lufsIntegrated = -70, recommendedTargetLUFS = -14; // LUFS
    double peakLevel = 0;        // mono mix, linear
    double clippingFraction = 0; // 0…1
};
// Weighted perceptual and device scores × 100, less the penalties, clamped to 0…100.
double overallScore(const OverallScoreInputs& inputs);

// "Poor", "Fair", "Good", "Excellent" or "Reference" for an overall score.
std::string verdictLabel(double score);
// The sentence shown under the verdict.
std::string verdictSentence(double score);

} // namespace orvanta::AudioAnalyzer
