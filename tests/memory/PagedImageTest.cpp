// Images on handle-backed memory: the paged-memory switch on inside this process only, with a
// budget small enough that pixels really travel to the pager file and back.
#include <memory>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "PagedTestSupport.h"
#include "image/BlendParams.h"
#include "image/CHandleImageBuffer32.h"
#include "image/CHeapImageBuffer32.h"
#include "image/CImage32.h"
#include "image/Resample.h"
#include "memory/GeneralHeap.h"
#include "memory/HeapHandle.h"
#include "memory/ImageMemory.h"
#include "memory/MemoryStatistics.h"
#include "memory/NormalHandle.h"
#include "memory/PagedMemory.h"
#include "memory/Pager.h"

using paged_test::ScopedTempDir;
using tarn::CImage32;
using tarn::ScopedPixelLock;

namespace {

// Exposes the buffer so a test can see which kind of memory an image got.
class InspectableImage : public CImage32 {
public:
    bool OnHeapBuffer() const { return dynamic_cast<const tarn::CHeapImageBuffer32*>(buffer) != nullptr; }
    const tarn::NMemHandle* Handle() const {
        auto* b = dynamic_cast<const tarn::CHandleImageBuffer32*>(buffer);
        return b ? b->Handle() : nullptr;
    }
    // The state of the handle (or of its master): paged out or not.
    bool PagedOut() const {
        auto* h = dynamic_cast<const tarn::NormalHandle*>(Handle());
        return h && h->CurrentState() == tarn::NormalHandle::kPagedOut;
    }
};

uint32_t PatternAt(uint32_t seed, int32_t x, int32_t y) {
    return (seed * 0x9E3779B9u) ^ (static_cast<uint32_t>(y) * 0x85EBCA6Bu) ^ static_cast<uint32_t>(x);
}

void Paint(CImage32& image, uint32_t seed) {
    ScopedPixelLock lock(image);
    for (int32_t y = 0; y < image.Height(); ++y) {
        uint32_t* row = image.RowAddress(y);
        for (int32_t x = 0; x < image.Width(); ++x) row[x] = PatternAt(seed, x, y);
    }
}

// Index of the first pixel that differs from the pattern, or -1.
int64_t FirstDifference(const CImage32& image, uint32_t seed) {
    ScopedPixelLock lock(image);
    for (int32_t y = 0; y < image.Height(); ++y) {
        const uint32_t* row = image.RowAddress(y);
        for (int32_t x = 0; x < image.Width(); ++x)
            if (row[x] != PatternAt(seed, x, y)) return int64_t{y} * image.Width() + x;
    }
    return -1;
}

std::vector<uint32_t> Copy(const CImage32& image) {
    ScopedPixelLock lock(image);
    return std::vector<uint32_t>(image.Pixels(), image.Pixels() + int64_t{image.Width()} * image.Height());
}

// Checkerboard, resample (point and area) and a blit: every image operation with pixel access.
std::vector<std::vector<uint32_t>> RunImageOperations() {
    CImage32 source, canvas, fitted, scaled;
    source.Resize(37, 23);
    Paint(source, 5);
    canvas.Resize(100, 100);
    canvas.FillChecker(100, 100, 0xFFFFFFFFu, 0xFFC0C0C0u);
    fitted.Resize(74, 46);
    tarn::Resample(fitted, source, 74, 46);
    scaled.Resize(50, 31);
    tarn::Resample(scaled, source, 50, 31);
    tarn::BlendParams copy;
    canvas.Blit(copy, 13, 27, scaled, scaled.Width(), scaled.Height());
    return {Copy(canvas), Copy(fitted), Copy(scaled)};
}

class PagedImages : public ::testing::Test {
protected:
    void SetUp() override {
        tarn::MemoryStatistics& s = tarn::Statistics();
        savedThreshold = s.heapThreshold;
        savedLimit = s.residentLimit;
        savedPending = s.defaultsPending;
        // Heap always "over its threshold" and a 256 KiB resident budget.
        s.heapThreshold = 0;
        s.residentLimit = 0x40000;
        s.defaultsPending = false;
        tarn::PagedMemoryEnabled = true;
    }
    void TearDown() override {
        tarn::PagedMemoryEnabled = false;
        tarn::MemoryStatistics& s = tarn::Statistics();
        s.heapThreshold = savedThreshold;
        s.residentLimit = savedLimit;
        s.defaultsPending = savedPending;
    }

    ScopedTempDir dir;
    int64_t savedThreshold = 0, savedLimit = 0;
    bool savedPending = true;
};

}  // namespace

