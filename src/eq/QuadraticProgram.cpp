#include "eq/QuadraticProgram.h"

#include <algorithm>
#include <cmath>

namespace orvanta {

namespace {

constexpr int maximumSweeps = 200000;

using Matrix = std::vector<std::vector<double>>;

// The lower triangle L with H = L·Lᵀ; none when H is not positive definite.
std::optional<Matrix> cholesky(const Matrix& h) {
    const size_t n = h.size();
    Matrix l(n, std::vector<double>(n, 0.0));
    for (size_t i = 0; i < n; ++i) {
        if (h[i].size() != n) return std::nullopt;
        for (size_t j = 0; j <= i; ++j) {
            double sum = h[i][j];
            for (size_t k = 0; k < j; ++k) sum -= l[i][k] * l[j][k];
            if (i == j) {
                if (!(sum > 0.0)) return std::nullopt;
                l[i][i] = std::sqrt(sum);
            } else {
                l[i][j] = sum / l[j][j];
            }
        }
    }
    return l;
}

// H⁻¹·v from H's Cholesky factor.
std::vector<double> solveWith(const Matrix& l, std::vector<double> v) {
    const size_t n = l.size();
    for (size_t i = 0; i < n; ++i) {
        for (size_t k = 0; k < i; ++k) v[i] -= l[i][k] * v[k];
        v[i] /= l[i][i];
    }
    for (size_t i = n; i-- > 0;) {
        for (size_t k = i + 1; k < n; ++k) v[i] -= l[k][i] * v[k];
        v[i] /= l[i][i];
    }
    return v;
}

double dot(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0.0;
    for (size_t i = 0; i < a.size(); ++i) sum += a[i] * b[i];
    return sum;
}

// One side of a constraint: aᵀx ≤ limit, with u = H⁻¹a and its curvature aᵀu.
struct HalfSpace {
    std::vector<double> a, u;
    double limit = 0.0, curvature = 0.0, multiplier = 0.0;
};

} // namespace

std::optional<std::vector<double>> solveQuadraticProgram(const QuadraticProgram& problem, double tolerance) {
    const size_t n = problem.b.size();
    if (problem.h.size() != n) return std::nullopt;
    const std::optional<Matrix> l = cholesky(problem.h);
    if (!l) return std::nullopt;
    std::vector<double> x = solveWith(*l, problem.b);

    std::vector<HalfSpace> sides;
    for (const LinearConstraint& constraint : problem.constraints) {
        if (constraint.a.size() != n || constraint.lower > constraint.upper) return std::nullopt;
        for (const double sign : {1.0, -1.0}) {
            const double limit = sign > 0.0 ? constraint.upper : -constraint.lower;
            if (!std::isfinite(limit)) continue;
            HalfSpace side;
            side.a = constraint.a;
            for (double& value : side.a) value *= sign;
            side.u = solveWith(*l, side.a);
            side.curvature = dot(side.a, side.u);
            side.limit = limit;
            if (!(side.curvature > 0.0)) {
                if (limit < -tolerance) return std::nullopt; // 0 ≤ limit cannot hold
                continue;
            }
            sides.push_back(std::move(side));
        }
    }

    // x = H⁻¹(b − Σ λᵢaᵢ): each step raises or lowers one multiplier to the best value for its side.
    for (int sweep = 0; sweep < maximumSweeps; ++sweep) {
        double largestMove = 0.0, largestExcess = 0.0;
        for (HalfSpace& side : sides) {
            const double excess = dot(side.a, x) - side.limit;
            largestExcess = std::max(largestExcess, excess);
            const double next = std::max(0.0, side.multiplier + excess / side.curvature);
            const double change = next - side.multiplier;
            if (change == 0.0) continue;
            side.multiplier = next;
            for (size_t i = 0; i < n; ++i) x[i] -= change * side.u[i];
            largestMove = std::max(largestMove, std::fabs(change) * std::sqrt(side.curvature));
        }
        if (largestExcess <= tolerance && largestMove <= tolerance) return x;
    }
    return std::nullopt;
}

} // namespace orvanta
