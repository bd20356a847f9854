// The shared machinery of the raster operators, features to raster,
// extraction by a mask and remap.
#include "host/data/RasterOperatorsImpl.h"

#include <gdal_alg.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <filesystem>
#include <map>
#include <set>
#include <unistd.h>

#include "host/Failure.h"
#include "host/data/GdalSupport.h"
#include "host/data/RasterImpl.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

namespace stdfs = std::filesystem;

RasterLattice latticeOf(const RasterDataset& raster) {
    RasterLattice l;
    Envelope e = raster.extent();
    l.xmin = e.xmin;
    l.ymax = e.ymax;
    l.cellSize = raster.cellSizeX();
    l.cellHeight = raster.cellSizeY();
    l.columns = raster.width();
    l.rows = raster.height();
    return l;
}

bool sameCoordinateSystem(const std::optional<SpatialReference>& a, const std::optional<SpatialReference>& b) {
    if (!a || !b) return true;
    if (a->wkt == b->wkt) return true;
    OGRSpatialReference sa, sb;
    if (sa.importFromWkt(a->wkt.c_str()) != OGRERR_NONE || sb.importFromWkt(b->wkt.c_str()) != OGRERR_NONE)
        return false;
    const char* options[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES", "CRITERION=EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS",
                             nullptr};
    return sa.IsSame(&sb, options) != 0;
}

