// The vector library's registration entry point: the host calls it after
// loading the library and creates the classes by their identifiers.
#include "host/Application.h"
#include "host/Component.h"
#include "shared/App.h"
#include "vector/Classes/clsASttributeModelling.h"
#include "vector/Classes/clsAboutKorvane.h"
#include "vector/Classes/clsAreaPerimeter.h"
#include "vector/Classes/clsBatchParams.h"
#include "vector/Classes/clsCreateCores.h"
#include "vector/Classes/clsCreateHex.h"
#include "vector/Classes/clsFRIConversion.h"
#include "vector/Classes/clsDissolve.h"
#include "vector/Classes/clsIntersect.h"
#include "vector/Classes/clsKorvaneHelp.h"
#include "vector/Classes/clsKorvaneMenu.h"
#include "vector/Classes/clsNeighbourhoodMean.h"
#include "vector/Classes/clsRegionalAnalysis.h"
#include "vector/Classes/clsSpatialStats.h"

namespace h = korvane::host;

template <class T>
static void add(h::ComponentRegistry& r, const char* id) {
    r.add(id, kv::App::LibraryName(), [] { return std::make_unique<T>(); });
}

extern "C" __attribute__((visibility("default"))) void korvane_register_components(h::ComponentRegistry& r) {
    h::Application::instance().setLibraryFolder(kv::App::LibraryName(), kv::App::Path());
    add<kv::clsKorvaneMenu>(r, "Korvane.clsKorvaneMenu");
    add<kv::clsAboutKorvane>(r, "Korvane.clsAboutKorvane");
    add<kv::clsKorvaneHelp>(r, "Korvane.clsKorvaneHelp");
    add<kv::clsSpatialStats>(r, "Korvane.clsSpatialStats");
    add<kv::clsAreaPerimeter>(r, "Korvane.clsAreaPerimeter");
    add<kv::clsCreateHex>(r, "Korvane.clsCreateHex");
    add<kv::clsCreateCores>(r, "Korvane.clsCreateCores");
    add<kv::clsBatchParams>(r, "Korvane.clsBatchParams");
    add<kv::clsRegionalAnalysis>(r, "Korvane.clsRegionalAnalysis");
    add<kv::clsFRIConversion>(r, "Korvane.clsFRIConversion");
    add<kv::clsAttributeModelling>(r, "Korvane.clsAttributeModelling");
    add<kv::clsNeighbourhoodMean>(r, "Korvane.clsNeighbourhoodMean");
    add<kv::clsDissolve>(r, "Korvane.clsDissolve");
    add<kv::clsIntersect>(r, "Korvane.clsIntersect");
}
