// Region statistics of a clustered landscape (10 classes, 30 m cells) of
// 4000 x 4000 cells by 10, 100 and 999 rectangular regions that tile it
// (5 x 2, 10 x 10 and 37 x 27; a table's Run field holds 999 runs, one per
// region, so 999 is the most regions one call takes), landscape and class level with the dialog's
// metric list, through RunGridRegionStats: every region cut to its window of
// whole cells, fragstat on it, the table, the cross-tabs, the join and its
// export. Each region's work should follow its own area, so the whole run
// should grow by the per-region cost of fragstat's start and the files, not
// by the number of regions times the grid.
//   WholeRun/regions:N   one run (seconds, real time)
//   per_region_ms        the run's time over N
//
//   bench_region_stats --benchmark_filter='regions:10/'
//
// On the 8-core development machine under a load of about 9 (other builds
// running), two runs gave 1.5 / 1.8 s for 10 regions, 2.9 / 4.9 s for 100
// and 16.7 / 13.6 s for 999: about 12 ms more per added region (fragstat's
// start, the export and the files of a region of 16,000 cells), where a cut
// of the whole 16-million-cell grid per region would cost seconds each.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>

#include <fmt/format.h>

#include "host/Application.h"
#include "host/System.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Raster.h"
#include "host/data/RasterLayer.h"
#include "host/data/Workspace.h"
#include "raster/Forms/frmGridRegionStats.h"
#include "tools/landgen/landgen.h"
#include "bench/support/QuietUi.h"

namespace {

namespace h = korvane::host;
namespace stdfs = std::filesystem;

const std::string kCache = KORVANE_BENCH_CACHE;
constexpr int64_t kSide = 4000;

h::RasterLayerPtr& grid() {
    static h::RasterLayerPtr layer;
    if (!layer) {
        stdfs::create_directories(kCache);
        layer = h::openRasterLayer(
            korvane::landgen::generateClusteredRaster(kCache, "clustered4000", kSide, 10, 4042).string());
    }
    return layer;
}

// columns x rows rectangles over the grid's extent, REGIONID 1, 2, ...
h::FeatureLayerPtr regions(int columns, int rows) {
    const std::string name = fmt::format("regions{}x{}", columns, rows);
    h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(kCache);
    if (!ws.exists(name)) {
        const h::RasterDataset& r = *grid()->raster();
        const h::Envelope e = r.extent();
        const auto& sr = r.spatialReference();
        auto fc = ws.createFeatureClass(name, {{"REGIONID", h::FieldInteger, 0, 9, 0}}, h::ShapeType::Polygon,
                                        sr ? &*sr : nullptr);
        const double w = e.width() / columns, ht = e.height() / rows;
        int id = 0;
        for (int j = 0; j < rows; ++j)
            for (int i = 0; i < columns; ++i) {
                const double x0 = e.xmin + i * w, x1 = i + 1 == columns ? e.xmax : e.xmin + (i + 1) * w;
                const double y1 = e.ymax - j * ht, y0 = j + 1 == rows ? e.ymin : e.ymax - (j + 1) * ht;
                auto f = fc->createFeature();
                f->setShape(h::Geometry::polygon({{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}}));
                f->setValue("REGIONID", ++id);
                f->store();
            }
        fc->flush();
    }
    return h::openFeatureLayer(kCache + "/" + name + ".shp");
}

void BM_WholeRun(benchmark::State& state) {
    const int64_t n = state.range(0);
    const std::map<int64_t, std::pair<int, int>> tiles = {{10, {5, 2}}, {100, {10, 10}}, {999, {37, 27}}};
    h::RasterLayerPtr layer = grid();
    h::FeatureLayerPtr zones = regions(tiles.at(n).first, tiles.at(n).second);
    korvane::bench::QuietUi ui;
    auto& app = h::Application::instance();
    auto doc = std::make_shared<h::Document>();
    doc->focusMap()->addLayer(layer);
    doc->focusMap()->addLayer(zones);
    app.setDocument(doc);
    const std::string out = fmt::format("{}/out{}", kCache, n);
    stdfs::remove_all(out);
    stdfs::create_directories(out);
    int run = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        kv::frmGridRegionStats dialog;
        dialog.setArcMapHook(&app);
        dialog.load();
        const std::string table = fmt::format("{}/stats{}.dbf", out, run++);
        if (!dialog.RunGridRegionStats(layer->name(), "Value", zones->name(), "REGIONID", "LC", true,
                                       kv::RegionStatsToRun(true, false, false, false, false), table, false, "False"))
            state.SkipWithError(ui.sink.str().substr(0, 2000).c_str());
        dialog.unload();
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    state.counters["per_region_ms"] = ms / static_cast<double>(run) / static_cast<double>(n);
    app.setDocument(std::make_shared<h::Document>());
}

BENCHMARK(BM_WholeRun)->ArgName("regions")->Arg(10)->Arg(100)->Arg(999)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
