#include "raster/Classes/clsG_Intersect.h"

#include "host/Failure.h"
#include "host/Ui.h"
#include "host/data/RasterLayer.h"
#include "host/data/RasterOperators.h"
#include "raster/Modules/modGridOutput.h"
#include "raster/Modules/modMisc.h"
#include "raster/Modules/modSimpleInput.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modSimpleInput.h"

namespace kv {

namespace h = korvane::host;

clsG_Intersect::clsG_Intersect()
    : GridCachingCommand("Classes/clsG_Intersect", "gridIntersect", "Intersect (Combine) Grids") {}

bool clsG_Intersect::EnabledTest() {
    h::MapPtr map = Map();
    if (!map || map->layerCount() <= 1) return false;
    int grids = 0;
    for (const h::LayerPtr& l : map->layers())
        if (l->kind() == h::LayerKind::Raster && ++grids > 1) break;
    return grids >= 2;
}

void clsG_Intersect::OnClick() {
    ScratchRasters scratch;
    StageProgress progress;
    KV_MEMBER("ICommand_OnClick").run([&] {
        KV_LINE;
        h::MapPtr map = Map();
        if (!map || map->layerCount() == 0) {
            MsgBox("There are no layers loaded.  Cannot continue.", h::mb::OKOnly);
            return;
        }
        if (!hook()) {
            MsgBox("Error with ArcMap hook", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        KV_LINE;
        auto isGrid = [](const h::Layer& l) { return l.kind() == h::LayerKind::Raster; };
        LayerChoice first = ListLayers(map, isGrid);
        if (first.names.empty()) {
            MsgBox("The map has no grid layer to combine.", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        std::string firstName = ListInput("\r\nPick first grid", first.names, "Grid to Combine");
        if (firstName.empty()) return;
        KV_LINE;
        LayerChoice second;
        for (size_t i = 0; i < first.names.size(); ++i)
            if (first.names[i] != firstName) {
                second.names.push_back(first.names[i]);
                second.layers.push_back(first.layers[i]);
            }
        if (second.names.empty()) {
            MsgBox("The map has no second grid layer to combine with " + firstName + ".", h::mb::Exclamation,
                   "Cannot Continue");
            return;
        }
        std::string secondName = ListInput("\r\nPick second grid", second.names, "Grid to Combine");
        if (secondName.empty()) return;
        KV_LINE;
        std::string savePath = GetSaveLocation();
        if (savePath.empty()) return;
        auto [folder, name] = SplitSavePath(savePath);

        // Each grid is read from its own layer's dataset.
        KV_LINE;
        auto a = std::dynamic_pointer_cast<h::RasterLayer>(first.find(firstName));
        auto b = std::dynamic_pointer_cast<h::RasterLayer>(second.find(secondName));
        if (!a || !a->raster() || !b || !b->raster()) h::failObjectNotSet();
        std::vector<h::RasterDatasetPtr> grids = {a->raster(), b->raster()};
        if (std::string why = h::alignmentProblem(grids); !why.empty()) {
            MsgBox("The grids cannot be combined: " + why + ".", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        for (const h::RasterDatasetPtr& g : grids)
            if (!g->isIntegerGrid()) {
                MsgBox("The grids cannot be combined: " + g->name() + " is not an integer grid.", h::mb::Exclamation,
                       "Cannot Continue");
                return;
            }
        KV_LINE;
        h::RasterAnalysisEnvironment env;
        progress.stage("Combining " + firstName + " and " + secondName);
        h::RasterDatasetPtr combined = scratch.keep(h::combine(grids, env));
        KV_LINE;
        progress.stage("Saving " + name);
        SaveAndAddGrid(combined, folder, name, map);
    });
}

}  // namespace kv
