#pragma once
// Internals of the raster sources (RasterDataset, RasterWorkspace, the
// export); not part of the public interface.
#include <gdal_priv.h>
#include <cpl_minixml.h>
#include <gdal_rat.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/data/Raster.h"

namespace korvane::host {

struct RasterDataset::Impl {
    std::string path;      // the dataset: file or GRID folder
    std::string dataPath;  // the file GDAL opens
    std::string name;
    RasterFormat format = RasterFormat::Tiff;
    int32_t bandCount = 0;
    int64_t width = 0, height = 0;
    double cellX = 0, cellY = 0;
    Envelope extent;
    PixelType pixelType = PixelType::Unknown;
    std::optional<double> noData;
    std::optional<SpatialReference> sr;

    GDALDataset* ds = nullptr;  // opened when first needed
    // The auxiliary file holds only the copy of the value table that this
    // process wrote beside the sidecar table: GDAL need not read it.
    bool ownAuxiliary = false;
    TablePtr table;
    bool tableLooked = false;
    std::string tableStatus;

    ~Impl();
    GDALDataset& handle();
    GDALRasterBand& band0();
    void closeHandle();
};

struct RasterAccess {
    static RasterDataset::Impl& impl(const RasterDataset& r) { return *r.impl_; }
    // RasterDataset::open; ownAuxiliary: of a dataset this process has just
    // written, whose auxiliary file holds only its value table's copy.
    static RasterDatasetPtr open(const std::string& path, bool ownAuxiliary);
};

namespace data {

struct RasterLocation {
    std::string path, dataPath, name;
    RasterFormat format = RasterFormat::Tiff;
};
// Where the dataset of a path lies and what it is; fails as RasterDataset::open.
RasterLocation locateRaster(const std::string& path);
std::string lowerExt(const std::string& path);
// A name as a dBASE field name not among taken: letters, digits and '_',
// beginning with a letter, cut to 10 characters, a number put at its end
// on a clash.
std::string dbfFieldName(const std::string& raw, const Fields& taken);
// The sidecar dBASE file of a dataset's table.
std::string sidecarOf(const std::string& dataPath, RasterFormat format);
// Closes and drops an open dataset of that path (before its files change).
void forgetRaster(const std::string& path);

// Value (long integer) and Count (long integer).
std::vector<FieldDef> valueTableFields();
TablePtr createDbf(const std::string& dbfPath, const std::vector<FieldDef>& fields);
void removeDbf(const std::string& dbfPath);
// Writes the rows of t into a new dBASE file (same fields).
void copyTableTo(Table& t, const std::string& dbfPath);
// Writes the rows into a new dBASE file of those fields: the records as the
// driver writes them, gathered and written at once (through the driver when
// a value is one the direct writer does not reproduce). A failure removes
// the file and throws.
void writeDbfRows(const std::string& dbfPath, const RasterTableRows& table);

// Rows of whole blocks read at once: about four million cells.
int64_t blockRows(const RasterDataset::Impl& m, GDALRasterBand& b);

// The auxiliary XML file's text with t as band 1's raster attribute table:
// the other contents of an existing file at auxPath are kept.
std::string gdalTableXml(Table& t, const std::string& auxPath);
// The text of the auxiliary XML file at auxPath (a new one when there is
// none or it is no GDAL auxiliary file) after edit changed its band 1 node.
std::string auxXmlWithBand1(const std::string& auxPath, const std::function<void(CPLXMLNode* band)>& edit);
// Puts child into parent in place of parent's child of the same name.
void replaceXmlChild(CPLXMLNode* parent, CPLXMLNode* child);
// The table as a GDAL raster attribute table (Value as the MinMax column,
// Count as the PixelCount column).
GDALDefaultRasterAttributeTable toGdalTable(Table& t);
GDALDefaultRasterAttributeTable toGdalTable(const RasterTableRows& table);
// Writes the new auxiliary XML file at auxPath holding the rows as band 1's
// raster attribute table, in one pass and the very text gdalTableXml gives
// for that table when no file is there.
void writeGdalTableXml(const std::string& auxPath, const RasterTableRows& table);
// What a dataset's auxiliary XML file holds, told without parsing the
// attribute table in it (a file of a row a value can run to many
// megabytes): none; band 1's attribute table and nothing else; or more
// (georeferencing, NoData, statistics, a colour table, other bands, or a
// file not read as such).
enum class AuxContents { None, OnlyTable, More };
AuxContents auxContents(const std::string& auxPath);
// Writes text as the whole of a new file (a temporary of the replace
// helper, or a file that did not exist), every error checked.
void writeNewFile(const std::string& path, const std::string& text);
// The ".hdr" text of a float grid (see exportFloatGrid).
std::string floatGridHeader(int64_t columns, int64_t rows, double xmin, double ymin, double cellSize);

}  // namespace data
}  // namespace korvane::host

namespace korvane::host::data {
// Where one dataset's files go.
struct DatasetFiles {
    std::string data, dbf, cpg, aux;
};
// data, data.vat.dbf, data.vat.cpg, data.aux.xml.
DatasetFiles filesFor(const std::string& dataFile);
// Writes band 0 of src in the format into the given files, with its table
// (the sidecar; the GDAL table in aux, or inside an IMAGINE file). What it
// wrote is removed again when it fails. table, when given, is the table
// written instead of src's own (and then the new dataset's ownAuxiliary).
void writeDatasetFiles(const RasterDataset& src, RasterFormat format, const DatasetFiles& out,
                       const RasterTableRows* table = nullptr);
}  // namespace korvane::host::data
