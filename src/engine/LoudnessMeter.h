#pragma once

#include "engine/ProcessingTypes.h"
#include "platform/AudioBuffer.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace orvanta {

// Measures a whole file: integrated loudness (K-weighted for the file's rate, gated, −0.5 dB
// calibration), sample peak, loud-passage RMS and true peak (4x oversampled, dBTP; clamped like the
// sample peak for silence), and whether the loudness was measurable at all (AudioStats::measurability;
// the figures are still returned). Reads in chunks, so memory does not grow with the file; the channels are
// measured on threads of their own (all on the calling thread with WorkThreads::oneThread). Reentrant;
// any thread. Throws the reader's errors, or Orvanta/4 "Audio file is empty", or Orvanta/2 when the
// working buffers cannot be created.
AudioStats analyzeAudioFile(const std::filesystem::path& url, WorkThreads threads = WorkThreads::pipelined);

// The meter of analyzeAudioFile over samples as they stream past, for a caller that has them in hand
// (a limiting pass measures what it writes). Chunks are fed in order; the same figures come out as
// from the file. Sized for `expectedFrames` on construction (throws Orvanta/2 when it cannot be);
// nothing allocates while measuring. One thread at a time, except that the jobs of one chunk may run
// side by side.
class StreamMeter {
public:
    static constexpr uint32_t chunkFrames = 1u << 16; // frames a job takes at most

    StreamMeter(double sampleRate, uint32_t channelCount, int64_t expectedFrames, uint64_t channelMask = 0);
    ~StreamMeter();
    StreamMeter(const StreamMeter&) = delete;
    StreamMeter& operator=(const StreamMeter&) = delete;

    // The independent jobs of one chunk of up to chunkFrames frames.
    size_t jobCount() const noexcept;
    void runJob(size_t job, const AudioBuffer& chunk, uint32_t frames) noexcept;
    // Every job of a stretch of any length, on this thread.
    void add(const float* const* channels, uint32_t frames) noexcept;
    // The figures of the first `framesMeasured` frames fed.
    AudioStats finish(int64_t framesMeasured);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Direct-form-I biquad over `samples` with coefficients divided by a[0] (missing entries count as 0).
// Empty input gives empty output; empty a or b gives zeros.
std::vector<float> biquadFilter(const std::vector<float>& samples, const std::vector<float>& b,
                                const std::vector<float>& a);

} // namespace orvanta
