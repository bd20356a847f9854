// Create core areas (edge width 1 on 10 m patches, detach on, no layer
// added) on 100,000 and 1,000,000 patches, and ogr2ogr's SQLite
// ST_Buffer(geometry, -1) of the same file, which writes only the id and the
// core shapes: the floor for an inward buffer written to a shapefile.
//
// Each benchmark reports the peak resident size: of this process for the
// core-area run (run one filter per process for a clean figure), of the
// largest ogr2ogr child so far for the baseline (run one size per process
// for its own figure).
//   bench_vector_cores --benchmark_filter='Cores/1000000' --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <filesystem>
#include <sstream>

#include "host/Application.h"
#include "host/System.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "tools/landgen/landgen.h"
#include "vector/Forms/frmCores.h"
#include "bench/support/QuietUi.h"

namespace {

namespace h = korvane::host;
namespace stdfs = std::filesystem;

constexpr double kEdge = 1.0;

std::string landscape(int64_t patches) {
    std::string folder = KORVANE_BENCH_CACHE;
    stdfs::create_directories(folder);
    return korvane::landgen::generateGridLandscape(folder, "grid" + std::to_string(patches), patches, 10, 1).string();
}

std::string freshOutputFolder() {
    std::string out = std::string(KORVANE_BENCH_CACHE) + "/out";
    stdfs::remove_all(out);
    stdfs::create_directories(out);
    return out;
}

void BM_Cores(benchmark::State& state) {
    const int64_t patches = state.range(0);
    std::string shp = landscape(patches);
    korvane::bench::QuietUi ui;
    h::ScriptDriver& driver = ui.driver;
    auto& app = h::Application::instance();
    app.modelessAllowed = true;
    for (auto _ : state) {
        state.PauseTiming();
        std::string out = freshOutputFolder();
        auto doc = std::make_shared<h::Document>();
        app.setDocument(doc);
        doc->focusMap()->setMapUnits(h::UnitMeters);
        doc->focusMap()->addLayer(h::openFeatureLayer(shp));
        std::string layerName = doc->focusMap()->layer(0)->name();
        kv::frmCores form;
        form.setArcMapHook(&app);
        state.ResumeTiming();
        form.CreateCores(out, "cores", layerName, "PATCHID", kEdge, true, false);
    }
    if (!driver.messages.empty() || !driver.errorReports.empty()) state.SkipWithError("the run showed a message");
    state.counters["peak_MB"] = korvane::bench::peakMegabytes(RUSAGE_SELF);
    state.counters["patches"] = static_cast<double>(patches);
}

void BM_Ogr2OgrBuffer(benchmark::State& state) {
    const int64_t patches = state.range(0);
    std::string shp = landscape(patches);
    std::string layer = stdfs::path(shp).stem().string();
    for (auto _ : state) {
        state.PauseTiming();
        std::string out = freshOutputFolder();
        state.ResumeTiming();
        std::string sql = "SELECT PATCHID, ST_Buffer(geometry, -" + std::to_string(kEdge) + ") AS geometry FROM " + layer;
        int code = h::Shell().Run("ogr2ogr -f \"ESRI Shapefile\" -dialect SQLite -sql \"" + sql + "\" \"" + out +
                                     "/cores.shp\" \"" + shp + "\"",
                                 1, true);
        if (code != 0) state.SkipWithError("ogr2ogr failed");
    }
    state.counters["peak_MB"] = korvane::bench::peakMegabytes(RUSAGE_CHILDREN);
    state.counters["patches"] = static_cast<double>(patches);
}

}  // namespace

BENCHMARK(BM_Cores)->Arg(100000)->Arg(1000000)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1)->Repetitions(3);
BENCHMARK(BM_Ogr2OgrBuffer)->Arg(100000)->Arg(1000000)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1)->Repetitions(3);

BENCHMARK_MAIN();
