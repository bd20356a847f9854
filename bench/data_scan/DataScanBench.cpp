// Reading every polygon of a 1,000,000-feature shapefile: area and
// perimeter of each shape through a search cursor, the same with a where
// clause on the class field, and a plain OGR loop for comparison.
#include <benchmark/benchmark.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "host/data/Workspace.h"

using namespace korvane::host;
namespace stdfs = std::filesystem;

namespace {

constexpr int kSide = 1000;  // kSide x kSide squares
constexpr double kCell = 10.0;

std::string cacheFolder() { return KORVANE_BENCH_CACHE; }
std::string gridPath() { return cacheFolder() + "/grid.shp"; }

// The grid: squares of 10 x 10 in rows, Class 1..10 spread evenly, written
// once; a marker file tells a finished grid from an interrupted one.
void ensureGrid() {
    std::string marker = cacheFolder() + "/grid.complete";
    if (stdfs::exists(marker)) return;
    stdfs::create_directories(cacheFolder());
    auto ws = ShapefileWorkspace::open(cacheFolder());
    if (ws.exists("grid")) ws.deleteDataset("grid");
    auto fc = ws.createFeatureClass("grid", {{"Class", FieldSmallInteger, 0, 2, 0}, {"Label", FieldString, 8, 0, 0}},
                                    ShapeType::Polygon);
    InsertCursor ins = fc->insert(true);
    RowPtr r = ins.createRowBuffer();
    for (int row = 0; row < kSide; ++row) {
        for (int col = 0; col < kSide; ++col) {
            double x = col * kCell, y = row * kCell;
            int cls = (row * 7 + col * 3) % 10 + 1;
            r->setValue(int32_t{2}, cls);
            r->setValue(int32_t{3}, std::string("c") + std::to_string(cls));
            r->setShape(Geometry::polygon({{{x, y}, {x, y + kCell}, {x + kCell, y + kCell}, {x + kCell, y}}}));
            ins.insertRow(*r);
        }
    }
    ins.flush();
    std::ofstream(marker) << "ok\n";
}

void scan(benchmark::State& state, const char* where) {
    ensureGrid();
    auto fc = FeatureClass::open(gridPath());
    QueryFilter filter(where ? where : "");
    for (auto _ : state) {
        Cursor c = fc->search(where ? &filter : nullptr, true);
        double area = 0, perimeter = 0;
        int64_t n = 0;
        while (RowPtr f = c.next()) {
            area += f->shape().area();
            perimeter += f->shape().length();
            ++n;
        }
        benchmark::DoNotOptimize(area);
        benchmark::DoNotOptimize(perimeter);
        state.counters["features"] = static_cast<double>(n);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kSide) * kSide);
}

void BM_SearchCursorAll(benchmark::State& state) { scan(state, nullptr); }
void BM_SearchCursorWhere(benchmark::State& state) { scan(state, "Class = 3"); }

double ringsLength(const OGRPolygon& p) {
    double s = 0;
    for (const OGRLinearRing* ring : p) s += ring->get_Length();
    return s;
}

void ogrLoop(benchmark::State& state, const char* attributeFilter) {
    ensureGrid();
    GDALAllRegister();
    auto* ds = static_cast<GDALDataset*>(GDALOpenEx(gridPath().c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr));
    if (!ds) {
        state.SkipWithError("cannot open the grid");
        return;
    }
    OGRLayer* layer = ds->GetLayer(0);
    if (attributeFilter) layer->SetAttributeFilter(attributeFilter);
    for (auto _ : state) {
        layer->ResetReading();
        double area = 0, perimeter = 0;
        int64_t n = 0;
        while (OGRFeature* f = layer->GetNextFeature()) {
            const OGRGeometry* g = f->GetGeometryRef();
            if (g && wkbFlatten(g->getGeometryType()) == wkbPolygon) {
                const OGRPolygon* p = g->toPolygon();
                area += p->get_Area();
                perimeter += ringsLength(*p);
            } else if (g && wkbFlatten(g->getGeometryType()) == wkbMultiPolygon) {
                for (const OGRPolygon* p : *g->toMultiPolygon()) {
                    area += p->get_Area();
                    perimeter += ringsLength(*p);
                }
            }
            OGRFeature::DestroyFeature(f);
            ++n;
        }
        benchmark::DoNotOptimize(area);
        benchmark::DoNotOptimize(perimeter);
        state.counters["features"] = static_cast<double>(n);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kSide) * kSide);
    GDALClose(ds);
}

void BM_PlainOgrLoop(benchmark::State& state) { ogrLoop(state, nullptr); }
void BM_PlainOgrLoopAttributeFilter(benchmark::State& state) { ogrLoop(state, "Class = 3"); }

}  // namespace

BENCHMARK(BM_SearchCursorAll)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SearchCursorWhere)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainOgrLoop)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainOgrLoopAttributeFilter)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
