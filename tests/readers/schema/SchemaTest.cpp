// The metadata verifier's accept/reject behaviour and the thumbnail accessor.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "readers/schema/DocumentSchema.h"
#include "tests/support/DocumentWriter.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Hand-made buffers: a root offset at 0, one vtable at byte 4, the root table at `table`.
struct RawDocument {
    Bytes bytes;
    void U16(size_t at, uint16_t v) {
        Grow(at + 2);
        bytes[at] = uint8_t(v), bytes[at + 1] = uint8_t(v >> 8);
    }
    void U32(size_t at, uint32_t v) {
        Grow(at + 4);
        for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(v >> (8 * i));
    }
    void Grow(size_t n) {
        if (bytes.size() < n) bytes.resize(n);
    }
    // vtable at 4 with `slots` entries; the table at `table` (its soffset points back to 4).
    RawDocument(size_t slots, size_t table, uint16_t tableSize) {
        U32(0, uint32_t(table));
        U16(4, uint16_t(4 + 2 * slots));
        U16(6, tableSize);
        U32(table, uint32_t(table - 4));
        Grow(table + tableSize);
    }
    void Slot(size_t slot, uint16_t fieldOffset) { U16(4 + 4 + 2 * slot, fieldOffset); }
};

bool Verify(const Bytes& b) { return hzd::VerifyDocumentBytes(b.data(), b.size()); }

TEST(DocumentVerifier, MinimumSizeAndRootOffset) {
    RawDocument minimal(0, 8, 4);  // 12 bytes: root offset, empty vtable, table
    ASSERT_EQ(minimal.bytes.size(), 12u);
    EXPECT_TRUE(Verify(minimal.bytes));
    EXPECT_EQ(hzd::DocumentThumbnail(minimal.bytes.data()), nullptr);

    Bytes eleven(minimal.bytes.begin(), minimal.bytes.end() - 1);
    EXPECT_FALSE(Verify(eleven));

    struct Case {
        uint32_t rootOffset;
        bool accepted;
    };
    for (Case c : {Case{0, false}, Case{0x80000008u, false}, Case{12, false}, Case{11, false}, Case{8, true}}) {
        RawDocument d(0, 8, 4);
        d.U32(0, c.rootOffset);
        EXPECT_EQ(Verify(d.bytes), c.accepted) << c.rootOffset;
    }
}

TEST(DocumentVerifier, ScalarAlignmentIsMeasuredFromTheBufferStart) {
    struct Case {
        const char* name;
        size_t slot;
        uint16_t fieldOffset;  // table at 24, so absolute position is 24 + fieldOffset
        bool accepted;
    };
    const Case cases[] = {
        {"8-byte slot 7 at 32", 7, 8, true},
        {"8-byte slot 7 at 28", 7, 4, false},
        {"8-byte slot 7 at 36", 7, 12, false},
        {"4-byte slot 0 at 30", 0, 6, false},
        {"4-byte slot 0 at 28", 0, 4, true},
        {"1-byte slot 3 at 29", 3, 5, true},
        {"8-byte slot 7 past the table's buffer end", 7, 16, false},
    };
    for (const Case& c : cases) {
        RawDocument d(8, 24, 16);  // 8 slots: vtable 4..23
        d.Slot(c.slot, c.fieldOffset);
        EXPECT_EQ(Verify(d.bytes), c.accepted) << c.name;
    }
}

TEST(DocumentVerifier, VtableShapeIsChecked) {
    RawDocument odd(0, 8, 4);
    odd.U16(4, 5);
    EXPECT_FALSE(Verify(odd.bytes)) << "odd vtable size";
    RawDocument beyond(0, 8, 4);
    beyond.U16(4, 200);
    EXPECT_FALSE(Verify(beyond.bytes)) << "vtable past the end";
    RawDocument unaligned(0, 8, 4);
    unaligned.U32(0, 9);
    unaligned.Grow(16);
    EXPECT_FALSE(Verify(unaligned.bytes)) << "table not 4-aligned";
}

