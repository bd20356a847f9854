#include "raster/Classes/clsG_SelectPatches.h"

#include "host/Ui.h"
#include "raster/Modules/modMisc.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"

namespace kv {

namespace h = korvane::host;

clsG_SelectPatches::clsG_SelectPatches()
    : GridCommand("Classes/clsG_SelectPatches", "gridPatchSelect", "Select Patches Based on Attributes") {}

bool clsG_SelectPatches::Enabled() {
    bool result = false;
    KV_MEMBER("ICommand_Enabled").run([&] {
        KV_LINE;
        result = IsRasterLayerSelected(hook());
    });
    return result;
}

void clsG_SelectPatches::OnClick() {
    KV_MEMBER("ICommand_OnClick").run([&] {
        // Without the hook there is no map to look at.
        KV_LINE;
        if (hook() && Map()->layerCount() == 0) {
            MsgBox("There are no layers loaded.  Cannot continue.", h::mb::OKOnly);
            return;
        }
        KV_LINE;
        if (!hook()) {
            MsgBox("Error with ArcMap hook", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        KV_LINE;
        h::LayerPtr selected = hook()->document()->selectedLayer();
        if (!selected) {
            MsgBox("You need to have one, and only one, layer selected.", h::mb::Information,
                   "Invalid Layer Selection");
            return;
        }
        KV_LINE;
        if (selected->kind() != h::LayerKind::Raster) {
            MsgBox("Layer must be a grid layer.", h::mb::OKOnly);
            return;
        }
        // The grid layer is all this command looks for; it selects nothing yet.
    });
}

}  // namespace kv
