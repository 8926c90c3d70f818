#include "playback/VectorscopeGeometry.h"

#include <algorithm>
#include <cmath>

namespace orvanta {

std::vector<VectorscopeDot> vectorscopeDots(std::span<const float> left, std::span<const float> right, double width,
                                            double height) {
    const size_t count = std::min(left.size(), right.size());
    std::vector<VectorscopeDot> dots;
    if (count == 0) {
        return dots;
    }
    dots.reserve(count);

    const double cx = width * 0.5;
    const double cy = height;
    const double radius = std::min(width * 0.5, height) * 0.88;

    double levelSum = 0.0;
    for (size_t i = 0; i < count; ++i) {
        const double l = left[i];
        const double r = right[i];
        levelSum += std::sqrt(l * l + r * r);
    }
    const double meanLevel = levelSum / double(count);
    const double scale = 1.2 / (meanLevel + 0.1);
    const double dotScale = scale >= 2.5 ? 2.75 : std::max(scale, 0.6) * 1.1;

    for (size_t i = 0; i < count; ++i) {
        const double x = std::clamp(double(left[i]), -1.0, 1.0);
        const double y = std::clamp(double(right[i]), -1.0, 1.0);
        double px = cx + radius * x;
        double py = cy - std::abs(radius * y);
        const double dx = px - cx;
        const double dy = py - cy;
        const double distance = std::sqrt(dx * dx + dy * dy);
        if (distance > radius) {
            px = cx + dx / distance * radius;
            py = cy + dy / distance * radius;
        }
        py = std::min(py, cy - 1.0);
        const double diameter = std::max(dotScale * (std::sqrt(x * x + y * y) + 0.5), 0.4);
        dots.push_back({px, py, diameter});
    }
    return dots;
}

} // namespace orvanta
