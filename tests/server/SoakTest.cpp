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
#include <memory>
#include <mutex>
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
constexpr int kSteps = 9;  // readings after warm-up

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
    std::printf("%-9s after %6d requests: VmSize %lld KiB, VmRSS %lld KiB, RssAnon %lld KiB, heap in use %lld bytes, fds %lld, "
                "image memory %lld bytes\n",
                label, s.requests, (long long)s.process.vmSizeKiB, (long long)s.process.vmRssKiB,
                (long long)s.process.rssAnonKiB, (long long)s.process.heapInUseBytes, (long long)s.process.fds, (long long)s.imageBytes);
}

struct SoakRun {
    std::vector<Snapshot> snapshots;  // end of warm-up, then after each ninth of the rest
    Snapshot end;                     // every thread joined
    int failed = 0;
    int shortThreads = 0;
    size_t threadRecords = 0;
};

// `leakBytes` per request are allocated, touched and kept until the run is judged: the planted
// leak that shows the judgement can fail.
SoakRun RunSoak(const std::vector<Document>& docs, int requests, int shortThreadLimit, size_t leakBytes,
                std::vector<std::unique_ptr<char[]>>& leaked) {
    const int64_t imageBytes0 = tarn::Statistics().TotalBytes();
    const MessageBoxSink savedSink = SetMessageBoxSink([](HWND, LPCWSTR, LPCWSTR, UINT) { return IDOK; });

    // Phases end at these request counts; the workers wait at a barrier while the main thread
    // reads the counters, so no request and no short-lived thread is running then.
    // Warm-up: every document at every size several times over, every path's caches filled
    // (a tenth of the long run; half of a short one).
    const int warmUp = std::min(requests / 2, 2000);
    std::vector<int> phaseEnds{warmUp};
    for (int k = 1; k <= kSteps; ++k) phaseEnds.push_back(warmUp + static_cast<int>(int64_t{requests - warmUp} * k / kSteps));
    constexpr int kWorkers = 4;
    std::atomic<int> next{0}, failed{0}, shortThreads{0};
    std::mutex leakLock;
    std::barrier phaseDone(kWorkers + 1);
    auto requestNumber = [&](int n) {
        const Document& doc = docs[static_cast<size_t>(n) % docs.size()];
        const UINT cx = kSizes[(static_cast<size_t>(n) / docs.size()) % std::size(kSizes)];
        if (!Request(doc, cx)) {
            if (failed.fetch_add(1) < 5) std::printf("failed: %s at %u\n", doc.name.c_str(), cx);
        }
        if (leakBytes) {
            std::unique_ptr<char[]> block(new char[leakBytes]);
            std::memset(block.get(), n, leakBytes);
            std::lock_guard<std::mutex> hold(leakLock);
            leaked.push_back(std::move(block));
        }
    };
    // Every step-th request also has a thread of its own make one request and end.
    const int step = std::max(1, requests / std::max(1, shortThreadLimit));
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&] {
            for (int end : phaseEnds) {
                for (int n; (n = next.fetch_add(1)) < end;) {
                    requestNumber(n);
                    if (n % step == 0 && shortThreads.fetch_add(1) < shortThreadLimit)
                        std::thread(requestNumber, n + 1).join();
                }
                phaseDone.arrive_and_wait();  // the main thread reads the counters
                phaseDone.arrive_and_wait();
            }
        });
    SoakRun run;
    for (int end : phaseEnds) {
        phaseDone.arrive_and_wait();
        // Each worker drew one number past the end.
        next.store(end);
        run.snapshots.push_back({end, hostcounters::Read(), tarn::Statistics().TotalBytes() - imageBytes0});
        phaseDone.arrive_and_wait();
    }
    for (std::thread& t : workers) t.join();
    run.end = {requests, hostcounters::Read(), tarn::Statistics().TotalBytes() - imageBytes0};
    SetMessageBoxSink(savedSink);
    run.failed = failed.load();
    run.shortThreads = std::min(shortThreads.load(), shortThreadLimit);
    run.threadRecords = tarn::PoolIntrospection::ThreadRecordCount();
    return run;
}

