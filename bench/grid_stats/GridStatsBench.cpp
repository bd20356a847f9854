// The grid spatial statistics run on clustered landscapes (10 classes, 30 m
// cells) of 1000², 4000² and 10000² cells, once with Select All less MNN and
// MPI (nndist n) and once with Select All (nndist y):
//   Export        the float-grid export of the raster (peak_rss_mb: the peak
//                 memory of a fresh process that does only the export)
//   GdalTranslate gdal_translate -of EHdr -ot Float32 of the same raster (the
//                 peer; peak_rss_mb likewise)
//   FragStat      the fragstat program alone on the exported grid
//   Table         reading .land/.class and writing the grid statistics table
//   WholeRun      RunGridSpatialStats through the dialog, everything together
//
//   bench_grid_stats --benchmark_filter='side:1000/'
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include <fmt/format.h>

#include "host/Application.h"
#include "host/System.h"
#include "host/Ui.h"
#include "host/data/Raster.h"
#include "host/data/RasterLayer.h"
#include "raster/Forms/frmGridSpatialStats.h"
#include "raster/Modules/modFragStats.h"
#include "raster/Modules/modGridStatsTable.h"
#include "raster/Modules/modRunFragStats.h"
#include "tools/landgen/landgen.h"
#include "bench/support/QuietUi.h"

