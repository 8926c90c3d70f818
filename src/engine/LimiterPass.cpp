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
#include <exception>
#include <functional>
#include <new>
#include <optional>
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

// The output's folder made and an older file there removed.
const fs::path& preparedOutput(const fs::path& output) {
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
    return output;
}

} // namespace

MasteringChainSettings passChainSettings(float gain, int bpm, float targetLUFS, float limitThreshold) noexcept {
    MasteringChainSettings settings;
    settings.inputGain = gain;
    settings.bandThreshold = limiterThresholdFor(targetLUFS, limitThreshold);
    settings.ceilingDb = limitThreshold;
    settings.softClipDepthDb = softClipDepthFor(targetLUFS);
    settings.truePeakTiming = truePeakTimingFor(targetLUFS);
    settings.bpm = bpm;
    return settings;
}

namespace {

// One pass from an open reader to an open writer. Three blocks are in flight: a block's bands are
// limited and returned in phase on the calling thread while the block before it is clipped and
// detected, and the one before that is limited, written and measured, each as a task of the executor
// (at once, in that order, with one thread).
class PassRenderer {
public:
    // With `held`, the samples go there (from its start) instead of to a file at `output`.
    PassRenderer(AudioFileReader& reader, const fs::path& output, AudioBuffer* held, float gain,
                 const MasteringChainSettings& settings, WorkExecutor& executor)
        : executor_(executor), channels_(reader.channelCount()), total_(reader.lengthFrames()),
          capacity_(blockFrames(reader.sampleRate(), total_)),
          buffers_(makeBuffers(reader, capacity_)), held_(held),
          meter_(reader.sampleRate(), channels_, total_, reader.processingFormat().channelMask),
          gainReduction_(reader.sampleRate(), total_, gain),
          chain_(int(channels_), float(reader.sampleRate()), capacity_, settings, &executor),
          latencyToDrop_(chain_.latencySamples()), inputChannels_(channels_) {
        chain_.setKeptFrames(0, total_);
        if (held_ == nullptr) writer_.emplace(preparedOutput(output), reader.processingFormat(), 24, total_);
    }

    uint32_t capacity() const noexcept { return capacity_; }
    int64_t written() const noexcept { return written_; }
    AudioBuffer& nextBuffer() noexcept { return buffers_[current_]; }

    // The next buffer's frames, as read or as silence, go into the chain; their peaks are taken first,
    // before the block is limited in place.
    void feed(uint32_t frames) { feed(ownSamples(nextBuffer()), frames); }

    // `frames` frames read from input[c] (one pointer per channel, left as they are) go into the chain
    // and come out in the next buffer.
    void feed(const float* const* input, uint32_t frames) {
        AudioBuffer& block = nextBuffer();
        block.setFrameLength(frames);
        gainReduction_.addInput(input, channels_, frames);
        limitAndWrite(block, input);
    }

    // Silence after the end flushes what the chain still holds; then the last blocks go out.
    void finish(int64_t done) {
        while (written_ < done) {
            AudioBuffer& block = nextBuffer();
            block.setFrameLength(uint32_t(std::min<int64_t>(capacity_, latencyToDrop_ + (done - written_))));
            block.clear();
            limitAndWrite(block, ownSamples(block));
        }
        finishStages();
        if (detected_ != nullptr) startWrite(*detected_, peakSet_ ^ 1, detectedDrop_, detectedFrames_);
        finishStages();
    }

    LimiterPassReport close() {
        if (writer_) writer_->close();
        if (held_ != nullptr) held_->setFrameLength(uint32_t(written_));
        return {meter_.finish(written_), gainReduction_.finish(), chain_.softClipLargestReductionDb()};
    }

private:
    static std::array<AudioBuffer, 3> makeBuffers(const AudioFileReader& reader, uint32_t capacity) {
        try {
            return {reader.makeBuffer(capacity), reader.makeBuffer(capacity), reader.makeBuffer(capacity)};
        } catch (const std::bad_alloc&) {
            throw passBufferError();
        }
    }

    // Both stages are waited for before either error is passed on.
    void finishStages() {
        std::exception_ptr failure;
        for (WorkExecutor::Pending* stage : {&pendingDetect_, &pendingWrite_}) {
            try {
                stage->wait();
            } catch (...) {
                if (!failure) failure = std::current_exception();
            }
        }
        if (failure) std::rethrow_exception(failure);
    }

    void startWrite(AudioBuffer& block, int set, uint32_t drop, uint32_t frames) {
        pendingWrite_ = executor_.start([this, &block, set, drop, frames] {
            chain_.limitLinked(block, set);
            std::vector<const float*> pointers(block.channelCount());
            for (uint32_t c = 0; c < block.channelCount(); ++c) pointers[c] = block.channel(c) + drop;
            store(pointers.data(), frames);
            meter_.add(pointers.data(), frames);
            gainReduction_.addOutput(pointers.data(), block.channelCount(), frames);
        });
    }

    // Runs in the write stage, one block after another.
    void store(const float* const* channels, uint32_t frames) {
        if (writer_) {
            writer_->write(channels, frames);
        } else {
            for (uint32_t c = 0; c < channels_; ++c) std::copy(channels[c], channels[c] + frames, held_->channel(c) + stored_);
        }
        stored_ += frames;
    }

    const float* const* ownSamples(AudioBuffer& block) {
        for (uint32_t c = 0; c < channels_; ++c) inputChannels_[c] = block.channel(c);
        return inputChannels_.data();
    }