// What a leak would raise, per 10,000 requests after warm-up: the slope between the medians of
// the first and last thirds of the readings, so one passing spike cannot fail the run and a
// steady leak cannot hide.
struct Drift {
    double rssKiB = 0, heapKiB = 0, sizeKiB = 0;
};

Drift DriftPer10k(const SoakRun& run) {
    std::vector<int64_t> sizes, resident, heap;
    for (const Snapshot& s : run.snapshots) {
        sizes.push_back(s.process.vmSizeKiB);
        resident.push_back(s.process.rssAnonKiB);
        heap.push_back(s.process.heapInUseBytes);
    }
    const double per10k = 10000.0 * kSteps / (run.snapshots.back().requests - run.snapshots.front().requests);
    return {hostcounters::GrowthPerStep(resident) * per10k, hostcounters::GrowthPerStep(heap) * per10k / 1024.0,
            hostcounters::GrowthPerStep(sizes) * per10k};
}

// About 100 bytes a request; the planted leak of 16 KiB a request is 160 times that.
constexpr double kDriftLimitKiB = 1024.0;

TEST(Soak, CountersFollowObjectsMadeOnPurpose) { EXPECT_TRUE(hostcounters::CountersFollowObjects()); }

TEST(Soak, ProcessStaysFlatAndEveryCountComesBack) {
    const std::vector<Document> docs = MakeDocuments();
    const size_t records0 = tarn::PoolIntrospection::ThreadRecordCount();
    std::vector<std::unique_ptr<char[]>> leaked;
    const SoakRun run = RunSoak(docs, requestCount, shortThreadCount, 0, leaked);

    Print("warm-up", run.snapshots.front());
    Print("middle", run.snapshots[run.snapshots.size() / 2]);
    Print("last", run.snapshots.back());
    Print("all ended", run.end);
    const Drift drift = DriftPer10k(run);
    std::printf("drift per 10,000 requests after warm-up: RssAnon %.0f KiB, heap in use %.0f KiB (VmSize %.0f KiB, "
                "shown only); %d short-lived threads\n",
                drift.rssKiB, drift.heapKiB, drift.sizeKiB, run.shortThreads);

    EXPECT_EQ(run.failed, 0);
    EXPECT_LT(drift.rssKiB, kDriftLimitKiB);
    EXPECT_LT(drift.heapKiB, kDriftLimitKiB);
    for (const Snapshot& s : run.snapshots) EXPECT_EQ(s.process.fds, run.snapshots.front().process.fds);
    EXPECT_EQ(run.end.process.fds, run.snapshots.front().process.fds);
    for (const Snapshot& s : run.snapshots) EXPECT_EQ(s.imageBytes, 0) << "after " << s.requests << " requests";
    EXPECT_EQ(run.end.imageBytes, 0);
    EXPECT_EQ(ModuleObjectCount(), 0);
    EXPECT_EQ(pagestore::LivePageBufferCount(), 0u);
    EXPECT_EQ(platform::gdi::LiveBitmapCount(), 0u);
    // Every thread that took pool blocks has ended, and its record went with it.
    EXPECT_EQ(run.threadRecords, records0);
}

// The same judgement over a run that keeps 16 KiB of touched heap per request must fail on both
// the heap in use and the anonymous resident memory.
TEST(Soak, PlantedLeakIsCaught) {
    const std::vector<Document> docs = MakeDocuments();
    std::vector<std::unique_ptr<char[]>> leaked;
    const SoakRun run = RunSoak(docs, std::min(requestCount, 1000), 10, 16 * 1024, leaked);
    const Drift drift = DriftPer10k(run);
    std::printf("with 16 KiB kept per request: drift per 10,000 requests RssAnon %.0f KiB, heap in use %.0f KiB\n",
                drift.rssKiB, drift.heapKiB);
    EXPECT_EQ(run.failed, 0);
    EXPECT_GT(drift.heapKiB, kDriftLimitKiB);
    EXPECT_GT(drift.rssKiB, kDriftLimitKiB);
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
