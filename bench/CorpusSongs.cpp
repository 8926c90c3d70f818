#include "CorpusSongs.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace orvanta::bench {

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;

class Noise {
public:
    explicit Noise(uint32_t seed) : state_(seed * 2654435761u + 0x6A09E667u) {}
    double next() { // uniform in [−1, 1)
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return double(state_) / 2147483648.0 - 1.0;
    }

private:
    uint32_t state_;
};

struct OnePole {
    double a;
    double z = 0.0;
    OnePole(double cutoffHz, double sampleRate) : a(std::exp(-twoPi * cutoffHz / sampleRate)) {}
    double lowPass(double x) { return z = (1.0 - a) * x + a * z; }
    double highPass(double x) { return x - lowPass(x); }
};

double midiToHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }
double saw(double phase) { return 2.0 * (phase - std::floor(phase + 0.5)); }

// A struck note: time since its onset and its velocity; silent before the first onset.
struct Hit {
    double since = 1e9; // seconds
    double velocity = 0.0;
    void trigger(double v) {
        since = 0.0;
        velocity = v;
    }
};

// Kicks and snares of a syncopated two-bar break (16 steps a bar), velocity 0 where nothing plays.
constexpr std::array<double, 32> breakKick = {1, 0, 0, 0, 0, 0, 0.8, 0, 0, 0, 1, 0, 0, 0, 0, 0,
                                              1, 0, 0.7, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0.6, 0, 0};
constexpr std::array<double, 32> breakSnare = {0, 0, 0, 0, 1, 0, 0, 0.3, 0, 0.3, 0, 0, 1, 0, 0.3, 0,
                                               0, 0, 0, 0, 1, 0, 0, 0.3, 0, 0, 0.3, 0, 1, 0, 0, 0.5};

// A plucked string: harmonics that die away the faster the higher they are.
double pluckedString(double hz, double since) {
    double out = 0.0;
    for (int h = 1; h <= 6; ++h) {
        out += std::sin(twoPi * h * hz * since) / h * std::exp(-since * (2.0 + 1.5 * h));
    }
    return out;
}

// A struck piano-like chord: slightly stretched partials, slow decay, the notes spread left to right.
void pianoChord(const std::array<double, 3>& hz, double since, double& left, double& right) {
    left = right = 0.0;
    for (size_t v = 0; v < 3; ++v) {
        double note = 0.0;
        for (int h = 1; h <= 5; ++h) {
            const double partial = h * hz[v] * std::sqrt(1.0 + 0.0004 * h * h);
            note += std::sin(twoPi * partial * since) / (h * h) * std::exp(-since * (0.8 + 0.6 * h));
        }
        const double pan = 0.3 + 0.2 * double(v);
        left += note * (1.0 - pan);
        right += note * pan;
    }
}

// A sung-like lead: the fundamental and two soft overtones.
double leadTone(double phase) {
    return std::sin(twoPi * phase) + 0.3 * std::sin(2.0 * twoPi * phase) + 0.12 * std::sin(3.0 * twoPi * phase);
}

// The chord on detuned saws, slightly different per side, low-passed.
class Pad {
public:
    explicit Pad(double fs) : fs_(fs), left_(1800.0, fs), right_(1650.0, fs) {}
    void next(const std::array<double, 3>& noteHz, double level, double& left, double& right) {
        double l = 0.0, r = 0.0;
        for (size_t v = 0; v < 3; ++v) {
            phases_[v] += noteHz[v] * 1.003 / fs_;
            phases_[v + 3] += noteHz[v] * 0.997 / fs_;
            l += saw(phases_[v]) + 0.5 * saw(phases_[v + 3]);
            r += 0.5 * saw(phases_[v]) + saw(phases_[v + 3]);
        }
        left = left_.lowPass(l) * level * 0.3;
        right = right_.lowPass(r) * level * 0.3;
    }

private:
    double fs_;
    OnePole left_, right_;
    std::array<double, 6> phases_{};
};

} // namespace

