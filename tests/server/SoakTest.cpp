// A long-lived host in one process: requests over a mix of documents (good and malformed, every
// pooled size and larger ones, page-store documents through DllGetClassObject and layered
// archives through a kind-0 factory) on 4 threads, while short-lived threads make one request
// each and end. After warm-up the process must stay flat, and at the end every count is back.
//
//   soak_tests                                          the short run (CTest, label "soak")
//   soak_tests --requests=20000 --short-threads=1000    the long one (scripts/soak)
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "memory/MemoryStatistics.h"
#include "memory/PoolIntrospection.h"
#include "readers/pagestore/SeekPageMapper.h"
#include "server/ClassFactory.h"
#include "server/Exports.h"
#include "server/Module.h"
#include "tests/server/HostCounters.h"
#include "tests/server/HostRequest.h"
#include "tests/support/DocumentWriter.h"
#include "tests/support/archive/ArchiveWriter.h"

namespace {

int requestCount = 2000;
int shortThreadCount = 100;

struct Document {
    std::string name;
    testdoc::Bytes bytes;
    ReaderKind kind;
    HRESULT expected;  // S_OK: a thumbnail; S_FALSE: none
};

testdoc::Bytes Archive(uint32_t width, uint32_t height, bool zlib) {
    const testdoc::PreviewImage image = testdoc::MakeTestPattern(width, height, 7);
    archive_test::Archive a;
    a.xml = archive_test::ThumbXml(std::to_string(width), std::to_string(height), "thumb");
    const std::vector<uint8_t> pixels = archive_test::PixelBytes(image.pixels);
    a.chunks.push_back(zlib ? archive_test::ZlibChunk("thumb", pixels) : archive_test::StoredChunk("thumb", pixels));
    return archive_test::Write(a);
}

std::vector<Document> MakeDocuments() {
    std::vector<Document> docs;
    // Previews of 16, 64 and 128 KiB come from the pools, the others from the general heap.
    struct Size {
        uint32_t w, h;
    };
    for (Size s : {Size{64, 64}, Size{128, 128}, Size{256, 128}, Size{256, 192}, Size{1000, 700}}) {
        testdoc::Layout layout;
        layout.coding = (s.w + s.h) % 3 ? testdoc::kZstd : testdoc::kStored;
        docs.push_back({"page store " + std::to_string(s.w) + "x" + std::to_string(s.h),
                        testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(s.w, s.h), layout), kPageStoreReader, S_OK});
    }
    const testdoc::Bytes good = docs[3].bytes;
    docs.push_back({"page store truncated", testdoc::Bytes(good.begin(), good.begin() + good.size() / 2), kPageStoreReader,
                    S_FALSE});
    testdoc::Bytes garbage(3 * 65536, 0x5A);
    std::memcpy(garbage.data(), "hzd\x01", 4);
    docs.push_back({"page store magic then garbage", garbage, kPageStoreReader, S_FALSE});
    docs.push_back({"archive 64x64 stored", Archive(64, 64, false), kLayeredArchiveReader, S_OK});
    docs.push_back({"archive 300x200 zlib", Archive(300, 200, true), kLayeredArchiveReader, S_OK});
    archive_test::Archive oversized;
    oversized.xml = archive_test::ThumbXml("64", "64", "thumb");
    oversized.xmlLength = 0xFFFFFFF0u;
    docs.push_back({"archive with an oversized header", archive_test::Write(oversized), kLayeredArchiveReader, S_FALSE});
    return docs;
}

const UINT kSizes[] = {32, 96, 256, 1024};

// One request as a host makes it, with a fresh factory and provider.
bool Request(const Document& doc, UINT cx) {
    IClassFactory* factory = nullptr;
    const HRESULT got = doc.kind == kPageStoreReader
                            ? DllGetClassObject(CLSID_KwbThumbnailProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory))
                            : CreateClassFactory(doc.kind, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (got != S_OK) return false;
    return RequestThumbnail(factory, doc.bytes, cx, doc.expected, [](HBITMAP bitmap) { return DeleteObject(bitmap); });
}

struct Snapshot {
    int requests = 0;
    hostcounters::Counters process;
    int64_t imageBytes = 0;
};

void Print(const char* label, const Snapshot& s) {
    std::printf("%-9s after %6d requests: VmSize %lld KiB, VmRSS %lld KiB, fds %lld, image memory %lld bytes\n", label,
                s.requests, (long long)s.process.vmSizeKiB, (long long)s.process.vmRssKiB, (long long)s.process.fds,
                (long long)s.imageBytes);
}

TEST(Soak, CountersFollowObjectsMadeOnPurpose) { EXPECT_TRUE(hostcounters::CountersFollowObjects()); }

