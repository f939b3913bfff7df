// The pager file: where it lives, how regions are taken, returned and merged, how it grows.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "PagedTestSupport.h"
#include "memory/MemoryStatistics.h"
#include "memory/Pager.h"

using paged_test::ScopedTempDir;
using tarn::MemoryStatistics;
using tarn::Pager;

namespace {

using Regions = std::vector<std::pair<uint64_t, uint64_t>>;
constexpr uint64_t kUnit = Pager::kUnit;

}  // namespace

TEST(PagedPager, FileLivesInTempDirAndGoesWithThePager) {
    ScopedTempDir dir;
    std::ofstream(dir.PagerFile()) << "left over by an earlier process";
    MemoryStatistics stats;
    {
        Pager pager(stats);
        EXPECT_EQ(pager.Path(), paged_test::Wide(dir.PagerFile()));
        // The leftover is replaced by a fresh, empty file.
        EXPECT_EQ(std::filesystem::file_size(dir.PagerFile()), 0u);
        Pager::Region r = pager.TakeRegion(2);
        pager.UnmapView(r.view);
        EXPECT_EQ(std::filesystem::file_size(dir.PagerFile()), 2 * kUnit);
    }
    EXPECT_TRUE(dir.Files().empty());
}

TEST(PagedPager, UnopenableFileIsAnError) {
    ScopedTempDir dir;
    setenv("TMPDIR", (dir.Path() + "/no/such/folder").c_str(), 1);
    MemoryStatistics stats;
    try {
        Pager pager(stats);
        FAIL() << "created a pager in a missing folder";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "can't open file: errcode=3");  // ERROR_PATH_NOT_FOUND
    }
}

TEST(PagedPager, ReturnedRegionsMergeWithTheirNeighbours) {
    struct Case {
        const char* name;
        Regions returns;  // (offset, units) in order
        Regions expected;
    };
    const Case cases[] = {
        {"both sides at once", {{0, 1}, {2 * kUnit, 1}, {kUnit, 1}}, {{0, 3}}},
        {"after a free region", {{0, 1}, {kUnit, 2}}, {{0, 3}}},
        {"before a free region", {{3 * kUnit, 2}, {kUnit, 2}}, {{kUnit, 4}}},
        {"with a gap", {{0, 1}, {2 * kUnit, 1}}, {{0, 1}, {2 * kUnit, 1}}},
        {"gap then fill of a bigger run", {{5 * kUnit, 1}, {0, 2}, {2 * kUnit, 3}}, {{0, 6}}},
    };
    for (const Case& c : cases) {
        ScopedTempDir dir;
        MemoryStatistics stats;
        Pager pager(stats);
        for (auto [offset, units] : c.returns) pager.ReturnRegion(offset, units);
        EXPECT_EQ(pager.FreeRegions(), c.expected) << c.name;
    }
}

TEST(PagedPager, TakesTheTailOfTheFirstFitOrGrows) {
    ScopedTempDir dir;
    MemoryStatistics stats;
    Pager pager(stats);

    Pager::Region whole = pager.TakeRegion(5);
    EXPECT_EQ(whole.offset, 0u);
    EXPECT_EQ(pager.FileSize(), 5 * kUnit);
    EXPECT_EQ(pager.MappedViews(), 1);
    pager.UnmapView(whole.view);
    EXPECT_EQ(pager.MappedViews(), 0);
    pager.ReturnRegion(0, 5);

    Pager::Region two = pager.TakeRegion(2);
    EXPECT_EQ(two.offset, 3 * kUnit);
    EXPECT_EQ(pager.FreeRegions(), (Regions{{0, 3}}));

    Pager::Region exact = pager.TakeRegion(3);
    EXPECT_EQ(exact.offset, 0u);
    EXPECT_TRUE(pager.FreeRegions().empty());
    EXPECT_EQ(pager.FileSize(), 5 * kUnit);

    // Nothing free fits: the file grows by exactly the request, which starts at the old end.
    pager.ReturnRegion(0, 1);
    Pager::Region grown = pager.TakeRegion(2);
    EXPECT_EQ(grown.offset, 5 * kUnit);
    EXPECT_EQ(pager.FileSize(), 7 * kUnit);
    EXPECT_EQ(std::filesystem::file_size(dir.PagerFile()), 7 * kUnit);
    EXPECT_EQ(pager.FreeRegions(), (Regions{{0, 1}}));
    for (void* v : {two.view, exact.view, grown.view}) pager.UnmapView(v);
}

TEST(PagedPager, RegionContentComesBackThroughANewView) {
    ScopedTempDir dir;
    MemoryStatistics stats;
    Pager pager(stats);
    pager.UnmapView(pager.TakeRegion(1).view);  // so the next region does not start at 0
    Pager::Region r = pager.TakeRegion(2);
    ASSERT_EQ(r.offset, kUnit);
    auto* bytes = static_cast<unsigned char*>(r.view);
    for (uint64_t i = 0; i < 2 * kUnit; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    pager.UnmapView(r.view);

    auto* again = static_cast<unsigned char*>(pager.MapRegion(r.offset, 2 * kUnit));
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again[2 * kUnit - 1], 0);
    for (uint64_t i = 0; i < 2 * kUnit; ++i)
        ASSERT_EQ(again[i], static_cast<unsigned char>(i * 7 + 3)) << "byte " << i;
    pager.UnmapView(again);
    EXPECT_EQ(pager.MappedViews(), 0);
}

TEST(PagedPager, ConcurrentFirstUseYieldsOneInstance) {
    ScopedTempDir dir;
    constexpr int kThreads = 6;
    std::vector<Pager*> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) threads.emplace_back([&seen, i] { seen[i] = &Pager::Get(); });
    for (auto& t : threads) t.join();
    for (Pager* p : seen) EXPECT_EQ(p, seen[0]);
    EXPECT_EQ(Pager::Existing(), seen[0]);
}