namespace ops {

int64_t stripRows(int64_t columns) {
    int64_t rows = std::max<int64_t>(1, (int64_t{1} << 22) / std::max<int64_t>(1, columns));
    return rows < kTileRows ? kTileRows : rows / kTileRows * kTileRows;
}

std::optional<SpatialReference> outputCrs(const RasterAnalysisEnvironment& env,
                                          const std::optional<SpatialReference>& input) {
    return env.outSpatialReference ? env.outSpatialReference : input;
}

// ---------------------------------------------------------------- reader

LatticeReader::LatticeReader(const RasterDataset& raster, const RasterLattice& lattice)
    : raster_(raster), lattice_(lattice) {
    Envelope e = raster.extent();
    sourceColumn_.resize(static_cast<size_t>(lattice.columns));
    for (int64_t c = 0; c < lattice.columns; ++c) {
        double x = lattice.xmin + (static_cast<double>(c) + 0.5) * lattice.cellSize;
        double sc = std::floor((x - e.xmin) / raster.cellSizeX());
        int64_t s = sc >= 0 && sc < static_cast<double>(raster.width()) ? static_cast<int64_t>(sc) : -1;
        sourceColumn_[static_cast<size_t>(c)] = s;
        if (s >= 0) {
            if (lastColumn_ < 0) firstColumn_ = s;
            firstColumn_ = std::min(firstColumn_, s);
            lastColumn_ = std::max(lastColumn_, s);
        }
    }
    sameColumns_ = lattice.columns == raster.width();
    for (int64_t c = 0; c < lattice.columns && sameColumns_; ++c) sameColumns_ = sourceColumn_[static_cast<size_t>(c)] == c;
}

namespace {

// Strips of a stream (whole rows, or many cells) are read once, top down:
// GDAL need not keep their blocks. Narrow windows (a region's cut) stay in
// the block cache, which is bounded, so that windows over the same rows
// read them once.
void dropStripBlocks(RasterDataset::Impl& m, int64_t rows, int64_t columns) {
    if (columns >= m.width || rows * columns >= (int64_t{1} << 22)) m.band0().FlushCache();
}

}  // namespace

template <class T>
void LatticeReader::read(int64_t firstRow, int64_t rows, T* out, T none) {
    const int64_t cols = lattice_.columns;
    std::fill(out, out + rows * cols, none);
    if (lastColumn_ < 0) return;
    Envelope e = raster_.extent();
    std::vector<int64_t> srcRow(static_cast<size_t>(rows));
    int64_t lo = -1, hi = -1;
    for (int64_t r = 0; r < rows; ++r) {
        double y = lattice_.ymax - (static_cast<double>(firstRow + r) + 0.5) * lattice_.cellY();
        double sr = std::floor((e.ymax - y) / raster_.cellSizeY());
        int64_t s = sr >= 0 && sr < static_cast<double>(raster_.height()) ? static_cast<int64_t>(sr) : -1;
        srcRow[static_cast<size_t>(r)] = s;
        if (s >= 0) {
            lo = lo < 0 ? s : std::min(lo, s);
            hi = std::max(hi, s);
        }
    }
    if (lo < 0) return;
    RasterDataset::Impl& m = RasterAccess::impl(raster_);
    const int64_t w = lastColumn_ - firstColumn_ + 1;
    const int64_t h = hi - lo + 1;
    GDALDataType type = std::is_same_v<T, int32_t> ? GDT_Int32 : GDT_Float64;
    std::optional<double> nd = m.noData;
    std::optional<int32_t> ndInt;
    if (nd && std::floor(*nd) == *nd && *nd >= INT32_MIN && *nd <= INT32_MAX) ndInt = static_cast<int32_t>(*nd);
    if (sameColumns_ && h == rows && srcRow.front() == lo && srcRow.back() == hi) {
        // The lattice is the raster's own here: read straight into out.
        gdal::ErrorTrap trap;
        if (m.band0().RasterIO(GF_Read, 0, static_cast<int>(lo), static_cast<int>(cols), static_cast<int>(rows), out,
                               static_cast<int>(cols), static_cast<int>(rows), type, 0, 0, nullptr) != CE_None)
            fail(err::HostGeneric, "RasterOperators", gdal::describe("Cannot read the cells of " + m.path, trap));
        dropStripBlocks(m, rows, cols);
        const size_t n = static_cast<size_t>(rows * cols);
        if constexpr (std::is_same_v<T, int32_t>) {
            if (ndInt)
                for (size_t i = 0; i < n; ++i)
                    if (out[i] == *ndInt) out[i] = none;
        } else {
            if (nd)
                for (size_t i = 0; i < n; ++i)
                    if (out[i] == *nd) out[i] = none;
        }
        return;
    }
    std::vector<T>& buf = [&]() -> std::vector<T>& {
        if constexpr (std::is_same_v<T, int32_t>) return intBuf_;
        else return doubleBuf_;
    }();
    buf.resize(static_cast<size_t>(w * h));
    gdal::ErrorTrap trap;
    if (m.band0().RasterIO(GF_Read, static_cast<int>(firstColumn_), static_cast<int>(lo), static_cast<int>(w),
                           static_cast<int>(h), buf.data(), static_cast<int>(w), static_cast<int>(h), type, 0, 0,
                           nullptr) != CE_None)
        fail(err::HostGeneric, "RasterOperators", gdal::describe("Cannot read the cells of " + m.path, trap));
    dropStripBlocks(m, h, w);
    for (int64_t r = 0; r < rows; ++r) {
        int64_t s = srcRow[static_cast<size_t>(r)];
        if (s < 0) continue;
        const T* src = buf.data() + (s - lo) * w;
        T* dst = out + r * cols;
        for (int64_t c = 0; c < cols; ++c) {
            int64_t sc = sourceColumn_[static_cast<size_t>(c)];
            if (sc < 0) continue;
            T v = src[sc - firstColumn_];
            if constexpr (std::is_same_v<T, int32_t>) {
                if (ndInt && v == *ndInt) continue;
            } else {
                if (std::isnan(v) || (nd && v == *nd)) continue;
            }
            dst[c] = v;
        }
    }
}

void LatticeReader::readInt(int64_t firstRow, int64_t rows, int32_t* out) {
    read<int32_t>(firstRow, rows, out, kIntegerNoData);
}
void LatticeReader::readDouble(int64_t firstRow, int64_t rows, double* out) {
    read<double>(firstRow, rows, out, std::nan(""));
}

// ---------------------------------------------------------------- burner

FeatureBurner::FeatureBurner(const RasterLattice& lattice) : lattice_(lattice) {}

FeatureBurner::~FeatureBurner() {
    for (OGRGeometry* g : shapes_) OGRGeometryFactory::destroyGeometry(g);
}

void FeatureBurner::add(const std::vector<uint8_t>& wkb, double value) {
    if (wkb.empty()) return;
    OGRGeometry* g = nullptr;
    if (OGRGeometryFactory::createFromWkb(wkb.data(), nullptr, &g, wkb.size()) != OGRERR_NONE || !g) {
        if (g) OGRGeometryFactory::destroyGeometry(g);
        fail(err::HostInvalidArg, "RasterOperators", "A shape cannot be read.");
    }
    if (g->IsEmpty()) {
        OGRGeometryFactory::destroyGeometry(g);
        return;
    }
    OGREnvelope e;
    g->getEnvelope(&e);
    shapes_.push_back(g);
    values_.push_back(value);
    ymin_.push_back(e.MinY);
    ymax_.push_back(e.MaxY);
}

void FeatureBurner::burn(int64_t firstRow, int64_t rows, double* out) {
    const int64_t cols = lattice_.columns;
    std::fill(out, out + rows * cols, std::nan(""));
    double top = lattice_.ymax - static_cast<double>(firstRow) * lattice_.cellY();
    double bottom = top - static_cast<double>(rows) * lattice_.cellY();
    std::vector<OGRGeometryH> pick;
    std::vector<double> burn;
    for (size_t i = 0; i < shapes_.size(); ++i)
        if (ymax_[i] >= bottom && ymin_[i] <= top) {
            pick.push_back(OGRGeometry::ToHandle(shapes_[i]));
            burn.push_back(values_[i]);
        }
    if (pick.empty()) return;
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    gdal::ErrorTrap trap;
    std::unique_ptr<GDALDataset> ds(
        mem ? mem->Create("", static_cast<int>(cols), static_cast<int>(rows), 1, GDT_Float64, nullptr) : nullptr);
    if (!ds) fail(err::HostGeneric, "RasterOperators", gdal::describe("Cannot make a strip to rasterize into", trap));
    double gt[6] = {lattice_.xmin, lattice_.cellSize, 0, top, 0, -lattice_.cellY()};
    ds->SetGeoTransform(gt);
    GDALRasterBand* b = ds->GetRasterBand(1);
    b->Fill(std::nan(""));
    int band = 1;
    if (GDALRasterizeGeometries(GDALDataset::ToHandle(ds.get()), 1, &band, static_cast<int>(pick.size()), pick.data(),
                                nullptr, nullptr, burn.data(), nullptr, nullptr, nullptr) != CE_None)
        fail(err::HostGeneric, "RasterOperators", gdal::describe("Cannot rasterize the shapes", trap));
    if (b->RasterIO(GF_Read, 0, 0, static_cast<int>(cols), static_cast<int>(rows), out, static_cast<int>(cols),
                    static_cast<int>(rows), GDT_Float64, 0, 0, nullptr) != CE_None)
        fail(err::HostGeneric, "RasterOperators", gdal::describe("Cannot rasterize the shapes", trap));
}

void addShapes(FeatureBurner& burner, const FeatureClassPtr& features, const SelectionSet* selection) {
    Cursor c = selection ? selection->search(nullptr, true) : features->search(nullptr, true);
    while (RowPtr row = c.next()) burner.add(row->shape().wkb(), 1.0);
}

// ---------------------------------------------------------------- mask

MaskRows::MaskRows(const GeoDataset& mask, const RasterLattice& lattice) : lattice_(lattice) {
    if (auto* r = std::get_if<RasterDatasetPtr>(&mask); r && *r) {
        raster_ = std::make_unique<LatticeReader>(**r, lattice);
    } else if (auto* f = std::get_if<FeatureClassPtr>(&mask); f && *f) {
        burner_ = std::make_unique<FeatureBurner>(lattice);
        addShapes(*burner_, *f, nullptr);
    }
}

void MaskRows::fill(int64_t firstRow, int64_t rows) {
    buf_.resize(static_cast<size_t>(rows * lattice_.columns));
    if (raster_) raster_->readDouble(firstRow, rows, buf_.data());
    else burner_->burn(firstRow, rows, buf_.data());
}

void MaskRows::read(int64_t firstRow, int64_t rows, std::vector<uint8_t>& keep) {
    keep.assign(static_cast<size_t>(rows * lattice_.columns), 1);
    if (!active()) return;
    fill(firstRow, rows);
    for (size_t i = 0; i < buf_.size(); ++i) keep[i] = !std::isnan(buf_[i]);
}

void MaskRows::apply(int64_t firstRow, int64_t rows, int32_t* cells) {
    if (!active()) return;
    fill(firstRow, rows);
    for (size_t i = 0; i < buf_.size(); ++i)
        if (std::isnan(buf_[i])) cells[i] = kIntegerNoData;
}

void MaskRows::apply(int64_t firstRow, int64_t rows, double* cells) {
    if (!active()) return;
    fill(firstRow, rows);
    constexpr double none = std::numeric_limits<double>::quiet_NaN();
    for (size_t i = 0; i < buf_.size(); ++i)
        if (std::isnan(buf_[i])) cells[i] = none;
}

void checkMaskCrs(const GeoDataset& mask, const std::optional<SpatialReference>& crs, const char* source) {
    std::optional<SpatialReference> m;
    std::string name;
    if (auto* r = std::get_if<RasterDatasetPtr>(&mask); r && *r) {
        m = (*r)->spatialReference();
        name = (*r)->path();
    } else if (auto* f = std::get_if<FeatureClassPtr>(&mask); f && *f) {
        m = (*f)->spatialReference();
        name = (*f)->path();
    }
    if (!sameCoordinateSystem(m, crs))
        fail(err::HostInvalidArg, source,
             "The mask " + name + " is in another coordinate system (" + m->name + ") than the grid (" + crs->name +
                 ").");
}

// ---------------------------------------------------------------- value tables

ValueTableRows valueCountRows(const std::vector<std::pair<int64_t, int64_t>>& counts) {
    ValueTableRows t;
    t.fields = data::valueTableFields();
    t.rows.reserve(counts.size());
    for (auto [v, n] : counts) {
        if (n > INT32_MAX)
            fail(err::HostInvalidArg, "RasterOperators",
                 fmt::format("The value {} covers {} cells, more than a long integer Count field holds.", v, n));
        t.rows.push_back({Value(static_cast<int32_t>(v)), Value(static_cast<int32_t>(n))});
    }
    return t;
}

void ValueCounts::add(const int32_t* cells, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (cells[i] != kIntegerNoData) ++slots_.at(cells[i]);
}

std::vector<std::pair<int64_t, int64_t>> ValueCounts::sorted() const {
    std::vector<std::pair<int64_t, int64_t>> out;
    for (auto [v, n] : slots_.sorted([](int64_t n) { return n > 0; })) out.emplace_back(v, n);
    return out;
}

// ---------------------------------------------------------------- writer

namespace {

std::string scratchName() {
    static std::atomic<int64_t> n{0};
    std::string folder = scratchFolder();
    for (;;) {
        std::string p = fmt::format("{}/op{}_{}.tif", folder, ::getpid(), ++n);
        std::error_code ec;
        if (!stdfs::exists(p, ec)) return p;
    }
}

}  // namespace

CellType defaultCellType(bool integer) {
    return integer ? CellType{GDT_Int32, static_cast<double>(kIntegerNoData)} : CellType{GDT_Float64, std::nan("")};
}

CellType cellTypeOf(const RasterDataset& input) {
    switch (input.pixelType()) {
        case PixelType::Float32: return {GDT_Float32, std::nan("")};
        case PixelType::Float64: return {GDT_Float64, std::nan("")};
        case PixelType::Int32: return defaultCellType(true);
        default: break;
    }
    double lo = 0, hi = 0;
    GDALDataType type = GDT_Int32;
    switch (input.pixelType()) {
        case PixelType::UInt8: type = GDT_Byte, lo = 0, hi = 255; break;
        case PixelType::UInt16: type = GDT_UInt16, lo = 0, hi = 65535; break;
        case PixelType::Int16: type = GDT_Int16, lo = -32768, hi = 32767; break;
        default: return defaultCellType(true);
    }
    if (std::optional<double> nd = input.noData(); nd && *nd >= lo && *nd <= hi && std::floor(*nd) == *nd)
        return {type, *nd};
    // A value no cell holds: the value table lists every value there is.
    TablePtr table = const_cast<RasterDataset&>(input).attributeTable();
    const int32_t at = table ? table->findField("Value") : -1;
    if (at < 0) return defaultCellType(true);
    std::vector<bool> used(static_cast<size_t>(hi - lo + 1), false);
    Cursor rows = table->search(nullptr, true);
    while (RowPtr r = rows.next()) {
        if (isNull(r->value(at))) continue;
        const double v = toDouble(r->value(at));
        if (v >= lo && v <= hi) used[static_cast<size_t>(v - lo)] = true;
    }
    // The type's lowest value first (-32768, 0), then its highest.
    for (double v : {lo, hi})
        if (!used[static_cast<size_t>(v - lo)]) return {type, v};
    for (size_t k = 0; k < used.size(); ++k)
        if (!used[k]) return {type, lo + static_cast<double>(k)};
    return defaultCellType(true);
}

GridWriter::GridWriter(const std::string& outPath, const RasterLattice& lattice, bool integer,
                       const std::optional<SpatialReference>& sr, const char* source, std::optional<CellType> cells)
    : source_(source), lattice_(lattice), integer_(integer), cells_(cells ? *cells : defaultCellType(integer)),
      keep_(!outPath.empty()) {
    gdal::init();
    if (lattice.columns <= 0 || lattice.rows <= 0)
        fail(err::HostInvalidArg, source, "The output grid has no cells: its extent is empty.");
    if (lattice.columns > INT32_MAX || lattice.rows > INT32_MAX)
        fail(err::HostInvalidArg, source, "The output grid is too large.");
    std::error_code ec;
    if (outPath.empty()) {
        path_ = scratchName();
    } else {
        if (data::lowerExt(outPath) != ".tif")
            fail(err::HostInvalidArg, source, "An operator writes a GeoTIFF (.tif), not " + outPath + ".");
        stdfs::path parent = stdfs::path(outPath).parent_path();
        if (!parent.empty() && !stdfs::is_directory(parent, ec))
            fail(err::PathNotFound, source, "The folder does not exist: " + parent.string());
        path_ = outPath;
    }
    for (const char* suffix : {"", ".vat.dbf", ".aux.xml", ".vat.cpg"})
        if (stdfs::exists(path_ + suffix, ec) || stdfs::is_symlink(path_ + suffix, ec))
            fail(err::HostGeneric, source, "A file named " + path_ + suffix + " exists; an operator never replaces one.");
    GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GTiff");
    // A working result in the scratch folder is read once or twice and
    // gone: it is not compressed. One the caller keeps is, on every core.
    std::vector<const char*> options = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "BIGTIFF=IF_SAFER"};
    if (!outPath.empty())
        for (const char* o : {"COMPRESS=DEFLATE", "ZLEVEL=1", "NUM_THREADS=ALL_CPUS"}) options.push_back(o);
    options.push_back(nullptr);
    gdal::ErrorTrap trap;
    {
        gdal::NoAuxiliaryFile noAux;
        ds_ = drv ? drv->Create(path_.c_str(), static_cast<int>(lattice.columns), static_cast<int>(lattice.rows), 1,
                                cells_.type, const_cast<char**>(options.data()))
                  : nullptr;
    }
    if (!ds_) {
        cleanup();
        fail(err::HostGeneric, source, gdal::describe("Cannot write " + path_, trap));
    }
    double gt[6] = {lattice.xmin, lattice.cellSize, 0, lattice.ymax, 0, -lattice.cellY()};
    ds_->SetGeoTransform(gt);
    if (sr && !sr->wkt.empty()) {
        OGRSpatialReference s;
        if (s.importFromWkt(sr->wkt.c_str()) == OGRERR_NONE) ds_->SetSpatialRef(&s);
    }
    GDALRasterBand* b = ds_->GetRasterBand(1);
    b->SetNoDataValue(cells_.noData);
}

