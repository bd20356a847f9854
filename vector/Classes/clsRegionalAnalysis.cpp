#include "vector/Classes/clsRegionalAnalysis.h"

#include "host/Ui.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"
#include "vector/Forms/frmRegionalAnalysis.h"

KV_MODULE("Classes/clsRegionalAnalysis");

namespace kv {

namespace h = korvane::host;

clsRegionalAnalysis::clsRegionalAnalysis()
    : VectorCommand(kvModulePath_, "AnalysisByRegion", "Analysis by Regions", EnabledRule::OneLayer) {}

std::unique_ptr<KorvaneForm> clsRegionalAnalysis::createDialog() { return std::make_unique<frmRegionalAnalysis>(); }

// The hook is tested before anything reads the focused map; then the map
// must hold layers and have units before the dialog is shown.
void clsRegionalAnalysis::OnClick() {
    KV_PROCEDURE("ICommand_OnClick", TopLevel).run([&] {
        KV_LINE;
        if (!hook()) {
            MsgBox("Error with ArcMap hook", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        KV_LINE;
        h::MapPtr map = Map();
        if (!map || map->layerCount() == 0) {
            MsgBox("There are no layers loaded.  Cannot continue", h::mb::OKOnly);
            return;
        }
        KV_LINE;
        CheckAndSetMapUnits(hook());
        KV_LINE;
        h::SetWindowLongA(dialog()->hWnd(), h::GWL_HWNDPARENT, hook()->hWnd());
        KV_LINE;
        ShowForm(*dialog(), false);
    });
}

}  // namespace kv
