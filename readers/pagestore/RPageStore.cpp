#include "readers/pagestore/RPageStore.h"

#include <stdexcept>
#include <unordered_set>
#include <utility>

#include "readers/pagestore/LittleEndian.h"

namespace pagestore {

namespace {
// Head page fields.
constexpr size_t kVersionOffset = 3;
constexpr size_t kGenerationOffset = 4;
constexpr size_t kFirstMapPageOffset = 20;
constexpr size_t kHeadFidxOffset = 36;  // fidx of entry 0 (entries start at 28)
// Map page fields.
constexpr size_t kNextMapPageOffset = 8;
constexpr size_t kMapFidxOffset = 24;  // fidx of entry 0 (entries start at 16)
constexpr size_t kEntrySize = 16;
}  // namespace

template <class Mapper>
RPageStore<Mapper>::RPageStore(Mapper&& mapper) : mapper_(std::move(mapper)) {
    pageMap_.head = &head_;
}

template <class Mapper>
RPageStore<Mapper>::~RPageStore() {
    // Never throws: a store is destroyed on failure paths too, while an exception is in flight.
    if (head_.page) mapper_.TryReleaseFilePage(head_.page);
    head_.page = nullptr;
    ReleaseMapPages();
}

template <class Mapper>
void RPageStore<Mapper>::ReleaseMapPages() noexcept {
    if (mapPagesReleased_) return;
    for (uint8_t* page : pageMap_.mapPages)
        if (page) mapper_.TryReleaseFilePage(page);
    pageMap_.mapPages.clear();
    mapPagesReleased_ = true;
}

template <class Mapper>
void RPageStore<Mapper>::Open() {
    head_ = {0, mapper_.ReadFilePage(0)};
    uint8_t* p1 = mapper_.ReadFilePage(1);
    // The greater generation (signed) wins; on a tie page 1 is current.
    if (LoadI64(head_.page + kGenerationOffset) > LoadI64(p1 + kGenerationOffset)) {
        mapper_.TryReleaseFilePage(p1);
    } else {
        mapper_.TryReleaseFilePage(head_.page);
        head_ = {1, p1};
    }

    // Every map page is a distinct file page inside the stream (ReadFilePage refuses the
    // rest), so a chain that meets a page twice loops and the length is bounded by the file.
    std::unordered_set<uint64_t> seen;
    for (uint64_t f = LoadU64(head_.page + kFirstMapPageOffset); f != 0;) {
        if (!seen.insert(f).second) throw std::runtime_error("Invalid map chain");
        // The slot first: once a page is read, nothing may throw before the store owns it.
        pageMap_.mapPages.push_back(nullptr);
        uint8_t* page = pageMap_.mapPages.back() = mapper_.ReadFilePage(f);
        f = LoadU64(page + kNextMapPageOffset);
    }
}

template <class Mapper>
bool RPageStore<Mapper>::LocateFidx(int64_t vidx, uint64_t& fidx) const {
    if (vidx < 0 || !head_.page) return false;
    if (vidx < kHeadEntries) {
        fidx = LoadU64(head_.page + kHeadFidxOffset + kEntrySize * static_cast<size_t>(vidx));
        return true;
    }
    int64_t w = vidx - kHeadEntries;
    uint64_t k = static_cast<uint64_t>(w / kMapPageEntries);
    size_t r = static_cast<size_t>(w % kMapPageEntries);
    if (k >= pageMap_.mapPages.size()) return false;
    fidx = LoadU64(pageMap_.mapPages[k] + kMapFidxOffset + kEntrySize * r);
    return true;
}

template <class Mapper>
uint8_t* RPageStore<Mapper>::ReadPage(int64_t vidx) {
    uint64_t fidx;
    if (!LocateFidx(vidx, fidx)) throw std::runtime_error("Invalid vidx");
    // fidx 0 is not refused: it reads file page 0, a head page; only HasPage tells.
    return mapper_.ReadFilePage(fidx);
}

template <class Mapper>
void RPageStore<Mapper>::ReleasePage(uint8_t* page, int64_t) {
    mapper_.ReleaseFilePage(page);
}

template <class Mapper>
bool RPageStore<Mapper>::TryReleasePage(uint8_t* page, int64_t) noexcept {
    return mapper_.TryReleaseFilePage(page);
}

template <class Mapper>
bool RPageStore<Mapper>::HasPage(int64_t vidx) {
    uint64_t fidx;
    return LocateFidx(vidx, fidx) && fidx != 0;
}

template <class Mapper>
void RPageStore<Mapper>::Describe(int64_t vidx, std::ostream& out) {
    uint64_t fidx = 0;
    if (!LocateFidx(vidx, fidx)) fidx = 0;
    out << "vidx: " << vidx << ", fidx: " << fidx << "\n"
        << "pageNum: " << mapper_.PageCount() << "\n";
}

template <class Mapper>
uint8_t RPageStore<Mapper>::Version() {
    return head_.page ? head_.page[kVersionOffset] : 0;
}

template class RPageStore<SeekPageMapper>;

std::unique_ptr<ReadablePageStore> OpenPageStore(SeekPageMapper&& mapper) {
    auto store = std::make_unique<RPageStore<SeekPageMapper>>(std::move(mapper));
    store->Open();
    return store;
}

}  // namespace pagestore
