#pragma once

#include "engine/ProcessingTypes.h"
#include "engine/StatusReporter.h"
#include "eq/EQFilter.h"

#include <filesystem>

namespace orvanta {

// Domain "AudioEngine", code 1: a chunk buffer could not be allocated.
inline constexpr std::string_view audioEngineDomain = "AudioEngine";

// Renders whole files offline through an EQ in chunks of 32768 frames into 24-bit PCM WAV at the
// input's rate and channel count. Every render owns its filter history (one per channel, from rest at
// its start, continued across chunks), so renders may run on any thread, side by side with each
// other and with playback. Holds no state: make one where a render is needed.
class AudioEngine {
public:
    static constexpr uint32_t chunkFrames = 32768;

    // Applies `settings` (bands, high cut, master gain when enabled) to `input` into `output`.
    // Progress (p/length)·0.95 after every chunk; past half-way each chunk also reports stage
    // finalPolish "Applying final EQ curve...". Throws the platform's file errors (cannotCreate also
    // when output is the input itself), or AudioEngine/1 when a chunk buffer cannot be made; a failed
    // render removes its incomplete output.
    void remasterWithEQ(const std::filesystem::path& input, const std::filesystem::path& output,
                        const EQSettings& settings, const ProgressCallback& progress, StatusReporter& status);

    // The analyzer's correction chain per chunk: pre-gain (only when < −0.01 dB), EQ, side gain,
    // wet/dry blend against the pre-gained chunk (only when mix < 0.999). Progress p/length.
    // Throws and cleans up as remasterWithEQ.
    void renderCorrection(const std::filesystem::path& input, const std::filesystem::path& output,
                          const EQSettings& settings, const ProgressCallback& progress, float sideGainDB,
                          float wetDryMix, float preGainDB);
};

// Gain on the side signal above about 250 Hz (one-pole split); nothing for mono, |dB| ≤ 0.01 or no frames.
void applySideGain(AudioBuffer& buffer, float sideGainDB, double sampleRate) noexcept;
// wet ← m·wet + (1 − m)·dry over the common channels and frames, m clamped to 0…1.
void mixWetDry(AudioBuffer& wet, const AudioBuffer& dry, float mix) noexcept;

} // namespace orvanta
