#include "vector/Classes/clsAreaPerimeter.h"

#include "host/Ui.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"
#include "vector/Modules/modMisc.h"

KV_MODULE("Classes/clsAreaPerimeter");

namespace kv {

namespace h = korvane::host;

clsAreaPerimeter::clsAreaPerimeter()
    : VectorCommand(kvModulePath_, "addPerimeterAndArea", "Add/Refresh Area and Perimeter fields",
                    EnabledRule::LayerSelected) {}

void clsAreaPerimeter::clickWithoutDialog() {
    KV_PROCEDURE("ICommand_OnClick", TopLevel).run([&] {
        // The hook comes first: nothing may read the map without it.
        KV_LINE;
        if (!hook()) {
            MsgBox("Error with ArcMap hook", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        KV_LINE;
        h::MapPtr map = Map();
        KV_LINE;
        if (!map || map->layerCount() == 0) {
            MsgBox("There are no layers loaded.  Cannot continue.", h::mb::OKOnly);
            return;
        }
        KV_LINE;
        h::LayerPtr layer = hook()->document()->selectedLayer();
        if (!layer) {
            KV_LINE;
            MsgBox("You need to have one, and only one, layer selected.", h::mb::Information,
                   "Invalid Layer Selection");
            return;
        }
        // The units are settled before the question and stay set when the
        // user declines.
        KV_LINE;
        CheckAndSetMapUnits(hook());
        KV_LINE;
        int32_t answer = MsgBox("Calculate Area and Perimeter for " + layer->name() + "?",
                                h::mb::YesNo | h::mb::DefaultButton1, "Confirm Change");
        if (answer != h::mb::Yes) return;
        KV_LINE;
        AddAreaAndPerimFields(layer, false);
    });
}

}  // namespace kv
