#include "raster/Classes/clsG_KVHelp.h"

#include "host/System.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"

namespace kv {

clsG_KVHelp::clsG_KVHelp() : GridCommand("Classes/clsG_KVHelp", "kvHelp", "Korvane Help") {}

bool clsG_KVHelp::Enabled() {
    bool result = false;
    KV_MEMBER("ICommand_Enabled").run([&] {
        KV_LINE;
        result = true;
    });
    return result;
}

// A missing page makes the shell fail; the failure goes to the error report.
void clsG_KVHelp::OnClick() {
    KV_MEMBER("ICommand_OnClick").run([&] {
        KV_LINE;
        OpenHelpPage();
    });
}

}  // namespace kv
