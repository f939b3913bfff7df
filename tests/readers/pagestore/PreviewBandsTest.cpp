// The band-by-band read (ReadPageStorePreview, and ReadPageStoreThumbnail on the same source)
// against a whole-blob reference: the pixel blob decoded into one block with DecodeBlob
// (ZSTD_decompressDCtx), then the preview taken from it. Outcome for outcome, bit for bit, on
// generated documents and under faults injected mid-stream.
#include <gtest/gtest.h>

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_WINDOWLOG_MAX
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "readers/pagestore/PushZstdBands.h"
#include "tests/readers/pagestore/PageStoreTestSupport.h"
#include "tests/support/DocumentWriter.h"
#include "tests/support/FaultyStream.h"
#include "tests/support/PreviewOutcomes.h"

namespace {

using testdoc::BlobForm;
using testdoc::Bytes;
using testdoc::FrameOptions;
using testdoc::Layout;
using testdoc::PreviewImage;

using Outcome = testdoc::PreviewOutcome;

class PreviewBands : public pagestore_test::PageBufferAccounting {
protected:
    template <class Read>
    static Outcome Run(const Bytes& bytes, testdoc::StreamFaults faults, Read read, int* reads = nullptr,
                       int* seeks = nullptr) {
        IStream* inner = testdoc::CreateMemoryStream(bytes);
        testdoc::FaultyStream* stream = testdoc::FaultyStream::Create(inner, faults);
        inner->Release();
        Outcome out = read(stream);
        if (reads) *reads = stream->ReadCalls();
        if (seeks) *seeks = stream->SeekCalls();
        stream->Release();
        return out;
    }
    static Outcome Reference(IStream* stream) { return testdoc::WholeBlobPreview(stream); }
    static Outcome Banded(IStream* stream) {
        Outcome out = testdoc::BandedPreview(stream);
        EXPECT_EQ(out.violation, "");
        return out;
    }
    static Outcome Whole(IStream* stream) { return testdoc::ImagePreview(stream); }

