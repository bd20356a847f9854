#include "vector/Classes/clsKorvaneMenu.h"

#include "vector/Classes/VectorCommand.h"

namespace kv {

namespace {
// Fifteen positions are announced; the last two carry nothing.
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

clsKorvaneMenu::clsKorvaneMenu() : MenuDefinition("Classes/clsKorvaneMenu", "Korvane", "KorvaneMenu", 15, kItems) {
    SetLibraryTitle(module_);
}

}  // namespace kv
