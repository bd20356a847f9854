#include "raster/Classes/clsKorvaneGridMenu.h"

#include <iterator>

#include "shared/ErrorHandling.h"

KV_MODULE("Classes/clsKorvaneGridMenu");

namespace kv {

namespace {
struct MenuItem {
    const char* id;
    bool group;
};
// Position 3 names an area and perimeter command that the raster library
// does not have; the host shows it as unavailable.
constexpr MenuItem kItems[] = {
    {"KorvaneGrid.clsG_createPatch", false},   {"KorvaneGrid.clsG_Intersect", true},
    {"KorvaneGrid.clsG_Clip", false},          {"KorvaneGrid.clsG_AreaPerimeter", false},
    {"KorvaneGrid.clsG_SpatialStats", true},   {"KorvaneGrid.clsG_RegionStats", false},
    {"KorvaneGrid.clsG_KVHelp", true},         {"KorvaneGrid.clsG_AboutKVG", false},
};
}  // namespace

// Ten positions are announced; the last two carry nothing.
int32_t clsKorvaneGridMenu::ItemCount() {
    int32_t result = 0;
    KV_PROCEDURE("IMenuDef_ItemCount", TopLevel).run([&] { KV_LINE; result = 10; });
    return result;
}

void clsKorvaneGridMenu::GetItemInfo(int32_t pos, korvane::host::IItemDef& item) {
    KV_PROCEDURE("IMenuDef_GetItemInfo", TopLevel).run([&] {
        KV_LINE;
        if (pos < 0 || pos >= static_cast<int32_t>(std::size(kItems))) return;
        KV_LINE;
        item.setID(kItems[pos].id);
        KV_LINE;
        if (kItems[pos].group) item.setGroup(true);
    });
}

std::string clsKorvaneGridMenu::Name() {
    std::string result;
    KV_PROCEDURE("IMenuDef_Name", TopLevel).run([&] { KV_LINE; result = "KorvaneGridMenu"; });
    return result;
}

std::string clsKorvaneGridMenu::Caption() {
    std::string result;
    KV_PROCEDURE("IMenuDef_Caption", TopLevel).run([&] { KV_LINE; result = "Korvane Grid"; });
    return result;
}

}  // namespace kv
