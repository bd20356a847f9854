#include "raster/Classes/clsGridCreatePatch.h"

#include "host/Failure.h"
#include "host/Ui.h"
#include "raster/Modules/modMisc.h"
#include "raster/Modules/modSimpleInput.h"
#include "shared/modMisc.h"
#include "shared/modSimpleInput.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"

namespace kv {

namespace h = korvane::host;

clsG_createPatch::clsG_createPatch()
    : GridCommand("Classes/clsGridCreatePatch", "gridPatchCreate", "Create Patch Theme from Grid") {}

clsG_createPatch::~clsG_createPatch() { disconnect(); }

void clsG_createPatch::disconnect() {
    if (m_pMap) {
        m_pMap->itemAdded.disconnect(added_);
        m_pMap->itemDeleted.disconnect(deleted_);
    }
    if (m_mxDoc) {
        m_mxDoc->openDocument.disconnect(opened_);
        m_mxDoc->mapsChanged.disconnect(maps_);
        m_mxDoc->focusMapChanged.disconnect(focus_);
    }
    m_pMap.reset();
    m_mxDoc.reset();
}

void clsG_createPatch::connectMap(const h::MapPtr& map) {
    if (m_pMap == map) return;
    if (m_pMap) {
        m_pMap->itemAdded.disconnect(added_);
        m_pMap->itemDeleted.disconnect(deleted_);
    }
    m_pMap = map;
    if (!m_pMap) return;
    added_ = m_pMap->itemAdded.connect([this](const h::LayerPtr&) { m_pMap_ItemAdded(); });
    deleted_ = m_pMap->itemDeleted.connect([this](const h::LayerPtr&) { m_pMap_ItemDeleted(); });
}

void clsG_createPatch::created() {
    disconnect();
    m_mxDoc = hook()->document();
    if (!m_mxDoc) h::failObjectNotSet();
    connectMap(m_mxDoc->focusMap());
    opened_ = m_mxDoc->openDocument.connect([this] { m_mxDoc_OpenDocument(); });
    maps_ = m_mxDoc->mapsChanged.connect([this] { m_mxDoc_MapsChanged(); });
    focus_ = m_mxDoc->focusMapChanged.connect([this] { m_mxDoc_FocusMapChanged(); });
}

bool clsG_createPatch::Enabled() {
    bool result = false;
    KV_MEMBER("ICommand_Enabled").run([&] {
        KV_LINE;
        result = IsRasterLayerSelected(hook());
    });
    return result;
}

void clsG_createPatch::OnClick() {
    KV_MEMBER("ICommand_OnClick").run([&] {
        KV_LINE;
        CheckAndSetMapUnits(hook());
        KV_LINE;
        h::MapPtr map = Map();
        if (!map || map->layerCount() == 0) {
            MsgBox("There are no layers loaded.  Cannot continue.", h::mb::OKOnly);
            return;
        }
        if (!hook()) {
            MsgBox("Error with ArcMap hook", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        KV_LINE;
        h::LayerPtr layer = hook()->document()->selectedLayer();
        if (!layer) {
            MsgBox("You need to have one, and only one, layer selected.", h::mb::Information, "Invalid Layer Selection");
            return;
        }
        if (!std::dynamic_pointer_cast<h::RasterLayer>(layer)) {
            MsgBox("Layer must be a grid layer to create patch from.", h::mb::OKOnly);
            return;
        }
        KV_LINE;
        std::string field = ListInput("\r\nChoose the field to reclass and clump by: ", GetFields(layer), "Clumping Field");
        if (field.empty()) return;
        KV_LINE;
        std::string method =
            ListInput("\r\nChoose clumping method", {"4N - Use Orthogonals", "8N - Use Diagonals"}, "Clumping Method");
        KV_LINE;
        std::string folder = GetDirectory("Select Folder to Save New Grid in");
        if (folder.empty() || method.empty()) return;
        KV_LINE;
        RunClumper(layer, field, method != "4N - Use Orthogonals", folder);
    });
}

void clsG_createPatch::m_pMap_ItemAdded() {
    KV_MEMBER("m_pMap_ItemAdded").run([&] { SetMapLayersChanged(true); });
}

void clsG_createPatch::m_pMap_ItemDeleted() {
    KV_MEMBER("m_pMap_ItemDeleted").run([&] { SetMapLayersChanged(true); });
}

void clsG_createPatch::m_mxDoc_OpenDocument() {
    KV_MEMBER("m_mxDoc_OpenDocument").run([&] {
        KV_LINE;
        SetMapLayersChanged(true);
        KV_LINE;
        connectMap(m_mxDoc->focusMap());
    });
}

void clsG_createPatch::m_mxDoc_MapsChanged() {
    KV_MEMBER("m_mxDoc_MapsChanged").run([&] {});
}

void clsG_createPatch::m_mxDoc_FocusMapChanged() {
    KV_MEMBER("m_mxDoc_FocusMapChanged").run([&] {
        KV_LINE;
        connectMap(m_mxDoc->focusMap());
        KV_LINE;
        SetMapLayersChanged(true);
    });
}

}  // namespace kv
