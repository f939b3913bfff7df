// The read-only page store over a page mapper: the current head page, the map chain, and the
// virtual-to-file page lookup.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

#include "readers/pagestore/ReadablePageStore.h"
#include "readers/pagestore/SeekPageMapper.h"

namespace pagestore {

// Page-map capacities: entries in the head page and in each map page.
constexpr int64_t kHeadEntries = 4094;
constexpr int64_t kMapPageEntries = 4095;

// The current head page: which file page it came from (0 or 1) and its buffer.
struct HeadPage {
    uint32_t index = 0;
    uint8_t* page = nullptr;
};

// The head page (not owned) and the map page buffers in chain order.
struct PageMap {
    const HeadPage* head = nullptr;
    std::vector<uint8_t*> mapPages;
};

template <class Mapper>
class RPageStore final : public ReadablePageStore {
public:
    explicit RPageStore(Mapper&& mapper);
    ~RPageStore() override;
    RPageStore(const RPageStore&) = delete;
    RPageStore& operator=(const RPageStore&) = delete;

    uint8_t* ReadPage(int64_t vidx) override;
    void ReleasePage(uint8_t* page, int64_t vidx) override;
    bool HasPage(int64_t vidx) override;
    void Describe(int64_t vidx, std::ostream& out) override;
    uint8_t Version() override;
    bool TryReleasePage(uint8_t* page, int64_t vidx) noexcept override;

    // Reads both head pages, keeps the newer, loads the map chain. Pages read so far stay
    // owned by the store, so a failure part way is cleaned up by the destructor.
    void Open();
    uint32_t HeadIndex() const { return head_.index; }
    size_t MapPageCount() const { return pageMap_.mapPages.size(); }
    Mapper& PageMapper() { return mapper_; }

private:
    // The fidx of `vidx`'s entry; false when no head or map page holds that entry.
    bool LocateFidx(int64_t vidx, uint64_t& fidx) const;
    void ReleaseMapPages() noexcept;

    Mapper mapper_;
    PageMap pageMap_;
    bool mapPagesReleased_ = false;
    HeadPage head_;
};

// Opens the page store of the mapper's stream (the mapper moves into the store).
std::unique_ptr<ReadablePageStore> OpenPageStore(SeekPageMapper&& mapper);

}  // namespace pagestore
