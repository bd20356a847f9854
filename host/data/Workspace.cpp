#include "host/data/Workspace.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <unistd.h>

#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/data/GdalSupport.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

namespace stdfs = std::filesystem;

namespace {

constexpr const char* kSource = "Workspace";

using data::lower;

// The dataset name without a .shp or .dbf extension.
std::string stripExtension(const std::string& name) {
    std::string l = lower(name);
    if (l.size() > 4 && (l.ends_with(".shp") || l.ends_with(".dbf"))) return name.substr(0, name.size() - 4);
    return name;
}

void checkDatasetName(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name.find('\\') != std::string::npos || name == "." ||
        name == "..")
        fail(err::HostInvalidArg, kSource, "Not a valid dataset name: \"" + name + "\".");
}

}  // namespace

ShapefileWorkspace ShapefileWorkspace::open(const std::string& folder) {
    gdal::init();
    std::error_code ec;
    if (folder.empty() || !stdfs::is_directory(folder, ec))
        fail(err::HostFileNotFound, kSource, "The folder does not exist: " + folder);
    return ShapefileWorkspace(data::canonical(folder));
}

std::string ShapefileWorkspace::datasetPath(const std::string& name, const char* ext) const {
    return (stdfs::path(path_) / (stripExtension(name) + ext)).string();
}

bool ShapefileWorkspace::exists(const std::string& name) const {
    std::error_code ec;
    std::string base = stripExtension(name);
    return stdfs::exists(datasetPath(base, ".shp"), ec) || stdfs::exists(datasetPath(base, ".dbf"), ec) ||
           stdfs::exists(datasetPath(base, ".shx"), ec);
}

std::vector<std::string> ShapefileWorkspace::datasetNames() const {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : stdfs::directory_iterator(path_, ec)) {
        std::string ext = lower(e.path().extension().string());
        if (ext == ".shp" || ext == ".dbf") names.insert(e.path().stem().string());
    }
    return {names.begin(), names.end()};
}

FeatureClassPtr ShapefileWorkspace::openFeatureClass(const std::string& name) const {
    checkDatasetName(name);
    return FeatureClass::open(datasetPath(name, ".shp"));
}

TablePtr ShapefileWorkspace::openTable(const std::string& name) const {
    checkDatasetName(name);
    return Table::open(datasetPath(name, ".dbf"));
}

