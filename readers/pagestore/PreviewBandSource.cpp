#include "readers/pagestore/PreviewBandSource.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "readers/pagestore/CodedBlobDecoder.h"
#include "readers/pagestore/ZstdFrameBound.h"

namespace pagestore {

namespace {

// Rows per band: as many as fit in this many bytes, at least one.
constexpr uint64_t kBandBytes = 256 * 1024;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Where decoded bytes go: the rows of the current band (or of the sink's own block), and once
// the preview is complete a scratch band whose bytes are dropped. Calls Begin, Rows and, on
// failure, Discard.
class BandWriter {
public:
    BandWriter(tarn::PreviewSink& sink, uint32_t width, uint32_t height)
        : sink_(sink), whole_(dynamic_cast<WholePreviewSink*>(&sink)), width_(width), height_(height),
          rowBytes_(uint64_t{width} * 4), needed_(rowBytes_ * height) {
        bandRows_ = std::max<uint64_t>(1, std::min<uint64_t>(height, kBandBytes / rowBytes_));
    }
    ~BandWriter() {
        if (begun_) sink_.Discard();
    }

    uint64_t Needed() const { return needed_; }
    // After Begin: the sink's own block for the whole preview, or null.
    uint8_t* Destination() const { return destination_; }

    // False when the sink refuses, or when there is no memory for a band (no preview either way).
    bool Begin() {
        if (!sink_.Begin(static_cast<int32_t>(width_), static_cast<int32_t>(height_))) return false;
        begun_ = true;
        destination_ = whole_ ? reinterpret_cast<uint8_t*>(whole_->Destination()) : nullptr;
        bandBytes_ = bandRows_ * rowBytes_;
        if (!band_) band_.reset(static_cast<uint8_t*>(std::malloc(destination_ ? kBandBytes : bandBytes_)));
        if (!band_) {
            Discard();
            return false;
        }
        written_ = delivered_ = 0;
        return true;
    }

    // Room for the next decoded bytes: `capacity` (at least 1) bytes at the returned address.
    uint8_t* Space(uint64_t& capacity) {
        if (written_ >= needed_) {
            capacity = destination_ ? kBandBytes : bandBytes_;
            return band_.get();
        }
        if (destination_) {
            capacity = needed_ - written_;
            return destination_ + written_;
        }
        const uint64_t inBand = written_ - delivered_ * rowBytes_;
        capacity = std::min(bandBytes_ - inBand, needed_ - written_);
        return band_.get() + inBand;
    }

    // `n` bytes were written where Space pointed.
    void Commit(uint64_t n) {
        if (written_ >= needed_) return;  // scratch
        written_ += n;
        const uint64_t rows = written_ / rowBytes_;
        if (rows - delivered_ >= bandRows_ || written_ == needed_) Deliver(rows);
    }

    // The rows not yet written are zero.
    void Finish() {
        if (written_ >= needed_) return;
        if (destination_) {
            std::memset(destination_ + written_, 0, needed_ - written_);
            written_ = needed_;
            Deliver(height_);
            return;
        }
        const uint64_t inBand = written_ - delivered_ * rowBytes_;
        std::memset(band_.get() + inBand, 0, bandBytes_ - inBand);
        written_ = std::min(needed_, (delivered_ + bandRows_) * rowBytes_);
        Deliver(written_ / rowBytes_);
        // The band is all zeros from here on: hand it over as it is.
        std::memset(band_.get(), 0, bandBytes_);
        while (delivered_ < height_) {
            const uint64_t rows = std::min<uint64_t>(bandRows_, height_ - delivered_);
            written_ += rows * rowBytes_;
            Deliver(delivered_ + rows);
        }
    }

    // Everything pushed so far is void.
    void Discard() {
        if (!begun_) return;
        begun_ = false;
        sink_.Discard();
    }

    // The read succeeded: the sink keeps what it got.
    void Done() { begun_ = false; }

private:
    void Deliver(uint64_t rows) {
        if (rows <= delivered_) return;
        const uint64_t count = rows - delivered_;
        const uint8_t* from = destination_ ? destination_ + delivered_ * rowBytes_ : band_.get();
        delivered_ = rows;
        sink_.Rows(reinterpret_cast<const uint32_t*>(from), static_cast<int32_t>(count));
    }

    tarn::PreviewSink& sink_;
    WholePreviewSink* whole_;
    const uint32_t width_, height_;
    const uint64_t rowBytes_, needed_;
    uint64_t bandRows_ = 1, bandBytes_ = 0;
    bool begun_ = false;
    uint8_t* destination_ = nullptr;
    std::unique_ptr<uint8_t, FreeDeleter> band_;
    uint64_t written_ = 0;    // bytes of the preview written
    uint64_t delivered_ = 0;  // rows handed to the sink
};

// Reads the blob's remaining pages without copying them: a page that cannot be read fails the
// blob, as it fails reading the blob whole.
void ReadRest(CodedBlobDecoder& decoder) {
    const uint8_t* data;
    while (decoder.Next(data, UINT64_MAX) != 0) {
    }
}

// Stored content is the pixels themselves. Bytes past the preview are read but not copied.
PreviewPush PushStored(CodedBlobDecoder& decoder, BandWriter& out) {
    if (!out.Begin()) return PreviewPush::Refused;
    const uint64_t wanted = std::min(decoder.DeclaredSize(), out.Needed());
    for (uint64_t done = 0; done < wanted;) {
        uint64_t capacity;
        uint8_t* dst = out.Space(capacity);
        const uint64_t n = decoder.Read(dst, std::min(capacity, wanted - done));
        if (n == 0) break;
        done += n;
        out.Commit(n);
    }
    ReadRest(decoder);  // a failure here discards the rows delivered
    out.Finish();
    out.Done();
    return PreviewPush::Delivered;
}

// The compressed bytes, page by page, with the start of each frame made contiguous so that its
// header can be read.
class CompressedInput {
public:
    explicit CompressedInput(CodedBlobDecoder& decoder) : decoder_(decoder) {}

    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }
    void Consume(size_t n) { data_ += n, size_ -= n; }
    // The next page's bytes once these are used up; false at the end of the blob.
    bool Refill() {
        if (size_ == 0) size_ = static_cast<size_t>(decoder_.Next(data_, UINT64_MAX));
        return size_ != 0;
    }
    // At least `n` bytes (or all that remain) contiguous at Data().
    void Gather(size_t n) {
        if (size_ >= n || n > sizeof staging_) return;
        std::memmove(staging_, data_, size_);
        size_ += static_cast<size_t>(decoder_.Read(staging_ + size_, n - size_));
        data_ = staging_;
    }
    // Reads what is left, so that a page that cannot be read still fails the blob.
    void Drain() {
        size_ = 0;
        ReadRest(decoder_);
    }

private:
    CodedBlobDecoder& decoder_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    uint8_t staging_[ZSTD_FRAMEHEADERSIZE_MAX];
};

enum class ZstdResult { Delivered, Refused, Failed, RetryWhole };

// The errors a sound frame meets only in the streaming decoder: a window above the limit, or
// one that cannot be allocated. The whole-blob decode then decides. Every other error, such as
// corruption found at the end of gigabytes, is the frame's own and ends the read at once.
bool StreamingOnly(size_t error) {
    switch (ZSTD_getErrorCode(error)) {
        case ZSTD_error_frameParameter_windowTooLarge:
        case ZSTD_error_memory_allocation: return true;
        default: return false;
    }
}

// The content size a zstd frame's header states; ZSTD_CONTENTSIZE_UNKNOWN when it states none,
// for skippable frames, and for bytes that are no frame header (zstd reports what is wrong).
unsigned long long StatedContentSize(const uint8_t* data, size_t size) {
    ZSTD_frameHeader frame;
    if (ZSTD_getFrameHeader(&frame, data, size) != 0 || frame.frameType != ZSTD_frame) return ZSTD_CONTENTSIZE_UNKNOWN;
    return frame.frameContentSize;
}

ZstdResult PushZstd(CodedBlobDecoder& decoder, ZstdContextPool& pool, BandWriter& out) {
    CompressedInput in(decoder);
    ZstdContextPool::Lease lease(pool);
    ZSTD_DCtx* dctx = lease.get();
    if (!dctx) {
        in.Drain();
        return ZstdResult::Failed;
    }
    ZSTD_DCtx_reset(dctx, ZSTD_reset_session_and_parameters);
    if (!out.Begin()) return ZstdResult::Refused;

    const uint64_t declared = decoder.DeclaredSize();
    // When everything decoded lands in the sink's block, zstd writes there directly and keeps
    // its history there, as the one-shot decoder does: no window buffer, no copy. Otherwise it
    // decodes through a window of its own into the band.
    const bool inPlace = out.Destination() && declared <= out.Needed();
    ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, inPlace ? ZSTD_WINDOWLOG_MAX : ZstdWindowLogFor(declared));
    if (inPlace) ZSTD_DCtx_setParameter(dctx, ZSTD_d_stableOutBuffer, 1);

