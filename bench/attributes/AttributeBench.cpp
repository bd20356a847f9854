// The attribute derivation tools on large layers, each beside a plain OGR
// pass that reads every feature and writes one field of it, on the same file.
//
//   BM_NeighbourhoodMean/10|1000   means of 100,000 squares, ~10 or ~1,000 neighbours
//   BM_NeighbourhoodExhaustive     the comparison with every feature, on 10,000 of them
//   BM_SpeciesConversion           100,000 strings, 40 species codes (fields added, values written)
//   BM_AttributeModel              10 entries on 1,000,000 features
//   BM_OgrReadWrite/N              the OGR pass over the layer of N features
#include <benchmark/benchmark.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "host/data/Workspace.h"
#include "vector/Modules/modAttributeModel.h"
#include "vector/Modules/modNeighbourhoodMean.h"
#include "vector/Modules/modSpeciesComposition.h"

using namespace korvane::host;
namespace stdfs = std::filesystem;

namespace {

constexpr double kCell = 10.0;

std::string cache() { return KORVANE_BENCH_CACHE; }

std::string speciesCode(int i) {
    std::string s;
    s += static_cast<char>('A' + i / 8);
    s += static_cast<char>('a' + i % 8);
    return s;
}

// side x side squares of 10 m: AGE, KIND, SPCOMP (three of 40 codes), VAL, OUT.
std::string ensureGrid(const std::string& name, int side) {
    std::string folder = cache() + "/" + name;
    std::string marker = folder + "/complete";
    if (!stdfs::exists(marker)) {
        stdfs::create_directories(folder);
        auto ws = ShapefileWorkspace::open(folder);
        if (ws.exists("grid")) ws.deleteDataset("grid");
        auto fc = ws.createFeatureClass("grid",
                                        {{"AGE", FieldInteger, 0, 4, 0},
                                         {"KIND", FieldString, 4, 0, 0},
                                         {"SPCOMP", FieldString, 30, 0, 0},
                                         {"VAL", FieldDouble, 0, 12, 4},
                                         {"OUT", FieldDouble, 0, 14, 4}},
                                        ShapeType::Polygon);
        InsertCursor ins = fc->insert(true);
        RowPtr r = ins.createRowBuffer();
        for (int row = 0; row < side; ++row) {
            for (int col = 0; col < side; ++col) {
                int i = row * side + col;
                double x = col * kCell, y = row * kCell;
                r->setValue(int32_t{2}, (i * 37) % 200);
                r->setValue(int32_t{3}, std::string(i % 3 ? "b" : "a"));
                int a = i % 40, b = (i * 7 + 3) % 40, c = (i * 13 + 5) % 40;
                if (b == a) b = (b + 1) % 40;
                if (c == a || c == b) c = (c + 2) % 40;
                r->setValue(int32_t{4}, speciesCode(a) + " 6" + speciesCode(b) + " 3" + speciesCode(c) + " 1");
                r->setValue(int32_t{5}, std::fmod(i * 0.618, 100.0));
                r->setShape(Geometry::polygon({{{x, y}, {x, y + kCell}, {x + kCell, y + kCell}, {x + kCell, y}}}));
                ins.insertRow(*r);
            }
        }
        ins.flush();
        fc->close();
        std::ofstream(marker) << "ok\n";
    }
    return folder + "/grid.shp";
}

std::string grid100k() { return ensureGrid("grid100k", 316); }
std::string grid1m() { return ensureGrid("grid1m", 1000); }

// A fresh copy of a grid's files, for a run that adds fields.
std::string freshCopy(const std::string& shp, const std::string& name) {
    std::string folder = cache() + "/" + name;
    stdfs::remove_all(folder);
    stdfs::create_directories(folder);
    for (const char* ext : {".shp", ".shx", ".dbf"})
        stdfs::copy_file(stdfs::path(shp).replace_extension(ext), folder + "/grid" + ext);
    return folder + "/grid.shp";
}

void BM_NeighbourhoodMean(benchmark::State& state) {
    // ~10 neighbours: pi r^2 = 10 cells of 100 m^2; ~1,000: 1,000 cells.
    double r = std::sqrt(static_cast<double>(state.range(0)) * kCell * kCell / M_PI);
    auto fc = FeatureClass::open(grid100k());
    int32_t val = fc->findField("VAL"), out = fc->findField("OUT");
    for (auto _ : state) kv::RunNeighbourhoodMean(*fc, nullptr, val, out, r);
    kv::NeighbourhoodSource src = kv::ReadNeighbourhoodSource(*fc, val);
    state.counters["threshold"] = r;
    state.counters["features"] = static_cast<double>(src.ids.size());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(src.ids.size()));
}
BENCHMARK(BM_NeighbourhoodMean)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_NeighbourhoodExhaustive(benchmark::State& state) {
    auto fc = FeatureClass::open(grid100k());
    kv::NeighbourhoodSource src = kv::ReadNeighbourhoodSource(*fc, fc->findField("VAL"));
    const size_t n = 10000;
    double r = std::sqrt(10 * kCell * kCell / M_PI);
    for (auto _ : state) {
        double total = 0;
        for (size_t i = 0; i < n; ++i) {
            double sum = 0;
            int64_t k = 0;
            for (size_t j = 0; j < n; ++j) {
                double dy = src.centroids[i].y - src.centroids[j].y, dx = src.centroids[i].x - src.centroids[j].x;
                if (std::sqrt(dy * dy + dx * dx) <= r) {
                    sum += *src.values[j];
                    ++k;
                }
            }
            total += sum / static_cast<double>(k);
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
}
BENCHMARK(BM_NeighbourhoodExhaustive)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SpeciesConversion(benchmark::State& state) {
    std::string source = grid100k();
    for (auto _ : state) {
        state.PauseTiming();
        std::string shp = freshCopy(source, "species-run");
        auto fc = FeatureClass::open(shp);
        state.ResumeTiming();
        kv::SpeciesPlan plan = kv::PlanSpeciesConversion(*fc, "SPCOMP");
        kv::WriteSpeciesConversion(*fc, plan);
        fc->close();
        state.counters["fields"] = static_cast<double>(plan.newFields.size());
    }
    state.SetItemsProcessed(state.iterations() * 316 * 316);
}
BENCHMARK(BM_SpeciesConversion)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_AttributeModel(benchmark::State& state) {
    std::string source = grid1m();
    std::vector<std::string> entries;
    for (int k = 0; k < 9; ++k)
        entries.push_back(kv::QueryListEntry(std::to_string(k), "[AGE] >= " + std::to_string(k * 20) + " AND [KIND] = 'b'"));
    entries.push_back(kv::QueryListEntry("[OUT]*2+[VAL]", "[OUT] > 4"));
    for (auto _ : state) {
        // Each run on the values as generated: the last entry reads the target.
        state.PauseTiming();
        auto fc = FeatureClass::open(freshCopy(source, "model-run"));
        state.ResumeTiming();
        kv::ModelPlan plan = kv::PlanAttributeModel(*fc, nullptr, entries, "OUT");
        kv::WriteAttributeModel(*fc, plan);
        fc->close();
        state.counters["written"] = static_cast<double>(plan.ids.size());
    }
    state.SetItemsProcessed(state.iterations() * 1000 * 1000);
}
BENCHMARK(BM_AttributeModel)->Unit(benchmark::kMillisecond)->Iterations(1);

// The peer: every feature read through OGR (attributes and shape), one
// field set from another, and the feature written back; like the runs above,
// on a fresh copy of the layer.
void BM_OgrReadWrite(benchmark::State& state) {
    std::string source = state.range(0) == 1000000 ? grid1m() : grid100k();
    GDALAllRegister();
    for (auto _ : state) {
        state.PauseTiming();
        std::string shp = freshCopy(source, "ogr-run");
        state.ResumeTiming();
        std::unique_ptr<GDALDataset> ds(GDALDataset::Open(shp.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
        OGRLayer* layer = ds->GetLayer(0);
        int val = layer->GetLayerDefn()->GetFieldIndex("VAL"), out = layer->GetLayerDefn()->GetFieldIndex("OUT");
        layer->ResetReading();
        while (OGRFeature* f = layer->GetNextFeature()) {
            f->SetField(out, f->GetFieldAsDouble(val) * 0.5);
            if (layer->SetFeature(f) != OGRERR_NONE) state.SkipWithError("SetFeature failed");
            OGRFeature::DestroyFeature(f);
        }
        ds.reset();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OgrReadWrite)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
