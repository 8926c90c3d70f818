#pragma once

// Biquads side by side in the lanes of one vector (LaneVectors.h): the vector form of
// platform/Biquad.h, the same single-precision operations in the same order as its scalar step, so a
// lane gives the same bits as a scalar filter fed the same samples. Coefficients come from the same
// designs.

#include "engine/LaneVectors.h"
#include "platform/Biquad.h"

#if defined(__SSE2__)

namespace orvanta {

template <class Lanes>
struct LaneBiquad {
    typename Lanes::F b0, b1, b2, a1, a2;
};

template <class Lanes>
struct LaneMemory {
    typename Lanes::F x1, x2, y1, y2;
};

// A later stage of a cascade: its input and previous input are the earlier stage's last two outputs
// (x1 of a later stage always equals y1 of the stage before it), so it keeps only x2 and its outputs.
template <class Lanes>
struct FollowerMemory {
    typename Lanes::F x2, y1, y2;
};

template <class Lanes>
inline typename Lanes::F biquadOutput(const LaneBiquad<Lanes>& k, typename Lanes::F x, typename Lanes::F x1,
                                      typename Lanes::F x2, typename Lanes::F y1, typename Lanes::F y2) {
    using L = Lanes;
    typename L::F y = L::add(L::mul(k.b0, x), L::mul(k.b1, x1));
    y = L::add(y, L::mul(k.b2, x2));
    y = L::sub(y, L::mul(k.a1, y1));
    return L::sub(y, L::mul(k.a2, y2));
}

template <class Lanes>
inline typename Lanes::F biquadStep(const LaneBiquad<Lanes>& k, LaneMemory<Lanes>& m, typename Lanes::F x) {
    const typename Lanes::F y = biquadOutput(k, x, m.x1, m.x2, m.y1, m.y2);
    m.x2 = m.x1;
    m.x1 = x;
    m.y2 = m.y1;
    m.y1 = y;
    return y;
}

template <class Lanes>
inline typename Lanes::F followerStep(const LaneBiquad<Lanes>& k, FollowerMemory<Lanes>& m, typename Lanes::F x,
                                      typename Lanes::F x1) {
    const typename Lanes::F y = biquadOutput(k, x, x1, m.x2, m.y1, m.y2);
    m.x2 = x1;
    m.y2 = m.y1;
    m.y1 = y;
    return y;
}

// Lanes from up to Lanes::width scalar coefficient sets; missing lanes stay zero (they compute zeros).
template <class Lanes>
inline LaneBiquad<Lanes> gatherLaneCoefficients(const BiquadCoefficients* const* lanes) {
    constexpr int width = Lanes::width;
    alignas(64) float v[5][width] = {};
    for (int l = 0; l < width; ++l) {
        if (lanes[l] == nullptr) continue;
        v[0][l] = lanes[l]->b0;
        v[1][l] = lanes[l]->b1;
        v[2][l] = lanes[l]->b2;
        v[3][l] = lanes[l]->a1;
        v[4][l] = lanes[l]->a2;
    }
    return {Lanes::load(v[0]), Lanes::load(v[1]), Lanes::load(v[2]), Lanes::load(v[3]), Lanes::load(v[4])};
}

// Lanes from up to Lanes::width filter memories; null lanes read as zero.
template <class Lanes>
inline LaneMemory<Lanes> gatherLaneMemory(FilterState* const* lanes) {
    constexpr int width = Lanes::width;
    alignas(64) float v[4][width] = {};
    for (int l = 0; l < width; ++l) {
        if (lanes[l] == nullptr) continue;
        v[0][l] = lanes[l]->x1;
        v[1][l] = lanes[l]->x2;
        v[2][l] = lanes[l]->y1;
        v[3][l] = lanes[l]->y2;
    }
    return {Lanes::load(v[0]), Lanes::load(v[1]), Lanes::load(v[2]), Lanes::load(v[3])};
}

// The lanes back into their filter memories; null lanes are dropped.
template <class Lanes>
inline void scatterLaneMemory(const LaneMemory<Lanes>& m, FilterState* const* lanes) {
    constexpr int width = Lanes::width;
    alignas(64) float v[4][width];
    Lanes::store(v[0], m.x1);
    Lanes::store(v[1], m.x2);
    Lanes::store(v[2], m.y1);
    Lanes::store(v[3], m.y2);
    for (int l = 0; l < width; ++l) {
        if (lanes[l] == nullptr) continue;
        *lanes[l] = {v[0][l], v[1][l], v[2][l], v[3][l]};
    }
}

// The four-lane filters of the meter and the phase return.
using Biquad4 = LaneBiquad<SseLanes>;
using Memory4 = LaneMemory<SseLanes>;

} // namespace orvanta

#endif
