#include "playback/VectorscopeGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace orvanta;

namespace {
constexpr double width = 200.0;
constexpr double height = 100.0; // centre (100, 100), radius 88
constexpr double cx = 100.0, cy = 100.0, radius = 88.0;
} // namespace

TEST(VectorscopeGeometry, NoSamplesGiveNoDots) {
    EXPECT_TRUE(vectorscopeDots({}, {}, width, height).empty());
    const std::vector<float> left = {0.1f, 0.2f};
    EXPECT_TRUE(vectorscopeDots(left, {}, width, height).empty());
}

TEST(VectorscopeGeometry, PointsSitAroundTheBottomCentreAndFoldUpwards) {
    const std::vector<float> left = {0.0f, 0.5f, -0.5f, 0.25f};
    const std::vector<float> right = {0.0f, 0.0f, 0.25f, -0.25f};
    const auto dots = vectorscopeDots(left, right, width, height);
    ASSERT_EQ(dots.size(), 4u);
    // Silence sits one unit above the bottom edge, at the centre.
    EXPECT_DOUBLE_EQ(dots[0].x, cx);
    EXPECT_DOUBLE_EQ(dots[0].y, cy - 1.0);
    EXPECT_DOUBLE_EQ(dots[1].x, cx + 0.5 * radius);
    EXPECT_DOUBLE_EQ(dots[1].y, cy - 1.0);
    EXPECT_DOUBLE_EQ(dots[2].x, cx - 0.5 * radius);
    EXPECT_DOUBLE_EQ(dots[2].y, cy - 0.25 * radius);
    // A negative right sample lands in the upper half like its positive twin.
    EXPECT_DOUBLE_EQ(dots[3].x, cx + 0.25 * radius);
    EXPECT_DOUBLE_EQ(dots[3].y, cy - 0.25 * radius);
    for (const auto& dot : dots) EXPECT_LE(dot.y, cy - 1.0);
}

TEST(VectorscopeGeometry, OutlyingPointsMoveOntoTheCircleAndClamp) {
    const std::vector<float> left = {1.0f, 3.0f};
    const std::vector<float> right = {1.0f, -7.0f};
    const auto dots = vectorscopeDots(left, right, width, height);
    ASSERT_EQ(dots.size(), 2u);
    for (const auto& dot : dots) {
        EXPECT_NEAR(std::hypot(dot.x - cx, dot.y - cy), radius, 1e-9);
        EXPECT_NEAR(dot.x, cx + radius / std::sqrt(2.0), 1e-9); // (3, −7) is drawn as (1, 1)
        EXPECT_NEAR(dot.y, cy - radius / std::sqrt(2.0), 1e-9);
    }
    EXPECT_DOUBLE_EQ(dots[0].diameter, dots[1].diameter);
}

TEST(VectorscopeGeometry, DotsGrowWithLevelAndWhenTheMeanIsLow) {
    // Quiet material: mean 0 → scale 12 ≥ 2.5 → dot scale 2.75.
    const std::vector<float> quiet = {0.0f};
    EXPECT_DOUBLE_EQ(vectorscopeDots(quiet, quiet, width, height)[0].diameter, 2.75 * 0.5);

    // One loud point: mean √2 → scale 1.2 / (√2 + 0.1), dot scale 1.1 × that.
    const std::vector<float> loud = {1.0f};
    const double scale = 1.2 / (std::sqrt(2.0) + 0.1) * 1.1;
    EXPECT_NEAR(vectorscopeDots(loud, loud, width, height)[0].diameter, scale * (std::sqrt(2.0) + 0.5), 1e-12);

    // Within one frame louder points are larger.
    const std::vector<float> left = {0.1f, 0.8f};
    const std::vector<float> right = {0.1f, 0.6f};
    const auto dots = vectorscopeDots(left, right, width, height);
    EXPECT_GT(dots[1].diameter, dots[0].diameter);
}

TEST(VectorscopeGeometry, DiametersNeverFallBelowTheMinimum) {
    // A very high mean (unclamped inputs) drives the dot scale to 0.66: a silent point would be 0.33.
    std::vector<float> left(50, 10.0f), right(50, 10.0f);
    left.push_back(0.0f);
    right.push_back(0.0f);
    const auto dots = vectorscopeDots(left, right, width, height);
    EXPECT_DOUBLE_EQ(dots.back().diameter, 0.4);
    for (const auto& dot : dots) EXPECT_GE(dot.diameter, 0.4);
}