    // All three paths on one document; the reference's calls of the stream (Read, or Seek).
    static int ExpectSameOutcome(const Bytes& bytes, testdoc::StreamFaults faults = {}, bool countSeeks = false) {
        int reads = 0, seeks = 0;
        const Outcome reference = Run(bytes, faults, Reference, &reads, &seeks);
        EXPECT_EQ(Run(bytes, faults, Banded), reference) << "ReadPageStorePreview";
        EXPECT_EQ(Run(bytes, faults, Whole), reference) << "ReadPageStoreThumbnail";
        return countSeeks ? seeks : reads;
    }
};

// Documents of every form the source handles: codings, frame kinds, declared and claimed sizes
// above and below the pixels, inline and paged blobs spread over map pages.
TEST_F(PreviewBands, AgreeWithTheWholeBlobDecodeOnGeneratedDocuments) {
    std::mt19937 rng(20261207);
    const uint32_t sides[] = {1, 2, 3, 17, 64, 100, 255, 257, 1000, 4099, 70001};  // 70001: a row above a band
    auto pick = [&](uint32_t n) { return uint32_t(rng() % n); };
    int previews = 0, untouched = 0;
    for (int i = 0; i < 300; ++i) {
        uint32_t w = sides[pick(11)], h = sides[pick(11)];
        while (uint64_t(w) * h > 300000) h = std::max(1u, h / 4);
        const PreviewImage image = testdoc::MakeTestPattern(w, h, uint32_t(i));
        const Bytes pixels = testdoc::PixelBytes(image);
        Layout layout;
        std::string name;
        switch (pick(8)) {
            case 0:
                layout.coding = testdoc::kStored;
                name = "stored";
                break;
            case 1: {  // stored, cut or with bytes to spare
                Bytes cut(pixels.begin(), pixels.begin() + ptrdiff_t(pick(uint32_t(pixels.size()) + 1)));
                if (pick(2)) cut.resize(pixels.size() + pick(300), 0xAB);
                layout.pixelBlob = testdoc::StoredCoding(cut);
                name = "stored, " + std::to_string(cut.size()) + " bytes";
                break;
            }
            case 2: name = "coding 2", layout.coding = 2; break;
            default: {
                FrameOptions frames;
                frames.level = int(pick(3)) * 4 + 1;
                frames.checksum = pick(2);
                frames.contentSize = pick(3) != 0;
                frames.frames = int(pick(3)) + 1;
                frames.skippableFirst = pick(4) == 0;
                if (pick(4) == 0) frames.windowLog = 10 + int(pick(14));
                Bytes decoded = pixels;
                if (pick(3) == 0) decoded.resize(pick(uint32_t(pixels.size()) + 1));  // short
                else if (pick(4) == 0) decoded.resize(pixels.size() + pick(5000), 0x11);  // longer
                uint64_t declared = decoded.size();
                switch (pick(5)) {
                    case 0: declared += pick(100000); break;             // produces less than declared
                    case 1: declared -= std::min<uint64_t>(declared, 1 + pick(3)); break;  // runs past it
                    default: break;
                }
                layout.pixelBlob = testdoc::ZstdBlob(testdoc::ZstdFrames(decoded, frames), declared);
                name = "zstd level " + std::to_string(frames.level) + (frames.checksum ? ", checksum" : "") +
                       (frames.contentSize ? "" : ", unsized") + ", " + std::to_string(frames.frames) + " frames" +
                       (frames.skippableFirst ? ", skippable" : "") + ", window " + std::to_string(frames.windowLog) +
                       ", " + std::to_string(decoded.size()) + " bytes declared " + std::to_string(declared);
            }
        }
        if (pick(5) == 0) layout.claimedWidth = std::max(1u, w + pick(5) - 2);
        if (pick(5) == 0) layout.claimedHeight = std::max(1u, h + pick(5) - 2);
        if (pick(3) == 0) layout.pixelForm = BlobForm::Paged;
        if (pick(3) == 0) layout.pagesFrom = 4080 + int64_t(pick(20));
        if (pick(3) == 0) layout.store.shuffleSeed = uint32_t(i) + 1;
        SCOPED_TRACE(testing::Message() << "document " << i << ": " << w << " x " << h << ", " << name);
        const Bytes document = testdoc::WritePageStoreDocument(image, layout);
        int reads = 0;
        const Outcome reference = Run(document, {}, Reference, &reads);
        previews += reference.kind == Outcome::Preview;
        untouched += reference.kind == Outcome::Untouched;
        EXPECT_EQ(Run(document, {}, Banded), reference) << "ReadPageStorePreview";
        EXPECT_EQ(Run(document, {}, Whole), reference) << "ReadPageStoreThumbnail";
        if (HasFailure()) break;
    }
    // The table must exercise both sides.
    EXPECT_GT(previews, 150);
    EXPECT_GT(untouched, 30);
}

// A 4 MiB preview spans many bands and pages; rows arrive in several bands.
TEST_F(PreviewBands, LargePreviewArrivesInBands) {
    const PreviewImage image = testdoc::MakeTestPattern(1024, 1024, 3);
    for (bool stored : {false, true}) {
        SCOPED_TRACE(stored);
        Layout layout;
        if (stored) layout.coding = testdoc::kStored;
        const Bytes document = testdoc::WritePageStoreDocument(image, layout);
        ExpectSameOutcome(document);
        IStream* stream = testdoc::CreateMemoryStream(document);
        int bands = 0;
        EXPECT_EQ(testdoc::BandedPreview(stream, &bands).kind, Outcome::Preview);
        stream->Release();
        EXPECT_GE(bands, 16) << "a band is a few hundred KB, not the preview";
    }
}

// A frame whose window is above what the declared size needs: the streaming decoder refuses
// it, a sound frame, so it is decoded whole as the one-shot decoder does.
TEST_F(PreviewBands, FramesAskingForALargerWindowStillDecode) {
    // Larger than a band and spread over pages, so that zstd decodes it as a stream.
    const PreviewImage image = testdoc::MakeTestPattern(300, 300, 9);
    const Bytes pixels = testdoc::PixelBytes(image);
    FrameOptions bigWindow;
    bigWindow.contentSize = false;
    bigWindow.windowLog = 24;  // declared 360000 bytes: the stream allows 2^19
    Layout layout;
    layout.pixelBlob = testdoc::ZstdBlob(testdoc::ZstdFrames(pixels, bigWindow), pixels.size());
    const Bytes document = testdoc::WritePageStoreDocument(image, layout);
    IStream* stream = testdoc::CreateMemoryStream(document);
    const Outcome out = Banded(stream);
    stream->Release();
    EXPECT_EQ(out.kind, Outcome::Preview);
    EXPECT_EQ(out.pixels, image.pixels);
    ExpectSameOutcome(document);
}

// A raw or RLE block larger than its frame's window breaks the format. Whether zstd decodes
// it depends on its version and on how it is asked (one-shot, streaming, into a stable
// buffer), so it is a zstd error everywhere: the preview is untouched.
TEST_F(PreviewBands, BlocksLargerThanTheirWindowAreAZstdError) {
    const PreviewImage image = testdoc::MakeTestPattern(160, 120, 2);  // 76800 bytes
    const Bytes pixels = testdoc::PixelBytes(image);
    const uint32_t size = uint32_t(pixels.size());
    // Window 2^10 (or 2^20), with or without a 4-byte content size, one block of it all.
    auto frame = [&](bool rle, bool sized, uint8_t window) {
        Bytes f = {0x28, 0xB5, 0x2F, 0xFD, uint8_t(sized ? 0x80 : 0x00), window};
        if (sized) f.insert(f.end(), {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24)});
        const uint32_t header = size << 3 | (rle ? 2u : 0u) | 1u;
        f.insert(f.end(), {uint8_t(header), uint8_t(header >> 8), uint8_t(header >> 16)});
        if (rle) f.push_back(0x7F);
        else f.insert(f.end(), pixels.begin(), pixels.end());
        return f;
    };
    for (bool rle : {false, true}) {
        for (bool sized : {false, true}) {
            SCOPED_TRACE(testing::Message() << (rle ? "RLE" : "raw") << (sized ? ", sized" : ", unsized"));
            Layout layout;
            layout.pixelBlob = testdoc::ZstdBlob(frame(rle, sized, 0x00), pixels.size());
            const Bytes document = testdoc::WritePageStoreDocument(image, layout);
            IStream* stream = testdoc::CreateMemoryStream(document);
            EXPECT_EQ(Reference(stream).kind, Outcome::Untouched);
            stream->Release();
            ExpectSameOutcome(document);
            // The same block in a 1 MiB window is sound.
            layout.pixelBlob = testdoc::ZstdBlob(frame(rle, sized, 0x50), pixels.size());
            stream = testdoc::CreateMemoryStream(testdoc::WritePageStoreDocument(image, layout));
            EXPECT_EQ(Reference(stream).kind, Outcome::Preview);
            stream->Release();
        }
    }
}