GridWriter::~GridWriter() {
    if (!finished_) cleanup();
}

void GridWriter::cleanup() {
    if (ds_) {
        gdal::ErrorTrap trap;
        GDALClose(GDALDataset::ToHandle(ds_));
        ds_ = nullptr;
    }
    if (path_.empty()) return;
    data::forgetRaster(path_);
    data::removeDbf(path_ + ".vat.dbf");
    std::error_code ec;
    for (const char* suffix : {"", ".aux.xml", ".vat.cpg"}) stdfs::remove(path_ + suffix, ec);
}

void GridWriter::write(int64_t firstRow, int64_t rows, const int32_t* cells) {
    if (cells_.noData != static_cast<double>(kIntegerNoData)) {
        // An output of a narrower type marks empty cells with its own NoData.
        const int32_t none = static_cast<int32_t>(cells_.noData);
        recoded_.assign(cells, cells + rows * lattice_.columns);
        for (int32_t& c : recoded_)
            if (c == kIntegerNoData) c = none;
        cells = recoded_.data();
    }
    gdal::ErrorTrap trap;
    if (!integer_ || ds_->GetRasterBand(1)->RasterIO(GF_Write, 0, static_cast<int>(firstRow),
                                                     static_cast<int>(lattice_.columns), static_cast<int>(rows),
                                                     const_cast<int32_t*>(cells), static_cast<int>(lattice_.columns),
                                                     static_cast<int>(rows), GDT_Int32, 0, 0, nullptr) != CE_None)
        fail(err::HostGeneric, source_, gdal::describe("Cannot write " + path_, trap));
    written(firstRow + rows);
}

