// The container: head pages, the page map and its chain, the stream side and page bookkeeping.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <set>
#include <sstream>

#include "readers/pagestore/Errors.h"
#include "readers/pagestore/LivePageSet.h"
#include "tests/readers/pagestore/PageStoreTestSupport.h"
#include "tests/support/FaultyStream.h"

namespace {

using pagestore_test::MessageOf;
using pagestore_test::OpenBytes;
using pagestore_test::OpenSparse;
using pagestore_test::PageBufferAccounting;
using testdoc::Bytes;
using testdoc::PageStoreWriter;

// A page whose first 8 bytes name its virtual index.
Bytes Marked(int64_t vidx) {
    Bytes page(testdoc::kPageSize, 0x5A);
    for (int i = 0; i < 8; ++i) page[i] = static_cast<uint8_t>(static_cast<uint64_t>(vidx) >> (8 * i));
    return page;
}

int64_t MarkOf(const uint8_t* page) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | page[i];
    return static_cast<int64_t>(v);
}

class PageStore : public PageBufferAccounting {};

TEST_F(PageStore, NewerGenerationWinsComparedSignedAndPageOneOnTies) {
    struct Case {
        int64_t currentGeneration, staleGeneration;
        uint32_t currentHead;  // where the writer puts the head that maps vidx 1
        uint32_t expectChosen;
    };
    const Case cases[] = {
        {5, 3, 0, 0},
        {5, 3, 1, 1},
        {0, -1, 1, 1},                 // -1 is older than 0
        {0, -1, 0, 0},
        {LLONG_MAX, LLONG_MIN, 0, 0},  // unsigned comparison would pick the other
        {4, 4, 1, 1},                  // tie: page 1
        {4, 4, 0, 1},                  // tie: page 1, which is the empty one here
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.currentGeneration << " vs " << c.staleGeneration << " head " << c.currentHead);
        PageStoreWriter::Options options;
        options.currentGeneration = c.currentGeneration;
        options.staleGeneration = c.staleGeneration;
        options.currentHead = c.currentHead;
        PageStoreWriter writer(options);
        writer.SetPage(1, Marked(1));
        auto opened = OpenBytes(writer.Finish().Flatten());
        EXPECT_EQ(opened->Concrete().HeadIndex(), c.expectChosen);
        EXPECT_EQ(opened->Store().HasPage(1), c.expectChosen == c.currentHead);
    }
}

TEST_F(PageStore, VirtualPagesAcrossHeadAndMapPages) {
    const int64_t vidxs[] = {1, 4093, 4094, 8188, 8189};
    PageStoreWriter::Options options;
    options.shuffleSeed = 7;
    PageStoreWriter writer(options);
    for (int64_t v : vidxs) writer.SetPage(v, Marked(v));
    testdoc::PageFile file = writer.Finish();

    // The layout itself, checked against the format rather than against the reader.
    ASSERT_EQ(writer.MapPageFidx().size(), 2u);
    const uint64_t map0 = writer.MapPageFidx()[0], map1 = writer.MapPageFidx()[1];
    EXPECT_EQ(file.PeekU64(1, 20), map0);
    EXPECT_EQ(file.PeekU64(map0, 8), map1);
    EXPECT_EQ(file.PeekU64(map1, 8), 0u);
    EXPECT_EQ(file.PeekU64(1, 36 + 16 * 4093), writer.FidxOf(4093));
    EXPECT_EQ(file.PeekU64(map0, 24), writer.FidxOf(4094));
    EXPECT_EQ(file.PeekU64(map0, 65528), writer.FidxOf(8188));
    EXPECT_EQ(file.PeekU64(map1, 24), writer.FidxOf(8189));

    auto opened = OpenBytes(file.Flatten());
    pagestore::ReadablePageStore& store = opened->Store();
    EXPECT_EQ(opened->Concrete().MapPageCount(), 2u);
    for (int64_t v : vidxs) {
        SCOPED_TRACE(v);
        EXPECT_TRUE(store.HasPage(v));
        uint8_t* page = store.ReadPage(v);
        EXPECT_EQ(MarkOf(page), v);
        store.ReleasePage(page, v);
    }
    for (int64_t v : {int64_t{2}, int64_t{4095}, int64_t{8190}, int64_t{4094 + 2 * 4095 - 1}})
        EXPECT_FALSE(store.HasPage(v)) << v;
}

TEST_F(PageStore, IndexesOutsideTheMapAreRefusedWithoutReading) {
    PageStoreWriter writer;
    writer.SetPage(4093, Marked(4093));  // no map page
    auto opened = OpenBytes(writer.Finish().Flatten());
    pagestore::ReadablePageStore& store = opened->Store();
    for (int64_t v : {int64_t{-1}, int64_t{4094}, int64_t{LLONG_MIN}, int64_t{LLONG_MAX}}) {
        SCOPED_TRACE(v);
        EXPECT_FALSE(store.HasPage(v));
        EXPECT_EQ(MessageOf([&] { store.ReadPage(v); }), "Invalid vidx");
        std::ostringstream text;
        store.Describe(v, text);
        EXPECT_EQ(text.str(), "vidx: " + std::to_string(v) + ", fidx: 0\npageNum: 3\n");
    }
}

