#pragma once

#include "platform/PreferenceStore.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// The only band shape: a second-order peaking filter. Stored as "Peaking".
enum class EQBandType { peaking };

struct EQBand {
    float frequency = 1000.0f; // centre frequency, Hz
    float gain = 0.0f;         // boost (+) or cut (−), dB
    EQBandType type = EQBandType::peaking;
    float q = 1.0f;            // quality factor

    // Frequency, gain and q; the type never differs.
    bool operator==(const EQBand& other) const noexcept {
        return frequency == other.frequency && gain == other.gain && q == other.q;
    }
};

struct EQSettings {
    std::vector<EQBand> bands;     // processed in list order
    bool isEnabled = false;        // consulted by the callers of the filter routine
    float masterGain = 0.0f;       // dB, applied after the bands
    bool isAutoReferenceMode = false; // gains came from reference matching; not compared

    bool operator==(const EQSettings& other) const noexcept {
        return bands == other.bands && isEnabled == other.isEnabled && masterGain == other.masterGain;
    }
};

// The 12 default bands: 32 Hz … 20 kHz, 0 dB.
const std::vector<EQBand>& defaultBands();
// Default bands, disabled, 0 dB master gain, not from reference matching.
EQSettings defaultEQSettings();
// 32, 63, 125, 250, 500, 1000, 2000, 4000, 8000, 12000, 16000, 20000 Hz.
inline constexpr std::array<float, 12> bandCenterFrequencies = {32,   63,   125,  250,  500,   1000,
                                                                2000, 4000, 8000, 12000, 16000, 20000};

// JSON form: {"bands":[{"frequency","gain","type":"Peaking","q"}...],"isEnabled","masterGain",
// "isAutoReferenceMode"}. Decoding requires every key and returns nothing when one is missing or wrong.
std::string encodeEQSettings(const EQSettings& settings);
std::optional<EQSettings> decodeEQSettings(const std::string& json);

// Preference keys of stored EQ settings.
inline constexpr const char* eqSettingsKey = "EQSettings";
inline constexpr const char* activeEQSettingsKey = "ActiveEQSettings";

// The settings stored under `key`, or the defaults when absent or undecodable.
EQSettings loadEQSettings(const PreferenceStore& store, const std::string& key);
// Stores the JSON bytes under `key` as data.
void saveEQSettings(PreferenceStore& store, const EQSettings& settings, const std::string& key);

} // namespace orvanta
