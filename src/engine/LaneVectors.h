#pragma once

// Float vectors of the x86 instruction sets as lane types with one set of names, so that a block path
// is written once as a template and compiled for each width. Every operation acts lane by lane with
// the IEEE single-precision result of the scalar operation, so a lane gives the same bits as scalar
// code that does the same steps in the same order.
//
// The 8- and 16-lane types are compiled for AVX2 and AVX-512 whatever the build's own target: code
// that instantiates a template with them must itself be compiled for that target (a
// `#pragma GCC target` region around the explicit instantiation), and may run only where
// CpuFeatures.h says the processor has it.

#if defined(__x86_64__) && defined(__GNUC__)
#define ORVANTA_WIDE_LANES 1
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(ORVANTA_WIDE_LANES)
#include <immintrin.h>
#endif

#include <cstdint>

namespace orvanta {

#if defined(__SSE2__)

// Four lanes.
struct SseLanes {
    using F = __m128;
    using I = __m128i;
    static constexpr int width = 4;

    static F zero() { return _mm_setzero_ps(); }
    static F set1(float v) { return _mm_set1_ps(v); }
    static F load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, F v) { _mm_storeu_ps(p, v); }
    static F add(F a, F b) { return _mm_add_ps(a, b); }
    static F sub(F a, F b) { return _mm_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm_mul_ps(a, b); }
    static F div(F a, F b) { return _mm_div_ps(a, b); }
    static F min(F a, F b) { return _mm_min_ps(a, b); }
    static F max(F a, F b) { return _mm_max_ps(a, b); }
    static F bitOr(F a, F b) { return _mm_or_ps(a, b); }
    static F select(F mask, F whenSet, F otherwise) {
        return _mm_or_ps(_mm_and_ps(mask, whenSet), _mm_andnot_ps(mask, otherwise));
    }
    static F magnitude(F v) { return _mm_and_ps(v, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF))); }
    static F less(F a, F b) { return _mm_cmplt_ps(a, b); }
    static bool any(F mask) { return _mm_movemask_ps(mask) != 0; }
    // Lanes 0 and 1 of each group of four, each twice: (l0, l0, l1, l1).
    static F lowLowHighHigh(F v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 0, 0)); }
    static F fromBits(const uint32_t* bits) { return _mm_castsi128_ps(loadI(reinterpret_cast<const int32_t*>(bits))); }
    // values[g] in every lane of group g.
    static F broadcastGroups(const float* values) { return _mm_set1_ps(values[0]); }
    // Lane b of each group from rows[b]: (rows[0][0], rows[1][1], rows[2][2], rows[3][3]).
    static F pickDiagonal(const F rows[4]) {
        const F first = _mm_shuffle_ps(rows[0], rows[1], _MM_SHUFFLE(1, 1, 0, 0));
        const F second = _mm_shuffle_ps(rows[2], rows[3], _MM_SHUFFLE(3, 3, 2, 2));
        return _mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0));
    }

    static I set1I(int32_t v) { return _mm_set1_epi32(v); }
    static I loadI(const int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void storeI(int32_t* p, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static I subI(I a, I b) { return _mm_sub_epi32(a, b); }
    static I greaterI(I a, I b) { return _mm_cmpgt_epi32(a, b); }
    // (mask & whenSet) | (~mask & otherwise), the mask taken from a float comparison.
    static I selectI(F mask, I whenSet, I otherwise) {
        const I m = _mm_castps_si128(mask);
        return _mm_or_si128(_mm_and_si128(m, whenSet), _mm_andnot_si128(m, otherwise));
    }
    static I andI(I a, I b) { return _mm_and_si128(a, b); }
    static F asFloat(I v) { return _mm_castsi128_ps(v); }

    // Row q holds lanes 0…3 of sample i + q: stores lane sums ((l0 + l1) + l2) + l3 of the four rows
    // at out[0][i … i + 3].
    static void storeGroupSums(const F rows[4], float* const* out, uint32_t i) {
        F r0 = rows[0], r1 = rows[1], r2 = rows[2], r3 = rows[3];
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        _mm_storeu_ps(out[0] + i, _mm_add_ps(_mm_add_ps(_mm_add_ps(r0, r1), r2), r3));
    }
};

#endif

#if defined(ORVANTA_WIDE_LANES)

#pragma GCC push_options
#pragma GCC target("avx2")

// Eight lanes: two groups of four.
struct Avx2Lanes {
    using F = __m256;
    using I = __m256i;
    static constexpr int width = 8;

    static F zero() { return _mm256_setzero_ps(); }
    static F set1(float v) { return _mm256_set1_ps(v); }
    static F load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, F v) { _mm256_storeu_ps(p, v); }
    static F add(F a, F b) { return _mm256_add_ps(a, b); }
    static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F div(F a, F b) { return _mm256_div_ps(a, b); }
    static F min(F a, F b) { return _mm256_min_ps(a, b); }
    static F max(F a, F b) { return _mm256_max_ps(a, b); }
    static F bitOr(F a, F b) { return _mm256_or_ps(a, b); }
    static F select(F mask, F whenSet, F otherwise) {
        return _mm256_or_ps(_mm256_and_ps(mask, whenSet), _mm256_andnot_ps(mask, otherwise));
    }
    static F magnitude(F v) { return _mm256_and_ps(v, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF))); }
    static F less(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LT_OS); }
    static bool any(F mask) { return _mm256_movemask_ps(mask) != 0; }
    static F lowLowHighHigh(F v) { return _mm256_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 0, 0)); }
    static F fromBits(const uint32_t* bits) { return _mm256_castsi256_ps(loadI(reinterpret_cast<const int32_t*>(bits))); }
    static F broadcastGroups(const float* values) {
        return _mm256_setr_ps(values[0], values[0], values[0], values[0], values[1], values[1], values[1], values[1]);
    }
    static F pickDiagonal(const F rows[4]) {
        F picked = _mm256_blend_ps(rows[0], rows[1], 0x22);
        picked = _mm256_blend_ps(picked, rows[2], 0x44);
        return _mm256_blend_ps(picked, rows[3], 0x88);
    }

    static I set1I(int32_t v) { return _mm256_set1_epi32(v); }
    static I loadI(const int32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void storeI(int32_t* p, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static I subI(I a, I b) { return _mm256_sub_epi32(a, b); }
    static I greaterI(I a, I b) { return _mm256_cmpgt_epi32(a, b); }
    static I selectI(F mask, I whenSet, I otherwise) {
        const I m = _mm256_castps_si256(mask);
        return _mm256_or_si256(_mm256_and_si256(m, whenSet), _mm256_andnot_si256(m, otherwise));
    }
    static I andI(I a, I b) { return _mm256_and_si256(a, b); }
    static F asFloat(I v) { return _mm256_castsi256_ps(v); }

    // storeGroupSums of SseLanes for each group: the low group's sums at out[0], the high group's at out[1].
    static void storeGroupSums(const F rows[4], float* const* out, uint32_t i) {
        const F low01 = _mm256_unpacklo_ps(rows[0], rows[1]), low23 = _mm256_unpacklo_ps(rows[2], rows[3]);
        const F high01 = _mm256_unpackhi_ps(rows[0], rows[1]), high23 = _mm256_unpackhi_ps(rows[2], rows[3]);
        const F l0 = _mm256_shuffle_ps(low01, low23, _MM_SHUFFLE(1, 0, 1, 0));
        const F l1 = _mm256_shuffle_ps(low01, low23, _MM_SHUFFLE(3, 2, 3, 2));
        const F l2 = _mm256_shuffle_ps(high01, high23, _MM_SHUFFLE(1, 0, 1, 0));
        const F l3 = _mm256_shuffle_ps(high01, high23, _MM_SHUFFLE(3, 2, 3, 2));
        const F sum = _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(l0, l1), l2), l3);
        _mm_storeu_ps(out[0] + i, _mm256_castps256_ps128(sum));
        _mm_storeu_ps(out[1] + i, _mm256_extractf128_ps(sum, 1));
    }
};

#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")

// Sixteen lanes, with only what the true-peak interpolation needs.
struct Avx512Lanes {
    using F = __m512;
    static constexpr int width = 16;

    static F zero() { return _mm512_setzero_ps(); }
    static F set1(float v) { return _mm512_set1_ps(v); }
    static F load(const float* p) { return _mm512_loadu_ps(p); }
    static void store(float* p, F v) { _mm512_storeu_ps(p, v); }
    static F add(F a, F b) { return _mm512_add_ps(a, b); }
    static F mul(F a, F b) { return _mm512_mul_ps(a, b); }
    static F max(F a, F b) { return _mm512_max_ps(a, b); }
    // The float AND needs AVX-512 DQ; the integer one gives the same bits.
    static F magnitude(F v) {
        return _mm512_castsi512_ps(_mm512_and_si512(_mm512_castps_si512(v), _mm512_set1_epi32(0x7FFFFFFF)));
    }
};

#pragma GCC pop_options

#endif

} // namespace orvanta