void GridWriter::written(int64_t rowsDone) {
    // Whole rows of tiles are done: they are written out and leave GDAL's
    // cache, so that memory does not grow with the grid.
    if (rowsDone % kTileRows != 0 && rowsDone != lattice_.rows) return;
    gdal::ErrorTrap trap;
    ds_->FlushCache();
    if (trap.failed()) fail(err::HostGeneric, source_, gdal::describe("Cannot write " + path_, trap));
}

void GridWriter::write(int64_t firstRow, int64_t rows, const double* cells) {
    gdal::ErrorTrap trap;
    if (ds_->GetRasterBand(1)->RasterIO(GF_Write, 0, static_cast<int>(firstRow), static_cast<int>(lattice_.columns),
                                        static_cast<int>(rows), const_cast<double*>(cells),
                                        static_cast<int>(lattice_.columns), static_cast<int>(rows), GDT_Float64, 0, 0,
                                        nullptr) != CE_None)
        fail(err::HostGeneric, source_, gdal::describe("Cannot write " + path_, trap));
    written(firstRow + rows);
}

RasterDatasetPtr GridWriter::finish(const ValueTableRows* table) {
    {
        gdal::ErrorTrap trap;
        bool ok = false;
        {
            gdal::NoAuxiliaryFile noAux;
            ds_->FlushCache();
            GDALClose(GDALDataset::ToHandle(ds_));
            // GDAL reports a failed write of the file through its error handler.
            ok = !trap.failed();
        }
        ds_ = nullptr;
        if (!ok || trap.failed()) fail(err::HostGeneric, source_, gdal::describe("Cannot write " + path_, trap));
    }
    if (table) {
        data::writeDbfRows(path_ + ".vat.dbf", *table);
        // The GDAL copy of the table is for other software: a working result
        // in the scratch folder goes without it (a saved copy gets its own).
        if (keep_) data::writeGdalTableXml(path_ + ".aux.xml", *table);
    }
    RasterDatasetPtr r = RasterAccess::open(path_, table && keep_);
    finished_ = true;
    return r;
}

}  // namespace ops

