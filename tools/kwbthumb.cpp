// kwbthumb: the thumbnail of one document as a PNG or BMP file, made by the same reader and
// provider the shell uses.
//
//   kwbthumb [-s SIZE] [--square] [--format png|bmp] INPUT OUTPUT
//
// Exit status 0 with a thumbnail, 1 when the document gives none, 2 for usage errors and for
// inputs and outputs that cannot be read or written (see kwbthumb.1).
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "tools/ImageFiles.h"
#include "tools/InputDocument.h"
#include "tools/OutputFile.h"
#include "tools/ThumbnailRequest.h"

namespace {

constexpr int kExitThumbnail = 0;
constexpr int kExitNoThumbnail = 1;
constexpr int kExitUsage = 2;
constexpr long kDefaultSize = 256;
constexpr long kLargestSize = 8192;

const char kUsage[] =
    "usage: kwbthumb [-s SIZE] [--square] [--format png|bmp] INPUT OUTPUT\n"
    "       kwbthumb --help | --version\n"
    "Writes the thumbnail stored in a page-store (.kwb) document or a layered archive (.rvn).\n"
    "  -s, --size SIZE    longer side of the thumbnail in pixels, 1 to 8192 (default 256)\n"
    "      --square       the SIZE x SIZE bitmap of the Windows shell extension, the picture\n"
    "                     centred on a transparent square\n"
    "  -f, --format FMT   png or bmp; by default OUTPUT's extension (.png or .bmp) says\n"
    "  INPUT, OUTPUT      file names; - is standard input or output (PNG unless --format)\n"
    "Exit status: 0 thumbnail written, 1 the document gives no thumbnail,\n"
    "2 usage error or a file that cannot be read or written.\n";

enum class Format { FromName, Png, Bmp };

struct Options {
    long size = kDefaultSize;
    bool square = false;
    Format format = Format::FromName;
    std::vector<std::string> operands;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kwbthumb: %s (try --help)\n", message.c_str());
    return kExitUsage;
}

int Failure(int status, const std::string& message) {
    std::fprintf(stderr, "kwbthumb: %s\n", message.c_str());
    return status;
}

std::string LowerExtension(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool ParseFormat(const std::string& name, Format& format) {
    if (name == "png") return format = Format::Png, true;
    if (name == "bmp") return format = Format::Bmp, true;
    return false;
}

// Returns -1 when the options are good, otherwise the exit status.
int ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // The value of an option: "--size=N", "-sN", or the next argument.
        auto value = [&](const std::string& shortName, const std::string& longName, std::string& out) {
            if (arg == shortName || arg == longName) {
                if (i + 1 >= argc) return -2;
                out = argv[++i];
                return 1;
            }
            if (arg.compare(0, longName.size() + 1, longName + "=") == 0) return out = arg.substr(longName.size() + 1), 1;
            if (arg.size() > 2 && arg.compare(0, 2, shortName) == 0) return out = arg.substr(2), 1;
            return 0;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitThumbnail;
        }
        if (arg == "--version") {
            std::puts("kwbthumb " KWBTHUMB_VERSION);
            return kExitThumbnail;
        }
        if (arg == "--") {
            for (++i; i < argc; ++i) options.operands.emplace_back(argv[i]);
            break;
        }
        if (arg == "--square") {
            options.square = true;
            continue;
        }
        if (int got = value("-s", "--size", v)) {
            if (got < 0) return UsageError(arg + " needs a size");
            char* end = nullptr;
            errno = 0;
            options.size = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || errno || options.size < 1 || options.size > kLargestSize)
                return UsageError("bad size '" + v + "' (1 to 8192)");
            continue;
        }
        if (int got = value("-f", "--format", v)) {
            if (got < 0) return UsageError(arg + " needs a format");
            if (!ParseFormat(v, options.format)) return UsageError("unknown format '" + v + "' (png or bmp)");
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') return UsageError("unknown option '" + arg + "'");
        options.operands.push_back(arg);
    }
    if (options.operands.size() != 2) return UsageError("expected INPUT and OUTPUT");
    if (options.format == Format::FromName) {
        const std::string& output = options.operands[1];
        if (output == "-") {
            options.format = Format::Png;
        } else if (!ParseFormat(LowerExtension(output), options.format)) {
            return UsageError("cannot tell the format from '" + output +
                              "': name it .png or .bmp, or give --format png or --format bmp");
        }
    }
    return -1;
}

