#include "host/data/Table.h"

#include <fmt/format.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <exception>
#include <map>

#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/data/GdalSupport.h"
#include "host/data/ShpRecords.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

namespace stdfs = std::filesystem;

namespace {

constexpr const char* kSource = "Table";

using data::lower;

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::map<std::string, int32_t>& typeRegistry() {
    static std::map<std::string, int32_t> r;
    return r;
}
std::string typeKey(const std::string& dbf, const std::string& field) { return data::canonical(dbf) + '\n' + upper(field); }

char storageKind(int32_t type) {
    return isNumericFieldType(type) ? 'N' : type == FieldDate ? 'D' : 'C';
}

bool& directWrites() {
    static bool on = true;
    return on;
}

std::map<std::string, std::weak_ptr<Table>>& tableCache() {
    static std::map<std::string, std::weak_ptr<Table>> c;
    return c;
}

}  // namespace

// ---- shared internals -------------------------------------------------------

bool isValidDbfFieldName(std::string_view n) {
    if (n.empty() || n.size() > 10) return false;
    return std::all_of(n.begin(), n.end(), [](char c) {
        unsigned char u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7f;
    });
}

std::string dbfFieldNameFor(std::string_view wanted, const std::vector<std::string>& taken) {
    auto isTaken = [&](std::string_view name) {
        return std::any_of(taken.begin(), taken.end(), [&](const std::string& t) { return sameFieldName(t, name); });
    };
    std::string name(wanted);
    for (char& c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7f) c = '_';
    }
    if (name.empty()) name = "F";
    if (name.size() > 10) name.resize(10);
    if (!isTaken(name)) return name;
    for (int64_t k = 1;; ++k) {
        std::string suffix = "_" + std::to_string(k);
        std::string candidate = name.substr(0, 10 - suffix.size()) + suffix;
        if (!isTaken(candidate)) return candidate;
    }
}

namespace data {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void setDirectDbfWrites(bool on) { directWrites() = on; }
bool directDbfWrites() { return directWrites(); }
DirectDbfCounts& directDbfCounts() {
    static DirectDbfCounts c;
    return c;
}

void rememberFieldType(const std::string& dbfPath, const std::string& field, int32_t type) {
    typeRegistry()[typeKey(dbfPath, field)] = type;
}
void forgetFieldType(const std::string& dbfPath, const std::string& field) { typeRegistry().erase(typeKey(dbfPath, field)); }
void forgetDataset(const std::string& dbfPath) {
    std::string prefix = canonical(dbfPath) + '\n';
    auto& r = typeRegistry();
    for (auto it = r.lower_bound(prefix); it != r.end() && it->first.compare(0, prefix.size(), prefix) == 0;)
        it = r.erase(it);
}
void copyDatasetTypes(const std::string& fromDbf, const std::string& toDbf) {
    std::string from = canonical(fromDbf) + '\n';
    std::string to = canonical(toDbf) + '\n';
    auto& r = typeRegistry();
    std::vector<std::pair<std::string, int32_t>> add;
    for (auto it = r.lower_bound(from); it != r.end() && it->first.compare(0, from.size(), from) == 0; ++it)
        add.emplace_back(to + it->first.substr(from.size()), it->second);
    for (auto& [k, v] : add) r[k] = v;
}
std::vector<std::pair<std::string, int32_t>> datasetTypes(const std::string& dbfPath) {
    std::string prefix = canonical(dbfPath) + '\n';
    auto& r = typeRegistry();
    std::vector<std::pair<std::string, int32_t>> out;
    for (auto it = r.lower_bound(prefix); it != r.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        out.emplace_back(it->first.substr(prefix.size()), it->second);
    return out;
}
void restoreDatasetTypes(const std::string& dbfPath, const std::vector<std::pair<std::string, int32_t>>& types) {
    forgetDataset(dbfPath);
    for (const auto& [field, type] : types) rememberFieldType(dbfPath, field, type);
}

std::string canonical(const std::string& path) {
    std::error_code ec;
    stdfs::path p = stdfs::weakly_canonical(stdfs::absolute(path, ec), ec);
    return ec ? path : p.string();
}

void cacheTable(const TablePtr& t) {
    auto& c = tableCache();
    for (auto it = c.begin(); it != c.end();) it = it->second.expired() ? c.erase(it) : std::next(it);
    c[TableAccess::impl(*t).base] = t;
}

TablePtr cachedTable(const std::string& base) {
    auto& c = tableCache();
    auto it = c.find(base);
    if (it == c.end()) return nullptr;
    TablePtr t = it->second.lock();
    if (!t || TableAccess::impl(*t).closed) {
        c.erase(it);
        return nullptr;
    }
    return t;
}

static const char* const kSidecars[] = {".shp", ".shx", ".dbf", ".prj", ".cpg", ".sbn", ".sbx", ".qix", ".fbn",
                                        ".fbx", ".ain", ".aih", ".atx", ".ixs", ".mxs", ".shp.xml", ".xml"};

std::vector<std::string> datasetFiles(const std::string& folder, const std::string& name) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const char* ext : kSidecars) {
        std::string exact = (stdfs::path(folder) / (name + ext)).string();
        if (stdfs::exists(exact, ec)) {
            out.push_back(exact);
            continue;
        }
    }
    // Sidecars written with upper-case extensions by other programs.
    for (const auto& e : stdfs::directory_iterator(folder, ec)) {
        std::string fn = e.path().filename().string();
        if (fn.size() <= name.size() || fn.compare(0, name.size(), name) != 0 || fn[name.size()] != '.') continue;
        std::string ext = lower(fn.substr(name.size()));
        bool known = std::any_of(std::begin(kSidecars), std::end(kSidecars), [&](const char* k) { return ext == k; });
        if (known && std::find(out.begin(), out.end(), e.path().string()) == out.end()) out.push_back(e.path().string());
    }
    return out;
}

static bool fileReadOnly(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    return (st.st_mode & S_IWUSR) == 0 || ::access(path.c_str(), W_OK) != 0;
}

bool anyReadOnly(const std::string& base) {
    for (const char* ext : {".shp", ".shx", ".dbf"})
        if (fileReadOnly(base + ext)) return true;
    return false;
}