    // Blocks larger than their frame allows are an error even where zstd decodes them (into a
    // stable output buffer).
    ZstdFrameWalker blocks;
    uint64_t produced = 0, frameStart = 0;
    unsigned long long frameSize = ZSTD_CONTENTSIZE_UNKNOWN;  // the current frame's stated size
    bool inFrame = false;  // the last call left a frame unfinished
    uint8_t probe;         // catches a first byte past the declared size
    for (;;) {
        const bool inputLeft = in.Refill();
        if (!inputLeft && !inFrame) break;
        if (!inFrame) {
            in.Gather(ZSTD_FRAMEHEADERSIZE_MAX);
            frameStart = produced;
            frameSize = StatedContentSize(in.Data(), in.Size());
            // A frame stating more than the declared size has room for would either overrun
            // the room or end short of its own size.
            if (frameSize != ZSTD_CONTENTSIZE_UNKNOWN && frameSize > declared - produced) {
                out.Discard();
                in.Drain();
                return ZstdResult::Failed;
            }
        }
        ZSTD_outBuffer output;
        bool past = false;
        if (inPlace) {
            output = {out.Destination(), static_cast<size_t>(declared), static_cast<size_t>(produced)};
        } else {
            uint64_t capacity;
            uint8_t* dst = out.Space(capacity);
            past = produced == declared;
            if (past) dst = &probe, capacity = 1;
            output = {dst, static_cast<size_t>(std::min(capacity, declared - produced + past)), 0};
        }
        const size_t before = output.pos;
        ZSTD_inBuffer input{in.Data(), in.Size(), 0};
        const size_t result = ZSTD_decompressStream(dctx, &output, &input);
        blocks.Feed(in.Data(), input.pos);
        in.Consume(input.pos);
        const size_t written = output.pos - before;
        produced += written;
        // zstd's streaming decoder does not compare a frame ending in an empty block with its
        // stated size; the one-shot decoder does.
        const bool wrongSize = result == 0 && frameSize != ZSTD_CONTENTSIZE_UNKNOWN && produced - frameStart != frameSize;
        if (ZSTD_isError(result) || (past && written) || (!inputLeft && !input.pos && !written && result) || wrongSize ||
            blocks.OversizedBlock()) {
            // A zstd error, a byte past the declared size, the blob ending inside a frame, a
            // frame that ended short of its size, or an oversized block.
            out.Discard();
            if (ZSTD_isError(result) && StreamingOnly(result) && !blocks.OversizedBlock()) return ZstdResult::RetryWhole;
            in.Drain();
            return ZstdResult::Failed;
        }
        out.Commit(written);
        inFrame = result != 0;
    }
    out.Finish();
    out.Done();
    return ZstdResult::Delivered;
}

// The whole blob decoded into one block, then pushed: for sound frames whose window the
// streaming decoder cannot have (above the limit, or no memory for it), as one-shot decoding
// needs none.
PreviewPush PushFromWholeBlob(ReadablePageStore& store, ZstdContextPool& pool, int64_t blobId, BandWriter& out) {
    CodedBlobDecoder decoder(store, pool, blobId);
    if (!decoder.Prepare()) return PreviewPush::Undecodable;
    const uint64_t bound = decoder.OutputBound();
    std::unique_ptr<uint8_t, FreeDeleter> block(static_cast<uint8_t*>(std::malloc(bound ? bound : 1)));
    uint64_t produced = 0;
    if (!block || !decoder.DecodeInto(block.get(), bound, produced)) return PreviewPush::Undecodable;
    decoder.Close();
    if (!out.Begin()) return PreviewPush::Refused;
    for (uint64_t done = 0, wanted = std::min(produced, out.Needed()); done < wanted;) {
        uint64_t capacity;
        uint8_t* dst = out.Space(capacity);
        const uint64_t n = std::min(capacity, wanted - done);
        std::memcpy(dst, block.get() + done, n);
        done += n;
        out.Commit(n);
    }
    out.Finish();
    out.Done();
    return PreviewPush::Delivered;
}

}  // namespace

int ZstdWindowLogFor(uint64_t declaredSize) {
    int log = ZSTD_WINDOWLOG_MIN;
    while (log < ZSTD_WINDOWLOG_MAX && (uint64_t{1} << log) < declaredSize) ++log;
    return log;
}

PreviewPush PushPreviewBands(ReadablePageStore& store, ZstdContextPool& pool, int64_t blobId, uint32_t width,
                             uint32_t height, tarn::PreviewSink& sink) {
    BandWriter out(sink, width, height);  // discards on every exit but success
    {
        CodedBlobDecoder decoder(store, pool, blobId);
        if (decoder.Coding() == kCodingStored) return PushStored(decoder, out);
        if (decoder.Coding() != kCodingZstd) return PreviewPush::Undecodable;
        switch (PushZstd(decoder, pool, out)) {
            case ZstdResult::Delivered: return PreviewPush::Delivered;
            case ZstdResult::Refused: return PreviewPush::Refused;
            case ZstdResult::Failed: return PreviewPush::Undecodable;
            case ZstdResult::RetryWhole: break;
        }
    }
    return PushFromWholeBlob(store, pool, blobId, out);
}

}  // namespace pagestore
