// Median of 3 runs: all metrics of generated clustered landscapes (10 classes, a few per cent
// no-data) of 1000², 4000² and 10000² cells, with nearest neighbours off and
// on; then the proximity radius series (1 km, 10 km, 100 km and the default)
// at 30 m cells, whose time follows the same-class pairs within the radius.
// CPU time is the process's (every thread), from getrusage; with nearest
// neighbours on, `pairs` is the same-class pairs the proximity index took
// and `pairs_per_cpu_second` their rate per core. Peak memory: run one size
// per process under /usr/bin/time -v, or read the `peak_rss_mb` counter
// (getrusage, so it includes the kept input grid).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "fragstat/fragstat.h"

namespace {
using namespace korvane::fragstat;

// Fractal value noise: random lattices at several scales, bilinearly
// interpolated and summed with halving weights, then cut into classes of
// equal share. Deterministic.
ClassGrid clustered(int64_t n, int classes, uint64_t seed) {
    std::vector<float> field(static_cast<size_t>(n * n), 0.0f);
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<float> u(0, 1);
    float weight = 1;
    for (int64_t scale = 256; scale >= 1; scale /= 2, weight *= 0.55f) {
        const int64_t m = n / scale + 2;
        std::vector<float> lattice(static_cast<size_t>(m * m));
        for (auto& x : lattice) x = u(rng);
        for (int64_t r = 0; r < n; ++r) {
            const int64_t lr = r / scale;
            const float fr = static_cast<float>(r % scale) / static_cast<float>(scale);
            for (int64_t c = 0; c < n; ++c) {
                const int64_t lc = c / scale;
                const float fc = static_cast<float>(c % scale) / static_cast<float>(scale);
                const float* a = &lattice[lr * m + lc];
                const float top = a[0] + (a[1] - a[0]) * fc, bottom = a[m] + (a[m + 1] - a[m]) * fc;
                field[r * n + c] += weight * (top + (bottom - top) * fr);
            }
        }
    }
    // Class limits at equal shares, from a histogram of the field.
    const float lo = *std::min_element(field.begin(), field.end()), hi = *std::max_element(field.begin(), field.end());
    constexpr int kBins = 1 << 14;
    std::vector<int64_t> hist(kBins, 0);
    auto bin = [&](float v) { return std::min(kBins - 1, static_cast<int>((v - lo) / (hi - lo) * kBins)); };
    for (float v : field) ++hist[bin(v)];
    std::vector<int> class_of_bin(kBins);
    int64_t seen = 0;
    for (int b = 0; b < kBins; ++b) {
        class_of_bin[b] = std::min<int>(classes - 1, static_cast<int>(seen * classes / (n * n)));
        seen += hist[b];
    }
    ClassGrid g;
    g.rows = g.cols = n;
    g.cells.resize(field.size());
    std::uniform_int_distribution<int> nodata(0, 49);
    for (size_t i = 0; i < field.size(); ++i)
        g.cells[i] = nodata(rng) == 0 ? kOutsideCell : class_of_bin[bin(field[i])] + 1;
    return g;
}

const ClassGrid& landscape(int64_t n) {
    static std::map<int64_t, ClassGrid> cache;
    auto it = cache.find(n);
    if (it == cache.end()) it = cache.emplace(n, clustered(n, 10, 42 + static_cast<uint64_t>(n))).first;
    return it->second;
}

double cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

void run(benchmark::State& state, int64_t n, bool nn, double radius) {
    const ClassGrid& g = landscape(n);
    Params p;
    p.cell_size = 30;
    p.edge_depth = 30;
    p.bwt = 1;
    p.diags = true;
    p.nndist = nn;
    p.prox_dist = radius;
    int64_t patches = 0, pairs = 0;
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ClassGrid copy = g;
        const double cpu0 = cpu_seconds();
        state.ResumeTiming();
        Results r = compute(std::move(copy), p);
        state.PauseTiming();
        cpu += cpu_seconds() - cpu0;
        patches = static_cast<int64_t>(*r.landscape[Code::NP]);
        pairs = r.proximity_pairs;
        benchmark::DoNotOptimize(r);
        state.ResumeTiming();
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["cells_per_second"] =
        benchmark::Counter(static_cast<double>(n * n), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["patches"] = static_cast<double>(patches);
    state.counters["process_cpu_s"] = cpu / iterations;
    if (nn) {
        state.counters["pairs"] = static_cast<double>(pairs);
        state.counters["pairs_per_cpu_second"] = static_cast<double>(pairs) * iterations / cpu;
    }
    state.counters["peak_rss_mb"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void BM_AllMetrics(benchmark::State& state) { run(state, state.range(0), state.range(1) != 0, kDefaultProxDist); }

// All metrics with nearest neighbours, by proximity radius in metres.
void BM_ProximityRadius(benchmark::State& state) {
    run(state, state.range(0), true, state.range(1) > 0 ? static_cast<double>(state.range(1)) : kDefaultProxDist);
}

BENCHMARK(BM_AllMetrics)
    ->ArgNames({"side", "nndist"})
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Args({4000, 0})
    ->Args({4000, 1})
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// Radius 0: the default, every pair of a class.
BENCHMARK(BM_ProximityRadius)
    ->ArgNames({"side", "radius_m"})
    ->Args({4000, 1000})
    ->Args({4000, 10000})
    ->Args({4000, 100000})
    ->Args({4000, 0})
    ->Args({10000, 1000})
    ->Args({10000, 10000})
    ->Args({10000, 100000})
    ->Args({10000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
