#include "engine/ProgressThrottle.h"

#include <algorithm>
#include <cmath>

namespace orvanta {

std::optional<double> ProgressThrottle::accept(double progress) {
    const double clamped = (progress > 0.0) ? std::min(progress, 1.0) : 0.0; // NaN fails `> 0`
    const double rounded = std::round(clamped * 100.0) / 100.0;
    std::lock_guard guard(lock_);
    if (rounded > lastProgress_) {
        lastProgress_ = rounded;
        return rounded;
    }
    return std::nullopt;
}

double ProgressThrottle::lastProgress() const {
    std::lock_guard guard(lock_);
    return lastProgress_;
}

} // namespace orvanta
