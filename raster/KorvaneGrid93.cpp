// The raster library's registration entry point: the host calls it after
// loading the library and creates the classes by their identifiers.
#include "host/Application.h"
#include "host/Component.h"
#include "raster/Classes/clsG_AboutKVG.h"
#include "raster/Classes/clsG_Clip.h"
#include "raster/Classes/clsG_Intersect.h"
#include "raster/Classes/clsG_KVHelp.h"
#include "raster/Classes/clsG_LoadSample.h"
#include "raster/Classes/clsG_SelectPatches.h"
#include "raster/Classes/clsGridCreatePatch.h"
#include "raster/Classes/clsG_RegionStats.h"
#include "raster/Classes/clsG_SpatialStats.h"
#include "raster/Classes/clsKorvaneGridMenu.h"
#include "shared/App.h"

namespace h = korvane::host;

template <class T>
static void add(h::ComponentRegistry& r, const char* id) {
    r.add(id, kv::App::LibraryName(), [] { return std::make_unique<T>(); });
}

extern "C" __attribute__((visibility("default"))) void korvane_register_components(h::ComponentRegistry& r) {
    h::Application::instance().setLibraryFolder(kv::App::LibraryName(), kv::App::Path());
    add<kv::clsKorvaneGridMenu>(r, "KorvaneGrid.clsKorvaneGridMenu");
    add<kv::clsG_createPatch>(r, "KorvaneGrid.clsG_createPatch");
    add<kv::clsG_AboutKVG>(r, "KorvaneGrid.clsG_AboutKVG");
    add<kv::clsG_KVHelp>(r, "KorvaneGrid.clsG_KVHelp");
    add<kv::clsG_SpatialStats>(r, "KorvaneGrid.clsG_SpatialStats");
    add<kv::clsG_LoadSample>(r, "KorvaneGrid.clsG_LoadSample");
    add<kv::clsG_SelectPatches>(r, "KorvaneGrid.clsG_SelectPatches");
    add<kv::clsG_RegionStats>(r, "KorvaneGrid.clsG_RegionStats");
    add<kv::clsG_Clip>(r, "KorvaneGrid.clsG_Clip");
    add<kv::clsG_Intersect>(r, "KorvaneGrid.clsG_Intersect");
}
