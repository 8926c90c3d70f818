#include "batch/LoudPassageProbe.h"

#include "engine/ProcessingErrors.h"
#include "engine/TruePeakDetector.h"
#include "platform/AudioFileReader.h"
#include "platform/FileOperations.h"
#include "platform/TemporaryDirectory.h"
#include "platform/Uuid.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace orvanta {

namespace {

constexpr double blockSeconds = 0.25;
constexpr double contextSeconds = 0.75;   // on each side of a chosen block
constexpr double edgeSeconds = 0.25;      // left out of a lone encoding's measurement at both ends
constexpr double nearPeakDb = 1.0;        // a block counts when its peak comes this close to the file's
constexpr size_t densestCount = 5;
constexpr size_t brightestCount = 5;
// Under this many passages' worth of audio the probe would cost as much as the whole encoding.
constexpr double shortestProbedFactor = 8.0;

struct Block {
    int64_t index = 0;
    float peak = 0.0f;      // linear, largest over the channels
    double power = 0.0;     // mean square over the channels
    double brightness = 0.0; // mean square of the first difference
};

std::vector<Block> measureBlocks(AudioFileReader& reader, uint32_t blockFrames, const CancellationQuery& isCancelled) {
    std::vector<Block> blocks;
    AudioBuffer buffer = reader.makeBuffer(blockFrames);
    std::vector<float> previous(reader.channelCount(), 0.0f);
    for (int64_t index = 0;; ++index) {
        if (isCancelled && isCancelled()) throw cancellationError();
        const uint32_t got = reader.read(buffer, blockFrames);
        if (got == 0) break;
        Block block;
        block.index = index;
        for (uint32_t c = 0; c < buffer.channelCount(); ++c) {
            const float* x = buffer.channel(c);
            float last = previous[c];
            for (uint32_t i = 0; i < got; ++i) {
                block.peak = std::max(block.peak, std::fabs(x[i]));
                block.power += double(x[i]) * x[i];
                const double step = double(x[i]) - last;
                block.brightness += step * step;
                last = x[i];
            }
            previous[c] = last;
        }
        const double count = double(got) * buffer.channelCount();
        block.power /= count;
        block.brightness /= count;
        blocks.push_back(block);
    }
    return blocks;
}

// The largest true peak of a decoded excerpt, without its first and last `edge` frames.
double interiorTruePeak(const std::filesystem::path& file, int64_t edge) {
    AudioFileReader reader(file);
    const int64_t total = reader.lengthFrames();
    if (total <= 2 * edge) return -std::numeric_limits<double>::infinity();
    AudioBuffer buffer = reader.makeBuffer(uint32_t(total));
    const uint32_t got = reader.read(buffer, uint32_t(total));
    TruePeakDetector detector(int(reader.channelCount()));
    std::vector<float> peaks(got);
    float largest = 0.0f;
    // Peak i belongs to sample i − latency.
    const int64_t from = edge + TruePeakDetector::latencySamples;
    const int64_t to = int64_t(got) - edge + TruePeakDetector::latencySamples;
    for (uint32_t c = 0; c < reader.channelCount(); ++c) {
        detector.process(int(c), buffer.channel(c), got, peaks.data());
        for (int64_t i = from; i < std::min<int64_t>(to, got); ++i) largest = std::max(largest, peaks[size_t(i)]);
    }
    return largest > 0.0f ? 20.0 * std::log10(double(largest)) : -std::numeric_limits<double>::infinity();
}

} // namespace

std::vector<Passage> loudestPassages(const std::filesystem::path& master, const CancellationQuery& isCancelled) {
    AudioFileReader reader(master);
    const double rate = reader.sampleRate();
    const uint32_t blockFrames = std::max<uint32_t>(1, uint32_t(std::lround(rate * blockSeconds)));
    const int64_t context = std::lround(rate * contextSeconds);
    const int64_t total = reader.lengthFrames();
    const int64_t passageFrames = blockFrames + 2 * context;
    const size_t wanted = densestCount + brightestCount;
    if (double(total) < shortestProbedFactor * double(wanted) * double(passageFrames)) return {};

    std::vector<Block> blocks = measureBlocks(reader, blockFrames, isCancelled);
    float filePeak = 0.0f;
    for (const Block& block : blocks) filePeak = std::max(filePeak, block.peak);
    if (!(filePeak > 0.0f)) return {};
    const float nearPeak = filePeak * std::pow(10.0f, -float(nearPeakDb) / 20.0f);
    std::erase_if(blocks, [nearPeak](const Block& block) { return block.peak < nearPeak; });

    std::vector<int64_t> chosen; // block indices
    const int64_t apart = (passageFrames + blockFrames - 1) / blockFrames; // blocks between two centres
    const auto pick = [&](auto measure, size_t count) {
        std::sort(blocks.begin(), blocks.end(),
                  [&](const Block& a, const Block& b) { return measure(a) > measure(b); });
        size_t taken = 0;
        for (const Block& block : blocks) {
            if (taken == count) break;
            const bool clear = std::none_of(chosen.begin(), chosen.end(),
                                            [&](int64_t other) { return std::llabs(other - block.index) < apart; });
            if (!clear) continue;
            chosen.push_back(block.index);
            ++taken;
        }
    };
    pick([](const Block& block) { return block.power; }, densestCount);
    pick([](const Block& block) { return block.brightness; }, brightestCount);

    std::sort(chosen.begin(), chosen.end());
    std::vector<Passage> passages;
    for (int64_t index : chosen) {
        const int64_t first = std::max<int64_t>(0, index * blockFrames - context);
        const int64_t end = std::min<int64_t>(total, (index + 1) * blockFrames + context);
        passages.push_back({first, end - first});
    }
    return passages;
}

double probeDecodedTruePeakDb(const std::filesystem::path& master, LossyCodec codec,
                              const CancellationQuery& isCancelled) {
    const std::vector<Passage> passages = loudestPassages(master, isCancelled);
    double largest = -std::numeric_limits<double>::infinity();
    if (passages.empty()) return largest;
    const double rate = AudioFileReader(master).sampleRate();
    const int64_t edge = std::lround(rate * edgeSeconds);
    const std::filesystem::path excerpt =
        privateTemporaryDirectory() /
        ("probe-" + newUuidString() + (codec == LossyCodec::mp3 ? ".mp3" : ".m4a"));
    try {
        for (const Passage& passage : passages) {
            if (isCancelled && isCancelled()) throw cancellationError();
            LossyEncodingOptions options;
            options.firstFrame = passage.firstFrame;
            options.frameCount = passage.frameCount;
            options.threads = 1; // a passage is a second or two: one piece
            encodeLossy(master, excerpt, codec, options);
            largest = std::max(largest, interiorTruePeak(excerpt, edge));
        }
    } catch (...) {
        removeFileQuietly(excerpt);
        throw;
    }
    removeFileQuietly(excerpt);
    return largest;
}

} // namespace orvanta
