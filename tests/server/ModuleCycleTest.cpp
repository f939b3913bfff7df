// The shared object loaded, used and unloaded the way a long-lived host does it, many times in
// one process: each cycle gets the class object, makes providers on 4 threads, asks for
// thumbnails of good and malformed documents (a malformed one draws the 64 x 64 placeholder,
// which takes a pooled block) at 32, 256 and 1024 with a fresh object per request, releases
// everything, checks DllCanUnloadNow, unloads and checks that the object is really gone.
// Growth of virtual size, resident set and descriptors is measured against cycle 1.
//
//   module_cycle_tests                 20 cycles (CTest)
//   module_cycle_tests --cycles=200    the long run
//   module_cycle_tests --module=PATH   another build of the shared object
#include <dlfcn.h>
#include <unistd.h>
#include <fcntl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "tests/server/HostCounters.h"
#include "tests/server/HostRequest.h"
#include "tests/support/DocumentWriter.h"

namespace {

int cycleCount = 20;
std::string modulePath = RVT_THUMB_DLL_PATH;

const CLSID kClsid = {0x7A3C51E2, 0x4B9D, 0x4F06, {0x9C, 0x18, 0x2D, 0x5E, 0x8B, 0x0F, 0x6A, 0x47}};

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT (*)();

struct Document {
    const char* name;
    testdoc::Bytes bytes;
    HRESULT expected;  // S_OK: a thumbnail; S_FALSE: none (the placeholder was drawn inside)
};

std::vector<Document> MakeDocuments() {
    std::vector<Document> docs;
    const testdoc::Bytes good = testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(256, 192));
    docs.push_back({"zstd 256x192", good, S_OK});
    testdoc::Layout stored;
    stored.coding = testdoc::kStored;
    docs.push_back({"stored 64x64", testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(64, 64), stored), S_OK});
    docs.push_back({"truncated", testdoc::Bytes(good.begin(), good.begin() + good.size() / 2), S_FALSE});
    testdoc::Bytes garbage(3 * 65536, 0x5A);
    std::memcpy(garbage.data(), "hzd\x01", 4);
    docs.push_back({"magic then garbage", garbage, S_FALSE});
    return docs;
}

// One request as a host makes it: class object, provider, stream, thumbnail, all released.
bool Request(GetClassObjectFn getClassObject, const Document& doc, UINT cx) {
    IClassFactory* factory = nullptr;
    if (getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK) return false;
    return RequestThumbnail(factory, doc.bytes, cx, doc.expected, &platform::gdi::DeleteBitmapOfOtherCopy);
}

struct CycleResult {
    int failedRequests = 0;
    bool canUnload = false;
    bool unloaded = false;
};

CycleResult RunCycle(const std::vector<Document>& docs) {
    CycleResult result;
    void* module = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::printf("dlopen: %s\n", dlerror());
        result.failedRequests = -1;
        return result;
    }
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(module, "DllGetClassObject"));
    auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(dlsym(module, "DllCanUnloadNow"));
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (const Document& doc : docs)
                for (UINT cx : {32u, 256u, 1024u})
                    if (!Request(getClassObject, doc, cx)) failed.fetch_add(1);
        });
    for (std::thread& t : threads) t.join();
    result.failedRequests = failed.load();
    result.canUnload = canUnloadNow() == S_OK;
    dlclose(module);
    // Still mapped after its last dlclose means something pinned it (a unique symbol, a
    // thread-local destructor): its memory would never come back.
    void* again = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_NOLOAD);
    result.unloaded = again == nullptr;
    if (again) dlclose(again);
    return result;
}

// The placeholder path shows a message box, which on Linux is a line on standard error; a host
// has no use for thousands of them.
class QuietStandardError {
public:
    QuietStandardError() : saved(dup(2)) {
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        dup2(null, 2);
        close(null);
    }
    ~QuietStandardError() {
        dup2(saved, 2);
        close(saved);
    }

private:
    int saved;
};

TEST(ModuleCycle, CountersFollowObjectsMadeOnPurpose) { EXPECT_TRUE(hostcounters::CountersFollowObjects()); }