FieldDef checkNewField(const Fields& existing, const FieldDef& in, bool checkName) {
    FieldDef f = in;
    auto refuse = [&](const std::string& why) {
        fail(err::HostInvalidArg, kSource, "Cannot add the field \"" + in.name + "\": " + why + ".");
    };
    if (checkName && !isValidDbfFieldName(f.name))
        refuse("a dBASE field name has 1 to 10 characters of printable ASCII and no blank");
    if (f.name.empty() || f.name.size() > 10) refuse("the name does not fit a dBASE field");
    if (existing.find(f.name) >= 0) refuse("there is already a field of that name");
    switch (f.type) {
        case FieldString:
            if (f.length == 0) f.length = 50;
            if (f.length < 1 || f.length > 254) refuse("a text field holds 1 to 254 characters");
            f.precision = f.scale = 0;
            break;
        case FieldSmallInteger:
        case FieldInteger:
            if (f.precision == 0) f.precision = f.type == FieldSmallInteger ? 5 : 9;
            if (f.precision < 1 || f.precision > 19) refuse("an integer field is 1 to 19 digits wide");
            f.length = f.scale = 0;
            break;
        case FieldSingle:
        case FieldDouble:
            if (f.precision == 0) {
                f.precision = f.type == FieldSingle ? 13 : 19;
                if (f.scale == 0) f.scale = 11;
            }
            if (f.precision < 1 || f.precision > 255) refuse("a numeric field is 1 to 255 characters wide");
            if (f.scale < 0 || (f.scale > 0 && f.scale > f.precision - 2))
                refuse(fmt::format("{} decimal places do not fit a width of {}", f.scale, f.precision));
            f.length = 0;
            break;
        case FieldDate:
            f.length = 8;
            f.precision = f.scale = 0;
            break;
        default: refuse(fmt::format("type code {} cannot be stored in a dBASE file", f.type));
    }
    return f;
}

std::unique_ptr<OGRFieldDefn> toOgr(const FieldDef& f) {
    OGRFieldType t = OFTString;
    int width = 0, prec = 0;
    switch (f.type) {
        case FieldString: width = f.length; break;
        case FieldSmallInteger:
        case FieldInteger:
            t = f.precision > 10 ? OFTInteger64 : OFTInteger;
            width = f.precision;
            break;
        case FieldSingle:
        case FieldDouble:
            t = OFTReal;
            width = f.precision;
            prec = f.scale;
            break;
        case FieldDate:
            t = OFTDate;
            width = 8;
            break;
        default: break;
    }
    auto d = std::make_unique<OGRFieldDefn>(f.name.c_str(), t);
    d->SetWidth(width);
    d->SetPrecision(prec);
    return d;
}

}  // namespace data

// ---- Impl -------------------------------------------------------------------

Table::Impl::~Impl() {
    try {
        closeDataset();
    } catch (...) {
    }
}

