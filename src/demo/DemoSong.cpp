#include "demo/DemoSong.h"

#include "platform/AudioBuffer.h"
#include "platform/AudioFileWriter.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace orvanta::demo {

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;

class Noise {
public:
    explicit Noise(uint32_t seed) : state_(seed * 2654435761u + 0x9E3779B9u) {}
    // Uniform in [−1, 1).
    double next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return double(state_) / 2147483648.0 - 1.0;
    }

private:
    uint32_t state_;
};

double midiToHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

// One-pole low-pass, enough to round off saw waves.
struct OnePole {
    double z = 0.0;
    double a = 0.0;
    OnePole(double cutoffHz, double sampleRate) : a(std::exp(-twoPi * cutoffHz / sampleRate)) {}
    double process(double x) { return z = (1.0 - a) * x + a * z; }
};

double saw(double phase) { return 2.0 * (phase - std::floor(phase + 0.5)); }

} // namespace

DemoSong synthesizeDemoSong(const DemoSongParameters& p) {
    const double fs = p.sampleRate;
    const size_t frames = size_t(std::max(0.0, p.durationSeconds) * fs);
    DemoSong song;
    song.sampleRate = fs;
    song.left.assign(frames, 0.0f);
    song.right.assign(frames, 0.0f);

    Noise noise(p.seed);
    const double beat = 60.0 / p.bpm;
    const double sixteenth = beat / 4.0;

    // Four chords of two bars each, transposed by the seed: i–VI–III–VII in a minor key.
    static constexpr std::array<std::array<int, 3>, 4> progression = {{{0, 3, 7}, {-4, 0, 3}, {3, 7, 10}, {-2, 2, 5}}};
    const int key = 57 + int(p.seed % 5) - 2; // around A3
    static constexpr std::array<int, 5> pentatonic = {0, 3, 5, 7, 10};

    double kickPhase = 0, bassPhase = 0, leadPhase = 0, vibratoPhase = 0;
    std::array<double, 6> padPhases{};
    OnePole bassFilter(380.0, fs), padFilterL(1800.0, fs), padFilterR(1700.0, fs), hatFilter(6000.0, fs);
    double lastHatNoise = 0;

    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / fs;
        const double beatPos = t / beat;
        const double tInBeat = (beatPos - std::floor(beatPos)) * beat;
        const long beatIndex = long(std::floor(beatPos));
        const long sixteenthIndex = long(std::floor(t / sixteenth));
        const double tInSixteenth = t - double(sixteenthIndex) * sixteenth;
        const long barIndex = beatIndex / 4;
        const auto& chord = progression[size_t((barIndex / 2) % 4)];

        // Kick on every beat, with a falling pitch.
        const double kickFreq = 48.0 + 110.0 * std::exp(-tInBeat * 28.0);
        kickPhase += kickFreq / fs;
        const double kick = std::sin(twoPi * kickPhase) * std::exp(-tInBeat * 7.0) * 0.9;

        // Snare on beats 2 and 4.
        double snare = 0;
        if (beatIndex % 2 == 1) {
            snare = noise.next() * std::exp(-tInBeat * 16.0) * 0.35 +
                    std::sin(twoPi * 185.0 * tInBeat) * std::exp(-tInBeat * 24.0) * 0.25;
        }

        // Closed hi-hat on every off-beat eighth, plus a softer one on sixteenths (seed dependent).
        const double hatNoise = noise.next();
        const double bright = hatNoise - lastHatNoise;
        lastHatNoise = hatNoise;
        double hat = 0;
        const long sixteenthInBeat = sixteenthIndex % 4;
        if (sixteenthInBeat == 2) {
            hat = (bright - hatFilter.process(bright)) * std::exp(-tInSixteenth * 55.0) * 0.22;
        } else if ((p.seed + uint32_t(sixteenthIndex)) % 3 == 0) {
            hat = (bright - hatFilter.process(bright)) * std::exp(-tInSixteenth * 90.0) * 0.08;
        } else {
            hatFilter.process(bright);
        }

        // Bass: eighth notes on the chord root, an octave jump on every fourth one.
        const long eighthIndex = sixteenthIndex / 2;
        const double tInEighth = t - double(eighthIndex) * 2.0 * sixteenth;
        const int bassNote = key - 24 + chord[0] + ((eighthIndex % 4 == 3) ? 12 : 0);
        bassPhase += midiToHz(bassNote) / fs;
        const double bassEnv = std::min(1.0, tInEighth * 200.0) * std::exp(-tInEighth * 5.0);
        const double bass = bassFilter.process(saw(bassPhase)) * bassEnv * 0.55;

        // Pad: the triad on detuned saws, slightly different per side.
        double padL = 0, padR = 0;
        for (size_t v = 0; v < 3; ++v) {
            const double f = midiToHz(key + chord[v]);
            padPhases[v] += f * 1.003 / fs;
            padPhases[v + 3] += f * 0.997 / fs;
            padL += saw(padPhases[v]) + 0.5 * saw(padPhases[v + 3]);
            padR += 0.5 * saw(padPhases[v]) + saw(padPhases[v + 3]);
        }
        const double barTime = std::fmod(t, 8.0 * beat);
        const double padEnv = std::min(1.0, barTime * 3.0) * 0.09;
        padL = padFilterL.process(padL) * padEnv;
        padR = padFilterR.process(padR) * padEnv;

        // Lead: a pentatonic line in quarter notes with vibrato.
        double lead = 0;
        if (p.vocalLead) {
            const uint32_t step = uint32_t(beatIndex) * 7u + p.seed * 13u;
            const int note = key + 12 + pentatonic[step % 5] + ((step / 5) % 2 ? 12 : 0);
            vibratoPhase += 5.5 / fs;
            leadPhase += midiToHz(note) * (1.0 + 0.004 * std::sin(twoPi * vibratoPhase)) / fs;
            const double env = std::min(1.0, tInBeat * 40.0) * std::exp(-tInBeat * 2.5);
            lead = (std::sin(twoPi * leadPhase) + 0.3 * std::sin(2.0 * twoPi * leadPhase) +
                    0.12 * std::sin(3.0 * twoPi * leadPhase)) *
                   env * 0.16;
        }

        const double centre = kick + snare + bass + lead * 0.8;
        double left = centre + padL + hat * 0.7 + lead * 0.2;
        double right = centre + padR + hat * 1.0 + lead * 0.1;
        // A short fade in and out keeps the ends click-free.
        const double fade = std::min({1.0, t / 0.05, (p.durationSeconds - t) / 0.05});
        left *= 0.5 * fade;
        right *= 0.5 * fade;
        song.left[i] = float(left);
        song.right[i] = float(right);
    }

    const double gain = std::pow(10.0, p.levelDB / 20.0);
    for (size_t i = 0; i < frames; ++i) {
        // Loud variants saturate softly, as loud real-world material does, instead of wrapping.
        song.left[i] = float(std::tanh(song.left[i] * gain));
        song.right[i] = float(std::tanh(song.right[i] * gain));
    }
    return song;
}

void writeDemoSong(const DemoSong& song, const std::filesystem::path& path, bool floatSamples) {
    const uint32_t frames = uint32_t(song.left.size());
    if (floatSamples) {
        SF_INFO info{};
        info.samplerate = int(song.sampleRate);
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        if (file == nullptr) {
            throw std::runtime_error("cannot create " + path.string());
        }
        std::vector<float> interleaved(size_t(frames) * 2);
        for (uint32_t i = 0; i < frames; ++i) {
            interleaved[2 * i] = song.left[i];
            interleaved[2 * i + 1] = song.right[i];
        }
        sf_writef_float(file, interleaved.data(), frames);
        sf_close(file);
        return;
    }
    AudioFileWriter writer(path, AudioFormat{song.sampleRate, 2}, 24);
    const float* channels[2] = {song.left.data(), song.right.data()};
    writer.write(channels, frames);
    writer.close();
}

} // namespace orvanta::demo
