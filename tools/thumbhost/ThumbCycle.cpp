// thumbcycle: the thumbnail handler in a long-lived host process, as the shell's surrogate
// runs it, with figures of what the process holds (committed private memory, handles by type,
// GDI objects) from counters it first sees follow objects made on purpose.
//
//   thumbcycle check
//       only the counter check
//   thumbcycle cycles [-n CYCLES] [--good-only] [--max-kib-per-cycle K] DOCUMENT...
//       each cycle: 4 apartment threads share the requests (every document at 32, 256 and
//       1024, plus malformed copies of the first one unless --good-only), a fresh provider
//       from CoCreateInstance per request, all released, CoUninitialize; the threads end only
//       once all four have done so; the DLL must then be gone. Growth per cycle is reported
//       against cycle 1: committed memory under K KiB (default 10) averaged over the cycles
//       after the first, handles and DIB sections back at their cycle-1 values.
//   thumbcycle soak [-r REQUESTS] [--short-lived THREADS] [--max-drift-kib K] DOCUMENT...
//       REQUESTS (default 20000) over the documents and their malformed copies at sizes from
//       32 to 1024 on 4 threads, checkpoints every 1000, and THREADS (default 1000) threads
//       that each make one request and end. After the first two checkpoints (warm-up),
//       committed memory may drift by under K KiB (default 1024) per 10,000 requests, and
//       handles and DIB sections must end where they stood (other GDI objects are shown).
//
//   thumbcycle loads [-n CYCLES] [--requests-every K] [--plant tls|handle|heap] DLL DOCUMENT...
//       the DLL loaded by its full path and unloaded CYCLES times (default 2000), threads
//       making thumbnails of the documents and their malformed copies alive across the
//       unload in every K-th cycle (default 2; 0: never); TLS and FLS slots, handles and heap bytes must end where
//       cycle 3 left them (tools/thumbhost/LoadCycles.h). --plant makes the host leak one TLS
//       slot, event handle or heap block per cycle, which must fail the run.
//   thumbcycle share-key NAME...
//       (64-bit process) makes each HKLM\Software\Classes\NAME of the 32-bit view a link to
//       the 64-bit view's key, creating that one if needed: Windows shares these keys
//       between the views, Wine keeps them apart.
//
// The handler is found as the shell finds it (HKCR\.kwb). Exit status: 0 pass; 1 a figure
// over its bound, a counter that does not follow, a good document without a thumbnail, a DLL
// still loaded; 2 usage error or an unreadable document.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "tools/thumbhost/HandlerLookup.h"
#include "tools/thumbhost/LoadCycles.h"
#include "tools/thumbhost/ProcessCounters.h"