TEST_F(PagedImages, PixelsSurvivePageOutAndPageIn) {
    std::vector<std::unique_ptr<InspectableImage>> images;
    for (uint32_t i = 0; i < 8; ++i) {
        images.push_back(std::make_unique<InspectableImage>());
        ASSERT_TRUE(images.back()->Resize(128, 128));  // 64 KiB each
        Paint(*images.back(), i);
    }
    auto large = std::make_unique<InspectableImage>();
    ASSERT_TRUE(large->Resize(2048, 1280));  // 10 MiB: a file-backed handle of its own
    Paint(*large, 99);
    images.push_back(std::move(large));

    int pagedOut = 0;
    for (const auto& image : images) {
        ASSERT_NE(image->Handle(), nullptr);
        EXPECT_TRUE(image->Handle()->IsPageable());
        pagedOut += image->PagedOut();
    }
    // The budget is enforced before each allocation: two of every five 64 KiB images went out.
    EXPECT_EQ(pagedOut, 4);
    EXPECT_GT(tarn::Statistics().pagedOutBytes, 0);
    // Paging a 64 KiB image back in finds the 10 MiB one alone over the budget.
    size_t out = 0;
    while (out < 8 && !images[out]->PagedOut()) ++out;
    ASSERT_LT(out, 8u);
    EXPECT_EQ(FirstDifference(*images[out], static_cast<uint32_t>(out)), -1);
    EXPECT_TRUE(images[8]->PagedOut());

    // Each check pages its image in and others out; twice, in both orders.
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t k = 0; k < images.size(); ++k) {
            const size_t i = pass == 0 ? k : images.size() - 1 - k;
            const uint32_t seed = i == 8 ? 99 : static_cast<uint32_t>(i);
            EXPECT_EQ(FirstDifference(*images[i], seed), -1) << "image " << i << " pass " << pass;
        }
    }
}

TEST_F(PagedImages, LockedImageStaysWhereItIs) {
    CImage32 pinned;
    ASSERT_TRUE(pinned.Resize(128, 128));
    Paint(pinned, 1);
    ScopedPixelLock lock(pinned);
    uint32_t* const pixels = pinned.Pixels();
    ASSERT_NE(pixels, nullptr);

    std::vector<std::unique_ptr<CImage32>> others;
    for (uint32_t i = 0; i < 10; ++i) {
        others.push_back(std::make_unique<CImage32>());
        ASSERT_TRUE(others.back()->Resize(128, 128));
        Paint(*others.back(), 100 + i);
    }
    EXPECT_EQ(pinned.Pixels(), pixels);
    EXPECT_EQ(FirstDifference(pinned, 1), -1);
}

TEST_F(PagedImages, PixelsHaveAnAddressOnlyWhileLocked) {
    InspectableImage image;
    EXPECT_NE(image.Pixels(), nullptr);  // 1 x 1 lives inline, no handle
    EXPECT_EQ(image.Handle(), nullptr);
    EXPECT_EQ(image.GetPixel(0, 0), 0u);

    ASSERT_TRUE(image.Resize(64, 64));
    EXPECT_EQ(image.Pixels(), nullptr);
    try {
        image.GetPixel(3, 3);
        FAIL() << "an unlocked handle image gave a pixel";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Shuold never called");
    }

    {
        ScopedPixelLock outer(image);
        ScopedPixelLock inner(image);  // nests
        ASSERT_NE(image.Pixels(), nullptr);
        // Resizing while locked hands back locked memory of the new size.
        ASSERT_TRUE(image.Resize(300, 200));
        ASSERT_NE(image.Pixels(), nullptr);
        image.SetPixel(299, 199, 0x12345678u);
        EXPECT_EQ(image.GetPixel(299, 199), 0x12345678u);
    }
    EXPECT_EQ(image.Pixels(), nullptr);
    EXPECT_FALSE(dynamic_cast<const tarn::NormalHandle*>(image.Handle()) &&
                 dynamic_cast<const tarn::NormalHandle*>(image.Handle())->LockCount() != 0);
    {
        ScopedPixelLock lock(image);
        EXPECT_EQ(image.GetPixel(299, 199), 0x12345678u);
    }
}

TEST_F(PagedImages, ExceptionLeavingALockedScopeUnlocks) {
    InspectableImage image;
    ASSERT_TRUE(image.Resize(128, 128));
    try {
        ScopedPixelLock lock(image);
        image.SetPixel(0, 0, 7);
        throw std::runtime_error("interrupted");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(image.Pixels(), nullptr);
    auto* handle = dynamic_cast<const tarn::NormalHandle*>(image.Handle());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->LockCount(), 0);
}

TEST_F(PagedImages, OperationsGiveTheSameResultsWithHandles) {
    tarn::PagedMemoryEnabled = false;
    const auto expected = RunImageOperations();
    tarn::PagedMemoryEnabled = true;
    const auto got = RunImageOperations();
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(got[i] == expected[i]) << "image " << i;
}

