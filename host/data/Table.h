#pragma once
// Tables and feature classes stored as dBASE tables and shapefiles, their
// rows, and the cursors that read and write them.
//
// Field order: the object id first ("FID" in a shapefile, "OID" in a dBASE
// table), then for a feature class the shape ("Shape"), then the attribute
// fields in file order. Object ids are the record numbers, from 0.
//
// Field types in files: dBASE cannot tell a single from a double, nor a
// short from a long integer, so the host's type code of a field is kept
// for the fields this process created (also after the table is reopened),
// and otherwise inferred on opening:
//   numeric without decimals, width <= 5  -> short integer (0)
//   numeric without decimals, wider       -> long integer (1)
//   numeric with decimals                 -> double (3)
//   character                             -> text (4)
//   date                                  -> date (5)
// Fields are created exactly as defined: text with its length, numbers with
// their precision as the column width and their scale as decimal places.
// A width of 0 takes a default: text 50, short 5, long 9, single 13 and
// double 19 wide (with 11 decimals unless a scale is given).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/data/Field.h"
#include "host/data/Geometry.h"
#include "host/data/QueryFilter.h"
#include "host/data/SpatialReference.h"
#include "host/data/Value.h"

namespace korvane::host {

class Table;
class FeatureClass;
using TablePtr = std::shared_ptr<Table>;
using FeatureClassPtr = std::shared_ptr<FeatureClass>;

// One row of a table (a feature, for a feature class). Values are checked
// and converted to the field's type when they are set; store() writes them.
class Row {
public:
    int64_t oid() const { return oid_; }
    const Fields& fields() const;
    Table& table() const { return *table_; }

    const Value& value(int32_t index) const;
    // Every value, one per field in field order.
    const std::vector<Value>& values() const { return values_; }
    // Fails (HostInvalidArg) when there is no such field.
    const Value& value(std::string_view fieldName) const;
    // Converts the value to the field's type: numbers between the numeric
    // types (rounded to the nearest integer for integer fields), text that is
    // a number into numeric fields, numbers into text fields as text. Fails
    // (HostInvalidArg) for the object id and shape fields, for values out of
    // range and for text that is no number in a numeric field.
    void setValue(int32_t index, Value v);
    void setValue(std::string_view fieldName, Value v);

    // The shape of a feature; empty for table rows and for null shapes.
    const Geometry& shape() const { return shape_; }
    // Fails (HostInvalidArg) when the shape's type does not fit the class.
    void setShape(Geometry g);

    // Writes the row: a row from createRow() is added (and gets its object
    // id), any other row overwrites its record.
    void store();
    // Deletes the row's record. Object ids stay as they are while the table
    // is open; the deleted records are packed away when it is closed, and the
    // rows after them then have lower ids.
    void deleteRow();

private:
    friend class Table;
    friend class Cursor;
    std::shared_ptr<Table> table_;
    int64_t oid_ = -1;
    std::vector<Value> values_;
    Geometry shape_;
    bool shapeSet_ = false;  // setShape since the row was read
    // The fields set since the row was read: an update writes only these,
    // and every other field keeps the bytes the file holds.
    std::vector<bool> set_;
};
using RowPtr = std::shared_ptr<Row>;

// The value converted to the field's type as Row::setValue converts it, and
// checked to fit the field's column as storing the row checks it, so that a
// run can check every value before it writes the first. Fails
// (HostInvalidArg) as those do.
Value valueForField(const FieldDef& field, Value v);
using Feature = Row;
using FeaturePtr = RowPtr;

// A forward-only stream of rows. A recycling cursor hands out the same row
// object each time, refilled; a non-recycling one a new row per call.
class Cursor {
public:
    Cursor();
    ~Cursor();
    Cursor(Cursor&&) noexcept;
    Cursor& operator=(Cursor&&) noexcept;

    // The next row, or nullptr at the end.
    RowPtr next();
    // Update cursors only: write the row back / delete the last row returned.
    void updateRow(const Row& row);
    void deleteRow();

private:
    friend struct CursorAccess;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Adds rows. A buffered cursor may hold rows until flush() (or its end).
class InsertCursor {
public:
    InsertCursor();
    ~InsertCursor();
    InsertCursor(InsertCursor&&) noexcept;
    InsertCursor& operator=(InsertCursor&&) noexcept;

    // A blank row of the table, to fill and hand to insertRow (reusable).
    RowPtr createRowBuffer();
    // Adds a row with the values and shape of row; returns its object id.
    int64_t insertRow(const Row& row);
    void flush();

private:
    friend class Table;
    std::shared_ptr<Table> table_;
    bool buffered_ = false;
    int32_t pending_ = 0;
};

class Table : public std::enable_shared_from_this<Table> {
public:
    virtual ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // Opens a shapefile (.shp) as a feature class or a dBASE file (.dbf) as
    // a table; the .dbf of a shapefile opens as its feature class. Fails
    // (HostFileNotFound) when the file is missing, and (HostGeneric) when it
    // cannot be read. An open dataset is shared: opening the same file again
    // gives the same object while it is alive.
    static TablePtr open(const std::string& path);

    // Dataset name (the file name without extension), folder and files.
    const std::string& name() const;
    const std::string& workspacePath() const;
    // The main file: the .shp of a feature class, the .dbf of a table.
    const std::string& path() const;
    std::string dbfPath() const;
    // Every file of the dataset that exists (.shp .shx .dbf .prj .cpg ...).
    std::vector<std::string> files() const;