// ---------------------------------------------------------------- features to raster

namespace {
constexpr const char* kFeatures = "featuresToRaster";
}

RasterDatasetPtr featuresToRaster(const FeatureClassPtr& features, const SelectionSet* selection,
                                  const std::string& field, const RasterLattice& lattice,
                                  const RasterAnalysisEnvironment& env, const std::string& outPath,
                                  const std::optional<SpatialReference>& crs) {
    if (!features) fail(err::HostInvalidArg, kFeatures, "No features to rasterize.");
    int32_t fi = features->fields().find(field);
    if (fi < 0) fail(err::HostInvalidArg, kFeatures, "The features have no field " + field + ".");
    const FieldDef def = features->fields().field(fi);
    bool text = def.type == FieldString;
    bool integer = def.type == FieldSmallInteger || def.type == FieldInteger || def.type == FieldOID;
    bool real = def.type == FieldSingle || def.type == FieldDouble;
    if (!text && !integer && !real)
        fail(err::HostInvalidArg, kFeatures, "The field " + field + " holds neither numbers nor text.");
    std::optional<SpatialReference> target = env.outSpatialReference ? env.outSpatialReference : crs;
    if (!sameCoordinateSystem(features->spatialReference(), target))
        fail(err::HostInvalidArg, kFeatures,
             "The features " + features->path() + " are in another coordinate system than the grid.");
    std::optional<SpatialReference> outSr = target ? target : features->spatialReference();
    ops::checkMaskCrs(env.mask, outSr, kFeatures);
    if (lattice.columns <= 0 || lattice.rows <= 0)
        fail(err::HostInvalidArg, kFeatures, "The output grid has no cells: its extent is empty.");

    auto rows = [&] { return selection ? selection->search(nullptr, true) : features->search(nullptr, true); };
    std::map<std::string, int32_t> codes;
    if (text) {
        Cursor c = rows();
        while (RowPtr r = c.next()) {
            const Value& v = r->value(fi);
            if (isNull(v) || toText(v).empty()) continue;
            codes.emplace(toText(v), 0);
        }
        int32_t n = 0;
        for (auto& [t, code] : codes) code = ++n;
    }
    ops::FeatureBurner burner(lattice);
    {
        Cursor c = rows();
        while (RowPtr r = c.next()) {
            const Value& v = r->value(fi);
            if (isNull(v)) continue;
            double value;
            if (text) {
                auto it = codes.find(toText(v));
                if (it == codes.end()) continue;
                value = it->second;
            } else {
                value = toDouble(v);
                if (!std::isfinite(value)) continue;
                if (integer && (value <= kIntegerNoData || value > INT32_MAX))
                    fail(err::HostInvalidArg, kFeatures,
                         fmt::format("The value {} of {} does not fit a long integer grid.", value, field));
            }
            burner.add(r->shape().wkb(), value);
        }
    }
    bool intOut = !real;
    ops::MaskRows mask(env.mask, lattice);
    ops::GridWriter out(outPath, lattice, intOut, outSr, kFeatures);
    ops::ValueCounts counts;
    std::vector<double> cells;
    std::vector<int32_t> ints;
    ops::forEachStrip(lattice, [&](int64_t r, int64_t n, size_t size) {
        cells.resize(size);
        burner.burn(r, n, cells.data());
        mask.apply(r, n, cells.data());
        if (intOut) {
            ints.resize(size);
            for (size_t i = 0; i < size; ++i)
                ints[i] = std::isnan(cells[i]) ? kIntegerNoData : static_cast<int32_t>(std::llround(cells[i]));
            counts.add(ints.data(), size);
            out.write(r, n, ints.data());
        } else {
            out.write(r, n, cells.data());
        }
    });
    if (!intOut) return out.finish(nullptr);
    ops::ValueTableRows table = ops::valueCountRows(counts.sorted());
    if (text) {
        FieldDef f = def;
        f.name = def.name;
        table.fields.push_back(f);
        std::vector<std::string> byCode(codes.size() + 1);
        for (auto& [t, code] : codes) byCode[static_cast<size_t>(code)] = t;
        for (auto& row : table.rows) row.push_back(Value(byCode[static_cast<size_t>(std::get<int32_t>(row[0]))]));
    }
    return out.finish(&table);
}

