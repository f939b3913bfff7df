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

TEST(ModuleCycle, EveryUnloadGivesMemoryAndDescriptorsBack) {
    ASSERT_GE(cycleCount, 4);
    const std::vector<Document> docs = MakeDocuments();
    std::vector<hostcounters::Counters> after;
    {
        QuietStandardError quiet;
        for (int cycle = 0; cycle < cycleCount; ++cycle) {
            const CycleResult r = RunCycle(docs);
            ASSERT_EQ(r.failedRequests, 0) << "cycle " << cycle + 1;
            ASSERT_TRUE(r.canUnload) << "cycle " << cycle + 1;
            ASSERT_TRUE(r.unloaded) << "cycle " << cycle + 1;
            after.push_back(hostcounters::Read());
        }
    }
    const hostcounters::Counters& first = after.front();
    const hostcounters::Counters& middle = after[after.size() / 2];
    const hostcounters::Counters& last = after.back();
    // Cycle 1 loads what stays loaded (the C++ runtime's first use, glibc's caches).
    std::vector<int64_t> sizes, resident;
    for (size_t i = 1; i < after.size(); ++i) {
        sizes.push_back(after[i].vmSizeKiB);
        resident.push_back(after[i].vmRssKiB);
    }
    const double sizeGrowth = hostcounters::GrowthPerStep(sizes);
    const double rssGrowth = hostcounters::GrowthPerStep(resident);
    std::printf("cycles %zu; after cycle 1 / %zu / %zu: VmSize %lld / %lld / %lld KiB, VmRSS %lld / %lld / %lld KiB, "
                "fds %lld / %lld / %lld\n",
                after.size(), after.size() / 2 + 1, after.size(), (long long)first.vmSizeKiB, (long long)middle.vmSizeKiB,
                (long long)last.vmSizeKiB, (long long)first.vmRssKiB, (long long)middle.vmRssKiB,
                (long long)last.vmRssKiB, (long long)first.fds, (long long)middle.fds, (long long)last.fds);
    std::printf("growth per cycle after the first (medians of first and last thirds): VmSize %.1f KiB, VmRSS %.1f KiB\n",
                sizeGrowth, rssGrowth);
    EXPECT_LT(sizeGrowth, 10.0);
    EXPECT_LT(rssGrowth, 10.0);
    EXPECT_EQ(last.fds, first.fds);
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
