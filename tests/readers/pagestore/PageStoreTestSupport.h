// Shared by the page-store test programs: opening stores over test documents, a store wrapper
// that checks how pages are given back, and a fixture that counts live page buffers.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "readers/pagestore/RPageStore.h"
#include "readers/pagestore/ReadablePageStore.h"
#include "readers/pagestore/SeekPageMapper.h"
#include "tests/support/PageStoreWriter.h"

namespace pagestore_test {

// Every test leaves no page buffer live and none forgotten for a mapper to sweep up.
class PageBufferAccounting : public testing::Test {
protected:
    void SetUp() override { unreturnedAtStart_ = pagestore::UnreturnedPageBufferCount(); }
    void TearDown() override {
        EXPECT_EQ(pagestore::LivePageBufferCount(), 0u) << "page buffers still live";
        EXPECT_EQ(pagestore::UnreturnedPageBufferCount(), unreturnedAtStart_) << "pages never given back";
    }

private:
    size_t unreturnedAtStart_ = 0;
};

// A store over a stream. The stream pointer lives here: the mapper's read function refers to it.
class OpenedStore {
public:
    explicit OpenedStore(IStream* stream) : stream_(stream) {
        store_ = pagestore::OpenPageStore(pagestore::SeekPageMapper(stream_));
    }
    ~OpenedStore() {
        store_.reset();
        stream_->Release();
    }
    OpenedStore(const OpenedStore&) = delete;
    OpenedStore& operator=(const OpenedStore&) = delete;

    pagestore::ReadablePageStore& Store() { return *store_; }
    pagestore::RPageStore<pagestore::SeekPageMapper>& Concrete() {
        return dynamic_cast<pagestore::RPageStore<pagestore::SeekPageMapper>&>(*store_);
    }
    std::unique_ptr<pagestore::ReadablePageStore>& Owned() { return store_; }

private:
    IStream* stream_;
    std::unique_ptr<pagestore::ReadablePageStore> store_;
};

inline std::unique_ptr<OpenedStore> OpenBytes(const testdoc::Bytes& bytes) {
    IStream* stream = testdoc::CreateMemoryStream(bytes);
    try {
        return std::make_unique<OpenedStore>(stream);
    } catch (...) {
        stream->Release();
        throw;
    }
}

inline std::unique_ptr<OpenedStore> OpenSparse(testdoc::PageFile file) {
    IStream* stream = testdoc::CreatePageFileStream(std::make_shared<testdoc::PageFile>(std::move(file)));
    try {
        return std::make_unique<OpenedStore>(stream);
    } catch (...) {
        stream->Release();
        throw;
    }
}

// Forwards to a store and checks the page protocol: every release names a page that is out,
// with the virtual index it was read for. Records the order of reads and releases.
class CheckingStore final : public pagestore::ReadablePageStore {
public:
    explicit CheckingStore(pagestore::ReadablePageStore& inner) : inner_(inner) {}
    ~CheckingStore() override { EXPECT_TRUE(out_.empty()) << out_.size() << " pages not given back"; }

    uint8_t* ReadPage(int64_t vidx) override {
        uint8_t* page = inner_.ReadPage(vidx);
        out_[page] = vidx;
        reads.push_back(vidx);
        return page;
    }
    void ReleasePage(uint8_t* page, int64_t vidx) override {
        Check(page, vidx);
        inner_.ReleasePage(page, vidx);
    }
    bool TryReleasePage(uint8_t* page, int64_t vidx) noexcept override {
        Check(page, vidx);
        return inner_.TryReleasePage(page, vidx);
    }
    bool HasPage(int64_t vidx) override { return inner_.HasPage(vidx); }
    void Describe(int64_t vidx, std::ostream& out) override { inner_.Describe(vidx, out); }
    uint8_t Version() override { return inner_.Version(); }

    size_t Outstanding() const { return out_.size(); }
    std::vector<int64_t> reads;
    std::vector<int64_t> releases;

private:
    void Check(uint8_t* page, int64_t vidx) {
        auto it = out_.find(page);
        EXPECT_NE(it, out_.end()) << "release of a page that is not out";
        if (it != out_.end()) {
            EXPECT_EQ(it->second, vidx) << "page released with another vidx than it was read for";
            out_.erase(it);
        }
        releases.push_back(vidx);
    }

    pagestore::ReadablePageStore& inner_;
    std::map<uint8_t*, int64_t> out_;
};

// Content whose every byte depends on its position and a tag, so misplaced bytes show.
inline testdoc::Bytes Pattern(size_t size, uint32_t tag) {
    testdoc::Bytes out(size);
    uint32_t x = tag * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = static_cast<uint8_t>((x >> 16) ^ (i >> 16));
    }
    return out;
}

// The message of what fn throws, or "(no exception)".
template <class Fn>
std::string MessageOf(Fn fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}

}  // namespace pagestore_test
