// kwbthumb: the thumbnail of one document as a PNG or BMP file, made through the same COM
// objects the shell uses.
//
//   kwbthumb [-s SIZE] INPUT OUTPUT
//
// Exit status 0 with a thumbnail, 1 when the document gives none, 2 for usage errors.
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "tools/ThumbnailRequest.h"

namespace {

constexpr int kExitThumbnail = 0;
constexpr int kExitNoThumbnail = 1;
constexpr int kExitUsage = 2;
constexpr long kDefaultSize = 256;
constexpr long kLargestSize = 8192;

const char kUsage[] =
    "usage: kwbthumb [-s SIZE] INPUT OUTPUT\n"
    "       kwbthumb --version\n"
    "Writes the thumbnail stored in a page-store (.kwb) document or a layered archive.\n"
    "  -s SIZE   edge of the square thumbnail in pixels, 1 to 8192 (default 256)\n"
    "  OUTPUT    ending in .bmp: a 32-bit bottom-up BMP with the bitmap exactly as made;\n"
    "            otherwise an RGBA PNG\n"
    "Exit status: 0 thumbnail written, 1 the document has no thumbnail, 2 usage error.\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kwbthumb: %s (try --help)\n", message.c_str());
    return kExitUsage;
}

bool EndsWith(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
    return true;
}

std::u16string Utf16(const std::string& s) {
    // Paths go to the stream factory as UTF-16; a byte that is not valid UTF-8 passes as is.
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        char32_t cp = len == 4 ? c & 0x07 : len == 3 ? c & 0x0F : len == 2 ? c & 0x1F : c;
        for (size_t k = 1; k < len; ++k) {
            if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                len = 1;
                cp = c;
                break;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

// The page-store reader reports its failures in a message box; here its text joins the one
// line of the "no thumbnail" message instead of a line of its own.
std::string readerMessage;

int CaptureMessageBox(HWND, LPCWSTR text, LPCWSTR, UINT) {
    std::string utf8;
    for (const WCHAR* p = text; p && *p; ++p) utf8 += *p < 0x80 ? static_cast<char>(*p) : '?';
    readerMessage = utf8;
    return IDOK;
}

// Owns a temporary file next to the output; it becomes the output only by Commit.
class AtomicOutput {
public:
    explicit AtomicOutput(const std::string& path) : path_(path) {
        const size_t slash = path.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
        const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        temp_ = dir + "/." + base + ".XXXXXX";
        std::vector<char> name(temp_.begin(), temp_.end());
        name.push_back(0);
        const int fd = mkstemp(name.data());
        if (fd < 0) return;
        temp_.assign(name.data());
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        file_ = fdopen(fd, "wb");
        if (!file_) {
            close(fd);
            unlink(temp_.c_str());
        }
    }
    ~AtomicOutput() {
        if (!file_) return;
        std::fclose(file_);
        unlink(temp_.c_str());
    }
    bool Ok() const { return file_ != nullptr; }
    FILE* File() { return file_; }
    bool Commit() {
        const bool flushed = std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!flushed || !closed || std::rename(temp_.c_str(), path_.c_str()) != 0) {
            unlink(temp_.c_str());
            return false;
        }
        return true;
    }

private:
    std::string path_;
    std::string temp_;
    FILE* file_ = nullptr;  // open until Commit; the destructor removes an uncommitted file
};

bool WriteBmp(FILE* f, const DIBSECTION& ds) {
    const BITMAPINFOHEADER& h = ds.dsBmih;
    const size_t bytes = static_cast<size_t>(ds.dsBm.bmWidthBytes) * static_cast<size_t>(ds.dsBm.bmHeight);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;  // "BM"
    fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    fh.bfSize = static_cast<DWORD>(fh.bfOffBits + bytes);
    return std::fwrite(&fh, sizeof fh, 1, f) == 1 && std::fwrite(&h, sizeof h, 1, f) == 1 &&
           std::fwrite(ds.dsBm.bmBits, 1, bytes, f) == bytes;
}

// The bitmap's rows are bottom-up BGRA; a negative stride (in components) hands them to
// libpng top-down.
bool WritePng(FILE* f, const DIBSECTION& ds) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(ds.dsBm.bmWidth);
    image.height = static_cast<png_uint_32>(ds.dsBm.bmHeight);
    image.format = PNG_FORMAT_BGRA;
    const png_int_32 stride = -static_cast<png_int_32>(PNG_IMAGE_ROW_STRIDE(image));
    const bool ok = png_image_write_to_stdio(&image, f, 0, ds.dsBm.bmBits, stride, nullptr) != 0;
    png_image_free(&image);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    long size = kDefaultSize;
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitThumbnail;
        }
        if (arg == "--version") {
            std::puts("kwbthumb " KWBTHUMB_VERSION);
            return kExitThumbnail;
        }
        if (arg == "--") {
            for (++i; i < argc; ++i) operands.emplace_back(argv[i]);
            break;
        }
        if (arg == "-s" || (arg.size() > 2 && arg.compare(0, 2, "-s") == 0)) {
            std::string value;
            if (arg == "-s") {
                if (i + 1 >= argc) return UsageError("-s needs a size");
                value = argv[++i];
            } else {
                value = arg.substr(2);
            }
            char* end = nullptr;
            errno = 0;
            size = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || errno || size < 1 || size > kLargestSize)
                return UsageError("bad size '" + value + "' (1 to 8192)");
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') return UsageError("unknown option '" + arg + "'");
        operands.push_back(arg);
    }
    if (operands.size() != 2) return UsageError("expected INPUT and OUTPUT");
    const std::string& input = operands[0];
    const std::string& output = operands[1];

    IStream* stream = nullptr;
    if (FAILED(SHCreateStreamOnFileEx(Utf16(input).c_str(), STGM_READ | STGM_SHARE_DENY_NONE, FILE_ATTRIBUTE_NORMAL,
                                      FALSE, nullptr, &stream)))
        return UsageError("cannot read '" + input + "'");

    AtomicOutput out(output);
    if (!out.Ok()) {
        stream->Release();
        return UsageError("cannot write '" + output + "'");
    }

    SetMessageBoxSink(&CaptureMessageBox);
    const kwb::DocumentFormat format = kwb::SniffDocument(stream);
    HBITMAP bitmap = nullptr;
    const HRESULT hr = kwb::RequestThumbnail(stream, format, static_cast<UINT>(size), &bitmap);
    stream->Release();

    if (hr != S_OK) {
        if (format == kwb::DocumentFormat::Unknown)
            std::fprintf(stderr, "kwbthumb: no thumbnail: '%s' is not a page-store document or layered archive\n",
                         input.c_str());
        else
            std::fprintf(stderr, "kwbthumb: no thumbnail in '%s' (result 0x%08X%s%s)\n", input.c_str(),
                         static_cast<unsigned>(hr), readerMessage.empty() ? "" : "; reader: ",
                         readerMessage.c_str());
        return kExitNoThumbnail;
    }

    DIBSECTION ds{};
    const bool described = GetObject(bitmap, sizeof ds, &ds) == sizeof ds && ds.dsBm.bmBits;
    const bool written = described && (EndsWith(output, ".bmp") ? WriteBmp(out.File(), ds) : WritePng(out.File(), ds));
    DeleteObject(bitmap);
    if (!written || !out.Commit()) return UsageError("cannot write '" + output + "'");
    return kExitThumbnail;
}
