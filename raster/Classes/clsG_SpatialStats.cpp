#include "raster/Classes/clsG_SpatialStats.h"

#include "host/Failure.h"
#include "host/Forms.h"
#include "host/Ui.h"
#include "raster/Modules/UtilModule.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"

namespace kv {

namespace h = korvane::host;

clsG_SpatialStats::clsG_SpatialStats()
    : GridCachingCommand("Classes/clsG_SpatialStats", "gridSpatialStats", "Spatial Statistics (FragStats Interface)") {}

bool clsG_SpatialStats::EnabledTest() {
    h::MapPtr map = Map();
    if (!map || map->layerCount() < 1) return false;
    for (const h::LayerPtr& layer : map->layers())
        if (IsUsableIntegerGrid(layer)) return true;
    return false;
}

size_t clsG_SpatialStats::openDialogs() const {
    size_t n = 0;
    for (const auto& d : dialogs_) n += d->loaded() ? 1 : 0;
    return n;
}

void clsG_SpatialStats::OnClick() {
    KV_MEMBER("ICommand_OnClick").run([&] {
        KV_LINE;
        if (!hook()) {
            MsgBox("Error with ArcMap hook", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        KV_LINE;
        h::MapPtr map = Map();
        if (!map || map->layerCount() == 0) {
            MsgBox("There are no layers loaded.  Cannot continue.", h::mb::OKOnly);
            return;
        }
        // Dialogs closed since the last click are let go; open ones stay.
        KV_LINE;
        OpenGridDialog(dialogs_, hook());
    });
}

}  // namespace kv
