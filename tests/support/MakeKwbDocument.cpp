// make_kwb_document: writes a page-store (.kwb) document whose stored preview is a PNG file's
// picture or a generated test pattern.
//
//   make_kwb_document OUT.kwb --png IN.png [--stored]
//   make_kwb_document OUT.kwb --pattern WIDTH HEIGHT [--stored]
//   make_kwb_document OUT.kwb --zero-frame WIDTH HEIGHT [--unsized | --damaged]
//   make_kwb_document OUT.rvn --archive --png IN.png
//
// --archive writes a layered archive with the picture as its zlib-compressed preview instead.
// The preview is zstd-compressed unless --stored is given. --zero-frame writes a hostile
// preview: 2^31 zero bytes in one 64 KB frame of RLE blocks, declared as 2^31 - 1 bytes
// (--unsized: the frame header does not state its size). With --damaged the frame holds and
// declares the preview's own size, WIDTH x HEIGHT x 4 zero bytes, states no size, and its
// last block is corrupt: it fails only once everything before it has been decoded.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/DocumentWriter.h"
#include "tests/support/archive/ArchiveWriter.h"

namespace {

bool LoadPng(const char* path, testdoc::PreviewImage& image) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path)) {
        std::fprintf(stderr, "make_kwb_document: %s: %s\n", path, png.message);
        return false;
    }
    png.format = PNG_FORMAT_BGRA;  // the preview's byte order: B, G, R, A
    image.width = png.width;
    image.height = png.height;
    image.pixels.resize(static_cast<size_t>(png.width) * png.height);
    if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) {
        std::fprintf(stderr, "make_kwb_document: %s: %s\n", path, png.message);
        return false;
    }
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: make_kwb_document OUT.kwb --png IN.png [--stored]\n"
                 "       make_kwb_document OUT.kwb --pattern WIDTH HEIGHT [--stored]\n"
                 "       make_kwb_document OUT.kwb --zero-frame WIDTH HEIGHT [--unsized | --damaged]\n"
                 "       make_kwb_document OUT.rvn --archive --png IN.png\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const char* out = argv[1];
    testdoc::PreviewImage image;
    testdoc::Layout layout;
    bool zeroFrame = false, unsized = false, damaged = false, archive = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--png" && i + 1 < argc) {
            if (!LoadPng(argv[++i], image)) return 1;
        } else if (arg == "--pattern" && i + 2 < argc) {
            long w = std::strtol(argv[i + 1], nullptr, 10), h = std::strtol(argv[i + 2], nullptr, 10);
            i += 2;
            if (w < 1 || h < 1 || w > 0x7FFFFFFF / 4 || h > 0x7FFFFFFF / 4 / w) return Usage();
            image = testdoc::MakeTestPattern(static_cast<uint32_t>(w), static_cast<uint32_t>(h));
        } else if (arg == "--zero-frame" && i + 2 < argc) {
            long w = std::strtol(argv[i + 1], nullptr, 10), h = std::strtol(argv[i + 2], nullptr, 10);
            i += 2;
            if (w < 1 || h < 1 || w > 0x7FFFFFFF / 4 || h > 0x7FFFFFFF / 4 / w) return Usage();
            image.width = static_cast<uint32_t>(w), image.height = static_cast<uint32_t>(h);
            image.pixels.assign(1, 0);  // the blob below stands for the pixels
            zeroFrame = true;
        } else if (arg == "--archive") {
            archive = true;
        } else if (arg == "--unsized") {
            unsized = true;
        } else if (arg == "--damaged") {
            damaged = true;
        } else if (arg == "--stored") {
            layout.coding = testdoc::kStored;
        } else {
            return Usage();
        }
    }
    if (image.pixels.empty() || (damaged && (unsized || !zeroFrame)) || (archive && zeroFrame)) return Usage();
    if (damaged) {
        const uint64_t size = uint64_t{image.width} * image.height * 4;
        layout.pixelBlob = testdoc::ZstdBlob(testdoc::DamagedZeroFrame(size), size);
    } else if (zeroFrame) {
        layout.pixelBlob = testdoc::ZstdBlob(testdoc::ZeroRleFrame(1ull << 31, !unsized), 0x7FFFFFFF);
    }
    const testdoc::Bytes bytes =
        archive ? archive_test::PreviewArchive(static_cast<int32_t>(image.width), static_cast<int32_t>(image.height),
                                               image.pixels)
                : testdoc::WritePageStoreDocument(image, layout);
    FILE* f = std::fopen(out, "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "make_kwb_document: cannot write %s\n", out);
        return 1;
    }
    std::printf("%s: %ux%u preview, %zu bytes\n", out, image.width, image.height, bytes.size());
    return 0;
}
