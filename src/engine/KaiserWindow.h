#pragma once

namespace orvanta {

// The Kaiser window at r ∈ [−1, 1] (0 outside) with shape β: I0(β·√(1 − r²)) / I0(β). Pure.
double kaiserWindow(double r, double beta) noexcept;

} // namespace orvanta
