// Where a pixel blob's decoded bytes go: the rows of the current band (or one block for the
// whole preview: the sink's own, or the writer's for a small preview), handed to the sink as
// bands complete; once the preview is complete,
// a scratch band whose bytes are dropped. Calls the sink's Begin, Rows and, on failure,
// Discard.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "image/PreviewSink.h"

namespace pagestore {

class BandWriter {
public:
    BandWriter(tarn::PreviewSink& sink, uint32_t width, uint32_t height);
    // Discards what was pushed unless Done() came first.
    ~BandWriter() { Discard(); }
    BandWriter(const BandWriter&) = delete;
    BandWriter& operator=(const BandWriter&) = delete;

    // The preview's bytes: width x height x 4.
    uint64_t Needed() const { return needed_; }
    // After Begin: the block that takes the whole preview (the sink's own, or for a small preview
    // the writer's), or null when the preview goes band by band.
    uint8_t* Destination() const { return destination_; }

    // False when the sink refuses or there is no memory for a band; Refusal() then says what
    // the read comes to.
    bool Begin();
    tarn::PreviewOutcome Refusal() const { return refusal_; }

    // Room for the next decoded bytes: `capacity` (at least 1) bytes at the returned address.
    uint8_t* Space(uint64_t& capacity);
    // `n` bytes were written where Space pointed.
    void Commit(uint64_t n);
    // The rows not yet written are zero; every row is delivered.
    void Finish();
    // Everything pushed so far is void.
    void Discard();
    // The read succeeded: the sink keeps what it got.
    void Done() { begun_ = false; }

private:
    struct FreeDeleter {
        void operator()(void* p) const { std::free(p); }
    };
    void Deliver(uint64_t rows);

    tarn::PreviewSink& sink_;
    const uint32_t width_, height_;
    const uint64_t rowBytes_, needed_;
    uint64_t bandRows_ = 1, bandBytes_ = 0;
    uint64_t scratchBytes_ = 0;  // what band_ holds
    bool begun_ = false;
    tarn::PreviewOutcome refusal_ = tarn::PreviewOutcome::NoPreview;
    uint8_t* destination_ = nullptr;
    std::unique_ptr<uint8_t, FreeDeleter> band_;
    uint64_t written_ = 0;    // bytes of the preview written
    uint64_t delivered_ = 0;  // rows handed to the sink
};

}  // namespace pagestore
