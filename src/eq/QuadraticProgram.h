#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace orvanta {

// A small dense convex quadratic programme: minimise ½·xᵀHx − bᵀx subject to linear constraints
// lower ≤ aᵀx ≤ upper (either side may be infinite; lower == upper makes an equality). H must be
// symmetric positive definite. Meant for a dozen unknowns and a few dozen constraints.
struct LinearConstraint {
    std::vector<double> a; // one coefficient per unknown
    double lower;
    double upper;
};

struct QuadraticProgram {
    std::vector<std::vector<double>> h; // n × n
    std::vector<double> b;              // n
    std::vector<LinearConstraint> constraints;
};

// The minimiser, found by coordinate ascent on the dual (Hildreth's method): every constraint is held
// to within `tolerance` on return. None when H is not positive definite or when the constraints
// cannot all be met (the dual does not settle within its sweeps). Pure; any thread.
std::optional<std::vector<double>> solveQuadraticProgram(const QuadraticProgram& problem, double tolerance = 1e-7);

} // namespace orvanta
