#pragma once

#include "engine/ProcessingTypes.h"
#include "platform/AudioBuffer.h"
#include "platform/AudioFileReader.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace orvanta {

// One job's work on one chunk: the chunk's first `frames` frames are valid. Must not throw.
using ChunkJob = std::function<void(size_t job, const AudioBuffer& chunk, uint32_t frames)>;

// Reads `reader` from its current position to the end in chunks of `chunkFrames`, on the calling
// thread, while `jobCount` threads run `job` on the chunk read before: reading overlaps the work, and
// the jobs run side by side. Every job sees every chunk, in order, after the previous chunk's jobs
// have all finished. With WorkThreads::oneThread the calling thread runs the jobs one after another
// after each read instead. Returns the number of frames read. Throws the reader's errors (after the
// jobs have stopped), std::bad_alloc for the chunk buffers, or std::system_error when a thread cannot
// be started.
int64_t runChunkPipeline(AudioFileReader& reader, uint32_t chunkFrames, size_t jobCount, const ChunkJob& job,
                         WorkThreads threads = WorkThreads::pipelined);

} // namespace orvanta
