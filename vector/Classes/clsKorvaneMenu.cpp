#include "vector/Classes/clsKorvaneMenu.h"

#include "shared/ErrorHandling.h"
#include "vector/Classes/VectorCommand.h"

KV_MODULE("Classes/clsKorvaneMenu");

namespace kv {

namespace {
struct MenuItem {
    const char* id;
    bool group;
};
constexpr MenuItem kItems[] = {
    {"Korvane.clsDissolve", false},          {"Korvane.clsIntersect", false},
    {"Korvane.clsCreateCores", false},       {"Korvane.clsCreateHex", false},
    {"Korvane.clsAreaPerimeter", true},      {"Korvane.clsFRIConversion", false},
    {"Korvane.clsAttributeModelling", true}, {"Korvane.clsBatchParams", false},
    {"Korvane.clsNeighbourhoodMean", true},  {"Korvane.clsSpatialStats", false},
    {"Korvane.clsRegionalAnalysis", false},  {"Korvane.clsKorvaneHelp", true},
    {"Korvane.clsAboutKorvane", false},
};
}  // namespace

clsKorvaneMenu::clsKorvaneMenu() { SetLibraryTitle(kvModulePath_); }

int32_t clsKorvaneMenu::ItemCount() {
    int32_t result = 0;
    KV_PROCEDURE("IMenuDef_ItemCount", TopLevel).run([&] { KV_LINE; result = 15; });
    return result;
}

void clsKorvaneMenu::GetItemInfo(int32_t pos, korvane::host::IItemDef& item) {
    KV_PROCEDURE("IMenuDef_GetItemInfo", TopLevel).run([&] {
        KV_LINE;
        if (pos < 0 || pos >= static_cast<int32_t>(std::size(kItems))) return;
        KV_LINE;
        item.setID(kItems[pos].id);
        KV_LINE;
        if (kItems[pos].group) item.setGroup(true);
    });
}

std::string clsKorvaneMenu::Name() {
    std::string result;
    KV_PROCEDURE("IMenuDef_Name", TopLevel).run([&] { KV_LINE; result = "KorvaneMenu"; });
    return result;
}

std::string clsKorvaneMenu::Caption() {
    std::string result;
    KV_PROCEDURE("IMenuDef_Caption", TopLevel).run([&] { KV_LINE; result = "Korvane"; });
    return result;
}

}  // namespace kv
