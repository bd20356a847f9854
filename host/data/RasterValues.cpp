// The one-pass readers of band 0: the value counts of an integer raster,
// the float-grid export, and the GDAL form of an attribute table.
#include <gdal_priv.h>
#include <gdal_rat.h>
#include <cpl_minixml.h>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>

#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/System.h"
#include "host/data/GdalSupport.h"
#include "host/data/RasterImpl.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

namespace stdfs = std::filesystem;

namespace {

constexpr const char* kSource = "RasterDataset";

// Counts of distinct 64-bit keys: open addressing, linear probing, a fixed
// table four times the largest number of entries kept.
class ValueCounter {
public:
    explicit ValueCounter(int64_t maxEntries) : max_(maxEntries) {
        size_t cap = 16;
        while (cap < static_cast<size_t>(maxEntries) * 4 + 4) cap <<= 1;
        keys_.resize(cap);
        counts_.assign(cap, 0);
        mask_ = cap - 1;
    }
    // False when one more distinct value would pass the limit.
    bool add(int64_t key, int64_t n) {
        size_t i = hash(key) & mask_;
        while (counts_[i] != 0) {
            if (keys_[i] == key) {
                counts_[i] += n;
                return true;
            }
            i = (i + 1) & mask_;
        }
        if (size_ >= max_) return false;
        keys_[i] = key;
        counts_[i] = n;
        ++size_;
        return true;
    }
    std::vector<ValueCount> sorted() const {
        std::vector<ValueCount> out;
        out.reserve(static_cast<size_t>(size_));
        for (size_t i = 0; i < keys_.size(); ++i)
            if (counts_[i]) out.push_back({keys_[i], counts_[i]});
        std::sort(out.begin(), out.end(), [](const ValueCount& a, const ValueCount& b) { return a.value < b.value; });
        return out;
    }

private:
    static size_t hash(int64_t k) {
        uint64_t x = static_cast<uint64_t>(k) * 0x9E3779B97F4A7C15ull;
        return static_cast<size_t>(x ^ (x >> 29));
    }
    std::vector<int64_t> keys_;
    std::vector<int64_t> counts_;
    size_t mask_ = 0;
    int64_t size_ = 0;
    int64_t max_;
};

// Reads band 0 block by block into a buffer of T (GDAL converts), calling
// visit(cells, count, firstRow, rows).
template <class T, class Visit>
void readTyped(RasterDataset::Impl& m, GDALDataType type, Visit&& visit,
               const std::function<void(int64_t, int64_t)>& progress) {
    GDALRasterBand& b = m.band0();
    int64_t step = data::blockRows(m, b);
    std::vector<T> buf(static_cast<size_t>(step * m.width));
    for (int64_t r = 0; r < m.height; r += step) {
        int64_t rows = std::min(step, m.height - r);
        gdal::ErrorTrap trap;
        if (b.RasterIO(GF_Read, 0, static_cast<int>(r), static_cast<int>(m.width), static_cast<int>(rows), buf.data(),
                       static_cast<int>(m.width), static_cast<int>(rows), type, 0, 0, nullptr) != CE_None)
            fail(err::HostGeneric, kSource, gdal::describe("Cannot read the cells of " + m.path, trap));
        visit(buf.data(), static_cast<size_t>(rows * m.width), r, rows);
        // A one-pass reader needs no block twice: dropping the strip's
        // blocks from GDAL's cache keeps the memory of a pass independent of
        // the raster's size. Blocks of a raster open for writing may be
        // waiting to be written, so they stay.
        if (m.handle().GetAccess() == GA_ReadOnly) b.FlushCache(false);
        if (progress) progress(r + rows, m.height);
    }
}

std::string tooMany(const RasterDataset& r, int64_t maxEntries) {
    return fmt::format("no value table: more than {} distinct values", maxEntries);
}

}  // namespace

std::vector<ValueCount> countValues(const RasterDataset& raster, int64_t maxEntries,
                                    const std::function<void(int64_t, int64_t)>& progress) {
    RasterDataset::Impl& m = RasterAccess::impl(raster);
    if (!raster.isIntegerGrid())
        fail(err::HostInvalidArg, kSource, "The raster " + m.path + " is not a single-band integer raster.");
    ValueCounter counter(maxEntries);
    bool over = false;
    std::optional<int64_t> nd;
    if (m.noData && std::floor(*m.noData) == *m.noData && std::fabs(*m.noData) < 9.2e18)
        nd = static_cast<int64_t>(*m.noData);
    auto countRun = [&](auto* cells, size_t n) {
        size_t i = 0;
        while (i < n && !over) {
            auto v = cells[i];
            size_t j = i + 1;
            while (j < n && cells[j] == v) ++j;
            int64_t key = static_cast<int64_t>(v);
            if (!(nd && key == *nd) && !counter.add(key, static_cast<int64_t>(j - i))) over = true;
            i = j;
        }
    };
    auto stopWhenOver = [&] {
        if (over) fail(err::HostInvalidArg, kSource, tooMany(raster, maxEntries));
    };
    if (m.pixelType == PixelType::UInt32) {
        readTyped<uint32_t>(m, GDT_UInt32, [&](uint32_t* c, size_t n, int64_t, int64_t) { countRun(c, n); stopWhenOver(); },
                            progress);
    } else {
        readTyped<int32_t>(m, GDT_Int32, [&](int32_t* c, size_t n, int64_t, int64_t) { countRun(c, n); stopWhenOver(); },
                           progress);
    }
    return counter.sorted();
}

