#include "platform/SampleRateConversion.h"

#include "platform/AudioFileReader.h"
#include "platform/AudioFileWriter.h"
#include "platform/Error.h"
#include "platform/FileOperations.h"
#include "platform/LibavLog.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <vector>

namespace orvanta {

namespace {

// One resampler, freed with its owner.
class Resampler {
public:
    Resampler(uint32_t channels, int inputRate, int outputRate, const std::filesystem::path& input) {
        AVChannelLayout layout{};
        av_channel_layout_default(&layout, int(channels));
        int rc = swr_alloc_set_opts2(&context_, &layout, AV_SAMPLE_FMT_FLTP, outputRate, &layout, AV_SAMPLE_FMT_FLTP,
                                     inputRate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        if (rc >= 0) rc = av_opt_set_int(context_, "resampler", SWR_ENGINE_SOXR, 0);
        if (rc >= 0) rc = av_opt_set_double(context_, "precision", 28.0, 0);
        if (rc >= 0) rc = swr_init(context_);
        if (rc < 0) {
            throw audioFileError(AudioFileErrorCode::unsupportedFormat,
                                 "Cannot resample \"" + input.string() + "\" to " + std::to_string(outputRate) +
                                     " Hz: " + libavFailureText(rc));
        }
    }
    ~Resampler() { swr_free(&context_); }
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    int maximumOutput(int frames) const { return swr_get_out_samples(context_, frames); }
    // Converts `frames` input frames (none: drains) into `output`, returning how many came out.
    int convert(uint8_t** output, int capacity, const uint8_t** input, int frames) {
        const int got = swr_convert(context_, output, capacity, input, frames);
        if (got < 0) throw audioFileError(AudioFileErrorCode::writeFailed, "Resampling failed: " + libavFailureText(got));
        return got;
    }

private:
    SwrContext* context_ = nullptr;
};

} // namespace

void convertSampleRate(const std::filesystem::path& input, const std::filesystem::path& output, int sampleRate,
                       const std::function<bool()>& isCancelled, const std::function<void()>& onCancel) {
    routeLibavLogs();
    AudioFileReader reader(input);
    const double inputRate = reader.sampleRate();
    if (sampleRate < 1 || inputRate != std::floor(inputRate) || isSameFile(input, output)) {
        throw audioFileError(AudioFileErrorCode::unsupportedFormat,
                             "Cannot resample \"" + input.string() + "\" to " + std::to_string(sampleRate) + " Hz");
    }
    const uint32_t channels = reader.channelCount();
    const int64_t wanted = std::llround(double(reader.lengthFrames()) * double(sampleRate) / inputRate);
    AudioFormat format = reader.processingFormat();
    format.sampleRate = double(sampleRate);

    writeBesideThenRename(output, [&](const std::filesystem::path& partial) {
        Resampler resampler(channels, int(inputRate), sampleRate, input);
        AudioFileWriter writer(partial, format, AudioFileWriter::floatSamples, wanted);
        constexpr uint32_t chunkFrames = 32768;
        AudioBuffer buffer = reader.makeBuffer(chunkFrames);
        std::vector<std::vector<float>> planes(channels);
        std::vector<uint8_t*> outPointers(channels);
        std::vector<const uint8_t*> inPointers(channels);
        std::vector<const float*> writePointers(channels);
        // libswresample holds back the filter's delay and hands out the first output frame aligned
        // with the first input frame, so the output needs no trimming at its start.
        int64_t written = 0;
        const auto emit = [&](int got) {
            const int frames = int(std::min<int64_t>(got, wanted - written));
            if (frames <= 0) return;
            for (uint32_t c = 0; c < channels; ++c) writePointers[c] = planes[c].data();
            writer.write(writePointers.data(), uint32_t(frames));
            written += frames;
        };
        const auto run = [&](const uint8_t** in, int frames) {
            const int capacity = resampler.maximumOutput(std::max(frames, 1)) + 64;
            for (uint32_t c = 0; c < channels; ++c) {
                planes[c].resize(size_t(capacity));
                outPointers[c] = reinterpret_cast<uint8_t*>(planes[c].data());
            }
            return resampler.convert(outPointers.data(), capacity, in, frames);
        };
        while (const uint32_t got = reader.read(buffer, chunkFrames)) {
            if (isCancelled && isCancelled()) {
                if (onCancel) onCancel();
                throw audioFileError(AudioFileErrorCode::writeFailed, "Resampling \"" + input.string() + "\" was cancelled");
            }
            for (uint32_t c = 0; c < channels; ++c) inPointers[c] = reinterpret_cast<const uint8_t*>(buffer.channel(c));
            emit(run(inPointers.data(), int(got)));
        }
        // The rest of the filter's tail; then silence to the exact length should the tail come up short.
        for (int out = run(nullptr, 0); out > 0 && written < wanted; out = run(nullptr, 0)) emit(out);
        if (written < wanted) {
            for (auto& plane : planes) std::fill(plane.begin(), plane.end(), 0.0f);
            while (written < wanted) emit(int(std::min<int64_t>(wanted - written, int64_t(planes.front().size()))));
        }
        writer.close();
    });
}

} // namespace orvanta
