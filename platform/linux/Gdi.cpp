#include "Gdi.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace {

struct DibObject {
    DIBSECTION section;
    void* bits;
};

std::mutex gdiLock;
std::set<DibObject*> live;
platform::gdi::DibFailure pendingFailure = platform::gdi::DibFailure::None;
int pendingCount = 0;

// The largest section this layer hands out; Windows refuses far smaller ones on most machines.
constexpr uint64_t kMaxDibBytes = uint64_t{1} << 31;

}  // namespace

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection, DWORD) {
    if (ppvBits) *ppvBits = nullptr;
    {
        std::lock_guard lock(gdiLock);
        if (pendingCount > 0) {
            --pendingCount;
            if (pendingFailure == platform::gdi::DibFailure::NoHandle) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            if (pendingFailure == platform::gdi::DibFailure::NoBits) {
                auto* obj = static_cast<DibObject*>(std::calloc(1, sizeof(DibObject)));
                if (!obj) return nullptr;
                obj->section.dsBm.bmType = 0;
                obj->section.dsBmih = pbmi ? pbmi->bmiHeader : BITMAPINFOHEADER{};
                live.insert(obj);
                return reinterpret_cast<HBITMAP>(obj);
            }
        }
    }
    if (!pbmi || usage != DIB_RGB_COLORS || hSection) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const BITMAPINFOHEADER& h = pbmi->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 || h.biPlanes != 1 ||
        h.biBitCount != 32 || h.biCompression != BI_RGB || h.biHeight == INT32_MIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    uint64_t rows = static_cast<uint64_t>(h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight);
    uint64_t stride = static_cast<uint64_t>(h.biWidth) * 4;
    uint64_t bytes = stride * rows;
    if (bytes > kMaxDibBytes) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* obj = static_cast<DibObject*>(std::calloc(1, sizeof(DibObject)));
    void* bits = obj ? std::calloc(1, static_cast<size_t>(bytes)) : nullptr;
    if (!bits) {
        std::free(obj);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    obj->bits = bits;
    BITMAP& bm = obj->section.dsBm;
    bm.bmType = 0;
    bm.bmWidth = h.biWidth;
    bm.bmHeight = static_cast<LONG>(rows);
    bm.bmWidthBytes = static_cast<LONG>(stride);
    bm.bmPlanes = 1;
    bm.bmBitsPixel = 32;
    bm.bmBits = bits;
    obj->section.dsBmih = h;
    obj->section.dsBmih.biSize = sizeof(BITMAPINFOHEADER);
    {
        std::lock_guard lock(gdiLock);
        live.insert(obj);
    }
    if (ppvBits) *ppvBits = bits;
    return reinterpret_cast<HBITMAP>(obj);
}

BOOL DeleteObject(HGDIOBJ ho) {
    auto* obj = static_cast<DibObject*>(ho);
    {
        std::lock_guard lock(gdiLock);
        if (!obj || !live.erase(obj)) return FALSE;
    }
    std::free(obj->bits);
    std::free(obj);
    return TRUE;
}

int GetObjectW(HANDLE h, int c, LPVOID pv) {
    auto* obj = static_cast<DibObject*>(h);
    std::lock_guard lock(gdiLock);
    if (!obj || !live.count(obj)) return 0;
    if (!pv) return sizeof(DIBSECTION);
    if (c >= static_cast<int>(sizeof(DIBSECTION))) {
        std::memcpy(pv, &obj->section, sizeof(DIBSECTION));
        return sizeof(DIBSECTION);
    }
    if (c >= static_cast<int>(sizeof(BITMAP))) {
        std::memcpy(pv, &obj->section.dsBm, sizeof(BITMAP));
        return sizeof(BITMAP);
    }
    return 0;
}

namespace platform::gdi {

void InjectDibFailure(DibFailure failure, int count) {
    std::lock_guard lock(gdiLock);
    pendingFailure = failure;
    pendingCount = failure == DibFailure::None ? 0 : count;
}

size_t LiveBitmapCount() {
    std::lock_guard lock(gdiLock);
    return live.size();
}

BOOL DeleteBitmapOfOtherCopy(HBITMAP bitmap) {
    auto* obj = reinterpret_cast<DibObject*>(bitmap);
    if (!obj) return FALSE;
    std::free(obj->bits);
    std::free(obj);
    return TRUE;
}

}  // namespace platform::gdi
