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
#include <functional>
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

// Runs a stage of a block: on a thread of its own when pipelined, else at once on this thread. Either
// way the future holds the stage's end, and its error if it threw.
std::future<void> startStage(WorkThreads threads, std::function<void()> stage) {
    if (threads == WorkThreads::pipelined) return std::async(std::launch::async, std::move(stage));
    std::promise<void> done;
    try {
        stage();
        done.set_value();
    } catch (...) {
        done.set_exception(std::current_exception());
    }
    return done.get_future();
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
                                    const CancellationQuery& isCancelled, WorkThreads threads) {
    AudioFileReader reader(input);
    const double sampleRate = reader.sampleRate();
    const uint32_t channels = reader.channelCount();
    const int64_t total = reader.lengthFrames();

    const uint32_t capacity = blockFrames(sampleRate, total);
    // Three blocks in flight: see limitAndWrite.
    std::array<AudioBuffer, 3> buffers;
    try {
        for (AudioBuffer& buffer : buffers) buffer = reader.makeBuffer(capacity);
    } catch (const std::bad_alloc&) {
        throw passBufferError();
    }

    prepareOutput(output);
    AudioFileWriter writer(output, reader.processingFormat(), 24, total);
    StreamMeter meter(sampleRate, channels, total, reader.processingFormat().channelMask);
    GainReductionTracker gainReduction(sampleRate, total, gain);

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
    // for the blocks in flight first.
    std::future<void> pendingDetect; // the phase return and the true-peak detection of one block
    std::future<void> pendingWrite;  // the linked limiting, writing and measuring of the block before it
    const auto finishStages = [&pendingDetect, &pendingWrite] {
        // Both are waited for before either error is passed on.
        if (pendingDetect.valid()) pendingDetect.wait();
        if (pendingWrite.valid()) pendingWrite.wait();
        if (pendingDetect.valid()) pendingDetect.get();
        if (pendingWrite.valid()) pendingWrite.get(); // rethrows the writer's error
    };
    // The chain's first `latency` outputs come before the first input sample: they are dropped, and
    // as many samples of silence after the end bring out the input's last samples.
    int64_t latencyToDrop = chain.latencySamples();
    int64_t written = 0;
    int peakSet = 0;
    AudioBuffer* detected = nullptr; // the block whose true peaks are being or have been detected
    uint32_t detectedDrop = 0, detectedFrames = 0;
    const auto startWrite = [&](AudioBuffer& block, int set, uint32_t drop, uint32_t frames) {
        pendingWrite = startStage(threads, [&chain, &writer, &meter, &gainReduction, &block, set, drop, frames] {
            chain.limitLinked(block, set);
            std::vector<const float*> pointers(block.channelCount());
            for (uint32_t c = 0; c < block.channelCount(); ++c) pointers[c] = block.channel(c) + drop;
            writer.write(pointers.data(), frames);
            meter.add(pointers.data(), frames);
            gainReduction.addOutput(pointers.data(), block.channelCount(), frames);
        });
    };
    // The input's peaks are taken before the block is limited in place.
    std::vector<const float*> inputChannels(channels);
    const auto trackInput = [&](const AudioBuffer& block, uint32_t frames) {
        for (uint32_t c = 0; c < channels; ++c) inputChannels[c] = block.channel(c);
        gainReduction.addInput(inputChannels.data(), channels, frames);
    };
    // A block's bands are limited here, while the block before it is returned in phase and detected
    // and the one before that is limited, written and measured, each on a thread of its own.
    const auto limitAndWrite = [&](AudioBuffer& block) {
        chain.limitBands(block);
        const uint32_t drop = uint32_t(std::min<int64_t>(latencyToDrop, block.frameLength()));
        latencyToDrop -= drop;
        const uint32_t frames = uint32_t(std::min<int64_t>(int64_t(block.frameLength()) - drop, total - written));
        written += frames;
        finishStages();
        if (detected != nullptr) startWrite(*detected, peakSet ^ 1, detectedDrop, detectedFrames);
        pendingDetect = startStage(threads, [&chain, &block, set = peakSet] { chain.returnPhaseAndDetect(block, set); });
        detected = &block;
        detectedDrop = drop;
        detectedFrames = frames;
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
        } catch (const Error& error) {
            // Samples that are no audio fail the pass; only a stretch the decoder cannot read is skipped.
            if (!error.is(domains::audioFile, int(AudioFileErrorCode::readFailed))) throw;
            readFailed = true;
        }
        if (!readFailed && read == 0) break; // the audio ended early: nothing is made up after it
        if (!readFailed) {
            trackInput(buffer, read);
            limitAndWrite(buffer);
            current = (current + 1) % buffers.size();
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
        trackInput(buffer, skip);
        limitAndWrite(buffer);
        current = (current + 1) % buffers.size();
        done += skip;
    }
    // Silence after the end flushes what the chain still holds.
    while (written < done) {
        AudioBuffer& buffer = buffers[current];
        buffer.setFrameLength(uint32_t(std::min<int64_t>(capacity, latencyToDrop + (done - written))));
        buffer.clear();
        limitAndWrite(buffer);
        current = (current + 1) % buffers.size();
    }
    finishStages();
    if (detected != nullptr) startWrite(*detected, peakSet ^ 1, detectedDrop, detectedFrames);
    finishStages();
    report(1.0);
    writer.close();
    return {meter.finish(written), gainReduction.finish()};
}

} // namespace orvanta
