#include "models/app/WaveformOverview.h"

#include "engine/LoudnessRange.h"
#include "platform/AudioFileReader.h"

#include <algorithm>
#include <cmath>

namespace orvanta {

WaveformOverview computeWaveformOverview(const std::filesystem::path& file, size_t columns,
                                         const std::function<bool()>& isCancelled) {
    AudioFileReader reader(file);
    const int64_t length = reader.lengthFrames();
    const uint32_t channels = reader.channelCount();
    WaveformOverview overview;
    overview.sampleRate = reader.sampleRate();
    overview.durationSeconds = reader.sampleRate() > 0 ? double(length) / reader.sampleRate() : 0.0;
    columns = std::min<size_t>(columns, size_t(std::max<int64_t>(length, 0)));
    if (columns == 0 || channels == 0) return overview;

    std::vector<float> lowest(columns, 0.0f);
    std::vector<float> highest(columns, 0.0f);
    std::vector<double> sumOfSquares(columns, 0.0);
    std::vector<int64_t> framesIn(columns, 0);

    constexpr uint32_t readFrames = 65536;
    AudioBuffer buffer = reader.makeBuffer(readFrames);
    Bs1770Meter loudness(reader.sampleRate(), channels, loudnessRangeConfig(), length, readFrames,
                         reader.processingFormat().channelMask);
    std::vector<const float*> pointers(channels);
    // Frame f belongs to column floor(f × columns / length); a column ends where the next one starts.
    const auto columnEnd = [&](size_t column) {
        return (int64_t(column + 1) * length + int64_t(columns) - 1) / int64_t(columns);
    };
    size_t column = 0;
    int64_t end = columnEnd(0);
    int64_t position = 0;
    while (position < length) {
        if (isCancelled && isCancelled()) return {};
        const uint32_t got = reader.read(buffer, readFrames);
        if (got == 0) break;
        for (uint32_t frame = 0; frame < got; ++frame) {
            while (position + frame >= end && column + 1 < columns) end = columnEnd(++column);
            float low = lowest[column];
            float high = highest[column];
            double squares = 0.0;
            for (uint32_t channel = 0; channel < channels; ++channel) {
                const float sample = buffer.channel(channel)[frame];
                low = std::min(low, sample);
                high = std::max(high, sample);
                squares += double(sample) * double(sample);
            }
            lowest[column] = low;
            highest[column] = high;
            sumOfSquares[column] += squares / channels;
            ++framesIn[column];
        }
        for (uint32_t channel = 0; channel < channels; ++channel) pointers[channel] = buffer.channel(channel);
        loudness.addPlanar(pointers.data(), got);
        position += got;
    }
    loudness.finish(position);
    overview.loudnessRange = loudness.loudnessRange();

    overview.rms.resize(columns);
    for (size_t column = 0; column < columns; ++column) {
        overview.rms[column] =
            framesIn[column] > 0 ? float(std::sqrt(sumOfSquares[column] / double(framesIn[column]))) : 0.0f;
    }
    overview.lowest = std::move(lowest);
    overview.highest = std::move(highest);
    return overview;
}

} // namespace orvanta