TEST(Soak, ProcessStaysFlatAndEveryCountComesBack) {
    const std::vector<Document> docs = MakeDocuments();
    const int64_t imageBytes0 = tarn::Statistics().TotalBytes();
    const size_t records0 = tarn::PoolIntrospection::ThreadRecordCount();
    const MessageBoxSink savedSink = SetMessageBoxSink([](HWND, LPCWSTR, LPCWSTR, UINT) { return IDOK; });

    // Phases end at these request counts; the workers wait at a barrier while the main thread
    // reads the counters.
    // Warm-up: every document at every size several times over, every path's caches filled
    // (a tenth of the long run; half of a short one).
    const int warmUp = std::min(requestCount / 2, 2000);
    // Readings at the end of warm-up and after each ninth of the rest.
    constexpr int kSteps = 9;
    std::vector<int> phaseEnds{warmUp};
    for (int k = 1; k <= kSteps; ++k) phaseEnds.push_back(warmUp + static_cast<int>(int64_t{requestCount - warmUp} * k / kSteps));
    constexpr int kWorkers = 4;
    std::atomic<int> next{0}, failed{0}, shortThreads{0};
    std::barrier phaseDone(kWorkers + 1);
    auto requestNumber = [&](int n) {
        const Document& doc = docs[static_cast<size_t>(n) % docs.size()];
        const UINT cx = kSizes[(static_cast<size_t>(n) / docs.size()) % std::size(kSizes)];
        if (!Request(doc, cx)) {
            if (failed.fetch_add(1) < 5) std::printf("failed: %s at %u\n", doc.name.c_str(), cx);
        }
    };
    // Every step-th request also has a thread of its own make one request and end.
    const int step = std::max(1, requestCount / std::max(1, shortThreadCount));
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&] {
            for (int end : phaseEnds) {
                for (int n; (n = next.fetch_add(1)) < end;) {
                    requestNumber(n);
                    if (n % step == 0 && shortThreads.fetch_add(1) < shortThreadCount)
                        std::thread(requestNumber, n + 1).join();
                }
                phaseDone.arrive_and_wait();  // the main thread reads the counters
                phaseDone.arrive_and_wait();
            }
        });
    std::vector<Snapshot> snapshots;
    for (int end : phaseEnds) {
        phaseDone.arrive_and_wait();
        // Each worker drew one number past the end.
        next.store(end);
        snapshots.push_back({end, hostcounters::Read(), tarn::Statistics().TotalBytes() - imageBytes0});
        phaseDone.arrive_and_wait();
    }
    for (std::thread& t : workers) t.join();
    const Snapshot end{requestCount, hostcounters::Read(), tarn::Statistics().TotalBytes() - imageBytes0};
    SetMessageBoxSink(savedSink);

    Print("warm-up", snapshots.front());
    Print("middle", snapshots[snapshots.size() / 2]);
    Print("last", snapshots.back());
    Print("all ended", end);
    std::vector<int64_t> sizes, resident;
    for (const Snapshot& snapshot : snapshots) {
        sizes.push_back(snapshot.process.vmSizeKiB);
        resident.push_back(snapshot.process.vmRssKiB);
    }
    const double per10k = 10000.0 * kSteps / (requestCount - warmUp);
    const double sizeDrift = hostcounters::GrowthPerStep(sizes) * per10k;
    const double rssDrift = hostcounters::GrowthPerStep(resident) * per10k;
    std::printf("drift per 10,000 requests after warm-up: VmSize %.0f KiB, VmRSS %.0f KiB; %d short-lived threads\n",
                sizeDrift, rssDrift, std::min(shortThreads.load(), shortThreadCount));

    EXPECT_EQ(failed.load(), 0);
    EXPECT_LT(sizeDrift, 1024.0);
    EXPECT_LT(rssDrift, 1024.0);
    for (const Snapshot& snapshot : snapshots) EXPECT_EQ(snapshot.process.fds, snapshots.front().process.fds);
    EXPECT_EQ(end.process.fds, snapshots.front().process.fds);
    for (const Snapshot& s : snapshots) EXPECT_EQ(s.imageBytes, 0) << "after " << s.requests << " requests";
    EXPECT_EQ(end.imageBytes, 0);
    EXPECT_EQ(ModuleObjectCount(), 0);
    EXPECT_EQ(pagestore::LivePageBufferCount(), 0u);
    EXPECT_EQ(platform::gdi::LiveBitmapCount(), 0u);
    // Every thread that took pool blocks has ended, and its record went with it.
    EXPECT_EQ(tarn::PoolIntrospection::ThreadRecordCount(), records0);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    hostcounters::FixHeapThresholds();
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--requests=", 11) == 0) requestCount = std::atoi(argv[i] + 11);
        if (std::strncmp(argv[i], "--short-threads=", 16) == 0) shortThreadCount = std::atoi(argv[i] + 16);
    }
    return RUN_ALL_TESTS();
}