void Table::Impl::closeDataset() {
    // Records not in the file yet go first; failing to write them is reported.
    std::exception_ptr failure;
    try {
        if (appender) finishAppending();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        flushRecords();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    if (deletedThisSession && update && !closed) {
        // Packing copies every record through the driver: it must see them
        // as they are in the file.
        try {
            syncDriver();
            gdal::ErrorTrap trap;
            std::string sql = "REPACK " + std::string(layer->GetName());
            ds->ExecuteSQL(sql.c_str(), nullptr, nullptr);
        } catch (const Failure&) {
        }
    }
    records.reset();
    try {
        releaseDataset();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    deletedKnown = deletedThisSession = false;
    deleted = 0;
    deletedIds.clear();
    if (failure) std::rethrow_exception(failure);
}

void Table::Impl::releaseDataset() {
    std::unique_ptr<data::DbfRecordWriter> w = std::move(records);
    recordsTried = false;
    std::string closeError;
    if (ds) {
        // The driver writes what it still holds as it closes: a dataset open
        // for writing reports what went wrong there.
        const bool writing = update;
        gdal::ErrorTrap trap;
        CPLErrorReset();
        GDALClose(ds);
        ds = nullptr;
        layer = nullptr;
        if (writing && (trap.failed() || CPLGetLastErrorType() >= CE_Failure))
            closeError = trap.message().empty() ? std::string(CPLGetLastErrorMsg()) : trap.message();
    }
    dirty.clear();
    dirtyCount = 0;
    driverWrote = false;
    if (w) w->flush();
    if (!closeError.empty()) {
        noteFailedWrite(base + ".dbf");
        fail(err::HostGeneric, kSource, "Cannot write " + name + ": " + closeError + ".");
    }
}

namespace {

GDALDataset* openShapefile(const std::string& path, bool forUpdate) {
    gdal::ErrorTrap trap;
    const char* const drivers[] = {"ESRI Shapefile", nullptr};
    unsigned flags = GDAL_OF_VECTOR | (forUpdate ? GDAL_OF_UPDATE : GDAL_OF_READONLY);
    const char* const options[] = {"AUTO_REPACK=NO", nullptr};
    auto* d = static_cast<GDALDataset*>(GDALOpenEx(path.c_str(), flags, drivers, options, nullptr));
    if (!d || d->GetLayerCount() < 1) {
        if (d) GDALClose(d);
        fail(err::HostGeneric, kSource, gdal::describe("Cannot open " + path, trap));
    }
    return d;
}

}  // namespace

void Table::Impl::openDataset(bool forUpdate) {
    GDALDataset* d = openShapefile(workingPath(), forUpdate);
    closeDataset();
    ds = d;
    layer = d->GetLayer(0);
    update = forUpdate;
}

void Table::Impl::readFields() {
    Fields f;
    // A raster's attribute table ("x.tif.vat.dbf") names its object id ObjectID.
    oidName = featureClass ? "FID" : lower(name).ends_with(".vat") ? "ObjectID" : "OID";
    f.add({oidName, FieldOID, 4, 0, 0});
    if (featureClass) f.add({shapeName, FieldGeometry, 0, 0, 0});
    offset = f.count();
    OGRFeatureDefn* defn = layer->GetLayerDefn();
    std::string dbf = base + ".dbf";
    auto& reg = typeRegistry();
    for (int i = 0; i < defn->GetFieldCount(); ++i) {
        OGRFieldDefn* d = defn->GetFieldDefn(i);
        FieldDef fd;
        fd.name = d->GetNameRef();
        int width = d->GetWidth();
        switch (d->GetType()) {
            case OFTInteger:
            case OFTInteger64:
                fd.type = width <= 5 ? FieldSmallInteger : FieldInteger;
                fd.precision = width;
                break;
            case OFTReal:
                fd.type = FieldDouble;
                fd.precision = width;
                fd.scale = d->GetPrecision();
                break;
            case OFTDate:
            case OFTDateTime:
                fd.type = FieldDate;
                fd.length = 8;
                break;
            default:
                fd.type = FieldString;
                fd.length = width;
                break;
        }
        // A type this process gave the field wins, as long as the file still
        // stores that kind of value (numbers, text or dates).
        auto it = reg.find(typeKey(dbf, fd.name));
        if (it != reg.end() && storageKind(it->second) == storageKind(fd.type)) fd.type = it->second;
        f.add(std::move(fd));
    }
    fields = std::move(f);
}

OGRLayer& Table::Impl::lyr(const char* source) {
    if (closed) fail(err::HostGeneric, source, "The dataset " + name + " has been closed or deleted.");
    if (appender) finishAppending();
    if (!layer) {
        ds = openShapefile(workingPath(), update);
        layer = ds->GetLayer(0);
    }
    return *layer;
}

void Table::Impl::markDirty(int64_t oid) {
    size_t i = static_cast<size_t>(oid) >> 6;
    if (i >= dirty.size()) dirty.resize(std::max(i + 1, dirty.size() * 2), 0);
    uint64_t bit = uint64_t{1} << (oid & 63);
    if (!(dirty[i] & bit)) {
        dirty[i] |= bit;
        ++dirtyCount;
    }
}

void Table::Impl::flushRecords() {
    if (records) records->flush();
}

void Table::Impl::syncDriver() {
    flushRecords();
    if (dirtyCount > 0) releaseDataset();
    lyr(kSource);
}

void Table::Impl::prepareWrite(const char* source) {
    lyr(source);
    if (readOnly.readOnly(folder, base))
        fail(err::HostAccessDenied, source, "Cannot write to " + name + ": the file is read-only.");
    if (!update && !edit) openDataset(true);
}

int64_t Table::Impl::recordCount(const char* source) {
    gdal::ErrorTrap trap;
    return lyr(source).GetFeatureCount(TRUE);
}

void Table::Impl::deleteRecord(int64_t oid, const char* source) {
    prepareWrite(source);
    readyForDriverWrite(source);
    // The driver marks the record in its copy of it, which must be current.
    flushRecords();
    if (isDirty(oid)) {
        releaseDataset();
        lyr(source);
    }
    gdal::ErrorTrap trap;
    driverWrote = true;
    if (layer->DeleteFeature(oid) != OGRERR_NONE)
        fail(err::HostGeneric, source, gdal::describe(fmt::format("Cannot delete row {} of {}", oid, name), trap));
    deletedThisSession = true;
    if (oid >= 0) {
        if (static_cast<size_t>(oid) >= deletedIds.size()) deletedIds.resize(static_cast<size_t>(oid) + 1);
        deletedIds[static_cast<size_t>(oid)] = true;
    }
    if (deletedKnown) ++deleted;
}

namespace {

// Records of a dBASE file that carry the deletion mark.
int64_t deletedRecords(const std::string& dbf) {
    std::ifstream in(dbf, std::ios::binary);
    unsigned char h[32];
    if (!in.read(reinterpret_cast<char*>(h), 32)) return 0;
    uint32_t records = h[4] | (h[5] << 8) | (h[6] << 16) | (static_cast<uint32_t>(h[7]) << 24);
    uint32_t headerLen = h[8] | (h[9] << 8);
    uint32_t recordLen = h[10] | (h[11] << 8);
    if (recordLen == 0) return 0;
    in.seekg(headerLen);
    std::vector<char> block(static_cast<size_t>(recordLen) * 4096);
    int64_t marked = 0;
    uint32_t left = records;
    while (left > 0) {
        uint32_t n = std::min<uint32_t>(left, 4096);
        if (!in.read(block.data(), static_cast<std::streamsize>(n) * recordLen)) break;
        for (uint32_t i = 0; i < n; ++i) marked += block[static_cast<size_t>(i) * recordLen] == '*';
        left -= n;
    }
    return marked;
}

}  // namespace

int64_t Table::Impl::liveRowCount(const char* source) {
    int64_t records = recordCount(source);
    if (!deletedKnown) {
        flushRecords();
        gdal::ErrorTrap trap;
        if (update) layer->SyncToDisk();
        deleted = deletedRecords(workingBase() + ".dbf");
        deletedKnown = true;
    }
    return records - deleted;
}

void Table::Impl::readValues(OGRFeature& f, Row& row, const std::vector<int32_t>* only) const {
    size_t n = static_cast<size_t>(fields.count());
    if (row.values_.size() != n) row.values_.resize(n);
    row.set_.clear();
    row.oid_ = f.GetFID();
    row.values_[0] = static_cast<int32_t>(row.oid_);
    auto one = [&](int32_t i) {
        if (i < offset) return;
        int ogr = i - offset;
        Value& v = row.values_[static_cast<size_t>(i)];
        if (!f.IsFieldSetAndNotNull(ogr)) {
            v = std::monostate{};
            return;
        }
        switch (fields.all()[static_cast<size_t>(i)].type) {
            case FieldSmallInteger:
            case FieldInteger: {
                GIntBig x = f.GetFieldAsInteger64(ogr);
                if (x >= INT32_MIN && x <= INT32_MAX)
                    v = static_cast<int32_t>(x);
                else
                    v = static_cast<double>(x);
                break;
            }
            case FieldSingle: v = static_cast<float>(f.GetFieldAsDouble(ogr)); break;
            case FieldDouble: v = f.GetFieldAsDouble(ogr); break;
            case FieldDate: {
                int y = 0, m = 0, d = 0, h, mi, tz;
                float s;
                f.GetFieldAsDateTime(ogr, &y, &m, &d, &h, &mi, &s, &tz);
                v = Date{y, m, d};
                break;
            }
            default: {
                const char* s = f.GetFieldAsString(ogr);
                if (auto* str = std::get_if<std::string>(&v))
                    str->assign(s);
                else
                    v = std::string(s);
            }
        }
    };
    if (only) {
        for (int32_t i : *only) one(i);
    } else {
        for (int32_t i = offset; i < static_cast<int32_t>(n); ++i) one(i);
    }
}

void Table::Impl::readShape(OGRFeature& f, Row& row) const {
    row.shapeSet_ = false;
    if (!featureClass) return;
    OGRGeometry* g = f.GetGeometryRef();
    if (!g || g->IsEmpty()) {
        row.shape_.clear();
        return;
    }
    auto& buf = row.shape_.wkbBuffer();
    buf.resize(g->WkbSize());
    g->exportToWkb(wkbNDR, buf.data(), wkbVariantIso);
    row.shape_.wkbChanged();
}

namespace {

// Characters the value takes in its dBASE column.
size_t storedWidth(const FieldDef& fd, const Value& v) {
    char text[1024];
    if (auto p = std::get_if<int32_t>(&v)) return static_cast<size_t>(std::to_chars(text, text + sizeof text, *p).ptr - text);
    if (fd.type == FieldSingle || fd.type == FieldDouble) {
        double d = toDouble(v);
        size_t n = data::fixedLength(d, fd.scale);
        return n > 0 ? n : fmt::format("{:.{}f}", d, fd.scale).size();
    }
    if (auto p = std::get_if<std::string>(&v)) return p->size();
    return 0;
}

void checkWidth(const FieldDef& fd, const Value& v) {
    if (isNull(v)) return;
    int width = fd.type == FieldString ? fd.length : fd.precision;
    if (fd.type != FieldDate && width > 0 && storedWidth(fd, v) > static_cast<size_t>(width))
        fail(err::HostInvalidArg, kSource,
             fmt::format("The value {} does not fit the field {} ({} characters wide).", toText(v), fd.name, width));
}

}  // namespace

void Table::Impl::checkWidths(const Row& row, bool onlySet) const {
    for (int32_t i = offset; i < fields.count(); ++i) {
        // Values an update does not set are written as the file holds them.
        if (onlySet && !(static_cast<size_t>(i) < row.set_.size() && row.set_[static_cast<size_t>(i)])) continue;
        checkWidth(fields.all()[static_cast<size_t>(i)], row.values_[static_cast<size_t>(i)]);
    }
}

void Table::Impl::fill(OGRFeature& f, const Row& row) const {
    checkWidths(row, false);
    for (int32_t i = offset; i < fields.count(); ++i) {
        const Value& v = row.values_[static_cast<size_t>(i)];
        int ogr = i - offset;
        if (isNull(v)) {
            f.SetFieldNull(ogr);
            continue;
        }
        if (auto p = std::get_if<int32_t>(&v))
            f.SetField(ogr, *p);
        else if (auto p = std::get_if<float>(&v))
            f.SetField(ogr, static_cast<double>(*p));
        else if (auto p = std::get_if<double>(&v))
            f.SetField(ogr, *p);
        else if (auto p = std::get_if<std::string>(&v))
            f.SetField(ogr, p->c_str());
        else if (auto p = std::get_if<Date>(&v))
            f.SetField(ogr, p->year, p->month, p->day);
    }
    if (featureClass && !row.shape_.isEmpty()) {
        OGRGeometry* g = nullptr;
        const auto& wkb = row.shape_.wkb();
        if (OGRGeometryFactory::createFromWkb(wkb.data(), nullptr, &g, wkb.size(), wkbVariantIso) != OGRERR_NONE || !g)
            fail(err::HostInvalidArg, kSource, "The shape cannot be stored.");
        f.SetGeometryDirectly(g);
    }
}

bool Table::Impl::writeDirect(const Row& row) {
    if (!data::directDbfWrites() || row.shapeSet_ || row.oid_ < 0) return false;
    if (row.values_.size() != static_cast<size_t>(fields.count())) return false;
    if (static_cast<size_t>(row.oid_) < deletedIds.size() && deletedIds[static_cast<size_t>(row.oid_)]) return false;
    if (!records) {
        if (recordsTried) return false;
        recordsTried = true;
        gdal::ErrorTrap trap;
        if (layer->SyncToDisk() != OGRERR_NONE) return false;
        driverWrote = false;
        records = data::DbfRecordWriter::open(workingBase() + ".dbf", *layer);
        if (!records) return false;
    } else if (driverWrote) {
        // What the driver holds goes to the file first, so that it cannot
        // later overwrite these records with older contents.
        gdal::ErrorTrap trap;
        if (layer->SyncToDisk() != OGRERR_NONE) return false;
        records->refreshCount();
        driverWrote = false;
    }
    size_t n = static_cast<size_t>(fields.count() - offset);
    // Only the fields the update set are formatted; the others keep their
    // stored bytes, whatever the driver would make of them.
    std::vector<bool> only(n, false);
    for (size_t i = 0; i < n; ++i) {
        size_t at = i + static_cast<size_t>(offset);
        only[i] = at < row.set_.size() && row.set_[at];
    }
    if (!records->put(row.oid_, row.values_.data() + offset, n, &only)) return false;
    markDirty(row.oid_);
    ++data::directDbfCounts().records;
    return true;
}

void Table::Impl::finishAppending() {
    std::unique_ptr<data::ShapefileAppender> a = std::move(appender);
    a->flush();
}

int64_t Table::Impl::appendRow(const Row& row) {
    if (appendRefused || !featureClass || shapeType != ShapeType::Polygon || !data::directDbfWrites()) return -1;
    if (row.values_.size() != static_cast<size_t>(fields.count())) return -1;
    if (!appender) {
        prepareWrite(kSource);
        readyForDriverWrite(kSource);
        // The driver writes out what it holds and lets go of the files.
        flushRecords();
        {
            gdal::ErrorTrap trap;
            if (layer->SyncToDisk() != OGRERR_NONE) {
                appendRefused = true;
                return -1;
            }
        }
        auto a = data::ShapefileAppender::open(workingBase(), *layer);
        if (!a) {
            appendRefused = true;
            return -1;
        }
        releaseDataset();
        appender = std::move(a);
    }
    checkWidths(row, false);
    int64_t id = appender->append(row.shape_, row.values_.data() + offset, row.values_.size() - static_cast<size_t>(offset));
    if (id < 0)
        appendRefused = true;
    else
        ++data::directDbfCounts().appended;
    return id;
}

int64_t Table::Impl::writeRow(const Row& row, bool insert) {
    if (insert) {
        int64_t id = appendRow(row);
        if (id >= 0) return id;
    }
    prepareWrite(kSource);
    if (!insert) {
        checkWidths(row, true);
        if (writeDirect(row)) return row.oid_;
    }
    // Gathered records go first, so that the driver's writes land after them.
    flushRecords();
    readyForDriverWrite(kSource);
    FeatureHandle f(OGRFeature::CreateFeature(layer->GetLayerDefn()));
    fill(*f, row);
    gdal::ErrorTrap trap;
    OGRErr e;
    driverWrote = true;
    if (insert) {
        f->SetFID(OGRNullFID);
        e = layer->CreateFeature(f.get());
    } else {
        f->SetFID(row.oid_);
        e = layer->SetFeature(f.get());
    }
    if (e != OGRERR_NONE || trap.any())
        fail(err::HostGeneric, kSource, gdal::describe("Cannot store the row in " + name, trap));
    return f->GetFID();
}

std::optional<data::DbfLayout> Table::Impl::releasedDbfLayout() {
    // The driver writes out what it holds and lets go of the file.
    flushRecords();
    {
        gdal::ErrorTrap trap;
        if (layer->SyncToDisk() != OGRERR_NONE) return std::nullopt;
    }
    releaseDataset();
    std::optional<data::DbfLayout> layout;
    {
        int fd = ::open((workingBase() + ".dbf").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return std::nullopt;
        layout = data::DbfLayout::read(fd);
        ::close(fd);
    }
    if (!layout || layout->columns.size() != static_cast<size_t>(fields.count() - offset)) return std::nullopt;
    for (size_t i = 0; i < layout->columns.size(); ++i)
        if (!sameFieldName(layout->columns[i].name, fields.all()[i + static_cast<size_t>(offset)].name))
            return std::nullopt;
    return layout;
}

bool Table::Impl::changeFieldsDirect(const data::DbfFieldChange& change) {
    if (!data::directDbfWrites()) return false;
    std::optional<data::DbfLayout> layout = releasedDbfLayout();
    if (!layout || !data::dbfChangeFits(*layout, change)) return false;
    data::restructureDbf(workingBase() + ".dbf", *layout, change);
    ++data::directDbfCounts().fieldChanges;
    return true;
}

TablePtr TableAccess::make(std::unique_ptr<Table::Impl> impl, bool featureClass) {
    if (featureClass) return TablePtr(new FeatureClass(std::move(impl)));
    return TablePtr(new Table(std::move(impl)));
}

// ---- Table ------------------------------------------------------------------

Table::Table(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Table::~Table() = default;

TablePtr Table::open(const std::string& path) {
    gdal::init();
    stdfs::path p(data::canonical(path));
    std::string ext = lower(p.extension().string());
    if (ext != ".shp" && ext != ".dbf")
        fail(err::HostInvalidArg, kSource, "Not a shapefile or dBASE table: " + path);
    std::string base = (p.parent_path() / p.stem()).string();
    if (TablePtr t = data::cachedTable(base)) return t;
    std::error_code ec;
    if (!stdfs::is_regular_file(p, ec)) fail(err::HostFileNotFound, kSource, "The file does not exist: " + path);
    // The attribute table of a shapefile opens as the feature class, so that
    // writing its rows keeps their shapes.
    if (ext == ".dbf" && stdfs::is_regular_file(base + ".shp", ec)) {
        p = base + ".shp";
        ext = ".shp";
    }
    // Files that disagree (a write cut short, a damaged copy) are refused
    // rather than read in part.
    if (auto damage = data::datasetDamage(base))
        fail(err::HostGeneric, kSource, "Cannot open " + path + ": it is damaged or incomplete (" + *damage + ").");
    std::string canon = p.string();
    auto impl = std::make_unique<Impl>();
    impl->path = canon;
    impl->folder = p.parent_path().string();
    impl->name = p.stem().string();
    impl->base = base;
    impl->featureClass = ext == ".shp";
    impl->shapeName = "Shape";
    bool writable = !data::anyReadOnly(impl->base);
    try {
        impl->openDataset(writable);
    } catch (const Failure&) {
        if (!writable) throw;
        impl->openDataset(false);
    }
    if (impl->featureClass) {
        switch (wkbFlatten(impl->layer->GetGeomType())) {
            case wkbPoint: impl->shapeType = ShapeType::Point; break;
            case wkbMultiPoint: impl->shapeType = ShapeType::Multipoint; break;
            case wkbLineString:
            case wkbMultiLineString: impl->shapeType = ShapeType::Polyline; break;
            case wkbPolygon:
            case wkbMultiPolygon: impl->shapeType = ShapeType::Polygon; break;
            default: impl->shapeType = ShapeType::Null;
        }
        impl->sr = readPrj(impl->path);
    }
    impl->readFields();
    TablePtr t = TableAccess::make(std::move(impl), ext == ".shp");
    data::cacheTable(t);
    return t;
}

const std::string& Table::name() const { return impl_->name; }
const std::string& Table::workspacePath() const { return impl_->folder; }
const std::string& Table::path() const { return impl_->path; }
std::string Table::dbfPath() const { return impl_->base + ".dbf"; }
std::vector<std::string> Table::files() const { return data::datasetFiles(impl_->folder, impl_->name); }
bool Table::isFeatureClass() const { return impl_->featureClass; }
const Fields& Table::fields() const { return impl_->fields; }
int32_t Table::findField(std::string_view name) const { return impl_->fields.find(name); }
const std::string& Table::oidFieldName() const { return impl_->oidName; }
bool Table::isReadOnly() const { return data::anyReadOnly(impl_->base); }

bool Table::canCopy() const {
    if (impl_->closed) return false;
    for (const std::string& f : files())
        if (::access(f.c_str(), R_OK) != 0) return false;
    return true;
}

bool Table::canDelete() const {
    return !impl_->closed && !isReadOnly() && ::access(impl_->folder.c_str(), W_OK) == 0;
}

void Table::addField(const FieldDef& field) { addFields({field}); }

void Table::addFields(const std::vector<FieldDef>& defs) {
    if (defs.empty()) return;
    // Every definition is checked, against the fields and against the ones
    // before it in the list, before the file changes.
    Fields probe = impl_->fields;
    std::vector<FieldDef> checked;
    checked.reserve(defs.size());
    for (const FieldDef& d : defs) {
        FieldDef f = data::checkNewField(probe, d, true);
        probe.add(f);
        checked.push_back(std::move(f));
    }
    impl_->prepareWrite("Table.addField");
    if (!impl_->changeFieldsDirect({true, checked, -1})) {
        // The driver adds one field at a time; when one fails, the ones it
        // added before it are taken out again.
        impl_->readyForDriverWrite("Table.addField");
        impl_->syncDriver();
        int32_t before = impl_->layer->GetLayerDefn()->GetFieldCount();
        for (const FieldDef& f : checked) {
            auto d = data::toOgr(f);
            gdal::ErrorTrap trap;
            impl_->driverWrote = true;
            if (impl_->layer->CreateField(d.get(), FALSE) != OGRERR_NONE || trap.failed()) {
                std::string why = gdal::describe("Cannot add the field " + f.name + " to " + name(), trap);
                for (int32_t i = impl_->layer->GetLayerDefn()->GetFieldCount() - 1; i >= before; --i) {
                    gdal::ErrorTrap undo;
                    impl_->layer->DeleteField(i);
                }
                fail(err::HostGeneric, "Table.addField", why);
            }
        }
    }
    for (FieldDef& f : checked) {
        data::rememberFieldType(dbfPath(), f.name, f.type);
        impl_->fields.add(std::move(f));
    }
}

void Table::deleteField(std::string_view fieldName) {
    int32_t i = findField(fieldName);
    if (i < 0) fail(err::HostInvalidArg, "Table.deleteField", "There is no field " + std::string(fieldName) + " in " + name() + ".");
    if (i < impl_->offset)
        fail(err::HostInvalidArg, "Table.deleteField", "The field " + std::string(fieldName) + " cannot be deleted.");
    impl_->prepareWrite("Table.deleteField");
    if (!impl_->changeFieldsDirect({false, {}, i - impl_->offset})) {
        impl_->readyForDriverWrite("Table.deleteField");
        impl_->syncDriver();
        gdal::ErrorTrap trap;
        impl_->driverWrote = true;
        if (impl_->layer->DeleteField(i - impl_->offset) != OGRERR_NONE || trap.failed())
            fail(err::HostGeneric, "Table.deleteField",
                 gdal::describe("Cannot delete the field " + std::string(fieldName), trap));
    }
    data::forgetFieldType(dbfPath(), impl_->fields.field(i).name);
    impl_->fields.remove(i);
}

bool Table::rewriteFields(const std::vector<std::string>& keep, const std::vector<FieldDef>& add,
                          const std::function<bool(const Row& row, AddedValues& added)>& fill,
                          const std::vector<std::string>* read) {
    Impl& t = *impl_;
    if (!data::directDbfWrites()) return false;
    t.prepareWrite("Table.rewriteFields");
    // The fields that stay, and the added ones checked against them.
    std::vector<int> keptColumns;
    std::vector<int32_t> keptFields, readFields;
    Fields probe;
    for (int32_t i = 0; i < t.offset; ++i) probe.add(t.fields.field(i));
    for (int32_t i = t.offset; i < t.fields.count(); ++i) {
        const FieldDef& f = t.fields.field(i);
        bool kept = std::any_of(keep.begin(), keep.end(), [&](const std::string& k) { return sameFieldName(k, f.name); });
        if (!kept) continue;
        keptColumns.push_back(i - t.offset);
        keptFields.push_back(i);
        if (!read || std::any_of(read->begin(), read->end(), [&](const std::string& r) { return sameFieldName(r, f.name); }))
            readFields.push_back(i);
        probe.add(f);
    }
    std::vector<FieldDef> checked;
    try {
        for (const FieldDef& d : add) {
            if (!isNumericFieldType(d.type)) return false;
            FieldDef f = data::checkNewField(probe, d, true);
            probe.add(f);
            checked.push_back(std::move(f));
        }
    } catch (const Failure&) {
        return false;
    }

    std::optional<data::DbfLayout> layout = t.releasedDbfLayout();
    if (!layout) return false;
    const std::string dbf = t.workingBase() + ".dbf";
    data::DbfFieldChange change{true, checked, -1, keptColumns};
    if (!data::dbfChangeFits(*layout, change)) return false;
    std::vector<data::DbfColumn> addedColumns;
    for (const FieldDef& f : checked) addedColumns.push_back(data::newDbfColumn(f));

    // The rows are read in order through a reader of their own: only the
    // kept fields are parsed, and the plain shapes come straight from the
    // .shp; the driver reads the others. Numbers in columns whose type the
    // driver reads as the field's (integers without decimals, fractions with)
    // are parsed from the record's bytes as the driver parses them; any
    // other kept field has the driver read every row's values.
    struct PlainNumber {
        int32_t field;
        const data::DbfColumn* column;
        bool integer;
        bool single;
    };
    std::vector<PlainNumber> plain;
    bool driverValues = false;
    for (int32_t i : readFields) {
        const FieldDef& f = t.fields.field(i);
        const data::DbfColumn& c = layout->columns[static_cast<size_t>(i - t.offset)];
        bool numericColumn = c.type == 'N' || c.type == 'F';
        bool integer = (f.type == FieldSmallInteger || f.type == FieldInteger) && c.decimals == 0 && c.width <= 9;
        bool fraction = (f.type == FieldSingle || f.type == FieldDouble) && c.decimals > 0;
        if (numericColumn && (integer || fraction))
            plain.push_back({i, &c, integer, f.type == FieldSingle});
        else
            driverValues = true;
    }
    // A number's text as the driver reads it: blanks around it trimmed; null
    // when nothing is left or the column is all '*'. False for a text the
    // driver might read otherwise.
    auto parsePlain = [](const PlainNumber& n, const char* record, Value& v) {
        const char* b = record + n.column->offset;
        const char* e = b + n.column->width;
        if (std::all_of(b, e, [](char c) { return c == '*'; })) {
            v = std::monostate{};
            return true;
        }
        while (b < e && *b == ' ') ++b;
        while (e > b && e[-1] == ' ') --e;
        if (b == e) {
            v = std::monostate{};
            return true;
        }
        if (n.integer) {
            int64_t x = 0;
            auto [end, ec] = std::from_chars(b, e, x);
            if (ec != std::errc() || end != e) return false;
            v = static_cast<int32_t>(x);  // at most 9 digits
            return true;
        }
        double x = 0;
        auto [end, ec] = std::from_chars(b, e, x);
        if (ec != std::errc() || end != e || !std::isfinite(x)) return false;
        if (n.single)
            v = static_cast<float>(x);
        else
            v = x;
        return true;
    };
    struct Dataset {
        GDALDataset* ds = nullptr;
        ~Dataset() {
            if (ds) GDALClose(ds);
        }
    } values, shapes;
    // A read-only handle of the driver's own, with its own reading position.
    auto openReader = [&](Dataset& d) {
        gdal::ErrorTrap trap;
        const char* const drivers[] = {"ESRI Shapefile", nullptr};
        d.ds = static_cast<GDALDataset*>(
            GDALOpenEx(t.workingPath().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr));
        return d.ds && d.ds->GetLayerCount() > 0;
    };
    OGRLayer* reader = nullptr;
    if (driverValues) {
        if (!openReader(values)) return false;
        reader = values.ds->GetLayer(0);
        plain.clear();

        std::vector<std::string> ignoredNames;
        for (int32_t i = t.offset; i < t.fields.count(); ++i)
            if (std::find(readFields.begin(), readFields.end(), i) == readFields.end())
                ignoredNames.push_back(t.fields.field(i).name);
        ignoredNames.push_back("OGR_GEOMETRY");
        ignoredNames.push_back("OGR_STYLE");
        std::vector<const char*> ignored;
        for (const std::string& n : ignoredNames) ignored.push_back(n.c_str());
        ignored.push_back(nullptr);
        gdal::ErrorTrap trap;
        if (reader->SetIgnoredFields(ignored.data()) != OGRERR_NONE) return false;
        reader->ResetReading();
    }
    std::unique_ptr<data::ShpRecords> shp;
    if (t.featureClass) shp = std::make_unique<data::ShpRecords>(t.workingBase());

    auto row = std::make_shared<Row>();
    row->table_ = shared_from_this();
    AddedValues addedValues;
    row->values_.resize(static_cast<size_t>(t.fields.count()));
    FeatureHandle next;
    auto advance = [&] {
        gdal::ErrorTrap trap;
        next.reset(reader->GetNextFeature());
    };
    if (reader) advance();
    int64_t deletedRecords = 0;
    data::DbfRecordFill fillRecord = [&](uint32_t record, const char* old, char* added) {
        if (old[0] == '*') {  // a deleted record keeps its flag and gets no values
            ++deletedRecords;
            return true;
        }
        if (reader) {
            if (!next || next->GetFID() != static_cast<GIntBig>(record)) return false;
            t.readValues(*next, *row, &readFields);
            advance();
        } else {
            row->oid_ = record;
            row->values_[0] = static_cast<int32_t>(record);
            row->set_.clear();
            for (const PlainNumber& n : plain)
                if (!parsePlain(n, old, row->values_[static_cast<size_t>(n.field)])) return false;
        }
        row->shapeSet_ = false;
        if (t.featureClass) {
            data::ShpRecords::Kind kind = shp->read(record, row->shape_.wkbBuffer());
            if (kind == data::ShpRecords::Kind::Polygon) {
                row->shape_.wkbChanged();
            } else if (kind == data::ShpRecords::Kind::Null) {
                row->shape_.clear();
            } else {
                if (!shapes.ds && !openReader(shapes)) return false;
                FeatureHandle f;
                {
                    gdal::ErrorTrap trap;
                    f.reset(shapes.ds->GetLayer(0)->GetFeature(record));
                }
                if (!f) return false;
                t.readShape(*f, *row);
            }
        }
        addedValues.assign(checked.size(), Value{});
        if (!fill(*row, addedValues) || addedValues.size() != checked.size()) return false;
        int at = 0;
        for (size_t k = 0; k < checked.size(); ++k) {
            Value v;
            try {
                v = valueForField(checked[k], std::move(addedValues[k]));
            } catch (const Failure&) {
                return false;
            }
            const data::DbfColumn& c = addedColumns[k];
            if (!isNull(v) && !data::formatDbfNumber(v, c, added + at)) return false;
            at += c.width;
        }
        return true;
    };
    if (!data::restructureDbf(dbf, *layout, change, &fillRecord)) return false;
    ++data::directDbfCounts().fieldChanges;
    // The pass counted the deleted records: no count of the file is needed.
    t.deleted = deletedRecords;
    t.deletedKnown = true;

    for (int32_t i = t.fields.count() - 1; i >= t.offset; --i) {
        if (std::find(keptFields.begin(), keptFields.end(), i) != keptFields.end()) continue;
        data::forgetFieldType(dbfPath(), t.fields.field(i).name);
        t.fields.remove(i);
    }
    for (FieldDef& f : checked) {
        data::rememberFieldType(dbfPath(), f.name, f.type);
        t.fields.add(std::move(f));
    }
    return true;
}

int64_t Table::rowCount(const QueryFilter* filter) {
    if (!filter || filter->whereClause.empty()) return impl_->liveRowCount("Table.rowCount");
    Cursor c = search(filter, true);
    int64_t n = 0;
    while (c.next()) ++n;
    return n;
}

RowPtr Table::row(int64_t oid) {
    impl_->lyr("Table.row");
    FeatureHandle f;
    if (oid >= 0 && oid < impl_->recordCount("Table.row")) {
        impl_->readyToRead(oid);
        gdal::ErrorTrap trap;
        f.reset(impl_->lyr("Table.row").GetFeature(oid));
    }
    if (!f) fail(err::HostInvalidArg, "Table.row", fmt::format("There is no row {} in {}.", oid, name()));
    auto r = std::make_shared<Row>();
    r->table_ = shared_from_this();
    impl_->readValues(*f, *r, nullptr);
    impl_->readShape(*f, *r);
    return r;
}

RowPtr Table::createRow() {
    impl_->lyr("Table.createRow");
    auto r = std::make_shared<Row>();
    r->table_ = shared_from_this();
    r->values_.resize(static_cast<size_t>(impl_->fields.count()));
    return r;
}

void Table::flush() {
    if (impl_->closed) return;
    if (impl_->appender) {
        impl_->appender->flush();
        return;
    }
    impl_->flushRecords();
    gdal::ErrorTrap trap;
    if (impl_->update && impl_->layer) impl_->layer->SyncToDisk();
}

void Table::close() {
    if (impl_->closed) return;
    struct Mark {
        bool& closed;
        ~Mark() { closed = true; }
    } mark{impl_->closed};
    impl_->closeDataset();
}

// ---- Row --------------------------------------------------------------------

const Fields& Row::fields() const { return table_->fields(); }

const Value& Row::value(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= values_.size())
        fail(err::HostInvalidArg, "Row", fmt::format("There is no field at index {}.", index));
    return values_[static_cast<size_t>(index)];
}

const Value& Row::value(std::string_view fieldName) const {
    int32_t i = table_->findField(fieldName);
    if (i < 0) fail(err::HostInvalidArg, "Row", "There is no field " + std::string(fieldName) + ".");
    return values_[static_cast<size_t>(i)];
}

namespace {

Value coerce(const FieldDef& fd, Value v) {
    if (isNull(v)) return v;
    auto refuse = [&](const std::string& why) -> Value {
        fail(err::HostInvalidArg, "Row.setValue", "Cannot set the field " + fd.name + " to " + toText(v) + ": " + why + ".");
    };
    switch (fd.type) {
        case FieldSmallInteger:
        case FieldInteger: {
            if (std::holds_alternative<Date>(v)) return refuse("a date is not a number");
            double d;
            if (auto s = std::get_if<std::string>(&v)) {
                if (!parseNumber(*s, d)) return refuse("the text is not a number");
            } else {
                d = toDouble(v);
            }
            double r = std::round(d);
            double lo = fd.type == FieldSmallInteger ? -32768.0 : static_cast<double>(INT32_MIN);
            double hi = fd.type == FieldSmallInteger ? 32767.0 : static_cast<double>(INT32_MAX);
            if (!(r >= lo && r <= hi)) return refuse("the number is out of the field's range");
            return static_cast<int32_t>(r);
        }
        case FieldSingle:
        case FieldDouble: {
            if (std::holds_alternative<Date>(v)) return refuse("a date is not a number");
            double d;
            if (auto s = std::get_if<std::string>(&v)) {
                if (!parseNumber(*s, d)) return refuse("the text is not a number");
            } else {
                d = toDouble(v);
            }
            if (!std::isfinite(d)) return refuse("the number is not finite");
            if (fd.type == FieldDouble) return d;
            if (std::fabs(d) > FLT_MAX) return refuse("the number is out of the field's range");
            return static_cast<float>(d);
        }
        case FieldString:
            if (std::holds_alternative<std::string>(v)) return v;
            return toText(v);
        case FieldDate: {
            if (std::holds_alternative<Date>(v)) return v;
            Date d;
            if (auto s = std::get_if<std::string>(&v); s && parseDate(*s, d)) return d;
            return refuse("a date field takes dates (YYYY-MM-DD)");
        }
        default: return refuse("the field cannot be set");
    }
}

}  // namespace

Value valueForField(const FieldDef& field, Value v) {
    if (field.type == FieldOID || field.type == FieldGeometry)
        fail(err::HostInvalidArg, "Row.setValue", "The field " + field.name + " cannot be set.");
    Value out = coerce(field, std::move(v));
    checkWidth(field, out);
    return out;
}

void Row::setValue(int32_t index, Value v) {
    const FieldDef& fd = fields().field(index);
    if (index < TableAccess::impl(*table_).offset)
        fail(err::HostInvalidArg, "Row.setValue", "The field " + fd.name + " cannot be set.");
    values_[static_cast<size_t>(index)] = coerce(fd, std::move(v));
    if (set_.size() < values_.size()) set_.resize(values_.size(), false);
    set_[static_cast<size_t>(index)] = true;
}

void Row::setValue(std::string_view fieldName, Value v) {
    int32_t i = table_->findField(fieldName);
    if (i < 0) fail(err::HostInvalidArg, "Row.setValue", "There is no field " + std::string(fieldName) + ".");
    setValue(i, std::move(v));
}

void Row::setShape(Geometry g) {
    auto& t = TableAccess::impl(*table_);
    if (!t.featureClass) fail(err::HostInvalidArg, "Row.setShape", "A table row has no shape.");
    if (!g.isEmpty()) {
        ShapeType have = g.type();
        bool fits = have == t.shapeType || (t.shapeType == ShapeType::Multipoint && have == ShapeType::Point);
        if (!fits)
            fail(err::HostInvalidArg, "Row.setShape",
                 std::string("A ") + shapeTypeName(have) + " cannot be stored in a " + shapeTypeName(t.shapeType) +
                     " feature class.");
    }
    shape_ = std::move(g);
    shapeSet_ = true;
}

void Row::store() {
    auto& t = TableAccess::impl(*table_);
    if (oid_ < 0) {
        oid_ = t.writeRow(*this, true);
        values_[0] = static_cast<int32_t>(oid_);
    } else {
        t.writeRow(*this, false);
    }
}

void Row::deleteRow() {
    if (oid_ < 0) fail(err::HostInvalidArg, "Row.deleteRow", "The row has not been stored.");
    TableAccess::impl(*table_).deleteRecord(oid_, "Row.deleteRow");
}

// ---- FeatureClass -----------------------------------------------------------

FeatureClassPtr FeatureClass::open(const std::string& shpPath) {
    auto fc = std::dynamic_pointer_cast<FeatureClass>(Table::open(shpPath));
    if (!fc) fail(err::HostInvalidArg, "FeatureClass", "Not a shapefile: " + shpPath);
    return fc;
}

ShapeType FeatureClass::shapeType() const { return impl_->shapeType; }
const std::string& FeatureClass::shapeFieldName() const { return impl_->shapeName; }
const std::optional<SpatialReference>& FeatureClass::spatialReference() const { return impl_->sr; }
int32_t FeatureClass::units() const { return unitCode(impl_->sr); }

Envelope FeatureClass::extent() {
    OGREnvelope e;
    gdal::ErrorTrap trap;
    if (impl_->lyr("FeatureClass.extent").GetExtent(&e, TRUE) != OGRERR_NONE) return {};
    return {e.MinX, e.MinY, e.MaxX, e.MaxY, false};
}

}  // namespace korvane::host
