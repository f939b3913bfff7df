// Scaling a picture that arrives in bands of rows, top to bottom, without holding it whole.
#pragma once

#include <cstdint>
#include <memory>

#include "image/CImage32.h"
#include "image/ResampleStrips.h"

namespace tarn {

namespace resample {
struct StripSums;
}  // namespace resample

// Gives exactly what Resample(destination, source, destination width, destination height)
// gives for the whole source, while it keeps only the source rows that the next destination
// row still needs. Rows that a band already holds whole are read where they are; only a
// footprint that straddles two bands is copied. Footprints too tall to keep (more rows than
// one block of the kernels, or more than a few MiB) keep no rows at all: each destination row
// is summed as its source rows go by. All memory is taken in Begin.
class BandResampler {
public:
    BandResampler();
    ~BandResampler();
    BandResampler(const BandResampler&) = delete;
    BandResampler& operator=(const BandResampler&) = delete;

    // Starts a width x height source (both at least 1) into `destination`, which keeps its
    // size and must outlive the rows. False, with nothing held, when memory runs out.
    bool Begin(CImage32& destination, int32_t width, int32_t height);
    bool Begin(CImage32& destination, int32_t width, int32_t height, const resample::Kernels& kernels);

    // The next `count` source rows, width pixels each, packed. When the last source row has
    // arrived every destination pixel is written.
    void Rows(const uint32_t* rows, int32_t count);

    // Gives back the memory Begin took; the destination keeps what was written.
    void End();

private:
    struct Need {
        int64_t first;  // source rows a destination row reads, inclusive
        int64_t last;
    };
    Need NeedOf(int64_t y) const;
    // Where destination row y is written, and storing it when the destination's pixels are
    // not one array.
    uint32_t* RowOut(int64_t y);
    void Store(int64_t y, const uint32_t* out);
    void MakeRow(int64_t y, const uint32_t* top);
    // Makes destination rows from nextY_ on while their footprints lie in rows [first, end)
    // held at `rows`.
    void MakeRowsWithin(const uint32_t* rows, int64_t first, int64_t end);
    void KeepRows(const uint32_t* rows, int64_t n);
    void SumRows(const uint32_t* rows, int64_t n);
    void AddInnerRows(const uint32_t* rows, int64_t count);
    // Adds source row received_ as an edge row of every destination row it starts or ends.
    void SumEdgeRow(const uint32_t* row);

    const resample::Kernels* kernels_ = nullptr;
    CImage32* destination_ = nullptr;
    uint32_t* pixels_ = nullptr;  // the destination's, while it is locked
    int64_t W_ = 0, H_ = 0, dW_ = 0, dH_ = 0;
    int64_t xStep_ = 0, yStep_ = 0;
    bool point_ = false;
    bool summing_ = false;  // tall footprints: destination rows summed as rows go by
    resample::StripColumns* strips_ = nullptr;  // in tables_
    resample::RowTotals* totals_ = nullptr;     // per strip, while summing
    size_t stripCount_ = 0;
    // One block for the strips, the entries per destination column they point into, and the
    // row sums.
    std::unique_ptr<uint64_t[]> tables_;
    resample::StripSums* sums_ = nullptr;
    std::unique_ptr<uint32_t[]> window_;  // source rows [windowFirst_, received_)
    std::unique_ptr<uint32_t[]> stage_;   // inner rows gathered while summing: stageRows_ rows
    std::unique_ptr<uint32_t[]> rowOut_;  // a destination row, when its pixels are not contiguous
    int64_t stageRows_ = 0;
    int64_t staged_ = 0;                  // rows in stage_, the last ones received
    int64_t windowFirst_ = 0;
    int64_t received_ = 0;
    int64_t nextY_ = 0;
};

}  // namespace tarn