// Stored bytes past the preview are read, as reading the blob whole reads them: a page of
// them that cannot be read fails the blob, though the preview's own rows were all there.
TEST_F(PreviewBands, StoredBytesPastThePreviewFailAsTheWholeReadFails) {
    const PreviewImage image = testdoc::MakeTestPattern(300, 200, 5);  // 240000 bytes: data pages 0-3
    Bytes longer = testdoc::PixelBytes(image);
    longer.resize(longer.size() + 30000, 0x3C);  // data page 4 holds only bytes past the preview
    Layout layout;
    layout.pixelBlob = testdoc::StoredCoding(longer);
    layout.pixelForm = BlobForm::Paged;
    const testdoc::DocumentInfo sound = testdoc::BuildPageStoreDocument(image, layout);
    const uint64_t pixelHead = sound.writer.FidxOf(sound.pixelBlobVidx);
    const int64_t lastData = int64_t(sound.file.PeekU64(pixelHead, 17 + 8 * 4));
    ASSERT_EQ(sound.file.PeekU64(pixelHead, 17 + 8 * 5), 0u) << "five data pages";
    ASSERT_EQ((sound.writer.FidxOf(lastData) + 1) * testdoc::kPageSize, sound.file.size) << "the last page";
    {
        IStream* stream = testdoc::CreateMemoryStream(sound.file.Flatten());
        EXPECT_EQ(Banded(stream).kind, Outcome::Preview);
        stream->Release();
    }

    testdoc::PageFile cut = sound.file;
    cut.size -= 1000;
    testdoc::PageFile pastTheEnd = sound.file;
    // The map entry (head page, after 28 bytes, 16 per entry, file page in the second 8) names
    // a file page beyond the file.
    ASSERT_LT(lastData, 4000);
    pastTheEnd.PokeU64(1, 28 + 16 * size_t(lastData) + 8, sound.file.size / testdoc::kPageSize + 3);
    for (const auto& [name, file] : {std::pair{"file cut inside the last page", cut},
                                     std::pair{"last data page mapped past the end", pastTheEnd}}) {
        SCOPED_TRACE(name);
        const Bytes document = file.Flatten();
        IStream* stream = testdoc::CreateMemoryStream(document);
        EXPECT_EQ(Reference(stream).kind, Outcome::Box);
        stream->Release();
        ExpectSameOutcome(document);
    }
}

