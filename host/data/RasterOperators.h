#pragma once
// The raster operators: features to raster, extraction by a mask, remap,
// combine, region grouping and zonal geometry. Each takes the analysis
// environment and writes a new GeoTIFF: at the path given (which must not
// exist: an operator never replaces a file), or under a fresh name in the
// scratch folder when the path is empty. An integer result has NoData
// kIntegerNoData and gets its value table (Value and Count first; the
// sidecar and the GDAL table, see Raster.h). A result is written whole or
// not at all: a failure removes what was written and throws.
//
// The environment's mask limits every result: a cell whose centre the mask
// does not cover (a raster mask's NoData or outside it; outside a feature
// mask's shapes) is NoData. Its extent and cell size shape the output
// lattice (RasterAnalysisEnvironment::outputLattice); its output spatial
// reference, when set, is the result's, else the input's.
//
// Usage:
//     RasterAnalysisEnvironment env;
//     env.setCellSizeFrom(*grid);
//     env.setExtentFrom(*grid);
//     env.mask = grid;
//     // the zones of a region field, on the grid's cells:
//     RasterDatasetPtr zones = featuresToRaster(regions, nullptr, "REGIONID", env.outputLattice(*grid), env);
//     // the grid's cells inside the selected regions:
//     RasterDatasetPtr cut = extractByMask(grid, GeoDataset{regions}, env);
//
// Cells are read and written by strips of rows; memory grows with the
// columns and, for the operators that number things, with their count.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/data/AnalysisEnvironment.h"
#include "host/data/Raster.h"
#include "host/data/SelectionSet.h"
#include "host/data/Table.h"

