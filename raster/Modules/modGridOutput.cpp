#include "raster/Modules/modGridOutput.h"

#include <algorithm>

#include "host/Failure.h"
#include "host/data/RasterLayer.h"
#include "host/data/RasterWorkspace.h"
#include "raster/Modules/modMisc.h"
#include "shared/frmProgress.h"
#include "shared/modMisc.h"

namespace kv {

namespace h = korvane::host;

StageProgress::StageProgress() : window_(std::make_unique<frmProgress>()) {}

StageProgress::~StageProgress() {
    scope_.reset();
    try {
        if (window_->loaded()) window_->unload();
    } catch (...) {
    }
}

void StageProgress::stage(const std::string& caption) {
    scope_.reset();
    if (!window_->loaded()) {
        // Set up before it shows, so that its first line is the stage's.
        window_->load();
        window_->setMax(1000);
        window_->lblProgress().setCaption(caption);
        ShowForm(*window_, false);
        window_->refresh();
    } else {
        // The caption first: it starts a new progress line at 0.
        window_->lblProgress().setCaption(caption);
        window_->setValue(0);
    }
    scope_ = std::make_unique<h::ProgressScope>(
        [this](double share) { window_->setValue(static_cast<int32_t>(share * 1000.0)); });
}

void ReportRowsDone(int64_t rowsDone, int64_t rows) {
    h::reportProgress(static_cast<double>(rowsDone) / static_cast<double>(std::max<int64_t>(rows, 1)));
}

ScratchRasters::~ScratchRasters() {
    for (const h::RasterDatasetPtr& r : rasters_) {
        try {
            h::RasterWorkspace::open(r->workspacePath()).deleteDataset(r->name());
        } catch (const h::Failure&) {
            // The scratch folder goes when the process ends.
        }
    }
}

const h::RasterDatasetPtr& ScratchRasters::keep(const h::RasterDatasetPtr& r) {
    rasters_.push_back(r);
    return r;
}

void ScratchRasters::release(const h::RasterDatasetPtr& r) { std::erase(rasters_, r); }

h::LayerPtr LayerChoice::find(const std::string& name) const {
    auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? nullptr : layers[static_cast<size_t>(it - names.begin())];
}

LayerChoice ListLayers(const h::MapPtr& map, const std::function<bool(const h::Layer&)>& test) {
    LayerChoice c;
    if (!map) return c;
    for (const h::LayerPtr& l : map->allLayers())
        if (l && test(*l)) {
            c.names.push_back(l->name());
            c.layers.push_back(l);
        }
    return c;
}

std::pair<std::string, std::string> SplitSavePath(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

bool SaveAndAddGrid(const h::RasterDatasetPtr& result, const std::string& folder, const std::string& name,
                    const h::MapPtr& map) {
    if (!MakePermanentRaster(result, folder, name)) return false;
    h::RasterDatasetPtr saved = OpenRasterDataset(folder, name);
    if (!saved) return false;
    map->addLayer(std::make_shared<h::RasterLayer>(saved));
    return true;
}

}  // namespace kv
