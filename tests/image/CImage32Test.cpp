// CImage32: geometry after construction and Resize, allocation failure, pixel addressing and
// the in-memory byte order of a pixel.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "image/CImage32.h"
#include "image/CImageBuffer32.h"
#include "memory/GeneralHeap.h"
#include "memory/MemoryStatistics.h"

namespace tarn {
namespace {

int64_t TotalBytes() { return Statistics().TotalBytes(); }

// Replaces the general heap while alive: records each request and fails, throws, or passes it
// on to malloc.
class HeapInjection {
public:
    enum Mode { kPass, kFail, kThrow };
    explicit HeapInjection(Mode m) {
        mode = m;
        calls = 0;
        lastBytes = 0;
        SetGeneralHeapAllocateForTesting(&Allocate);
    }
    ~HeapInjection() { SetGeneralHeapAllocateForTesting(nullptr); }
    static inline int calls = 0;
    static inline size_t lastBytes = 0;

private:
    static void* Allocate(size_t bytes) {
        ++calls;
        lastBytes = bytes;
        if (mode == kThrow) throw std::runtime_error("FailAlignedAlloc");
        return mode == kFail ? nullptr : std::malloc(bytes);
    }
    static inline Mode mode = kPass;
};

void ExpectOneByOne(const CImage32& image) {
    EXPECT_EQ(image.Width(), 1);
    EXPECT_EQ(image.Height(), 1);
    EXPECT_EQ(image.Stride(), 4);
    EXPECT_TRUE(image.PowerOfTwo());
    EXPECT_NE(image.Pixels(), nullptr);
}

TEST(CImage32, FreshImageIsOneTransparentBlackPixelWithoutAnAllocation) {
    const int64_t before = TotalBytes();
    HeapInjection heap(HeapInjection::kPass);
    CImage32 image;
    ExpectOneByOne(image);
    EXPECT_TRUE(image.IsReady());
    EXPECT_EQ(image.GetPixel(0, 0), 0x00000000u);
    EXPECT_EQ(HeapInjection::calls, 0);
    EXPECT_EQ(TotalBytes(), before);
}

TEST(CImage32, ResizeClampsToOnePixelAndAllocatesOnlyBeyondOne) {
    struct Case {
        int32_t w, h;
        int32_t width, height;
        int64_t bytes;  // image memory held afterwards
    } const cases[] = {
        {0, 0, 1, 1, 0},    {-5, -5, 1, 1, 0},     {-5, 10, 1, 10, 40},         {10, -5, 10, 1, 40},
        {3, 2, 3, 2, 24},   {1, 1, 1, 1, 0},       {64, 64, 64, 64, 64 * 64 * 4}, {INT32_MIN, 1, 1, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
        const int64_t before = TotalBytes();
        {
            CImage32 image;
            EXPECT_TRUE(image.Resize(c.w, c.h));
            EXPECT_EQ(image.Width(), c.width);
            EXPECT_EQ(image.Height(), c.height);
            EXPECT_EQ(image.Stride(), c.width * 4);
            EXPECT_EQ(TotalBytes() - before, c.bytes);
            // Every pixel of the new size is writable and readable.
            image.Fill(0x12345678u);
            EXPECT_EQ(image.GetPixel(c.width - 1, c.height - 1), 0x12345678u);
        }
        EXPECT_EQ(TotalBytes(), before) << "the destructor gives the block back";
    }
}

TEST(CImage32, ResizeToTheCurrentSizeKeepsBlockAndPixels) {
    CImage32 image;
    ASSERT_TRUE(image.Resize(3, 2));
    for (int32_t i = 0; i < 6; ++i) image.SetPixel(i % 3, i / 3, 0xFF000000u | static_cast<uint32_t>(i));
    const uint32_t* block = image.Pixels();
    EXPECT_TRUE(image.Resize(3, 2));
    EXPECT_EQ(image.Pixels(), block);
    for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(image.GetPixel(i % 3, i / 3), 0xFF000000u | static_cast<uint32_t>(i));
}

TEST(CImage32, FailedAllocationLeavesAUsableOneByOneImage) {
    struct Case {
        const char* name;
        HeapInjection::Mode mode;
        int32_t w, h;
        int calls;         // requests that reach the general heap
        size_t bytes;      // size of the last one, as the heap sees it
    } const cases[] = {
        {"heap exhausted", HeapInjection::kFail, 100, 100, 1, 40000},
        {"memory layer throws", HeapInjection::kThrow, 100, 100, 1, 40000},
        // The largest pixel count asks for its full size (widened before multiplying, then
        // rounded up to 8 by the memory layer).
        {"2^31 - 1 pixels", HeapInjection::kFail, INT32_MAX, 1, 1, size_t{INT32_MAX} * 4 + 4},
        {"3.2e9 bytes", HeapInjection::kFail, 40000, 20000, 1, size_t{40000} * 20000 * 4},
        // Beyond 2^31 - 1 pixels nothing is asked for at all.
        {"2^32 pixels", HeapInjection::kFail, 65536, 65536, 0, 0},
        {"2^31 pixels", HeapInjection::kFail, 46341, 46341, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int64_t before = TotalBytes();
        CImage32 image;
        ASSERT_TRUE(image.Resize(7, 5));  // holds a block that the failing resize gives back
        image.Fill(0xFFFFFFFFu);
        {
            HeapInjection heap(c.mode);
            EXPECT_FALSE(image.Resize(c.w, c.h));
            EXPECT_EQ(HeapInjection::calls, c.calls);
            EXPECT_EQ(HeapInjection::lastBytes, c.bytes);
        }
        ExpectOneByOne(image);
        EXPECT_EQ(TotalBytes(), before);
        image.SetPixel(0, 0, 0x80FF0000u);
        EXPECT_EQ(image.GetPixel(0, 0), 0x80FF0000u);
        EXPECT_EQ(image.GetPixel(1, 0), 0u);
        // And it can grow again once memory is back.
        EXPECT_TRUE(image.Resize(4, 4));
        EXPECT_EQ(image.Width(), 4);
    }
}

// The byte count an image asks for, with a 64-bit and a 32-bit size_t: in a 32-bit process
// 2^30 pixels and more (a 32768 x 32768 canvas) must have no storage rather than a wrapped,
// far too small block.
TEST(CImage32, StorageBytesNeverWrapTheSizeType) {
    struct Case {
        int32_t w, h;
        uint64_t bytes64;
        uint32_t bytes32;
    } const cases[] = {
        {1, 1, 4, 4},
        {16384, 16384, uint64_t{1} << 30, uint32_t{1} << 30},
        {32767, 32768, uint64_t{32767} * 32768 * 4, uint32_t{32767} * 32768 * 4},
        {32768, 32768, uint64_t{1} << 32, 0},
        {INT32_MAX, 1, uint64_t{INT32_MAX} * 4, 0},
        {46341, 46341, 0, 0},  // over 2^31 - 1 pixels
        {0, 5, 0, 0},
        {-1, -1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
        EXPECT_EQ(ImageStorageBytes<uint64_t>(c.w, c.h), c.bytes64);
        EXPECT_EQ(ImageStorageBytes<uint32_t>(c.w, c.h), c.bytes32);
    }
}

TEST(CImage32, PowerOfTwoMeansAtMostOneBitInEachDimension) {
    struct Case {
        int32_t w, h;
        bool powerOfTwo;
    } const cases[] = {
        {256, 64, true}, {1, 1, true},    {96, 64, false}, {64, 96, false},
        {1024, 1, true}, {3, 1, false},   {2, 4096, true}, {255, 256, false},
    };
    for (const Case& c : cases) {
        CImage32 image;
        ASSERT_TRUE(image.Resize(c.w, c.h));
        EXPECT_EQ(image.PowerOfTwo(), c.powerOfTwo) << c.w << " x " << c.h;
    }
}

TEST(CImage32, PixelsOutsideTheImageHaveNoAddress) {
    CImage32 image;
    ASSERT_TRUE(image.Resize(4, 3));
    image.Fill(0x11111111u);
    struct Point {
        int32_t x, y;
    } const outside[] = {{4, 0}, {0, 3}, {-1, 0}, {0, -1}, {INT32_MIN, 0}, {0, INT32_MAX}, {4, 3}};
    for (const Point& p : outside) {
        SCOPED_TRACE(testing::Message() << p.x << ", " << p.y);
        EXPECT_EQ(image.PixelAddress(p.x, p.y), nullptr);
        EXPECT_EQ(image.GetPixel(p.x, p.y), 0u);
        image.SetPixel(p.x, p.y, 0xDEADBEEFu);
    }
    for (int32_t i = 0; i < 12; ++i) EXPECT_EQ(image.Pixels()[i], 0x11111111u) << i;
    EXPECT_EQ(image.RowAddress(3), nullptr);
    EXPECT_EQ(image.RowAddress(-1), nullptr);
    // Inside: rows follow each other without padding.
    EXPECT_EQ(image.RowAddress(2), image.Pixels() + 8);
    image.SetPixel(3, 1, 0x22222222u);
    EXPECT_EQ(image.Pixels()[1 * 4 + 3], 0x22222222u);
}

TEST(CImage32, PixelWordIsStoredBlueGreenRedAlpha) {
    CImage32 image;
    ASSERT_TRUE(image.Resize(2, 1));
    image.SetPixel(1, 0, 0x80FF0000u);  // half-transparent pure red, straight alpha
    unsigned char bytes[4];
    std::memcpy(bytes, image.PixelAddress(1, 0), 4);
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0x00);
    EXPECT_EQ(bytes[2], 0xFF);
    EXPECT_EQ(bytes[3], 0x80);
}

// The whole-image reader hands its pixels over this way: nothing may be copied or lost.
TEST(CImage32, SwapExchangesSizeAndPixels) {
    CImage32 a, b;
    ASSERT_TRUE(a.Resize(300, 2));
    a.Fill(0xFF102030u);
    b.SetPixel(0, 0, 0x12345678u);
    const uint32_t* aPixels = a.Pixels();
    a.Swap(b);
    EXPECT_EQ(b.Pixels(), aPixels);
    EXPECT_EQ(b.Width(), 300);
    EXPECT_EQ(b.Height(), 2);
    EXPECT_EQ(b.Stride(), 1200);
    EXPECT_EQ(b.GetPixel(299, 1), 0xFF102030u);
    EXPECT_EQ(a.Width(), 1);
    EXPECT_EQ(a.Height(), 1);
    EXPECT_EQ(a.GetPixel(0, 0), 0x12345678u);
    // Both go on as images of their new sizes.
    ASSERT_TRUE(a.Resize(4, 4));
    a.Fill(1);
    EXPECT_EQ(a.GetPixel(3, 3), 1u);
}

}  // namespace
}  // namespace tarn