namespace {

using thumbhost::ProcessCounters;

constexpr int kExitPass = 0;
constexpr int kExitFail = 1;
constexpr int kExitUsage = 2;
constexpr int kApartments = 4;
constexpr const wchar_t* kDllName = L"RvtThumbDll.dll";

const char* const kUsage =
    "usage: thumbcycle check\n"
    "       thumbcycle cycles [-n CYCLES] [--good-only] [--max-kib-per-cycle K] DOCUMENT...\n"
    "       thumbcycle soak [-r REQUESTS] [--short-lived THREADS] [--max-drift-kib K] DOCUMENT...\n"
    "       thumbcycle loads [-n CYCLES] [--requests-every K] [--plant tls|handle|heap] DLL DOCUMENT...\n"
    "       thumbcycle share-key NAME...";

struct Document {
    std::wstring name;
    std::vector<BYTE> bytes;
    bool good;  // must give a thumbnail
};

struct Request {
    const Document* document;
    UINT size;
};

// What the requests of a run gave; shared by all threads.
struct Tally {
    std::atomic<long> thumbnails{0};
    std::atomic<long> refused{0};           // S_FALSE or another failure from a malformed document
    std::atomic<long> goodWithoutThumbnail{0};
    std::atomic<long> hostFailures{0};      // COM or stream failures on the host's side
};

// Malformed copies of a good document: empty, the magic alone, cut short, bytes overwritten.
std::vector<Document> Malformed(const Document& good) {
    const std::vector<BYTE>& src = good.bytes;
    std::vector<Document> bad;
    bad.push_back({L"empty", {}, false});
    bad.push_back({L"magic only", {'h', 'z', 'd'}, false});
    for (size_t cut : {size_t{100}, size_t{4096}, size_t{65536}, src.size() / 2, src.size() - 1}) {
        if (cut < src.size()) bad.push_back({L"cut at " + std::to_wstring(cut), {src.begin(), src.begin() + cut}, false});
    }
    for (size_t at : {size_t{8}, size_t{65544}, src.size() / 2}) {
        if (at + 16 > src.size()) continue;
        Document d{L"0xFF at " + std::to_wstring(at), src, false};
        std::fill(d.bytes.begin() + at, d.bytes.begin() + at + 16, BYTE{0xFF});
        bad.push_back(std::move(d));
    }
    return bad;
}

bool ReadDocument(const wchar_t* path, Document& document) {
    FILE* file = _wfopen(path, L"rb");
    if (!file) return false;
    document.name = path;
    document.good = true;
    BYTE buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) document.bytes.insert(document.bytes.end(), buffer, buffer + n);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

template <typename T>
void ReleaseIf(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// One request as the shell makes it: a fresh provider and stream, everything released.
void MakeRequest(const CLSID& clsid, const Request& request, Tally& tally) {
    const std::vector<BYTE>& bytes = request.document->bytes;
    IStream* stream = SHCreateMemStream(bytes.empty() ? nullptr : bytes.data(), static_cast<UINT>(bytes.size()));
    IThumbnailProvider* provider = nullptr;
    IInitializeWithStream* initialize = nullptr;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    HRESULT hr = stream ? CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IThumbnailProvider,
                                           reinterpret_cast<void**>(&provider))
                        : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        ++tally.hostFailures;
        std::fwprintf(stderr, L"thumbcycle: cannot create the handler (0x%08lX)\n", static_cast<unsigned long>(hr));
    } else {
        hr = provider->QueryInterface(IID_IInitializeWithStream, reinterpret_cast<void**>(&initialize));
        if (SUCCEEDED(hr)) hr = initialize->Initialize(stream, STGM_READ);
        if (SUCCEEDED(hr)) hr = provider->GetThumbnail(request.size, &bitmap, &alpha);
        BITMAP shape = {};
        const bool thumbnail = hr == S_OK && bitmap && GetObjectW(bitmap, sizeof(shape), &shape) == sizeof(shape) &&
                               shape.bmWidth == static_cast<LONG>(request.size) &&
                               shape.bmHeight == static_cast<LONG>(request.size) && shape.bmBitsPixel == 32;
        if (thumbnail) {
            ++tally.thumbnails;
        } else if (request.document->good) {
            ++tally.goodWithoutThumbnail;
            std::fwprintf(stderr, L"thumbcycle: no thumbnail (0x%08lX) of %ls at %u\n", static_cast<unsigned long>(hr),
                          request.document->name.c_str(), request.size);
        } else {
            ++tally.refused;
        }
        if (bitmap) DeleteObject(bitmap);
    }
    ReleaseIf(initialize);
    ReleaseIf(provider);
    ReleaseIf(stream);
}

