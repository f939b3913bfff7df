#include "tools/thumbhost/ProcessCounters.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <vector>

#include "platform/Platform.h"

#include <winternl.h>

namespace thumbhost {

namespace {

// ntdll's handle table query (class 16) and object type query (class 2), in the layout the
// system returns them; looked up at run time since the SDK headers declare neither fully.
constexpr ULONG kSystemHandleInformation = 16;
constexpr ULONG kObjectTypeInformation = 2;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

struct HandleEntry {
    USHORT processId;
    USHORT creatorBackTraceIndex;
    UCHAR objectTypeIndex;
    UCHAR handleAttributes;
    USHORT handleValue;
    PVOID object;
    ULONG grantedAccess;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};
struct CountedString {
    USHORT length;
    USHORT maximumLength;
    PWSTR buffer;
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
using QueryObject = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

template <typename F>
F NtdllFunction(const char* name) {
    return reinterpret_cast<F>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name));
}

// One entry of the GDI handle table that the system maps into every process (the PEB's
// GdiSharedHandleTable): Windows and Wine agree on these offsets for 64-bit processes.
struct GdiEntry {
    uint64_t object;
    USHORT processId;
    USHORT count;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    uint64_t userPointer;
};
static_assert(sizeof(GdiEntry) == 24);
constexpr size_t kGdiEntries = 0x10000;

// Null in a 32-bit process: the layout tried there (16-byte entries at PEB + 0x94) did not
// follow DIB sections under Wine, so GDI objects are not counted there.
const GdiEntry* GdiTable() {
    if (sizeof(void*) != 8) return nullptr;
    using QueryProcess = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    static auto query = NtdllFunction<QueryProcess>("NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query || query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) < 0) return nullptr;
    auto* peb = reinterpret_cast<const BYTE*>(basic.PebBaseAddress);
    const GdiEntry* table = nullptr;
    std::memcpy(&table, peb + 0xF8, sizeof(table));
    return table;
}

long CountGdiObjects(std::map<int, long>* byType = nullptr) {
    const GdiEntry* table = GdiTable();
    if (!table) return -1;
    MEMORY_BASIC_INFORMATION info = {};
    if (!VirtualQuery(table, &info, sizeof(info)) || info.State != MEM_COMMIT) return -1;
    const auto pid = static_cast<USHORT>(GetCurrentProcessId());
    long live = 0;
    for (size_t i = 0; i < kGdiEntries; ++i) {
        // Windows shares the table between processes and marks each entry's owner; Wine keeps
        // one table per process and leaves the owner 0. Stock objects (owner 0) never change.
        if (table[i].type != 0 && (table[i].processId == pid || table[i].processId == 0)) {
            ++live;
            if (byType) ++(*byType)[table[i].type];
        }
    }
    return live;
}

uint64_t CommittedPrivateBytes() {
    uint64_t total = 0;
    MEMORY_BASIC_INFORMATION info = {};
    for (const BYTE* address = nullptr; VirtualQuery(address, &info, sizeof(info)) == sizeof(info);) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
        const BYTE* next = static_cast<const BYTE*>(info.BaseAddress) + info.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return total;
}

std::wstring TypeName(HANDLE handle, UCHAR index) {
    static auto query = NtdllFunction<QueryObject>("NtQueryObject");
    alignas(8) BYTE buffer[1024];
    ULONG length = 0;
    if (query && query(handle, kObjectTypeInformation, buffer, sizeof(buffer), &length) >= 0) {
        const auto* name = reinterpret_cast<const CountedString*>(buffer);
        if (name->buffer && name->length) return std::wstring(name->buffer, name->length / sizeof(wchar_t));
    }
    return L"type#" + std::to_wstring(index);
}

bool CountHandles(std::map<std::wstring, long>& byType, std::wstring& why) {
    static auto query = NtdllFunction<QuerySystemInformation>("NtQuerySystemInformation");
    // Kept between calls so that a reading does not move the memory figure it sits beside.
    static std::vector<BYTE> buffer(1 << 16);
    static std::map<UCHAR, std::wstring> names;
    if (!query) {
        why = L"ntdll has no NtQuerySystemInformation";
        return false;
    }
    LONG status = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status != kStatusInfoLengthMismatch) break;
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
    }
    if (status < 0) {
        why = L"NtQuerySystemInformation(SystemHandleInformation) failed: 0x" + std::to_wstring(status);
        return false;
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const auto pid = static_cast<USHORT>(GetCurrentProcessId());
    byType.clear();
    for (ULONG i = 0; i < table->count; ++i) {
        const HandleEntry& entry = table->entries[i];
        if (entry.processId != pid) continue;
        auto name = names.find(entry.objectTypeIndex);
        if (name == names.end()) {
            HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entry.handleValue));
            name = names.emplace(entry.objectTypeIndex, TypeName(handle, entry.objectTypeIndex)).first;
        }
        ++byType[name->second];
    }
    return true;
}

}  // namespace

