// A thumbnail request end to end with the paged-memory switch off, as the server always runs:
// no pager is made and no pager file appears.
#include <gtest/gtest.h>

#include "PagedTestSupport.h"
#include "memory/ImageMemory.h"
#include "memory/Pager.h"
#include "readers/pagestore/ReadPageStoreThumbnail.h"
#include "server/ZavelThumbnailProvider.h"
#include "tests/support/DocumentWriter.h"
#include "tests/support/PageStoreWriter.h"

TEST(PagedSwitchOff, ThumbnailRequestsNeverMakeAPagerFile) {
    paged_test::ScopedTempDir dir;
    ASSERT_FALSE(tarn::PagedMemoryEnabled);
    tarn::Pager* const before = tarn::Pager::Existing();
    const auto document = testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(300, 200));
    // 128 puts the canvas on a 64 KiB pool block, 256 and 97 on the general heap.
    for (UINT cx : {128u, 256u, 97u}) {
        IStream* stream = testdoc::CreateMemoryStream(document);
        auto* provider = new ZavelThumbnailProvider(ReadPageStorePreview);
        ASSERT_EQ(provider->Initialize(stream, 0), S_OK);
        HBITMAP bitmap = nullptr;
        WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
        EXPECT_EQ(provider->GetThumbnail(cx, &bitmap, &alpha), S_OK) << cx;
        if (bitmap) DeleteObject(bitmap);
        provider->Release();
        stream->Release();
    }
    EXPECT_EQ(tarn::Pager::Existing(), before);
    EXPECT_TRUE(dir.Files().empty());
}
