#pragma once

#include <mutex>
#include <optional>

namespace orvanta {

// The filter of a progress updater: clamps to 0…1 (NaN and values ≤ 0 give 0), rounds to hundredths
// (halves away from zero) and accepts a value only when it is larger than the last accepted one,
// which starts at −1. So at most 101 strictly increasing values pass in one throttle's life.
// Thread-safe: the compare-and-set runs under a lock.
class ProgressThrottle {
public:
    // The rounded value when accepted, nothing when dropped.
    std::optional<double> accept(double progress);
    double lastProgress() const;

private:
    mutable std::mutex lock_;
    double lastProgress_ = -1.0;
};

} // namespace orvanta
