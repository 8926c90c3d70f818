#pragma once

// The processor features the vector paths (LaneVectors.h) choose by: every check is made here.

namespace orvanta {

// Whether the processor runs AVX2 (eight float lanes per vector); asked once. Paths that use it give
// the same bits as the ones that do not.
inline bool hasAvx2() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
#else
    return false;
#endif
}

// Whether the processor runs AVX-512 F (sixteen float lanes); asked once.
inline bool hasAvx512() noexcept {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool available = __builtin_cpu_supports("avx512f");
    return available;
#else
    return false;
#endif
}

} // namespace orvanta
