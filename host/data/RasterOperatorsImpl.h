#pragma once
// What the raster operators share (not part of the public interface):
// reading a raster onto a lattice, rasterizing shapes by strips, the mask,
// and the writer of a result with its value table.
#include <gdal_priv.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/Progress.h"
#include "host/data/RasterOperators.h"
#include "host/data/Value.h"

class OGRGeometry;

namespace korvane::host::ops {

// The rows of a tile of a result.
inline constexpr int64_t kTileRows = 256;
// Rows of one strip: about four million cells, whole rows of tiles.
int64_t stripRows(int64_t columns);
// Calls strip(firstRow, rows, cells) for the strips of the lattice, top down,
// reporting the share of the rows done after each (host/Progress.h).
template <class F>
void forEachStrip(const RasterLattice& l, F&& strip) {
    int64_t step = stripRows(l.columns);
    for (int64_t r = 0; r < l.rows; r += step) {
        int64_t n = std::min(step, l.rows - r);
        strip(r, n, static_cast<size_t>(n * l.columns));
        reportProgress(static_cast<double>(r + n) / static_cast<double>(l.rows));
    }
}

// Reads band 0 of a raster onto a lattice: each lattice cell takes the
// raster's cell under its centre; outside the raster and NoData cells give
// kIntegerNoData (readInt) or NaN (readDouble).
class LatticeReader {
public:
    LatticeReader(const RasterDataset& raster, const RasterLattice& lattice);
    void readInt(int64_t firstRow, int64_t rows, int32_t* out);
    void readDouble(int64_t firstRow, int64_t rows, double* out);

private:
    template <class T>
    void read(int64_t firstRow, int64_t rows, T* out, T none);
    const RasterDataset& raster_;
    RasterLattice lattice_;
    std::vector<int64_t> sourceColumn_;  // -1: outside
    int64_t firstColumn_ = 0, lastColumn_ = -1;
    bool sameColumns_ = false;  // lattice column c is raster column c
    std::vector<int32_t> intBuf_;
    std::vector<double> doubleBuf_;
};

// Shapes burnt into strips of a lattice with GDAL's rasterizer (cell-centre
// rule); the last shape over a cell wins.
class FeatureBurner {
public:
    explicit FeatureBurner(const RasterLattice& lattice);
    ~FeatureBurner();
    FeatureBurner(const FeatureBurner&) = delete;
    FeatureBurner& operator=(const FeatureBurner&) = delete;
    // Takes the shape's well-known binary; an empty shape is left out.
    void add(const std::vector<uint8_t>& wkb, double value);
    // out[rows * columns]: the burnt value, NaN where no shape covers a centre.
    void burn(int64_t firstRow, int64_t rows, double* out);

private:
    RasterLattice lattice_;
    std::vector<OGRGeometry*> shapes_;
    std::vector<double> values_;
    std::vector<double> ymin_, ymax_;
};

// Burns every shape of a feature class (or of the selection) with value 1.
void addShapes(FeatureBurner& burner, const FeatureClassPtr& features, const SelectionSet* selection);

// The cells a mask leaves in: a raster's cells with data, a feature class's
// covered centres; everything when no mask is set.
class MaskRows {
public:
    MaskRows(const GeoDataset& mask, const RasterLattice& lattice);
    bool active() const { return raster_ != nullptr || burner_ != nullptr; }
    // keep[rows * columns]: 1 where the mask has data.
    void read(int64_t firstRow, int64_t rows, std::vector<uint8_t>& keep);
    // Clears the cells the mask leaves out.
    void apply(int64_t firstRow, int64_t rows, int32_t* cells);
    void apply(int64_t firstRow, int64_t rows, double* cells);

private:
    // The mask's cells of the rows into buf_: NaN where it leaves a cell out.
    void fill(int64_t firstRow, int64_t rows);
    RasterLattice lattice_;
    std::unique_ptr<LatticeReader> raster_;
    std::unique_ptr<FeatureBurner> burner_;
    std::vector<double> buf_;
};

// Fails (HostInvalidArg) when the mask's coordinate system is not crs.
void checkMaskCrs(const GeoDataset& mask, const std::optional<SpatialReference>& crs, const char* source);

// The rows of a value table.
using ValueTableRows = RasterTableRows;
// Value and Count rows of counts (value -> cells), ascending by value.
ValueTableRows valueCountRows(const std::vector<std::pair<int64_t, int64_t>>& counts);

// One T per integer value met: dense for small non-negative values, a hash
// map for the others.
template <class T>
class ValueSlots {
public:
    T& at(int32_t v) {
        if (v >= 0 && v < kDenseLimit) {
            if (static_cast<size_t>(v) >= dense_.size()) dense_.resize(std::max<size_t>(v + 1, dense_.size() * 2));
            return dense_[static_cast<size_t>(v)];
        }
        return sparse_[v];
    }
    // The (value, slot) pairs whose slot `used` accepts, ascending by value.
    template <class Used>
    std::vector<std::pair<int32_t, T>> sorted(Used&& used) const {
        std::vector<std::pair<int32_t, T>> out;
        for (const auto& [v, s] : sparse_)
            if (used(s)) out.emplace_back(v, s);
        for (size_t v = 0; v < dense_.size(); ++v)
            if (used(dense_[v])) out.emplace_back(static_cast<int32_t>(v), dense_[v]);
        std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        return out;
    }

private:
    static constexpr int32_t kDenseLimit = 1 << 24;
    std::vector<T> dense_;
    std::unordered_map<int32_t, T> sparse_;
};

// Cell counts of an integer result as it is written.
class ValueCounts {
public:
    void add(const int32_t* cells, size_t n);
    // Ascending by value, counts above 0.
    std::vector<std::pair<int64_t, int64_t>> sorted() const;

private:
    ValueSlots<int64_t> slots_;
};

// The zonal geometry of a zone grid handed over strip by strip, top down.
class ZoneGeometryCounter {
public:
    explicit ZoneGeometryCounter(int64_t columns);
    // The next rows (rows * columns cells, kIntegerNoData for none).
    void add(const int32_t* cells, int64_t rows);
    // After the last row: the zones, cells of cellSize.
    ZonalGeometryTable finish(double cellSize);

private:
    // Per zone: cells and cell edges on its border.
    struct ZoneSum {
        int64_t cells = 0, edges = 0;
    };
    int64_t columns_;
    ValueSlots<ZoneSum> sums_;
    std::vector<int32_t> above_;
};

// Writes a result: a GeoTIFF of the lattice (Int32 with kIntegerNoData, or
// Float64 with NaN), rows top to bottom, then its value table. A writer
// that is not finished removes its files.
// The cell type of an output and the NoData value it marks empty cells with.
struct CellType {
    GDALDataType type = GDT_Int32;
    double noData = kIntegerNoData;   // NaN for floating-point cells
};
// The operators' own: Int32 with kIntegerNoData, or Float64 with NaN.
CellType defaultCellType(bool integer);
// The input's own cell type, for an output that holds the input's values:
// its NoData when it has one the type holds, else a value of the type that
// no cell of the input holds (from its value table); Int32 when there is
// none such.
CellType cellTypeOf(const RasterDataset& input);

class GridWriter {
public:
    // outPath empty: a new name in the scratch folder. Fails (HostGeneric)
    // when outPath exists, (HostInvalidArg) when it is no .tif path,
    // (PathNotFound) when its folder does not exist. Cells are written as
    // `cells` (by default the operators' own types).
    GridWriter(const std::string& outPath, const RasterLattice& lattice, bool integer,
               const std::optional<SpatialReference>& sr, const char* source,
               std::optional<CellType> cells = std::nullopt);
    ~GridWriter();
    GridWriter(const GridWriter&) = delete;
    GridWriter& operator=(const GridWriter&) = delete;

    const std::string& path() const { return path_; }
    void write(int64_t firstRow, int64_t rows, const int32_t* cells);
    void write(int64_t firstRow, int64_t rows, const double* cells);
    // Closes the file (every error checked), writes the table when given
    // (with its GDAL copy for a result outside the scratch folder) and opens
    // the result.
    RasterDatasetPtr finish(const ValueTableRows* table);

private:
    void cleanup();
    void written(int64_t rowsDone);
    std::string path_;
    const char* source_;
    RasterLattice lattice_;
    bool integer_;
    CellType cells_;
    std::vector<int32_t> recoded_;   // integer cells with the output's own NoData
    bool keep_;  // written where the caller asked, not in the scratch folder
    GDALDataset* ds_ = nullptr;
    bool finished_ = false;
};

// The output coordinate system: the environment's, else the input's.
std::optional<SpatialReference> outputCrs(const RasterAnalysisEnvironment& env,
                                          const std::optional<SpatialReference>& input);

}  // namespace korvane::host::ops
