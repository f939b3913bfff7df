#include "tools/thumbhost/LoadCycles.h"

#include <atomic>
#include <cstdio>

#include "tools/thumbhost/ProcessCounters.h"

namespace thumbhost {

namespace {

constexpr int kThreads = 4;
// Figures are judged from the reading after this cycle: in the first cycles Wine's own heap
// commits one more 64 KiB step and its caches keep a few KiB, whatever the DLL does.
constexpr long kWarmUpCycles = 3;
constexpr UINT kSizes[] = {32, 256};
const CLSID kClsid = {0x7A3C51E2, 0x4B9D, 0x4F06, {0x9C, 0x18, 0x2D, 0x5E, 0x8B, 0x0F, 0x6A, 0x47}};

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();

// What the threads of one cycle share. The threads touch only the fields above `done`
// until they have signalled it, then wait for `release`.
struct Cycle {
    GetClassObjectFunction getClassObject = nullptr;
    const std::vector<CycleDocument>* documents = nullptr;
    long number = 0;
    std::atomic<long> thumbnails{0};
    std::atomic<long> failures{0};  // a good document without a thumbnail, or a host-side failure
    std::atomic<long> done{0};
    HANDLE allDone = nullptr;  // set by the last thread to finish its requests
    HANDLE release = nullptr;  // set by the host once the DLL is unloaded
};

struct Worker {
    Cycle* cycle;
    int index;
};

bool Request(Cycle& cycle, const CycleDocument& document, UINT size) {
    const std::vector<BYTE>& bytes = *document.bytes;
    IStream* stream = SHCreateMemStream(bytes.empty() ? nullptr : bytes.data(), static_cast<UINT>(bytes.size()));
    IClassFactory* factory = nullptr;
    IThumbnailProvider* provider = nullptr;
    IInitializeWithStream* initialize = nullptr;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    HRESULT hr = stream ? cycle.getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)) : E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, IID_IThumbnailProvider, reinterpret_cast<void**>(&provider));
    const bool created = SUCCEEDED(hr);
    if (created) hr = provider->QueryInterface(IID_IInitializeWithStream, reinterpret_cast<void**>(&initialize));
    if (SUCCEEDED(hr)) hr = initialize->Initialize(stream, STGM_READ);
    if (SUCCEEDED(hr)) hr = provider->GetThumbnail(size, &bitmap, &alpha);
    const bool thumbnail = hr == S_OK && bitmap;
    if (bitmap) DeleteObject(bitmap);
    for (IUnknown* object : {static_cast<IUnknown*>(initialize), static_cast<IUnknown*>(provider),
                             static_cast<IUnknown*>(factory), static_cast<IUnknown*>(stream)})
        if (object) object->Release();
    if (thumbnail) ++cycle.thumbnails;
    if (!created || (document.good && !thumbnail)) {
        std::fwprintf(stderr, L"thumbcycle: cycle %ld: %ls at %u: 0x%08lX%ls\n", cycle.number, document.name.c_str(), size,
                      static_cast<unsigned long>(hr), created ? L", no thumbnail" : L" creating the provider");
        return false;
    }
    return true;
}

// One good and one malformed document, chosen by cycle and thread so that every document
// and size comes round; then the thread stays alive until the DLL is gone.
DWORD WINAPI Work(void* argument) {
    const Worker& worker = *static_cast<const Worker*>(argument);
    Cycle& cycle = *worker.cycle;
    const std::vector<CycleDocument>& documents = *cycle.documents;
    long good = 0, bad = 0;
    for (const CycleDocument& d : documents) (d.good ? good : bad) += 1;
    const long turn = cycle.number * kThreads + worker.index;
    long goodIndex = good ? turn % good : -1, badIndex = bad ? turn % bad : -1;
    for (const CycleDocument& d : documents) {
        long& index = d.good ? goodIndex : badIndex;
        if (index-- == 0 && !Request(cycle, d, kSizes[turn % 2])) ++cycle.failures;
    }
    if (++cycle.done == kThreads) SetEvent(cycle.allDone);
    WaitForSingleObject(cycle.release, INFINITE);
    return 0;
}

// The host's own leak, made while the DLL is loaded.
void PlantLeak(Plant plant) {
    switch (plant) {
        case Plant::TlsSlot: TlsAlloc(); break;
        case Plant::Handle: CreateEventW(nullptr, TRUE, FALSE, nullptr); break;
        case Plant::HeapBlock: HeapAlloc(GetProcessHeap(), 0, 128); break;
        case Plant::None: break;
    }
}

