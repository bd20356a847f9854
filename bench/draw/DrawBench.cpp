// korvane draw of a 10000 x 10000 patch raster (the patch theme of a
// generated grid of 14 clustered classes, drawn in its renderer's colours)
// into a 1600 x 1200 picture, the program run as a user runs it, beside
// gdal_translate -r nearest -outsize 1600 1200 of the same raster into PNG
// (as UInt16, the widest cell type PNG holds; no colours).
//
// Both are timed and measured by /usr/bin/time -v: wall-clock seconds and
// the peak resident memory of the whole process. The load average at the
// start of each run is reported with it (the machine is shared).
//
//   build/bin/bench_draw
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "landgen.h"

namespace {

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

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

std::string korvane() { return quoted(KORVANE_PROGRAM) + " --doc " + quoted(cache() / "map.json"); }

std::string readFile(const fs::path& p) {
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The map document: the class grid and its patch raster above it, made once.
bool mapReady(std::string& why) {
    const fs::path done = cache() / "map-made";
    if (fs::exists(done)) return true;
    const fs::path grid = korvane::landgen::generateClusteredRaster(cache(), "classes10k", kSide, kClasses, 12);
    const fs::path patches = cache() / "patches";
    fs::remove_all(patches);
    fs::create_directories(patches);
    std::ofstream(cache() / "patch.kvs") << "choose lstDataSet Value\nclick OKButton\n"
                                            "choose lstDataSet \"8N - Use Diagonals\"\nclick OKButton\n"
                                            "set Dir1 "
                                         << patches.string() << "\nclick OKButton\n";
    const std::string log = quoted(cache() / "setup.log");
    const std::string make = korvane() + " new >" + log + " 2>&1 && " + korvane() + " add " + quoted(grid) + " >>" +
                             log + " 2>&1 && " + korvane() + " toc " + quoted(grid.filename()) + " >>" + log +
                             " 2>&1 && " + korvane() + " run \"Create Patch Theme from Grid\" --script " +
                             quoted(cache() / "patch.kvs") + " >>" + log + " 2>&1";
    if (std::system(make.c_str()) != 0) {
        why = "the map could not be made (see " + (cache() / "setup.log").string() + ")";
        return false;
    }
    std::ofstream(done) << "ok\n";
    return true;
}

fs::path patchRaster() {
    for (const auto& e : fs::directory_iterator(cache() / "patches"))
        if (e.path().extension() == ".tif") return e.path();
    return {};
}

double loadAverage() {
    std::ifstream f("/proc/loadavg");
    double one = 0;
    f >> one;
    return one;
}

struct Outcome {
    double seconds = 0;
    double peakMb = 0;
    bool ok = false;
};

Outcome timed(const std::string& command) {
    const fs::path log = cache() / "time.log";
    const std::string cmd = "/usr/bin/time -v " + command + " >" + quoted(log) + " 2>&1";
    Outcome o;
    if (std::system(cmd.c_str()) != 0) return o;
    const std::string text = readFile(log);
    std::smatch m;
    if (std::regex_search(text, m, std::regex(R"(Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (?:(\d+):)?(\d+):([\d.]+))")))
        o.seconds = (m[1].matched ? std::stod(m[1]) * 3600 : 0) + std::stod(m[2]) * 60 + std::stod(m[3]);
    if (std::regex_search(text, m, std::regex(R"(Maximum resident set size \(kbytes\): (\d+))")))
        o.peakMb = std::stod(m[1]) / 1024.0;
    o.ok = o.seconds > 0 && o.peakMb > 0;
    return o;
}

void run(benchmark::State& state, const std::string& command) {
    std::string why;
    if (!mapReady(why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    for (auto _ : state) {
        const double load = loadAverage();
        Outcome o = timed(command);
        if (!o.ok) {
            state.SkipWithError(("the run failed (see " + (cache() / "time.log").string() + ")").c_str());
            return;
        }
        state.SetIterationTime(o.seconds);
        state.counters["peak_rss_mb"] = o.peakMb;
        state.counters["load_avg_1min"] = load;
    }
}

void BM_KorvaneDraw(benchmark::State& state) {
    run(state, korvane() + " draw --size 1600x1200 " + quoted(cache() / "view.png"));
}
BENCHMARK(BM_KorvaneDraw)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_GdalTranslateNearest(benchmark::State& state) {
    std::string why;
    if (!mapReady(why)) {
        state.SkipWithError(why.c_str());
        return;
    }
    run(state, "gdal_translate -q -of PNG -ot UInt16 -r nearest -outsize 1600 1200 " + quoted(patchRaster()) + " " +
                   quoted(cache() / "peer.png"));
}
BENCHMARK(BM_GdalTranslateNearest)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
