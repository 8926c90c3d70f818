#pragma once

#include "platform/AudioBuffer.h"

namespace orvanta::AudioAnalyzer {

struct MidSideMeasurement {
    double midRatio = 1.0;  // E_mid ÷ (E_mid + E_side)
    double sideRatio = 0.0; // E_side ÷ (E_mid + E_side)
    double width = 0.0;     // E_side ÷ E_mid, clamped to 0…2
};

// Mid/side energy of channels 0 and 1 (double precision); (1, 0, 0) for fewer than two channels.
// Pure; any thread.
MidSideMeasurement measureMidSide(const AudioBuffer& buffer);

// Normalised correlation Σ L·R ÷ max(√(Σ L² · Σ R²), 0.0001) of channels 0 and 1 over the valid
// frames, single precision; nothing (0 returned, hasValue false) for fewer than two channels.
struct StereoCorrelation {
    bool hasValue = false;
    float rho = 0.0f;
};
StereoCorrelation stereoCorrelation(const AudioBuffer& buffer);

// Channels 0 and 1 of a file as it streams past: the energies of measureMidSide and the sums of
// stereoCorrelation, chunk by chunk. One thread at a time.
class StereoAccumulator {
public:
    void add(const float* left, const float* right, size_t frames) noexcept;
    MidSideMeasurement midSide() const noexcept;
    StereoCorrelation correlation() const noexcept;

private:
    double midEnergy_ = 0.0, sideEnergy_ = 0.0;
    double leftRight_ = 0.0, leftEnergy_ = 0.0, rightEnergy_ = 0.0;
};

} // namespace orvanta::AudioAnalyzer
