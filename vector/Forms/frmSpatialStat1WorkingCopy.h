#pragma once
// The working copy of a metric run: the layer's selected features (all
// features when none is selected) copied to a new shapefile.
#include <string>

#include "host/Layer.h"
#include "host/data/Table.h"

namespace kv {

// Makes the shapefile NewShapeName (no extension; it must not exist yet) in
// Directory from the polygon feature layer SourceLayer: a copy of its whole
// dataset when nothing is selected, else an export of the selected features
// with every field. Nothing when the copy fails (the error report has been
// shown).
korvane::host::FeatureClassPtr SaveSelectedFeatures(const korvane::host::LayerPtr& SourceLayer,
                                                    const std::string& NewShapeName, const std::string& Directory);

}  // namespace kv
