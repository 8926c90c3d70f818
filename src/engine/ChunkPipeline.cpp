#include "engine/ChunkPipeline.h"

#include <exception>

namespace orvanta {

int64_t runChunkPipeline(AudioFileReader& reader, uint32_t chunkFrames, size_t jobCount, const ChunkJob& job,
                         WorkThreads threads) {
    WorkExecutor executor(threads);
    return runChunkPipeline(reader, chunkFrames, jobCount, job, executor);
}

int64_t runChunkPipeline(AudioFileReader& reader, uint32_t chunkFrames, size_t jobCount, const ChunkJob& job,
                         WorkExecutor& executor) {
    // With one thread the jobs are done with a chunk before the next is read: one buffer does.
    AudioBuffer buffers[2] = {reader.makeBuffer(chunkFrames),
                              executor.isOneThread() ? AudioBuffer() : reader.makeBuffer(chunkFrames)};
    int current = 0;
    uint32_t frames = reader.read(buffers[current], chunkFrames);
    int64_t total = 0;
    while (frames > 0) {
        total += frames;
        const AudioBuffer& chunk = buffers[current];
        const uint32_t chunkLength = frames;
        WorkExecutor::Pending jobs = executor.start(
            uint32_t(jobCount), [&job, &chunk, chunkLength](uint32_t index) { job(index, chunk, chunkLength); });
        if (!executor.isOneThread()) current = 1 - current;
        std::exception_ptr failure;
        try {
            frames = reader.read(buffers[current], chunkFrames);
        } catch (...) {
            failure = std::current_exception();
        }
        jobs.wait();
        if (failure) std::rethrow_exception(failure);
    }
    return total;
}

} // namespace orvanta
