#pragma once

#include "eq/EQSettings.h"
#include "eq/TonalBalance.h"
#include "platform/AudioBuffer.h"

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// Domain "ReferenceTrack": code 1 "Failed to analyze track"; code 2 a reference that cannot be matched
// (too short, silent, or without a spectrum to compare), its description beginning "The reference
// cannot be matched: ".
inline constexpr std::string_view referenceTrackDomain = "ReferenceTrack";
inline constexpr int referenceUnmatchableCode = 2;

using BandLevels = std::array<float, 12>; // 0…10 scale, one per EQ band centre

// The 0…10 level scale: a band's mean magnitude in dB, levelFloorDb mapping to 0 and
// levelFloorDb + levelSpanDb to levelScaleTop.
inline constexpr float levelFloorDb = -20.0f;
inline constexpr float levelSpanDb = 70.0f;
inline constexpr float levelScaleTop = 10.0f;
// One level unit is 7 dB.
inline constexpr float decibelsPerLevelUnit = levelSpanDb / levelScaleTop;

// The averaged-spectrum bins (inclusive) over which a band's level is measured: ±30 % around its
// centre at `sampleRate`; none when the band starts beyond the last bin.
struct BandBins {
    int lo = 0;
    int hi = 0;
};
std::optional<BandBins> bandLevelBins(float centreHz, float sampleRate);
// Frequency in Hz of bin `bin` of the averaged spectrum at `sampleRate`.
float spectrumBinFrequency(int bin, float sampleRate);

// A reference recording's analysis, stored across runs.
struct SpectralProfile {
    std::vector<float> frequencies; // 100 curve points, Hz, log-spaced 20 Hz…20 kHz
    std::vector<float> magnitudes;  // dB at each point
    std::string referenceFileName;
    double dateCreated = 0.0;       // seconds since 2001-01-01 00:00:00 UTC
    std::vector<float> spectrum12Band; // 12 levels, 0…10
    // The broad balance that matching compares; none in a profile stored before it was measured.
    std::optional<TonalBalance> tonalBalance;

    bool operator==(const SpectralProfile&) const = default;
};

// JSON with keys "frequencies", "magnitudes", "referenceFileName", "dateCreated", "spectrum12Band", all
// required when decoding, and "tonalBalance" (balanceBandCount levels in dB, null where there is no
// content), which may be absent: a profile without it, or with one that does not read as a balance,
// decodes without a balance.
std::string encodeSpectralProfile(const SpectralProfile& profile);
std::optional<SpectralProfile> decodeSpectralProfile(const std::string& json);
// Now, as seconds since 2001-01-01 00:00:00 UTC.
double secondsSinceReferenceDate();

// 4096 magnitudes of channel 0 averaged over 8192-sample Hann frames with hop 2048
// (empty when the buffer has no float data).
std::vector<float> averagedMagnitudeSpectrum(const AudioBuffer& buffer);
// 100-point curve (frequencies, dB levels) of a buffer.
struct SpectrumCurve {
    std::vector<float> frequencies;
    std::vector<float> levels;
};
SpectrumCurve analyzeSpectrum(const AudioBuffer& buffer);
// 12-band levels of a buffer at its sample rate (12 zeros without float data). Bands whose lower
// edge lies beyond the last bin (the top bands at 28 kHz and below) get level 0. Any thread; no throw.
BandLevels computeBandLevels(const AudioBuffer& buffer);
// The same bands as mean magnitudes in dB before the scale maps and clamps them: loud bands do not
// saturate at the top. −200 dB for a band without bins or energy. Any thread; no throw.
using BandDecibels = std::array<float, 12>;
BandDecibels computeBandDecibels(const AudioBuffer& buffer);
// Runs `perChunk` on each 10-second chunk of the file in order, as the 12-band levels read it, and
// returns the planned chunk count (a chunk that cannot be allocated is skipped but counted). Throws
// the reader's errors and whatever `perChunk` throws.
int64_t forEachSpectrumChunk(const std::filesystem::path& url, const std::function<void(AudioBuffer&)>& perChunk);
// 12-band levels of a file, averaged over its 10-second chunks. Throws the reader's errors.
BandLevels compute12BandSpectrum(const std::filesystem::path& url);
// The same for the file as `transform` changes it: each chunk, in order, passes through `transform`
// before it is measured. Throws the reader's errors and whatever `transform` throws.
using ChunkTransform = std::function<void(AudioBuffer&)>;
BandLevels compute12BandSpectrum(const std::filesystem::path& url, const ChunkTransform& transform);

// The analysis behind loading a reference: loudness (analyzeAudioFile), averaged curve, 12-band
// levels and tonal balance, the same figures as each measured alone. The loudness and each chunk's
// spectrum run on threads of their own beside the balance; any thread may call it. Throws the reader's errors, ReferenceTrack/1 when no chunk could be analysed, or
// ReferenceTrack/2 when there is nothing to match against: no 400 ms stretch above the −70 LUFS gate
// (the meter's error attached), or no band with a level or no balance band with content.
struct ReferenceAnalysis {
    float lufs = 0.0f;
    SpectralProfile profile;
};
ReferenceAnalysis analyzeReferenceFile(const std::filesystem::path& url);

// The default bands with gain R[i] − S[i] (bands 10 and 11 stay 0 dB).
std::vector<EQBand> matchReferenceEQ(const BandLevels& reference, const BandLevels& file);
// Enabled settings with those bands, masterGain 0, isAutoReferenceMode true.
EQSettings matchedEQSettings(const BandLevels& reference, const BandLevels& file);

} // namespace orvanta