// A thread with its own single-threaded apartment for the whole of its life.
class ApartmentThread {
public:
    // `afterwards` runs once the apartment is gone, on the same thread.
    explicit ApartmentThread(std::function<void()> body, std::function<void()> afterwards = {})
        : body_(std::move(body)), afterwards_(std::move(afterwards)) {
        handle_ = CreateThread(nullptr, 0, &Run, this, 0, nullptr);
    }
    ApartmentThread(const ApartmentThread&) = delete;
    ApartmentThread& operator=(const ApartmentThread&) = delete;
    ~ApartmentThread() { Join(); }
    bool Started() const { return handle_ != nullptr; }
    void Join() {
        if (!handle_) return;
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    static DWORD WINAPI Run(void* self) {
        auto* thread = static_cast<ApartmentThread*>(self);
        const bool apartment = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        if (apartment) {
            thread->body_();
            CoUninitialize();
        }
        if (thread->afterwards_) thread->afterwards_();
        return apartment ? 0 : 1;
    }

    std::function<void()> body_;
    std::function<void()> afterwards_;
    HANDLE handle_ = nullptr;
};

bool DllLoaded() { return GetModuleHandleW(kDllName) != nullptr; }

double KiB(double bytes) { return bytes / 1024.0; }

void PrintHandles(const wchar_t* when, const ProcessCounters& c) {
    std::wstring text;
    for (const auto& [type, count] : c.handlesByType) text += (text.empty() ? L"" : L", ") + type + L" " + std::to_wstring(count);
    std::wprintf(L"%ls: committed %.1f KiB, GDI objects %ld, handles %ld (%ls)\n", when, KiB(static_cast<double>(c.committedPrivateBytes)),
                 c.gdiObjects, c.Handles(), text.c_str());
}

bool Read(ProcessCounters& c) {
    std::wstring why;
    if (thumbhost::ReadProcessCounters(c, why)) return true;
    std::fwprintf(stderr, L"thumbcycle: %ls\n", why.c_str());
    return false;
}

struct Options {
    long count = 0;         // cycles or requests
    long shortLived = 1000;
    double bound = 0;       // KiB per cycle, or KiB per 10,000 requests
    bool goodOnly = false;
    std::vector<Document> documents;
};

// Parses the options and documents after the mode; false after printing why.
bool ParseOptions(int argc, wchar_t** argv, bool soak, Options& options) {
    options.count = soak ? 20000 : 200;
    options.bound = soak ? 1024 : 10;
    auto number = [&](int& i, double& value) {
        if (++i >= argc) return false;
        wchar_t* end = nullptr;
        value = std::wcstod(argv[i], &end);
        return *end == L'\0' && value >= 0;
    };
    for (int i = 2; i < argc; ++i) {
        std::wstring arg = argv[i];
        double value = 0;
        bool ok = true;
        if (arg == (soak ? L"-r" : L"-n")) {
            ok = number(i, value) && value >= (soak ? 1000 : 2);
            options.count = static_cast<long>(value);
        } else if (soak && arg == L"--short-lived") {
            ok = number(i, value);
            options.shortLived = static_cast<long>(value);
        } else if (arg == (soak ? L"--max-drift-kib" : L"--max-kib-per-cycle")) {
            ok = number(i, options.bound);
        } else if (!soak && arg == L"--good-only") {
            options.goodOnly = true;
        } else if (arg.size() > 1 && arg[0] == L'-') {
            ok = false;
        } else {
            Document d;
            if (!ReadDocument(argv[i], d)) {
                std::fwprintf(stderr, L"thumbcycle: cannot read %ls\n", argv[i]);
                return false;
            }
            options.documents.push_back(std::move(d));
            continue;
        }
        if (!ok) {
            std::fwprintf(stderr, L"thumbcycle: bad option or value: %ls\n%hs\n", arg.c_str(), kUsage);
            return false;
        }
    }
    if (options.documents.empty()) {
        std::fprintf(stderr, "thumbcycle: no documents\n%s\n", kUsage);
        return false;
    }
    if (!options.goodOnly) {
        std::vector<Document> bad = Malformed(options.documents.front());
        for (Document& d : bad) options.documents.push_back(std::move(d));
    }
    return true;
}

bool FindHandler(CLSID& clsid) {
    std::wstring key;
    if (thumbhost::FindThumbnailHandler(clsid, key)) return true;
    std::fwprintf(stderr, L"thumbcycle: no thumbnail handler registered for .kwb\n");
    return false;
}

// Counters first shown to follow objects made on purpose, then read for the baseline.
bool StartCounting(ProcessCounters& start) {
    if (!thumbhost::CheckCountersFollowObjects()) {
        std::fwprintf(stderr, L"thumbcycle: FAIL: a counter does not follow the objects made on purpose\n");
        return false;
    }
    return Read(start);
}

bool CheckTally(const Tally& tally) {
    std::wprintf(L"requests: %ld thumbnails, %ld malformed refused, %ld good without thumbnail, %ld host failures\n",
                 tally.thumbnails.load(), tally.refused.load(), tally.goodWithoutThumbnail.load(), tally.hostFailures.load());
    return tally.goodWithoutThumbnail == 0 && tally.hostFailures == 0 && tally.thumbnails > 0;
}

// Handles by type and DIB sections back where they stood; says what differs. DIB sections are
// the only GDI objects the DLL makes. Other GDI objects are shown, not judged: Wine's user and
// GDI code keep a cache that now and then grows by a device context (with its region and
// surface) when message boxes and DIB sections are made on several threads at once, with or
// without this DLL.
bool SameObjects(const wchar_t* what, const ProcessCounters& from, const ProcessCounters& to) {
    std::wstring handles = thumbhost::HandleDifference(from, to);
    bool same = handles == L"none" && from.DibSections() == to.DibSections();
    std::wprintf(L"%ls: handles %ls, DIB sections %+ld, GDI objects %+ld (by type: %ls)%ls\n", what, handles.c_str(),
                 to.DibSections() - from.DibSections(), to.gdiObjects - from.gdiObjects,
                 thumbhost::GdiDifference(from, to).c_str(), same ? L"" : L"  <- FAIL");
    return same;
}

int Cycles(const Options& options) {
    CLSID clsid = {};
    ProcessCounters start, first, current;
    if (!FindHandler(clsid) || !StartCounting(start)) return kExitFail;
    if (DllLoaded()) {
        std::fwprintf(stderr, L"thumbcycle: %ls is loaded before the first cycle\n", kDllName);
        return kExitFail;
    }
    std::vector<Request> requests;
    for (const Document& d : options.documents)
        for (UINT size : {32u, 256u, 1024u}) requests.push_back({&d, size});

    Tally tally;
    bool ok = true;
    const long every = std::max(1L, options.count / 10);
    for (long cycle = 1; cycle <= options.count && ok; ++cycle) {
        {
            // Every thread lives on until the last apartment has gone and COM has unloaded the
            // DLL, as a host's pooled threads do: what the DLL keeps per thread must not
            // depend on seeing those threads end.
            LONG apartments = kApartments;
            HANDLE allGone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            auto leave = [&] {
                if (InterlockedDecrement(&apartments) == 0) SetEvent(allGone);
            };
            std::vector<std::unique_ptr<ApartmentThread>> threads;
            for (int t = 0; t < kApartments; ++t) {
                threads.push_back(std::make_unique<ApartmentThread>(
                    [&, t] {
                        for (size_t i = t; i < requests.size(); i += kApartments) MakeRequest(clsid, requests[i], tally);
                    },
                    [&] {
                        leave();
                        WaitForSingleObject(allGone, INFINITE);
                    }));
                if (!threads.back()->Started()) {
                    ++tally.hostFailures;
                    leave();
                }
            }
            threads.clear();
            CloseHandle(allGone);
        }
        if (DllLoaded()) {
            std::fwprintf(stderr, L"thumbcycle: FAIL: %ls is still loaded after cycle %ld\n", kDllName, cycle);
            ok = false;
        }
        if (!Read(current)) return kExitFail;
        if (cycle == 1) {
            first = current;
            PrintHandles(L"before cycle 1", start);
            PrintHandles(L"after cycle 1", first);
        } else if (cycle % every == 0 || cycle == options.count) {
            const double grown = static_cast<double>(current.committedPrivateBytes) - static_cast<double>(first.committedPrivateBytes);
            std::wprintf(L"cycle %ld: committed %+.1f KiB since cycle 1 (%.2f KiB per cycle), handles %ls, GDI objects %+ld\n",
                         cycle, KiB(grown), KiB(grown / static_cast<double>(cycle - 1)),
                         thumbhost::HandleDifference(first, current).c_str(), current.gdiObjects - first.gdiObjects);
        }
    }
    std::fflush(stdout);
    ok &= CheckTally(tally);
    if (!ok || options.count < 2) return kExitFail;
    const double perCycle = (static_cast<double>(current.committedPrivateBytes) - static_cast<double>(first.committedPrivateBytes)) /
                            static_cast<double>(options.count - 1);
    const bool memoryOk = KiB(perCycle) < options.bound;
    std::wprintf(L"growth per cycle after cycle 1, over %ld cycles: committed memory %.2f KiB (bound %.1f)%ls\n", options.count,
                 KiB(perCycle), options.bound, memoryOk ? L"" : L"  <- FAIL");
    const bool objectsOk = SameObjects(L"after the last cycle against cycle 1", first, current);
    return memoryOk && objectsOk ? kExitPass : kExitFail;
}

// The soak's worker: runs its share of each phase when told, on one apartment throughout.
struct Worker {
    HANDLE go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~Worker() {
        CloseHandle(go);
        CloseHandle(done);
    }
};

int Soak(const Options& options) {
    constexpr long kPhase = 1000;  // requests between checkpoints
    constexpr int kWarmUpPhases = 2;
    static constexpr UINT kSizes[] = {32, 64, 100, 128, 256, 1024};
    CLSID clsid = {};
    ProcessCounters start;
    if (!FindHandler(clsid) || !StartCounting(start)) return kExitFail;
    PrintHandles(L"before the soak", start);

    const long phases = options.count / kPhase;
    const long shortLivedPerPhase = (options.shortLived + phases - 1) / phases;
    const auto& docs = options.documents;
    // Request i: documents in turn, sizes stepping at another rate so that every pair comes up.
    auto request = [&](long i) { return Request{&docs[static_cast<size_t>(i) % docs.size()], kSizes[(i / docs.size()) % std::size(kSizes)]}; };

    Tally tally;
    std::atomic<long> phase{0};
    std::atomic<bool> stop{false};
    std::vector<Worker> workers(kApartments);
    std::vector<std::unique_ptr<ApartmentThread>> threads;
    for (int t = 0; t < kApartments; ++t) {
        threads.push_back(std::make_unique<ApartmentThread>([&, t] {
            for (;;) {
                WaitForSingleObject(workers[t].go, INFINITE);
                if (stop) break;
                const long base = phase * kPhase;
                for (long i = base + t; i < base + kPhase; i += kApartments) MakeRequest(clsid, request(i), tally);
                SetEvent(workers[t].done);
            }
        }));
    }

    std::vector<ProcessCounters> checkpoints;
    long shortLivedDone = 0;
    bool ok = true;
    for (long p = 0; p < phases && ok; ++p) {
        phase = p;
        for (Worker& w : workers) SetEvent(w.go);
        // Threads that come and go while the workers run, one request each.
        for (long s = 0; s < shortLivedPerPhase && shortLivedDone < options.shortLived; ++s, ++shortLivedDone) {
            ApartmentThread once([&, s] { MakeRequest(clsid, request(p * kPhase + s * 7 + 3), tally); });
            ok &= once.Started();
        }
        for (Worker& w : workers) WaitForSingleObject(w.done, INFINITE);
        ProcessCounters c;
        if (!Read(c)) return kExitFail;
        checkpoints.push_back(c);
        std::wprintf(L"requests %ld (+%ld short-lived threads): committed %.1f KiB, handles %ld, GDI objects %ld\n", (p + 1) * kPhase,
                     shortLivedDone, KiB(static_cast<double>(c.committedPrivateBytes)), c.Handles(), c.gdiObjects);
        std::fflush(stdout);
    }

    // Every object released: the module must be willing to unload before its apartments end.
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    HMODULE dll = GetModuleHandleW(kDllName);
    auto canUnload = dll ? reinterpret_cast<CanUnload>(GetProcAddress(dll, "DllCanUnloadNow")) : nullptr;
    const HRESULT unloadable = canUnload ? canUnload() : E_FAIL;
    if (unloadable != S_OK) {
        std::fwprintf(stderr, L"thumbcycle: FAIL: DllCanUnloadNow gives 0x%08lX after every request\n", static_cast<unsigned long>(unloadable));
        ok = false;
    }
    stop = true;
    for (Worker& w : workers) SetEvent(w.go);
    threads.clear();
    if (DllLoaded()) {
        std::fwprintf(stderr, L"thumbcycle: FAIL: %ls is still loaded after the last apartment ended\n", kDllName);
        ok = false;
    }
    ok &= CheckTally(tally);
    if (!ok || static_cast<long>(checkpoints.size()) <= kWarmUpPhases) {
        if (ok) std::fwprintf(stderr, L"thumbcycle: too few requests for a figure after warm-up\n");
        return kExitFail;
    }
    const ProcessCounters& warm = checkpoints[kWarmUpPhases - 1];
    const ProcessCounters& middle = checkpoints[(kWarmUpPhases - 1 + checkpoints.size()) / 2];
    const ProcessCounters& last = checkpoints.back();
    const double requestsAfter = static_cast<double>((checkpoints.size() - kWarmUpPhases) * kPhase);
    const double drift = (static_cast<double>(last.committedPrivateBytes) - static_cast<double>(warm.committedPrivateBytes)) *
                         10000.0 / requestsAfter;
    const bool memoryOk = KiB(drift) < options.bound && KiB(-drift) < options.bound;
    std::wprintf(L"committed after warm-up / middle / last: %.1f / %.1f / %.1f KiB; drift %.1f KiB per 10,000 requests (bound %.0f)%ls\n",
                 KiB(static_cast<double>(warm.committedPrivateBytes)), KiB(static_cast<double>(middle.committedPrivateBytes)),
                 KiB(static_cast<double>(last.committedPrivateBytes)), KiB(drift), options.bound, memoryOk ? L"" : L"  <- FAIL");
    const bool objectsOk = SameObjects(L"last checkpoint against warm-up", warm, last);
    return memoryOk && objectsOk ? kExitPass : kExitFail;
}

int Loads(int argc, wchar_t** argv) {
    long cycles = 2000;
    long requestEvery = 2;
    thumbhost::Plant plant = thumbhost::Plant::None;
    std::wstring dll;
    std::vector<Document> documents;
    for (int i = 2; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"-n" && i + 1 < argc) {
            cycles = std::wcstol(argv[++i], nullptr, 10);
        } else if (arg == L"--requests-every" && i + 1 < argc) {
            requestEvery = std::wcstol(argv[++i], nullptr, 10);
        } else if (arg == L"--plant" && i + 1 < argc) {
            const std::wstring what = argv[++i];
            plant = what == L"tls" ? thumbhost::Plant::TlsSlot
                    : what == L"handle" ? thumbhost::Plant::Handle
                    : what == L"heap" ? thumbhost::Plant::HeapBlock
                                      : plant;
            if (plant == thumbhost::Plant::None) cycles = 0;
        } else if (dll.empty()) {
            dll = arg;
        } else {
            Document d;
            if (!ReadDocument(argv[i], d)) {
                std::fwprintf(stderr, L"thumbcycle: cannot read %ls\n", argv[i]);
                return kExitUsage;
            }
            documents.push_back(std::move(d));
        }
    }
    if (cycles < 10 || dll.empty() || documents.empty()) {
        std::fprintf(stderr, "%s\n", kUsage);
        return kExitUsage;
    }
    std::vector<Document> bad = Malformed(documents.front());
    for (Document& d : bad) documents.push_back(std::move(d));
    std::vector<thumbhost::CycleDocument> list;
    for (const Document& d : documents) list.push_back({d.name, &d.bytes, d.good});
    return thumbhost::LoadCycles(dll, cycles, requestEvery, thumbhost::LoadBounds{}, plant, list);
}

