// A coded blob's compressed bytes as a zstd input: page by page without copying, except that
// the start of each frame is made contiguous so that its header can be read.
#pragma once

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_FRAMEHEADERSIZE_MAX
#include <zstd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "readers/pagestore/CodedBlobDecoder.h"

namespace pagestore {

class CompressedInput {
public:
    explicit CompressedInput(CodedBlobDecoder& decoder) : decoder_(decoder) {}

    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }
    void Consume(size_t n) { data_ += n, size_ -= n; }
    // The next page's bytes once these are used up; false at the end of the blob.
    bool Refill() {
        if (size_ == 0) size_ = static_cast<size_t>(decoder_.Next(data_, UINT64_MAX));
        return size_ != 0;
    }
    // At least `n` bytes (or all that remain) contiguous at Data().
    void Gather(size_t n) {
        if (size_ >= n || n > sizeof staging_) return;
        std::memmove(staging_, data_, size_);
        size_ += static_cast<size_t>(decoder_.Read(staging_ + size_, n - size_));
        data_ = staging_;
    }
    // Reads what is left, so that a page that cannot be read still fails the blob.
    void Drain() {
        size_ = 0;
        decoder_.ReadToEnd();
    }

private:
    CodedBlobDecoder& decoder_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    uint8_t staging_[ZSTD_FRAMEHEADERSIZE_MAX];
};

}  // namespace pagestore
