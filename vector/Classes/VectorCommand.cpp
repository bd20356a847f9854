#include "vector/Classes/VectorCommand.h"

#include "host/Failure.h"
#include "host/Ui.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"
#include "vector/Modules/modMisc.h"

namespace kv {

namespace h = korvane::host;

void SetLibraryTitle(const char* modulePath) { SetProductTitle(modulePath, "Korvane", true); }

VectorCommand::VectorCommand(const char* modulePath, std::string name, std::string caption, EnabledRule rule,
                             ClickSteps steps)
    : CommandFrame(modulePath, std::move(name), std::move(caption)), rule_(rule), steps_(steps) {
    SetLibraryTitle(module_);
}

bool VectorCommand::Enabled() {
    bool result = false;
    KV_MEMBER("ICommand_Enabled").run([&] {
        KV_LINE;
        switch (rule_) {
            case EnabledRule::Always: result = true; break;
            case EnabledRule::OneLayer: KV_LINE; result = Map() && Map()->layerCount() >= 1; break;
            case EnabledRule::TwoLayers: KV_LINE; result = Map() && Map()->layerCount() >= 2; break;
            case EnabledRule::LayerSelected: KV_LINE; result = IsLayerSelected(hook()); break;
        }
    });
    return result;
}

std::string VectorCommand::Needs() {
    switch (rule_) {
        case EnabledRule::OneLayer: return "a layer on the map";
        case EnabledRule::TwoLayers: return "two layers on the map";
        case EnabledRule::LayerSelected: return "a feature layer selected in the table of contents";
        default: return {};
    }
}

void VectorCommand::OnCreate(h::Application* hook) {
    KV_MEMBER("ICommand_OnCreate").run([&] {
        KV_LINE;
        keepHook(hook);
        KV_LINE;
        dialog_ = createDialog();
        KV_LINE;
        if (dialog_ && handsHookToDialog()) dialog_->setArcMapHook(hook);
    });
}

void VectorCommand::OnClick() {
    KV_MEMBER("ICommand_OnClick").run([&] {
        if (!dialog_) {
            KV_LINE;
            clickWithoutDialog();
            return;
        }
        if (steps_.layerCheck) {
            KV_LINE;
            h::MapPtr map = Map();
            if (!map || map->layerCount() == 0) {
                KV_LINE;
                MsgBox("There are no layers loaded.  Cannot continue", h::mb::OKOnly);
                return;
            }
        }
        if (steps_.hookCheck && !hook()) {
            KV_LINE;
            MsgBox("Error with ArcMap hook", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        if (steps_.mapUnits) {
            KV_LINE;
            CheckAndSetMapUnits(hook());
        }
        if (steps_.layerCheckAfterUnits) {
            KV_LINE;
            if (hook()->document()->focusMap()->layerCount() == 0) {
                KV_LINE;
                MsgBox("There are no layers loaded.  Cannot continue", h::mb::OKOnly);
                return;
            }
        }
        KV_LINE;
        intptr_t dialogWindow = dialog_->hWnd();
        KV_LINE;
        intptr_t hostWindow = hook() ? hook()->hWnd() : 0;
        KV_LINE;
        h::SetWindowLongA(dialogWindow, h::GWL_HWNDPARENT, hostWindow);
        KV_LINE;
        ShowForm(*dialog_, false);
    });
}

}  // namespace kv
