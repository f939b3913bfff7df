// Internal: compaction table of the vector kernels.
//
// The vector kernels lay out four code units as four 32-bit slots, each holding the unit's
// UTF-8 bytes from its lowest byte up (one, two or three bytes; each half of a surrogate pair
// contributes two). A group index has two bits per unit k: bit 2k set when the unit needs more
// than one byte, bit 2k+1 set when it needs three. The entry's shuffle gathers the used bytes to
// the front of a 16-byte register; `length` says how many there are (at most 12).
#pragma once

#include <array>
#include <cstdint>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define BABEL_X86_KERNELS 1
#else
#define BABEL_X86_KERNELS 0
#endif

namespace babel::detail {

struct group_table {
    alignas(16) uint8_t shuffle[256][16];
    uint8_t length[256];
};

inline constexpr group_table make_group_table() {
    group_table t{};
    for (unsigned index = 0; index < 256; ++index) {
        unsigned out = 0;
        for (unsigned unit = 0; unit < 4; ++unit) {
            unsigned bytes = 1 + ((index >> (2 * unit)) & 1) + ((index >> (2 * unit + 1)) & 1);
            for (unsigned b = 0; b < bytes; ++b)
                t.shuffle[index][out++] = static_cast<uint8_t>(4 * unit + b);
        }
        t.length[index] = static_cast<uint8_t>(out);
        for (unsigned k = out; k < 16; ++k)
            t.shuffle[index][k] = 0x80;  // pshufb writes zero; the bytes are overwritten later
    }
    return t;
}

inline constexpr group_table kGroupTable = make_group_table();

}  // namespace babel::detail