int dibSectionType = -1;

long ProcessCounters::DibSections() const {
    auto it = gdiByType.find(dibSectionType);
    return it == gdiByType.end() ? 0 : it->second;
}

long ProcessCounters::Handles() const {
    long total = 0;
    for (const auto& [type, count] : handlesByType) total += count;
    return total;
}

long ProcessCounters::HandlesOfType(const wchar_t* type) const {
    auto it = handlesByType.find(type);
    return it == handlesByType.end() ? 0 : it->second;
}

uint64_t HeapBytesInUse() {
    HANDLE heaps[256];
    const DWORD count = std::min<DWORD>(GetProcessHeaps(256, heaps), 256);
    uint64_t total = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return total;
}

bool ReadProcessCounters(ProcessCounters& counters, std::wstring& why) {
    // The heap first, before this reading allocates anything of its own.
    counters.heapBytesInUse = HeapBytesInUse();
    counters.lowestFreeTls = TlsAlloc();
    if (counters.lowestFreeTls != TLS_OUT_OF_INDEXES) TlsFree(counters.lowestFreeTls);
    counters.lowestFreeFls = FlsAlloc(nullptr);
    if (counters.lowestFreeFls != FLS_OUT_OF_INDEXES) FlsFree(counters.lowestFreeFls);
    if (!CountHandles(counters.handlesByType, why)) return false;
    counters.gdiByType.clear();
    counters.gdiObjects = CountGdiObjects(&counters.gdiByType);
    counters.committedPrivateBytes = CommittedPrivateBytes();
    return true;
}

std::wstring HandleDifference(const ProcessCounters& from, const ProcessCounters& to) {
    std::map<std::wstring, long> difference;
    for (const auto& [type, count] : to.handlesByType) difference[type] += count;
    for (const auto& [type, count] : from.handlesByType) difference[type] -= count;
    std::wstring text;
    for (const auto& [type, count] : difference) {
        if (count == 0) continue;
        if (!text.empty()) text += L", ";
        text += type + (count > 0 ? L" +" : L" ") + std::to_wstring(count);
    }
    return text.empty() ? L"none" : text;
}

std::wstring GdiDifference(const ProcessCounters& from, const ProcessCounters& to) {
    std::map<int, long> difference;
    for (const auto& [type, count] : to.gdiByType) difference[type] += count;
    for (const auto& [type, count] : from.gdiByType) difference[type] -= count;
    std::wstring text;
    wchar_t item[48];
    for (const auto& [type, count] : difference) {
        if (count == 0) continue;
        std::swprintf(item, std::size(item), L"%lstype 0x%02x %+ld", text.empty() ? L"" : L", ", type, count);
        text += item;
    }
    return text.empty() ? L"none" : text;
}

namespace {

DWORD WINAPI WaitForEvent(void* event) {
    WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return 0;
}

bool Expect(bool ok, const wchar_t* what) {
    std::fwprintf(stderr, L"counter check: %ls: %ls\n", what, ok ? L"follows" : L"DOES NOT FOLLOW");
    return ok;
}

}  // namespace

