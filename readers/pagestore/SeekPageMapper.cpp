#include "readers/pagestore/SeekPageMapper.h"

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "readers/pagestore/Errors.h"

namespace pagestore {

namespace {
constexpr uint64_t kMaxFileOffset = 0x7FFFFFFFFFFFFFFFull;
std::atomic<size_t> liveBuffers{0};
std::atomic<size_t> unreturnedBuffers{0};
}  // namespace

size_t LivePageBufferCount() { return liveBuffers.load(std::memory_order_relaxed); }
size_t UnreturnedPageBufferCount() { return unreturnedBuffers.load(std::memory_order_relaxed); }

SeekPageMapper::SeekPageMapper(IStream*& stream) : read_(StreamReadFunction(stream)) {
    STATSTG stat{};
    if (!stream || FAILED(stream->Stat(&stat, STATFLAG_NONAME))) throw ThumbError("Fail to stat.");
    size_ = stat.cbSize.QuadPart;
}

SeekPageMapper::SeekPageMapper(uint64_t streamSize, PageReadFunction read)
    : size_(streamSize), read_(std::move(read)) {}

SeekPageMapper::SeekPageMapper(SeekPageMapper&& other) noexcept
    : size_(other.size_), read_(std::move(other.read_)), live_(std::move(other.live_)),
      spareCount_(std::exchange(other.spareCount_, 0)) {
    for (int i = 0; i < spareCount_; ++i) spare_[i] = std::exchange(other.spare_[i], nullptr);
}

SeekPageMapper::~SeekPageMapper() {
    live_.Drain([](uint8_t* page) {
        std::free(page);
        liveBuffers.fetch_sub(1, std::memory_order_relaxed);
        unreturnedBuffers.fetch_add(1, std::memory_order_relaxed);
    });
    for (int i = 0; i < spareCount_; ++i) std::free(spare_[i]);
}

uint8_t* SeekPageMapper::TakeBuffer() noexcept {
    if (spareCount_ > 0) return spare_[--spareCount_];
    return static_cast<uint8_t*>(std::malloc(kPageSize));
}

void SeekPageMapper::KeepOrFree(uint8_t* page) noexcept {
    if (spareCount_ < kSpareCapacity)
        spare_[spareCount_++] = page;
    else
        std::free(page);
}

uint8_t* SeekPageMapper::ReadFilePage(uint64_t fidx) {
    // Offsets are signed 64-bit for the stream; this also keeps fidx << 16 from wrapping onto a
    // low page.
    if (fidx > kMaxFileOffset >> 16) throw ThumbError("Can't read enough");
    uint8_t* page = TakeBuffer();
    if (!page) throw std::runtime_error("IO error");
    int got;
    try {
        got = read_(fidx << 16, page, static_cast<int>(kPageSize));
    } catch (...) {
        KeepOrFree(page);
        throw;
    }
    if (got != static_cast<int>(kPageSize)) {
        KeepOrFree(page);
        throw std::runtime_error("IO error");
    }
    switch (live_.Insert(page)) {
        case LivePageSet::InsertResult::Inserted: break;
        case LivePageSet::InsertResult::AlreadyPresent:
            // Another live buffer has this address: it is not ours to free.
            throw std::runtime_error("IO error");
        case LivePageSet::InsertResult::OutOfMemory:
            KeepOrFree(page);
            throw std::runtime_error("IO error");
    }
    liveBuffers.fetch_add(1, std::memory_order_relaxed);
    return page;
}

bool SeekPageMapper::TryReleaseFilePage(uint8_t* page) noexcept {
    if (!live_.Erase(page)) return false;
    liveBuffers.fetch_sub(1, std::memory_order_relaxed);
    KeepOrFree(page);
    return true;
}

void SeekPageMapper::ReleaseFilePage(uint8_t* page) {
    if (!TryReleaseFilePage(page)) throw std::runtime_error("IO error");
}

}  // namespace pagestore
