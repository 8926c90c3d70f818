#include "eq/TonalBalance.h"

#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvanta {

namespace {

constexpr int lowestBandOffset = -16;   // 25 Hz, in third octaves from 1 kHz
constexpr double silentMeanSquare = 1e-7; // -70 dBFS
constexpr double contentRangeDb = 60.0;   // under the loudest band: no content
constexpr double cutOffSpreadDb = 20.0;   // between a band's halves: cut off inside it
constexpr double cutOffDropDb = 30.0;     // within a twelfth octave: the spectrum ends there
constexpr double readSeconds = 10.0;

// 16384 at 44.1 and 48 kHz, 8192 at 22.05 kHz: bins of about 2.7 Hz, fine enough for the 25 Hz band.
size_t frameSizeFor(double sampleRate) {
    size_t size = 1024;
    while (double(size) < 0.3 * sampleRate && size < (size_t(1) << 20)) size *= 2;
    return size;
}

double densityDb(double power, int bins) { return 10.0 * std::log10(power / double(bins)); }

// The frequency above which the spectrum ends abruptly (a lossy codec's low-pass, a band-limited
// recording): going up from 4 kHz in twelfth octaves, the first step whose mean power per bin lies more
// than `cutOffDropDb` under the loudest of the octave below it. Music itself falls off far more slowly;
// codecs cut at 11 kHz and above.
double upperCutOffHz(const std::vector<double>& power, double binHz) {
    constexpr double step = 1.0594630943592953; // 2^(1/12)
    std::vector<double> densities;
    for (double lower = 2000.0; lower * step < binHz * double(power.size()); lower *= step) {
        const auto from = size_t(std::ceil(lower / binHz)), to = size_t(std::ceil(lower * step / binHz));
        double sum = 0.0;
        for (size_t b = from; b < to && b < power.size(); ++b) sum += power[b];
        const double density = to > from && sum > 0.0 ? densityDb(sum, int(to - from)) : -400.0;
        const size_t octave = std::min<size_t>(densities.size(), 12);
        if (lower >= 4000.0 && octave > 0) {
            const double loudest = *std::max_element(densities.end() - long(octave), densities.end());
            if (density < loudest - cutOffDropDb) return lower;
        }
        densities.push_back(density);
    }
    return std::numeric_limits<double>::infinity();
}

} // namespace

double balanceBandCentreHz(size_t band) noexcept {
    return 1000.0 * std::pow(2.0, double(int(band) + lowestBandOffset) / 3.0);
}

bool TonalBalance::hasContent(size_t band) const noexcept {
    return band < levelsDb.size() && std::isfinite(levelsDb[band]);
}

size_t TonalBalance::contentBandCount() const noexcept {
    size_t count = 0;
    for (size_t k = 0; k < levelsDb.size(); ++k) count += hasContent(k);
    return count;
}

bool TonalBalance::operator==(const TonalBalance& other) const noexcept {
    if (levelsDb.size() != other.levelsDb.size()) return false;
    for (size_t k = 0; k < levelsDb.size(); ++k) {
        if (hasContent(k) != other.hasContent(k)) return false;
        if (hasContent(k) && levelsDb[k] != other.levelsDb[k]) return false;
    }
    return true;
}

TonalBalanceMeter::TonalBalanceMeter(double sampleRate)
    : sampleRate_(sampleRate), frameSize_(frameSizeFor(sampleRate)), fft_(frameSize_),
      window_(hannWindow(frameSize_, 0.5)), frame_(frameSize_), magnitudes_(frameSize_ / 2),
      power_(frameSize_ / 2, 0.0) {}