TEST(DocumentVerifier, StringsMustEndWithZeroInsideTheBuffer) {
    auto make = [](uint8_t last, size_t size) {
        RawDocument d(9, 28, 8);  // slot 8 is a string: vtable 4..25
        d.Slot(8, 4);             // field at 32
        d.U32(32, 36 - 32);       // string at 36
        d.U32(36, 3);
        d.Grow(44);
        std::memcpy(d.bytes.data() + 40, "abc", 3);
        d.bytes[43] = last;
        d.bytes.resize(size);
        return d.bytes;
    };
    EXPECT_TRUE(Verify(make(0, 44)));
    EXPECT_FALSE(Verify(make('x', 44)));
    EXPECT_FALSE(Verify(make(0, 43)));
}

TEST(DocumentVerifier, ThumbnailIsReadOnlyWhenTheVtableReachesSlotTwelve) {
    {
        RawDocument d(12, 32, 24);  // vtable 28 bytes: ends before slot 12
        d.Slot(11, 4);
        EXPECT_TRUE(Verify(d.bytes));
        EXPECT_EQ(hzd::DocumentThumbnail(d.bytes.data()), nullptr);
    }
    {
        RawDocument d(13, 36, 24);  // vtable 30 bytes, slot 12 at table offset 4 (absolute 40)
        d.Slot(12, 4);
        d.U32(40, 640);
        d.U32(44, 480);
        d.U32(48, 77);
        EXPECT_TRUE(Verify(d.bytes));
        const hzd::ThumbnailRef* t = hzd::DocumentThumbnail(d.bytes.data());
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->width(), 640u);
        EXPECT_EQ(t->height(), 480u);
        EXPECT_EQ(t->blob_id(), 77u);
        d.Slot(12, 8);  // absolute 44: not 8-aligned
        EXPECT_FALSE(Verify(d.bytes));
        d.Slot(12, 0);
        EXPECT_TRUE(Verify(d.bytes));
        EXPECT_EQ(hzd::DocumentThumbnail(d.bytes.data()), nullptr);
    }
}

TEST(DocumentVerifier, BuilderDocumentsVerifyAndEveryTruncationIsRefused) {
    const Bytes full = testdoc::MetadataBuffer(testdoc::ThumbnailFields{300, 200, 9}, true);
    ASSERT_TRUE(Verify(full));
    const hzd::ThumbnailRef* t = hzd::DocumentThumbnail(full.data());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->width(), 300u);
    EXPECT_EQ(t->blob_id(), 9u);
    // The builder pads the far end to 4 bytes; every shorter cut loses something referenced.
    for (size_t n = 0; n + 3 < full.size(); ++n) {
        Bytes cut(full.begin(), full.begin() + ptrdiff_t(n));
        EXPECT_FALSE(Verify(cut)) << n;
    }
    EXPECT_TRUE(Verify(testdoc::MetadataBuffer(std::nullopt, false)));
    EXPECT_EQ(hzd::DocumentThumbnail(testdoc::MetadataBuffer(std::nullopt, true).data()), nullptr);
}

