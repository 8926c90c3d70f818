#pragma once

#include <span>
#include <string_view>
#include <vector>

namespace orvanta {

// How a streaming service moves a song's level towards its reference loudness.
enum class NormalisationRule {
    downOnly,            // louder songs are turned down; quieter ones play as they are
    upToPeakHeadroom,    // turned down, or raised only as far as the true peak stays at the headroom limit
};

// One service's playback normalisation as it publishes it (or, where it does not, as it is known to
// behave; `uncertainty` then says what is assumed).
struct StreamingService {
    std::string_view name;
    double referenceLufs = -14.0;   // BS.1770 integrated loudness it plays songs at
    NormalisationRule rule = NormalisationRule::downOnly;
    double headroomDbtp = -1.0;     // a raise stops where the true peak reaches this
    std::string_view uncertainty;   // empty when the service documents its rule
};

// Spotify, Apple Music, YouTube, Tidal, Amazon Music and Deezer, in that order.
std::span<const StreamingService> streamingServices() noexcept;

// What one service will do to a master.
struct StreamingPlayback {
    const StreamingService* service = nullptr;
    double gainDb = 0.0;           // the service's playback gain
    double playsAtLufs = 0.0;      // BS.1770 loudness it plays at
    double playedTruePeakDbtp = 0.0;
    bool givesLoudnessAway = false; // turned down by more than 3 dB: loudness the master paid for in vain
    bool mayClip = false;           // its true peak, after the service's gain, lies above the -1 dBTP that
                                    // lossy encoding needs: the decoded stream will clip
};

// Turned down by more than this (dB), a master gave loudness away.
inline constexpr double loudnessGivenAwayDb = 3.0;
// A played true peak above this (dBTP) clips once the service's lossy codec has decoded it.
inline constexpr double lossyClipDbtp = -1.0;

// The playback of a master on every service, from its standard BS.1770 integrated loudness (no
// calibration offset) and its true peak (dBTP). Pure.
std::vector<StreamingPlayback> previewStreaming(double bs1770Lufs, double truePeakDbtp);

} // namespace orvanta
