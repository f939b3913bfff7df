// Writes page-store containers for tests, fuzz seeds, benchmarks and samples.
//
// Pages are placed by virtual index (SetPage, or the blob writers); Finish lays them out as
// file pages behind the two head pages, in order or shuffled, adds the map pages the highest
// virtual index needs, and fills the page map. The result is a PageFile: only the pages that
// hold something are stored, so very large (mostly empty) files stay cheap. Flatten() gives
// the plain bytes for an in-memory stream; CreatePageFileStream serves it without copying.
//
// Fields the reader does not interpret (head bytes 12-19, map page bytes 0-7, the first 8
// bytes of every map entry) are filled with 0xA5 so that a reader using them shows up.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/Platform.h"

namespace testdoc {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kPageSize = 0x10000;

// A container file: `size` bytes, of which the pages in `pages` hold content (each exactly
// kPageSize bytes) and every other byte is 0.
struct PageFile {
    uint64_t size = 0;
    std::map<uint64_t, Bytes> pages;

    Bytes Flatten() const;
    // Corruption helpers: write into file page `fidx` (created zero-filled if absent).
    void PokeU64(uint64_t fidx, size_t offset, uint64_t value);
    void PokeByte(uint64_t fidx, size_t offset, uint8_t value);
    uint64_t PeekU64(uint64_t fidx, size_t offset) const;
};

// A read-only stream over a PageFile (reference count 1).
IStream* CreatePageFileStream(std::shared_ptr<const PageFile> file);
// SHCreateMemStream over the flattened bytes (reference count 1).
IStream* CreateMemoryStream(const Bytes& bytes);

enum class BlobForm { Auto, Inline, Paged };

class PageStoreWriter {
public:
    struct Options {
        uint8_t version = 1;
        int64_t currentGeneration = 2;
        int64_t staleGeneration = 1;
        uint32_t currentHead = 1;     // file page (0 or 1) that holds the current head
        bool staleHeadEmpty = true;   // the stale head maps nothing; otherwise it is a copy
        uint32_t shuffleSeed = 0;     // 0: file pages in virtual order; else a seeded shuffle
        uint64_t extraMapPages = 0;   // map pages beyond what the highest vidx needs
        uint64_t minFilePages = 0;    // pad the file with empty pages up to this count
        uint64_t trailingBytes = 0;   // bytes of a partial page after the last whole page
        bool shareIdenticalPages = false;  // WriteBlob: equal data pages of a blob get one vidx
    };

    PageStoreWriter() : PageStoreWriter(Options{}) {}
    explicit PageStoreWriter(Options options) : options_(options) {}

    // Places `content` (at most kPageSize bytes, zero padded) at virtual page `vidx`.
    void SetPage(int64_t vidx, Bytes content);
    bool HasPage(int64_t vidx) const { return pages_.count(vidx) != 0; }
    // Lowest unused virtual index >= `from` (never 0: that is blob 0's head).
    int64_t FreeVidx(int64_t from = 1) const;

    // Inline blob: kind 1, size, content in the head page (at most 65527 bytes).
    void WriteInlineBlob(int64_t headVidx, const Bytes& content);
    // Paged blob whose data pages are given: head table, then index pages at free virtual
    // indexes >= `indexFrom`. Returns the index pages' virtual indexes in chain order.
    std::vector<int64_t> WritePagedBlobHead(int64_t headVidx, uint64_t blobSize, const std::vector<int64_t>& dataPages,
                                            int64_t indexFrom = 1, uint8_t kind = 0);
    // Any blob: inline when it fits (Auto) or asked, else paged with data pages at free
    // virtual indexes >= `pagesFrom` (one page for all equal ones with shareIdenticalPages).
    void WriteBlob(int64_t headVidx, const Bytes& content, BlobForm form = BlobForm::Auto, int64_t pagesFrom = 1);

    PageFile Finish();

    // After Finish: where things landed.
    uint64_t FidxOf(int64_t vidx) const;
    const std::vector<uint64_t>& MapPageFidx() const { return mapPageFidx_; }

private:
    Options options_;
    std::map<int64_t, Bytes> pages_;
    std::map<int64_t, uint64_t> fidx_;
    std::vector<uint64_t> mapPageFidx_;
};

}  // namespace testdoc