// The 32-bit view's key becomes a registry link (REG_OPTION_CREATE_LINK, "SymbolicLinkValue")
// to the 64-bit view's key of the same name.
int ShareKeys(int count, wchar_t** names) {
    for (int i = 0; i < count; ++i) {
        const std::wstring path = std::wstring(L"Software\\Classes\\") + names[i];
        const std::wstring target = L"\\Registry\\Machine\\" + path;
        HKEY key = nullptr;
        LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY,
                                         nullptr, &key, nullptr);
        if (status == ERROR_SUCCESS) RegCloseKey(key);
        DWORD disposition = 0;
        if (status == ERROR_SUCCESS)
            status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                     KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, &disposition);
        if (status == ERROR_SUCCESS) {
            if (disposition != REG_CREATED_NEW_KEY) status = ERROR_ALREADY_EXISTS;
            else
                status = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.c_str()),
                                        static_cast<DWORD>(target.size() * sizeof(wchar_t)));
            RegCloseKey(key);
        }
        if (status != ERROR_SUCCESS) {
            std::fwprintf(stderr, L"thumbcycle: cannot link the 32-bit view's %ls to the 64-bit one (error %ld)\n", names[i],
                          static_cast<long>(status));
            return kExitFail;
        }
    }
    return kExitPass;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"check") return thumbhost::CheckCountersFollowObjects() ? kExitPass : kExitFail;
    if (mode == L"share-key" && argc > 2) return ShareKeys(argc - 2, argv + 2);
    if (mode == L"loads") return Loads(argc, argv);
    if (mode != L"cycles" && mode != L"soak") {
        std::fprintf(stderr, "%s\n", kUsage);
        return kExitUsage;
    }
    Options options;
    if (!ParseOptions(argc, argv, mode == L"soak", options)) return kExitUsage;
    return mode == L"soak" ? Soak(options) : Cycles(options);
}
