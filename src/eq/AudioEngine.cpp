#include "eq/AudioEngine.h"

#include "platform/AudioFileReader.h"
#include "platform/AudioFileWriter.h"
#include "platform/Error.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace orvanta {

namespace {

// Refuses to render a file onto itself: opening the writer would truncate the input before it is read.
const std::filesystem::path& distinctOutput(const std::filesystem::path& input, const std::filesystem::path& output) {
    std::error_code ec;
    if (std::filesystem::equivalent(input, output, ec)) {
        throw audioFileError(AudioFileErrorCode::cannotCreate,
                             "Cannot write \"" + output.string() + "\": it is the file being read");
    }
    return output;
}

// Owns the reader, the writer and the one chunk buffer of a render. Until finish() succeeds the
// output is incomplete, so leaving by an error removes it instead of leaving a partial file behind.
struct RenderFiles {
    AudioFileReader reader;
    uint32_t length;
    AudioFileWriter writer;
    AudioBuffer chunk;
    bool finished = false;

    RenderFiles(const std::filesystem::path& input, const std::filesystem::path& output)
        : reader(input), length(uint32_t(reader.lengthFrames())),
          writer(distinctOutput(input, output), reader.processingFormat(), 24, reader.lengthFrames()) {
        try {
            chunk = reader.makeBuffer(std::max<uint32_t>(1, std::min(length, AudioEngine::chunkFrames)));
        } catch (const std::bad_alloc&) {
            discardOutput();
            throw Error(std::string(audioEngineDomain), 1, "Could not allocate an audio buffer");
        }
    }
    ~RenderFiles() {
        if (!finished) discardOutput();
    }
    RenderFiles(const RenderFiles&) = delete;
    RenderFiles& operator=(const RenderFiles&) = delete;

    // Reads the next n frames at p into the chunk buffer.
    void readChunk(uint32_t p, uint32_t n) {
        reader.setFramePosition(p);
        const uint32_t got = reader.read(chunk, n);
        // A short read must give silence, not the previous chunk's samples still in the buffer.
        for (uint32_t c = 0; c < chunk.channelCount(); ++c) std::fill(chunk.channel(c) + got, chunk.channel(c) + n, 0.0f);
        chunk.setFrameLength(n);
    }

    void finish() {
        writer.close();
        finished = true;
    }

    void discardOutput() noexcept {
        std::error_code ec;
        if (std::filesystem::is_regular_file(writer.path(), ec)) std::filesystem::remove(writer.path(), ec);
    }
};

// The render-side calling pattern: the filtered copy when the EQ is enabled and active, else the chunk.
const AudioBuffer& equalized(EQFilterBank& bank, const AudioBuffer& chunk, const EQSettings& settings,
                             std::optional<AudioBuffer>& storage) {
    storage = settings.isEnabled ? processWithEQ(bank, chunk, settings, true) : std::nullopt;
    return storage ? *storage : chunk;
}

} // namespace

void AudioEngine::remasterWithEQ(const std::filesystem::path& input, const std::filesystem::path& output,
                                 const EQSettings& settings, const ProgressCallback& progress,
                                 StatusReporter& status) {
    RenderFiles files(input, output);
    EQFilterBank filters(files.chunk.channelCount());
    std::optional<AudioBuffer> filtered;
    for (uint32_t p = 0; p < files.length;) {
        const uint32_t n = std::min(files.length - p, chunkFrames);
        files.readChunk(p, n);
        files.writer.write(equalized(filters, files.chunk, settings, filtered));
        p += n;
        const double fraction = double(p) / double(files.length);
        if (progress) progress(fraction * 0.95);
        if (fraction > 0.5) status.updateStage(ProcessingStage::finalPolish, "Applying final EQ curve...", "");
    }
    files.finish();
}

void AudioEngine::renderCorrection(const std::filesystem::path& input, const std::filesystem::path& output,
                                   const EQSettings& settings, const ProgressCallback& progress, float sideGainDB,
                                   float wetDryMix, float preGainDB) {
    RenderFiles files(input, output);
    EQFilterBank filters(files.chunk.channelCount());
    const float preGain = std::pow(10.0f, preGainDB / 20.0f);
    const bool sideGainActive = std::fabs(sideGainDB) > 0.01f && files.chunk.channelCount() >= 2;
    std::optional<AudioBuffer> filtered;
    for (uint32_t p = 0; p < files.length;) {
        const uint32_t n = std::min(files.length - p, chunkFrames);
        files.readChunk(p, n);
        AudioBuffer& chunk = files.chunk;
        if (preGainDB < -0.01f) {
            for (uint32_t c = 0; c < chunk.channelCount(); ++c) {
                float* samples = chunk.channel(c);
                for (uint32_t i = 0; i < n; ++i) samples[i] *= preGain;
            }
        }
        filtered = settings.isEnabled ? processWithEQ(filters, chunk, settings, true) : std::nullopt;
        // The side gain works in place; without a filtered copy it needs its own, or the blend
        // would mix the widened chunk with itself and keep the full side gain whatever the mix.
        if (!filtered && wetDryMix < 0.999f && sideGainActive) filtered = chunk.copy();
        AudioBuffer& wet = filtered ? *filtered : chunk;
        applySideGain(wet, sideGainDB, chunk.sampleRate());
        if (wetDryMix < 0.999f) mixWetDry(wet, chunk, wetDryMix);
        files.writer.write(wet);
        p += n;
        if (progress) progress(double(p) / double(files.length));
    }
    files.finish();
}

void applySideGain(AudioBuffer& buffer, float sideGainDB, double sampleRate) noexcept {
    if (!(std::fabs(sideGainDB) > 0.01f) || buffer.channelCount() < 2 || !buffer.hasFloatData() ||
        buffer.frameLength() == 0)
        return;
    const double a = std::exp(-1570.7963267948965 / sampleRate);
    const float g = std::pow(10.0f, sideGainDB / 20.0f);
    double lp = 0.0;
    float* left = buffer.channel(0);
    float* right = buffer.channel(1);
    for (uint32_t i = 0; i < buffer.frameLength(); ++i) {
        const float mid = (left[i] + right[i]) * 0.5f;
        const float side = (left[i] - right[i]) * 0.5f;
        lp = lp + (1.0 - a) * (double(side) - lp);
        const float shaped = float((double(g) - 1.0) * (double(side) - lp) + double(side));
        left[i] = mid + shaped;
        right[i] = mid - shaped;
    }
}

void mixWetDry(AudioBuffer& wet, const AudioBuffer& dry, float mix) noexcept {
    if (!wet.hasFloatData() || !dry.hasFloatData()) return;
    const uint32_t channels = std::min(wet.channelCount(), dry.channelCount());
    const uint32_t frames = std::min(wet.frameLength(), dry.frameLength());
    const float m = !(mix > 0.0f) ? 0.0f : (mix > 1.0f ? 1.0f : mix);
    for (uint32_t c = 0; c < channels; ++c) {
        float* w = wet.channel(c);
        const float* d = dry.channel(c);
        for (uint32_t i = 0; i < frames; ++i) w[i] = m * w[i] + (1.0f - m) * d[i];
    }
}

} // namespace orvanta
