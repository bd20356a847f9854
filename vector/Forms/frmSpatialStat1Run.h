#pragma once
// The vector metric run: measures the patches of one polygon layer of the
// focused map and writes the results into the spatial statistics table.
// It takes everything as arguments, so that the dialog and the batch runner
// call it alike.
#include <string>
#include <vector>

#include "host/Application.h"
#include "host/Forms.h"

namespace kv {

// owner: the dialog whose window owns the progress window (may be nullptr
// when the run has no shown dialog, as in a batch run).
void RunSpatialStats(korvane::host::Application* ArcMapApp, const std::string& ThemeName,
                     const std::string& ClassField, bool blnRaster, bool blnAddNewLayerToMap,
                     const std::string& NewTableFileName, bool blnAppend,
                     const std::vector<std::string>& CheckedBoxes, bool blnLandscape, bool blnAsHectares,
                     korvane::host::Form* owner = nullptr);

}  // namespace kv
