// Shared by the fuzz targets: how an input becomes a document.
//
// Page-store inputs are page records rather than raw files, so that a seed of four 64 KiB
// pages stays a few hundred bytes and mutations land on bytes the reader looks at:
//   record := u16 length L (little-endian), then L bytes
// Each record is one file page: its bytes, zero-padded to 65536. A record whose L runs past
// the end of the input contributes the bytes that remain unpadded, as a trailing partial page,
// and ends the file. At most kMaxFuzzPages pages are made; later records are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Platform.h"

namespace fuzz {

constexpr uint32_t kFilePageSize = 0x10000;
// Keeps one execution's stream at a few MiB; blobs are bounded by the file's pages anyway.
constexpr size_t kMaxFuzzPages = 48;
// Thumbnail edges the provider targets ask for: 0 to 512.
constexpr uint32_t kMaxFuzzEdge = 512;

// Consumes an input front to back; reads past the end give zeros.
class InputCursor {
public:
    InputCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t U16() {
        uint16_t lo = Byte();
        return static_cast<uint16_t>(lo | Byte() << 8);
    }
    const uint8_t* Rest() const { return data_ + pos_; }
    size_t Remaining() const { return size_ - pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// The file that the page records of `cursor` describe (consumes the rest of the input).
std::vector<uint8_t> ExpandPageRecords(InputCursor& cursor);
// The records of a whole file: each page's bytes up to its last non-zero byte. Pages whose
// content reaches the last byte of the page cannot be written (their length would not fit);
// false then. A trailing partial page is written as a record that runs past the input's end.
bool EncodePageRecords(const std::vector<uint8_t>& file, std::vector<uint8_t>& out);

// A read-only stream over `bytes` (reference count 1).
IStream* MemoryStream(const std::vector<uint8_t>& bytes);

}  // namespace fuzz
