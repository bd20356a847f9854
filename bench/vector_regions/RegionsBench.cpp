// Analysis by Regions, class level, through the dialog's Run, on 100,000
// patches (10 classes) cut into 10, 100 and 1,000 regions: the regions are
// bands of rows of patches, numbered in a long-integer field ZONE.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/Application.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"
#include "tools/landgen/landgen.h"
#include "vector/Classes/clsRegionalAnalysis.h"
#include "bench/support/QuietUi.h"

namespace {

namespace h = korvane::host;
namespace stdfs = std::filesystem;

constexpr int64_t kPatches = 100000;

// The landscape with its ZONE field for `regions` regions, made once.
std::string landscape(int regions) {
    std::string folder = KORVANE_BENCH_CACHE;
    std::string name = "grid100k_r" + std::to_string(regions);
    std::string shp = folder + "/" + name + ".shp";
    std::string done = folder + "/" + name + ".done";
    if (stdfs::exists(done)) return shp;
    stdfs::create_directories(folder);
    auto grid = korvane::landgen::generateGridLandscape(folder, "grid100k", kPatches, 10, 1);
    auto ws = h::ShapefileWorkspace::open(folder);
    if (ws.exists(name)) ws.deleteDataset(name);
    auto source = h::FeatureClass::open(grid.string());
    auto fc = std::dynamic_pointer_cast<h::FeatureClass>(ws.copyDataset(*source, name));
    fc->addField({"ZONE", h::FieldInteger, 0, 9, 0});
    auto rows = fc->update(nullptr, true);
    while (auto r = rows.next()) {
        r->setValue("ZONE", static_cast<int32_t>(r->oid() * regions / kPatches + 1));
        rows.updateRow(*r);
    }
    fc->flush();
    std::ofstream(done) << "ok\n";
    return shp;
}

void BM_Regions(benchmark::State& state) {
    int regions = static_cast<int>(state.range(0));
    std::string shp = landscape(regions);
    std::string out = std::string(KORVANE_BENCH_CACHE) + "/out";
    korvane::bench::QuietUi ui;
    h::ScriptDriver& driver = ui.driver;
    auto& app = h::Application::instance();
    app.modelessAllowed = true;
    for (auto _ : state) {
        state.PauseTiming();
        stdfs::remove_all(out);
        stdfs::create_directories(out);
        auto doc = std::make_shared<h::Document>();
        app.setDocument(doc);
        doc->focusMap()->setMapUnits(h::UnitMeters);
        doc->focusMap()->addLayer(h::openFeatureLayer(shp));
        std::string layerName = doc->focusMap()->layer(0)->name();
        kv::clsRegionalAnalysis cmd;
        cmd.OnCreate(&app);
        driver.messages.clear();
        state.ResumeTiming();
        cmd.OnClick();
        driver.addLines({"set lstLayers " + layerName, "set cboClass CLASS", "set cboRegion ZONE",
                         "click txtTableName", "file " + out + "/regions.dbf", "click cmdOK", "answer Yes"});
        driver.driveModeless();
        state.PauseTiming();
        cmd.dialog()->unload();
        state.ResumeTiming();
    }
    if (!driver.errorReports.empty()) state.SkipWithError("the run showed an error report");
    state.counters["patches"] = static_cast<double>(kPatches);
    state.counters["regions"] = regions;
}

}  // namespace

BENCHMARK(BM_Regions)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(5);

BENCHMARK_MAIN();
