#pragma once

#include "engine/ProcessingErrors.h"
#include "engine/ProcessingTypes.h"

#include <thread>

namespace orvanta::AudioAnalyzer {

// Between chunks of a long analysis: stop when the caller asked to, and let other work run.
inline void throwIfCancelled(const CancellationQuery& isCancelled) {
    if (isCancelled && isCancelled()) {
        throw cancellationError();
    }
}

inline void yieldToScheduler() { std::this_thread::yield(); }

inline void report(const ProgressCallback& progress, double value) {
    if (progress) {
        progress(value);
    }
}

} // namespace orvanta::AudioAnalyzer
