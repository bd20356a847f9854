#pragma once
// What the grid tools share about their outputs: the working rasters in the
// scratch folder, the lists of layers they offer, and saving a result
// under the name the user chose before it is added to the map.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/Document.h"
#include "host/Progress.h"
#include "host/data/Raster.h"

namespace kv {

class frmProgress;

// The progress window of a long grid run: each stage's caption, then the
// share of it done on the bar (korvane draws it as a progress line). The
// host's operators report through the scope of the current stage; the
// window closes when this goes.
class StageProgress {
public:
    StageProgress();
    ~StageProgress();
    StageProgress(const StageProgress&) = delete;
    StageProgress& operator=(const StageProgress&) = delete;
    void stage(const std::string& caption);

private:
    std::unique_ptr<frmProgress> window_;
    std::unique_ptr<korvane::host::ProgressScope> scope_;
};

// Reports rowsDone of rows to the current stage (a row-wise progress).
void ReportRowsDone(int64_t rowsDone, int64_t rows);

// Working rasters of one run, deleted (with their tables) when this goes,
// however the run ends.
class ScratchRasters {
public:
    ScratchRasters() = default;
    ScratchRasters(const ScratchRasters&) = delete;
    ScratchRasters& operator=(const ScratchRasters&) = delete;
    ~ScratchRasters();
    const korvane::host::RasterDatasetPtr& keep(const korvane::host::RasterDatasetPtr& r);
    // Keeps r after all (a layer shows it).
    void release(const korvane::host::RasterDatasetPtr& r);

private:
    std::vector<korvane::host::RasterDatasetPtr> rasters_;
};

// The layers of the map that pass the test, group layers' members included,
// in table-of-contents order, with their names as a list shows them.
struct LayerChoice {
    std::vector<std::string> names;
    std::vector<korvane::host::LayerPtr> layers;
    // The first layer of the list with that name (nothing when none).
    korvane::host::LayerPtr find(const std::string& name) const;
};
LayerChoice ListLayers(const korvane::host::MapPtr& map, const std::function<bool(const korvane::host::Layer&)>& test);

// Splits a save path at its last "/" into folder and name.
std::pair<std::string, std::string> SplitSavePath(const std::string& path);

// Stores result as folder/name (MakePermanentRaster), opens the stored
// dataset and adds it to the map as a layer under its default name. False
// when the save or the reopening failed (after their own messages): then
// nothing is added.
bool SaveAndAddGrid(const korvane::host::RasterDatasetPtr& result, const std::string& folder, const std::string& name,
                    const korvane::host::MapPtr& map);

}  // namespace kv
