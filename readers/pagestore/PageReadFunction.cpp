#include "readers/pagestore/PageReadFunction.h"

#include "readers/pagestore/Errors.h"

namespace pagestore {

PageReadFunction StreamReadFunction(IStream*& stream) {
    IStream** bound = &stream;
    return [bound](uint64_t offset, uint8_t* buffer, int size) -> int {
        if (size < 0) throw ThumbError("Can't read enough");
        LARGE_INTEGER move;
        move.QuadPart = static_cast<LONGLONG>(offset);
        if (FAILED((*bound)->Seek(move, STREAM_SEEK_SET, nullptr))) throw ThumbError("Seek fail");
        ULONG got = 0;
        if (FAILED((*bound)->Read(buffer, static_cast<ULONG>(size), &got))) throw ThumbError("Read fail");
        if (got != static_cast<ULONG>(size)) throw ThumbError("Can't read enough");
        return static_cast<int>(got);
    };
}

}  // namespace pagestore
