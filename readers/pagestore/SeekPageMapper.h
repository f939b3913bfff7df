// The stream side of a page store: reads 64 KiB file pages out of the host's IStream into heap
// buffers and keeps track of every buffer it has handed out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"
#include "readers/pagestore/LivePageSet.h"
#include "readers/pagestore/PageReadFunction.h"

namespace pagestore {

constexpr uint32_t kPageSize = 0x10000;

// Process-wide bookkeeping of page buffers, for tests and diagnostics: buffers handed out and
// not yet given back, and buffers that were still out when their mapper was destroyed (each
// one a release a caller forgot; the mapper frees them).
size_t LivePageBufferCount();
size_t UnreturnedPageBufferCount();

class SeekPageMapper {
public:
    // Binds the read function to `stream` (which must outlive the mapper) and asks the stream
    // for its size. Throws ThumbError("Fail to stat.") when Stat fails.
    explicit SeekPageMapper(IStream*& stream);
    // A mapper over any byte source of `streamSize` bytes.
    SeekPageMapper(uint64_t streamSize, PageReadFunction read);
    SeekPageMapper(SeekPageMapper&& other) noexcept;
    SeekPageMapper& operator=(SeekPageMapper&&) = delete;
    SeekPageMapper(const SeekPageMapper&) = delete;
    ~SeekPageMapper();

    // A new live buffer holding file page `fidx`. Whether the page exists is for the stream's
    // Seek and Read to say, not for the size Stat reported; a page whose offset no stream can
    // reach (2^63 bytes and beyond) fails as a short read does ("Can't read enough").
    uint8_t* ReadFilePage(uint64_t fidx);
    // Gives a buffer back; throws std::runtime_error("IO error") when it is not live (a buffer
    // released twice included).
    void ReleaseFilePage(uint8_t* page);
    // The same for destructors and unwinding: answers false instead of throwing.
    bool TryReleaseFilePage(uint8_t* page) noexcept;

    // The size Stat reported, and its whole pages: shown by Describe, never used to judge a read.
    uint64_t StreamSize() const { return size_; }
    uint64_t PageCount() const { return size_ / kPageSize; }
    size_t LiveCount() const { return live_.Size(); }

private:
    uint8_t* TakeBuffer() noexcept;
    void KeepOrFree(uint8_t* page) noexcept;

    uint64_t size_ = 0;
    PageReadFunction read_;
    LivePageSet live_;
    // Released buffers kept for the next read, so sequential reading does not allocate.
    static constexpr int kSpareCapacity = 4;
    uint8_t* spare_[kSpareCapacity] = {};
    int spareCount_ = 0;
};

}  // namespace pagestore