TEST_F(PageStore, AbsentEntryReadsHeadPageZeroButHasPageTellsApart) {
    PageStoreWriter writer;
    writer.SetPage(3, Marked(3));
    auto opened = OpenBytes(writer.Finish().Flatten());
    EXPECT_FALSE(opened->Store().HasPage(2));
    uint8_t* page = opened->Store().ReadPage(2);
    EXPECT_EQ(std::memcmp(page, "hzd", 3), 0);
    opened->Store().ReleasePage(page, 2);
}

TEST_F(PageStore, DescribeCountsWholePagesOnly) {
    PageStoreWriter::Options options;
    options.trailingBytes = 1;  // 131073-byte stream: two whole pages
    PageStoreWriter writer(options);
    auto opened = OpenBytes(writer.Finish().Flatten());
    std::ostringstream text;
    opened->Store().Describe(0, text);
    EXPECT_EQ(text.str(), "vidx: 0, fidx: 0\npageNum: 2\n");

    PageStoreWriter withPage;
    withPage.SetPage(5, Marked(5));
    auto second = OpenBytes(withPage.Finish().Flatten());
    std::ostringstream text2;
    second->Store().Describe(5, text2);
    EXPECT_EQ(text2.str(), "vidx: 5, fidx: 2\npageNum: 3\n");
}

TEST_F(PageStore, VersionIsByteThreeOfTheCurrentHead) {
    for (uint8_t version : {uint8_t{0}, uint8_t{1}, uint8_t{0x80}, uint8_t{0xFF}}) {
        PageStoreWriter::Options options;
        options.version = version;
        auto opened = OpenBytes(PageStoreWriter(options).Finish().Flatten());
        EXPECT_EQ(opened->Store().Version(), version);
    }
}

TEST_F(PageStore, ReleasingTwiceOrAForeignBufferIsAnIoError) {
    PageStoreWriter writer;
    writer.SetPage(1, Marked(1));
    auto opened = OpenBytes(writer.Finish().Flatten());
    pagestore::ReadablePageStore& store = opened->Store();
    uint8_t* a = store.ReadPage(1);
    uint8_t* b = store.ReadPage(1);
    EXPECT_NE(a, b);  // every read is a fresh buffer
    store.ReleasePage(a, 1);
    EXPECT_EQ(MessageOf([&] { store.ReleasePage(a, 1); }), "IO error");
    EXPECT_FALSE(store.TryReleasePage(a, 1));
    uint8_t foreign[16];
    EXPECT_EQ(MessageOf([&] { store.ReleasePage(foreign, 1); }), "IO error");
    store.ReleasePage(b, 1);
}

