#pragma once
// The core-area run that both libraries' Create Core Areas dialogs carry out:
// every patch of a polygon layer buffered inward by the edge width, its core
// written to a new shapefile with the patch's ID, the patch area, the core
// area and the area of each written part. The stages are separate functions
// so that each dialog puts them together with its own messages and its own
// way of ending the run; the geometry work is the same in both.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Field.h"
#include "host/data/Geometry.h"
#include "host/data/Table.h"
#include "host/data/Workspace.h"
#include "shared/ErrorHandling.h"

namespace kv {

// The polygon parts of a shape in the order the shape holds them, each with
// its own holes; a single polygon gives itself, other shapes nothing.
std::vector<korvane::host::Geometry> PolygonParts(const korvane::host::Geometry& shape);

// The core of one patch: its shape buffered inward by |distance|, a little
// further after a buffer the geometry engine refuses (ten attempts, then
// the failure stands); an invalid result is made valid.
korvane::host::Geometry CoreOf(const korvane::host::Geometry& shape, double distance);

// The output chosen in a save dialog: the folder up to the last separator
// and the file title without its extension ".shp" in any letter case.
struct ShapefileTarget {
    std::string folderName;
    std::string shapefileName;
};
ShapefileTarget SplitShapefilePath(const std::string& fullPath);

// A request that passed its checks: the source layer, its class and the ID field.
struct CoreSource {
    korvane::host::FeatureLayer* layer = nullptr;
    korvane::host::FeatureClassPtr featureClass;
    int32_t idIndex = -1;
    korvane::host::FieldDef idField;
};

// Checks the request before anything is written: the layer is on the map
// (top level, exact name), the ID field is one of its attribute fields whose
// name is not one of the area fields, and the output is not the data of a
// layer of the map. Nothing, after its message, otherwise.
std::optional<CoreSource> CheckCoreRequest(Procedure& kvProc_, const korvane::host::MapPtr& map,
                                           const std::string& folderName, const std::string& shapefileName,
                                           const std::string& strLayerName, const std::string& strIDFieldName);

// The empty core-area class (Shape, the ID field as defined, Patch_Area,
// Core_Area and Area as Double 20,5, the source's coordinate system when
// sr is given) made under a temporary name beside the output it is to
// replace, with the replacement that puts it in place. Nothing when the
// class cannot be made or an old output of the name cannot be replaced
// (read-only files or folder); nothing has been touched then.
struct PendingCores {
    korvane::host::FeatureClassPtr featureClass;
    std::unique_ptr<korvane::host::DatasetReplacement> replacement;
};
std::optional<PendingCores> MakeCoreShapefile(const std::string& folderName, const std::string& shapefileName,
                                              const korvane::host::FieldDef& idField,
                                              const korvane::host::SpatialReference* sr);

// The source features of one run and the writing of their cores. Each
// step() works through the current feature (buffer, measure, write its
// core or parts, the flush rule) and reads the next; the insert cursor is
// flushed after every 102nd source feature and by finish(), so that what a
// run has flushed is in the files whole.
class CoreAreaRun {
public:
    // The layer's selection when it has one, else every feature; the first
    // feature is read. With writeEmpty a patch whose core comes out empty
    // is written too (no shape, Core_Area and Area 0), so that every
    // patch's ID is in the output; else it is left out.
    CoreAreaRun(Procedure& kvProc_, const CoreSource& source, const korvane::host::FeatureClassPtr& cores,
                double strBufferSize, bool blnExplode, bool writeEmpty = false);

    // The number of source features the run reads.
    int64_t total() const { return total_; }
    // The current source feature; nothing once the features are done.
    const korvane::host::FeaturePtr& feature() const { return feature_; }
    // Core features written plus source features finished (the count the
    // run's error message gives).
    int32_t featuresRunThrough() const { return featuresRunThrough_; }

    void step(Procedure& kvProc_);
    // The last flush; the output class is then closed to this run.
    void finish(Procedure& kvProc_);

private:
    void write(Procedure& kvProc_, korvane::host::Geometry part, double patchArea, double coreArea,
               double partArea, const korvane::host::Value& id);

    korvane::host::Cursor cursor_;
    korvane::host::InsertCursor inserts_;
    korvane::host::RowPtr buffer_;
    korvane::host::FeaturePtr feature_;
    int64_t total_ = 0;
    int32_t sourceId_ = -1;
    int32_t patchAreaIndex_ = -1, coreAreaIndex_ = -1, areaIndex_ = -1, idIndex_ = -1;
    double distance_ = 0;
    bool explode_ = true;
    bool writeEmpty_ = false;
    int16_t flushCounter_ = 0;
    int32_t featuresRunThrough_ = 0;
};

}  // namespace kv
