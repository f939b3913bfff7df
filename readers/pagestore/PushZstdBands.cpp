#include "readers/pagestore/PushZstdBands.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader, ZSTD_d_stableOutBuffer
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>

#include "readers/pagestore/CompressedInput.h"
#include "readers/pagestore/ZstdFrameBound.h"

namespace pagestore {

namespace {

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

// The decoding loop as stages; each step does one stage's work and names the next.
class ZstdBands {
public:
    enum class Stage {
        Open,        // take a context, begin the sink, set the window
        FrameStart,  // at a frame boundary: the end of the blob, or the next frame's header
        Decode,      // one ZSTD_decompressStream call inside a frame
        Finish,      // the blob ended between frames: zero the rows not written
        // Final stages
        Delivered,
        Refused,
        Failed,
        WholeBlob,
    };

    ZstdBands(CodedBlobDecoder& decoder, ZstdContextPool& pool, BandWriter& out)
        : decoder_(decoder), in_(decoder), lease_(pool), out_(out) {}

    std::optional<tarn::PreviewOutcome> Run() {
        Stage stage = Stage::Open;
        for (;;) {
            switch (stage) {
                case Stage::Open: stage = Open(); break;
                case Stage::FrameStart: stage = FrameStart(); break;
                case Stage::Decode: stage = Decode(); break;
                case Stage::Finish: stage = Finish(); break;
                case Stage::Delivered: return tarn::PreviewOutcome::Delivered;
                case Stage::Refused: return out_.Refusal();
                case Stage::Failed:
                    out_.Discard();
                    in_.Drain();
                    return tarn::PreviewOutcome::Undecodable;
                case Stage::WholeBlob: out_.Discard(); return std::nullopt;
            }
        }
    }

private:
    Stage Open() {
        dctx_ = lease_.get();
        if (!dctx_) return Stage::Failed;
        ZSTD_DCtx_reset(dctx_, ZSTD_reset_session_and_parameters);
        if (!out_.Begin()) return Stage::Refused;
        declared_ = decoder_.DeclaredSize();
        // When everything decoded lands in the sink's block, zstd writes there directly and
        // keeps its history there, as the one-shot decoder does: no window buffer, no copy.
        // Otherwise it decodes through a window of its own into the band.
        inPlace_ = out_.Destination() && declared_ <= out_.Needed();
        ZSTD_DCtx_setParameter(dctx_, ZSTD_d_windowLogMax, inPlace_ ? ZSTD_WINDOWLOG_MAX : ZstdWindowLogFor(declared_));
        if (inPlace_) ZSTD_DCtx_setParameter(dctx_, ZSTD_d_stableOutBuffer, 1);
        return Stage::FrameStart;
    }

    Stage FrameStart() {
        if (!in_.Refill()) return Stage::Finish;
        in_.Gather(ZSTD_FRAMEHEADERSIZE_MAX);
        frameStart_ = produced_;
        frameSize_ = StatedContentSize(in_.Data(), in_.Size());
        // A frame stating more than the declared size has room for would either overrun the
        // room or end short of its own size.
        if (frameSize_ != ZSTD_CONTENTSIZE_UNKNOWN && frameSize_ > declared_ - produced_) return Stage::Failed;
        return Stage::Decode;
    }

    Stage Decode() {
        const bool inputLeft = in_.Refill();
        ZSTD_outBuffer output;
        bool past = false;  // the declared size is reached: one byte more is an error
        if (inPlace_) {
            output = {out_.Destination(), static_cast<size_t>(declared_), static_cast<size_t>(produced_)};
        } else {
            uint64_t capacity;
            uint8_t* dst = out_.Space(capacity);
            past = produced_ == declared_;
            if (past) dst = &probe_, capacity = 1;
            output = {dst, static_cast<size_t>(std::min(capacity, declared_ - produced_ + past)), 0};
        }
        const size_t before = output.pos;
        ZSTD_inBuffer input{in_.Data(), in_.Size(), 0};
        const size_t result = ZSTD_decompressStream(dctx_, &output, &input);
        blocks_.Feed(in_.Data(), input.pos);
        in_.Consume(input.pos);
        const size_t written = output.pos - before;
        produced_ += written;

        if (ZSTD_isError(result)) return StreamingOnly(result) && !blocks_.OversizedBlock() ? Stage::WholeBlob : Stage::Failed;
        const bool pastDeclared = past && written;
        const bool endedInFrame = !inputLeft && !input.pos && !written && result;
        // zstd's streaming decoder does not compare a frame ending in an empty block with its
        // stated size; the one-shot decoder does.
        const bool wrongSize =
            result == 0 && frameSize_ != ZSTD_CONTENTSIZE_UNKNOWN && produced_ - frameStart_ != frameSize_;
        if (pastDeclared || endedInFrame || wrongSize || blocks_.OversizedBlock()) return Stage::Failed;
        out_.Commit(written);
        return result != 0 ? Stage::Decode : Stage::FrameStart;
    }

    Stage Finish() {
        out_.Finish();
        out_.Done();
        return Stage::Delivered;
    }

    CodedBlobDecoder& decoder_;
    CompressedInput in_;
    ZstdContextPool::Lease lease_;
    BandWriter& out_;
    ZSTD_DCtx* dctx_ = nullptr;
    uint64_t declared_ = 0;
    bool inPlace_ = false;
    // Blocks larger than their frame allows are an error even where zstd decodes them (into a
    // stable output buffer).
    ZstdFrameWalker blocks_;
    uint64_t produced_ = 0, frameStart_ = 0;
    unsigned long long frameSize_ = ZSTD_CONTENTSIZE_UNKNOWN;  // the current frame's stated size
    uint8_t probe_ = 0;                                        // catches a first byte past the declared size
};

}  // namespace

std::optional<tarn::PreviewOutcome> PushZstdBands(CodedBlobDecoder& decoder, ZstdContextPool& pool, BandWriter& out) {
    return ZstdBands(decoder, pool, out).Run();
}

int ZstdWindowLogFor(uint64_t declaredSize) {
    int log = ZSTD_WINDOWLOG_MIN;
    while (log < ZSTD_WINDOWLOG_MAX && (uint64_t{1} << log) < declaredSize) ++log;
    return log;
}

}  // namespace pagestore
