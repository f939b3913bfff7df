// The page-store reading interface: virtual pages in, 64 KiB page buffers out.
#pragma once

#include <cstdint>
#include <ostream>

namespace pagestore {

class ReadablePageStore {
public:
    // A fresh buffer holding virtual page `vidx`; every call reads the stream. Give it back
    // with ReleasePage. A `vidx` the page map does not cover throws std::runtime_error.
    virtual uint8_t* ReadPage(int64_t vidx) = 0;
    // Gives a buffer back (`vidx` is the index it was read for). Throws
    // std::runtime_error("IO error") for a buffer that is not live.
    virtual void ReleasePage(uint8_t* page, int64_t vidx) = 0;
    virtual ~ReadablePageStore() = default;
    // True when the page map gives `vidx` a file page (its fidx is not 0).
    virtual bool HasPage(int64_t vidx) = 0;
    // "vidx: <vidx>, fidx: <fidx>\npageNum: <whole pages in the stream>\n" in the stream's
    // number format; a `vidx` outside the map shows fidx 0.
    virtual void Describe(int64_t vidx, std::ostream& out) = 0;
    // Byte 3 of the current head page (0 without one).
    virtual uint8_t Version() = 0;

    // ReleasePage for destructors and unwinding: false instead of an exception.
    virtual bool TryReleasePage(uint8_t* page, int64_t vidx) noexcept = 0;
};

}  // namespace pagestore