void TonalBalanceMeter::add(const AudioBuffer& chunk) {
    if (!chunk.hasFloatData() || chunk.frameLength() == 0) return;
    if (channels_ == 0) {
        channels_ = chunk.channelCount();
        carry_.assign(channels_, {});
    }
    const size_t length = chunk.frameLength();
    for (size_t c = 0; c < channels_; ++c) {
        const float* samples = chunk.channel(uint32_t(std::min<size_t>(c, chunk.channelCount() - 1)));
        carry_[c].insert(carry_[c].end(), samples, samples + length);
    }
    const size_t available = carry_.front().size();
    size_t offset = 0;
    for (; offset + frameSize_ <= available; offset += frameSize_) {
        double meanSquare = 0.0;
        for (const auto& channel : carry_)
            for (size_t n = 0; n < frameSize_; ++n) meanSquare += double(channel[offset + n]) * channel[offset + n];
        if (meanSquare / double(frameSize_ * channels_) < silentMeanSquare) continue;
        for (const auto& channel : carry_) {
            for (size_t n = 0; n < frameSize_; ++n) frame_[n] = channel[offset + n] * window_[n];
            fft_.packedMagnitudes(frame_.data(), magnitudes_.data());
            for (size_t b = 1; b < power_.size(); ++b) power_[b] += double(magnitudes_[b]) * magnitudes_[b];
        }
        ++frames_;
    }
    for (auto& channel : carry_) channel.erase(channel.begin(), channel.begin() + long(offset));
}

TonalBalance TonalBalanceMeter::result() const {
    TonalBalance balance;
    balance.levelsDb.assign(balanceBandCount, std::numeric_limits<float>::quiet_NaN());
    if (frames_ == 0) return balance;
    const double binHz = sampleRate_ / double(frameSize_);
    const double edge = std::pow(2.0, 1.0 / 6.0);
    const auto binAt = [&](double hz) { return size_t(std::ceil(hz / binHz)); };
    const double scale = 1.0 / double(frames_ * int64_t(channels_));

    std::vector<double> levels(balanceBandCount, -std::numeric_limits<double>::infinity());
    double loudest = -std::numeric_limits<double>::infinity();
    const double top = std::min(sampleRate_ / 2.0, upperCutOffHz(power_, binHz));
    for (size_t k = 0; k < balanceBandCount; ++k) {
        const double centre = balanceBandCentreHz(k);
        if (centre * edge > sampleRate_ / 2.0) continue;
        const size_t lo = std::max<size_t>(binAt(centre / edge), 1), mid = binAt(centre);
        const size_t hi = std::min(binAt(centre * edge), power_.size());
        if (lo >= mid || mid >= hi) continue;
        double lower = 0.0, upper = 0.0;
        for (size_t b = lo; b < mid; ++b) lower += power_[b];
        for (size_t b = mid; b < hi; ++b) upper += power_[b];
        if (!(lower > 0.0) || !(upper > 0.0)) continue;
        levels[k] = 10.0 * std::log10((lower + upper) * scale);
        loudest = std::max(loudest, levels[k]);
        const bool cutInside =
            std::fabs(densityDb(upper, int(hi - mid)) - densityDb(lower, int(mid - lo))) > cutOffSpreadDb;
        if (cutInside || centre * edge > top) levels[k] = -std::numeric_limits<double>::infinity();
    }
    for (size_t k = 0; k < balanceBandCount; ++k)
        if (std::isfinite(levels[k]) && levels[k] >= loudest - contentRangeDb) balance.levelsDb[k] = float(levels[k]);
    return balance;
}

TonalBalance measureTonalBalance(const std::filesystem::path& url, const CancellationQuery& isCancelled) {
    AudioFileReader reader(url);
    TonalBalanceMeter meter(reader.sampleRate());
    const auto chunkFrames = static_cast<uint32_t>(std::max(1.0, reader.sampleRate() * readSeconds));
    AudioBuffer buffer = reader.makeBuffer(chunkFrames);
    while (true) {
        if (isCancelled && isCancelled()) throw cancellationError();
        if (reader.read(buffer, chunkFrames) == 0) break;
        meter.add(buffer);
    }
    return meter.result();
}

} // namespace orvanta
