// The value table (one pass counting the distinct cell values) and the
// float-grid export of a 10000 x 10000 Int32 GeoTIFF, with the peers run on
// the same file in the same process: gdalinfo -stats (one pass computing
// the band's statistics) and gdal_translate -of EHdr -ot Float32.
#include <benchmark/benchmark.h>
#include <gdal_priv.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/data/Raster.h"

namespace stdfs = std::filesystem;
using namespace korvane::host;

namespace {

constexpr int kSide = 10000;

std::string cache() { return KORVANE_BENCH_CACHE; }
std::string tif() { return cache() + "/classes.tif"; }

// Classes 1..400 in patches of irregular size (a cheap hash of the cell's
// coarse position plus scattered single cells), written once, uncompressed
// and tiled; a marker tells a finished file from an interrupted one.
void ensureRaster() {
    std::string marker = cache() + "/classes.complete";
    if (stdfs::exists(marker)) return;
    stdfs::create_directories(cache());
    GDALAllRegister();
    GDALDriver* d = GetGDALDriverManager()->GetDriverByName("GTiff");
    const char* opts[] = {"TILED=YES", "BIGTIFF=YES", nullptr};
    GDALDataset* ds = d->Create(tif().c_str(), kSide, kSide, 1, GDT_Int32, const_cast<char**>(opts));
    double gt[6] = {500000, 10, 0, 5100000, 0, -10};
    ds->SetGeoTransform(gt);
    GDALRasterBand* b = ds->GetRasterBand(1);
    b->SetNoDataValue(-9999);
    std::vector<int32_t> row(kSide);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            uint32_t h = static_cast<uint32_t>((x / 23) * 73856093u ^ (y / 17) * 19349663u);
            uint32_t s = static_cast<uint32_t>(x * 2654435761u ^ y * 40503u);
            row[x] = (s % 50 == 0) ? static_cast<int32_t>(s % 400 + 1) : static_cast<int32_t>(h % 400 + 1);
            if ((x + y) % 997 == 0) row[x] = -9999;
        }
        if (b->RasterIO(GF_Write, 0, y, kSide, 1, row.data(), kSide, 1, GDT_Int32, 0, 0) != CE_None) std::abort();
    }
    GDALClose(ds);
    std::ofstream(marker) << "ok\n";
}

void dropAux() {
    std::error_code ec;
    stdfs::remove(tif() + ".aux.xml", ec);
}

void BM_ValueTable(benchmark::State& state) {
    ensureRaster();
    auto r = RasterDataset::open(tif());
    size_t n = 0;
    for (auto _ : state) n = countValues(*r).size();
    state.counters["values"] = static_cast<double>(n);
    state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * 4);
}

void BM_GdalinfoStats(benchmark::State& state) {
    ensureRaster();
    std::string cmd = "gdalinfo -stats " + tif() + " > /dev/null";
    for (auto _ : state) {
        dropAux();
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("gdalinfo failed");
    }
    dropAux();
    state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * 4);
}

void BM_FloatGridExport(benchmark::State& state) {
    ensureRaster();
    auto r = RasterDataset::open(tif());
    for (auto _ : state) exportFloatGrid(*r, cache() + "/export");
    state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * 4);
}

void BM_GdalTranslateEHdr(benchmark::State& state) {
    ensureRaster();
    std::string cmd = "gdal_translate -q -of EHdr -ot Float32 " + tif() + " " + cache() + "/peer.flt > /dev/null";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("gdal_translate failed");
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide * 4);
}

}  // namespace

BENCHMARK(BM_ValueTable)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_GdalinfoStats)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FloatGridExport)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_GdalTranslateEHdr)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
