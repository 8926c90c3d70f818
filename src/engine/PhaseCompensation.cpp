#include "engine/PhaseCompensation.h"

#include "engine/MultibandLimiter.h"
#include "engine/ProcessingErrors.h"
#include "platform/AudioFileReader.h"
#include "platform/AudioFileWriter.h"
#include "platform/Biquad.h"
#include "platform/FileOperations.h"

#include <algorithm>
#include <new>

namespace orvanta {

uint32_t phaseCompensationLeadingFrames(double sampleRate) noexcept { return uint32_t(sampleRate * 0.1); }

TimeReversedSource writePhaseCompensatedSource(const std::filesystem::path& input, const std::filesystem::path& output,
                                               const std::vector<float>& crossovers,
                                               const CancellationQuery& isCancelled) {
    AudioFileReader reader(input);
    const double sampleRate = reader.sampleRate();
    const uint32_t channels = reader.channelCount();
    const int64_t length = reader.lengthFrames();
    const uint32_t leading = phaseCompensationLeadingFrames(sampleRate);
    constexpr uint32_t blockFrames = 1u << 16;

    std::vector<LR4Coefficients> allPasses;
    for (float fc : crossovers) allPasses.push_back(designCrossover(fc, float(sampleRate)).allPass);
    std::vector<std::vector<CrossoverMemory>> memory(channels, std::vector<CrossoverMemory>(allPasses.size()));

    AudioBuffer block;
    try {
        block = reader.makeBuffer(blockFrames);
    } catch (const std::bad_alloc&) {
        throw passBufferError();
    }
    TimeReversedSource source{output, length + leading, leading};
    try {
        AudioFileWriter writer(output, reader.processingFormat(), AudioFileWriter::floatSamples);
        // Back to front: each block is read, turned around and filtered, so the filters run from the
        // last sample to the first; then the leading frames, from silence before the song.
        int64_t end = length;
        uint32_t leadingLeft = leading;
        while (end > 0 || leadingLeft > 0) {
            if (isCancelled && isCancelled()) throw cancellationError();
            uint32_t frames = 0;
            if (end > 0) {
                frames = uint32_t(std::min<int64_t>(end, blockFrames));
                reader.setFramePosition(end - frames);
                uint32_t got = 0;
                try {
                    got = reader.read(block, frames);
                } catch (const Error&) {
                    got = 0;
                }
                // An unreadable stretch counts as silence, as the limiting pass treats it.
                for (uint32_t c = 0; c < channels; ++c) std::fill(block.channel(c) + got, block.channel(c) + frames, 0.0f);
                block.setFrameLength(frames);
                end -= frames;
            } else {
                frames = std::min(leadingLeft, blockFrames);
                block.setFrameLength(frames);
                block.clear();
                leadingLeft -= frames;
            }
            for (uint32_t c = 0; c < channels; ++c) {
                float* samples = block.channel(c);
                std::reverse(samples, samples + frames);
                for (size_t k = 0; k < allPasses.size(); ++k) {
                    CrossoverMemory& m = memory[c][k];
                    for (uint32_t i = 0; i < frames; ++i) samples[i] = biquadStep(allPasses[k], m, samples[i]);
                }
            }
            writer.write(block);
        }
        writer.close();
    } catch (...) {
        removeFileQuietly(output);
        throw;
    }
    return source;
}

} // namespace orvanta