TEST_F(PagedImages, SizesGoToHeapOrFileAsTheirLiveBytesSay) {
    tarn::MemoryStatistics& s = tarn::Statistics();
    // Some heap memory in use, so the heap is over its zero threshold.
    tarn::NMemHandle* small = tarn::AllocateImageHandle(400);
    ASSERT_NE(small, nullptr);
    EXPECT_FALSE(small->IsPageable());
    EXPECT_GT(s.HeapBytes(), 0);

    struct Case {
        const char* name;
        size_t bytes;
        int64_t threshold;
        bool pageable;
    };
    const Case cases[] = {
        {"64 KiB", 65536, 0, true},
        {"64 KiB under the threshold", 65536, INT64_MAX, true},  // heap-backed, still pageable
        {"10 MiB", 0xA00000, 0, true},
        {"10 MiB under the threshold", 0xA00000, INT64_MAX, false},
        {"tiny", 200, 0, false},
    };
    for (const Case& c : cases) {
        s.heapThreshold = c.threshold;
        tarn::NMemHandle* h = tarn::AllocateImageHandle(c.bytes);
        ASSERT_NE(h, nullptr) << c.name;
        EXPECT_EQ(h->IsPageable(), c.pageable) << c.name;
        tarn::FreeImageHandle(h, c.bytes);
    }
    s.heapThreshold = 0;

    // 4 MiB requests: heap until 10 MiB of that size are live, file-backed from then on.
    std::vector<tarn::NMemHandle*> held;
    std::vector<bool> pageable;
    for (int i = 0; i < 4; ++i) {
        held.push_back(tarn::AllocateImageHandle(0x400000));
        pageable.push_back(held.back()->IsPageable());
    }
    EXPECT_EQ(pageable, (std::vector<bool>{false, false, true, true}));
    EXPECT_EQ(tarn::LiveBytesOfSize(0x400000), 4 * 0x400000);
    for (tarn::NMemHandle* h : held) tarn::FreeImageHandle(h, 0x400000);
    EXPECT_EQ(tarn::LiveBytesOfSize(0x400000), 0);
    tarn::FreeImageHandle(small, 400);
}

TEST_F(PagedImages, ExhaustedHeapFailsTheResize) {
    InspectableImage image;
    tarn::SetGeneralHeapAllocateForTesting([](size_t) -> void* { return nullptr; });
    const bool resized = image.Resize(10, 10);  // a heap handle: the heap says no
    tarn::SetGeneralHeapAllocateForTesting(nullptr);
    EXPECT_FALSE(resized);
    EXPECT_EQ(image.Width(), 1);
    EXPECT_EQ(image.Height(), 1);
    EXPECT_EQ(image.Handle(), nullptr);
    EXPECT_EQ(tarn::LiveBytesOfSize(400), 0);
}

// An image made before the switch changed keeps its kind of storage when its pixels change
// hands: each buffer travels with its own locking rules.
TEST_F(PagedImages, SwapCarriesTheKindOfStorage) {
    InspectableImage paged;
    ASSERT_TRUE(paged.Resize(64, 64));
    Paint(paged, 5);
    tarn::PagedMemoryEnabled = false;
    InspectableImage heap;
    ASSERT_TRUE(heap.Resize(3, 3));
    Paint(heap, 6);
    tarn::PagedMemoryEnabled = true;
    ASSERT_FALSE(paged.OnHeapBuffer());
    ASSERT_TRUE(heap.OnHeapBuffer());
    heap.Swap(paged);
    EXPECT_FALSE(heap.OnHeapBuffer());
    EXPECT_EQ(heap.Width(), 64);
    EXPECT_EQ(FirstDifference(heap, 5), -1);
    EXPECT_TRUE(paged.OnHeapBuffer());
    EXPECT_EQ(paged.Width(), 3);
    EXPECT_NE(paged.Pixels(), nullptr);  // heap pixels have an address without a lock
    EXPECT_EQ(FirstDifference(paged, 6), -1);
}

TEST(PagedSwitchOff, ImagesNeverMakeAPagerFile) {
    ScopedTempDir dir;
    ASSERT_FALSE(tarn::PagedMemoryEnabled);
    tarn::Pager* const before = tarn::Pager::Existing();
    {
        InspectableImage image;
        EXPECT_TRUE(image.OnHeapBuffer());
        for (auto [w, h] : {std::pair{128, 128}, {64, 64}, {256, 512}, {2048, 1280}, {1, 1}, {300, 7}}) {
            ASSERT_TRUE(image.Resize(w, h));
            image.Fill(0xFF00FF00u);
            EXPECT_NE(image.Pixels(), nullptr);
        }
        RunImageOperations();
    }
    EXPECT_EQ(tarn::Pager::Existing(), before);
    EXPECT_TRUE(dir.Files().empty());
}
