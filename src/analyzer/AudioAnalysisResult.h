#pragma once

#include <string>
#include <vector>

namespace orvanta {

// Time-frequency grid of an analysis, in dB.
struct SpectrogramData {
    std::vector<double> timeBins;               // start time of each stored frame, s
    std::vector<double> frequencyBins;          // 2048 bin centres k·fs/4096, Hz
    std::vector<std::vector<float>> magnitudes; // one column of 2048 dB values per stored frame
    float minDB = -100.0f;
    float maxDB = 0.0f;

    bool operator==(const SpectrogramData&) const = default;
    // No bins, no columns, −100…0 dB.
    static SpectrogramData empty() { return {}; }
};

struct AudioAnalysisResult {
    // A-weighted band shares; they sum to 1 when any energy was found, else all 0.
    struct SpectralBalance {
        double subBass = 0, bass = 0, lowMid = 0, mid = 0, highMid = 0;
        bool operator==(const SpectralBalance&) const = default;
    };

    struct AnalysisDetails {
        double sampleRate = 0;       // Hz
        double duration = 0;         // s
        int channels = 0;
        double peakLevel = 0;        // mono mix, linear
        double rmsLevel = 0;         // mono mix, linear
        double lufsIntegrated = -70; // LUFS
        double lufsMomentaryMax = -70;
        double lufsShortTermMax = -70;
        double truePeakLevel = 0.0;  // all channels, 4x oversampled, linear; 0 until the peak pass fills it
        double truePeakDB = -120.0;  // dBTP; −120 until filled
        int clippingCount = 0;
        double clippingPercent = 0;  // fraction 0…1
        double midEnergyRatio = 1;
        double sideEnergyRatio = 0;
        double stereoWidth = 0;      // 0…2
        std::string recommendedUseCase;
        double recommendedTargetLUFS = 0;
        std::string recommendationNote;
        SpectralBalance spectralBalance;

        bool operator==(const AnalysisDetails&) const = default;
    };

    double overallScore = 0; // 0…100
    double warmth = 0, clarity = 0, dynamics = 0, spaciousness = 0; // 0…1
    double macBookScore = 0, paSystemScore = 0;                     // 0…1
    AnalysisDetails analysisDetails;
    SpectrogramData spectrogramData;

    bool operator==(const AudioAnalysisResult&) const = default;
};

} // namespace orvanta
