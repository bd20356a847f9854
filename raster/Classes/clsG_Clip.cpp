#include "raster/Classes/clsG_Clip.h"

#include "host/Failure.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
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

clsG_Clip::clsG_Clip() : GridCachingCommand("Classes/clsG_Clip", "gridClip", "Clip Grids to Polygon Theme") {}

bool clsG_Clip::EnabledTest() {
    h::MapPtr map = Map();
    if (!map || map->layerCount() <= 1) return false;
    bool feature = false, raster = false;
    for (const h::LayerPtr& l : map->layers()) {
        feature = feature || l->kind() == h::LayerKind::Feature;
        raster = raster || l->kind() == h::LayerKind::Raster;
    }
    return feature && raster;
}

void clsG_Clip::OnClick() {
    ScratchRasters scratch;
    StageProgress progress;
    KV_MEMBER("ICommand_OnClick").run([&] {
        KV_LINE;
        if (!hook()) {
            MsgBox("Error with ArcMap hook", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        KV_LINE;
        h::MapPtr map = Map();
        if (!map || map->layerCount() < 2) {
            MsgBox("Map must have 2 or more layers.", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        KV_LINE;
        LayerChoice grids = ListLayers(map, [](const h::Layer& l) { return l.kind() == h::LayerKind::Raster; });
        if (grids.names.empty()) {
            MsgBox("The map has no grid layer to clip.", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        std::string gridName = ListInput("\r\nPick the Grid theme to clip", grids.names, "Choose Theme to Clip");
        if (gridName.empty()) return;
        KV_LINE;
        LayerChoice polygons = ListLayers(map, [](const h::Layer& l) {
            auto* f = dynamic_cast<const h::FeatureLayer*>(&l);
            return f && f->featureClass() && f->featureClass()->shapeType() == h::ShapeType::Polygon;
        });
        if (polygons.names.empty()) {
            MsgBox("The map has no polygon layer to clip with.", h::mb::Exclamation, "Cannot Continue");
            return;
        }
        std::string clipName = ListInput("\r\nPick the polygon theme to clip with", polygons.names, "Choose Clip Theme");
        if (clipName.empty()) return;
        KV_LINE;
        std::string savePath = GetSaveLocation();
        if (savePath.empty()) return;
        auto [folder, name] = SplitSavePath(savePath);

        // The layers chosen are those of the lists shown.
        KV_LINE;
        auto grid = std::dynamic_pointer_cast<h::RasterLayer>(grids.find(gridName));
        auto clip = std::dynamic_pointer_cast<h::FeatureLayer>(polygons.find(clipName));
        if (!grid || !grid->raster() || !clip) h::failObjectNotSet();
        h::RasterDatasetPtr raster = grid->raster();
        KV_LINE;
        h::RasterAnalysisEnvironment env;
        env.setCellSizeFrom(*raster);
        env.mask = raster;
        env.setExtentFrom(*raster);
        // The polygons (the selected ones, when there is a selection) are
        // rasterized straight onto the grid's cells.
        KV_LINE;
        const h::SelectionSet* selection = clip->selectionSet().empty() ? nullptr : &clip->selectionSet();
        h::FeatureClassPtr fc = clip->featureClass();
        progress.stage("Rasterizing " + clipName);
        h::RasterDatasetPtr maskGrid = scratch.keep(h::featuresToRaster(
            fc, selection, fc->fields().field(0).name, env.outputLattice(*raster), env, {}, raster->spatialReference()));
        // No polygon over a cell centre (an empty layer or selection, or
        // polygons beside the grid): the clip would hold no value.
        if (h::TablePtr covered = maskGrid->attributeTable();
            !covered || !HasDataCells(*covered, covered->findField("Value"))) {
            MsgBox(NoDataCellsMessage("The clip of " + gridName + " by " + clipName,
                                      "no polygon covers the centre of any of its cells"),
                   h::mb::Exclamation, "No Data");
            return;
        }
        KV_LINE;
        h::RasterAnalysisEnvironment plain;
        progress.stage("Clipping " + gridName);
        h::RasterDatasetPtr clipped = scratch.keep(h::extractByMask(raster, maskGrid, plain));
        KV_LINE;
        progress.stage("Saving " + name);
        SaveAndAddGrid(clipped, folder, name, map);
    });
}

}  // namespace kv