// A frame that fails in its last block is decoded once: its error is the frame's own, not one
// that a whole-blob decode could get past, so the blob's pages are read once and the frame is
// not decoded again into a block of the declared size.
TEST_F(PreviewBands, CorruptFrameIsDecodedOnce) {
    const uint32_t w = 1024, h = 1024;  // 4 MiB of zeros: many bands
    Layout layout;
    layout.pixelBlob = testdoc::ZstdBlob(testdoc::DamagedZeroFrame(uint64_t{w} * h * 4), uint64_t{w} * h * 4);
    layout.pixelForm = BlobForm::Paged;
    PreviewImage image;
    image.width = w, image.height = h;
    image.pixels.assign(1, 0);  // the blob stands for the pixels
    const Bytes document = testdoc::WritePageStoreDocument(image, layout);
    int referenceReads = 0, bandedReads = 0, wholeReads = 0;
    EXPECT_EQ(Run(document, {}, Reference, &referenceReads).kind, Outcome::Untouched);
    EXPECT_EQ(Run(document, {}, Banded, &bandedReads).kind, Outcome::Untouched);
    EXPECT_EQ(Run(document, {}, Whole, &wholeReads).kind, Outcome::Untouched);
    EXPECT_EQ(bandedReads, referenceReads);
    EXPECT_EQ(wholeReads, referenceReads);
}

// Faults that surface after rows were pushed: every read of the stream failing in turn, frames
// cut at every few bytes, checksums and content bytes flipped, frames one byte past their
// declared size.
TEST_F(PreviewBands, FaultsMidStreamEndAsTheWholeBlobDecodeEnds) {
    const PreviewImage image = testdoc::MakeTestPattern(300, 200, 4);  // 240000 bytes: 4 data pages
    const Bytes pixels = testdoc::PixelBytes(image);
    FrameOptions checked;
    checked.checksum = true;
    checked.level = 1;
    const Bytes frames = testdoc::ZstdFrames(pixels, checked);

    std::vector<std::pair<std::string, Layout>> documents;
    {
        Layout stored;
        stored.coding = testdoc::kStored;
        stored.pagesFrom = 4092;
        documents.push_back({"stored over a map page", stored});
        Layout zstd;
        zstd.pixelBlob = testdoc::ZstdBlob(testdoc::ZstdFrames(Bytes(pixels.begin(), pixels.begin() + 100000), checked),
                                           pixels.size());
        zstd.pixelForm = BlobForm::Paged;
        documents.push_back({"zstd, short, paged", zstd});
    }
    for (const auto& [name, layout] : documents) {
        const Bytes document = testdoc::WritePageStoreDocument(image, layout);
        for (int kind = 0; kind < 3; ++kind) {
            for (int at = 0;; ++at) {
                SCOPED_TRACE(testing::Message() << name << ", " << (kind == 0 ? "read" : kind == 1 ? "short read" : "seek")
                                                << " " << at);
                testdoc::StreamFaults faults;
                (kind == 0 ? faults.failReadAt : kind == 1 ? faults.shortReadAt : faults.failSeekAt) = at;
                if (ExpectSameOutcome(document, faults, kind == 2) <= at) break;
                if (HasFailure()) return;
            }
        }
    }

    std::vector<std::pair<std::string, Bytes>> blobs;
    for (size_t cut : {size_t(0), size_t(1), size_t(4), size_t(5), size_t(12), frames.size() / 3, frames.size() - 5,
                       frames.size() - 4, frames.size() - 1})
        blobs.push_back({"cut at " + std::to_string(cut), testdoc::ZstdBlob(Bytes(frames.begin(), frames.begin() + ptrdiff_t(cut)), pixels.size())});
    for (size_t at : {frames.size() - 1, frames.size() - 4, frames.size() / 2, size_t(20)}) {
        Bytes flipped = frames;
        flipped[at] ^= 0x40;
        blobs.push_back({"byte " + std::to_string(at) + " flipped", testdoc::ZstdBlob(flipped, pixels.size())});
    }
    FrameOptions unsized = checked;
    unsized.contentSize = false;
    blobs.push_back({"sized frame one byte past the declared size", testdoc::ZstdBlob(frames, pixels.size() - 1)});
    blobs.push_back({"unsized frame one byte past the declared size",
                     testdoc::ZstdBlob(testdoc::ZstdFrames(pixels, unsized), pixels.size() - 1)});
    // Stated size 1000000, more than a band holds, over one empty last block: zstd's streaming
    // decoder alone would accept it.
    blobs.push_back({"frame ends short of its stated size in an empty block",
                     testdoc::ZstdBlob({0x28, 0xB5, 0x2F, 0xFD, 0x80, 0x50, 0x40, 0x42, 0x0F, 0, 1, 0, 0}, 1000000)});
    Bytes trailing = frames;
    trailing.insert(trailing.end(), {0x28, 0xB5, 0x2F});
    blobs.push_back({"three bytes after the frame", testdoc::ZstdBlob(trailing, pixels.size())});
    for (const auto& [name, blob] : blobs) {
        SCOPED_TRACE(name);
        Layout layout;
        layout.pixelBlob = blob;
        ExpectSameOutcome(testdoc::WritePageStoreDocument(image, layout));
    }
}

