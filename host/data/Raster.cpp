#include "host/data/Raster.h"

#include <gdal_priv.h>
#include <gdal_rat.h>
#include <ogr_spatialref.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/System.h"
#include "host/data/GdalSupport.h"
#include "host/data/RasterImpl.h"
#include "host/data/TableImpl.h"
#include "host/data/Workspace.h"

namespace korvane::host {

namespace stdfs = std::filesystem;

namespace {

constexpr const char* kSource = "RasterDataset";

std::map<std::string, std::weak_ptr<RasterDataset>>& rasterCache() {
    static std::map<std::string, std::weak_ptr<RasterDataset>> c;
    return c;
}

// Tables built in the scratch folder for datasets whose folder is read-only,
// by the dataset's data file: found again when the dataset is reopened.
std::map<std::string, std::string>& scratchTables() {
    static std::map<std::string, std::string> m;
    return m;
}

PixelType pixelTypeOf(GDALDataType t) {
    switch (t) {
        case GDT_Byte: return PixelType::UInt8;
        case GDT_UInt16: return PixelType::UInt16;
        case GDT_Int16: return PixelType::Int16;
        case GDT_UInt32: return PixelType::UInt32;
        case GDT_Int32: return PixelType::Int32;
        case GDT_Float32: return PixelType::Float32;
        case GDT_Float64: return PixelType::Float64;
        default: return PixelType::Unknown;
    }
}

// A folder that the host may write in: it exists and carries no read-only
// attribute (no write permission bits).
bool writableFolder(const std::string& folder) {
    try {
        return !fs::IsReadOnly(folder);
    } catch (const Failure&) {
        return false;
    }
}

// Whether the host reads the dataset's value table from a sidecar of its
// own rather than from GDAL's attribute table.
bool tableOutsideGdal(const RasterDataset::Impl& impl) {
    std::error_code ec;
    if (stdfs::is_regular_file(data::sidecarOf(impl.dataPath, impl.format), ec)) return true;
    auto it = scratchTables().find(impl.dataPath);
    return it != scratchTables().end() && stdfs::is_regular_file(it->second, ec);
}

}  // namespace

const char* pixelTypeName(PixelType t) {
    switch (t) {
        case PixelType::UInt8: return "UInt8";
        case PixelType::Int8: return "Int8";
        case PixelType::UInt16: return "UInt16";
        case PixelType::Int16: return "Int16";
        case PixelType::UInt32: return "UInt32";
        case PixelType::Int32: return "Int32";
        case PixelType::Float32: return "Float32";
        case PixelType::Float64: return "Float64";
        default: return "Unknown";
    }
}

bool isIntegerPixelType(PixelType t) {
    switch (t) {
        case PixelType::UInt8:
        case PixelType::Int8:
        case PixelType::UInt16:
        case PixelType::Int16:
        case PixelType::UInt32:
        case PixelType::Int32: return true;
        default: return false;
    }
}

const char* rasterFormatName(RasterFormat f) {
    switch (f) {
        case RasterFormat::Tiff: return "TIFF";
        case RasterFormat::Imagine: return "IMAGINE Image";
        default: return "GRID";
    }
}

// ---------------------------------------------------------------- Impl

RasterDataset::Impl::~Impl() { closeHandle(); }

void RasterDataset::Impl::closeHandle() {
    if (ds) {
        GDALClose(ds);
        ds = nullptr;
    }
    // Once closed, the auxiliary file may have been rewritten with more
    // than the table: it is looked at again on the next opening.
    ownAuxiliary = false;
}

GDALDataset& RasterDataset::Impl::handle() {
    if (!ds) {
        gdal::ErrorTrap trap;
        {
            // GDAL would parse the whole auxiliary file, an attribute table
            // of a row a value, when the host reads that table from its own
            // sidecar: it is left out when it holds nothing else.
            std::optional<gdal::NoAuxiliaryFile> noAux;
            if (ownAuxiliary || (tableOutsideGdal(*this) &&
                                 data::auxContents(dataPath + ".aux.xml") == data::AuxContents::OnlyTable))
                noAux.emplace();
            ds = static_cast<GDALDataset*>(GDALOpenEx(dataPath.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr,
                                                      nullptr, nullptr));
            if (ds && noAux) {
                // The driver looks for the auxiliary file when it is first asked
                // for the georeferencing, and from then on never again.
                double gt[6];
                ds->GetGeoTransform(gt);
            }
        }
        if (!ds) fail(err::HostGeneric, kSource, gdal::describe("Cannot read the raster " + path, trap));
    }
    return *ds;
}

GDALRasterBand& RasterDataset::Impl::band0() {
    GDALDataset& d = handle();
    if (d.GetRasterCount() < 1) fail(err::HostGeneric, kSource, "The raster " + path + " has no band.");
    return *d.GetRasterBand(1);
}

namespace data {

// A column or dataset name as a dBASE field name (10 characters, letters,
// digits and '_', not beginning with a digit or '_').
std::string dbfFieldName(const std::string& raw, const Fields& taken) {
    std::string n;
    for (char c : raw) n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    while (!n.empty() && !std::isalpha(static_cast<unsigned char>(n[0]))) n.erase(0, 1);
    if (n.empty()) n = "Field";
    n = n.substr(0, 10);
    std::string base = n;
    for (int k = 1; taken.find(n) >= 0; ++k) {
        std::string s = std::to_string(k);
        n = base.substr(0, 10 - s.size()) + s;
    }
    return n;
}

std::string lowerExt(const std::string& path) { return lower(stdfs::path(path).extension().string()); }

RasterLocation locateRaster(const std::string& rawPath) {
    std::error_code ec;
    std::string path = rawPath;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    RasterLocation loc;
    loc.path = canonical(path);
    stdfs::path p(loc.path);
    loc.name = p.filename().string();
    if (stdfs::is_directory(p, ec)) {
        stdfs::path tif = p / (loc.name + ".tif");
        if (stdfs::is_regular_file(tif, ec)) {
            loc.format = RasterFormat::Grid;
            loc.dataPath = tif.string();
        } else if (stdfs::is_regular_file(p / "hdr.adf", ec)) {
            loc.format = RasterFormat::ArcInfoGrid;
            loc.dataPath = loc.path;
        } else {
            fail(err::HostInvalidArg, kSource, "The folder " + path + " is not a GRID (it holds neither " +
                                                   loc.name + ".tif nor hdr.adf).");
        }
        return loc;
    }
    std::string ext = lowerExt(path);
    if (ext == ".tif" || ext == ".tiff")
        loc.format = RasterFormat::Tiff;
    else if (ext == ".img")
        loc.format = RasterFormat::Imagine;
    else
        fail(err::HostInvalidArg, kSource, "Not a GeoTIFF, IMAGINE file or GRID folder: " + path);
    if (!stdfs::exists(p, ec)) fail(err::HostFileNotFound, kSource, "The raster does not exist: " + path);
    loc.dataPath = loc.path;
    return loc;
}

std::string sidecarOf(const std::string& dataPath, RasterFormat format) {
    if (format == RasterFormat::ArcInfoGrid)
        return (stdfs::path(dataPath) / (stdfs::path(dataPath).filename().string() + ".vat.dbf")).string();
    return dataPath + ".vat.dbf";
}

void forgetRaster(const std::string& path) {
    std::string key = canonical(path);
    auto& c = rasterCache();
    if (auto it = c.find(key); it != c.end()) {
        if (auto r = it->second.lock()) r->close();
        c.erase(it);
    }
    for (auto it = scratchTables().begin(); it != scratchTables().end();)
        it = it->first.rfind(key, 0) == 0 ? scratchTables().erase(it) : std::next(it);
}

std::vector<FieldDef> valueTableFields() {
    return {{"Value", FieldInteger, 0, 11, 0}, {"Count", FieldInteger, 0, 11, 0}};
}

TablePtr createDbf(const std::string& dbfPath, const std::vector<FieldDef>& fields) {
    stdfs::path p(dbfPath);
    auto ws = ShapefileWorkspace::open(p.parent_path().string());
    return ws.createTable(p.stem().string(), fields);
}

void removeDbf(const std::string& dbfPath) {
    stdfs::path p(dbfPath);
    std::string folder = p.parent_path().string();
    std::string name = p.stem().string();
    if (TablePtr t = cachedTable(canonical((p.parent_path() / name).string()))) t->close();
    std::error_code ec;
    for (const std::string& f : datasetFiles(folder, name)) stdfs::remove(f, ec);
    forgetDataset(dbfPath);
}

}  // namespace data

// ---------------------------------------------------------------- dataset

RasterDataset::RasterDataset(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RasterDataset::~RasterDataset() = default;

bool RasterDataset::isRasterPath(const std::string& path) {
    std::error_code ec;
    if (stdfs::is_directory(path, ec)) {
        stdfs::path p(path);
        std::string name = p.filename().string();
        if (name.empty()) name = p.parent_path().filename().string();
        return stdfs::is_regular_file(p / (name + ".tif"), ec) || stdfs::is_regular_file(p / "hdr.adf", ec);
    }
    std::string ext = data::lowerExt(path);
    return ext == ".tif" || ext == ".tiff" || ext == ".img";
}

RasterDatasetPtr RasterDataset::open(const std::string& rawPath) { return RasterAccess::open(rawPath, false); }

RasterDatasetPtr RasterAccess::open(const std::string& rawPath, bool ownAuxiliary) {
    using Impl = RasterDataset::Impl;
    gdal::init();
    data::RasterLocation loc = data::locateRaster(rawPath);
    auto& cache = rasterCache();
    if (auto it = cache.find(loc.path); it != cache.end())
        if (auto r = it->second.lock()) return r;

    auto impl = std::make_unique<Impl>();
    impl->ownAuxiliary = ownAuxiliary;
    impl->path = loc.path;
    impl->dataPath = loc.dataPath;
    impl->name = loc.name;
    impl->format = loc.format;
    GDALDataset& d = impl->handle();
    impl->bandCount = d.GetRasterCount();
    if (impl->bandCount < 1) fail(err::HostInvalidArg, kSource, "The raster " + loc.path + " has no band.");
    impl->width = d.GetRasterXSize();
    impl->height = d.GetRasterYSize();
    double gt[6] = {0, 1, 0, 0, 0, -1};
    if (d.GetGeoTransform(gt) != CE_None) {
        gt[0] = 0;
        gt[1] = 1;
        gt[2] = 0;
        gt[3] = static_cast<double>(impl->height);
        gt[4] = 0;
        gt[5] = -1;
    }
    if (gt[2] != 0 || gt[4] != 0)
        fail(err::HostInvalidArg, kSource,
             "The raster " + loc.path + " is rotated; Korvane reads only rasters whose rows run east-west.");
    if (gt[5] >= 0 || gt[1] <= 0)
        fail(err::HostInvalidArg, kSource,
             "The raster " + loc.path + " is not stored north up; Korvane reads only north-up rasters.");
    impl->cellX = gt[1];
    impl->cellY = -gt[5];
    impl->extent.xmin = gt[0];
    impl->extent.ymax = gt[3];
    impl->extent.xmax = gt[0] + gt[1] * static_cast<double>(impl->width);
    impl->extent.ymin = gt[3] + gt[5] * static_cast<double>(impl->height);
    impl->extent.empty = impl->width == 0 || impl->height == 0;
    GDALRasterBand& b = *d.GetRasterBand(1);
    impl->pixelType = pixelTypeOf(b.GetRasterDataType());
    if (b.GetRasterDataType() == GDT_Byte) {
        const char* pt = b.GetMetadataItem("PIXELTYPE", "IMAGE_STRUCTURE");
        if (pt && std::strcmp(pt, "SIGNEDBYTE") == 0) impl->pixelType = PixelType::Int8;
    }
    int hasNoData = 0;
    double nd = b.GetNoDataValue(&hasNoData);
    if (hasNoData) impl->noData = nd;
    if (const OGRSpatialReference* srs = d.GetSpatialRef()) {
        char* wkt = nullptr;
        if (srs->exportToWkt(&wkt) == OGRERR_NONE && wkt) {
            try {
                impl->sr = SpatialReference::fromWkt(wkt);
            } catch (const Failure&) {
            }
        }
        CPLFree(wkt);
    }
    RasterDatasetPtr r(new RasterDataset(std::move(impl)));
    for (auto it = cache.begin(); it != cache.end();) it = it->second.expired() ? cache.erase(it) : std::next(it);
    cache[loc.path] = r;
    return r;
}

const std::string& RasterDataset::path() const { return impl_->path; }
const std::string& RasterDataset::dataPath() const { return impl_->dataPath; }
const std::string& RasterDataset::name() const { return impl_->name; }
std::string RasterDataset::workspacePath() const { return stdfs::path(impl_->path).parent_path().string(); }
RasterFormat RasterDataset::format() const { return impl_->format; }
int32_t RasterDataset::bandCount() const { return impl_->bandCount; }
int64_t RasterDataset::width() const { return impl_->width; }
int64_t RasterDataset::height() const { return impl_->height; }
double RasterDataset::cellSizeX() const { return impl_->cellX; }
double RasterDataset::cellSizeY() const { return impl_->cellY; }
Envelope RasterDataset::extent() const { return impl_->extent; }
PixelType RasterDataset::pixelType() const { return impl_->pixelType; }
std::optional<double> RasterDataset::noData() const { return impl_->noData; }
const std::optional<SpatialReference>& RasterDataset::spatialReference() const { return impl_->sr; }
int32_t RasterDataset::units() const { return unitCode(impl_->sr); }
bool RasterDataset::isIntegerGrid() const { return impl_->bandCount == 1 && isIntegerPixelType(impl_->pixelType); }
const std::string& RasterDataset::tableStatus() const { return impl_->tableStatus; }
std::string RasterDataset::tableSidecarPath() const { return data::sidecarOf(impl_->dataPath, impl_->format); }

std::vector<std::string> RasterDataset::files() const {
    std::vector<std::string> out;
    std::error_code ec;
    if (impl_->format == RasterFormat::Grid || impl_->format == RasterFormat::ArcInfoGrid) {
        out.push_back(impl_->path);
        return out;
    }
    for (const char* suffix : {"", ".aux.xml", ".vat.dbf", ".aux", ".ovr"}) {
        std::string f = impl_->dataPath + suffix;
        if (stdfs::exists(f, ec)) out.push_back(f);
    }
    return out;
}

bool RasterDataset::isReadOnly() const {
    return !writableFolder(workspacePath()) || fs::IsReadOnly(impl_->dataPath);
}

void RasterDataset::close() {
    impl_->closeHandle();
    if (impl_->table) impl_->table->flush();
    impl_->table.reset();
    impl_->tableLooked = false;
}

// ---------------------------------------------------------------- tables

namespace {

// The folder where a new sidecar goes: beside the dataset when it can be
// written there, else the scratch folder.
std::string newSidecarPath(RasterDataset::Impl& impl) {
    std::string beside = data::sidecarOf(impl.dataPath, impl.format);
    if (writableFolder(stdfs::path(beside).parent_path().string())) return beside;
    std::string folder = (stdfs::path(scratchFolder()) / fmt::format("vat{}", scratchTables().size() + 1)).string();
    stdfs::create_directories(folder);
    std::string p = (stdfs::path(folder) / stdfs::path(beside).filename()).string();
    scratchTables()[impl.dataPath] = p;
    return p;
}

// Copies a GDAL raster attribute table into a new sidecar. Returns nullptr
// when the GDAL table has no value column and no linear binning.
TablePtr tableFromGdal(RasterDataset::Impl& impl, const GDALRasterAttributeTable& rat) {
    int valueCol = -1, countCol = -1;
    for (int c = 0; c < rat.GetColumnCount(); ++c) {
        std::string n = data::lower(rat.GetNameOfCol(c));
        GDALRATFieldUsage u = rat.GetUsageOfCol(c);
        if (valueCol < 0 && (n == "value" || u == GFU_MinMax || u == GFU_Min)) valueCol = c;
        else if (countCol < 0 && (n == "count" || u == GFU_PixelCount || n == "histogram")) countCol = c;
    }
    double row0 = 0, binSize = 0;
    bool binned = valueCol < 0 && rat.GetLinearBinning(&row0, &binSize) && binSize == 1.0;
    if (valueCol < 0 && !binned) return nullptr;
    Fields taken;
    taken.add({"ObjectID", FieldOID, 4, 0, 0});
    std::vector<FieldDef> defs = data::valueTableFields();
    for (auto& d : defs) taken.add(d);
    std::vector<int> extra;
    for (int c = 0; c < rat.GetColumnCount(); ++c) {
        if (c == valueCol || c == countCol) continue;
        FieldDef f;
        f.name = data::dbfFieldName(rat.GetNameOfCol(c), taken);
        switch (rat.GetTypeOfCol(c)) {
            case GFT_Integer: f.type = FieldInteger; f.precision = 11; break;
            case GFT_Real: f.type = FieldDouble; f.precision = 19; f.scale = 8; break;
            default: {
                int len = 1;
                for (int r = 0; r < rat.GetRowCount(); ++r)
                    len = std::max<int>(len, static_cast<int>(std::strlen(rat.GetValueAsString(r, c))));
                f.type = FieldString;
                f.length = std::min(len, 254);
            }
        }
        taken.add(f);
        defs.push_back(f);
        extra.push_back(c);
    }
    std::string sidecar = newSidecarPath(impl);
    TablePtr t = data::createDbf(sidecar, defs);
    try {
        InsertCursor ins = t->insert(true);
        RowPtr row = ins.createRowBuffer();
        for (int r = 0; r < rat.GetRowCount(); ++r) {
            double v = valueCol >= 0 ? rat.GetValueAsDouble(r, valueCol) : row0 + r * binSize;
            double count = countCol >= 0 ? rat.GetValueAsDouble(r, countCol) : 0;
            if (valueCol < 0 && count <= 0) continue;  // a binned table lists every value of its range
            row->setValue(1, Value(v));
            row->setValue(2, Value(count));
            for (size_t k = 0; k < extra.size(); ++k) {
                int c = extra[k];
                if (rat.GetTypeOfCol(c) == GFT_String) row->setValue(static_cast<int32_t>(3 + k), Value(std::string(rat.GetValueAsString(r, c))));
                else row->setValue(static_cast<int32_t>(3 + k), Value(rat.GetValueAsDouble(r, c)));
            }
            ins.insertRow(*row);
        }
        ins.flush();
        t->flush();
    } catch (const Failure&) {
        t->close();
        data::removeDbf(sidecar);
        throw;
    }
    return t;
}

}  // namespace

TablePtr RasterDataset::attributeTable() {
    Impl& m = *impl_;
    if (m.tableLooked) return m.table;
    std::error_code ec;
    std::string sidecar = tableSidecarPath();
    if (stdfs::is_regular_file(sidecar, ec)) {
        m.table = Table::open(sidecar);
    } else if (auto it = scratchTables().find(m.dataPath);
               it != scratchTables().end() && stdfs::is_regular_file(it->second, ec)) {
        m.table = Table::open(it->second);
    } else {
        gdal::ErrorTrap trap;
        GDALRasterBand& b = m.band0();
        const GDALRasterAttributeTable* rat = b.GetDefaultRAT();
        if (rat && rat->GetRowCount() > 0) m.table = tableFromGdal(m, *rat);
    }
    m.tableLooked = true;
    if (m.table)
        m.tableStatus.clear();
    else if (m.tableStatus.empty())
        m.tableStatus = isIntegerGrid() ? "no value table" : bandCount() > 1 ? "several bands: no value table"
                                                                            : "floating-point cells: no value table";
    return m.table;
}

bool RasterDataset::buildValueTable(const std::function<void(int64_t, int64_t)>& progress) {
    Impl& m = *impl_;
    if (attributeTable()) return true;
    if (!isIntegerGrid()) return false;
    std::vector<ValueCount> counts;
    try {
        counts = countValues(*this, kMaxValueTableEntries, progress);
    } catch (const Failure& f) {
        m.tableStatus = f.description();
        return false;
    }
    for (const ValueCount& vc : counts)
        if (vc.value < INT32_MIN || vc.value > INT32_MAX || vc.count > INT32_MAX) {
            m.tableStatus = "no value table: a value or count does not fit a long integer field";
            return false;
        }
    std::string sidecar = newSidecarPath(m);
    TablePtr t = data::createDbf(sidecar, data::valueTableFields());
    try {
        InsertCursor ins = t->insert(true);
        RowPtr row = ins.createRowBuffer();
        for (const ValueCount& vc : counts) {
            row->setValue(1, Value(static_cast<int32_t>(vc.value)));
            row->setValue(2, Value(static_cast<int32_t>(vc.count)));
            ins.insertRow(*row);
        }
        ins.flush();
        t->flush();
    } catch (const Failure&) {
        t->close();
        data::removeDbf(sidecar);
        throw;
    }
    m.table = t;
    m.tableStatus.clear();
    if (sidecar == tableSidecarPath() && m.format == RasterFormat::Tiff) {
        try {
            writeGdalAttributeTable();
        } catch (const Failure&) {
            // The sidecar is the table; the GDAL copy is for other software.
        }
    }
    return true;
}

void RasterDataset::writeValueTable(const RasterTableRows& rows) {
    Impl& m = *impl_;
    if (attributeTable()) fail(err::HostGeneric, kSource, "The raster " + m.path + " has a value table already.");
    std::string sidecar = newSidecarPath(m);
    data::writeDbfRows(sidecar, rows);
    m.table = Table::open(sidecar);
    m.tableStatus.clear();
}

void RasterDataset::writeGdalAttributeTable() {
    TablePtr t = attributeTable();
    if (!t) return;
    if (impl_->format != RasterFormat::Tiff && impl_->format != RasterFormat::Grid) return;
    const std::string aux = impl_->dataPath + ".aux.xml";
    if (data::auxContents(aux) != data::AuxContents::More) {
        // The copy holds nothing but a table: written anew in one pass, the
        // old one never parsed, whatever the number of rows.
        RasterTableRows rows;
        rows.fields = t->fields().all();
        Cursor c = t->search(nullptr, true);
        while (RowPtr r = c.next()) {
            std::vector<Value>& v = rows.rows.emplace_back();
            for (size_t i = 0; i < rows.fields.size(); ++i) v.push_back(r->value(static_cast<int32_t>(i)));
        }
        FileReplacement next({aux});
        data::writeGdalTableXml(next.temporary(0).string(), rows);
        next.commit();
    } else {
        replaceFileContents(aux, data::gdalTableXml(*t, aux));
    }
    // GDAL reads the auxiliary file when it opens the dataset again.
    impl_->closeHandle();
}

// ---------------------------------------------------------------- reading

namespace data {

int64_t blockRows(const RasterDataset::Impl& m, GDALRasterBand& b) {
    int bx = 0, by = 0;
    b.GetBlockSize(&bx, &by);
    if (by < 1) by = 1;
    int64_t target = std::max<int64_t>(1, (int64_t{1} << 22) / std::max<int64_t>(1, m.width));
    int64_t rows = std::max<int64_t>(by, target / by * by);
    return std::min<int64_t>(rows, std::max<int64_t>(1, m.height));
}

}  // namespace data

void RasterDataset::readBlocks(const std::function<void(const RasterBlock&)>& visit) const {
    Impl& m = *impl_;
    GDALRasterBand& b = m.band0();
    int64_t step = data::blockRows(m, b);
    RasterBlock block;
    block.columns = m.width;
    for (int64_t r = 0; r < m.height; r += step) {
        block.firstRow = r;
        block.rows = std::min(step, m.height - r);
        block.cells.resize(static_cast<size_t>(block.rows * block.columns));
        gdal::ErrorTrap trap;
        if (b.RasterIO(GF_Read, 0, static_cast<int>(r), static_cast<int>(m.width), static_cast<int>(block.rows),
                       block.cells.data(), static_cast<int>(m.width), static_cast<int>(block.rows), GDT_Float64, 0, 0,
                       nullptr) != CE_None)
            fail(err::HostGeneric, kSource, gdal::describe("Cannot read the cells of " + m.path, trap));
        if (m.noData) {
            double nd = *m.noData;
            for (double& c : block.cells)
                if (c == nd) c = std::nan("");
        }
        visit(block);
    }
}

double RasterDataset::cell(int64_t column, int64_t row) const {
    Impl& m = *impl_;
    if (column < 0 || row < 0 || column >= m.width || row >= m.height)
        fail(err::HostInvalidArg, kSource, fmt::format("No cell ({}, {}) in {}.", column, row, m.path));
    double v = 0;
    gdal::ErrorTrap trap;
    if (m.band0().RasterIO(GF_Read, static_cast<int>(column), static_cast<int>(row), 1, 1, &v, 1, 1, GDT_Float64, 0,
                           0, nullptr) != CE_None)
        fail(err::HostGeneric, kSource, gdal::describe("Cannot read the cells of " + m.path, trap));
    if (m.noData && v == *m.noData) return std::nan("");
    return v;
}

// ---------------------------------------------------------------- scratch

namespace {
std::string& scratchPath() {
    static std::string p;
    return p;
}
}  // namespace

std::string scratchFolder() {
    std::string& p = scratchPath();
    std::error_code ec;
    if (!p.empty() && stdfs::is_directory(p, ec)) return p;
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    std::string templ = (stdfs::path(base) / "korvane-scratch-XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data()))
        fail(err::PathNotFound, "scratchFolder", "Cannot create a scratch folder in " + base + ".");
    static bool registered = false;
    if (!registered) {
        registered = true;
        // At exit only the folder goes: the table cache may be gone already.
        std::atexit([] {
            std::error_code ec;
            if (!scratchPath().empty()) stdfs::remove_all(scratchPath(), ec);
        });
    }
    p = buf.data();
    return p;
}

void removeScratchFolder() {
    std::string& p = scratchPath();
    if (p.empty()) return;
    for (auto& [path, table] : scratchTables())
        if (TablePtr t = data::cachedTable(data::canonical(table.substr(0, table.size() - 4)))) t->close();
    scratchTables().clear();
    std::error_code ec;
    stdfs::remove_all(p, ec);
    p.clear();
}

void removeTemporaryRaster(RasterDatasetPtr& raster) {
    if (!raster) return;
    std::vector<std::string> files = raster->files();
    // The value table's code-page file goes with it.
    if (raster->format() != RasterFormat::Grid && raster->format() != RasterFormat::ArcInfoGrid)
        files.push_back(std::filesystem::path(raster->tableSidecarPath()).replace_extension(".cpg").string());
    raster->close();
    raster.reset();
    std::error_code ec;
    for (const std::string& f : files) std::filesystem::remove_all(f, ec);
}

}  // namespace korvane::host
