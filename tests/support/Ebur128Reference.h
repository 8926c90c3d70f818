#pragma once
// libebur128 as the reference meter (BS.1770 with per-rate filters, 4x oversampled true peak below
// 96 kHz). Header-only: a test target that includes it links PkgConfig::EBUR128.
#include "support/Signals.h"
#include "support/VectorState.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace orvanta::test {

namespace detail {

// Feeds the channels interleaved; channels from index 2 on count as surround (weight 1.41).
inline ebur128_state* ebur128Of(const Channels& channels, double rate, int mode) {
    releaseVectorUpperHalves();
    ebur128_state* state = ebur128_init(unsigned(channels.size()), static_cast<unsigned long>(rate), mode);
    for (size_t c = 2; c < channels.size(); ++c) ebur128_set_channel(state, unsigned(c), EBUR128_LEFT_SURROUND);
    const size_t frames = channels.front().size();
    std::vector<float> interleaved(frames * channels.size());
    for (size_t i = 0; i < frames; ++i) {
        for (size_t c = 0; c < channels.size(); ++c) interleaved[i * channels.size() + c] = channels[c][i];
    }
    ebur128_add_frames_float(state, interleaved.data(), frames);
    return state;
}

} // namespace detail

// Integrated loudness, LUFS.
inline double ebur128Loudness(const Channels& channels, double rate) {
    ebur128_state* state = detail::ebur128Of(channels, rate, EBUR128_MODE_I);
    double loudness = 0;
    ebur128_loudness_global(state, &loudness);
    ebur128_destroy(&state);
    return loudness;
}

// Loudness range, LU.
inline double ebur128LoudnessRange(const Channels& channels, double rate) {
    ebur128_state* state = detail::ebur128Of(channels, rate, EBUR128_MODE_LRA);
    double range = 0;
    ebur128_loudness_range(state, &range);
    ebur128_destroy(&state);
    return range;
}

// True peak over all channels, dBTP.
inline double ebur128TruePeakDb(const Channels& channels, double rate) {
    ebur128_state* state = detail::ebur128Of(channels, rate, EBUR128_MODE_TRUE_PEAK);
    double peak = 0;
    for (size_t c = 0; c < channels.size(); ++c) {
        double channelPeak = 0;
        ebur128_true_peak(state, unsigned(c), &channelPeak);
        peak = std::max(peak, channelPeak);
    }
    ebur128_destroy(&state);
    return 20.0 * std::log10(peak);
}

} // namespace orvanta::test
