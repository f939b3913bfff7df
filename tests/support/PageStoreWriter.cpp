#include "tests/support/PageStoreWriter.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <stdexcept>

namespace testdoc {

namespace {

constexpr int64_t kHeadEntries = 4094;
constexpr int64_t kMapPageEntries = 4095;
constexpr uint64_t kHeadSlots = 8189;
constexpr uint64_t kIndexSlots = 8191;
constexpr uint8_t kOpaque = 0xA5;

void StoreU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t LoadU64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

class PageFileStream final : public IStream {
public:
    explicit PageFileStream(std::shared_ptr<const PageFile> file) : file_(std::move(file)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream) || IsEqualIID(riid, IID_IStream)) {
            AddRef();
            *ppv = static_cast<IStream*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        uint64_t avail = pos_ < file_->size ? file_->size - pos_ : 0;
        ULONG n = static_cast<ULONG>(std::min<uint64_t>(cb, avail));
        auto* out = static_cast<uint8_t*>(pv);
        for (ULONG done = 0; done < n;) {
            uint64_t at = pos_ + done;
            uint64_t fidx = at / kPageSize;
            size_t offset = static_cast<size_t>(at % kPageSize);
            size_t chunk = std::min<size_t>(kPageSize - offset, n - done);
            auto it = file_->pages.find(fidx);
            if (it != file_->pages.end())
                std::memcpy(out + done, it->second.data() + offset, chunk);
            else
                std::memset(out + done, 0, chunk);
            done += static_cast<ULONG>(chunk);
        }
        pos_ += n;
        if (pcbRead) *pcbRead = n;
        return n == cb ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override {
        int64_t base = origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? static_cast<int64_t>(pos_)
                                                                               : static_cast<int64_t>(file_->size);
        if (origin > STREAM_SEEK_END) return STG_E_INVALIDFUNCTION;
        int64_t target = base + move.QuadPart;
        if (target < 0) return STG_E_INVALIDFUNCTION;
        pos_ = static_cast<uint64_t>(target);
        if (newPos) newPos->QuadPart = pos_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* st, DWORD) override {
        if (!st) return STG_E_INVALIDPOINTER;
        std::memset(st, 0, sizeof *st);
        st->type = STGTY_STREAM;
        st->cbSize.QuadPart = file_->size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    ~PageFileStream() = default;
    std::shared_ptr<const PageFile> file_;
    uint64_t pos_ = 0;
    ULONG refs_ = 1;
};

}  // namespace

Bytes PageFile::Flatten() const {
    Bytes out(size, 0);
    for (const auto& [fidx, page] : pages) {
        uint64_t at = fidx * kPageSize;
        if (at >= size) continue;
        std::memcpy(out.data() + at, page.data(), std::min<uint64_t>(kPageSize, size - at));
    }
    return out;
}

void PageFile::PokeU64(uint64_t fidx, size_t offset, uint64_t value) {
    Bytes& page = pages[fidx];
    page.resize(kPageSize);
    StoreU64(page.data() + offset, value);
}

void PageFile::PokeByte(uint64_t fidx, size_t offset, uint8_t value) {
    Bytes& page = pages[fidx];
    page.resize(kPageSize);
    page[offset] = value;
}

uint64_t PageFile::PeekU64(uint64_t fidx, size_t offset) const {
    auto it = pages.find(fidx);
    return it == pages.end() ? 0 : LoadU64(it->second.data() + offset);
}

IStream* CreatePageFileStream(std::shared_ptr<const PageFile> file) { return new PageFileStream(std::move(file)); }

IStream* CreateMemoryStream(const Bytes& bytes) {
    return SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
}

void PageStoreWriter::SetPage(int64_t vidx, Bytes content) {
    if (vidx < 0 || content.size() > kPageSize) throw std::invalid_argument("SetPage: bad vidx or size");
    content.resize(kPageSize);
    pages_[vidx] = std::move(content);
}

int64_t PageStoreWriter::FreeVidx(int64_t from) const {
    int64_t v = std::max<int64_t>(from, 1);
    while (pages_.count(v)) ++v;
    return v;
}

void PageStoreWriter::WriteInlineBlob(int64_t headVidx, const Bytes& content) {
    if (content.size() > kPageSize - 9) throw std::invalid_argument("inline blob too large");
    Bytes page(kPageSize, 0);
    page[0] = 1;
    StoreU64(page.data() + 1, content.size());
    if (!content.empty()) std::memcpy(page.data() + 9, content.data(), content.size());
    SetPage(headVidx, std::move(page));
}

std::vector<int64_t> PageStoreWriter::WritePagedBlobHead(int64_t headVidx, uint64_t blobSize,
                                                          const std::vector<int64_t>& dataPages, int64_t indexFrom,
                                                          uint8_t kind) {
    Bytes head(kPageSize, 0);
    head[0] = kind;
    StoreU64(head.data() + 1, blobSize);
    size_t inHead = std::min<size_t>(dataPages.size(), kHeadSlots);
    for (size_t j = 0; j < inHead; ++j) StoreU64(head.data() + 17 + 8 * j, static_cast<uint64_t>(dataPages[j]));
    // Reserve the head first so index pages do not land on it.
    SetPage(headVidx, head);

    std::vector<int64_t> indexVidx;
    std::vector<Bytes> indexPages;
    for (size_t j = inHead; j < dataPages.size(); j += kIndexSlots) {
        int64_t v = FreeVidx(indexFrom);
        SetPage(v, Bytes{});  // reserve
        indexVidx.push_back(v);
        Bytes page(kPageSize, 0);
        size_t n = std::min<size_t>(kIndexSlots, dataPages.size() - j);
        for (size_t i = 0; i < n; ++i) StoreU64(page.data() + 8 + 8 * i, static_cast<uint64_t>(dataPages[j + i]));
        indexPages.push_back(std::move(page));
    }
    for (size_t i = 0; i < indexPages.size(); ++i) {
        StoreU64(indexPages[i].data(), i + 1 < indexPages.size() ? static_cast<uint64_t>(indexVidx[i + 1]) : ~0ull);
        SetPage(indexVidx[i], std::move(indexPages[i]));
    }
    StoreU64(head.data() + 9, indexVidx.empty() ? ~0ull : static_cast<uint64_t>(indexVidx[0]));
    SetPage(headVidx, std::move(head));
    return indexVidx;
}

void PageStoreWriter::WriteBlob(int64_t headVidx, const Bytes& content, BlobForm form, int64_t pagesFrom) {
    if (form == BlobForm::Inline || (form == BlobForm::Auto && content.size() <= kPageSize - 9)) {
        WriteInlineBlob(headVidx, content);
        return;
    }
    SetPage(headVidx, Bytes{});  // reserve the head
    std::vector<int64_t> dataPages;
    std::map<Bytes, int64_t> written;
    for (size_t at = 0; at < content.size(); at += kPageSize) {
        size_t n = std::min<size_t>(kPageSize, content.size() - at);
        Bytes page(content.begin() + static_cast<ptrdiff_t>(at), content.begin() + static_cast<ptrdiff_t>(at + n));
        page.resize(kPageSize);
        if (options_.shareIdenticalPages) {
            auto it = written.find(page);
            if (it != written.end()) {
                dataPages.push_back(it->second);
                continue;
            }
        }
        int64_t v = FreeVidx(pagesFrom);
        if (options_.shareIdenticalPages) written.emplace(page, v);
        SetPage(v, std::move(page));
        dataPages.push_back(v);
    }
    WritePagedBlobHead(headVidx, content.size(), dataPages, pagesFrom);
}

PageFile PageStoreWriter::Finish() {
    int64_t maxVidx = pages_.empty() ? -1 : pages_.rbegin()->first;
    uint64_t mapPages = maxVidx < kHeadEntries ? 0 : static_cast<uint64_t>((maxVidx - kHeadEntries) / kMapPageEntries + 1);
    mapPages += options_.extraMapPages;

    // Everything that needs a file page: virtual pages (by vidx), then map pages (as -1 - k).
    std::vector<int64_t> order;
    for (const auto& entry : pages_) order.push_back(entry.first);
    for (uint64_t k = 0; k < mapPages; ++k) order.push_back(-1 - static_cast<int64_t>(k));
    if (options_.shuffleSeed) {
        std::mt19937 rng(options_.shuffleSeed);
        std::shuffle(order.begin(), order.end(), rng);
    }
    fidx_.clear();
    mapPageFidx_.assign(mapPages, 0);
    PageFile file;
    for (size_t i = 0; i < order.size(); ++i) {
        uint64_t fidx = 2 + i;
        if (order[i] >= 0) {
            fidx_[order[i]] = fidx;
            file.pages[fidx] = pages_[order[i]];
        } else {
            mapPageFidx_[static_cast<size_t>(-1 - order[i])] = fidx;
        }
    }

    Bytes head(kPageSize, 0);
    std::memcpy(head.data(), "hzd", 3);
    head[3] = options_.version;
    StoreU64(head.data() + 4, static_cast<uint64_t>(options_.currentGeneration));
    std::memset(head.data() + 12, kOpaque, 8);
    StoreU64(head.data() + 20, mapPages ? mapPageFidx_[0] : 0);
    std::vector<Bytes> maps(mapPages, Bytes(kPageSize, 0));
    for (uint64_t k = 0; k < mapPages; ++k) {
        std::memset(maps[k].data(), kOpaque, 8);
        StoreU64(maps[k].data() + 8, k + 1 < mapPages ? mapPageFidx_[k + 1] : 0);
    }
    auto entryAt = [&](int64_t v) -> uint8_t* {
        if (v < kHeadEntries) return head.data() + 28 + 16 * v;
        int64_t w = v - kHeadEntries;
        return maps[static_cast<size_t>(w / kMapPageEntries)].data() + 16 + 16 * (w % kMapPageEntries);
    };
    for (const auto& [v, fidx] : fidx_) {
        uint8_t* e = entryAt(v);
        std::memset(e, kOpaque, 8);
        StoreU64(e + 8, fidx);
    }
    for (uint64_t k = 0; k < mapPages; ++k) file.pages[mapPageFidx_[k]] = std::move(maps[k]);

    Bytes stale = head;
    StoreU64(stale.data() + 4, static_cast<uint64_t>(options_.staleGeneration));
    if (options_.staleHeadEmpty) {
        StoreU64(stale.data() + 20, 0);
        std::memset(stale.data() + 28, 0, kPageSize - 28);
    }
    uint32_t current = options_.currentHead ? 1 : 0;
    file.pages[current] = std::move(head);
    file.pages[1 - current] = std::move(stale);

    uint64_t filePages = std::max<uint64_t>(2 + order.size(), options_.minFilePages);
    file.size = filePages * kPageSize + options_.trailingBytes;
    return file;
}

uint64_t PageStoreWriter::FidxOf(int64_t vidx) const {
    auto it = fidx_.find(vidx);
    return it == fidx_.end() ? 0 : it->second;
}

}  // namespace testdoc
