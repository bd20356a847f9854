#pragma once
// Internals shared by the data layer's sources (Table, SelectionSet,
// ShapefileWorkspace); not part of the public interface.
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <map>
#include <optional>
#include <string>

#include "host/data/Table.h"

namespace korvane::host {

struct Table::Impl {
    std::string path;    // .shp or .dbf
    std::string folder;
    std::string name;
    std::string base;    // folder + "/" + name
    bool featureClass = false;
    bool update = false;
    bool closed = false;
    GDALDataset* ds = nullptr;
    OGRLayer* layer = nullptr;
    Fields fields;
    int32_t offset = 1;  // host index of the first attribute field
    std::string oidName;
    std::string shapeName;
    ShapeType shapeType = ShapeType::Null;
    std::optional<SpatialReference> sr;
    // Deleted records stay in the files, marked deleted, until the table is
    // closed, so that object ids do not move while it is open; closing packs
    // them away. Their number is counted from the file when first needed.
    bool deletedKnown = false;
    int64_t deleted = 0;
    bool deletedThisSession = false;

    ~Impl();
    void openDataset(bool forUpdate);
    void readFields();
    // Fails when closed, or when the files are read-only; reopens for update.
    void prepareWrite(const char* source);
    OGRLayer& lyr(const char* source);
    // Reads the attribute fields (all, or only those listed) into row.
    void readValues(OGRFeature& f, Row& row, const std::vector<int32_t>* only) const;
    void readShape(OGRFeature& f, Row& row) const;
    // Records in the files, deleted ones included: the end of the id range.
    int64_t recordCount(const char* source);
    void deleteRecord(int64_t oid, const char* source);
    int64_t liveRowCount(const char* source);
    void closeDataset();
    // Writes the row's values and shape into a feature of this layer.
    void fill(OGRFeature& f, const Row& row) const;
    int64_t writeRow(const Row& row, bool insert);
};

struct OgrFeatureDeleter {
    void operator()(OGRFeature* f) const { OGRFeature::DestroyFeature(f); }
};
using FeatureHandle = std::unique_ptr<OGRFeature, OgrFeatureDeleter>;

struct TableAccess {
    static TablePtr make(std::unique_ptr<Table::Impl> impl, bool featureClass);
    static Table::Impl& impl(const Table& t) { return *t.impl_; }
};

struct CursorAccess {
    // ids: walk these object ids instead of every record. keysOnly: read
    // only what the clause needs and hand out rows carrying just their ids.
    static Cursor open(TablePtr table, WhereClause where, bool recycling, bool update,
                       const std::vector<int64_t>* ids, bool keysOnly);
};

namespace data {
std::string lower(std::string s);

// Registry of the host type codes of fields created by this process.
void rememberFieldType(const std::string& dbfPath, const std::string& field, int32_t type);
void forgetFieldType(const std::string& dbfPath, const std::string& field);
void forgetDataset(const std::string& dbfPath);
void copyDatasetTypes(const std::string& fromDbf, const std::string& toDbf);

// Checks a new field definition and fills in default widths; fails with a
// clear description. checkName: refuse names the dBASE file cannot hold.
FieldDef checkNewField(const Fields& existing, const FieldDef& f, bool checkName);
std::unique_ptr<OGRFieldDefn> toOgr(const FieldDef& f);

// Files of the dataset base (folder/name) that exist, main files first.
std::vector<std::string> datasetFiles(const std::string& folder, const std::string& name);
bool anyReadOnly(const std::string& base);
std::string canonical(const std::string& path);
// Open datasets by folder/name (no extension): a shapefile and its .dbf are
// one dataset.
void cacheTable(const TablePtr& t);
TablePtr cachedTable(const std::string& base);
}  // namespace data

}  // namespace korvane::host