namespace {

namespace h = korvane::host;
namespace stdfs = std::filesystem;

const std::string kCache = KORVANE_BENCH_CACHE;

// Select All with Class and Landscape checked, with or without MNN and MPI.
std::vector<std::string> chosenStats(bool nn) {
    std::vector<std::string> entries;
    for (const kv::GridMetricBox& b : kv::kGridMetricBoxes) {
        if (b.alwaysDisabled || std::string(b.name) == "chkVerbose" || std::string(b.name) == "chkCWED") continue;
        if (!nn && (std::string(b.codes) == "MNN" || std::string(b.codes) == "MPI")) continue;
        entries.push_back(b.codes);
    }
    std::vector<std::string> codes = kv::BuildChosenStats(entries);
    codes.insert(codes.begin(), "Errtrack");
    return codes;
}

struct Landscape {
    std::string tif;
    h::RasterLayerPtr layer;
    std::string exported;   // base of an exported grid
};

Landscape& landscape(int64_t n) {
    static std::map<int64_t, Landscape> cache;
    auto it = cache.find(n);
    if (it != cache.end()) return it->second;
    Landscape l;
    l.tif = korvane::landgen::generateClusteredRaster(kCache, fmt::format("clustered{}", n), n, 10, 42 + n).string();
    l.layer = h::openRasterLayer(l.tif);   // builds the value table once
    l.exported = fmt::format("{}/exported{}", kCache, n);
    if (!h::fs::FileExists(l.exported + ".flt")) h::exportFloatGrid(*l.layer->raster(), l.exported);
    return cache.emplace(n, std::move(l)).first->second;
}

std::string fragstatLine(int64_t n, const std::string& grid, const std::string& base, bool nn) {
    kv::FragStatsCommand c;
    c.program = kv::FragStatsProgram();
    c.base = base;
    c.cellSize = 30;
    c.rows = c.cols = n;
    c.mnn = nn;
    std::string line = kv::FragStatsCommandLine(c);
    // The grid is the one exported once for this landscape.
    size_t at = line.find(base + ".flt");
    return line.replace(at, base.size() + 4, grid + ".flt");
}

// Peak memory (MB) of a program run on its own, or -1 when it failed. This
// program (see main) runs it and reports what wait4 says of it: a child of
// the small, freshly started program, so the peak is the child's own and
// not a copy of this process's memory.
double peakMegabytes(const std::vector<std::string>& argv) {
    std::string line = "'" + stdfs::read_symlink("/proc/self/exe").string() + "' --peak-of";
    for (const std::string& a : argv) line += " '" + a + "'";
    FILE* p = ::popen(line.c_str(), "r");
    if (!p) return -1;
    double kb = -1;
    if (std::fscanf(p, "%lf", &kb) != 1) kb = -1;
    if (::pclose(p) != 0 || kb < 0) return -1;
    return kb / 1024.0;
}

// The peak memory in kilobytes of the program run with these arguments, or
// nothing when it failed.
int peakOf(char** argv) {
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0) ::dup2(devnull, 1);
        ::execvp(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    std::printf("%ld\n", ru.ru_maxrss);
    return 0;
}

void BM_Export(benchmark::State& state) {
    const int64_t n = state.range(0);
    Landscape& l = landscape(n);
    const std::string base = fmt::format("{}/bench_export{}", kCache, n);
    for (auto _ : state) h::exportFloatGrid(*l.layer->raster(), base);
    state.counters["peak_rss_mb"] =
        peakMegabytes({stdfs::read_symlink("/proc/self/exe").string(), "--export-only", l.tif, base});
    state.counters["cells_per_second"] =
        benchmark::Counter(static_cast<double>(n * n), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_GdalTranslate(benchmark::State& state) {
    const int64_t n = state.range(0);
    Landscape& l = landscape(n);
    const std::string out = fmt::format("{}/bench_translate{}.flt", kCache, n);
    const std::string cmd = fmt::format("gdal_translate -q -of EHdr -ot Float32 '{}' '{}'", l.tif, out);
    for (auto _ : state)
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("gdal_translate failed");
    state.counters["peak_rss_mb"] = peakMegabytes({"gdal_translate", "-q", "-of", "EHdr", "-ot", "Float32", l.tif, out});
    state.counters["cells_per_second"] =
        benchmark::Counter(static_cast<double>(n * n), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_FragStat(benchmark::State& state) {
    const int64_t n = state.range(0);
    const bool nn = state.range(1) != 0;
    Landscape& l = landscape(n);
    const std::string base = fmt::format("{}/bench_fragstat{}_{}", kCache, n, nn);
    h::Shell shell;
    for (auto _ : state) {
        state.PauseTiming();
        for (const char* ext : {".land", ".class"}) stdfs::remove(base + ext);
        state.ResumeTiming();
        if (shell.RunCapturing(fragstatLine(n, l.exported, base, nn), base + ".err") != 0)
            state.SkipWithError("fragstat failed");
    }
}

void BM_Table(benchmark::State& state) {
    const int64_t n = state.range(0);
    const bool nn = state.range(1) != 0;
    Landscape& l = landscape(n);
    const std::string base = fmt::format("{}/bench_table{}_{}", kCache, n, nn);
    if (!h::fs::FileExists(base + ".class")) {
        h::Shell shell;
        shell.RunCapturing(fragstatLine(n, l.exported, base, nn), base + ".err");
    }
    const std::vector<std::string> chosen = chosenStats(nn);
    const kv::GridFieldRenames renames = kv::GridFieldRenameMap();
    const std::string table = fmt::format("{}/bench_table{}_{}.dbf", kCache, n, nn);
    for (auto _ : state) {
        std::vector<kv::GridStatsFile> files(2);
        files[0].landscape = true;
        files[0].output = kv::ReadFragStatsOutput(base + ".land");
        files[1].output = kv::ReadFragStatsOutput(base + ".class");
        kv::GridStatsRows rows = kv::BuildGridStatsRows(files, chosen, renames, std::nullopt);
        if (!rows.problem.empty()) state.SkipWithError(rows.problem.c_str());
        kv::WriteGridStatsTable(table, false, "clustered", rows);
    }
}

void BM_WholeRun(benchmark::State& state) {
    const int64_t n = state.range(0);
    const bool nn = state.range(1) != 0;
    Landscape& l = landscape(n);
    korvane::bench::QuietUi ui;
    auto& app = h::Application::instance();
    auto doc = std::make_shared<h::Document>();
    doc->focusMap()->addLayer(l.layer);
    app.setDocument(doc);
    kv::frmGridSpatialStats dialog;
    dialog.setArcMapHook(&app);
    dialog.load();
    const std::string table = fmt::format("{}/bench_whole{}_{}.dbf", kCache, n, nn);
    const std::vector<std::string> chosen = chosenStats(nn);
    for (auto _ : state) {
        if (!dialog.RunGridSpatialStats(l.layer->name(), "Value", true, table, false, chosen, false, "", "", "", "",
                                        "LC", true))
            state.SkipWithError("the run failed");
    }
    dialog.unload();
}

void sizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"side", "nndist"});
    for (int64_t n : {1000, 4000, 10000})
        for (int nn : {0, 1}) b->Args({n, nn});
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
}

BENCHMARK(BM_Export)->ArgName("side")->Arg(1000)->Arg(4000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_GdalTranslate)->ArgName("side")->Arg(1000)->Arg(4000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FragStat)->Apply(sizes);
BENCHMARK(BM_Table)->Apply(sizes)->Iterations(20);
BENCHMARK(BM_WholeRun)->Apply(sizes);

}  // namespace

// "--export-only RASTER BASE": the export alone, in a process of its own;
// "--peak-of PROGRAM ARGS...": runs the program and prints its peak memory.
int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--peak-of") return peakOf(argv + 2);
    if (argc == 4 && std::string(argv[1]) == "--export-only") {
        h::exportFloatGrid(*h::RasterDataset::open(argv[2]), argv[3]);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