namespace korvane::host {

namespace ops {
class ZoneGeometryCounter;
}

// The NoData value of every integer result.
inline constexpr int32_t kIntegerNoData = std::numeric_limits<int32_t>::min();

// The lattice of a raster's own cells.
RasterLattice latticeOf(const RasterDataset& raster);

// Whether two coordinate systems are the same one (either missing counts as
// the same, as the host cannot tell).
bool sameCoordinateSystem(const std::optional<SpatialReference>& a, const std::optional<SpatialReference>& b);

// Rasterizes the field of the features (all of them, or those of the
// selection when it is given) onto the lattice: a cell takes the value of
// the last feature whose shape covers its centre (polygons; lines and points
// by GDAL's rule), NoData where none does or the mask leaves it out.
// Integer fields give an integer raster of their values (value table Value,
// Count). Text fields give codes 1, 2, ... in ascending order of the text,
// with the text in a field of the field's name in the value table (Value,
// Count, field); features with an empty or null text are left out. Single
// and double fields give a 64-bit float raster (NaN NoData, no table).
// Fails (HostInvalidArg) for a missing field, a date field, a value that
// does not fit a long integer, an empty lattice, or features in another
// coordinate system than the environment's output (or the lattice's
// source, `crs`).
RasterDatasetPtr featuresToRaster(const FeatureClassPtr& features, const SelectionSet* selection,
                                  const std::string& field, const RasterLattice& lattice,
                                  const RasterAnalysisEnvironment& env, const std::string& outPath = {},
                                  const std::optional<SpatialReference>& crs = {});

// The cells of values where the mask (a raster: its cells with data; a
// feature class: the cells whose centres its shapes cover) has data, NoData
// elsewhere, on the environment's output lattice for values. An integer
// result's value table keeps the rows of values' table (its class fields)
// for the values left, with their new counts. Fails (HostInvalidArg) for a
// mask that is not set or a multi-band raster.
RasterDatasetPtr extractByMask(const RasterDatasetPtr& values, const GeoDataset& mask,
                               const RasterAnalysisEnvironment& env, const std::string& outPath = {});
// The conditional form: values where condition has data.
inline RasterDatasetPtr conditional(const RasterDatasetPtr& condition, const RasterDatasetPtr& values,
                                    const RasterAnalysisEnvironment& env, const std::string& outPath = {}) {
    return extractByMask(values, GeoDataset{condition}, env, outPath);
}

// The cells of the grid whose centres the shapes (all features, or those
// of the selection) cover, on a window of the grid's own cells, written as
// a float grid "<base>.flt" with its "<base>.hdr" in the very form
// exportFloatGrid gives (NoData and uncovered cells -9999), read and written
// strip by strip. The files are a working folder's (fragstat's input): new
// files, written in place, not synced. Gives the cell count of every value
// the cut holds, ascending by value. Fails (HostInvalidArg) for a grid that
// cutsToFloatGrid refuses or an empty window; the shapes must be in the
// grid's coordinate system.
bool cutsToFloatGrid(const RasterDataset& grid);   // single band, integer cells other than UInt32
std::vector<ValueCount> cutToFloatGrid(const RasterDataset& grid, const FeatureClassPtr& features,
                                       const SelectionSet* selection, const RasterLattice& window,
                                       const std::string& base);

// Maps each value of an integer raster to a code; values the remap does not
// name, and NoData, become NoData. Fails (HostInvalidArg) for a raster that
// is not a single-band integer raster.
RasterDatasetPtr remap(const RasterDatasetPtr& input, const std::unordered_map<int64_t, int32_t>& codes,
                       const RasterAnalysisEnvironment& env, const std::string& outPath = {});

// Whether the grids line up: one coordinate system, one cell size, origins
// whole cells apart. Empty when they do, else the reason, in words.
std::string alignmentProblem(const std::vector<RasterDatasetPtr>& grids);

// One value per distinct tuple of the inputs' values, numbered from 1 in
// row-major order of the tuple's first cell, over the intersection of the
// inputs' extents (and the environment's mask). NoData in any input gives
// NoData. The value table has VALUE, COUNT and one field per input (long
// integer) named after the input's dataset (its name without extension, as
// a dBASE field name: cut to 10 characters, suffixed on a clash). Fails
// (HostInvalidArg) for fewer than two inputs, inputs that are not single-
// band integer rasters, grids that are not aligned (alignmentProblem) and
// extents that do not overlap.
RasterDatasetPtr combine(const std::vector<RasterDatasetPtr>& inputs, const RasterAnalysisEnvironment& env,
                         const std::string& outPath = {});
// The value-table field names combine gives its inputs.
std::vector<std::string> combineFieldNames(const std::vector<RasterDatasetPtr>& inputs);

// Region grouping: every connected group of cells of one value (4 or 8
// neighbours) becomes one region, numbered from 1 in row-major order of its
// first cell. Without withinZones, every cell with data counts as one value.
// The value table has Value, Count and, with addLink, Link (the value the
// region was grouped from). Uses fragstat's component labeller.
class ZonalGeometryTable;
struct RegionGroupOptions {
    bool eightNeighbours = true;
    bool withinZones = true;
    bool addLink = true;
    unsigned threads = 0;  // 0: every core
    // When set, the regions are grouped from the codes of the values (values
    // it does not name are NoData), as a remap to them would give.
    const std::unordered_map<int64_t, int32_t>* codes = nullptr;
    // When set, the value table is handed back here and the result gets none.
    RasterTableRows* table = nullptr;
    // Room kept in each row of that table for the fields the caller adds, so
    // that a row is allocated once (counted with the grouping's own fields).
    size_t rowCapacity = 0;
    // When set, the regions' zonal geometry (see zonalGeometry), measured
    // while they are written.
    ZonalGeometryTable* geometry = nullptr;
};
RasterDatasetPtr regionGroup(const RasterDatasetPtr& input, const RegionGroupOptions& options,
                             const RasterAnalysisEnvironment& env, const std::string& outPath = {});

// Zonal geometry: per zone value, the area (cells times the cell area) and
// the perimeter (the cell edges a zone's cells share with another zone,
// NoData or the outside, holes included, times the cell size).
struct ZoneGeometry {
    int64_t value = 0;
    int64_t cells = 0;
    double area = 0;
    double perimeter = 0;
};
class ZonalGeometryTable {
public:
    // Rows ascending by value.
    const std::vector<ZoneGeometry>& rows() const { return rows_; }
    // The zone of that value, or nullptr (an index built once).
    const ZoneGeometry* find(int64_t value) const;
    // Writes the rows as a new dBASE table (Value, Area, Perimeter) at
    // dbfPath; fails when it exists.
    TablePtr writeTable(const std::string& dbfPath) const;

private:
    friend class ops::ZoneGeometryCounter;
    std::vector<ZoneGeometry> rows_;
    int64_t denseBase_ = 0;
    std::vector<int32_t> dense_;  // value - denseBase_ -> row + 1 (0: none)
    std::unordered_map<int64_t, int32_t> sparse_;
};
// Fails (HostInvalidArg) for a raster that is not a single-band integer
// raster or whose cells are not square.
ZonalGeometryTable zonalGeometry(const RasterDataset& zones);

}  // namespace korvane::host
