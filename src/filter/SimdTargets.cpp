#include "filter/FilterKernels.h"

#include <hwy/targets.h>

#include <initializer_list>

namespace filter_detail {

// Clang 14's runtime knows fewer of these names (f16c, lzcnt, vaes...): its builds (the fuzzer's)
// ask the SIMD library instead.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(__clang__)

// On x86 the processor is asked directly, by the compiler's own runtime, so that the programs
// need not load the SIMD library, whose start-up code measures its timer for some 5 ms in every
// process. A target runs when the processor has every extension its code may use (the SIMD
// library's own groups) and the system saves the wider registers.
std::int64_t SupportedSimdTargets() {
    __builtin_cpu_init();
    const auto all = [](std::initializer_list<int> features) {
        for (const int f : features) {
            if (f == 0) {
                return false;
            }
        }
        return true;
    };
    std::int64_t targets = 0;
    const bool ssse3 = all({__builtin_cpu_supports("sse2"), __builtin_cpu_supports("sse3"),
                            __builtin_cpu_supports("ssse3")});
    const bool sse4 =
        ssse3 && all({__builtin_cpu_supports("sse4.1"), __builtin_cpu_supports("sse4.2"),
                      __builtin_cpu_supports("pclmul"), __builtin_cpu_supports("aes")});
    const bool avx2 = sse4 && all({__builtin_cpu_supports("avx"), __builtin_cpu_supports("avx2"),
                                   __builtin_cpu_supports("bmi"), __builtin_cpu_supports("bmi2"),
                                   __builtin_cpu_supports("fma"), __builtin_cpu_supports("f16c"),
                                   __builtin_cpu_supports("lzcnt")});
    const bool avx3 =
        avx2 && all({__builtin_cpu_supports("avx512f"), __builtin_cpu_supports("avx512vl"),
                     __builtin_cpu_supports("avx512dq"), __builtin_cpu_supports("avx512bw"),
                     __builtin_cpu_supports("avx512cd")});
    const bool avx3dl =
        avx3 && all({__builtin_cpu_supports("avx512vnni"), __builtin_cpu_supports("vpclmulqdq"),
                     __builtin_cpu_supports("avx512vbmi"), __builtin_cpu_supports("avx512vbmi2"),
                     __builtin_cpu_supports("vaes"), __builtin_cpu_supports("avx512vpopcntdq"),
                     __builtin_cpu_supports("avx512bitalg"), __builtin_cpu_supports("gfni")});
    targets |= ssse3 ? HWY_SSSE3 : 0;
    targets |= sse4 ? HWY_SSE4 : 0;
    targets |= avx2 ? HWY_AVX2 : 0;
    targets |= avx3 ? HWY_AVX3 : 0;
    targets |= avx3dl ? HWY_AVX3_DL : 0;
    return targets;
}

#else

std::int64_t SupportedSimdTargets() {
    return hwy::SupportedTargets();
}

#endif

}  // namespace filter_detail
