#pragma once

#include "engine/ProcessingTypes.h"
#include "engine/WorkExecutor.h"
#include "platform/AudioBuffer.h"
#include "platform/AudioFileReader.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace orvanta {

// One job's work on one chunk: the chunk's first `frames` frames are valid. Must not throw.
using ChunkJob = std::function<void(size_t job, const AudioBuffer& chunk, uint32_t frames)>;

// Reads `reader` from its current position to the end in chunks of `chunkFrames`, on the calling
// thread, while the executor runs the `jobCount` jobs on the chunk read before: reading overlaps the
// work, and the jobs run side by side. Every job sees every chunk, in order, after the previous
// chunk's jobs have all finished. With one thread the calling thread runs the jobs one after another
// after each read instead. Returns the number of frames read. Throws the reader's errors (after the
// jobs have stopped) or std::bad_alloc for the chunk buffers.
int64_t runChunkPipeline(AudioFileReader& reader, uint32_t chunkFrames, size_t jobCount, const ChunkJob& job,
                         WorkExecutor& executor);
// The same on an executor of its own.
int64_t runChunkPipeline(AudioFileReader& reader, uint32_t chunkFrames, size_t jobCount, const ChunkJob& job,
                         WorkThreads threads = WorkThreads::pipelined);

} // namespace orvanta
