#include "vector/Classes/clsKorvaneHelp.h"

#include "host/System.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"

KV_MODULE("Classes/clsKorvaneHelp");

namespace kv {

clsKorvaneHelp::clsKorvaneHelp()
    : VectorCommand(kvModulePath_, "Korvane_Help", "Korvane Help", EnabledRule::Always) {}

void clsKorvaneHelp::OnCreate(korvane::host::Application*) {
    // The help command keeps nothing.
}

void clsKorvaneHelp::clickWithoutDialog() {
    KV_PROCEDURE("ICommand_OnClick", TopLevel).run([&] {
        KV_LINE;
        OpenHelpPage();
    });
}

}  // namespace kv
