#pragma once
// The tonal balance of a recording in third-octave bands, and how far two recordings lie apart in it
// once their overall levels are aligned. Judges reference matching from outside the engine; shared by
// the tests and the benchmarks; any thread.

#include "support/Signals.h"

#include <filesystem>
#include <vector>

namespace orvanta::test {

// Band centres 1000·2^(k/3) Hz for k = −15…12 (31.25 Hz … 16 kHz).
std::vector<double> thirdOctaveCentresHz();

// Level in dB of each third-octave band (thirdOctaveCentresHz) of the power spectrum of all channels
// together, averaged over 16384-sample Hann frames with half overlap. A band whose upper edge lies
// beyond Nyquist, or that holds no energy, reads NaN. Throws std::invalid_argument for fewer than
// 16384 frames.
std::vector<double> thirdOctaveLevelsDb(const Channels& channels, double sampleRate);

// RMS over the bands both can read of the level differences, less their mean (the overall level
// aligned first), dB. 0 for two recordings that differ only in gain.
double tonalDistanceDb(const std::vector<double>& levelsA, const std::vector<double>& levelsB);
// The same for two real files, read with libsndfile. Throws std::runtime_error when one cannot be read.
double tonalDistanceDb(const std::filesystem::path& a, const std::filesystem::path& b);

// The broad balance distance that reference matching is judged by: third-octave power of all channels
// from 25 Hz to 16 kHz, frames under -70 dBFS left out, bands more than 60 dB under a file's loudest
// band (or beyond Nyquist) left out, the differences smoothed over an octave (1/4, 1/2, 1/4 over
// neighbouring bands), levels aligned, RMS in dB. NaN when no band is left.
double broadBalanceDistanceDb(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace orvanta::test
