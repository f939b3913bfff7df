#include "fuzz/FuzzSupport.h"

#include <algorithm>

namespace fuzz {

namespace {

// The page-store reader's message box would print one line per failing input; the fuzzer's
// own output is what matters here.
int QuietMessageBox(HWND, LPCWSTR, LPCWSTR, UINT) { return IDOK; }
const bool kQuiet = (SetMessageBoxSink(&QuietMessageBox), true);

}  // namespace

std::vector<uint8_t> ExpandPageRecords(InputCursor& cursor) {
    std::vector<uint8_t> file;
    for (size_t pages = 0; pages < kMaxFuzzPages && cursor.Remaining() >= 2; ++pages) {
        const size_t length = cursor.U16();
        const size_t take = std::min(length, cursor.Remaining());
        const uint8_t* bytes = cursor.Rest();
        file.insert(file.end(), bytes, bytes + take);
        for (size_t i = 0; i < take; ++i) cursor.Byte();
        if (take < length) break;  // a trailing partial page ends the file
        file.resize(file.size() + (kFilePageSize - take), 0);
    }
    return file;
}

bool EncodePageRecords(const std::vector<uint8_t>& file, std::vector<uint8_t>& out) {
    auto putLength = [&out](size_t length) {
        out.push_back(static_cast<uint8_t>(length));
        out.push_back(static_cast<uint8_t>(length >> 8));
    };
    const size_t whole = file.size() / kFilePageSize;
    if (whole > kMaxFuzzPages) return false;
    for (size_t page = 0; page < whole; ++page) {
        const uint8_t* begin = file.data() + page * kFilePageSize;
        size_t length = kFilePageSize;
        while (length > 0 && begin[length - 1] == 0) --length;
        if (length > 0xFFFF) return false;
        putLength(length);
        out.insert(out.end(), begin, begin + length);
    }
    const size_t tail = file.size() % kFilePageSize;
    if (tail == 0) return true;
    if (tail >= 0xFFFF || whole == kMaxFuzzPages) return false;
    putLength(0xFFFF);  // longer than what follows: the bytes are a partial page
    out.insert(out.end(), file.end() - static_cast<ptrdiff_t>(tail), file.end());
    return true;
}

IStream* MemoryStream(const std::vector<uint8_t>& bytes) {
    static const BYTE kEmpty = 0;
    return SHCreateMemStream(bytes.empty() ? &kEmpty : bytes.data(), static_cast<UINT>(bytes.size()));
}

}  // namespace fuzz
