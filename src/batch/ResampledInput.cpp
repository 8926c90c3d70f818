#include "batch/ResampledInput.h"

#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"
#include "platform/LossyEncoder.h"
#include "platform/SampleRateConversion.h"
#include "platform/TemporaryDirectory.h"
#include "platform/Uuid.h"

#include <cmath>
#include <system_error>

namespace orvanta {

namespace fs = std::filesystem;

ResampledInput::ResampledInput(const fs::path& song, std::optional<int> sampleRate,
                               const CancellationQuery& isCancelled)
    : path_(song) {
    if (!sampleRate || double(*sampleRate) == AudioFileReader(song).sampleRate()) return;
    if (isCancelled && isCancelled()) throw cancellationError();
    folder_ = privateTemporaryDirectory() / ("resampled-" + newUuidString());
    std::error_code ec;
    fs::create_directories(folder_, ec);
    path_ = folder_ / song.filename().replace_extension(".wav");
    try {
        convertSampleRate(song, path_, *sampleRate, isCancelled, [] { throw cancellationError(); });
    } catch (...) {
        fs::remove_all(folder_, ec);
        throw;
    }
}

ResampledInput::~ResampledInput() {
    if (folder_.empty()) return;
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

int mp3SampleRateFor(double songRate) noexcept {
    if (mp3CarriesSampleRate(songRate)) return int(songRate);
    return std::fmod(songRate, 11025.0) == 0.0 ? 44100 : 48000;
}

} // namespace orvanta
