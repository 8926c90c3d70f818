#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace orvanta::demo {

// A synthesized stereo song with drums, bass and chords: the demo of `make run`, and music-like
// material for tests and benchmarks. Deterministic for a given set of parameters.
struct DemoSongParameters {
    double durationSeconds = 30.0;
    double sampleRate = 44100.0;
    double bpm = 124.0;
    double levelDB = 0.0;   // overall gain applied to the mix (0 dB ≈ −12 LUFS)
    uint32_t seed = 1;      // varies the pattern, the chord sequence and the noise
    bool vocalLead = true;  // a lead voice in the mid range
};

struct DemoSong {
    double sampleRate = 44100.0;
    std::vector<float> left;
    std::vector<float> right;
};

DemoSong synthesizeDemoSong(const DemoSongParameters& parameters);

// Writes the song as a 24-bit WAV (or 32-bit float when `floatSamples`).
void writeDemoSong(const DemoSong& song, const std::filesystem::path& path, bool floatSamples = false);

} // namespace orvanta::demo
