// Counts taken before a provider input runs and checked after it: every COM object released,
// every bitmap deleted, every page buffer given back by the reader that took it (the mapper
// would free a forgotten one silently, so ASan alone would not tell). A violation aborts,
// which the fuzzer reports as a crash with the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "platform/Platform.h"
#include "readers/pagestore/SeekPageMapper.h"
#include "server/Exports.h"

namespace fuzz {

class Accounting {
public:
    Accounting()
        : bitmaps_(platform::gdi::LiveBitmapCount()), unreturnedPages_(pagestore::UnreturnedPageBufferCount()) {}

    void Check() const {
        Expect(DllCanUnloadNow() == S_OK, "COM objects still alive");
        Expect(platform::gdi::LiveBitmapCount() == bitmaps_, "bitmap not deleted");
        Expect(pagestore::LivePageBufferCount() == 0, "page buffers still live");
        Expect(pagestore::UnreturnedPageBufferCount() == unreturnedPages_, "page buffers never given back");
    }

private:
    static void Expect(bool ok, const char* what) {
        if (ok) return;
        std::fprintf(stderr, "fuzz accounting: %s\n", what);
        std::abort();
    }

    size_t bitmaps_;
    size_t unreturnedPages_;
};

}  // namespace fuzz