StereoSong synthesizeSong(const SongStyle& s, double fs) {
    const size_t frames = size_t(s.seconds * fs);
    StereoSong song;
    song.left.assign(frames, 0.0f);
    song.right.assign(frames, 0.0f);

    Noise noise(s.seed);
    const double sixteenth = 60.0 / s.bpm / 4.0;
    static constexpr std::array<std::array<int, 3>, 4> progression = {{{0, 3, 7}, {-4, 0, 3}, {3, 7, 10}, {-2, 2, 5}}};
    static constexpr std::array<int, 5> pentatonic = {0, 3, 5, 7, 10};
    const int key = 55 + int(s.seed % 7);
    const double quietGain = std::pow(10.0, s.quietLevelDb / 20.0);
    const double quietEnd = s.quietFraction * s.seconds;

    Hit kick, snare, hat, openHat, crash, bassNote, pluckNote, pianoHit, leadNote;
    double kickPhase = 0, subPhase = 0, bassPhase = 0, leadPhase = 0;
    double pluckHz = 0, leadHz = 0;
    std::array<double, 3> pianoHz{};
    Pad pad(fs);
    OnePole bassFilter(420.0, fs);
    OnePole hatFilter(s.hatBrightnessHz, fs), cymbalFilter(s.hatBrightnessHz * 0.8, fs);
    long lastStep = -1;

    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / fs;
        const long step = long(std::floor(t / sixteenth));
        const bool quiet = t < quietEnd;
        const auto& chord = progression[size_t((step / 32) % 4)];

        for (Hit* h : {&kick, &snare, &hat, &openHat, &crash, &bassNote, &pluckNote, &pianoHit, &leadNote}) {
            h->since += 1.0 / fs;
        }
        if (step != lastStep) {
            lastStep = step;
            const long inBar = step % 16;
            const bool fullBand = !quiet;
            if (fullBand && s.breakbeat) {
                if (breakKick[size_t(step % 32)] > 0) kick.trigger(breakKick[size_t(step % 32)]);
                if (breakSnare[size_t(step % 32)] > 0) snare.trigger(breakSnare[size_t(step % 32)]);
            } else if (fullBand) {
                if (inBar % 4 == 0) kick.trigger(1.0);
                if (inBar == 4 || inBar == 12) snare.trigger(1.0);
            }
            const long hatStride = 4 / std::max(1, s.hatsPerBeat);
            if (fullBand && step % hatStride == 0) hat.trigger(step % 2 == 0 ? 0.6 + 0.4 * (step % 4 == 2) : 0.5);
            if (fullBand && inBar % 4 == 2) openHat.trigger(1.0);
            if ((fullBand && step % 128 == 0) || (quietEnd > 0 && step == long(quietEnd / sixteenth))) crash.trigger(1.0);
            if (fullBand && step % 2 == 0) {
                bassNote.trigger(1.0);
                pluckNote.trigger(0.7 + 0.3 * ((step / 2) % 2 == 0));
                static constexpr std::array<int, 6> arpeggio = {0, 1, 2, 1, 2, 0};
                const int note = key + chord[size_t(arpeggio[size_t((step / 2) % 6)])] + ((step / 12) % 2 ? 12 : 0);
                pluckHz = midiToHz(note);
            }
            if (inBar % 8 == 0) {
                pianoHit.trigger(inBar == 0 ? 1.0 : 0.75);
                for (size_t v = 0; v < 3; ++v) pianoHz[v] = midiToHz(key + chord[v] + (v == 0 ? -12 : 0));
            }
            if (step % 4 == 0) {
                leadNote.trigger(1.0);
                const uint32_t index = uint32_t(step / 4) * 7u + s.seed * 13u;
                leadHz = midiToHz(key + 12 + pentatonic[index % 5] + ((index / 5) % 2 ? 12 : 0));
            }
        }
        const double n = noise.next();
        const double rootHz = midiToHz(key - 24 + chord[0]);

        // Drums.
        kickPhase = kick.since == 0.0 ? 0.0 : kickPhase + (45.0 + 120.0 * std::exp(-kick.since * 30.0)) / fs;
        const double kickOut = s.kick * kick.velocity * std::sin(twoPi * kickPhase) * std::exp(-kick.since * 6.0);
        const double snareOut = s.snare * snare.velocity *
                                (0.6 * n * std::exp(-snare.since * 18.0) +
                                 0.4 * std::sin(twoPi * 190.0 * snare.since) * std::exp(-snare.since * 25.0));
        const double bright = hatFilter.highPass(n);
        const double hatOut = s.hats * hat.velocity * bright * std::exp(-hat.since * 60.0);
        const double openHatOut = s.openHats * openHat.velocity * bright * std::exp(-openHat.since * 9.0);
        const double crashOut = s.crash * crash.velocity * cymbalFilter.highPass(n) * std::exp(-crash.since * 1.2);

        // Bass: a sustained sub an octave down, ducked after each kick, and a plucked saw line.
        subPhase += rootHz / 2.0 / fs;
        const double duck = 1.0 - 0.85 * std::exp(-kick.since * 10.0) * (kick.velocity > 0 ? 1.0 : 0.0);
        const double subOut = quiet ? 0.0 : s.subBass * std::sin(twoPi * subPhase) * duck;
        bassPhase += rootHz * ((step / 2) % 4 == 3 ? 2.0 : 1.0) / fs;
        const double bassEnv = std::min(1.0, bassNote.since * 200.0) * std::exp(-bassNote.since * 4.0);
        const double bassOut = s.bass * bassNote.velocity * bassFilter.lowPass(saw(bassPhase)) * bassEnv;

        double pluckOut = 0.0;
        if (s.pluck > 0.0 && pluckNote.velocity > 0.0) {
            pluckOut = pluckedString(pluckHz, pluckNote.since) *
                       (s.pluck * pluckNote.velocity * std::min(1.0, pluckNote.since * 2000.0));
        }
        double pianoLeft = 0.0, pianoRight = 0.0;
        if (s.piano > 0.0 && pianoHit.velocity > 0.0) {
            pianoChord(pianoHz, pianoHit.since, pianoLeft, pianoRight);
            const double gain = s.piano * pianoHit.velocity * std::min(1.0, pianoHit.since * 500.0);
            pianoLeft *= gain;
            pianoRight *= gain;
        }
        double padL = 0.0, padR = 0.0;
        if (s.pad > 0.0) {
            const std::array<double, 3> padHz = {midiToHz(key + chord[0]), midiToHz(key + chord[1]),
                                                 midiToHz(key + chord[2])};
            pad.next(padHz, s.pad, padL, padR);
        }
        double leadOut = 0.0;
        if (s.lead > 0.0) {
            leadPhase += leadHz * (1.0 + 0.004 * std::sin(twoPi * 5.5 * t)) / fs;
            const double env = std::min(1.0, leadNote.since * 40.0) * std::exp(-leadNote.since * 2.0);
            leadOut = s.lead * env * leadTone(leadPhase);
        }

        const double soft = quiet ? quietGain : 1.0;
        const double centre = kickOut + snareOut + subOut + bassOut + soft * leadOut;
        double left = centre + 0.7 * hatOut + 1.3 * openHatOut + crashOut + 1.3 * pluckOut + soft * (pianoLeft + padL);
        double right = centre + 1.3 * hatOut + 0.7 * openHatOut + crashOut + 0.7 * pluckOut + soft * (pianoRight + padR);
        if (s.drive > 0.0) {
            left = std::tanh(s.drive * left) / s.drive;
            right = std::tanh(s.drive * right) / s.drive;
        }
        const double fade = std::min({1.0, t / 0.05, (s.seconds - t) / 0.05});
        song.left[i] = float(left * fade);
        song.right[i] = float(right * fade);
    }
    return song;
}

