#pragma once
// From a raster layer to the data behind it, and the usable-integer-grid
// test. Each routine reports its own failures (at the top level) and gives
// its neutral result.
#include "host/Layer.h"
#include "host/data/Raster.h"

namespace kv {

// The raster dataset of the raster's band 0 (the raster itself: a host
// raster is its band 0's dataset); nothing after a failure.
korvane::host::RasterDatasetPtr GetRasterDSfromGeoDS(const korvane::host::RasterDatasetPtr& raster);

// Band 0's attribute table, or nothing when it has none (a floating-point
// raster, an integer raster whose table was not built) or after a failure.
korvane::host::TablePtr GetRasterTable(const korvane::host::RasterDatasetPtr& raster);

// True for a raster layer whose band 0 has an attribute table with a value
// field ("value", "Value" or "VALUE", looked up in that order) of small or
// long integer type. False for any other layer, silently when the table
// has no value field. Opens no file beyond the table already found.
bool IsUsableIntegerGrid(const korvane::host::LayerPtr& layer);

}  // namespace kv