TEST_F(PageStore, StreamFailuresRaiseThumbErrorWithTheirMessage) {
    PageStoreWriter writer;
    writer.SetPage(1, Marked(1));
    const Bytes document = writer.Finish().Flatten();
    struct Case {
        const char* name;
        testdoc::StreamFaults faults;
        const char* message;
    };
    const Case cases[] = {
        {"stat", {true, -1, -1, -1}, "Fail to stat."},
        {"seek page 0", {false, 0, -1, -1}, "Seek fail"},
        {"seek page 1", {false, 1, -1, -1}, "Seek fail"},
        {"read page 0", {false, -1, 0, -1}, "Read fail"},
        {"read page 1", {false, -1, 1, -1}, "Read fail"},
        {"short page 1", {false, -1, -1, 1}, "Can't read enough"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IStream* inner = testdoc::CreateMemoryStream(document);
        IStream* stream = testdoc::FaultyStream::Create(inner, c.faults);
        inner->Release();
        bool thumbError = false;
        std::string message;
        try {
            pagestore_test::OpenedStore opened(stream);
        } catch (const ThumbError& e) {
            thumbError = true;
            message = e.what();
            stream->Release();
        }
        EXPECT_TRUE(thumbError);
        EXPECT_EQ(message, c.message);
    }
}

TEST_F(PageStore, StreamShorterThanTwoPagesCannotReadEnough) {
    Bytes shortStream(100000, 0);
    std::memcpy(shortStream.data(), "hzd\x01", 4);
    EXPECT_EQ(MessageOf([&] { OpenBytes(shortStream); }), "Can't read enough");
}

TEST_F(PageStore, MapChainsThatLoopOrLeaveTheFileFailCleanly) {
    struct Case {
        const char* name;
        int corruptMap;      // map page whose nextMapPage is changed
        int64_t target;      // >= 0: that map page's fidx; < 0: a literal value below
        uint64_t literal;
        const char* message;
    };
    const Case cases[] = {
        {"second points back to first", 1, 0, 0, "Invalid map chain"},
        {"first points to itself", 0, 0, 0, "Invalid map chain"},
        {"past the end", 1, -1, 1000, "Can't read enough"},
        {"would wrap when shifted", 1, -1, (1ull << 48) + 2, "Can't read enough"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PageStoreWriter writer;
        writer.SetPage(8189, Marked(8189));  // two map pages
        testdoc::PageFile file = writer.Finish();
        uint64_t value = c.target >= 0 ? writer.MapPageFidx()[static_cast<size_t>(c.target)] : c.literal;
        file.PokeU64(writer.MapPageFidx()[static_cast<size_t>(c.corruptMap)], 8, value);
        EXPECT_EQ(MessageOf([&] { OpenBytes(file.Flatten()); }), c.message);
    }
}

TEST_F(PageStore, FileIndexPastTheEndFailsInsteadOfWrappingToALowPage) {
    PageStoreWriter writer;
    writer.SetPage(1, Marked(1));
    writer.SetPage(2, Marked(2));
    testdoc::PageFile file = writer.Finish();
    // (2^48 + fidx of vidx 2) << 16 wraps to the offset of vidx 2's page.
    file.PokeU64(1, 36 + 16 * 1, (1ull << 48) + writer.FidxOf(2));
    file.PokeU64(1, 36 + 16 * 2, 5000);
    auto opened = OpenBytes(file.Flatten());
    EXPECT_EQ(MessageOf([&] { opened->Store().ReadPage(1); }), "Can't read enough");
    EXPECT_EQ(MessageOf([&] { opened->Store().ReadPage(2); }), "Can't read enough");
}

TEST_F(PageStore, ReadFunctionCountOtherThanAPageIsAnIoError) {
    pagestore::SeekPageMapper mapper(10 * testdoc::kPageSize, [](uint64_t, uint8_t*, int) { return 100; });
    EXPECT_EQ(MessageOf([&] { mapper.ReadFilePage(3); }), "IO error");
    EXPECT_EQ(mapper.LiveCount(), 0u);
}

TEST_F(PageStore, MapperFreesWhatWasNeverGivenBack) {
    size_t before = pagestore::UnreturnedPageBufferCount();
    {
        pagestore::SeekPageMapper mapper(4 * testdoc::kPageSize, [](uint64_t, uint8_t*, int n) { return n; });
        mapper.ReadFilePage(1);
        EXPECT_EQ(pagestore::LivePageBufferCount(), 1u);
    }
    EXPECT_EQ(pagestore::LivePageBufferCount(), 0u);
    EXPECT_EQ(pagestore::UnreturnedPageBufferCount(), before + 1);
    SetUp();  // this test leaks on purpose
}

TEST_F(PageStore, SparseStreamOfManyPagesOpensWithoutReadingThem) {
    PageStoreWriter::Options options;
    options.minFilePages = 100000;  // 6.5 GB claimed, a handful stored
    PageStoreWriter writer(options);
    writer.SetPage(20000, Marked(20000));
    auto opened = OpenSparse(writer.Finish());
    EXPECT_EQ(opened->Concrete().PageMapper().PageCount(), 100000u);
    uint8_t* page = opened->Store().ReadPage(20000);
    EXPECT_EQ(MarkOf(page), 20000);
    opened->Store().ReleasePage(page, 20000);
}

// The live set against std::set under random inserts and erases.
TEST(LivePageSet, AgreesWithAnOrderedSet) {
    std::mt19937 rng(3);
    pagestore::LivePageSet set;
    std::set<const uint8_t*> reference;
    std::vector<uint8_t> arena(1 << 20);
    for (int step = 0; step < 200000; ++step) {
        // Addresses 64 KiB apart collide in the low bits, as page buffers do.
        const uint8_t* p = arena.data() + (rng() % 16) * 65536 % arena.size() + (rng() % 64) * 16;
        if (rng() % 3) {
            auto result = set.Insert(p);
            bool fresh = reference.insert(p).second;
            ASSERT_EQ(result, fresh ? pagestore::LivePageSet::InsertResult::Inserted
                                    : pagestore::LivePageSet::InsertResult::AlreadyPresent);
        } else {
            ASSERT_EQ(set.Erase(p), reference.erase(p) == 1);
        }
        ASSERT_EQ(set.Size(), reference.size());
    }
    for (const uint8_t* p : reference) ASSERT_TRUE(set.Contains(p));
    size_t drained = 0;
    set.Drain([&](uint8_t* p) {
        EXPECT_TRUE(reference.count(p));
        ++drained;
    });
    EXPECT_EQ(drained, reference.size());
    EXPECT_EQ(set.Size(), 0u);
}

}  // namespace
