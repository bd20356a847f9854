#pragma once
// Raster datasets on GDAL: GeoTIFF files, IMAGINE files and GRID folders,
// band 0's attribute table as a host table, block reading and the
// float-grid export.
//
// Formats:
//   TIFF     a GeoTIFF file "x.tif"
//   IMAGINE  an IMAGINE file "x.img"
//   GRID     a folder "name/" holding one GeoTIFF "name/name.tif" and its
//            table (GDAL cannot write ArcInfo grids); ArcInfo grid folders
//            (with hdr.adf) are read through GDAL.
//
// The attribute table (value attribute table) of band 0 is a dBASE table in
// a sidecar named after the dataset's file: "x.tif.vat.dbf",
// "x.img.vat.dbf", "name/name.tif.vat.dbf". Its fields are the object id
// "ObjectID", "Value" (long integer), "Count" (long integer) and any class
// fields. The same table is written as a GDAL raster attribute table (in
// "x.tif.aux.xml"; inside an IMAGINE file that this host writes), so that
// other software sees it. On reading, the sidecar wins; with no sidecar a
// GDAL raster attribute table is read (and kept as the sidecar). A
// single-band integer raster without any table gets (Value, Count) built in
// one pass over its cells when it is opened as a layer (buildValueTable);
// beside the dataset, or in the scratch folder when its folder is read-only.
// No table is built beyond 65,536 distinct values; tableStatus() says why a
// raster has none.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/data/Geometry.h"
#include "host/data/SpatialReference.h"
#include "host/data/Table.h"

namespace korvane::host {

// A value table held in memory: its fields (Value and Count first) and one
// vector of values per row, in field order.
struct RasterTableRows {
    std::vector<FieldDef> fields;
    std::vector<std::vector<Value>> rows;
};

enum class PixelType { Unknown, UInt8, Int8, UInt16, Int16, UInt32, Int32, Float32, Float64 };
const char* pixelTypeName(PixelType t);
bool isIntegerPixelType(PixelType t);

enum class RasterFormat { Tiff, Imagine, Grid, ArcInfoGrid };
// "TIFF", "IMAGINE Image", "GRID" (also for ArcInfo grids).
const char* rasterFormatName(RasterFormat f);

// The most distinct values a value table is built for.
inline constexpr int64_t kMaxValueTableEntries = 65536;

class RasterDataset;
using RasterDatasetPtr = std::shared_ptr<RasterDataset>;

// A block of band 0 as doubles, row by row; NoData cells as NaN.
struct RasterBlock {
    int64_t firstRow = 0;
    int64_t rows = 0;
    int64_t columns = 0;
    std::vector<double> cells;
};

class RasterDataset : public std::enable_shared_from_this<RasterDataset> {
public:
    ~RasterDataset();
    RasterDataset(const RasterDataset&) = delete;
    RasterDataset& operator=(const RasterDataset&) = delete;

    // Opens a .tif, an .img or a GRID folder. Fails (HostFileNotFound) when
    // it is missing, (HostInvalidArg) for another kind of file and for a
    // rotated raster, (HostGeneric) when GDAL cannot read it.
    static RasterDatasetPtr open(const std::string& path);
    // Whether the path names a raster this host opens (by its extension, or
    // a folder that is a GRID), without opening it.
    static bool isRasterPath(const std::string& path);

    // The dataset as the user names it: the file, or the GRID folder.
    const std::string& path() const;
    // The file GDAL reads (a GRID's "name/name.tif"; an ArcInfo grid's folder).
    const std::string& dataPath() const;
    // The file name with its extension ("landscape.tif"), or the GRID's folder name.
    const std::string& name() const;
    // The folder that holds the dataset.
    std::string workspacePath() const;
    RasterFormat format() const;

    int32_t bandCount() const;
    int64_t width() const;
    int64_t height() const;
    double cellSizeX() const;
    // Positive: the height of a cell.
    double cellSizeY() const;
    Envelope extent() const;
    PixelType pixelType() const;
    std::optional<double> noData() const;
    const std::optional<SpatialReference>& spatialReference() const;
    // The host unit code of the coordinate system (0 when unknown).
    int32_t units() const;

    // Whether band 0 is an integer band of a single-band raster.
    bool isIntegerGrid() const;
    // Every file of the dataset that exists (the data file, sidecars; a GRID's folder).
    std::vector<std::string> files() const;
    bool isReadOnly() const;

    // Band 0's attribute table, or nullptr when it has none.
    TablePtr attributeTable();
    bool hasAttributeTable() { return attributeTable() != nullptr; }
    // Why there is no table (empty when there is one or none was looked for).
    const std::string& tableStatus() const;
    // The sidecar dBASE file of the table ("x.tif.vat.dbf").
    std::string tableSidecarPath() const;
    // Builds (Value, Count) for a single-band integer raster that has no
    // table, in one pass over its cells; does nothing when it has one.
    // Returns whether there is a table afterwards. progress(rowsDone, rows)
    // is called once per block when given.
    bool buildValueTable(const std::function<void(int64_t, int64_t)>& progress = {});
    // Writes the rows as the value table (its sidecar) of a dataset that has
    // none, such as an operator's working result made without one.
    void writeValueTable(const RasterTableRows& rows);
    // Writes the attribute table's rows as the GDAL raster attribute table
    // (x.tif.aux.xml; an ArcInfo grid or an IMAGINE file keeps only the sidecar).
    void writeGdalAttributeTable();

    // Reads band 0 in blocks of whole rows, top to bottom; visit gets each
    // block. Memory is one block whatever the raster's size.
    void readBlocks(const std::function<void(const RasterBlock&)>& visit) const;
    // The value of one cell as a double (NaN for NoData).
    double cell(int64_t column, int64_t row) const;

    // Closes GDAL's handle and the attribute table (before the files are
    // replaced or deleted); a later use reopens them.
    void close();

    struct Impl;  // host/data/RasterImpl.h

private:
    explicit RasterDataset(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    friend struct RasterAccess;
};

// The distinct values of band 0 and their cell counts, ascending by value,
// read in one pass. Fails (HostInvalidArg) for a raster that is not a
// single-band integer raster and when there are more than maxEntries
// distinct values.
struct ValueCount {
    int64_t value;
    int64_t count;
};
std::vector<ValueCount> countValues(const RasterDataset& raster, int64_t maxEntries = kMaxValueTableEntries,
                                    const std::function<void(int64_t, int64_t)>& progress = {});

// Writes band 0 as a binary floating-point grid: "<base>.flt" (32-bit floats,
// least significant byte first, rows from the top) and "<base>.hdr" (ncols,
// nrows, xllcorner, yllcorner, cellsize, NODATA_value -9999, byteorder
// LSBFIRST). NoData and NaN cells become -9999. Streamed by blocks; both
// files are written under temporary names and renamed into place, so a
// failure leaves earlier files of those names as they were. Fails
// (HostInvalidArg) for cells that are not square.
void exportFloatGrid(const RasterDataset& raster, const std::string& base,
                     const std::function<void(int64_t, int64_t)>& progress = {});

// Closes a temporary raster and removes its files (sidecars and a GRID's
// folder included); the pointer is reset. Nothing happens for nullptr; a
// file that cannot be removed is left (the scratch folder goes at exit).
void removeTemporaryRaster(RasterDatasetPtr& raster);

// The scratch folder of this process under $TMPDIR (created when first
// asked), where operators write temporary rasters; removed when the process
// ends (removeScratchFolder, also run at exit).
std::string scratchFolder();
void removeScratchFolder();

}  // namespace korvane::host
