#pragma once
// A folder of shapefiles and dBASE tables.
#include <memory>
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

    // Gives a dataset that was made under a temporary name (a working copy)
    // its own name: each file renamed, sidecars first and the .dbf last.
    // Fails (HostGeneric) when a dataset of the new name exists. An open
    // table of the old name is closed; the dataset is returned open.
    TablePtr renameDataset(const std::string& from, const std::string& to) const;

private:
    explicit ShapefileWorkspace(std::string path) : path_(std::move(path)) {}
    std::string datasetPath(const std::string& name, const char* ext) const;
    // type Null: a dBASE table. prjFrom: a .prj file copied as it is.
    TablePtr create(const std::string& name, const std::vector<FieldDef>& fields, ShapeType type,
                    const SpatialReference* sr, const std::string& prjFrom, bool checkNames) const;

    std::string path_;
};

class FileReplacement;

// A new version of the dataset `name` of a workspace (a table, or a
// shapefile when featureClass), written under a marked temporary name (see
// host/FileReplace.h) and put in place of the old one (if any) only by
// commit(): each file is renamed over its counterpart, sidecars first and the
// .dbf last, and the old files are never deleted first. Destroyed without a
// commit, it removes every file of the temporary dataset.
//
//     DatasetReplacement next(ws, "stats", false);
//     TablePtr t = ws.createTable(next.temporaryName(), fields);   // or copyDataset(old, …)
//     … write t …
//     t.reset();
//     TablePtr stats = next.commit();
class DatasetReplacement {
public:
    DatasetReplacement(const ShapefileWorkspace& ws, const std::string& name, bool featureClass);
    ~DatasetReplacement();
    DatasetReplacement(const DatasetReplacement&) = delete;
    DatasetReplacement& operator=(const DatasetReplacement&) = delete;

    const std::string& name() const { return name_; }
    // The dataset name to write the new version under.
    const std::string& temporaryName() const { return temporaryName_; }
    // Its file with the extension (".dbf").
    std::string temporaryPath(const char* ext) const;

    // Closes the temporary and any open table of the old dataset, puts the
    // new files in place, removes sidecars of the old dataset that the new
    // one lacks (stale indexes), and returns the dataset under its own name.
    // Fails as FileReplacement::commit does: the files not yet renamed stay.
    TablePtr commit();

private:
    std::string folder_, name_, temporaryName_;
    bool featureClass_;
    std::unique_ptr<FileReplacement> files_;
    bool committed_ = false;
};

}  // namespace korvane::host