// ---------------------------------------------------------------- extract by mask

namespace {

constexpr const char* kExtract = "extractByMask";

// The value table of an integer result cut from source: source's rows (its
// class fields) for the values left, with the new counts; values the source
// table lacks get Value and Count only.
ops::ValueTableRows keepSourceRows(RasterDataset& source, const std::vector<std::pair<int64_t, int64_t>>& counts) {
    ops::ValueTableRows t = ops::valueCountRows(counts);
    TablePtr src = source.attributeTable();
    if (!src) return t;
    const Fields& sf = src->fields();
    int32_t vi = sf.find("Value");
    if (vi < 0) return t;
    std::vector<int32_t> extra;
    for (int32_t i = 0; i < sf.count(); ++i) {
        const FieldDef& f = sf.field(i);
        if (f.type == FieldOID || f.type == FieldGeometry || i == vi || sameFieldName(f.name, "Count")) continue;
        extra.push_back(i);
        t.fields.push_back(f);
    }
    std::unordered_map<int64_t, std::vector<Value>> byValue;
    Cursor c = src->search(nullptr, true);
    while (RowPtr r = c.next()) {
        const Value& v = r->value(vi);
        if (isNull(v)) continue;
        std::vector<Value> vals;
        for (int32_t i : extra) vals.push_back(r->value(i));
        byValue.emplace(static_cast<int64_t>(std::llround(toDouble(v))), std::move(vals));
    }
    for (auto& row : t.rows) {
        auto it = byValue.find(std::get<int32_t>(row[0]));
        if (it != byValue.end()) row.insert(row.end(), it->second.begin(), it->second.end());
        else row.resize(t.fields.size());
    }
    return t;
}

}  // namespace

