#pragma once

#include <cstddef>
#include <vector>

namespace orvanta {

// Sums of squares of windows of `length` samples starting every `hop` samples (0, hop, 2·hop, …),
// over a signal that arrives in pieces. The samples from the next window's start on are kept, so each
// window is summed over contiguous samples, exactly as over the whole signal held at once.
// Storage is sized on construction; append() never allocates. One thread at a time.
class WindowedSums {
public:
    using SumOfSquares = float (*)(const float* samples, size_t count);

    // hop ≤ length. At most `maxWindows` windows are summed (later ones are ignored); pieces hold at
    // most `maxPiece` samples. No window is summed when length or hop is 0. Throws std::bad_alloc.
    WindowedSums(size_t length, size_t hop, size_t maxWindows, size_t maxPiece, SumOfSquares sumOfSquares);

    // Where the next piece of up to maxPiece samples goes; append(count) then takes it in.
    float* room() noexcept { return pending_.data() + pendingCount_; }
    void append(size_t count) noexcept;

    size_t hop() const noexcept { return hop_; }
    // The sums of the windows completed so far, in order.
    const std::vector<float>& sums() const noexcept { return sums_; }
    // Keeps only the first `count` sums.
    void truncate(size_t count) noexcept;

private:
    size_t length_;     // samples per window
    size_t hop_;        // samples between window starts
    size_t maxWindows_; // windows to sum at most
    SumOfSquares sumOfSquares_;
    std::vector<float> pending_; // the samples from the next window's start on, then room for a piece
    size_t pendingCount_ = 0;
    std::vector<float> sums_;
};

} // namespace orvanta
