// Unaligned little-endian loads, assembled byte by byte so no field is assumed aligned and the
// result does not depend on the host's byte order (compilers fold this into one load).
#pragma once

#include <cstdint>

namespace pagestore {

inline uint64_t LoadU64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

inline int64_t LoadI64(const uint8_t* p) { return static_cast<int64_t>(LoadU64(p)); }

}  // namespace pagestore
