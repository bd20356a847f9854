// Median of 3 runs: all metrics of generated clustered landscapes (10 classes, a few per cent
// no-data) of 1000², 4000² and 10000² cells, with nearest neighbours off and
// on. Peak memory: run one size per process under /usr/bin/time -v, or read
// the `peak_rss_mb` counter (getrusage, so it includes the kept input grid).
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

void BM_AllMetrics(benchmark::State& state) {
    const int64_t n = state.range(0);
    const bool nn = state.range(1) != 0;
    const ClassGrid& g = landscape(n);
    Params p;
    p.cell_size = 30;
    p.edge_depth = 30;
    p.bwt = 1;
    p.diags = true;
    p.nndist = nn;
    int64_t patches = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ClassGrid copy = g;
        state.ResumeTiming();
        Results r = compute(std::move(copy), p);
        patches = static_cast<int64_t>(*r.landscape[Code::NP]);
        benchmark::DoNotOptimize(r);
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["cells_per_second"] =
        benchmark::Counter(static_cast<double>(n * n), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["patches"] = static_cast<double>(patches);
    state.counters["peak_rss_mb"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
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

}  // namespace

BENCHMARK_MAIN();
