#pragma once

namespace orvanta {

class PreferenceStore;

inline constexpr const char* showReportKey = "Orvanta_showReport";

// The mastering settings of the store, in LUFS and dB: for each of "targetLoudness" and
// "limitThreshold" without a float value, the default (−8.0, −0.3) is written first; then both are
// read back. Any thread (the store is thread-safe).
struct MasteringPreferences {
    float targetLoudness = -8.0f; // LUFS
    float limitThreshold = -0.3f; // dB
};
MasteringPreferences readMasteringPreferences(PreferenceStore& store);

// "Orvanta_showReport": true when absent or not a boolean.
bool readShowReport(const PreferenceStore& store);
void storeShowReport(PreferenceStore& store, bool showReport);

} // namespace orvanta
