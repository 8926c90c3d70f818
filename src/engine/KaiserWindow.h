#pragma once

#include <vector>

namespace orvanta {

// The Kaiser window at r ∈ [−1, 1] (0 outside) with shape β: I0(β·√(1 − r²)) / I0(β). Pure.
double kaiserWindow(double r, double beta) noexcept;

// A linear-phase low-pass of `taps` taps: the sinc with its cut-off at `cutoff` cycles per sample
// under the Kaiser window of shape β, scaled to unit gain at DC.
std::vector<float> kaiserLowPass(int taps, double cutoff, double beta);

} // namespace orvanta
