#include "engine/WindowedSums.h"

#include <algorithm>
#include <cstddef>

namespace orvanta {

WindowedSums::WindowedSums(size_t length, size_t hop, size_t maxWindows, size_t maxPiece,
                           SumOfSquares sumOfSquares)
    : length_(length), hop_(hop), maxWindows_(length == 0 || hop == 0 ? 0 : maxWindows),
      sumOfSquares_(sumOfSquares) {
    // Fewer than `length` samples wait for their window, so this holds them and the next piece.
    pending_.assign(length + maxPiece, 0.0f);
    sums_.reserve(maxWindows_);
}

void WindowedSums::append(size_t count) noexcept {
    pendingCount_ += count;
    size_t start = 0;
    while (sums_.size() < maxWindows_ && start + length_ <= pendingCount_) {
        sums_.push_back(sumOfSquares_(pending_.data() + start, length_));
        start += hop_;
    }
    if (sums_.size() >= maxWindows_) {
        pendingCount_ = 0; // nothing further is summed
        return;
    }
    std::copy(pending_.begin() + std::ptrdiff_t(start), pending_.begin() + std::ptrdiff_t(pendingCount_),
              pending_.begin());
    pendingCount_ -= start;
}

void WindowedSums::truncate(size_t count) noexcept {
    if (count < sums_.size()) sums_.resize(count);
}

} // namespace orvanta
