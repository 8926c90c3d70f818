#include "analyzer/Spectrogram.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orvanta {

namespace {

constexpr size_t decimationUnit = size_t(1) << 20; // mono samples per unit of decimation

// Lower bound of each colour band; the last colour covers 0.97 and above.
constexpr float colourBounds[8] = {0.15f, 0.3f, 0.45f, 0.6f, 0.75f, 0.85f, 0.92f, 0.97f};
constexpr Rgb colours[9] = {{13, 0, 38},    {38, 0, 77},    {77, 0, 128},  {128, 0, 153},  {204, 0, 77},
                            {255, 51, 0},   {255, 140, 0},  {255, 220, 0}, {255, 255, 100}};

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

} // namespace

size_t spectrogramDecimation(size_t monoSamples) {
    return monoSamples < decimationUnit ? 1 : monoSamples / decimationUnit;
}

SpectrogramBuilder::SpectrogramBuilder(double sampleRate, size_t monoSamples, size_t binCount)
    : sampleRate_(sampleRate), binCount_(binCount), decimation_(spectrogramDecimation(monoSamples)) {
    const size_t frameSize = binCount * 2;
    const size_t hop = binCount;
    const size_t frames = monoSamples < frameSize ? 0 : (monoSamples - frameSize) / hop + 1;
    const size_t columns = frames == 0 ? 0 : (frames - 1) / decimation_ + 1;
    data_.timeBins.reserve(columns);
    data_.magnitudes.reserve(columns);
    data_.minDB = 120.0f;
    data_.maxDB = -120.0f;
}

void SpectrogramBuilder::addColumn(size_t frameStartSample, const float* magnitudes) {
    std::vector<float> column(binCount_);
    float lowest = data_.minDB;
    float highest = data_.maxDB;
    for (size_t k = 0; k < binCount_; ++k) {
        const float db = 20.0f * std::log10(std::max(magnitudes[k], 1e-10f));
        column[k] = db;
        lowest = std::min(lowest, db);
        highest = std::max(highest, db);
    }
    data_.minDB = lowest;
    data_.maxDB = highest;
    data_.magnitudes.push_back(std::move(column));
    data_.timeBins.push_back(double(frameStartSample) / sampleRate_);
}

SpectrogramData SpectrogramBuilder::finish() && {
    if (data_.magnitudes.empty()) {
        return SpectrogramData::empty();
    }
    data_.frequencyBins.resize(binCount_);
    for (size_t k = 0; k < binCount_; ++k) {
        data_.frequencyBins[k] = double(k) * sampleRate_ / double(binCount_ * 2);
    }
    return std::move(data_);
}

Rgb spectrogramColour(float v) {
    size_t index = 0;
    while (index < 8 && !(v < colourBounds[index])) {
        ++index;
    }
    return colours[index];
}

std::array<uint8_t, 4> SpectrogramImage::pixel(int x, int y) const {
    const size_t offset = (size_t(y) * size_t(width) + size_t(x)) * 4;
    return {rgba[offset], rgba[offset + 1], rgba[offset + 2], rgba[offset + 3]};
}

SpectrogramImage renderSpectrogramImage(const SpectrogramData& data) {
    SpectrogramImage image;
    if (data.timeBins.empty() || data.frequencyBins.empty() || data.magnitudes.empty()) {
        return image;
    }
    image.width = int(data.timeBins.size());
    image.height = int(data.frequencyBins.size());
    image.rgba.assign(size_t(image.width) * size_t(image.height) * 4, 0);

    const bool hasRange = data.maxDB > data.minDB;
    const float range = data.maxDB - data.minDB;
    const size_t columns = std::min(data.magnitudes.size(), size_t(image.width));
    for (size_t x = 0; x < columns; ++x) {
        const auto& column = data.magnitudes[x];
        const size_t rows = std::min(column.size(), size_t(image.height));
        for (size_t j = 0; j < rows; ++j) {
            const Rgb colour = hasRange ? spectrogramColour((column[j] - data.minDB) / range) : colours[0];
            const size_t y = size_t(image.height) - 1 - j;
            uint8_t* p = image.rgba.data() + (y * size_t(image.width) + x) * 4;
            p[0] = colour.r;
            p[1] = colour.g;
            p[2] = colour.b;
            p[3] = 255;
        }
    }
    return image;
}

std::string spectrogramTimeCaption(const SpectrogramData& data) {
    return "TIME: " + format("%.1fs", data.timeBins.empty() ? 0.0 : data.timeBins.back());
}

std::string frequencyCaption(double hz) {
    return hz >= 1000.0 ? format("%.0fk", hz / 1000.0) : format("%.0f", hz);
}

std::vector<FrequencyCaption> spectrogramFrequencyCaptions(const SpectrogramData& data) {
    std::vector<FrequencyCaption> captions;
    if (data.frequencyBins.empty()) {
        return captions;
    }
    const double low = data.frequencyBins.front();
    const double span = data.frequencyBins.back() - low;
    for (int i = 0; i <= 8; ++i) {
        const double frequency = low + span * double(i) / 8.0;
        captions.push_back({frequency, frequencyCaption(frequency)});
    }
    return captions;
}

} // namespace orvanta
