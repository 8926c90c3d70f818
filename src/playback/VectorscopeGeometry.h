#pragma once

#include <span>
#include <vector>

namespace orvanta {

// One plotted point of the vectorscope: a circle centred on (x, y), in the drawing rectangle's
// coordinates (origin top left, y downwards).
struct VectorscopeDot {
    double x = 0;
    double y = 0;
    double diameter = 0;
};

// The dots of the half-disc vectorscope for a width × height rectangle: centre at the middle of the
// bottom edge, radius 0.88 × min(width / 2, height); left samples go right of centre, right samples fold
// upwards; dots grow with their point's level, and everything grows when the mean level is low.
// Uses the first min(left.size(), right.size()) points; no points give no dots. Any thread.
std::vector<VectorscopeDot> vectorscopeDots(std::span<const float> left, std::span<const float> right, double width,
                                            double height);

} // namespace orvanta