bool CheckCountersFollowObjects() {
    std::wstring why;
    ProcessCounters before, during, after;
    if (!ReadProcessCounters(before, why)) {
        std::fwprintf(stderr, L"counter check: %ls\n", why.c_str());
        return false;
    }
    bool ok = true;

    // Committed memory: 8 MiB committed and given back, within the slack of the reading itself.
    constexpr uint64_t kProbeBytes = 8u << 20;
    constexpr uint64_t kSlack = 256u << 10;
    void* probe = VirtualAlloc(nullptr, kProbeBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    uint64_t committed = CommittedPrivateBytes();
    if (probe) VirtualFree(probe, 0, MEM_RELEASE);
    uint64_t released = CommittedPrivateBytes();
    ok &= Expect(probe && committed >= before.committedPrivateBytes + kProbeBytes &&
                     committed <= before.committedPrivateBytes + kProbeBytes + kSlack &&
                     released + kSlack >= before.committedPrivateBytes &&
                     released <= before.committedPrivateBytes + kSlack,
                 L"committed private memory (8 MiB committed, then released)");

    // Handles: events, semaphores and threads made on purpose, counted by type, then closed.
    constexpr int kEvents = 5, kSemaphores = 3, kThreads = 2;
    std::vector<HANDLE> events, semaphores, threads;
    for (int i = 0; i < kEvents; ++i) events.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    for (int i = 0; i < kSemaphores; ++i) semaphores.push_back(CreateSemaphoreW(nullptr, 0, 1, nullptr));
    for (int i = 0; i < kThreads; ++i) threads.push_back(CreateThread(nullptr, 0, WaitForEvent, events[0], 0, nullptr));
    bool made = ReadProcessCounters(during, why);
    SetEvent(events[0]);
    WaitForMultipleObjects(kThreads, threads.data(), TRUE, INFINITE);
    for (auto* list : {&events, &semaphores, &threads})
        for (HANDLE h : *list) CloseHandle(h);
    bool closed = ReadProcessCounters(after, why);
    std::fwprintf(stderr, L"counter check: handles made: %ls; after closing them: %ls\n",
                  HandleDifference(before, during).c_str(), HandleDifference(before, after).c_str());
    for (auto [type, count] : {std::pair{L"Event", kEvents}, {L"Semaphore", kSemaphores}, {L"Thread", kThreads}}) {
        std::wstring what = std::wstring(L"handles of type ") + type;
        ok &= Expect(made && closed && during.HandlesOfType(type) == before.HandlesOfType(type) + count &&
                         after.HandlesOfType(type) == before.HandlesOfType(type),
                     what.c_str());
    }

    // GDI objects: DIB sections made and deleted.
    constexpr int kBitmaps = 4;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 16;
    info.bmiHeader.biHeight = 16;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<HBITMAP> bitmaps;
    std::map<int, long> typesBefore, typesDuring;
    const long gdiBefore = CountGdiObjects(&typesBefore);
    for (int i = 0; i < kBitmaps; ++i) {
        void* bits = nullptr;
        bitmaps.push_back(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    }
    const long gdiDuring = CountGdiObjects(&typesDuring);
    for (const auto& [type, count] : typesDuring)
        if (count == typesBefore[type] + kBitmaps) dibSectionType = type;
    for (HBITMAP b : bitmaps)
        if (b) DeleteObject(b);
    const long gdiAfter = CountGdiObjects();
    std::fwprintf(stderr, L"counter check: GDI objects %ld, with %d DIB sections %ld, after deleting them %ld\n",
                  gdiBefore, kBitmaps, gdiDuring, gdiAfter);
    if (gdiBefore < 0) {
        std::fwprintf(stderr, L"counter check: GDI objects: not readable in this process; DIB sections not judged\n");
        return ok;
    }
    ok &= Expect(gdiDuring == gdiBefore + kBitmaps && gdiAfter == gdiBefore && dibSectionType >= 0,
                 L"GDI objects (DIB sections made, then deleted)");
    return ok;
}

}  // namespace thumbhost
