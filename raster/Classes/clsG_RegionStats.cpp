#include "raster/Classes/clsG_RegionStats.h"

#include "host/Failure.h"
#include "host/Forms.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "raster/Modules/UtilModule.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"

namespace kv {

namespace h = korvane::host;

clsG_RegionStats::clsG_RegionStats()
    : GridCachingCommand("Classes/clsG_RegionStats", "gridRegionStats", "Spatial Statistics (by Regions)") {}

bool clsG_RegionStats::EnabledTest() {
    h::MapPtr map = Map();
    if (!map || map->layerCount() < 2) return false;
    bool feature = false, grid = false;
    for (const h::LayerPtr& layer : map->layers()) {
        if (std::dynamic_pointer_cast<h::FeatureLayer>(layer)) feature = true;
        else if (!grid && IsUsableIntegerGrid(layer)) grid = true;
        if (feature && grid) break;
    }
    return feature && grid;
}

void clsG_RegionStats::OnClick() {
    KV_MEMBER("ICommand_OnClick").run([&] {
        KV_LINE;
        if (!hook()) {
            MsgBox("Error with ArcMap hook", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        h::MapPtr map = Map();
        if (!map || map->layerCount() == 0) {
            MsgBox("There are no layers loaded.  Cannot continue.", h::mb::OKOnly);
            return;
        }
        KV_LINE;
        OpenGridDialog(dialogs_, hook());
    });
}

}  // namespace kv
