#pragma once

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

} // namespace orvanta
