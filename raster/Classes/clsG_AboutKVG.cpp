#include "raster/Classes/clsG_AboutKVG.h"

#include "host/Failure.h"
#include "host/Forms.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"

namespace kv {

namespace h = korvane::host;

clsG_AboutKVG::clsG_AboutKVG() : GridCommand("Classes/clsG_AboutKVG", "gridAbout", "About Korvane for Grids") {}

void clsG_AboutKVG::created() { form_ = std::make_unique<frmGridAbout>(); }

bool clsG_AboutKVG::Enabled() {
    bool result = false;
    KV_MEMBER("ICommand_Enabled").run([&] {
        KV_LINE;
        result = true;
        KV_LINE;
        SetMapLayersChanged(false);
    });
    return result;
}

void clsG_AboutKVG::OnClick() {
    KV_MEMBER("ICommand_OnClick").run([&] {
        KV_LINE;
        if (!form_ || !hook())
            h::failObjectNotSet(KV_PROJECT_NAME);
        KV_LINE;
        intptr_t formWindow = form_->hWnd();   // loads the form (and builds its text) when it is closed
        KV_LINE;
        h::SetWindowLongA(formWindow, h::GWL_HWNDPARENT, hook()->hWnd());
        KV_LINE;
        ShowForm(*form_, false);
    });
}

}  // namespace kv
