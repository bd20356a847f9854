#include "vector/Classes/VectorCommand.h"

#include "host/Failure.h"
#include "host/Ui.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"
#include "vector/Modules/modMisc.h"

namespace kv {

namespace h = korvane::host;

void SetLibraryTitle(const char* modulePath) {
    Procedure p("Class_Initialize", modulePath, TopLevel);
    p.run([&] {
        p.line = __LINE__;
        App::SetTitle("Korvane - " + std::to_string(App::Major()) + "." + std::to_string(App::Minor()) + "." +
                      std::to_string(App::Revision()));
    });
}

VectorCommand::VectorCommand(const char* modulePath, std::string name, std::string caption, EnabledRule rule,
                             ClickSteps steps)
    : module_(modulePath), name_(std::move(name)), caption_(std::move(caption)), rule_(rule), steps_(steps) {
    SetLibraryTitle(module_);
}

#define KV_MEMBER(procName) ::kv::Procedure kvProc_(procName, module_, ::kv::TopLevel); kvProc_

bool VectorCommand::Enabled() {
    bool result = false;
    KV_MEMBER("ICommand_Enabled").run([&] {
        KV_LINE;
        switch (rule_) {
            case EnabledRule::Always: result = true; break;
            case EnabledRule::OneLayer: KV_LINE; result = Map() && Map()->layerCount() >= 1; break;
            case EnabledRule::TwoLayers: KV_LINE; result = Map() && Map()->layerCount() >= 2; break;
            case EnabledRule::LayerSelected: KV_LINE; result = IsLayerSelected(hook_); break;
        }
    });
    return result;
}

bool VectorCommand::Checked() { return false; }
std::string VectorCommand::Name() { return name_; }
std::string VectorCommand::Caption() { return caption_; }
std::string VectorCommand::Tooltip() { return {}; }
std::string VectorCommand::Message() { return {}; }
std::string VectorCommand::HelpFile() { return {}; }
int32_t VectorCommand::HelpContextID() { return 0; }
int32_t VectorCommand::Bitmap() { return 0; }
std::string VectorCommand::Category() { return {}; }

h::MapPtr VectorCommand::Map() {
    h::MapPtr result;
    KV_MEMBER("Map").run([&] {
        KV_LINE;
        if (!hook_) h::fail(h::err::ObjectNotSet, "Korvane", "Object variable or With block variable not set");
        KV_LINE;
        result = hook_->document()->focusMap();
    });
    return result;
}

void VectorCommand::OnCreate(h::Application* hook) {
    KV_MEMBER("ICommand_OnCreate").run([&] {
        KV_LINE;
        hook_ = hook;
        KV_LINE;
        dialog_ = createDialog();
        KV_LINE;
        if (dialog_ && handsHookToDialog()) dialog_->setArcMapHook(hook_);
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
        if (steps_.hookCheck && !hook_) {
            KV_LINE;
            MsgBox("Error with ArcMap hook", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        if (steps_.mapUnits) {
            KV_LINE;
            CheckAndSetMapUnits(hook_);
        }
        if (steps_.layerCheckAfterUnits) {
            KV_LINE;
            if (hook_->document()->focusMap()->layerCount() == 0) {
                KV_LINE;
                MsgBox("There are no layers loaded.  Cannot continue", h::mb::OKOnly);
                return;
            }
        }
        KV_LINE;
        intptr_t dialogWindow = dialog_->hWnd();
        KV_LINE;
        intptr_t hostWindow = hook_ ? hook_->hWnd() : 0;
        KV_LINE;
        h::SetWindowLongA(dialogWindow, h::GWL_HWNDPARENT, hostWindow);
        KV_LINE;
        ShowForm(*dialog_, false);
    });
}

}  // namespace kv
