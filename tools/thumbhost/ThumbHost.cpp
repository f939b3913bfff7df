// thumbhost: asks for a thumbnail the way the Windows shell does, through the registry and
// COM, and writes the bitmap it gets as the same BMP file that kwbthumb writes on Linux.
//
//   thumbhost [-s SIZE] INPUT OUTPUT.bmp
//
// Exit status: 0 thumbnail written; 1 no thumbnail (S_FALSE or a failed request); 2 usage
// error, unreadable input or unwritable output.
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "tools/thumbhost/HandlerLookup.h"

namespace {

constexpr UINT kDefaultSize = 256;
constexpr UINT kMaxSize = 8192;
constexpr int kExitThumbnail = 0;
constexpr int kExitNoThumbnail = 1;
constexpr int kExitUsage = 2;

const char* const kUsage = "usage: thumbhost [-s SIZE] INPUT OUTPUT.bmp   (SIZE 1 to 8192, default 256)";

// Releases a COM pointer at the end of its scope.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (p_) p_->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** put() { return &p_; }
    void** putVoid() { return reinterpret_cast<void**>(&p_); }

private:
    T* p_ = nullptr;
};

// Keeps COM initialised for the apartment of this thread.
class ComApartment {
public:
    ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    HRESULT result() const { return hr_; }

private:
    HRESULT hr_;
};

class Bitmap {
public:
    Bitmap() = default;
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
    ~Bitmap() {
        if (h_) DeleteObject(h_);
    }
    HBITMAP get() const { return h_; }
    HBITMAP* put() { return &h_; }

private:
    HBITMAP h_ = nullptr;
};

void Fail(const wchar_t* what, const wchar_t* path) { std::fwprintf(stderr, L"thumbhost: %ls: %ls\n", what, path); }

void FailHr(const wchar_t* what, HRESULT hr, const wchar_t* path) {
    std::fwprintf(stderr, L"thumbhost: %ls (0x%08lX): %ls\n", what, static_cast<unsigned long>(hr), path);
}

bool ParseSize(const wchar_t* text, UINT& size) {
    if (!*text) return false;
    unsigned long value = 0;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c < L'0' || *c > L'9') return false;
        value = value * 10 + static_cast<unsigned long>(*c - L'0');
        if (value > kMaxSize) return false;
    }
    if (value < 1) return false;
    size = static_cast<UINT>(value);
    return true;
}

// The file as kwbthumb writes it: file header, the bitmap's info header, bottom-up B,G,R,A rows.
bool WriteBmp(HBITMAP bitmap, const wchar_t* path, int& exitCode) {
    exitCode = kExitNoThumbnail;
    DIBSECTION section = {};
    if (GetObjectW(bitmap, sizeof(section), &section) != sizeof(section) || section.dsBm.bmBitsPixel != 32) {
        Fail(L"the thumbnail is not a 32-bit DIB section", path);
        return false;
    }
    BITMAPINFO info = {};
    info.bmiHeader = section.dsBmih;
    // GDI reports the computed image size; the header the provider filled carries 0, which
    // is what BI_RGB bitmaps may always carry.
    info.bmiHeader.biSizeImage = 0;
    const LONG width = info.bmiHeader.biWidth;
    const LONG height = info.bmiHeader.biHeight < 0 ? -info.bmiHeader.biHeight : info.bmiHeader.biHeight;
    const size_t bitsSize = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    std::vector<BYTE> bits(bitsSize);

    // GetDIBits hands the rows out in the order that the header's height sign asks for.
    HDC dc = CreateCompatibleDC(nullptr);
    BITMAPINFO request = info;
    int rows = dc ? GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), bits.data(), &request, DIB_RGB_COLORS) : 0;
    if (dc) DeleteDC(dc);
    if (rows != height) {
        Fail(L"cannot read the thumbnail's bits", path);
        return false;
    }

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = static_cast<DWORD>(file.bfOffBits + bitsSize);

    exitCode = kExitUsage;
    HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        Fail(L"cannot write", path);
        return false;
    }
    auto put = [out](const void* data, size_t size) {
        DWORD written = 0;
        return WriteFile(out, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
    };
    bool ok = put(&file, sizeof(file)) && put(&info.bmiHeader, sizeof(BITMAPINFOHEADER)) && put(bits.data(), bits.size());
    ok = CloseHandle(out) && ok;
    if (!ok) {
        DeleteFileW(path);
        Fail(L"cannot write", path);
        return false;
    }
    exitCode = kExitThumbnail;
    return true;
}

int Run(int argc, wchar_t** argv) {
    UINT size = kDefaultSize;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == L'-'; ++arg) {
        if (std::wcscmp(argv[arg], L"--help") == 0 || std::wcscmp(argv[arg], L"-h") == 0) {
            std::puts(kUsage);
            return kExitThumbnail;
        }
        if (std::wcscmp(argv[arg], L"-s") == 0) {
            if (++arg == argc || !ParseSize(argv[arg], size)) {
                std::fwprintf(stderr, L"thumbhost: bad size: %ls\n", arg < argc ? argv[arg] : L"(missing)");
                return kExitUsage;
            }
            continue;
        }
        std::fwprintf(stderr, L"thumbhost: unknown option: %ls\n", argv[arg]);
        std::fprintf(stderr, "%s\n", kUsage);
        return kExitUsage;
    }
    if (argc - arg != 2) {
        std::fprintf(stderr, "%s\n", kUsage);
        return kExitUsage;
    }
    const wchar_t* input = argv[arg];
    const wchar_t* output = argv[arg + 1];

    ComApartment apartment;
    if (FAILED(apartment.result())) {
        FailHr(L"COM initialisation failed", apartment.result(), input);
        return kExitNoThumbnail;
    }

    ComRef<IStream> stream;
    HRESULT hr = SHCreateStreamOnFileEx(input, STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                        nullptr, stream.put());
    if (FAILED(hr)) {
        FailHr(L"cannot read", hr, input);
        return kExitUsage;
    }

    CLSID clsid = {};
    std::wstring handlerKey;
    if (!thumbhost::FindThumbnailHandler(clsid, handlerKey)) {
        Fail(L"no thumbnail handler registered for .kwb", input);
        return kExitNoThumbnail;
    }
    ComRef<IThumbnailProvider> provider;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IThumbnailProvider, provider.putVoid());
    if (FAILED(hr)) {
        FailHr(L"cannot create the thumbnail handler", hr, handlerKey.c_str());
        return kExitNoThumbnail;
    }
    ComRef<IInitializeWithStream> initialize;
    hr = provider->QueryInterface(IID_IInitializeWithStream, initialize.putVoid());
    if (SUCCEEDED(hr)) hr = initialize->Initialize(stream.get(), STGM_READ);
    if (FAILED(hr)) {
        FailHr(L"the handler refused the stream", hr, input);
        return kExitNoThumbnail;
    }

    Bitmap bitmap;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    hr = provider->GetThumbnail(size, bitmap.put(), &alpha);
    if (hr != S_OK || !bitmap.get()) {
        FailHr(L"no thumbnail", hr, input);
        return kExitNoThumbnail;
    }
    int exitCode = kExitNoThumbnail;
    WriteBmp(bitmap.get(), output, exitCode);
    return exitCode;
}

}  // namespace

int wmain(int argc, wchar_t** argv) { return Run(argc, argv); }
