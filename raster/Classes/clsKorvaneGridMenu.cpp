#include "raster/Classes/clsKorvaneGridMenu.h"

namespace kv {

namespace {
// Position 3 names an area and perimeter command that the raster library
// does not have; the host shows it as unavailable. Ten positions are
// announced; the last two carry nothing.
constexpr MenuItem kItems[] = {
    {"KorvaneGrid.clsG_createPatch", false},   {"KorvaneGrid.clsG_Intersect", true},
    {"KorvaneGrid.clsG_Clip", false},          {"KorvaneGrid.clsG_AreaPerimeter", false},
    {"KorvaneGrid.clsG_SpatialStats", true},   {"KorvaneGrid.clsG_RegionStats", false},
    {"KorvaneGrid.clsG_KVHelp", true},         {"KorvaneGrid.clsG_AboutKVG", false},
};
}  // namespace

clsKorvaneGridMenu::clsKorvaneGridMenu()
    : MenuDefinition("Classes/clsKorvaneGridMenu", "Korvane Grid", "KorvaneGridMenu", 10, kItems) {}

}  // namespace kv
