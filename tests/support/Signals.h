#pragma once

#include "platform/AudioBuffer.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace orvanta::test {

using Channels = std::vector<std::vector<float>>;

// Generated signals with known answers.
std::vector<float> sine(double frequency, double amplitude, double sampleRate, size_t frames, double phase = 0.0);
std::vector<float> square(double frequency, double amplitude, double sampleRate, size_t frames);
std::vector<float> silence(size_t frames);
// Deterministic white noise, uniform in [−amplitude, amplitude).
std::vector<float> whiteNoise(double amplitude, size_t frames, uint32_t seed = 1);
// Short decaying noise bursts (about 10 ms) at every beat of `bpm`.
std::vector<float> clickTrack(double bpm, double sampleRate, size_t frames, double amplitude = 0.9);

// The same signal in every channel.
Channels replicate(const std::vector<float>& signal, size_t channelCount);

enum class SampleFormat { pcm16, pcm24, float32 };

// Writes a WAV file directly with libsndfile (not through the code under test).
void writeWav(const std::filesystem::path& path, const Channels& channels, double sampleRate,
              SampleFormat format = SampleFormat::float32);
// Reads every channel of a file directly with libsndfile.
Channels readWithSndfile(const std::filesystem::path& path, double* sampleRate = nullptr);
// The length in frames of a file as libsndfile opens it, without reading the samples.
size_t frameCountOf(const std::filesystem::path& path);

AudioBuffer toBuffer(const Channels& channels, double sampleRate);
Channels fromBuffer(const AudioBuffer& buffer);

// Writes a music-like stereo song (drums, bass, chords) of the given length and level.
std::filesystem::path writeMusic(const std::filesystem::path& path, double seconds, double levelDB = 0.0,
                                 uint32_t seed = 1, double sampleRate = 44100.0);
// A long song written cheaply at 44.1 kHz: a 10-second passage of writeMusic's song, repeated. For runs
// that must still be at work when they are interrupted; not for measuring what a master sounds like.
std::filesystem::path writeLongMusic(const std::filesystem::path& path, double seconds, double levelDB = 0.0,
                                     uint32_t seed = 1);

double peakOf(const std::vector<float>& samples);
double rmsOf(const std::vector<float>& samples);

} // namespace orvanta::test