bool OneCycle(const std::wstring& dllPath, long number, bool requests, Plant plant,
              const std::vector<CycleDocument>& documents) {
    HMODULE module = LoadLibraryW(dllPath.c_str());
    if (!module) {
        std::fwprintf(stderr, L"thumbcycle: cycle %ld: LoadLibrary(%ls) failed (%lu)\n", number, dllPath.c_str(),
                      static_cast<unsigned long>(GetLastError()));
        return false;
    }
    Cycle cycle;
    cycle.getClassObject = reinterpret_cast<GetClassObjectFunction>(GetProcAddress(module, "DllGetClassObject"));
    auto canUnloadNow = reinterpret_cast<CanUnloadNowFunction>(GetProcAddress(module, "DllCanUnloadNow"));
    cycle.documents = &documents;
    cycle.number = number;
    bool ok = cycle.getClassObject && canUnloadNow;
    HANDLE threads[kThreads] = {};
    Worker workers[kThreads];
    int started = 0;
    if (ok && requests) {
        cycle.allDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        cycle.release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        for (int i = 0; i < kThreads; ++i) {
            workers[i] = {&cycle, i};
            if ((threads[i] = CreateThread(nullptr, 0, &Work, &workers[i], 0, nullptr))) ++started;
        }
        ok = started == kThreads && WaitForSingleObject(cycle.allDone, 60000) == WAIT_OBJECT_0 && cycle.failures == 0 &&
             cycle.thumbnails > 0;
        if (!ok) std::fwprintf(stderr, L"thumbcycle: cycle %ld: the requests failed\n", number);
    }
    if (ok && canUnloadNow() != S_OK) {
        std::fwprintf(stderr, L"thumbcycle: cycle %ld: DllCanUnloadNow does not say S_OK\n", number);
        ok = false;
    }
    PlantLeak(plant);
    FreeLibrary(module);
    if (GetModuleHandleW(dllPath.c_str())) {
        std::fwprintf(stderr, L"thumbcycle: cycle %ld: the DLL is still loaded after FreeLibrary\n", number);
        ok = false;
    }
    // Only now may the threads end: their exit comes after the unload.
    if (cycle.release) SetEvent(cycle.release);
    for (int i = 0; i < started; ++i) {
        WaitForSingleObject(threads[i], INFINITE);
        CloseHandle(threads[i]);
    }
    if (cycle.allDone) CloseHandle(cycle.allDone);
    if (cycle.release) CloseHandle(cycle.release);
    return ok;
}

void Print(const wchar_t* when, const ProcessCounters& c) {
    std::wprintf(L"%ls: lowest free TLS slot %lu, FLS slot %lu, heap in use %llu B, committed %.1f KiB, handles %ld\n", when,
                 static_cast<unsigned long>(c.lowestFreeTls), static_cast<unsigned long>(c.lowestFreeFls),
                 static_cast<unsigned long long>(c.heapBytesInUse), static_cast<double>(c.committedPrivateBytes) / 1024.0,
                 c.Handles());
}

}  // namespace

int LoadCycles(const std::wstring& dllPath, long cycles, long requestEvery, const LoadBounds& bounds, Plant plant,
               const std::vector<CycleDocument>& documents) {
    // The check also makes the counters' own buffers, before any figure is taken.
    if (!CheckCountersFollowObjects()) {
        std::fwprintf(stderr, L"thumbcycle: FAIL: a counter does not follow the objects made on purpose\n");
        return 1;
    }
    ProcessCounters first, current;
    std::wstring why;
    for (long n = 1; n <= cycles; ++n) {
        const bool requests = requestEvery != kNoRequests && (n - 1) % requestEvery == 0;
        if (!OneCycle(dllPath, n, requests, plant, documents)) return 1;
        // Read at a few cycles only: the judgement compares the first and the last.
        if (n > kWarmUpCycles + 1 && n % 250 != 0 && n != cycles) continue;
        if (!ReadProcessCounters(current, why)) {
            std::fwprintf(stderr, L"thumbcycle: %ls\n", why.c_str());
            return 1;
        }
        if (n == kWarmUpCycles) first = current;
        Print((L"after cycle " + std::to_wstring(n)).c_str(), current);
        std::fflush(stdout);
    }
    const double after = static_cast<double>(cycles - kWarmUpCycles);
    const double heap = (static_cast<double>(current.heapBytesInUse) - static_cast<double>(first.heapBytesInUse)) / after;
    const double committed =
        (static_cast<double>(current.committedPrivateBytes) - static_cast<double>(first.committedPrivateBytes)) / after;
    const std::wstring handles = HandleDifference(first, current);
    const bool tlsOk = current.lowestFreeTls == first.lowestFreeTls;
    const bool flsOk = current.lowestFreeFls == first.lowestFreeFls;
    const bool heapOk = heap <= bounds.heapBytesPerCycle;
    const bool committedOk = committed <= bounds.committedBytesPerCycle;
    const bool handlesOk = handles == L"none";
    auto mark = [](bool ok) { return ok ? L"" : L"  <- FAIL"; };
    std::wprintf(L"%ld cycles, growth per cycle after cycle %ld:\n", cycles, kWarmUpCycles);
    std::wprintf(L"  lowest free TLS slot %lu -> %lu%ls\n", static_cast<unsigned long>(first.lowestFreeTls),
                 static_cast<unsigned long>(current.lowestFreeTls), mark(tlsOk));
    std::wprintf(L"  lowest free FLS slot %lu -> %lu%ls\n", static_cast<unsigned long>(first.lowestFreeFls),
                 static_cast<unsigned long>(current.lowestFreeFls), mark(flsOk));
    std::wprintf(L"  heap in use %+.2f B (bound %.0f)%ls\n", heap, bounds.heapBytesPerCycle, mark(heapOk));
    std::wprintf(L"  committed private memory %+.2f B (bound %.0f)%ls\n", committed, bounds.committedBytesPerCycle,
                 mark(committedOk));
    std::wprintf(L"  handles: %ls%ls\n", handles.c_str(), mark(handlesOk));
    return tlsOk && flsOk && heapOk && committedOk && handlesOk ? 0 : 1;
}

}  // namespace thumbhost
