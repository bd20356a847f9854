// The vector metric run on 1,000,000 patches, class level, every metric, with
// 10 and with 1,000 classes, the working copy added to the map or not; and a
// plain OGR scan (every field and the area and length of every polygon) of
// the same file, for comparison. Run them interleaved:
//   bench_vector_metrics --benchmark_enable_random_interleaving=true
//
// Each benchmark reports the process's peak resident size; run one filter per
// process for a clean figure:
//   bench_vector_metrics --benchmark_filter='Run/10/0'
//
// The run on 10,000,000 patches (the landscape is made once, about 4 GB,
// outside the build tree):
//   KORVANE_BENCH_PATCHES=10000000 KORVANE_BENCH_DATA=/tmp/korvane-bench
//   bench_vector_metrics --benchmark_filter='Run/10/0'
// (both variables set in the environment of the second line).
#include <benchmark/benchmark.h>
#include <ogrsf_frmts.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/Application.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"
#include "tools/landgen/landgen.h"
#include "vector/Forms/frmSpatialStat1Run.h"
#include "vector/Modules/modSpatialStats.h"
#include "bench/support/QuietUi.h"

namespace {

namespace h = korvane::host;
namespace stdfs = std::filesystem;

// KORVANE_BENCH_PATCHES in the environment chooses another size, and
// KORVANE_BENCH_DATA another folder for the generated landscapes (large ones
// are better kept outside the build tree, and made once).
const int64_t kPatches = [] {
    const char* n = std::getenv("KORVANE_BENCH_PATCHES");
    return n ? std::atoll(n) : int64_t{1000000};
}();
const std::string kCache = [] {
    const char* d = std::getenv("KORVANE_BENCH_DATA");
    return std::string(d && *d ? d : KORVANE_BENCH_CACHE);
}();

// Every metric box.
std::vector<std::string> allBoxes() {
    std::vector<std::string> boxes;
    for (int32_t m = 0; m < kv::kMetricCount; ++m) boxes.push_back(kv::MetricBox(static_cast<kv::Metric>(m)));
    return boxes;
}

// The grid landscape with `classes` classes, with the core-area fields that
// CAD and TCAI read (Core_Area: half the patch, consecutive rows of one patch
// alike), made once.
std::string landscape(int classes) {
    std::string folder = kCache;
    std::string name = "grid" + std::to_string(kPatches) + "_c" + std::to_string(classes);
    std::string cores = folder + "/" + name + "_cores.shp";
    std::string done = folder + "/" + name + "_cores.done";
    if (stdfs::exists(done)) return cores;
    stdfs::create_directories(folder);
    auto grid = korvane::landgen::generateGridLandscape(folder, name, kPatches, classes, 1);
    auto ws = h::ShapefileWorkspace::open(folder);
    if (ws.exists(name + "_cores")) ws.deleteDataset(name + "_cores");
    auto source = h::FeatureClass::open(grid.string());
    auto fc = std::dynamic_pointer_cast<h::FeatureClass>(ws.copyDataset(*source, name + "_cores"));
    fc->addField({"Patch_Area", h::FieldDouble, 0, 20, 5});
    fc->addField({"Core_Area", h::FieldDouble, 0, 20, 5});
    auto rows = fc->update(nullptr, true);
    while (auto r = rows.next()) {
        double a = r->shape().area();
        r->setValue("Patch_Area", a);
        r->setValue("Core_Area", a / 2);
        rows.updateRow(*r);
    }
    fc->flush();
    std::ofstream(done) << "ok\n";
    return cores;
}

// Arguments: the number of classes, and whether the working copy is added
// to the map ("Add Korvane layer to map").
void BM_Run(benchmark::State& state) {
    int classes = static_cast<int>(state.range(0));
    bool addToMap = state.range(1) != 0;
    std::string shp = landscape(classes);
    korvane::bench::QuietUi ui;
    h::ScriptDriver& driver = ui.driver;
    auto& app = h::Application::instance();
    app.modelessAllowed = true;
    std::string out = kCache + "/out";
    for (auto _ : state) {
        state.PauseTiming();
        stdfs::remove_all(out);
        stdfs::create_directories(out);
        auto doc = std::make_shared<h::Document>();
        app.setDocument(doc);
        doc->focusMap()->setMapUnits(h::UnitMeters);
        doc->focusMap()->addLayer(h::openFeatureLayer(shp));
        std::string layerName = doc->focusMap()->layer(0)->name();
        state.ResumeTiming();
        kv::RunSpatialStats(&app, layerName, "CLASS", false, addToMap, out + "/stats.dbf", true, allBoxes(), false, true);
    }
    if (!driver.messages.empty() || !driver.errorReports.empty()) state.SkipWithError("the run showed a message");
    state.counters["peak_MB"] = korvane::bench::peakMegabytes();
    state.counters["patches"] = static_cast<double>(kPatches);
}

void BM_OgrScan(benchmark::State& state) {
    std::string shp = landscape(static_cast<int>(state.range(0)));
    GDALAllRegister();
    for (auto _ : state) {
        std::unique_ptr<GDALDataset> ds(GDALDataset::Open(shp.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
        OGRLayer* layer = ds->GetLayer(0);
        layer->ResetReading();
        double sum = 0;
        int64_t n = 0;
        while (OGRFeature* f = layer->GetNextFeature()) {
            for (int i = 0; i < f->GetFieldCount(); ++i) sum += f->GetFieldAsDouble(i);
            if (const OGRGeometry* g = f->GetGeometryRef(); g && wkbFlatten(g->getGeometryType()) == wkbPolygon) {
                sum += g->toPolygon()->get_Area();
                for (const OGRLinearRing* ring : *g->toPolygon()) sum += ring->get_Length();
            }
            OGRFeature::DestroyFeature(f);
            ++n;
        }
        benchmark::DoNotOptimize(sum);
        if (n != kPatches) state.SkipWithError("unexpected feature count");
    }
    state.counters["peak_MB"] = korvane::bench::peakMegabytes();
}

}  // namespace

// Five repetitions each; run with --benchmark_enable_random_interleaving=true
// so that the run and the scan share the machine's load alike.
BENCHMARK(BM_Run)->ArgsProduct({{10, 1000}, {0, 1}})->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_OgrScan)->Arg(10)->Arg(1000)->Unit(benchmark::kSecond)->Iterations(1)->Repetitions(5);

BENCHMARK_MAIN();
