#include "Processor.h"

BOOL IsProcessorFeaturePresent(DWORD feature) {
#if defined(__x86_64__) || defined(__i386__)
    // The compiler's detection also checks that the OS saves the wide registers (XGETBV).
    __builtin_cpu_init();
    switch (feature) {
    case PF_SSE4_1_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("sse4.1") ? TRUE : FALSE;
    case PF_SSE4_2_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("sse4.2") ? TRUE : FALSE;
    case PF_AVX_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("avx") ? TRUE : FALSE;
    case PF_AVX2_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("avx2") ? TRUE : FALSE;
    default: return FALSE;
    }
#else
    (void)feature;
    return FALSE;
#endif
}
