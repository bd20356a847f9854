#pragma once
// Feature layers of a map, and opening files as layers and tables.
#include <memory>
#include <ostream>
#include <string>

#include "host/Document.h"
#include "host/Layer.h"
#include "host/data/Relationship.h"
#include "host/data/SelectionSet.h"
#include "host/data/Table.h"

namespace korvane::host {

class RasterLayer;

class FeatureLayer : public Layer {
public:
    // name: the layer's name; empty takes the dataset's name.
    explicit FeatureLayer(FeatureClassPtr featureClass, std::string name = {});
    LayerKind kind() const override { return LayerKind::Feature; }

    const FeatureClassPtr& featureClass() const { return featureClass_; }
    // A new feature class clears the selection.
    void setFeatureClass(FeatureClassPtr fc);

    SelectionSet& selectionSet() { return selection_; }
    const SelectionSet& selectionSet() const { return selection_; }
    // Fails (HostInvalidArg) for a set of another feature class.
    void setSelectionSet(SelectionSet s);
    void selectFeatures(const QueryFilter* filter, SelectionMethod method);
    void clearSelection() { selection_.clear(); }

    // All features of the class that match, selected or not.
    Cursor search(const QueryFilter* filter, bool recycling);
    // The host unit code of the layer's coordinate system (0 when unknown).
    int32_t units() const override;

    // The join the layer shows (a memory relationship class whose origin is
    // the layer's feature class), or nothing. Fails (HostInvalidArg) for a
    // relationship of another origin.
    void displayRelationshipClass(MemoryRelationshipClassPtr rel, JoinType type);
    const MemoryRelationshipClassPtr& join() const { return join_; }
    JoinType joinType() const { return joinType_; }
    void removeJoin() { join_.reset(); }

    // The selection, kept in a map document.
    std::optional<std::vector<int64_t>> selectedIds() const override { return selection_.ids(); }
    void restoreSelectedIds(const std::vector<int64_t>& ids) override {
        selection_.clear();
        selection_.add(ids);
    }

private:
    FeatureClassPtr featureClass_;
    SelectionSet selection_;
    MemoryRelationshipClassPtr join_;
    JoinType joinType_ = JoinType::LeftOuter;
};
using FeatureLayerPtr = std::shared_ptr<FeatureLayer>;

// Opens a shapefile as a layer named after its dataset.
FeatureLayerPtr openFeatureLayer(const std::string& shpPath);
// Opens a dBASE file as a standalone table, the table opened.
StandaloneTablePtr openTableFile(const std::string& dbfPath);
// The unit code of a layer's coordinate system (feature and raster layers); 0 for other layers.
int32_t layerUnits(const Layer& layer);

// For the command line: a .shp opens as a feature layer, a .dbf as a table,
// a .tif, an .img or a GRID folder as a raster layer (see openRasterLayer).
// Fails (HostInvalidArg) for other files, (HostFileNotFound) when missing.
struct OpenedData {
    FeatureLayerPtr layer;
    StandaloneTablePtr table;
    std::shared_ptr<RasterLayer> raster;
};
OpenedData openData(const std::string& path);

// Makes the features matching the where clause the layer's new selection;
// returns how many are selected. A bad clause fails and leaves the
// selection as it was.
int64_t selectWhere(FeatureLayer& layer, const std::string& whereClause);

// A value as its dBASE column holds it: real numbers rounded to the field's
// decimals with the padding zeros left off, integers and text as they are,
// dates as YYYY-MM-DD, null empty.
std::string formatStored(const FieldDef& field, const Value& value);
// Writes the attribute fields of a table: one line of field names, then
// one line per row in object-id order, values separated by tabs (control
// characters in names and values escaped).
void printTable(Table& table, std::ostream& out);

}  // namespace korvane::host
