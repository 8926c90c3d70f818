#include "engine/ChunkPipeline.h"

#include <barrier>
#include <exception>
#include <thread>
#include <vector>

namespace orvanta {

namespace {

int64_t runChunksInOrder(AudioFileReader& reader, uint32_t chunkFrames, size_t jobCount, const ChunkJob& job) {
    AudioBuffer buffer = reader.makeBuffer(chunkFrames);
    int64_t total = 0;
    while (const uint32_t frames = reader.read(buffer, chunkFrames)) {
        for (size_t j = 0; j < jobCount; ++j) job(j, buffer, frames);
        total += frames;
    }
    return total;
}

} // namespace

int64_t runChunkPipeline(AudioFileReader& reader, uint32_t chunkFrames, size_t jobCount, const ChunkJob& job,
                         WorkThreads threads) {
    if (threads == WorkThreads::oneThread) return runChunksInOrder(reader, chunkFrames, jobCount, job);
    AudioBuffer buffers[2] = {reader.makeBuffer(chunkFrames), reader.makeBuffer(chunkFrames)};
    // Written by this thread before it arrives at the barrier, read by the jobs after it.
    uint32_t frames[2] = {reader.read(buffers[0], chunkFrames), 0};
    int current = 0;
    bool finished = false;

    std::barrier sync(std::ptrdiff_t(jobCount) + 1);
    auto work = [&](size_t index) {
        while (true) {
            sync.arrive_and_wait(); // a chunk is ready, or the stream has ended
            if (finished) return;
            job(index, buffers[current], frames[current]);
            sync.arrive_and_wait(); // every job is done with the chunk
        }
    };
    std::vector<std::thread> workers;
    std::exception_ptr failure;
    try {
        workers.reserve(jobCount);
        for (size_t j = 0; j < jobCount; ++j) workers.emplace_back(work, j);
    } catch (...) {
        failure = std::current_exception();
        for (size_t j = workers.size(); j < jobCount; ++j) sync.arrive_and_drop(); // never started
    }

    int64_t total = 0;
    while (true) {
        finished = failure || frames[current] == 0;
        sync.arrive_and_wait();
        if (finished) break;
        total += frames[current];
        const int next = 1 - current;
        try {
            frames[next] = reader.read(buffers[next], chunkFrames);
        } catch (...) {
            failure = std::current_exception();
        }
        sync.arrive_and_wait();
        current = next;
    }
    for (std::thread& worker : workers) worker.join();
    if (failure) std::rethrow_exception(failure);
    return total;
}

} // namespace orvanta
