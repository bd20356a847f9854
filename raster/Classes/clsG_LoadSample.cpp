#include "raster/Classes/clsG_LoadSample.h"

#include "shared/ErrorHandling.h"

namespace kv {

clsG_LoadSample::clsG_LoadSample()
    : GridCommand("Classes/clsG_LoadSample", "gridLoadSample", "Load Sample Data", false) {}

bool clsG_LoadSample::Enabled() {
    bool result = false;
    KV_MEMBER("ICommand_Enabled").run([&] {
        KV_LINE;
        result = true;
    });
    return result;
}

void clsG_LoadSample::OnClick() {
    KV_MEMBER("ICommand_OnClick").run([] {});
}

}  // namespace kv