RasterDatasetPtr extractByMask(const RasterDatasetPtr& values, const GeoDataset& mask,
                               const RasterAnalysisEnvironment& env, const std::string& outPath) {
    if (!values) fail(err::HostInvalidArg, kExtract, "No grid to extract from.");
    if (!isSet(mask)) fail(err::HostInvalidArg, kExtract, "No mask to extract by.");
    if (values->bandCount() != 1)
        fail(err::HostInvalidArg, kExtract, "The grid " + values->path() + " has more than one band.");
    std::optional<SpatialReference> outSr = ops::outputCrs(env, values->spatialReference());
    ops::checkMaskCrs(mask, values->spatialReference(), kExtract);
    ops::checkMaskCrs(env.mask, values->spatialReference(), kExtract);
    RasterLattice lattice = env.outputLattice(*values);
    bool integer = values->isIntegerGrid();
    ops::LatticeReader reader(*values, lattice);
    ops::MaskRows byMask(mask, lattice), byEnv(env.mask, lattice);
    // The values keep their cell type.
    ops::GridWriter out(outPath, lattice, integer, outSr, kExtract, ops::cellTypeOf(*values));
    ops::ValueCounts counts;
    std::vector<int32_t> ints;
    std::vector<double> cells;
    ops::forEachStrip(lattice, [&](int64_t r, int64_t n, size_t size) {
        if (integer) {
            ints.resize(size);
            reader.readInt(r, n, ints.data());
            byMask.apply(r, n, ints.data());
            byEnv.apply(r, n, ints.data());
            counts.add(ints.data(), size);
            out.write(r, n, ints.data());
        } else {
            cells.resize(size);
            reader.readDouble(r, n, cells.data());
            byMask.apply(r, n, cells.data());
            byEnv.apply(r, n, cells.data());
            out.write(r, n, cells.data());
        }
    });
    if (!integer) return out.finish(nullptr);
    ops::ValueTableRows table = keepSourceRows(*values, counts.sorted());
    return out.finish(&table);
}

