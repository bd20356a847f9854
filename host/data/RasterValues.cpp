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
#include <memory>
#include <string_view>
#include <vector>

#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/System.h"
#include "host/data/DbfFile.h"
#include "host/data/GdalSupport.h"
#include "host/data/RasterImpl.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

namespace stdfs = std::filesystem;

namespace {

constexpr const char* kSource = "RasterDataset";

// The records a value table's writer gathers before it writes them.
constexpr size_t kDbfWriteBytes = size_t{4} << 20;

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

std::string data::floatGridHeader(int64_t columns, int64_t rows, double xmin, double ymin, double cellSize) {
    return fmt::format(
        "ncols         {}\nnrows         {}\nxllcorner     {}\nyllcorner     {}\ncellsize      {}\n"
        "NODATA_value  -9999\nbyteorder     LSBFIRST\n",
        columns, rows, number(xmin), number(ymin), number(cellSize));
}

void exportFloatGrid(const RasterDataset& raster, const std::string& base,
                     const std::function<void(int64_t, int64_t)>& progress) {
    RasterDataset::Impl& m = RasterAccess::impl(raster);
    double cs = m.cellX;
    if (std::fabs(m.cellX - m.cellY) > 1e-9 * std::max(m.cellX, m.cellY))
        fail(err::HostInvalidArg, kSource,
             fmt::format("The cells of {} are not square ({} by {}); a float grid holds one cell size.", m.path,
                         m.cellX, m.cellY));
    std::string flt = base + ".flt", hdr = base + ".hdr";
    const std::string header = data::floatGridHeader(m.width, m.height, m.extent.xmin, m.extent.ymin, cs);

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

namespace {

// How the fields of a table become the columns of a GDAL table: the fields
// kept, with their GDAL type and usage.
struct GdalColumn {
    size_t field;
    GDALRATFieldType type;
    GDALRATFieldUsage usage;
};

std::vector<GdalColumn> gdalColumns(const std::vector<FieldDef>& fields) {
    std::vector<GdalColumn> cols;
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldDef& f = fields[i];
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
        cols.push_back({i, type, usage});
    }
    return cols;
}

int gdalInteger(const Value& v) { return isNull(v) ? 0 : static_cast<int>(std::llround(toDouble(v))); }
double gdalReal(const Value& v) { return isNull(v) ? 0.0 : toDouble(v); }

// A number of a table held in memory as the table gives it back once its
// .dbf holds it: with the column's decimals.
double asStored(const FieldDef& f, double v) {
    if ((f.type != FieldDouble && f.type != FieldSingle) || f.precision <= 0 || !std::isfinite(v)) return v;
    char text[512];
    size_t n = data::formatFixed(v, f.scale, text, sizeof text - 1);
    if (n == 0) return v;
    text[n] = '\0';
    return std::strtod(text, nullptr);
}

template <class RowAt>
GDALDefaultRasterAttributeTable makeGdalTable(const std::vector<FieldDef>& fields, RowAt&& rowAt) {
    GDALDefaultRasterAttributeTable rat;
    std::vector<GdalColumn> cols = gdalColumns(fields);
    for (const GdalColumn& c : cols) rat.CreateColumn(fields[c.field].name.c_str(), c.type, c.usage);
    int r = 0;
    while (const std::vector<Value>* row = rowAt(r)) {
        for (size_t k = 0; k < cols.size(); ++k) {
            const Value& v = (*row)[cols[k].field];
            int col = static_cast<int>(k);
            switch (cols[k].type) {
                case GFT_Integer: rat.SetValue(r, col, gdalInteger(v)); break;
                case GFT_Real: rat.SetValue(r, col, gdalReal(v)); break;
                default: rat.SetValue(r, col, toText(v).c_str());
            }
        }
        ++r;
    }
    rat.SetTableType(GRTT_THEMATIC);
    return rat;
}

}  // namespace

GDALDefaultRasterAttributeTable data::toGdalTable(Table& t) {
    const std::vector<FieldDef>& fields = t.fields().all();
    Cursor c = t.search(nullptr, true);
    std::vector<Value> values;
    return makeGdalTable(fields, [&](int) -> const std::vector<Value>* {
        RowPtr row = c.next();
        if (!row) return nullptr;
        values.clear();
        for (size_t i = 0; i < fields.size(); ++i) values.push_back(row->value(static_cast<int32_t>(i)));
        return &values;
    });
}

GDALDefaultRasterAttributeTable data::toGdalTable(const RasterTableRows& table) {
    std::vector<Value> values;
    return makeGdalTable(table.fields, [&](int r) -> const std::vector<Value>* {
        if (static_cast<size_t>(r) >= table.rows.size()) return nullptr;
        values = table.rows[static_cast<size_t>(r)];
        for (size_t k = 0; k < values.size() && k < table.fields.size(); ++k)
            if (!isNull(values[k]) && isNumber(values[k])) values[k] = Value(asStored(table.fields[k], toDouble(values[k])));
        return &values;
    });
}

void data::writeGdalTableXml(const std::string& auxPath, const RasterTableRows& table) {
    int fd = ::open(auxPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) fail(err::PathNotFound, kSource, "Cannot write " + auxPath + ": " + std::strerror(errno));
    std::string out;
    auto drain = [&](bool last) {
        if (out.size() < (size_t{1} << 20) && !last) return;
        writeAllTo(fd, out, auxPath);
        out.clear();
    };
    auto escaped = [&](const std::string& text) {
        char* e = CPLEscapeString(text.c_str(), -1, CPLES_XML_BUT_QUOTES);
        out += e ? e : "";
        CPLFree(e);
    };
    try {
        std::vector<GdalColumn> cols = gdalColumns(table.fields);
        out += "<PAMDataset>\n  <PAMRasterBand band=\"1\">\n    <GDALRasterAttributeTable tableType=\"thematic\">\n";
        for (size_t k = 0; k < cols.size(); ++k) {
            out += fmt::format("      <FieldDefn index=\"{}\">\n        <Name>", k);
            escaped(table.fields[cols[k].field].name);
            out += fmt::format("</Name>\n        <Type>{}</Type>\n        <Usage>{}</Usage>\n      </FieldDefn>\n",
                               static_cast<int>(cols[k].type), static_cast<int>(cols[k].usage));
        }
        char number[64];
        for (size_t r = 0; r < table.rows.size(); ++r) {
            const std::vector<Value>& row = table.rows[r];
            out += fmt::format("      <Row index=\"{}\">\n", r);
            for (const GdalColumn& c : cols) {
                const Value& v = row[c.field];
                out += "        <F>";
                switch (c.type) {
                    case GFT_Integer: out += std::to_string(gdalInteger(v)); break;
                    case GFT_Real:
                        std::snprintf(number, sizeof number, "%.16g", asStored(table.fields[c.field], gdalReal(v)));
                        out += number;
                        break;
                    default: escaped(toText(v));
                }
                out += "</F>\n";
            }
            out += "      </Row>\n";
            drain(false);
        }
        out += "    </GDALRasterAttributeTable>\n  </PAMRasterBand>\n</PAMDataset>\n";
        drain(true);
    } catch (...) {
        ::close(fd);
        std::error_code ec;
        stdfs::remove(auxPath, ec);
        throw;
    }
    if (::close(fd) != 0) {
        std::error_code ec;
        stdfs::remove(auxPath, ec);
        fail(err::PathNotFound, kSource, "Cannot write " + auxPath + ": " + std::strerror(errno));
    }
}

data::AuxContents data::auxContents(const std::string& auxPath) {
    std::error_code ec;
    if (!stdfs::exists(auxPath, ec)) return ec ? AuxContents::More : AuxContents::None;
    std::ifstream in(auxPath, std::ios::binary);
    if (!in) return AuxContents::More;
    // The file is read in chunks: the text before the table and after it is
    // kept (a little, or the file holds more than a table), the table only
    // searched for its end. Text cannot hold '<' unescaped, so the names
    // are found only as elements, short of comments and CDATA ("<!"),
    // which leave the file to GDAL.
    static const std::string open = "<GDALRasterAttributeTable", close = "</GDALRasterAttributeTable>";
    constexpr size_t kOutside = size_t{1} << 16;
    enum { Before, Inside, After } state = Before;
    std::string before, inside, after;
    std::vector<char> chunk(size_t{1} << 20);
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const std::string_view text(chunk.data(), static_cast<size_t>(in.gcount()));
        if (state == Before) {
            const size_t from = before.size() > open.size() ? before.size() - open.size() : 0;
            before.append(text);
            const size_t at = before.find(open, from);
            if (at == std::string::npos) {
                if (before.size() > kOutside) return AuxContents::More;
                continue;
            }
            inside.assign(before, at + open.size());
            before.resize(at);
            state = Inside;
        } else if (state == Inside) {
            inside.append(text);
        } else {
            after.append(text);
        }
        if (state == Inside) {
            const size_t end = inside.find(close);
            const std::string_view table(inside.data(), end == std::string::npos ? inside.size() : end);
            if (table.find("<!") != std::string_view::npos || table.find(open) != std::string_view::npos)
                return AuxContents::More;
            if (end == std::string::npos) {
                // Only the tail that may begin the closing tag is kept.
                inside.erase(0, inside.size() > close.size() ? inside.size() - close.size() : 0);
                continue;
            }
            after.assign(inside, end + close.size());
            inside.clear();
            state = After;
        }
        if (after.size() > kOutside) return AuxContents::More;
    }
    if (in.bad()) return AuxContents::More;
    if (state != After) return AuxContents::More;
    if (before.find("<!") != std::string::npos || after.find("<!") != std::string::npos ||
        after.find(open) != std::string::npos)
        return AuxContents::More;
    // The rest, with a mark where the table stood: a dataset node holding
    // band 1's node, which holds nothing but the mark.
    const std::string rest = before + "<KorvaneTableMark/>" + after;
    gdal::ErrorTrap trap;  // a file GDAL would not read either is left to it
    std::unique_ptr<CPLXMLNode, decltype(&CPLDestroyXMLNode)> root(CPLParseXMLString(rest.c_str()),
                                                                     &CPLDestroyXMLNode);
    if (!root || trap.any()) return AuxContents::More;
    auto elementsOf = [](const CPLXMLNode* parent, std::vector<const CPLXMLNode*>& out) {
        for (const CPLXMLNode* n = parent->psChild; n; n = n->psNext) {
            if (n->eType == CXT_Attribute) continue;
            if (n->eType != CXT_Element) return false;  // text or a comment
            out.push_back(n);
        }
        return true;
    };
    const CPLXMLNode* dataset = nullptr;
    for (const CPLXMLNode* n = root.get(); n; n = n->psNext) {
        if (n->eType == CXT_Element && std::strcmp(n->pszValue, "?xml") == 0) continue;
        if (dataset || n->eType != CXT_Element || std::strcmp(n->pszValue, "PAMDataset") != 0) return AuxContents::More;
        dataset = n;
    }
    std::vector<const CPLXMLNode*> bands, marks;
    if (!dataset || !elementsOf(dataset, bands) || bands.size() != 1) return AuxContents::More;
    const CPLXMLNode* band = bands[0];
    if (std::strcmp(band->pszValue, "PAMRasterBand") != 0 || std::strcmp(CPLGetXMLValue(band, "band", ""), "1") != 0)
        return AuxContents::More;
    if (!elementsOf(band, marks) || marks.size() != 1 || std::strcmp(marks[0]->pszValue, "KorvaneTableMark") != 0)
        return AuxContents::More;
    return AuxContents::OnlyTable;
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

void data::writeDbfRows(const std::string& dbfPath, const RasterTableRows& table) {
    TablePtr out = createDbf(dbfPath, table.fields);
    try {
        // The driver writes the header; the records are gathered and written
        // together after it lets go of the file.
        out->flush();
        std::unique_ptr<DbfRecordWriter> direct;
        if (directDbfWrites() && TableAccess::impl(*out).layer)
            direct = DbfRecordWriter::open(dbfPath, *TableAccess::impl(*out).layer);
        const Fields& fields = out->fields();
        std::vector<int32_t> idx;
        for (const FieldDef& f : table.fields) idx.push_back(fields.find(f.name));
        // The columns in file order: the table's own fields after its object id.
        std::vector<Value> record;
        bool inOrder = direct != nullptr;
        for (size_t k = 0; k < idx.size() && inOrder; ++k) inOrder = idx[k] == fields.count() - static_cast<int32_t>(idx.size()) + static_cast<int32_t>(k);
        if (inOrder) {
            out->close();
            // Written a few megabytes at a time, so that the records of a big
            // table are never all held at once.
            for (const std::vector<Value>& row : table.rows) {
                if (!direct->append(row.data(), row.size())) {
                    inOrder = false;
                    break;
                }
                if (direct->appendedBytes() >= kDbfWriteBytes) direct->flushAppended();
            }
        }
        if (inOrder) {
            direct->flushAppended();
            direct.reset();
            forgetDataset(dbfPath);
            return;
        }
        // A value the direct writer does not reproduce: the driver writes them all.
        direct.reset();
        out->close();
        removeDbf(dbfPath);
        out = createDbf(dbfPath, table.fields);
        InsertCursor ins = out->insert(true);
        RowPtr buf = ins.createRowBuffer();
        for (const std::vector<Value>& row : table.rows) {
            for (size_t k = 0; k < row.size(); ++k) buf->setValue(idx[k], row[k]);
            ins.insertRow(*buf);
        }
        ins.flush();
        out->flush();
        out->close();
        forgetDataset(dbfPath);
    } catch (...) {
        out->close();
        removeDbf(dbfPath);
        throw;
    }
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