// A frame of 2 GiB of zeros in 64 KB of RLE blocks, declared one byte short: it must fail, and
// fail without decoding gigabytes (with or without its content size in the header).
TEST_F(PreviewBands, TwoGigabyteZeroFrameDeclaredOneByteShortFails) {
    for (bool sized : {true, false}) {
        SCOPED_TRACE(sized);
        const Bytes frame = testdoc::ZeroRleFrame(1ull << 31, sized);
        testdoc::PageStoreWriter writer;
        writer.SetPage(0, {});
        writer.WriteBlob(5, testdoc::ZstdBlob(frame, 0x7FFFFFFF));
        writer.WriteBlob(0, testdoc::MetadataBuffer(testdoc::ThumbnailFields{64, 64, 5}));
        IStream* stream = testdoc::CreateMemoryStream(writer.Finish().Flatten());
        EXPECT_EQ(Banded(stream).kind, Outcome::Untouched);
        stream->Release();
    }
}

// A sink that cannot take the preview (no memory) means no preview: false, no message box,
// nothing more pushed, every page given back.
TEST_F(PreviewBands, SinkRefusingBeginGivesNoPreview) {
    class RefusingSink final : public tarn::PreviewSink {
    public:
        bool Begin(int32_t, int32_t) override { return ++begins, false; }
        void Rows(const uint32_t*, int32_t) override { ++calls; }
        void Discard() override { ++calls; }
        int begins = 0, calls = 0;
    };
    const PreviewImage image = testdoc::MakeTestPattern(300, 200, 6);
    for (uint8_t coding : {testdoc::kZstd, testdoc::kStored}) {
        SCOPED_TRACE(int(coding));
        Layout layout;
        layout.coding = coding;
        IStream* stream = testdoc::CreateMemoryStream(testdoc::WritePageStoreDocument(image, layout));
        RefusingSink sink;
        tarn::PreviewOutcome result = tarn::PreviewOutcome::Delivered;
        const bool box = testdoc::outcome_detail::WithBoxCounted([&] { result = ReadPageStorePreview(sink, stream); });
        stream->Release();
        EXPECT_EQ(result, tarn::PreviewOutcome::NoPreview);
        EXPECT_FALSE(box);
        EXPECT_EQ(sink.begins, 1);
        EXPECT_EQ(sink.calls, 0);
    }
}

TEST(ZstdWindowLog, FollowsTheDeclaredSize) {
    const struct {
        uint64_t declared;
        int log;
    } cases[] = {{0, 10}, {1, 10}, {1024, 10}, {1025, 11}, {4 << 20, 22}, {(4 << 20) + 1, 23},
                 {0x3FFFFFFF, 30}, {0x7FFFFFFF, ZSTD_WINDOWLOG_MAX}, {1ull << 40, ZSTD_WINDOWLOG_MAX}};
    for (const auto& c : cases) EXPECT_EQ(pagestore::ZstdWindowLogFor(c.declared), c.log) << c.declared;
}

}  // namespace