// ---------------------------------------------------------------- export

namespace {

std::string number(double v) { return fmt::format("{}", v); }

}  // namespace

void exportFloatGrid(const RasterDataset& raster, const std::string& base,
                     const std::function<void(int64_t, int64_t)>& progress) {
    RasterDataset::Impl& m = RasterAccess::impl(raster);
    double cs = m.cellX;
    if (std::fabs(m.cellX - m.cellY) > 1e-9 * std::max(m.cellX, m.cellY))
        fail(err::HostInvalidArg, kSource,
             fmt::format("The cells of {} are not square ({} by {}); a float grid holds one cell size.", m.path,
                         m.cellX, m.cellY));
    std::string flt = base + ".flt", hdr = base + ".hdr";
    std::string header = fmt::format(
        "ncols         {}\nnrows         {}\nxllcorner     {}\nyllcorner     {}\ncellsize      {}\n"
        "NODATA_value  -9999\nbyteorder     LSBFIRST\n",
        m.width, m.height, number(m.extent.xmin), number(m.extent.ymin), number(cs));

    std::string folder = stdfs::path(flt).parent_path().empty() ? "." : stdfs::path(flt).parent_path().string();
    if (!fs::FolderExists(folder)) fail(err::PathNotFound, kSource, "The folder does not exist: " + folder);
    if (fs::IsReadOnly(folder)) fail(err::HostAccessDenied, kSource, "Cannot write " + flt + ": the folder is read-only.");
    FileReplacement files({flt, hdr});
    const std::string tmp = files.temporary(0).string();
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) fail(err::PathNotFound, kSource, "Cannot write " + flt + ": " + std::strerror(errno));
    std::vector<float> fbuf;
    auto write = [&](const float* p, size_t n) {
        writeAllTo(fd, std::string_view(reinterpret_cast<const char*>(p), n * sizeof(float)), tmp);
    };
    static_assert(sizeof(float) == 4);
    try {
        bool integer = isIntegerPixelType(m.pixelType) && m.pixelType != PixelType::UInt32;
        if (integer) {
            std::optional<int32_t> nd;
            if (m.noData && std::floor(*m.noData) == *m.noData && *m.noData >= INT32_MIN && *m.noData <= INT32_MAX)
                nd = static_cast<int32_t>(*m.noData);
            readTyped<int32_t>(
                m, GDT_Int32,
                [&](int32_t* c, size_t n, int64_t, int64_t) {
                    fbuf.resize(n);
                    if (nd) {
                        int32_t d = *nd;
                        for (size_t i = 0; i < n; ++i) fbuf[i] = c[i] == d ? -9999.0f : static_cast<float>(c[i]);
                    } else {
                        for (size_t i = 0; i < n; ++i) fbuf[i] = static_cast<float>(c[i]);
                    }
                    write(fbuf.data(), n);
                },
                progress);
        } else {
            std::optional<double> nd = m.noData;
            readTyped<double>(
                m, GDT_Float64,
                [&](double* c, size_t n, int64_t, int64_t) {
                    fbuf.resize(n);
                    for (size_t i = 0; i < n; ++i) {
                        double v = c[i];
                        fbuf[i] = (std::isnan(v) || (nd && v == *nd)) ? -9999.0f : static_cast<float>(v);
                    }
                    write(fbuf.data(), n);
                },
                progress);
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0) fail(err::PathNotFound, kSource, "Cannot write " + flt + ": " + std::strerror(errno));
    data::writeNewFile(files.temporary(1).string(), header);
    files.commit();
}

// ---------------------------------------------------------------- GDAL tables

