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
        korvane::host::Shell shell;
        KV_LINE;
        std::string command = "\"" + App::Path() + "/kv_help.html\"";
        KV_LINE;
        shell.Run(command, 1, false);
    });
}

}  // namespace kv
