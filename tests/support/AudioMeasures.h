#pragma once
// Measures that judge a master from outside the engine: distortion of a test tone, flat-topped
// (clipped) peaks, and loudness and true peak by libebur128, the reference meter. Shared by the tests
// and the benchmarks; any thread.

#include "support/Signals.h"

#include <filesystem>
#include <vector>

namespace orvanta::test {

// THD+N of a steady tone in dB relative to its fundamental: everything between DC and 20 kHz (or
// Nyquist) outside a band of a few bins around `fundamentalHz`, over the energy inside that band, in a
// 4-term Blackman-Harris windowed spectrum of up to 65536 samples from the middle of `samples` (the
// first and last eighth, where onsets and tails live, are left out). A pure tone reads below −100 dB;
// a 1 % harmonic reads −40 dB. +inf when the band holds no energy. Throws std::invalid_argument for
// fewer than 4096 samples or a fundamental outside (0, min(20 kHz, Nyquist)).
double thdPlusNoiseDb(const std::vector<float>& samples, double sampleRate, double fundamentalHz);

// Flat-topped peaks per minute of audio: runs of three or more consecutive equal samples in any
// channel whose magnitude lies within 0.1 dB of the largest magnitude of all channels. Each run counts
// once however long it is. 0 for silence or an empty signal.
double flatTopRunsPerMinute(const Channels& channels, double sampleRate);

// Integrated loudness (LUFS, BS.1770 scale: the engine's meter reads 0.5 dB lower) and true peak
// (dBTP, the largest over all channels, 4x oversampled) as libebur128 measures them. Channels from
// index 2 weigh 1.41, as in the engine's meter. Loudness is −inf for silence, true peak −inf for
// digital silence.
struct Ebur128Reading {
    double integratedLufs = 0.0;
    double truePeakDb = 0.0;
};
Ebur128Reading measureWithEbur128(const Channels& channels, double sampleRate);

// The same for a real file, read in full with libsndfile. Throws std::runtime_error when it cannot be read.
double ebur128IntegratedLoudness(const std::filesystem::path& path);
double ebur128TruePeakDb(const std::filesystem::path& path);

} // namespace orvanta::test
