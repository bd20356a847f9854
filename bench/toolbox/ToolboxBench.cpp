// Dissolve and intersect of the host's toolbox on 100,000-polygon grid
// landscapes, each beside ogr2ogr with the SQLite dialect on the same files:
//   dissolve:  SELECT ZONE, ST_Union(geometry) ... GROUP BY ZONE
//   intersect: ST_Intersection of the pairs that the SpatialIndex of the
//              second layer gives for each polygon of the first
// ZONE has 10 values, vertical stripes of the grid, so that each group's
// polygons share edges and really unite. The second intersect input is the
// same grid with other jitter, so each polygon meets a few of the other's.
//   bench_toolbox --benchmark_filter=Dissolve
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "host/data/Table.h"
#include "host/data/Workspace.h"
#include "host/toolbox/Toolbox.h"
#include "tools/landgen/landgen.h"

namespace {

namespace h = korvane::host;
namespace stdfs = std::filesystem;

constexpr int64_t kPolygons = 100000;
const std::string kFolder = KORVANE_BENCH_CACHE;

// The inputs, made once: grid_a (+ ZONE as zoned) and grid_b.
void prepare() {
    static bool done = false;
    if (done) return;
    done = true;
    stdfs::create_directories(kFolder + "/in");
    korvane::landgen::generateGridLandscape(kFolder + "/in", "grid_a", kPolygons, 10, 1);
    korvane::landgen::generateGridLandscape(kFolder + "/in", "grid_b", kPolygons, 10, 2);
    // The peer's SpatialIndex reaches a shapefile's features through its
    // .qix quadtree; without one every lookup is a full scan.
    for (const char* grid : {"grid_a", "grid_b"}) {
        std::string base = kFolder + "/in/" + grid;
        if (stdfs::exists(base + ".qix")) continue;
        std::string cmd = "ogrinfo -q '" + base + ".shp' -sql 'CREATE SPATIAL INDEX ON " + grid + "' >/dev/null";
        if (std::system(cmd.c_str()) != 0) throw std::runtime_error("cannot index " + base);
    }
    std::string marker = kFolder + "/in/zoned.done";
    if (stdfs::exists(marker)) return;
    auto ws = h::ShapefileWorkspace::open(kFolder + "/in");
    if (ws.exists("zoned")) ws.deleteDataset("zoned");
    auto source = h::FeatureClass::open(kFolder + "/in/grid_a.shp");
    auto fc = std::dynamic_pointer_cast<h::FeatureClass>(ws.copyDataset(*source, "zoned"));
    fc->addField({"ZONE", h::FieldInteger, 0, 4, 0});
    h::Envelope e = fc->extent();
    auto rows = fc->update(nullptr, true);
    while (auto r = rows.next()) {
        double x = r->shape().centroid().x;
        r->setValue("ZONE", std::min(9, static_cast<int>((x - e.xmin) / (e.xmax - e.xmin) * 10)));
        rows.updateRow(*r);
    }
    rows = h::Cursor();
    fc->flush();
    fc->close();
    std::ofstream(marker) << "done\n";
}

std::string freshOutput(const std::string& name) {
    std::string folder = kFolder + "/out";
    stdfs::remove_all(folder);
    stdfs::create_directories(folder);
    return folder + "/" + name + ".shp";
}

void runTool(benchmark::State& state, const h::GPToolPtr& tool, const std::vector<std::pair<std::string, std::string>>& values) {
    prepare();
    int64_t features = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::string out = freshOutput("ours");
        h::GPParameterArray params = tool->parameterInfo();
        for (auto& [n, v] : values) params.named(n).setValue(params.named(n).dataType().createValue(v));
        params.named("out_feature_class").setValue(h::GPValue(out));
        h::ToolContext ctx{nullptr, {}};
        state.ResumeTiming();
        std::string message = tool->validate(params, ctx);
        if (!message.empty()) throw std::runtime_error(message);
        tool->execute(params, ctx);
        state.PauseTiming();
        features = h::FeatureClass::open(out)->rowCount();
        state.ResumeTiming();
    }
    state.counters["features"] = static_cast<double>(features);
}

void runPeer(benchmark::State& state, const std::string& sql) {
    prepare();
    for (auto _ : state) {
        state.PauseTiming();
        std::string out = freshOutput("peer");
        std::string cmd = "ogr2ogr -f 'ESRI Shapefile' -nlt MULTIPOLYGON '" + out + "' '" + kFolder +
                          "/in' -dialect sqlite -sql \"" + sql + "\" 2>/dev/null";
        state.ResumeTiming();
        if (std::system(cmd.c_str()) != 0) throw std::runtime_error("ogr2ogr failed: " + cmd);
    }
    std::string count = "ogrinfo -so '" + kFolder + "/out/peer.shp' peer | grep 'Feature Count' >&2";
    std::system(count.c_str());
}

void BM_Dissolve(benchmark::State& state) {
    runTool(state, h::makeDissolveTool(),
            {{"in_features", kFolder + "/in/zoned.shp"}, {"dissolve_field", "ZONE"}, {"multi_part", "MULTI_PART"}});
}
void BM_DissolvePeer(benchmark::State& state) {
    runPeer(state, "SELECT ZONE, ST_Union(geometry) AS geometry FROM zoned GROUP BY ZONE");
}
void BM_Intersect(benchmark::State& state) {
    runTool(state, h::makeIntersectTool(),
            {{"in_features", kFolder + "/in/grid_a.shp;" + kFolder + "/in/grid_b.shp"}, {"join_attributes", "ALL"}});
}
void BM_IntersectPeer(benchmark::State& state) {
    runPeer(state,
            "SELECT a.PATCHID, a.CLASS, b.PATCHID AS PATCHID_1, b.CLASS AS CLASS_1, "
            "CastToMultiPolygon(CollectionExtract(ST_Intersection(a.geometry, b.geometry), 3)) AS geometry "
            "FROM grid_a a JOIN grid_b b ON b.ROWID IN (SELECT ROWID FROM SpatialIndex WHERE "
            "f_table_name = 'grid_b' AND search_frame = a.geometry) WHERE ST_Intersects(a.geometry, b.geometry)");
}

}  // namespace

BENCHMARK(BM_Dissolve)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_DissolvePeer)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Intersect)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_IntersectPeer)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

BENCHMARK_MAIN();
