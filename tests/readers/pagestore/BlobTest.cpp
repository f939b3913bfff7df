// Blobs: inline and paged reading, index chains, coded blobs and the zstd context pool.
#include <gtest/gtest.h>

#include <zstd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "readers/pagestore/BlobReader.h"
#include "readers/pagestore/DecodeBlob.h"
#include "readers/pagestore/Errors.h"
#include "readers/pagestore/HzdDocument.h"
#include "tests/readers/pagestore/PageStoreTestSupport.h"
#include "tests/support/DocumentWriter.h"

namespace {

using pagestore::BlobReader;
using pagestore_test::CheckingStore;
using pagestore_test::MessageOf;
using pagestore_test::OpenBytes;
using pagestore_test::OpenSparse;
using pagestore_test::PageBufferAccounting;
using pagestore_test::Pattern;
using testdoc::BlobForm;
using testdoc::Bytes;
using testdoc::PageStoreWriter;

void PutU64(Bytes& b, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes MarkedPage(uint8_t fill) { return Bytes(testdoc::kPageSize, fill); }

Bytes ReadAll(BlobReader& reader, int chunk) {
    Bytes out;
    Bytes buffer(static_cast<size_t>(chunk));
    for (;;) {
        int64_t n = reader.Read(buffer.data(), chunk);
        if (n == 0) break;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    return out;
}

struct Decoded {
    bool ok = false;
    uint8_t coding = 0;
    uint64_t decodedSize = 0;
    Bytes bytes;
    bool handedOut = false;
};

Decoded Decode(pagestore::ReadablePageStore& store, pagestore::ZstdContextPool& pool, int64_t blob) {
    Decoded d;
    uint8_t* buffer = nullptr;
    uint64_t bufferSize = 0;
    d.ok = pagestore::DecodeBlob(store, pool, blob, d.coding, d.decodedSize, buffer, bufferSize);
    d.handedOut = buffer != nullptr;
    if (buffer) {
        d.bytes.assign(buffer, buffer + bufferSize);
        std::free(buffer);
    }
    return d;
}

class Blob : public PageBufferAccounting {};

TEST_F(Blob, InlineBlobOfFullSizeComesFromItsHeadPageAlone) {
    const Bytes content = Pattern(65527, 1);
    PageStoreWriter writer;
    writer.WriteBlob(5, content, BlobForm::Inline);
    auto opened = OpenBytes(writer.Finish().Flatten());
    CheckingStore store(opened->Store());
    {
        BlobReader reader(store, 5);
        EXPECT_TRUE(reader.IsInline());
        EXPECT_EQ(reader.BlobSize(), 65527u);
        EXPECT_EQ(ReadAll(reader, 70000), content);
    }
    EXPECT_EQ(store.reads, std::vector<int64_t>{5});
    EXPECT_EQ(store.releases, std::vector<int64_t>{5});
}

TEST_F(Blob, PagedBlobReadsTheSameWhateverTheChunkSize) {
    const Bytes content = Pattern(3 * 65536 + 12345, 2);
    PageStoreWriter::Options options;
    options.shuffleSeed = 11;
    PageStoreWriter writer(options);
    writer.WriteBlob(9, content, BlobForm::Paged, 4090);  // data pages straddle the first map page
    auto opened = OpenBytes(writer.Finish().Flatten());
    for (int chunk : {1, 4093, 65535, 65536, 65537, 200000, 1 << 20}) {
        SCOPED_TRACE(chunk);
        CheckingStore store(opened->Store());
        {
            BlobReader reader(store, 9);
            Bytes out;
            Bytes buffer(static_cast<size_t>(chunk));
            while (int64_t n = reader.Read(buffer.data(), chunk)) {
                out.insert(out.end(), buffer.begin(), buffer.begin() + n);
                // The head page and at most one data page are held at any time.
                ASSERT_LE(store.Outstanding(), 2u);
            }
            EXPECT_EQ(out, content);
        }
        EXPECT_EQ(store.reads.size(), 1u + 4u) << "each data page read exactly once";
    }
}

TEST_F(Blob, ReadStopsAtTheEndOfTheBlob) {
    PageStoreWriter writer;
    writer.WriteBlob(3, Pattern(10, 3), BlobForm::Paged);
    writer.WriteBlob(4, Pattern(10, 4), BlobForm::Inline);
    auto opened = OpenBytes(writer.Finish().Flatten());
    for (int64_t blob : {3, 4}) {
        BlobReader reader(opened->Store(), blob);
        uint8_t buffer[100];
        EXPECT_EQ(reader.Read(buffer, 4), 4);
        EXPECT_EQ(reader.Read(buffer, 100), 6);
        EXPECT_EQ(reader.Read(buffer, 100), 0);
        EXPECT_EQ(reader.Read(buffer, -5), 0);
        EXPECT_EQ(reader.Position(), 10u);
    }
}

// Blobs whose data pages repeat three real pages: a 512 MiB blob in a file of a few pages.
struct RepeatedBlob {
    testdoc::PageFile file;
    std::vector<int64_t> indexPages;
};

RepeatedBlob MakeRepeatedBlob(uint64_t dataPages, uint64_t blobSize, uint64_t filePages) {
    PageStoreWriter::Options options;
    options.minFilePages = filePages;
    PageStoreWriter writer(options);
    writer.SetPage(1, MarkedPage(0xA1));
    writer.SetPage(2, MarkedPage(0xB2));
    writer.SetPage(3, MarkedPage(0xC3));
    std::vector<int64_t> pages(dataPages);
    for (uint64_t j = 0; j < dataPages; ++j) pages[j] = j < 8189 ? 1 + int64_t(j % 2) : 3;
    RepeatedBlob blob;
    blob.indexPages = writer.WritePagedBlobHead(10, blobSize, pages, 20);
    blob.file = writer.Finish();
    return blob;
}

TEST_F(Blob, HeadTableHolds8189DataPagesAndOneMoreNeedsAnIndexPage) {
    constexpr uint64_t kHeadPages = 8189;
    {
        RepeatedBlob blob = MakeRepeatedBlob(kHeadPages, kHeadPages * 65536, 0);
        EXPECT_TRUE(blob.indexPages.empty());
        auto opened = OpenSparse(std::move(blob.file));
        BlobReader reader(opened->Store(), 10);
        Bytes buffer(1 << 20);
        uint64_t total = 0;
        while (int64_t n = reader.Read(buffer.data(), 1 << 20)) total += static_cast<uint64_t>(n);
        EXPECT_EQ(total, kHeadPages * 65536);
    }
    {
        RepeatedBlob blob = MakeRepeatedBlob(kHeadPages + 1, kHeadPages * 65536 + 1, 0);
        ASSERT_EQ(blob.indexPages.size(), 1u);
        auto opened = OpenSparse(std::move(blob.file));
        CheckingStore store(opened->Store());
        {
            BlobReader reader(store, 10);
            Bytes buffer(1 << 20);
            uint8_t last = 0;
            uint64_t total = 0;
            while (int64_t n = reader.Read(buffer.data(), 1 << 20)) {
                total += static_cast<uint64_t>(n);
                last = buffer[static_cast<size_t>(n - 1)];
            }
            EXPECT_EQ(total, kHeadPages * 65536 + 1);
            EXPECT_EQ(last, 0xC3) << "the last byte comes from the page the index page names";
        }
        // Closing: the cached data page, the index page (its own vidx), then the head.
        ASSERT_GE(store.releases.size(), 3u);
        std::vector<int64_t> tail(store.releases.end() - 3, store.releases.end());
        EXPECT_EQ(tail, (std::vector<int64_t>{3, blob.indexPages[0], 10}));
    }
}

TEST_F(Blob, DataPagesBeyondTheHeadAreFoundAcrossTheIndexChain) {
    const uint64_t count = 8189 + 8191 + 5;
    PageStoreWriter::Options options;
    options.minFilePages = count + 10;
    PageStoreWriter writer(options);
    std::vector<int64_t> pages(count);
    for (uint64_t j = 0; j < count; ++j) pages[j] = 100000 + int64_t(j);  // looked up, never read
    std::vector<int64_t> index = writer.WritePagedBlobHead(10, count * 65536, pages, 20);
    ASSERT_EQ(index.size(), 2u);
    auto opened = OpenSparse(writer.Finish());
    CheckingStore store(opened->Store());
    {
        uint8_t* head = store.ReadPage(10);
        {
            pagestore::BlobIndex blobIndex(store, head, false, count * 65536);
            EXPECT_EQ(blobIndex.IndexPageCount(), 2u);
            for (uint64_t j : {uint64_t{0}, uint64_t{8188}, uint64_t{8189}, uint64_t{8189 + 8190}, uint64_t{8189 + 8191},
                               count - 1})
                EXPECT_EQ(blobIndex.DataPageVidx(j), 100000 + int64_t(j)) << j;
        }
        store.ReleasePage(head, 10);
    }
    EXPECT_EQ(store.releases, (std::vector<int64_t>{index[0], index[1], 10}));
}

TEST_F(Blob, InvalidNextVidxNamesTheValueAndTheHeadBytes) {
    struct Case {
        int64_t nextVidx;
        const char* hex;
    };
    const Case cases[] = {{0, "0"}, {-2, "fffffffffffffffe"}, {LLONG_MIN, "8000000000000000"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        Bytes head(testdoc::kPageSize, 0);
        head[0] = 0x02;
        PutU64(head, 1, 0x10);
        PutU64(head, 9, static_cast<uint64_t>(c.nextVidx));
        head[63] = 0xAB;
        PageStoreWriter writer;
        writer.SetPage(4, head);
        auto opened = OpenBytes(writer.Finish().Flatten());

        std::string dump;
        for (int i = 0; i < 64; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x ", head[static_cast<size_t>(i)]);
            dump += hex;
        }
        const std::string expected = std::string("Invalid nextVidx: 0x") + c.hex + "\nhead: " + dump + "\n";
        EXPECT_EQ(dump.substr(0, 12), "02 10 00 00 ");
        EXPECT_EQ(dump.substr(dump.size() - 3), "ab ");

        EXPECT_EQ(MessageOf([&] { BlobReader reader(opened->Store(), 4); }), expected);

        pagestore::ZstdContextPool pool;
        const std::string described = expected + "vidx: 4, fidx: 2\npageNum: 3\n";
        EXPECT_EQ(MessageOf([&] { Decode(opened->Store(), pool, 4); }), described);

        tarn::HzdDocument document(std::move(opened->Owned()));
        uint8_t coding;
        uint64_t size, bufferSize;
        uint8_t* buffer = nullptr;
        try {
            document.DecodeBlob(4, coding, size, buffer, bufferSize);
            ADD_FAILURE() << "no exception";
        } catch (const tarn::FException& e) {
            EXPECT_EQ(e.what(), described);
            EXPECT_EQ(e.Code(), 2);
        }
        EXPECT_EQ(buffer, nullptr);
    }
}

TEST_F(Blob, CodingsDecideHowTheContentIsDecoded) {
    const Bytes plain = Pattern(300000, 5);
    Bytes truncated = testdoc::ZstdCoding(plain);
    truncated.resize(truncated.size() - 10);
    Bytes notZstd = {3, 8, 0, 0, 0, 0, 0, 0, 0, 'n', 'o', 't', ' ', 'z', 's', 't', 'd'};
    Bytes emptyFrame = {3, 0, 0, 0, 0, 0, 0, 0, 0};
    struct Case {
        const char* name;
        Bytes content;
        bool ok;
        std::optional<Bytes> decoded;  // expected bytes when ok
        uint64_t decodedSize;          // reported declared size
    };
    Bytes shortPlain(plain.begin(), plain.begin() + 1000);
    Bytes shortPadded = shortPlain;
    const Case cases[] = {
        {"stored, size 1", {0xFF}, true, Bytes{}, 0},
        {"stored", testdoc::StoredCoding(plain), true, plain, plain.size()},
        {"zstd", testdoc::ZstdCoding(plain), true, plain, plain.size()},
        {"zstd, declared larger than produced", testdoc::ZstdCoding(shortPlain, 3, 5000), true, shortPlain, 5000},
        {"zstd, declared smaller than produced", testdoc::ZstdCoding(shortPlain, 3, 500), false, std::nullopt, 500},
        {"zstd, truncated frame", truncated, false, std::nullopt, plain.size()},
        {"zstd, not a frame", notZstd, false, std::nullopt, 8},
        {"zstd, no frame at all", emptyFrame, true, Bytes{}, 0},
        {"coding 0", {0, 1, 2, 3}, false, std::nullopt, 0},
        {"coding 1", {1, 1, 2, 3}, false, std::nullopt, 0},
        {"coding 2", {2, 1, 2, 3, 4, 5, 6, 7, 8, 9}, false, std::nullopt, 0},
        {"coding 4", {4, 1, 2, 3, 4, 5, 6, 7, 8, 9}, false, std::nullopt, 0},
    };
    for (BlobForm form : {BlobForm::Auto, BlobForm::Paged}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            PageStoreWriter writer;
            writer.WriteBlob(7, c.content, form);
            auto opened = OpenBytes(writer.Finish().Flatten());
            pagestore::ZstdContextPool pool;
            Decoded d = Decode(opened->Store(), pool, 7);
            EXPECT_EQ(d.ok, c.ok);
            EXPECT_EQ(d.coding, c.content[0]);
            EXPECT_EQ(d.handedOut, c.ok) << "a block is handed out exactly when decoding succeeds";
            if (c.ok) {
                EXPECT_EQ(d.decodedSize, c.decodedSize);
                EXPECT_EQ(d.bytes, *c.decoded);
            }
        }
    }
}

TEST_F(Blob, MalformedBlobsFailWithAMessageAndTheirLocation) {
    struct Case {
        const char* name;
        std::function<void(PageStoreWriter&)> build;  // blob 7
        uint64_t filePages;
        const char* message;  // HZDError text before the Describe part
    };
    const Case cases[] = {
        {"empty blob", [](PageStoreWriter& w) { w.WriteBlob(7, {}, BlobForm::Paged); }, 0, "Empty blob"},
        {"empty inline blob", [](PageStoreWriter& w) { w.WriteBlob(7, {}, BlobForm::Inline); }, 0, "Empty blob"},
        {"inline size above 65527",
         [](PageStoreWriter& w) {
             Bytes head(testdoc::kPageSize, 0);
             head[0] = 1;
             PutU64(head, 1, 65528);
             w.SetPage(7, head);
         },
         0, "Invalid blobSize"},
        {"size needs an index page, chain ends",
         [](PageStoreWriter& w) { w.WritePagedBlobHead(7, 8190 * 65536ull, {1}, 20); }, 8200, "Invalid index chain"},
        {"stored blob of 2 GiB",
         [](PageStoreWriter& w) {
             w.SetPage(1, Bytes(testdoc::kPageSize, 0xFF));
             w.WritePagedBlobHead(7, 1ull << 31, std::vector<int64_t>(32768, 1), 20);
         },
         33000, "Blob too large"},
        {"zstd declared 2 GiB",
         [](PageStoreWriter& w) { w.WriteBlob(7, testdoc::ZstdCoding(Pattern(100, 1), 3, 1ull << 31)); }, 0,
         "Blob too large"},
        {"zstd header cut short", [](PageStoreWriter& w) { w.WriteBlob(7, {3, 1, 0, 0, 0}); }, 0, "Truncated zstd blob"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PageStoreWriter::Options options;
        options.minFilePages = c.filePages;
        PageStoreWriter writer(options);
        c.build(writer);
        testdoc::PageFile file = writer.Finish();
        const uint64_t fidx = writer.FidxOf(7);
        const uint64_t pages = file.size / testdoc::kPageSize;
        auto opened = OpenSparse(std::move(file));
        pagestore::ZstdContextPool pool;
        const std::string expected = std::string(c.message) + "vidx: 7, fidx: " + std::to_string(fidx) +
                                     "\npageNum: " + std::to_string(pages) + "\n";
        EXPECT_EQ(MessageOf([&] { Decode(opened->Store(), pool, 7); }), expected);
    }
}

TEST_F(Blob, DataPageOutsideTheMapFailsAtTheStore) {
    PageStoreWriter writer;
    writer.WritePagedBlobHead(7, 100, {-5}, 20);
    auto opened = OpenBytes(writer.Finish().Flatten());
    pagestore::ZstdContextPool pool;
    EXPECT_EQ(MessageOf([&] { Decode(opened->Store(), pool, 7); }), "Invalid vidx");
}

// The whole index chain is read when a blob opens, also past what its size needs; pages past
// that are given back at once.
TEST_F(Blob, TheWholeIndexChainIsReadWhenTheBlobOpens) {
    enum Change { None, LoopAtTheLastPage, LastPageOutsideTheMap, LastPagePastTheEnd };
    const struct {
        const char* name;
        uint64_t dataPages;  // the size needs an index page beyond 8189 data pages
        Change change;
        const char* message;
    } cases[] = {
        {"needs one of three", 8190, None, "(no exception)"},
        {"needs none of three", 100, None, "(no exception)"},
        {"needs none, the chain loops", 100, LoopAtTheLastPage, "Invalid index chain"},
        {"needs all three, the chain loops", 8189 + 2 * 8191 + 1, LoopAtTheLastPage, "Invalid index chain"},
        {"needs none, last page outside the map", 100, LastPageOutsideTheMap, "Invalid vidx"},
        {"needs one, last page past the end of the file", 8190, LastPagePastTheEnd, "Can't read enough"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PageStoreWriter writer;
        writer.SetPage(1, MarkedPage(0x11));
        // Three index pages whatever the size: the table is written for 8189 + 2 * 8191 + 1 pages.
        std::vector<int64_t> index =
            writer.WritePagedBlobHead(10, c.dataPages * 65536, std::vector<int64_t>(8189 + 2 * 8191 + 1, 1), 20);
        ASSERT_EQ(index.size(), 3u);
        testdoc::PageFile file = writer.Finish();
        const uint64_t last = writer.FidxOf(index[2]);
        if (c.change == LoopAtTheLastPage) file.PokeU64(last, 0, static_cast<uint64_t>(index[0]));
        if (c.change == LastPageOutsideTheMap) file.PokeU64(last, 0, 1u << 30);
        if (c.change == LastPagePastTheEnd) file.PokeU64(1, 36 + 16 * size_t(index[2]), 5000);
        auto opened = OpenBytes(file.Flatten());
        CheckingStore store(opened->Store());
        const size_t kept = c.dataPages <= 8189 ? 0 : size_t((c.dataPages - 8189 + 8190) / 8191);
        EXPECT_EQ(MessageOf([&] {
                      BlobReader reader(store, 10);
                      EXPECT_EQ(store.Outstanding(), 1 + kept) << "the head and the index pages the size needs";
                  }),
                  c.message);
        std::vector<int64_t> expected = {10, index[0], index[1], index[2]};
        if (c.change == LastPagePastTheEnd) expected.pop_back();
        EXPECT_EQ(store.reads, expected);
        EXPECT_EQ(store.Outstanding(), 0u);
    }
}

TEST(ZstdContextPool, ReusesContextsAndFailsCleanlyWithoutOne) {
    const Bytes plain = Pattern(50000, 9);
    const Bytes coded = testdoc::ZstdCoding(plain);
    const Bytes frame(coded.begin() + 9, coded.end());
    Bytes out(plain.size());
    {
        pagestore::ZstdContextPool pool;
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(pool.Decompress(frame.data(), int(frame.size()), out.data(), int(out.size())));
            EXPECT_EQ(out, plain);
        }
        EXPECT_EQ(pool.ContextCount(), 1u);
        EXPECT_FALSE(pool.Decompress(frame.data(), -1, out.data(), int(out.size())));
        EXPECT_FALSE(pool.Decompress(frame.data(), int(frame.size()), out.data(), -1));
        EXPECT_FALSE(pool.Decompress(frame.data(), int(frame.size()), out.data(), 100));  // too small
        EXPECT_EQ(pool.ContextCount(), 1u);
    }
    {
        pagestore::ZstdContextPool pool([]() -> ZSTD_DCtx* { return nullptr; });
        EXPECT_FALSE(pool.Decompress(frame.data(), int(frame.size()), out.data(), int(out.size())));
        EXPECT_EQ(pool.ContextCount(), 0u);
    }
}

TEST(ZstdContextPool, ServesConcurrentCallers) {
    pagestore::ZstdContextPool pool;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const Bytes plain = Pattern(20000 + 1000 * size_t(t), uint32_t(t));
            const Bytes coded = testdoc::ZstdCoding(plain);
            Bytes out(plain.size());
            for (int i = 0; i < 50; ++i) {
                if (!pool.Decompress(coded.data() + 9, int(coded.size() - 9), out.data(), int(out.size())) ||
                    out != plain)
                    ++failures;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GE(pool.ContextCount(), 1u);
    EXPECT_LE(pool.ContextCount(), 4u);
}

TEST_F(Blob, MissingDecompressionContextIsADecodingFailure) {
    PageStoreWriter writer;
    writer.WriteBlob(7, testdoc::ZstdCoding(Pattern(1000, 1)));
    auto opened = OpenBytes(writer.Finish().Flatten());
    pagestore::ZstdContextPool pool([]() -> ZSTD_DCtx* { return nullptr; });
    Decoded d = Decode(opened->Store(), pool, 7);
    EXPECT_FALSE(d.ok);
    EXPECT_FALSE(d.handedOut);
}

}  // namespace