// Document -> ElementList -> Element -> ItemList -> Item, with the item's union as given.
Bytes DocumentWithItem(uint8_t tag, bool valueIsString, bool withValue) {
    flatbuffers::FlatBufferBuilder fbb;
    flatbuffers::Offset<void> value;
    if (valueIsString)
        value = fbb.CreateString("abc").Union();
    else
        value = hzd::CreateItemVariant3(fbb).Union();
    hzd::ItemBuilder item(fbb);
    item.add_value_type(static_cast<hzd::ItemValue>(tag));
    if (withValue) item.add_value(value);
    auto itemOffset = item.Finish();
    auto items = hzd::CreateItemList(fbb, fbb.CreateVector(std::vector<flatbuffers::Offset<hzd::Item>>{itemOffset}));
    hzd::ElementBuilder element(fbb);
    element.add_slot38(items);
    auto elementOffset = element.Finish();
    auto list = hzd::CreateElementList(fbb, 1, fbb.CreateVector(std::vector<flatbuffers::Offset<hzd::Element>>{elementOffset}));
    hzd::DocumentBuilder document(fbb);
    document.add_slot17(list);
    fbb.Finish(document.Finish());
    return Bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

TEST(DocumentVerifier, UnionTagsChooseWhatTheValueIsVerifiedAs) {
    struct Case {
        const char* name;
        uint8_t tag;
        bool valueIsString, withValue, accepted;
    };
    const Case cases[] = {
        {"tag 3, its table", 3, false, true, true},
        {"tag 3, a string where the table should be", 3, true, true, false},
        {"tag 11, a string", 11, true, true, false},
        {"tag 12 is unknown: value not examined", 12, true, true, true},
        {"tag 255 is unknown", 255, true, true, true},
        {"tag 0 with a value", 0, true, true, true},
        {"tag 3 without a value", 3, false, false, true},
    };
    for (const Case& c : cases) EXPECT_EQ(Verify(DocumentWithItem(c.tag, c.valueIsString, c.withValue)), c.accepted) << c.name;
}

TEST(DocumentVerifier, EntryTagsTwoAndThreeShareALayoutButStayDistinct) {
    flatbuffers::FlatBufferBuilder fbb;
    auto v2 = hzd::CreateEntryVariant2(fbb, 1, 2);
    auto v3 = hzd::CreateEntryVariant3(fbb, 3, 4);
    auto e2 = hzd::CreateDocumentEntry(fbb, 0, hzd::EntryValue_EntryVariant2, v2.Union());
    auto e3 = hzd::CreateDocumentEntry(fbb, 0, hzd::EntryValue_EntryVariant3, v3.Union());
    // Tag 5 pointing at a two-scalar table: verified as EntryVariant5, whose slot 0 is a vector.
    auto e5 = hzd::CreateDocumentEntry(fbb, 0, hzd::EntryValue_EntryVariant5, v2.Union());
    auto entries = fbb.CreateVector(std::vector<flatbuffers::Offset<hzd::DocumentEntry>>{e2, e3});
    hzd::DocumentBuilder document(fbb);
    document.add_slot13(entries);
    fbb.Finish(document.Finish());
    Bytes good(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
    ASSERT_TRUE(Verify(good));
    const auto* list = hzd::GetDocument(good.data())->slot13();
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ(list->Get(0)->value_type(), hzd::EntryValue_EntryVariant2);
    EXPECT_EQ(list->Get(1)->value_type(), hzd::EntryValue_EntryVariant3);
    EXPECT_EQ(list->Get(1)->value_as_EntryVariant3()->slot1(), 4u);

    flatbuffers::FlatBufferBuilder bad;
    auto w2 = hzd::CreateEntryVariant2(bad, 1000, 2);
    auto w5 = hzd::CreateDocumentEntry(bad, 0, hzd::EntryValue_EntryVariant5, w2.Union());
    auto badEntries = bad.CreateVector(std::vector<flatbuffers::Offset<hzd::DocumentEntry>>{w5});
    hzd::DocumentBuilder badDocument(bad);
    badDocument.add_slot13(badEntries);
    bad.Finish(badDocument.Finish());
    EXPECT_FALSE(Verify(Bytes(bad.GetBufferPointer(), bad.GetBufferPointer() + bad.GetSize())));
    (void)e5;
}

TEST(DocumentVerifier, TableCountLimitIsOneMillion) {
    auto withEntries = [](size_t n) {
        flatbuffers::FlatBufferBuilder fbb(n * 12 + 1024);
        std::vector<flatbuffers::Offset<hzd::DocumentEntry>> entries(n);
        for (auto& e : entries) e = hzd::DocumentEntryBuilder(fbb).Finish();
        auto vector = fbb.CreateVector(entries);
        hzd::DocumentBuilder document(fbb);
        document.add_slot13(vector);
        fbb.Finish(document.Finish());
        return Bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
    };
    EXPECT_TRUE(Verify(withEntries(999999)));    // with the root: 1000000 tables
    EXPECT_FALSE(Verify(withEntries(1000000)));  // 1000001
}

TEST(DocumentVerifier, SizesTheVerifierCannotTakeAreRefusedUnread) {
    uint8_t small[16] = {};
    EXPECT_FALSE(hzd::VerifyDocumentBytes(small, hzd::kMaxDocumentBytes + 1));
    EXPECT_FALSE(hzd::VerifyDocumentBytes(nullptr, 0));
    flatbuffers::Verifier::Options options = hzd::DocumentVerifierOptions();
    EXPECT_EQ(options.max_depth, 64u);
    EXPECT_EQ(options.max_tables, 1000000u);
    EXPECT_TRUE(options.check_alignment);
    EXPECT_TRUE(options.check_nested_flatbuffers);
}

}  // namespace
