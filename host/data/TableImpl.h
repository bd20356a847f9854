#pragma once
// Internals shared by the data layer's sources (Table, SelectionSet,
// ShapefileWorkspace); not part of the public interface.
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/FileReplace.h"
#include "host/data/DbfFile.h"
#include "host/data/ReadOnlyWatch.h"
#include "host/data/ShapefileAppend.h"
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
    uint64_t layerOpenings = 0;   // counts the times layer was (re)opened
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
    std::vector<bool> deletedIds;  // records deleted while open
    data::ReadOnlyWatch readOnly;

    // Attribute-only row writes go straight into the .dbf (see DbfFile.h).
    // The driver's cached view of those records is then stale: they are
    // "dirty", and the driver lets go of the files (to reopen them on its
    // next use) before it reads one of them or rewrites whole files.
    std::unique_ptr<data::DbfRecordWriter> records;
    bool recordsTried = false;   // the writer was refused since the dataset opened
    bool driverWrote = false;    // the driver wrote since it was last synced
    std::vector<uint64_t> dirty;
    int64_t dirtyCount = 0;

    // An open edit session (see EditSession): the driver and the dBASE
    // writer work on a working copy of the files under marked names, which
    // its commit renames over the files.
    struct Edit {
        // The .shp and .shx of a feature class, then the .dbf.
        std::unique_ptr<FileReplacement> files;
        std::string base;  // the working copy's folder/name
        std::string path;  // its main file
        // Whether its .shp and .shx are files of its own; until then they are
        // links to the originals, which the driver opens only for reading.
        bool ownShapes = false;
        int depth = 1;
        bool spoiled = false;  // a joined session ended without its commit
        // What the table is again when the edit is dropped.
        Fields fields;
        std::vector<std::pair<std::string, int32_t>> types;
        bool deletedKnown = false;
        bool deletedThisSession = false;
        int64_t deleted = 0;
        std::vector<bool> deletedIds;
    };
    std::unique_ptr<Edit> edit;
    // The files the driver and the writer use: the working copy's in an edit.
    std::string workingBase() const;
    std::string workingPath() const;
    void beginEdit(const char* source);
    void commitEdit(const char* source);
    // Drops the working copy; the table is as it was when the edit began.
    void abandonEdit() noexcept;
    // Before the driver itself writes (a row it stores, a field change or
    // deletion it makes) or the appender adds rows: in an edit, the working
    // copy's shapes become files of its own, and the driver reopens them for
    // update.
    void readyForDriverWrite(const char* source);

    // Inserts into a polygon shapefile are appended by this code (see
    // ShapefileAppend.h) while nothing else needs the driver; any other use
    // of the dataset first writes them out and gives the files back to it.
    std::unique_ptr<data::ShapefileAppender> appender;
    bool appendRefused = false;   // a row or the files needed the driver

    ~Impl();
    void openDataset(bool forUpdate);
    // Closes the driver's dataset without packing; the next lyr() reopens it.
    void releaseDataset();
    void readFields();
    // Fails when closed, or when the files are read-only; reopens for update.
    void prepareWrite(const char* source);
    // The layer, reopened when it was released.
    OGRLayer& lyr(const char* source);
    bool isDirty(int64_t oid) const {
        size_t i = static_cast<size_t>(oid) >> 6;
        return oid >= 0 && i < dirty.size() && (dirty[i] >> (oid & 63) & 1);
    }
    void markDirty(int64_t oid);
    // Before the driver reads record oid: its view of it must be current.
    void readyToRead(int64_t oid) {
        if (dirtyCount > 0 && isDirty(oid)) releaseDataset();
    }
    // Gathered record writes go to the file.
    void flushRecords();
    // Before the driver rewrites whole files (field changes, packing): every
    // write made around it must be in the file and its view current.
    void syncDriver();
    // Attribute-only update of an existing row, straight into the .dbf;
    // false when the row must go through the driver.
    bool writeDirect(const Row& row);
    // After the driver has written out what it holds and let go of the
    // files: the layout of the working .dbf, nothing when it cannot be read
    // or its columns are not the table's fields.
    std::optional<data::DbfLayout> releasedDbfLayout();
    // A field change written by this code in one pass; false when it must go
    // through the driver.
    bool changeFieldsDirect(const data::DbfFieldChange& change);
    // Fails (HostInvalidArg) when a value does not fit its column; onlySet:
    // only the values set since the row was read.
    void checkWidths(const Row& row, bool onlySet) const;
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
    // An insert through the appender (opened on the first insert); -1 when
    // the driver must store the row.
    int64_t appendRow(const Row& row);
    // Writes the appended rows out and lets go of the appender.
    void finishAppending();
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
    // only what the clause needs and hand out rows carrying just their ids;
    // until such a cursor goes, the table's layer reads nothing else, so it
    // is read to its end before anything else reads the table (as
    // SelectionSet::select does).
    static Cursor open(TablePtr table, WhereClause where, bool recycling, bool update,
                       const std::vector<int64_t>* ids, bool keysOnly);
};

namespace data {
std::string lower(std::string s);

// Whether field changes and attribute-only updates are written by this
// layer itself (the default) or all through the driver. Off only to compare
// the two: both write the same bytes.
void setDirectDbfWrites(bool on);
bool directDbfWrites();
// How often each direct write was made (for tests).
struct DirectDbfCounts {
    int64_t fieldChanges = 0;
    int64_t records = 0;
    int64_t appended = 0;   // rows added by the appender
};
DirectDbfCounts& directDbfCounts();

// Registry of the host type codes of fields created by this process.
void rememberFieldType(const std::string& dbfPath, const std::string& field, int32_t type);
void forgetFieldType(const std::string& dbfPath, const std::string& field);
void forgetDataset(const std::string& dbfPath);
void copyDatasetTypes(const std::string& fromDbf, const std::string& toDbf);
// The registered types of a dataset's fields, and putting them back.
std::vector<std::pair<std::string, int32_t>> datasetTypes(const std::string& dbfPath);
void restoreDatasetTypes(const std::string& dbfPath, const std::vector<std::pair<std::string, int32_t>>& types);

// Checks a new field definition and fills in default widths; fails with a
// clear description. checkName: refuse names the dBASE file cannot hold.
FieldDef checkNewField(const Fields& existing, const FieldDef& f, bool checkName);
std::unique_ptr<OGRFieldDefn> toOgr(const FieldDef& f);

// Files of the dataset base (folder/name) that exist, main files first.
std::vector<std::string> datasetFiles(const std::string& folder, const std::string& name);
bool anyReadOnly(const std::string& base);
std::string canonical(const std::string& path);

// What is wrong with the files of the dataset at base (the path without
// extension), naming the file: a .dbf shorter than its records, a .shp or
// .shx shorter than its header says, index entries past the end of the .shp,
// a .dbf whose record count is not the index's. Nothing when they agree.
std::optional<std::string> datasetDamage(const std::string& base);
// Open datasets by folder/name (no extension): a shapefile and its .dbf are
// one dataset.
void cacheTable(const TablePtr& t);
TablePtr cachedTable(const std::string& base);
}  // namespace data

}  // namespace korvane::host
