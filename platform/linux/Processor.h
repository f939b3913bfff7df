// IsProcessorFeaturePresent for the instruction-set features the pixel code dispatches on.
#pragma once

#include "Types.h"

#define PF_SSE4_1_INSTRUCTIONS_AVAILABLE 37
#define PF_SSE4_2_INSTRUCTIONS_AVAILABLE 38
#define PF_AVX_INSTRUCTIONS_AVAILABLE 39
#define PF_AVX2_INSTRUCTIONS_AVAILABLE 40

// Non-zero when the processor and the operating system both support the feature; unknown
// features answer 0, as on Windows.
BOOL IsProcessorFeaturePresent(DWORD feature);
