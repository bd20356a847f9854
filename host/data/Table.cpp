// A table's dataset: opening and closing it (the driver's handle, released
// and reopened around direct writes), its fields as read from the file, the
// registry of field types and open tables, its files, and FeatureClass.
// Field changes are in TableFields.cpp, rows in TableRows.cpp, the one-pass
// rewrite in TableRewrite.cpp.
#include "host/data/Table.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <exception>
#include <map>

#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/data/GdalSupport.h"
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
    ++layerOpenings;
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
        ++layerOpenings;
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
