#pragma once
// Create Patch Theme from Grid (clsG_createPatch). Enabled follows the
// table-of-contents selection on every poll (a raster layer selected). The
// command also holds the map and document events that set the library-wide
// MapLayersChanged flag: a layer added to or deleted from the focused map,
// a document opened. When another map becomes focused or a document is
// opened, the layer events move to the new focused map, so the commands
// that cache their Enabled answer never go stale.
#include "host/Document.h"
#include "raster/Classes/GridCommand.h"

namespace kv {

class clsG_createPatch : public GridCommand {
public:
    clsG_createPatch();
    ~clsG_createPatch() override;
    bool Enabled() override;
    void OnClick() override;

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