std::vector<SongStyle> corpusStyles() {
    std::vector<SongStyle> styles;

    SongStyle acoustic{.name = "acoustic-sparse", .seconds = 90, .bpm = 84, .seed = 3};
    acoustic.kick = 0.25;
    acoustic.snare = 0.12;
    acoustic.hats = 0.05;
    acoustic.pad = 0.08;
    acoustic.pluck = 0.6;
    acoustic.lead = 0.25;
    acoustic.inputLufs = -20.0;
    styles.push_back(acoustic);

    SongStyle edm{.name = "edm-dense-sub", .seconds = 90, .bpm = 128, .seed = 5};
    edm.kick = 1.0;
    edm.subBass = 0.7;
    edm.bass = 0.3;
    edm.snare = 0.4;
    edm.hats = 0.25;
    edm.hatsPerBeat = 4;
    edm.openHats = 0.2;
    edm.crash = 0.2;
    edm.pad = 0.9;
    edm.lead = 0.2;
    edm.drive = 2.0;
    edm.inputLufs = -9.0;
    styles.push_back(edm);

    SongStyle drums{.name = "drums-fast-174", .seconds = 75, .bpm = 174, .seed = 2};
    drums.kick = 1.0;
    drums.snare = 0.9;
    drums.hats = 0.3;
    drums.hatsPerBeat = 4;
    drums.crash = 0.3;
    drums.bass = 0.45;
    drums.pad = 0.2;
    drums.breakbeat = true;
    drums.inputLufs = -15.0;
    styles.push_back(drums);

    SongStyle ballad{.name = "ballad-slow-66", .seconds = 120, .bpm = 66, .seed = 4};
    ballad.kick = 0.35;
    ballad.snare = 0.25;
    ballad.hats = 0.06;
    ballad.piano = 0.8;
    ballad.pad = 0.3;
    ballad.lead = 0.45;
    ballad.bass = 0.25;
    ballad.inputLufs = -18.0;
    styles.push_back(ballad);

    SongStyle risingSong{.name = "quiet-then-loud", .seconds = 180, .bpm = 120, .seed = 6};
    risingSong.kick = 0.9;
    risingSong.snare = 0.6;
    risingSong.hats = 0.2;
    risingSong.openHats = 0.1;
    risingSong.crash = 0.25;
    risingSong.bass = 0.5;
    risingSong.subBass = 0.3;
    risingSong.pad = 0.6;
    risingSong.piano = 0.6;
    risingSong.lead = 0.3;
    // The band comes in for the last 25 s only, outside the middle two minutes.
    risingSong.quietFraction = 0.86;
    risingSong.quietLevelDb = -22.0;
    risingSong.inputLufs = -16.0;
    styles.push_back(risingSong);

    SongStyle hats{.name = "bright-hihats", .seconds = 90, .bpm = 100, .seed = 7};
    hats.kick = 0.5;
    hats.snare = 0.35;
    hats.hats = 0.7;
    hats.hatsPerBeat = 4;
    hats.hatBrightnessHz = 9000.0;
    hats.openHats = 0.5;
    hats.crash = 0.4;
    hats.bass = 0.2;
    hats.pad = 0.2;
    hats.pluck = 0.15;
    hats.inputLufs = -17.0; // its crest is high: louder, it would reach full scale
    styles.push_back(hats);

    return styles;
}

} // namespace orvanta::bench
