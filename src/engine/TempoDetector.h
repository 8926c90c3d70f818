#pragma once

#include <filesystem>
#include <vector>

namespace orvanta {

// Constants of the coarse tempo estimator.
struct BPMAnalyzer {
    static constexpr int MIN_BPM = 70;
    static constexpr int MAX_BPM = 170;
    static constexpr int BASE_SPLIT_SAMPLE_SIZE = 4410;
};

// Tempo of a file in BPM, rounded; 120 when no estimate can be made. Never throws.
// Estimates within 70…170 are cached process-wide by path, size and modification time (thread-safe).
int detectTempo(const std::filesystem::path& url);

std::vector<float> computeEnergyEnvelope(const std::vector<float>& samples, int count, int chunkSize);
double estimateTempo(const std::vector<float>& envelope, int chunkSize, double sampleRate);

} // namespace orvanta