GDALDefaultRasterAttributeTable data::toGdalTable(Table& t) {
    GDALDefaultRasterAttributeTable rat;
    const Fields& fields = t.fields();
    std::vector<int32_t> cols;
    for (int32_t i = 0; i < fields.count(); ++i) {
        const FieldDef& f = fields.field(i);
        if (f.type == FieldOID || f.type == FieldGeometry) continue;
        GDALRATFieldType type = f.type == FieldString || f.type == FieldDate ? GFT_String
                                : f.type == FieldSingle || f.type == FieldDouble ? GFT_Real
                                                                                 : GFT_Integer;
        // Red, Green and Blue are a renderer's colours (writeRendererColours).
        const bool colour = type == GFT_Integer;
        GDALRATFieldUsage usage = sameFieldName(f.name, "Value")             ? GFU_MinMax
                                  : sameFieldName(f.name, "Count")           ? GFU_PixelCount
                                  : colour && sameFieldName(f.name, "Red")   ? GFU_Red
                                  : colour && sameFieldName(f.name, "Green") ? GFU_Green
                                  : colour && sameFieldName(f.name, "Blue")  ? GFU_Blue
                                  : type == GFT_String                       ? GFU_Name
                                                                             : GFU_Generic;
        rat.CreateColumn(f.name.c_str(), type, usage);
        cols.push_back(i);
    }
    int r = 0;
    Cursor c = t.search(nullptr, true);
    while (RowPtr row = c.next()) {
        for (size_t k = 0; k < cols.size(); ++k) {
            const Value& v = row->value(cols[k]);
            int col = static_cast<int>(k);
            switch (rat.GetTypeOfCol(col)) {
                case GFT_Integer: rat.SetValue(r, col, isNull(v) ? 0 : static_cast<int>(std::llround(toDouble(v)))); break;
                case GFT_Real: rat.SetValue(r, col, isNull(v) ? 0.0 : toDouble(v)); break;
                default: rat.SetValue(r, col, toText(v).c_str());
            }
        }
        ++r;
    }
    rat.SetTableType(GRTT_THEMATIC);
    return rat;
}

std::string data::auxXmlWithBand1(const std::string& auxPath, const std::function<void(CPLXMLNode* band)>& edit) {
    std::error_code ec;
    CPLXMLNode* root = stdfs::is_regular_file(auxPath, ec) ? CPLParseXMLFile(auxPath.c_str()) : nullptr;
    if (root && (root->eType != CXT_Element || std::strcmp(root->pszValue, "PAMDataset") != 0)) {
        CPLDestroyXMLNode(root);
        root = nullptr;
    }
    if (!root) root = CPLCreateXMLNode(nullptr, CXT_Element, "PAMDataset");
    CPLXMLNode* band = nullptr;
    for (CPLXMLNode* n = root->psChild; n; n = n->psNext)
        if (n->eType == CXT_Element && std::strcmp(n->pszValue, "PAMRasterBand") == 0 &&
            std::strcmp(CPLGetXMLValue(n, "band", "1"), "1") == 0)
            band = n;
    if (!band) {
        band = CPLCreateXMLNode(root, CXT_Element, "PAMRasterBand");
        CPLAddXMLAttributeAndValue(band, "band", "1");
    }
    try {
        edit(band);
    } catch (...) {
        CPLDestroyXMLNode(root);
        throw;
    }
    char* text = CPLSerializeXMLTree(root);
    std::string out = text ? text : "";
    CPLFree(text);
    CPLDestroyXMLNode(root);
    return out;
}

void data::replaceXmlChild(CPLXMLNode* parent, CPLXMLNode* child) {
    if (CPLXMLNode* old = CPLGetXMLNode(parent, child->pszValue)) {
        CPLRemoveXMLChild(parent, old);
        CPLDestroyXMLNode(old);
    }
    CPLAddXMLChild(parent, child);
}

std::string data::gdalTableXml(Table& t, const std::string& auxPath) {
    GDALDefaultRasterAttributeTable rat = toGdalTable(t);
    CPLXMLNode* ratNode = rat.Serialize();
    if (!ratNode) fail(err::HostGeneric, kSource, "Cannot describe the attribute table of " + t.path());
    return auxXmlWithBand1(auxPath, [&](CPLXMLNode* band) { replaceXmlChild(band, ratNode); });
}

void data::copyTableTo(Table& t, const std::string& dbfPath) {
    std::vector<FieldDef> defs;
    for (const FieldDef& f : t.fields().all())
        if (f.type != FieldOID && f.type != FieldGeometry) defs.push_back(f);
    TablePtr out = createDbf(dbfPath, defs);
    try {
        InsertCursor ins = out->insert(true);
        RowPtr buf = ins.createRowBuffer();
        Cursor c = t.search(nullptr, true);
        while (RowPtr r = c.next()) {
            for (const FieldDef& f : defs) buf->setValue(f.name, r->value(f.name));
            ins.insertRow(*buf);
        }
        ins.flush();
        out->flush();
        out->close();
    } catch (const Failure&) {
        out->close();
        removeDbf(dbfPath);
        throw;
    }
}

}  // namespace korvane::host
