#pragma once

#include "analyzer/AudioAnalysisResult.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvanta {

// Store every d-th spectral frame: d = 1 below 2²⁰ mono samples, else samples ÷ 2²⁰.
size_t spectrogramDecimation(size_t monoSamples);

// Collects the spectrogram columns inside the spectral frame loop. Construction reserves every
// column, so adding one allocates nothing. One builder per analysis; any thread.
class SpectrogramBuilder {
public:
    SpectrogramBuilder(double sampleRate, size_t monoSamples, size_t binCount = 2048);

    size_t decimation() const noexcept { return decimation_; }
    bool storesFrame(size_t frameIndex) const noexcept { return frameIndex % decimation_ == 0; }
    // Stores the frame's magnitudes (binCount linear values) as 20·log10(max(x, 1e−10)) dB.
    void addColumn(size_t frameStartSample, const float* magnitudes);
    // The grid with its frequency axis k·rate ÷ (2·binCount).
    SpectrogramData finish() &&;

private:
    double sampleRate_;
    size_t binCount_;
    size_t decimation_;
    SpectrogramData data_;
};

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// The false-colour map of a normalised value v (0…1; below 0 takes the lowest colour, from 0.97 on
// the highest).
Rgb spectrogramColour(float v);

// An 8-bit RGBA image, rows from the top, 4 bytes per pixel.
struct SpectrogramImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    bool isEmpty() const noexcept { return width == 0 || height == 0; }
    // Pixel (x, y), y counted from the top.
    std::array<uint8_t, 4> pixel(int x, int y) const;
};

// One column per time bin (x = time index) and one row per frequency bin, low frequencies at the
// bottom (bin j in row height − 1 − j); drawn pixels are opaque, missing columns and rows stay
// transparent black. Empty when any of the three arrays is empty. Pure; any thread.
SpectrogramImage renderSpectrogramImage(const SpectrogramData& data);

// "TIME: " and the last time bin as "%.1fs" (0.0s without time bins).
std::string spectrogramTimeCaption(const SpectrogramData& data);
// "%.0fk" in kHz from 1000 Hz up, else "%.0f" in Hz.
std::string frequencyCaption(double hz);

struct FrequencyCaption {
    double frequency = 0; // Hz
    std::string text;
};
// Captions at 0, 1/8, …, 8/8 of the displayed span (first to last frequency bin); none when empty.
std::vector<FrequencyCaption> spectrogramFrequencyCaptions(const SpectrogramData& data);

} // namespace orvanta
