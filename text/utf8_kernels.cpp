// Picks the fastest encoding kernel the processor supports, once.
#include "text/utf8_group_table.h"
#include "text/utf8_kernels.h"

namespace babel::detail {
namespace {

size_t encode_portable(const char16_t* s, size_t n, size_t& pos, char* out, size_t limit) {
    return encode_scalar(s, n, pos, out, limit);
}

struct kernel_list {
    encode_kernel items[3];
    size_t count = 0;
};

kernel_list detect() {
    kernel_list list;
    list.items[list.count++] = {"scalar", encode_portable};
#if BABEL_X86_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse4.1"))
        list.items[list.count++] = {"sse4.1", encode_sse41};
    if (__builtin_cpu_supports("avx2"))
        list.items[list.count++] = {"avx2", encode_avx2};
#endif
    return list;
}

const kernel_list& kernels() {
    static const kernel_list list = detect();
    return list;
}

}  // namespace

std::span<const encode_kernel> available_kernels() {
    const kernel_list& list = kernels();
    return {list.items, list.count};
}

encode_fn best_kernel() {
    static const encode_fn fn = kernels().items[kernels().count - 1].fn;
    return fn;
}

}  // namespace babel::detail