    // The chain's first `latency` outputs come before the first input sample: they are dropped, and
    // as many samples of silence after the end bring out the input's last samples.
    void limitAndWrite(AudioBuffer& block, const float* const* input) {
        chain_.limitBands(input, block);
        const uint32_t drop = uint32_t(std::min<int64_t>(latencyToDrop_, block.frameLength()));
        latencyToDrop_ -= drop;
        const uint32_t frames = uint32_t(std::min<int64_t>(int64_t(block.frameLength()) - drop, total_ - written_));
        written_ += frames;
        finishStages();
        if (detected_ != nullptr) startWrite(*detected_, peakSet_ ^ 1, detectedDrop_, detectedFrames_);
        pendingDetect_ = executor_.start([this, &block, set = peakSet_] { chain_.clipAndDetect(block, set); });
        detected_ = &block;
        detectedDrop_ = drop;
        detectedFrames_ = frames;
        peakSet_ ^= 1;
        current_ = (current_ + 1) % buffers_.size();
    }

    WorkExecutor& executor_;
    const uint32_t channels_;
    const int64_t total_;
    const uint32_t capacity_;
    std::array<AudioBuffer, 3> buffers_;
    size_t current_ = 0;
    AudioBuffer* held_;                     // where the samples go, or nullptr: to writer_
    std::optional<AudioFileWriter> writer_;
    int64_t stored_ = 0;                    // frames given to writer_ or held_
    StreamMeter meter_;
    GainReductionTracker gainReduction_;
    MasteringChain chain_;
    int64_t latencyToDrop_;
    int64_t written_ = 0;
    int peakSet_ = 0;
    AudioBuffer* detected_ = nullptr; // the block whose true peaks are being or have been detected
    uint32_t detectedDrop_ = 0, detectedFrames_ = 0;
    std::vector<const float*> inputChannels_;
    // Declared last: leaving by an exception waits for the blocks in flight before anything they use goes.
    WorkExecutor::Pending pendingDetect_; // the soft clipping and the true-peak detection of one block
    WorkExecutor::Pending pendingWrite_;  // the linked limiting, writing and measuring of the block before it
};

// With `kept`, the samples are held there when they fit, else written to its spill file.
LimiterPassReport renderPassWith(const fs::path& input, const fs::path& output, PassOutput* kept,
                                 const MasteringChainSettings& settings, const ProgressCallback& progress,
                                 const CancellationQuery& isCancelled, WorkExecutor& executor) {
    AudioFileReader reader(input);
    const int64_t total = reader.lengthFrames();
    AudioBuffer* held = kept != nullptr ? kept->hold(reader.processingFormat(), total) : nullptr;
    PassRenderer pass(reader, output, held, settings.inputGain, settings, executor);
    const auto report = [&progress](double value) {
        if (progress) progress(value);
    };
    report(0.0);
    double last = 0.0;
    int64_t done = 0;
    const auto advance = [&](uint32_t frames) {
        done += frames;
        const double fraction = double(done) / double(total);
        if (fraction - last >= 0.01) {
            report(fraction);
            last = fraction;
        }
    };
    const uint32_t silenceFrames = uint32_t(reader.sampleRate() * 0.1);
    // A song held in memory is read where it lies instead of being copied block by block.
    const AudioBuffer* const song = reader.samplesInMemory();
    std::vector<const float*> songAt(reader.channelCount());
    while (done < total) {
        if (isCancelled && isCancelled()) throw cancellationError();
        const uint32_t n = uint32_t(std::min<int64_t>(total - done, pass.capacity()));
        if (song != nullptr) {
            for (uint32_t c = 0; c < reader.channelCount(); ++c) songAt[c] = song->channel(c) + done;
            pass.feed(songAt.data(), n);
            advance(n);
            continue;
        }
        AudioBuffer& buffer = pass.nextBuffer();
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
            pass.feed(read);
            advance(read);
            continue;
        }
        // An unreadable stretch becomes silence, so the output keeps the input's length.
        const uint32_t skip = std::min(n, silenceFrames);
        if (n == 0 || skip == 0 || skip > buffer.frameCapacity()) break;
        buffer.setFrameLength(skip);
        buffer.clear();
        pass.feed(skip);
        done += skip;
    }
    pass.finish(done);
    report(1.0);
    return pass.close();
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
    WorkExecutor executor(threads);
    return renderLimiterPass(input, output, gain, bpm, targetLUFS, limitThreshold, progress, isCancelled, executor);
}

LimiterPassReport renderLimiterPass(const fs::path& input, const fs::path& output, float gain, int bpm,
                                    float targetLUFS, float limitThreshold, const ProgressCallback& progress,
                                    const CancellationQuery& isCancelled, WorkExecutor& executor) {
    return renderPassWith(input, output, nullptr, passChainSettings(gain, bpm, targetLUFS, limitThreshold),
                          progress, isCancelled, executor);
}

LimiterPassReport renderLimiterPass(const fs::path& input, const fs::path& output,
                                    const MasteringChainSettings& settings, const ProgressCallback& progress,
                                    const CancellationQuery& isCancelled, WorkThreads threads) {
    WorkExecutor executor(threads);
    return renderPassWith(input, output, nullptr, settings, progress, isCancelled, executor);
}

LimiterPassReport renderLimiterPass(const fs::path& input, PassOutput& output, const MasteringChainSettings& settings,
                                    const ProgressCallback& progress, const CancellationQuery& isCancelled,
                                    WorkThreads threads) {
    WorkExecutor executor(threads);
    return renderPassWith(input, output.spill(), &output, settings, progress, isCancelled, executor);
}

} // namespace orvanta
