#pragma once
// Synthesized songs of different density, crest factor, tempo and spectrum for the corpus
// benchmark. Deterministic; stereo float samples at the chosen rate, at an arbitrary level (the
// benchmark scales each song to its input loudness).

#include <cstdint>
#include <string>
#include <vector>

namespace orvanta::bench {

struct SongStyle {
    std::string name;
    double seconds = 90.0;
    double bpm = 120.0;
    uint32_t seed = 1;
    // Linear level of each part before the mix bus; 0 leaves the part out.
    double kick = 0.0;
    double subBass = 0.0;  // sustained sine an octave under the bass, ducked by the kick
    double bass = 0.0;     // filtered saw in eighths
    double snare = 0.0;
    double hats = 0.0;     // closed hats on every step of hatsPerBeat
    double openHats = 0.0; // on the off-beats
    double crash = 0.0;    // every eight bars
    double pad = 0.0;
    double pluck = 0.0;    // plucked-string arpeggio in eighths
    double piano = 0.0;    // struck chords every half bar
    double lead = 0.0;
    int hatsPerBeat = 2;
    double hatBrightnessHz = 6000.0; // high-pass corner of the hats
    bool breakbeat = false;          // syncopated kicks, snares and ghost notes instead of four on the floor
    double drive = 0.0;              // tanh saturation of the mix bus (lowers the crest factor); 0 = clean
    // The first fraction of the song plays only pad, piano and lead, this many dB down.
    double quietFraction = 0.0;
    double quietLevelDb = 0.0;
    double inputLufs = -14.0; // loudness the benchmark gives the song (the engine's meter scale)
};

struct StereoSong {
    std::vector<float> left;
    std::vector<float> right;
};

StereoSong synthesizeSong(const SongStyle& style, double sampleRate);

// The six styles of the corpus: sparse acoustic, dense EDM, fast drum-heavy, slow ballad,
// quiet-then-loud, bright hi-hat-heavy.
std::vector<SongStyle> corpusStyles();

} // namespace orvanta::bench
