// The patch raster operators on a generated 10000 x 10000 class grid of
// clustered classes: region grouping (8 neighbours, within zones, with the
// link field and the value table), zonal geometry and its table, beside
// GRASS's r.clump -d on the same grid in the same run.
//
// Each run happens in a process of its own, so that its peak memory is its
// own: ours is read with getrusage there (the counter extra_bytes_per_cell
// is the peak above the process's size before the work, over the cells);
// r.clump's with /usr/bin/time -v inside the GRASS session
// (r.clump alone, after the grid was imported into GRASS once, untimed).
// Times are wall-clock seconds of the work alone.
//
//   bench/patch/setup.sh   # installs GRASS when it is missing
//   build/bin/bench_patch
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "host/data/RasterOperators.h"
#include "landgen.h"

namespace {

namespace h = korvane::host;
namespace fs = std::filesystem;

constexpr int64_t kSide = 10000;
constexpr int kClasses = 14;

const fs::path& cache() {
    static fs::path p = [] {
        fs::path c = KORVANE_BENCH_CACHE;
        fs::create_directories(c);
        return c;
    }();
    return p;
}

const std::string& grid() {
    static std::string p = korvane::landgen::generateClusteredRaster(cache(), "classes10k", kSide, kClasses, 12).string();
    return p;
}

long selfPeakKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

struct Outcome {
    double seconds = 0;
    double patches = 0;
    double peakMb = 0;
    double extraBytesPerCell = 0;
    bool ok = false;
};

// Region grouping, zonal geometry and both tables; run in a fresh process
// (this program started again with --patch-child), so that its peak memory
// counts only what the run itself touches.
Outcome work(bool eight, unsigned threads) {
    fs::path out = cache() / "out";
    fs::remove_all(out);
    fs::create_directories(out);
    Outcome o;
    h::RasterDatasetPtr input = h::RasterDataset::open(grid());
    long before = selfPeakKb();
    auto start = std::chrono::steady_clock::now();
    h::RasterAnalysisEnvironment env;
    h::RegionGroupOptions options;
    options.eightNeighbours = eight;
    options.threads = threads;
    // Into the scratch folder, as the patch-theme command does.
    h::RasterDatasetPtr patches = h::regionGroup(input, options, env);
    h::ZonalGeometryTable geometry = h::zonalGeometry(*patches);
    geometry.writeTable((out / "geometry.dbf").string())->close();
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    o.patches = static_cast<double>(geometry.rows().size());
    long peak = selfPeakKb();
    o.peakMb = static_cast<double>(peak) / 1024.0;
    o.extraBytesPerCell = static_cast<double>(peak - before) * 1024.0 / static_cast<double>(kSide * kSide);
    o.ok = true;
    return o;
}

Outcome ours(bool eight, unsigned threads) {
    fs::path result = cache() / "child.out";
    fs::remove(result);
    std::string cmd = "'" + fs::read_symlink("/proc/self/exe").string() + "' --patch-child " + (eight ? "8" : "4") +
                      " " + std::to_string(threads) + " >'" + result.string() + "'";
    Outcome o;
    if (std::system(cmd.c_str()) != 0) return o;
    std::ifstream f(result);
    f >> o.seconds >> o.patches >> o.peakMb >> o.extraBytesPerCell;
    o.ok = static_cast<bool>(f);
    return o;
}

std::string readFile(const fs::path& p) {
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The GRASS session of the grid, made and filled once.
bool grassReady(std::string& why) {
    if (std::system("command -v grass >/dev/null 2>&1") != 0) {
        why = "GRASS is not installed (run bench/patch/setup.sh)";
        return false;
    }
    fs::path loc = cache() / "grassdb" / "loc";
    fs::path done = cache() / "grassdb" / "imported";
    if (fs::exists(done)) return true;
    fs::remove_all(cache() / "grassdb");
    fs::create_directories(cache() / "grassdb");
    std::string make = "grass -c '" + grid() + "' '" + loc.string() + "' -e >'" + (cache() / "grass-setup.log").string() +
                       "' 2>&1 && grass '" + (loc / "PERMANENT").string() + "' --exec r.in.gdal input='" + grid() +
                       "' output=classes >>'" + (cache() / "grass-setup.log").string() + "' 2>&1";
    if (std::system(make.c_str()) != 0) {
        why = "the GRASS session could not be made (see " + (cache() / "grass-setup.log").string() + ")";
        return false;
    }
    std::ofstream(done) << "ok\n";
    return true;
}

Outcome grassClump() {
    Outcome o;
    fs::path log = cache() / "r.clump.log";
    std::string cmd = "grass '" + (cache() / "grassdb" / "loc" / "PERMANENT").string() +
                      "' --exec /usr/bin/time -v r.clump -d input=classes output=clumps --overwrite >'" + log.string() +
                      "' 2>&1";
    if (std::system(cmd.c_str()) != 0) return o;
    std::string text = readFile(log);
    std::smatch m;
    if (std::regex_search(text, m, std::regex(R"(Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (?:(\d+):)?(\d+):([\d.]+))")))
        o.seconds = (m[1].matched ? std::stod(m[1]) * 3600 : 0) + std::stod(m[2]) * 60 + std::stod(m[3]);
    if (std::regex_search(text, m, std::regex(R"(Maximum resident set size \(kbytes\): (\d+))")))
        o.peakMb = std::stod(m[1]) / 1024.0;
    if (std::regex_search(text, m, std::regex(R"((\d+) clumps)"))) o.patches = std::stod(m[1]);
    o.ok = o.seconds > 0;
    return o;
}

void report(benchmark::State& state, const Outcome& o) {
    state.SetIterationTime(o.seconds);
    state.counters["patches"] = o.patches;
    state.counters["peak_rss_mb"] = o.peakMb;
    if (o.extraBytesPerCell > 0) state.counters["extra_bytes_per_cell"] = o.extraBytesPerCell;
}

void BM_RegionGroupZonalGeometry(benchmark::State& state) {
    grid();
    for (auto _ : state) {
        Outcome o = ours(true, static_cast<unsigned>(state.range(0)));
        if (!o.ok) {
            state.SkipWithError("the run failed");
            return;
        }
        report(state, o);
    }
}
// Threads: 0 every core, 1 one.
BENCHMARK(BM_RegionGroupZonalGeometry)->Arg(0)->Arg(1)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_GrassRClump(benchmark::State& state) {
    grid();
    std::string why;
    if (!grassReady(why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    for (auto _ : state) {
        Outcome o = grassClump();
        if (!o.ok) {
            state.SkipWithError("r.clump failed (see the cache's r.clump.log)");
            return;
        }
        report(state, o);
    }
}
BENCHMARK(BM_GrassRClump)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--patch-child") {
        try {
            Outcome o = work(std::string(argv[2]) == "8", static_cast<unsigned>(std::stoul(argv[3])));
            std::printf("%.6f %.0f %.3f %.6f\n", o.seconds, o.patches, o.peakMb, o.extraBytesPerCell);
            return 0;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "bench_patch: %s\n", e.what());
            return 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
