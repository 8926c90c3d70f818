#include "engine/KWeighting.h"

#if defined(__SSE2__)
#include "engine/VectorBiquad.h"
#endif

namespace orvanta {

void KWeightingFilter::process(const float* in, float* out, size_t n) noexcept {
    const KWeightingCoefficients k = coefficients_;
    FilterState h = highPass_, s = shelf_;
    for (size_t i = 0; i < n; ++i) out[i] = biquadStep(k.shelf, s, biquadStep(k.highPass, h, in[i]));
    highPass_ = h;
    shelf_ = s;
}

#if defined(__SSE2__)
namespace {

// The memories of two channels in lanes 0 and 1.
Memory4 lanesOf(const FilterState& a, const FilterState& b) {
    const auto pair = [](float x, float y) { return _mm_setr_ps(x, y, 0.0f, 0.0f); };
    return {pair(a.x1, b.x1), pair(a.x2, b.x2), pair(a.y1, b.y1), pair(a.y2, b.y2)};
}

void storeLanes(const Memory4& m, FilterState& a, FilterState& b) {
    alignas(16) float v[4][4];
    _mm_store_ps(v[0], m.x1), _mm_store_ps(v[1], m.x2), _mm_store_ps(v[2], m.y1), _mm_store_ps(v[3], m.y2);
    a = {v[0][0], v[1][0], v[2][0], v[3][0]};
    b = {v[0][1], v[1][1], v[2][1], v[3][1]};
}

} // namespace
#endif

void KWeightingFilter::processPair(KWeightingFilter& first, const float* firstIn, float* firstOut,
                                   KWeightingFilter& second, const float* secondIn, float* secondOut,
                                   size_t n) noexcept {
#if defined(__SSE2__)
    const KWeightingCoefficients& k = first.coefficients_;
    if (k.highPass == second.coefficients_.highPass && k.shelf == second.coefficients_.shelf) {
        // Lane by lane the same operations, in the same order, as process().
        const BiquadCoefficients* highPassLanes[4] = {&k.highPass, &k.highPass, nullptr, nullptr};
        const BiquadCoefficients* shelfLanes[4] = {&k.shelf, &k.shelf, nullptr, nullptr};
        const Biquad4 highPass = gatherLaneCoefficients<SseLanes>(highPassLanes);
        const Biquad4 shelf = gatherLaneCoefficients<SseLanes>(shelfLanes);
        Memory4 h = lanesOf(first.highPass_, second.highPass_), s = lanesOf(first.shelf_, second.shelf_);
        for (size_t i = 0; i < n; ++i) {
            const __m128 x = _mm_unpacklo_ps(_mm_load_ss(firstIn + i), _mm_load_ss(secondIn + i));
            const __m128 y = biquadStep(shelf, s, biquadStep(highPass, h, x));
            _mm_store_ss(firstOut + i, y);
            _mm_store_ss(secondOut + i, _mm_shuffle_ps(y, y, 1));
        }
        storeLanes(h, first.highPass_, second.highPass_);
        storeLanes(s, first.shelf_, second.shelf_);
        return;
    }
#endif
    first.process(firstIn, firstOut, n);
    second.process(secondIn, secondOut, n);
}

} // namespace orvanta
