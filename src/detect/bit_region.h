// Growing a 4-connected region over a bit image a word at a time: rows of
// `words` 64-bit words, bit i of a row (word i / 64, bit i % 64) being
// column i. The blob fill hands its region over to this once it has
// filled many runs (noise makes tens of thousands of short ones), since
// the cost here goes by rows and passes, not by runs.
#pragma once

#include <cstdint>
#include <vector>

namespace AztecCore {

// Grows `reach` (inside `mask`, every row of it whole runs of the mask's
// row) to the union of the 4-connected regions of `mask` it touches.
// `scratch` is working storage, kept by the caller so that it is reused.
void growRegion(const std::uint64_t* mask, std::uint64_t* reach, std::int32_t rows, std::int32_t words,
                std::vector<std::uint32_t>& scratch);

// A region's pixel count, sums of columns and rows (from `x0` and `y0`
// for bit 0 of row 0), and whether it touches the first or last row, the
// first column or column `width - 1`.
struct RegionSums {
    std::int64_t count = 0, sumX = 0, sumY = 0;
    bool edge = false;
};
RegionSums regionSums(const std::uint64_t* reach, std::int32_t rows, std::int32_t words, std::int32_t width,
                      std::int32_t x0, std::int32_t y0);
// The same without the processor's population count, which regionSums
// uses where the processor has one.
RegionSums regionSumsByTables(const std::uint64_t* reach, std::int32_t rows, std::int32_t words, std::int32_t width,
                              std::int32_t x0, std::int32_t y0);

}  // namespace AztecCore
