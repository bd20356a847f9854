#pragma once
// Reading the results of the raster operators back in tests.
#include <cstdint>
#include <string>
#include <vector>

#include "RasterFixtures.h"
#include "host/data/Raster.h"
#include "host/data/RasterOperators.h"
#include "host/data/Value.h"

namespace korvane::test {

// NoData of an integer result, as cellsOf gives it.
inline constexpr int32_t N = korvane::host::kIntegerNoData;

// A 4 x 4 grid of 10 m cells, north-west corner (originX, 40).
GridSpec grid4(std::vector<double> cells, double noData, double originX = 0);

// Every cell of band 0, row by row (NoData as N).
std::vector<int32_t> cellsOf(const korvane::host::RasterDataset& r);

// The rows of the raster's value table, each as its values (but the object
// id) joined by blanks, in table order.
std::vector<std::string> tableRows(korvane::host::RasterDataset& r);

// Gives the raster a value table sidecar with these fields and rows.
void writeValueTable(korvane::host::RasterDataset& r, const std::vector<korvane::host::FieldDef>& fields,
                     const std::vector<std::vector<korvane::host::Value>>& rows);

}  // namespace korvane::test
