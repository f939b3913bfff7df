// Four threads making thumbnail requests at once (run under TSan in CI): every request must
// give what the same request gives alone.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "ProviderDocuments.h"

namespace provider_test {
namespace {

int SilentMessageBox(HWND, LPCWSTR, LPCWSTR, UINT) { return IDOK; }

TEST(ProviderThreads, FourThreadsGiveWhatEachRequestGivesAlone) {
    const MessageBoxSink previous = SetMessageBoxSink(&SilentMessageBox);
    const PreviewReader reader = ReadPageStorePreview;
    const std::vector<Document> docs = GeneratedDocuments(24, 4);
    const UINT sizes[] = {32, 96, 256};
    std::vector<Result> alone;
    for (const Document& doc : docs)
        for (UINT cx : sizes) alone.push_back(Request(reader, doc.bytes, cx));

    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            // Each thread walks the requests from a different start.
            for (size_t k = 0; k < alone.size(); ++k) {
                const size_t i = (k + static_cast<size_t>(t) * 7) % alone.size();
                const Result r = Request(reader, docs[i / std::size(sizes)].bytes, sizes[i % std::size(sizes)]);
                if (r.hr != alone[i].hr || r.bits != alone[i].bits) ++mismatches;
            }
        });
    for (std::thread& t : threads) t.join();
    SetMessageBoxSink(previous);
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace provider_test
