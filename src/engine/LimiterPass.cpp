#include "engine/LimiterPass.h"

#include "engine/LoudnessMeter.h"
#include "engine/MasteringChain.h"
#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"
#include "platform/AudioFileWriter.h"
#include "platform/FileOperations.h"
#include "platform/PhysicalMemory.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <future>
#include <new>
#include <thread>
#include <vector>

namespace orvanta {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t largeMemoryBytes = 8'000'000'000ull;

uint32_t blockFrames(double sampleRate, int64_t length) {
    const double seconds = physicalMemoryBytes() > largeMemoryBytes ? 2.0 : 1.0;
    const int64_t frames = int64_t(uint32_t(sampleRate * seconds));
    return uint32_t(std::max<int64_t>(std::min(frames, length), 1));
}

void prepareOutput(const fs::path& output) {
    const fs::path parent = output.parent_path();
    if (!parent.empty() && !fs::exists(parent)) {
        std::error_code ec;
        fs::create_directories(parent, ec);
        if (ec) {
            throw fileSystemError(FileSystemErrorCode::createDirectoryFailed,
                                  "Could not create the folder \"" + parent.string() + "\": " + ec.message());
        }
    }
    if (fileExists(output)) {
        removeFile(output);
    }
}

} // namespace

float limiterThresholdFor(float targetLUFS, float limitThreshold) noexcept {
    const float k = targetLUFS < -13.0f ? 0.97f : 0.99f;
    return std::pow(10.0f, limitThreshold / 20.0f) * k;
}

TruePeakLimiterTiming truePeakTimingFor(float targetLUFS) noexcept {
    if (targetLUFS <= -8.0f) return {};
    TruePeakLimiterTiming loud;
    loud.lookAheadSeconds = 0.0015f;
    loud.holdSeconds = 0.003f;
    loud.releaseSeconds = 0.015f;
    return loud;
}

float softClipDepthFor(float targetLUFS) noexcept { return std::clamp(1.5f * (targetLUFS + 8.0f), 0.0f, 3.0f); }

LimiterPassReport renderLimiterPass(const fs::path& input, const fs::path& output, float gain, int bpm,
                                    float targetLUFS, float limitThreshold, const ProgressCallback& progress,
                                    const CancellationQuery& isCancelled) {
    AudioFileReader reader(input);
    const double sampleRate = reader.sampleRate();
    const uint32_t channels = reader.channelCount();
    const int64_t total = reader.lengthFrames();

    const uint32_t capacity = blockFrames(sampleRate, total);
    // Two blocks: one is limited and written out on its own thread while the next is read and shaped.
    std::array<AudioBuffer, 2> buffers;
    try {
        for (AudioBuffer& buffer : buffers) buffer = reader.makeBuffer(capacity);
    } catch (const std::bad_alloc&) {
        throw passBufferError();
    }

    prepareOutput(output);
    AudioFileWriter writer(output, reader.processingFormat(), 24);
    StreamMeter meter(sampleRate, channels, total);

    MasteringChainSettings settings;
    settings.inputGain = gain;
    settings.bandThreshold = limiterThresholdFor(targetLUFS, limitThreshold);
    settings.ceilingDb = limitThreshold;
    settings.softClipDepthDb = softClipDepthFor(targetLUFS);
    settings.truePeakTiming = truePeakTimingFor(targetLUFS);
    settings.bpm = bpm;
    MasteringChain chain(int(channels), float(sampleRate), capacity, settings);
    chain.setKeptFrames(0, total);
    // Declared after the buffers, the writer, the meter and the chain: leaving by an exception waits
    // for the block in flight (its limiting, writing and measuring) first.
    std::future<void> pendingWrite;
    const auto finishWrite = [&pendingWrite] {
        if (pendingWrite.valid()) pendingWrite.get(); // rethrows the writer's error
    };
    // The chain's first `latency` outputs come before the first input sample: they are dropped, and
    // as many samples of silence after the end bring out the input's last samples.
    int64_t latencyToDrop = chain.latencySamples();
    int64_t written = 0;
    int peakSet = 0;
    // The channels of a block are shaped here while the block before it is limited, written and
    // measured on a thread of its own.
    const auto limitAndWrite = [&](AudioBuffer& block) {
        chain.shapeChannels(block, peakSet);
        const int64_t drop = std::min<int64_t>(latencyToDrop, block.frameLength());
        latencyToDrop -= drop;
        const uint32_t frames = uint32_t(std::min<int64_t>(int64_t(block.frameLength()) - drop, total - written));
        written += frames;
        finishWrite();
        pendingWrite = std::async(std::launch::async, [&chain, &writer, &meter, &block, set = peakSet, drop, frames] {
            chain.limitLinked(block, set);
            std::vector<const float*> pointers(block.channelCount());
            for (uint32_t c = 0; c < block.channelCount(); ++c) pointers[c] = block.channel(c) + drop;
            writer.write(pointers.data(), frames);
            meter.add(pointers.data(), frames);
        });
        peakSet ^= 1;
    };
    size_t current = 0;

    auto report = [&progress](double value) {
        if (progress) {
            progress(value);
        }
    };
    report(0.0);
    double last = 0.0;
    int64_t done = 0;
    const uint32_t silenceFrames = uint32_t(sampleRate * 0.1);
    while (done < total) {
        if (isCancelled && isCancelled()) {
            throw cancellationError();
        }
        const uint32_t n = uint32_t(std::min<int64_t>(total - done, capacity));
        AudioBuffer& buffer = buffers[current];
        reader.setFramePosition(done);
        uint32_t read = 0;
        bool readFailed = false;
        try {
            read = reader.read(buffer, n);
            readFailed = read == 0 && n > 0;
        } catch (const Error&) {
            readFailed = true;
        }
        if (!readFailed) {
            limitAndWrite(buffer);
            current ^= 1;
            done += read;
            const double fraction = double(done) / double(total);
            if (fraction - last >= 0.01) {
                report(fraction);
                last = fraction;
            }
            continue;
        }
        // An unreadable stretch becomes silence, so the output keeps the input's length.
        const uint32_t skip = std::min(n, silenceFrames);
        if (n == 0 || skip == 0 || skip > buffer.frameCapacity()) {
            break;
        }
        buffer.setFrameLength(skip);
        buffer.clear();
        limitAndWrite(buffer);
        current ^= 1;
        done += skip;
    }
    // Silence after the end flushes what the chain still holds.
    while (written < done) {
        AudioBuffer& buffer = buffers[current];
        buffer.setFrameLength(uint32_t(std::min<int64_t>(capacity, latencyToDrop + (done - written))));
        buffer.clear();
        limitAndWrite(buffer);
        current ^= 1;
    }
    finishWrite();
    report(1.0);
    writer.close();
    return {meter.finish(written)};
}

} // namespace orvanta