// ---------------------------------------------------------------- remap

RasterDatasetPtr remap(const RasterDatasetPtr& input, const std::unordered_map<int64_t, int32_t>& codes,
                       const RasterAnalysisEnvironment& env, const std::string& outPath) {
    constexpr const char* kRemap = "remap";
    if (!input || !input->isIntegerGrid())
        fail(err::HostInvalidArg, kRemap, "Only a single-band integer grid can be remapped.");
    for (auto [from, to] : codes)
        if (to == kIntegerNoData) fail(err::HostInvalidArg, kRemap, "A remap code cannot be the NoData value.");
    ops::checkMaskCrs(env.mask, input->spatialReference(), kRemap);
    RasterLattice lattice = env.outputLattice(*input);
    ops::LatticeReader reader(*input, lattice);
    ops::MaskRows byEnv(env.mask, lattice);
    ops::GridWriter out(outPath, lattice, true, ops::outputCrs(env, input->spatialReference()), kRemap);
    ops::ValueCounts counts;
    std::vector<int32_t> ints;
    // Runs of one value are common in class grids: the last lookup is kept.
    ops::forEachStrip(lattice, [&](int64_t r, int64_t n, size_t size) {
        ints.resize(size);
        reader.readInt(r, n, ints.data());
        byEnv.apply(r, n, ints.data());
        int32_t lastIn = kIntegerNoData, lastOut = kIntegerNoData;
        for (size_t i = 0; i < size; ++i) {
            int32_t v = ints[i];
            if (v == kIntegerNoData) continue;
            if (v != lastIn) {
                auto it = codes.find(v);
                lastIn = v;
                lastOut = it == codes.end() ? kIntegerNoData : it->second;
            }
            ints[i] = lastOut;
        }
        counts.add(ints.data(), size);
        out.write(r, n, ints.data());
    });
    ops::ValueTableRows table = ops::valueCountRows(counts.sorted());
    return out.finish(&table);
}

}  // namespace korvane::host
