#pragma once

#include "engine/ProcessingTypes.h"

#include <filesystem>
#include <optional>

namespace orvanta {

// A song handed to the engine at another sample rate: converted (platform/SampleRateConversion.h)
// into a folder of its own in the private temporary directory, under the song's own file name with
// ".wav", so that every name the engine derives from it stays the one it would have been. A song that
// already has the rate (or no rate asked) is used as it is. The folder goes with this object. Any
// thread; throws the converter's errors, Orvanta/100 when `isCancelled` answers yes.
class ResampledInput {
public:
    ResampledInput(const std::filesystem::path& song, std::optional<int> sampleRate,
                   const CancellationQuery& isCancelled);
    ~ResampledInput();
    ResampledInput(const ResampledInput&) = delete;
    ResampledInput& operator=(const ResampledInput&) = delete;

    const std::filesystem::path& path() const noexcept { return path_; }
    bool resampled() const noexcept { return !folder_.empty(); }

private:
    std::filesystem::path path_;
    std::filesystem::path folder_;
};

// The rate an MP3 of a song at `songRate` is mastered at when no rate was asked: the song's own when
// MP3 carries it, else 44.1 kHz for the 44.1 kHz family and 48 kHz for the others.
int mp3SampleRateFor(double songRate) noexcept;

} // namespace orvanta
