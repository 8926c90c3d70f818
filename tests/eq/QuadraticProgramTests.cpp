// The small quadratic programme solver against answers worked out by hand.
#include "eq/QuadraticProgram.h"

#include <gtest/gtest.h>

#include <limits>

namespace orvanta {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// ½|x − p|²: H = I, b = p. Its constrained minimiser is the projection of p onto the constraints.
QuadraticProgram distanceTo(const std::vector<double>& p) {
    QuadraticProgram problem;
    problem.h.assign(p.size(), std::vector<double>(p.size(), 0.0));
    for (size_t i = 0; i < p.size(); ++i) problem.h[i][i] = 1.0;
    problem.b = p;
    return problem;
}

TEST(QuadraticProgram, WithoutActiveConstraintsItIsTheLinearSolve) {
    // H = [[4, 1], [1, 3]], b = [1, 2]: x = H⁻¹b = [1/11, 7/11].
    QuadraticProgram problem;
    problem.h = {{4.0, 1.0}, {1.0, 3.0}};
    problem.b = {1.0, 2.0};
    problem.constraints = {{{1.0, 0.0}, -5.0, 5.0}, {{1.0, 1.0}, -infinity, 10.0}};
    const auto x = solveQuadraticProgram(problem);
    ASSERT_TRUE(x);
    EXPECT_NEAR((*x)[0], 1.0 / 11.0, 1e-9);
    EXPECT_NEAR((*x)[1], 7.0 / 11.0, 1e-9);
}

TEST(QuadraticProgram, ProjectsOntoBoxesSumsAndDifferences) {
    // A box clips each coordinate on its own.
    QuadraticProgram box = distanceTo({3.0, -0.5, -9.0});
    for (size_t i = 0; i < 3; ++i) {
        LinearConstraint bound{{0.0, 0.0, 0.0}, -1.0, 1.0};
        bound.a[i] = 1.0;
        box.constraints.push_back(bound);
    }
    auto x = solveQuadraticProgram(box);
    ASSERT_TRUE(x);
    EXPECT_NEAR((*x)[0], 1.0, 1e-6);
    EXPECT_NEAR((*x)[1], -0.5, 1e-6);
    EXPECT_NEAR((*x)[2], -1.0, 1e-6);

    // A zero sum removes the mean.
    QuadraticProgram sum = distanceTo({1.0, 2.0, 6.0});
    sum.constraints = {{{1.0, 1.0, 1.0}, 0.0, 0.0}};
    x = solveQuadraticProgram(sum);
    ASSERT_TRUE(x);
    EXPECT_NEAR((*x)[0], -2.0, 1e-6);
    EXPECT_NEAR((*x)[1], -1.0, 1e-6);
    EXPECT_NEAR((*x)[2], 3.0, 1e-6);

    // x₁ − x₀ ≤ 1 from (0, 4): the nearest point of the line x₁ = x₀ + 1 is (1.5, 2.5).
    QuadraticProgram step = distanceTo({0.0, 4.0});
    step.constraints = {{{-1.0, 1.0}, -1.0, 1.0}};
    x = solveQuadraticProgram(step);
    ASSERT_TRUE(x);
    EXPECT_NEAR((*x)[0], 1.5, 1e-6);
    EXPECT_NEAR((*x)[1], 2.5, 1e-6);
}

TEST(QuadraticProgram, RefusesWhatHasNoAnswer) {
    QuadraticProgram contradictory = distanceTo({0.0});
    contradictory.constraints = {{{1.0}, 1.0, infinity}, {{1.0}, -infinity, 0.0}};
    EXPECT_FALSE(solveQuadraticProgram(contradictory));

    QuadraticProgram indefinite;
    indefinite.h = {{1.0, 2.0}, {2.0, 1.0}};
    indefinite.b = {1.0, 1.0};
    EXPECT_FALSE(solveQuadraticProgram(indefinite));

    QuadraticProgram mismatched = distanceTo({1.0, 2.0});
    mismatched.constraints = {{{1.0}, 0.0, 1.0}};
    EXPECT_FALSE(solveQuadraticProgram(mismatched));
}

} // namespace
} // namespace orvanta