// The page-store reader reports damage in a message box; kwbthumb only needs to know one came.
bool readerComplained = false;

int NoteMessageBox(HWND, LPCWSTR, LPCWSTR, UINT) {
    readerComplained = true;
    return IDOK;
}

bool Write(FILE* file, Format format, const kwb::Picture& picture, const BITMAPINFOHEADER& header) {
    return format == Format::Bmp ? kwb::WriteBmp(file, picture, header) : kwb::WritePng(file, picture);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int status = ParseOptions(argc, argv, options); status >= 0) return status;
    const std::string& inputName = options.operands[0];
    const std::string& outputName = options.operands[1];
    const std::string document = inputName == "-" ? "standard input" : "'" + inputName + "'";
    // A reader that goes away (a pipe closed early) is a write error, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);

    std::string error;
    kwb::InputDocument input;
    if (!input.Open(inputName, error)) return Failure(kExitUsage, error);
    kwb::OutputFile output;
    if (!output.Open(outputName, &input.Identity(), error)) return Failure(kExitUsage, error);

    SetMessageBoxSink(&NoteMessageBox);
    const kwb::DocumentFormat format = kwb::SniffDocument(input.Stream());
    if (format == kwb::DocumentFormat::Unknown)
        return Failure(kExitNoThumbnail, document + ": not a document of a known kind");
    const std::string damaged = document + ": the document is damaged";
    const UINT size = static_cast<UINT>(options.size);

    bool written = false;
    if (options.square) {
        HBITMAP bitmap = nullptr;
        const HRESULT hr = kwb::RequestThumbnail(input.Stream(), format, size, &bitmap);
        if (hr == E_OUTOFMEMORY) return Failure(kExitNoThumbnail, document + ": not enough memory for the thumbnail");
        if (hr != S_OK)
            return Failure(kExitNoThumbnail, readerComplained ? damaged : document + ": the document holds no thumbnail");
        DIBSECTION ds{};
        if (GetObject(bitmap, sizeof ds, &ds) == sizeof ds && ds.dsBm.bmBits) {
            const kwb::Picture picture{ds.dsBm.bmWidth, ds.dsBm.bmHeight, static_cast<const uint8_t*>(ds.dsBm.bmBits),
                                       true};
            written = Write(output.File(), options.format, picture, ds.dsBmih);
        }
        DeleteObject(bitmap);
    } else {
        kwb::FittedImage fitted;
        switch (kwb::RequestFittedImage(input.Stream(), format, size, fitted)) {
            case kwb::FitOutcome::Fitted: break;
            case kwb::FitOutcome::NoMemory:
                return Failure(kExitNoThumbnail, document + ": not enough memory for the thumbnail");
            case kwb::FitOutcome::NotRead:
                return Failure(kExitNoThumbnail,
                               readerComplained ? damaged : document + ": the document holds no thumbnail");
            case kwb::FitOutcome::Undecodable:
            case kwb::FitOutcome::UnknownFormat: return Failure(kExitNoThumbnail, damaged);
        }
        const kwb::Picture picture{fitted.width, fitted.height,
                                   reinterpret_cast<const uint8_t*>(fitted.pixels.data()), false};
        written = Write(output.File(), options.format, picture, kwb::BottomUpHeader(picture));
    }
    if (!written) {
        const int cause = errno ? errno : EIO;
        return Failure(kExitUsage, "cannot write " + (outputName == "-" ? std::string("standard output")
                                                                        : "'" + outputName + "'") +
                                       ": " + std::strerror(cause));
    }
    if (!output.Commit(error)) return Failure(kExitUsage, error);
    return kExitThumbnail;
}
