#pragma once
// The pass over one strip of rows: its patches, side counts, core cells and
// perimeter cells, numbered within the strip; metrics.cpp joins the strips.
#include <cstdint>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "engine.h"
#include "fragstat/fragstat.h"

namespace korvane::fragstat::detail {

// Counts per pair of dense class indices: a matrix for few classes, a hash
// map for many.
class PairCounts {
public:
    explicit PairCounts(int32_t k) : k_(k) {
        if (k_ <= kDenseLimit) dense_.assign(static_cast<size_t>(k_) * k_, 0);
    }
    void add(int32_t a, int32_t b, int64_t n = 1) {
        if (!dense_.empty()) dense_[static_cast<size_t>(a) * k_ + b] += n;
        else sparse_[(static_cast<uint64_t>(a) << 32) | static_cast<uint32_t>(b)] += n;
    }
    template <class F>
    void for_each(F f) const {
        if (!dense_.empty()) {
            for (int32_t a = 0; a < k_; ++a)
                for (int32_t b = 0; b < k_; ++b)
                    if (int64_t n = dense_[static_cast<size_t>(a) * k_ + b]) f(a, b, n);
        } else {
            for (auto [key, n] : sparse_) f(static_cast<int32_t>(key >> 32), static_cast<int32_t>(key & 0xffffffffu), n);
        }
    }

private:
    static constexpr int32_t kDenseLimit = 512;
    int32_t k_;
    std::vector<int64_t> dense_;
    std::unordered_map<uint64_t, int64_t> sparse_;
};

// Side counts of one class (in cell sides).
struct ClassSides {
    int64_t boundary = 0;     // facing no-data, NaN or the image edge
    int64_t background = 0;   // facing interior background
    int64_t border_same = 0;  // facing a border cell of the same class
};

// Classes numbered densely in ascending value.
struct Dense {
    std::vector<int64_t> values;  // dense index -> class value
    std::vector<char> inside;     // class occurs inside the landscape
};

// What one strip of rows contributes; patch and core numbers are the
// strip's own (0..k-1 in raster order of their first cells).
struct StripResult {
    std::vector<int64_t> classes;          // local class index -> class value
    std::vector<char> inside;              // per local class: occurs inside the landscape
    std::vector<int32_t> patch_class;      // per patch: local class index
    std::vector<int64_t> patch_cells, patch_sides;
    std::vector<int32_t> core_patch;       // per core: the strip's patch number
    std::vector<int64_t> core_cells;
    std::vector<ClassSides> sides;         // per local class
    std::vector<int64_t> class_cells;      // per local class
    std::vector<std::tuple<int32_t, int32_t, int64_t>> inner, border;  // local class pairs
    int64_t background_cells = 0;
    // Perimeter cells as own-row indices (row within the strip * columns +
    // column), grouped by patch, each group in raster order; patch q's are
    // perimeter[perimeter_at[q] .. perimeter_at[q + 1]).
    std::vector<uint32_t> perimeter, perimeter_at;
    int64_t first_row = 0;
    // First and last own row: raw cell codes, patch and core numbers; kept
    // until both seams of the strip are stitched.
    std::vector<int32_t> top_value, top_patch, top_core, bottom_value, bottom_patch, bottom_core;
};

struct StripPlan {
    int64_t height = 0, halo = 0, count = 0;
};

// Strips with `halo` rows read beyond each end for side counts and core
// distances.
StripPlan plan_strips(int64_t rows, int64_t cols, int64_t halo, int64_t requested);

// Labels, side counts, cores and perimeter cells of rows [r0, r1).
// `G`: vertical distances are exact up to G cells (G * G > core_limit).
void process_strip(const GridRows& grid, int64_t r0, int64_t r1, int64_t halo, int64_t G, double core_limit,
                   const Params& p, StripResult& out);

}  // namespace korvane::fragstat::detail