    bool isFeatureClass() const;
    const Fields& fields() const;
    int32_t findField(std::string_view name) const;
    const std::string& oidFieldName() const;

    // The read-only attribute of the dataset's files (no write permission).
    bool isReadOnly() const;
    bool canCopy() const;
    bool canDelete() const;

    // Adds an attribute field at the end. Fails (HostInvalidArg) for a name
    // that the dBASE file cannot hold as given (see isValidDbfFieldName:
    // empty, longer than 10 bytes, a blank or a byte that is not printable
    // ASCII), a duplicate name (case-insensitive), an unknown type or
    // impossible widths; (HostAccessDenied) when the files are read-only.
    void addField(const FieldDef& field);
    // Adds several attribute fields at the end, in list order, with one
    // rewrite of the .dbf. Every definition is checked first (as addField
    // checks it, and against the others in the list); a refusal or a failed
    // write leaves the table's fields and files as they were.
    void addFields(const std::vector<FieldDef>& fields);
    void deleteField(std::string_view name);

    // The values of a row's added fields, one per field in list order.
    using AddedValues = std::vector<Value>;
    // Rewrites the attribute file in one pass: the attribute fields named in
    // keep stay, in their order and with their stored bytes, every other
    // attribute field goes, and the numeric fields `add` follow them. fill
    // is called for every row in object-id order, with the row's shape and
    // the values of the kept fields (the others are null), and gives the
    // added fields' values, converted and checked as Row::setValue and
    // storing the row would. The new file takes the old one's place only
    // when complete. False, with the fields and files as they were, when
    // this layer cannot make the change itself (direct writes off, a file it
    // does not reproduce, a field definition or a value that setValue or
    // storing would refuse, one the driver would write otherwise) or when
    // fill returns false: the caller then makes the change the ordinary way.
    // Fails (HostGeneric) when the new file cannot be written or put in
    // place, with the fields and files as they were. fill must not use the
    // table. read, when given, names the kept fields whose values fill is
    // given (the other kept fields read as null, their bytes still kept).
    bool rewriteFields(const std::vector<std::string>& keep, const std::vector<FieldDef>& add,
                       const std::function<bool(const Row& row, AddedValues& added)>& fill,
                       const std::vector<std::string>* read = nullptr);

    int64_t rowCount(const QueryFilter* filter = nullptr);
    // Fails (HostInvalidArg) when there is no row with that id.
    RowPtr row(int64_t oid);
    // A new, blank row; store() adds it.
    RowPtr createRow();

    // Rows in object-id order that match the filter (nullptr: all). The
    // where clause is compiled before the first row: a bad clause fails here.
    Cursor search(const QueryFilter* filter, bool recycling);
    // The same rows, for changing (updateRow) or deleting (deleteRow). Each
    // write reaches the files as it is made; a run whose changes must reach
    // them whole (or not at all) makes them in an EditSession.
    Cursor update(const QueryFilter* filter, bool recycling);
    InsertCursor insert(bool buffered);
    // Writes pending changes to the files.
    void flush();

    // Closes the files; every later use fails. Done by deleting the dataset.
    void close();

protected:
    struct Impl;
    explicit Table(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;

private:
    // The stages of rewriteFields (TableRewrite.cpp).
    struct Rewrite;
    friend class Row;
    friend class Cursor;
    friend class InsertCursor;
    friend class SelectionSet;
    friend class ShapefileWorkspace;
    friend struct TableAccess;
};

// The changes of one run to a table, put in place whole. From the session's
// start to commit(), every change to the table (rows stored or updated,
// fields added or deleted, rows added or deleted) is written into a working
// copy of its files under marked temporary names in its folder (see
// host/FileReplace.h), and the table reads its rows from there. commit()
// closes the working copy with every error checked and renames it over the
// files, the .dbf last; the .shp and .shx are replaced only when the
// shapefile driver itself wrote them (a row it stored), otherwise they are
// not touched. A session that ends without a commit (a failure, an
// exception, a kill) leaves the files as they were, byte for byte, and the
// table's fields as they were when it began; its working copy is removed.
//
// Starting fails as any write does when the files are read-only. A session
// started while one is open on the same table joins it: only the outermost
// one commits, and if a joined one ends without its commit the outer commit
// fails and writes nothing.
class EditSession {
public:
    explicit EditSession(Table& table);
    ~EditSession();
    EditSession(const EditSession&) = delete;
    EditSession& operator=(const EditSession&) = delete;

    // Puts the changes in place; fails (HostGeneric, or PermissionDenied when
    // a file cannot be written) with the files as they were.
    void commit();

private:
    TablePtr table_;
    bool done_ = false;
};

class FeatureClass : public Table {
public:
    // Opens a shapefile; fails when the path is not one.
    static FeatureClassPtr open(const std::string& shpPath);

    ShapeType shapeType() const;
    const std::string& shapeFieldName() const;
    int32_t shapeFieldIndex() const { return 1; }
    // From the .prj file; nothing when there is none.
    const std::optional<SpatialReference>& spatialReference() const;
    // The host unit code of the coordinate system (see SpatialReference.h).
    int32_t units() const;
    Envelope extent();

    FeaturePtr feature(int64_t oid) { return row(oid); }
    FeaturePtr createFeature() { return createRow(); }

private:
    friend struct TableAccess;
    using Table::Table;
};

}  // namespace korvane::host
