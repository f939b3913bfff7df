// Internal to resampling: the strip tables of the area average and the one-row operations
// that Resample (whole images) and BandResampler (rows arriving in bands) both run. The strip
// tables and kept-footprint rows live in ResampleStrips.cpp, rows summed into totals in
// ResampleRowTotals.cpp.
//
// A strip is up to kStripColumns destination columns whose footprints span at most
// kSpanColumns source columns, so its sums fit small fixed tables. A destination row of a
// strip needs only the source rows of its own footprint, W pixels apart; where those rows
// are held is the caller's business.
#pragma once

#include <cstdint>

#include "image/ResampleKernels.h"

namespace tarn::resample {

constexpr int32_t kStripColumns = 256;
constexpr int64_t kSpanColumns = 1024;
// Rows summed into the 32-bit lanes of the kernels before they are widened.
constexpr int64_t kRowBlock = 128;

// A strip's column tables: built once per strip, kept while its rows are computed. The
// per-column entries live in arrays the caller provides (StripTables on the stack, or one
// entry per destination column for a whole row), so a strip of few columns costs little.
struct StripColumns {
    StripColumn* cols;  // room for the strip's columns (at most kStripColumns)
    EdgeColumns* edges;
    EdgeWeights* weights;
    uint32_t weightsKey[6];  // alphas and row weights the weights were made for
    bool weightsValid;
    int32_t count;
    int32_t xa;    // first destination column
    bool covered;  // some column of the strip lies inside the source
    // The widest block when every column is aligned to source pixels (AlignedRowJob), else -1.
    int32_t alignedBlock;
    bool narrow;  // every footprint at most two columns wide, none outside the source
    int64_t spanFirst;
    int64_t spanLast;
};

// Column entries for one strip of up to kStripColumns columns.
struct StripTables {
    StripColumn cols[kStripColumns];
    EdgeColumns edges[kStripColumns];
    EdgeWeights weights[kStripColumns];
};

// Sums of one destination row of a strip; any strip may use them.
struct StripSums {
    EdgeColumns chunkEdges[kStripColumns];
    uint64_t totals[kStripColumns][4];  // b, g, r, v
    AlphaRange alpha[kStripColumns];
    ColumnSum edgeSums[kStripColumns];
    // Four spare columns let the vector kernels read a few columns past a footprint.
    union {  // inner rows are summed one way or the other
        ColumnSum innerSums[kSpanColumns + 4];
        PlainSum plain[kSpanColumns + 4];
    };
    ColumnSum edgeRowSums[kSpanColumns + 4];
    uint32_t columnAlpha[kSpanColumns + 4];  // alpha range per source column (AlphaWord)
};

// 16.16 step of one axis. Sources below 32768 pixels give the same value as 32-bit
// arithmetic; larger ones need the 64 bits.
inline int64_t StepOf(int32_t sourceSize, int32_t destinationSize) {
    return static_cast<int64_t>(static_cast<double>(sourceSize) / destinationSize * 65536.0);
}

// Whole multiples in both directions are point sampled, everything else area averaged.
inline bool IsPointSampled(int32_t W, int32_t H, int32_t dW, int32_t dH) { return dW % W == 0 && dH % H == 0; }

// Source row of destination row y when point sampling; the accumulator is yStep / 2 + y * yStep.
inline int64_t PointSourceRow(int64_t yStep, int64_t y) { return (yStep / 2 + yStep * y) >> 16; }

// Fills the strip's tables for destination columns xa on (up to w), over a source W wide; the
// entry arrays must have room for min(kStripColumns, w - xa) columns. The strip takes as many
// columns as fit; its count says how many.
void BuildStrip(StripColumns& s, int32_t xa, int32_t w, int64_t xStep, int64_t W);

// Zeroes the few columns past the strip's span that the vector kernels read and ignore.
void ClearSpareColumns(const StripColumns& s, StripSums& t);

// Destination row with footprint fy, columns s.xa .. s.xa + s.count - 1 of `row`. `top` is
// source row fy.first (column 0), the footprint's other rows follow W pixels apart; null
// when the footprint is empty.
void StripRow(StripColumns& s, StripSums& t, const Kernels& k, const uint32_t* top, int64_t W, const Footprint& fy,
              uint32_t* row);

// Any destination row, into 64-bit totals block by block and span by span: the one kind for
// footprints taller than a block of rows or strips wider than a span.
void GeneralRow(const StripColumns& s, StripSums& t, const Kernels& k, const uint32_t* top, int64_t W,
                const Footprint& fy, uint32_t* out);

// A destination row of a strip summed piece by piece as its source rows go by, for
// footprints too tall to keep: 64-bit totals and alpha ranges per destination column. Any
// order of the pieces gives what StripRow gives.
struct RowTotals {
    uint64_t (*totals)[4];  // per column of the strip: b, g, r, v
    AlphaRange* alpha;
};
void StartRowTotals(const StripColumns& s, RowTotals& r);
// The footprint's first or last row (its only row when it has one), of weight B.
void AddEdgeRow(const StripColumns& s, StripSums& t, const Kernels& k, RowTotals& r, const uint32_t* row, uint32_t B);
// `rows` (1 to kRowBlock) of the footprint's inner rows, W pixels apart.
void AddInnerRows(const StripColumns& s, StripSums& t, const Kernels& k, RowTotals& r, const uint32_t* first,
                  int64_t W, size_t rows);
// The destination pixels, columns s.xa on of `row`, once every footprint row was added.
void FinishRowTotals(const StripColumns& s, const RowTotals& r, const Footprint& fy, uint32_t* row);

// A point-sampled destination row of w pixels from source row `source` (null: outside the
// source, all 0).
void PointRow(uint32_t* out, const uint32_t* source, int64_t W, int32_t w, int64_t xStep);

}  // namespace tarn::resample
