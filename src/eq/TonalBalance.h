#pragma once

#include "engine/ProcessingTypes.h"
#include "platform/AudioBuffer.h"
#include "platform/RealFft.h"

#include <array>
#include <filesystem>
#include <vector>

namespace orvanta {

// The broad tonal balance of a recording, the one measure reference matching compares: the power of
// all its channels (their mean), averaged over long frames of the whole file, in third-octave bands
// from 25 Hz to 16 kHz. Frames under -70 dBFS (silence) are left out. A band where the recording has
// no content reads NaN: beyond Nyquist or beyond the point where the spectrum ends abruptly (a lossy
// codec's low-pass: a drop of over 30 dB within a twelfth octave), more than 60 dB under its loudest
// band, or cut off inside the band (a steep high-pass), which shows as its two halves lying more than
// 20 dB apart. Levels are absolute (dB of the summed power); comparisons align them.
inline constexpr size_t balanceBandCount = 29;
// Centre of balance band k: 1000·2^((k − 16)/3) Hz.
double balanceBandCentreHz(size_t band) noexcept;

struct TonalBalance {
    std::vector<float> levelsDb; // balanceBandCount levels, NaN where there is no content

    bool hasContent(size_t band) const noexcept;
    size_t contentBandCount() const noexcept;
    // Equal levels, NaN equal to NaN.
    bool operator==(const TonalBalance& other) const noexcept;
};

// Accumulates the balance of a stream fed in consecutive chunks of any length and channel count
// (the first chunk's count holds). Frame length about 0.37 s (16384 samples at 44.1 or 48 kHz), no
// overlap. Allocates once per chunk size; one thread at a time.
class TonalBalanceMeter {
public:
    explicit TonalBalanceMeter(double sampleRate);
    void add(const AudioBuffer& chunk);
    TonalBalance result() const;

private:
    void addFrame(const std::vector<const float*>& channelStarts, size_t offset, size_t carried);

    double sampleRate_;
    size_t frameSize_;
    RealFft fft_;
    std::vector<float> window_;
    std::vector<std::vector<float>> carry_; // per channel: samples not yet in a whole frame
    std::vector<float> frame_, magnitudes_;
    std::vector<double> power_; // per bin, summed over frames and channels
    size_t channels_ = 0;
    int64_t frames_ = 0;
};

// The balance of a whole file. Throws the reader's errors, and cancellationError() when `isCancelled`
// answers true between chunks. Any thread.
TonalBalance measureTonalBalance(const std::filesystem::path& url, const CancellationQuery& isCancelled = {});

} // namespace orvanta
