#pragma once
// A folder of shapefiles and dBASE tables.
#include <string>
#include <vector>

#include "host/data/SelectionSet.h"
#include "host/data/SpatialReference.h"
#include "host/data/Table.h"

namespace korvane::host {

class ShapefileWorkspace {
public:
    // Fails (HostFileNotFound) when the folder does not exist.
    static ShapefileWorkspace open(const std::string& folder);

    const std::string& path() const { return path_; }
    // Whether a dataset of that name (with or without .shp / .dbf) is there.
    bool exists(const std::string& name) const;
    // Names of the shapefiles and dBASE tables in the folder, sorted.
    std::vector<std::string> datasetNames() const;

    // name: "roads" or "roads.shp"; "table" or "table.dbf".
    FeatureClassPtr openFeatureClass(const std::string& name) const;
    TablePtr openTable(const std::string& name) const;

    // Creates a new shapefile with the attribute fields (object id and shape
    // fields in the list are ignored; the rest are checked as by
    // Table::addField). sr, when given, is written as the .prj file. Fails
    // (HostGeneric) when a dataset of that name exists.
    FeatureClassPtr createFeatureClass(const std::string& name, const std::vector<FieldDef>& fields, ShapeType type,
                                       const SpatialReference* sr = nullptr) const;
    // Creates a new dBASE table.
    TablePtr createTable(const std::string& name, const std::vector<FieldDef>& fields) const;

    // Deletes the dataset's files, every sidecar included; an open table of
    // it is closed. Fails (HostFileNotFound) when there is none,
    // (HostAccessDenied) when it is read-only.
    void deleteDataset(const std::string& name) const;

    // Copies every file of the dataset under the new name; the copy keeps the
    // files' read-only attribute. Fails when the new name exists.
    TablePtr copyDataset(Table& source, const std::string& newName) const;
    // A new shapefile with the fields, shape type and coordinate system of
    // source, holding only the features of the selection.
    FeatureClassPtr exportFeatures(FeatureClass& source, const SelectionSet& selection, const std::string& newName) const;

private:
    explicit ShapefileWorkspace(std::string path) : path_(std::move(path)) {}
    std::string datasetPath(const std::string& name, const char* ext) const;
    // type Null: a dBASE table. prjFrom: a .prj file copied as it is.
    TablePtr create(const std::string& name, const std::vector<FieldDef>& fields, ShapeType type,
                    const SpatialReference* sr, const std::string& prjFrom, bool checkNames) const;

    std::string path_;
};

}  // namespace korvane::host
