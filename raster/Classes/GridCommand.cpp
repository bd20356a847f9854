#include "raster/Classes/GridCommand.h"

#include "shared/ErrorHandling.h"

namespace kv {

namespace h = korvane::host;

namespace {
bool mapLayersChanged = false;
}  // namespace

bool MapLayersChanged() { return mapLayersChanged; }
void SetMapLayersChanged(bool changed) { mapLayersChanged = changed; }

GridCommand::GridCommand(const char* modulePath, std::string name, std::string caption, bool setsTitle)
    : CommandFrame(modulePath, std::move(name), std::move(caption)) {
    if (setsTitle) SetProductTitle(module_, "Korvane Grid", false);
}

void GridCommand::OnCreate(h::Application* hook) {
    KV_MEMBER("ICommand_OnCreate").run([&] {
        KV_LINE;
        keepHook(hook);
        KV_LINE;
        created();
    });
}

bool GridCachingCommand::Enabled() {
    bool result = false;
    KV_MEMBER("ICommand_Enabled").run([&] {
        KV_LINE;
        if (!MapLayersChanged()) {
            result = m_blnEnabled;
            return;
        }
        // A scan that fails leaves False stored, the answer the host is given.
        m_blnEnabled = false;
        KV_LINE;
        m_blnEnabled = EnabledTest();
        result = m_blnEnabled;
    });
    return result;
}

void GridCachingCommand::created() { m_blnEnabled = false; }

}  // namespace kv
