#pragma once
// Layer, field and cursor utilities of the vector library.
#include <optional>
#include <string>
#include <vector>

#include "host/Forms.h"
#include "host/data/FeatureLayer.h"

namespace korvane::host { class Application; }

namespace kv {

// True when the layer selected in the table of contents is a feature layer.
bool IsLayerSelected(korvane::host::Application* app);

// Adds the names of the map's top-level feature layers to the list, in map
// order (nothing for no map). Failures pass to the caller.
void AddFeatureLayerNames(const korvane::host::MapPtr& map, korvane::host::ListBox& list);

// Refills the combo box with the layer's field names, without FID and Shape.
void PopulateFieldListBox(const korvane::host::LayerPtr& layer, korvane::host::ComboBox& combo);

// A cursor over the layer's selected features (all features when none is
// selected), filtered by the where clause when one is given. Nothing, with
// no message, when the data source rejects the clause.
std::optional<korvane::host::Cursor> getCursor(const korvane::host::LayerPtr& layer, const std::string& whereClause);

// Gives a polygon shapefile layer the fields Area and Perimeter and fills
// them from every feature's shape. With noConfirm false the user is asked
// before an existing field is overwritten.
//
// written, when given, receives the values as computed (full precision),
// one per feature in object-id order; it stays empty unless both fields were
// filled for every feature.
struct AreaAndPerimeter {
    std::vector<double> area, perimeter;
};
void AddAreaAndPerimFields(const korvane::host::LayerPtr& layer, bool noConfirm,
                           AreaAndPerimeter* written = nullptr);

}  // namespace kv
