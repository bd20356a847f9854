#pragma once
// Create Patch Theme from Grid (clsG_createPatch). Enabled follows the
// table-of-contents selection on every poll (a raster layer selected). The
// command also holds the map and document events that set the library-wide
// MapLayersChanged flag: a layer added to or deleted from the focused map,
// a document opened. When another map becomes focused or a document is
// opened, the layer events move to the new focused map, so the commands
// that cache their Enabled answer never go stale.
#include <map>
#include <optional>

#include "host/Document.h"
#include "host/data/RasterLayer.h"
#include "raster/Classes/GridCommand.h"

namespace kv {

// The class dictionary of a patch run: ordinal code -> class value.
using PatchClasses = std::map<int32_t, korvane::host::Value>;

// The name a patch raster of the layer gets in the folder: the layer's name
// when nothing of that name is there, else the name cut and numbered in
// stages (the first 11 characters and _1 to _9, the first 10 and _10 to
// _99, the first 9 and _100 to _999). A name ending in ".tif" or ".img"
// keeps that extension and the stages cut the part before it. A candidate
// is taken only when no file or folder of that dataset (its sidecars
// included) exists. Nothing, with the reason in why, for a name with a path
// separator or "..", and when every candidate is taken.
std::optional<std::string> PatchRasterName(const std::string& folder, const std::string& layerName, std::string& why);

class clsG_createPatch : public GridCommand {
public:
    clsG_createPatch();
    ~clsG_createPatch() override;
    bool Enabled() override;
    std::string Needs() override { return "a grid layer selected in the table of contents"; }
    void OnClick() override;

    // Groups the grid into patches by the class field (8 or 4 neighbours),
    // saves the patch raster in the folder, renders it by class and adds it
    // to the focused map.
    void RunClumper(const korvane::host::LayerPtr& InGrid, const std::string& ClassName, bool as8N,
                    const std::string& SaveLocation);
    // One class per distinct class value, ascending, each labelled with its
    // value and coloured from a seeded random ramp. `tableHasColours`: the
    // raster's value table was written with these colours already.
    void ChangeRenderToUVRenderer(korvane::host::RasterLayer& InputRasterLayer, const std::string& FieldName,
                                  const PatchClasses& DictValues, bool tableHasColours = false);

    // The map whose layer events the command follows (for tests).
    korvane::host::MapPtr connectedMap() const { return m_pMap; }

protected:
    void created() override;

private:
    void m_pMap_ItemAdded();
    void m_pMap_ItemDeleted();
    void m_mxDoc_OpenDocument();
    void m_mxDoc_MapsChanged();
    void m_mxDoc_FocusMapChanged();
    void connectMap(const korvane::host::MapPtr& map);
    void disconnect();

    korvane::host::MapPtr m_pMap;
    korvane::host::DocumentPtr m_mxDoc;
    int added_ = 0, deleted_ = 0, opened_ = 0, maps_ = 0, focus_ = 0;
};

}  // namespace kv