// Counters after each of `cycles` cycles. `leakBytes` per cycle are allocated, touched and kept
// until the caller is done: the planted leak that shows the judgement can fail.
std::vector<hostcounters::Counters> RunCycles(int cycles, size_t leakBytes, std::vector<std::unique_ptr<char[]>>& leaked) {
    const std::vector<Document> docs = MakeDocuments();
    std::vector<hostcounters::Counters> after;
    QuietStandardError quiet;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const CycleResult r = RunCycle(docs);
        EXPECT_EQ(r.failedRequests, 0) << "cycle " << cycle + 1;
        EXPECT_TRUE(r.canUnload) << "cycle " << cycle + 1;
        EXPECT_TRUE(r.unloaded) << "cycle " << cycle + 1;
        if (r.failedRequests || !r.canUnload || !r.unloaded) break;
        if (leakBytes) {
            leaked.emplace_back(new char[leakBytes]);
            std::memset(leaked.back().get(), cycle, leakBytes);
        }
        after.push_back(hostcounters::Read());
    }
    return after;
}

// Growth per cycle after the first (cycle 1 loads what stays loaded: the C++ runtime's first
// use, glibc's caches), as the slope between the medians of the first and last thirds.
struct Growth {
    double rssKiB = 0, heapKiB = 0, sizeKiB = 0;
};

Growth GrowthPerCycle(const std::vector<hostcounters::Counters>& after) {
    std::vector<int64_t> sizes, resident, heap;
    for (size_t i = 1; i < after.size(); ++i) {
        sizes.push_back(after[i].vmSizeKiB);
        resident.push_back(after[i].rssAnonKiB);
        heap.push_back(after[i].heapInUseBytes);
    }
    return {hostcounters::GrowthPerStep(resident), hostcounters::GrowthPerStep(heap) / 1024.0,
            hostcounters::GrowthPerStep(sizes)};
}

constexpr double kGrowthLimitKiB = 10.0;

TEST(ModuleCycle, EveryUnloadGivesMemoryAndDescriptorsBack) {
    ASSERT_GE(cycleCount, 4);
    std::vector<std::unique_ptr<char[]>> leaked;
    const std::vector<hostcounters::Counters> after = RunCycles(cycleCount, 0, leaked);
    ASSERT_EQ(after.size(), size_t(cycleCount));
    const hostcounters::Counters& first = after.front();
    const hostcounters::Counters& middle = after[after.size() / 2];
    const hostcounters::Counters& last = after.back();
    const Growth growth = GrowthPerCycle(after);
    std::printf("cycles %zu; after cycle 1 / %zu / %zu: VmSize %lld / %lld / %lld KiB, VmRSS %lld / %lld / %lld KiB, "
                "RssAnon %lld / %lld / %lld KiB, heap in use %lld / %lld / %lld bytes, fds %lld / %lld / %lld\n",
                after.size(), after.size() / 2 + 1, after.size(), (long long)first.vmSizeKiB, (long long)middle.vmSizeKiB,
                (long long)last.vmSizeKiB, (long long)first.vmRssKiB, (long long)middle.vmRssKiB,
                (long long)last.vmRssKiB, (long long)first.rssAnonKiB, (long long)middle.rssAnonKiB,
                (long long)last.rssAnonKiB, (long long)first.heapInUseBytes, (long long)middle.heapInUseBytes,
                (long long)last.heapInUseBytes, (long long)first.fds, (long long)middle.fds, (long long)last.fds);
    std::printf("growth per cycle after the first (medians of first and last thirds): RssAnon %.1f KiB, heap in use "
                "%.2f KiB (VmSize %.1f KiB, shown only)\n",
                growth.rssKiB, growth.heapKiB, growth.sizeKiB);
    // Neither virtual size nor file-backed resident pages are judged: both move with timing
    // alone (HostCounters.h).
    EXPECT_LT(growth.rssKiB, kGrowthLimitKiB);
    EXPECT_LT(growth.heapKiB, kGrowthLimitKiB);
    EXPECT_EQ(last.fds, first.fds);
}

// 64 KiB of touched heap kept per cycle must fail the same judgement on both counters.
TEST(ModuleCycle, PlantedLeakIsCaught) {
    std::vector<std::unique_ptr<char[]>> leaked;
    const std::vector<hostcounters::Counters> after = RunCycles(8, 64 * 1024, leaked);
    ASSERT_EQ(after.size(), 8u);
    const Growth growth = GrowthPerCycle(after);
    std::printf("with 64 KiB kept per cycle: RssAnon %.1f KiB, heap in use %.1f KiB a cycle\n", growth.rssKiB,
                growth.heapKiB);
    EXPECT_GT(growth.rssKiB, kGrowthLimitKiB);
    EXPECT_GT(growth.heapKiB, kGrowthLimitKiB);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    hostcounters::FixHeapThresholds();
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--cycles=", 9) == 0)
            cycleCount = std::atoi(argv[i] + 9);
        else if (std::strncmp(argv[i], "--module=", 9) == 0)
            modulePath = argv[i] + 9;
    return RUN_ALL_TESTS();
}
