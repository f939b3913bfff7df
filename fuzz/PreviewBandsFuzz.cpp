// The band-by-band page-store read against the whole-blob decode: ReadPageStorePreview and
// ReadPageStoreThumbnail must come to the same outcome, pixel for pixel, as decoding the pixel
// blob into one block first, and the sink must be used as its contract says.
// Input: as fuzz_pagestore_provider's (a u16, unused here, then the file as page records), so
// that target's corpus serves as seeds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "fuzz/FuzzSupport.h"
#include "readers/pagestore/SeekPageMapper.h"
#include "tests/support/PreviewOutcomes.h"

namespace {

constexpr uint64_t kMaxPixels = 1 << 22;  // 16 MiB of pixels

void Require(bool ok, const char* what, const testdoc::PreviewOutcome& got, const testdoc::PreviewOutcome& want) {
    if (ok) return;
    std::ostringstream text;
    text << what << ": " << got << ", whole-blob decode: " << want;
    std::fprintf(stderr, "fuzz: %s\n", text.str().c_str());
    std::abort();
}

template <class Read>
testdoc::PreviewOutcome Run(const std::vector<uint8_t>& file, Read read) {
    IStream* stream = fuzz::MemoryStream(file);
    if (!stream) std::abort();
    testdoc::PreviewOutcome out = read(stream);
    stream->Release();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputCursor cursor(data, size);
    cursor.U16();
    const std::vector<uint8_t> file = fuzz::ExpandPageRecords(cursor);
    const size_t unreturned = pagestore::UnreturnedPageBufferCount();

    // Previews the fuzzer cannot hold three times over within its limits are the provider
    // target's to try.
    const testdoc::PreviewOutcome want = Run(file, [](IStream* s) { return testdoc::WholeBlobPreview(s, kMaxPixels); });
    if (want.kind == testdoc::PreviewOutcome::TooLarge) return 0;
    const testdoc::PreviewOutcome bands = Run(file, [](IStream* s) { return testdoc::BandedPreview(s); });
    Require(bands.violation.empty(), "ReadPageStorePreview misused its sink", bands, want);
    Require(bands == want, "ReadPageStorePreview", bands, want);
    const testdoc::PreviewOutcome image = Run(file, [](IStream* s) { return testdoc::ImagePreview(s); });
    Require(image == want, "ReadPageStoreThumbnail", image, want);
    Require(pagestore::LivePageBufferCount() == 0 && pagestore::UnreturnedPageBufferCount() == unreturned,
            "page buffers not given back", image, want);
    return 0;
}