TablePtr ShapefileWorkspace::create(const std::string& rawName, const std::vector<FieldDef>& defs, ShapeType type,
                                    const SpatialReference* sr, const std::string& prjFrom, bool checkNames) const {
    std::string name = stripExtension(rawName);
    checkDatasetName(name);
    bool table = type == ShapeType::Null;
    if (exists(name)) fail(err::HostGeneric, kSource, "A dataset named " + name + " already exists in " + path_ + ".");
    if (::access(path_.c_str(), W_OK) != 0) fail(err::HostAccessDenied, kSource, "Cannot write in the folder " + path_ + ".");

    // Every field is checked before any file is written.
    Fields checked;
    checked.add({table ? "OID" : "FID", FieldOID, 4, 0, 0});
    if (!table) checked.add({"Shape", FieldGeometry, 0, 0, 0});
    for (const FieldDef& d : defs) {
        if (d.type == FieldOID || d.type == FieldGeometry) continue;
        checked.add(data::checkNewField(checked, d, checkNames));
    }
    OGRSpatialReference srs;
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (sr && srs.importFromWkt(sr->wkt.c_str()) != OGRERR_NONE)
        fail(err::HostInvalidArg, kSource, "The coordinate system cannot be written.");

    OGRwkbGeometryType geomType = wkbNone;
    switch (type) {
        case ShapeType::Point: geomType = wkbPoint; break;
        case ShapeType::Multipoint: geomType = wkbMultiPoint; break;
        case ShapeType::Polyline: geomType = wkbLineString; break;
        case ShapeType::Polygon: geomType = wkbPolygon; break;
        default: break;
    }
    std::string file = datasetPath(name, table ? ".dbf" : ".shp");
    auto cleanup = [&] {
        std::error_code ec;
        for (const std::string& f : data::datasetFiles(path_, name)) stdfs::remove(f, ec);
    };
    {
        gdal::ErrorTrap trap;
        GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
        if (!driver) fail(err::HostGeneric, kSource, "The shapefile driver is missing.");
        GDALDataset* ds = driver->Create(file.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
        if (!ds) fail(err::HostGeneric, kSource, gdal::describe("Cannot create " + file, trap));
        const char* options[] = {"ENCODING=UTF-8", nullptr};
        OGRLayer* layer = ds->CreateLayer(name.c_str(), sr ? &srs : nullptr, geomType, const_cast<char**>(options));
        bool ok = layer != nullptr;
        std::string failedField;
        for (int32_t i = checked.find(table ? "OID" : "Shape") + 1; ok && i < checked.count(); ++i) {
            auto fd = data::toOgr(checked.field(i));
            if (layer->CreateField(fd.get(), FALSE) != OGRERR_NONE) {
                ok = false;
                failedField = checked.field(i).name;
            }
        }
        if (ok) ok = layer->SyncToDisk() == OGRERR_NONE;
        GDALClose(ds);
        if (!ok || trap.failed()) {
            cleanup();
            fail(err::HostGeneric, kSource,
                 gdal::describe("Cannot create " + file + (failedField.empty() ? "" : " (field " + failedField + ")"), trap));
        }
    }
    std::error_code ec;
    if (!prjFrom.empty()) stdfs::copy_file(prjFrom, datasetPath(name, ".prj"), stdfs::copy_options::overwrite_existing, ec);
    std::string dbf = datasetPath(name, ".dbf");
    data::forgetDataset(dbf);
    for (int32_t i = 0; i < checked.count(); ++i)
        if (checked.field(i).type != FieldOID && checked.field(i).type != FieldGeometry)
            data::rememberFieldType(dbf, checked.field(i).name, checked.field(i).type);
    // A full disk may cut the new files short without the driver saying so.
    if (auto damage = data::datasetDamage(datasetPath(name, ""))) {
        cleanup();
        noteFailedWrite(file);
        fail(err::HostGeneric, kSource, "Cannot write " + file + ": it is incomplete (" + *damage + ").");
    }
    try {
        return Table::open(file);
    } catch (const Failure&) {
        cleanup();
        throw;
    }
}

FeatureClassPtr ShapefileWorkspace::createFeatureClass(const std::string& name, const std::vector<FieldDef>& fields,
                                                       ShapeType type, const SpatialReference* sr) const {
    if (type == ShapeType::Null) fail(err::HostInvalidArg, kSource, "A feature class needs a shape type.");
    return std::dynamic_pointer_cast<FeatureClass>(create(name, fields, type, sr, {}, true));
}

TablePtr ShapefileWorkspace::createTable(const std::string& name, const std::vector<FieldDef>& fields) const {
    return create(name, fields, ShapeType::Null, nullptr, {}, true);
}

void ShapefileWorkspace::deleteDataset(const std::string& rawName) const {
    std::string name = stripExtension(rawName);
    checkDatasetName(name);
    std::vector<std::string> files = data::datasetFiles(path_, name);
    if (files.empty()) fail(err::HostFileNotFound, kSource, "There is no dataset " + name + " in " + path_ + ".");
    if (data::anyReadOnly(datasetPath(name, "")))
        fail(err::HostAccessDenied, kSource, "Cannot delete " + name + ": the file is read-only.");
    if (TablePtr t = data::cachedTable(data::canonical(datasetPath(name, "")))) t->close();
    for (const std::string& f : files) {
        std::error_code ec;
        if (!stdfs::remove(f, ec) && ec)
            fail(err::HostAccessDenied, kSource, "Cannot delete " + f + ": " + ec.message());
    }
    data::forgetDataset(datasetPath(name, ".dbf"));
}

TablePtr ShapefileWorkspace::copyDataset(Table& source, const std::string& rawName) const {
    std::string name = stripExtension(rawName);
    checkDatasetName(name);
    if (exists(name)) fail(err::HostGeneric, kSource, "A dataset named " + name + " already exists in " + path_ + ".");
    if (!source.canCopy()) fail(err::HostAccessDenied, kSource, "The dataset " + source.name() + " cannot be copied.");
    source.flush();
    std::vector<std::string> copied;
    for (const std::string& f : source.files()) {
        std::string fn = stdfs::path(f).filename().string();
        std::string target = (stdfs::path(path_) / (name + fn.substr(source.name().size()))).string();
        std::error_code ec;
        if (!stdfs::copy_file(f, target, ec)) {
            copied.push_back(target);   // a part may have been written
            for (const std::string& c : copied) {
                std::error_code ignore;
                stdfs::permissions(c, stdfs::perms::owner_write, stdfs::perm_options::add, ignore);
                stdfs::remove(c, ignore);
            }
            noteFailedWrite(target);
            fail(err::HostGeneric, kSource, "Cannot copy " + f + " to " + target + ": " + ec.message());
        }
        copied.push_back(target);
    }
    std::string dbf = datasetPath(name, ".dbf");
    data::forgetDataset(dbf);
    data::copyDatasetTypes(source.dbfPath(), dbf);
    try {
        return Table::open(datasetPath(name, source.isFeatureClass() ? ".shp" : ".dbf"));
    } catch (const Failure&) {
        // A copy that does not open (cut short) is not left behind.
        for (const std::string& c : copied) {
            std::error_code ignore;
            stdfs::permissions(c, stdfs::perms::owner_write, stdfs::perm_options::add, ignore);
            stdfs::remove(c, ignore);
        }
        data::forgetDataset(dbf);
        throw;
    }
}

FeatureClassPtr ShapefileWorkspace::exportFeatures(FeatureClass& source, const SelectionSet& selection,
                                                   const std::string& newName) const {
    if (selection.target().get() != &source)
        fail(err::HostInvalidArg, kSource, "The selection set belongs to another table.");
    std::string prj;
    std::error_code ec;
    std::string srcPrj = (stdfs::path(source.workspacePath()) / (source.name() + ".prj")).string();
    if (stdfs::is_regular_file(srcPrj, ec)) prj = srcPrj;
    auto out = std::dynamic_pointer_cast<FeatureClass>(
        create(newName, source.fields().all(), source.shapeType(), nullptr, prj, false));
    try {
        InsertCursor ins = out->insert(true);
        Cursor c = selection.search(nullptr, true);
        while (RowPtr r = c.next()) ins.insertRow(*r);
        ins.flush();
        out->close();
        if (auto damage = data::datasetDamage(datasetPath(newName, "")))
            fail(err::HostGeneric, kSource, "Cannot write " + stripExtension(newName) + ": it is incomplete (" + *damage + ").");
        out = std::dynamic_pointer_cast<FeatureClass>(Table::open(datasetPath(newName, ".shp")));
    } catch (const Failure&) {
        out->close();
        std::string name = stripExtension(newName);
        for (const std::string& f : data::datasetFiles(path_, name)) stdfs::remove(f, ec);
        data::forgetDataset(datasetPath(name, ".dbf"));
        throw;
    }
    return out;
}

// ---- replacing and renaming datasets ----------------------------------------------

namespace {

// The files a dataset may have, in the order they are put in place: the
// .dbf last, so that a table is only ever seen with its new records once
// everything else is there.
std::vector<const char*> replacedFiles(bool featureClass) {
    if (featureClass) return {".prj", ".cpg", ".shx", ".shp", ".dbf"};
    return {".cpg", ".dbf"};
}

// Sidecars that describe one version of a dataset's files only.
constexpr const char* kStaleSidecars[] = {".cpg", ".sbn", ".sbx", ".qix", ".fbn", ".fbx",
                                          ".ain", ".aih", ".atx", ".ixs", ".mxs"};

void closeOpen(const std::string& base) {
    if (TablePtr t = data::cachedTable(data::canonical(base))) t->close();
}

}  // namespace

DatasetReplacement::DatasetReplacement(const ShapefileWorkspace& ws, const std::string& name, bool featureClass)
    : folder_(ws.path()), name_(stripExtension(name)), featureClass_(featureClass) {
    checkDatasetName(name_);
    std::vector<stdfs::path> targets;
    for (const char* ext : replacedFiles(featureClass)) targets.push_back(stdfs::path(folder_) / (name_ + ext));
    files_ = std::make_unique<FileReplacement>(std::move(targets));
    files_->checkDatasets();
    temporaryName_ = files_->temporary(0).stem().string();
}

DatasetReplacement::~DatasetReplacement() {
    if (!committed_) {
        try {
            closeOpen((stdfs::path(folder_) / temporaryName_).string());
        } catch (...) {
        }
    }
    data::forgetDataset(temporaryPath(".dbf"));
    files_.reset();   // removes every file left under the temporary name
}

std::string DatasetReplacement::temporaryPath(const char* ext) const {
    return (stdfs::path(folder_) / (temporaryName_ + ext)).string();
}

TablePtr DatasetReplacement::commit() {
    const std::string base = (stdfs::path(folder_) / name_).string();
    closeOpen((stdfs::path(folder_) / temporaryName_).string());
    std::error_code ec;
    const bool hadMain = stdfs::exists(temporaryPath(featureClass_ ? ".shp" : ".dbf"), ec);
    if (!hadMain) fail(err::HostGeneric, kSource, "The new version of " + name_ + " was not written.");
    // An open table of the old files must let go of them, with what it still
    // had to write.
    closeOpen(base);
    // The files must agree before they replace anything: the commit checks.
    std::vector<stdfs::path> placed = files_->leaveOutUnwritten();
    files_->commit();
    committed_ = true;
    for (const char* ext : kStaleSidecars) {
        stdfs::path old = base + ext;
        if (std::find(placed.begin(), placed.end(), old) == placed.end()) stdfs::remove(old, ec);
    }
    if (featureClass_ && std::find(placed.begin(), placed.end(), stdfs::path(base + ".prj")) == placed.end())
        stdfs::remove(base + ".prj", ec);
    data::forgetDataset(base + ".dbf");
    data::copyDatasetTypes(temporaryPath(".dbf"), base + ".dbf");
    return Table::open(base + (featureClass_ ? ".shp" : ".dbf"));
}

TablePtr ShapefileWorkspace::renameDataset(const std::string& rawFrom, const std::string& rawTo) const {
    std::string from = stripExtension(rawFrom), to = stripExtension(rawTo);
    checkDatasetName(from);
    checkDatasetName(to);
    if (exists(to)) fail(err::HostGeneric, kSource, "A dataset named " + to + " already exists in " + path_ + ".");
    std::vector<std::string> files = data::datasetFiles(path_, from);
    if (files.empty()) fail(err::HostFileNotFound, kSource, "There is no dataset " + from + " in " + path_ + ".");
    const bool featureClass = stdfs::exists(datasetPath(from, ".shp"));
    closeOpen(datasetPath(from, ""));
    // The .dbf last: a dataset is seen under its new name only once whole.
    std::stable_partition(files.begin(), files.end(), [](const std::string& f) { return lower(f).ends_with(".dbf") == false; });
    for (const std::string& f : files) {
        std::string fn = stdfs::path(f).filename().string();
        std::string target = (stdfs::path(path_) / (to + fn.substr(from.size()))).string();
        if (::rename(f.c_str(), target.c_str()) != 0)
            fail(err::HostAccessDenied, kSource, "Cannot rename " + f + ": " + std::strerror(errno));
    }
    data::forgetDataset(datasetPath(to, ".dbf"));
    data::copyDatasetTypes(datasetPath(from, ".dbf"), datasetPath(to, ".dbf"));
    data::forgetDataset(datasetPath(from, ".dbf"));
    return Table::open(datasetPath(to, featureClass ? ".shp" : ".dbf"));
}

}  // namespace korvane::host
