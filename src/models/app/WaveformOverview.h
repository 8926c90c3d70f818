#pragma once

// Plain C++ over the platform's file reader (no Qt).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace orvanta {

// A song's shape at a glance: the file cut into `columns` equal stretches of time, each summarised by
// its lowest and highest sample over all channels and its RMS (linear, full scale = 1). Drawn as the
// waveform overview; two overviews drawn on the same linear scale show a loudness change as it is.
// The same read measures the song's loudness range, which the result screen shows beside it.
struct WaveformOverview {
    double durationSeconds = 0;        // length of the file
    double sampleRate = 0;             // Hz
    std::vector<float> lowest;         // per column, −1…1 (0 for an empty column)
    std::vector<float> highest;        // per column, −1…1
    std::vector<float> rms;            // per column, linear, over all channels
    double loudnessRange = 0;          // LU (engine/LoudnessRange.h)

    size_t columns() const { return highest.size(); }
    bool empty() const { return highest.empty(); }
};

// Reads the whole file once and summarises it in `columns` columns (fewer when the file has fewer
// frames). `isCancelled` is asked between reads; when it answers true the result is empty.
// Any thread. Throws orvanta::Error when the file cannot be opened or read.
WaveformOverview computeWaveformOverview(const std::filesystem::path& file, size_t columns,
                                         const std::function<bool()>& isCancelled = {});

} // namespace orvanta
