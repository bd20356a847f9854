#pragma once
// Internal pieces of the metrics engine.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace korvane::fragstat::detail {

// Cell codes after the grid has been read and its classes numbered densely.
inline constexpr int32_t kOutside = -1;             // no-data, NaN, background < 0
inline constexpr int32_t kInteriorBackground = -2;  // background >= 0
inline constexpr int32_t kFirstBorder = -3;          // border class k is -3 - k
inline int32_t border_code(int32_t k) { return kFirstBorder - k; }
inline int32_t border_class(int32_t code) { return kFirstBorder - code; }

// Connected components by union-find kept inside the label array itself:
// while rows are linked, a member cell holds the index of an earlier cell of
// its component (a root holds its own index), so no second array is needed.
struct RowLinker {
    int32_t* parent;
    int64_t cols;
    bool diags;

    int32_t find(int32_t x) const {
        while (parent[x] != x) {
            parent[x] = parent[parent[x]];
            x = parent[x];
        }
        return x;
    }
    void unite(int32_t a, int32_t b) const {
        a = find(a);
        b = find(b);
        if (a < b) parent[b] = a;
        else if (b < a) parent[a] = b;
    }
    // Links the cells of row r. member(i): cell i belongs to some component;
    // same(i, j): earlier member j is connected to member i when adjacent.
    // Non-members get `outside(i)`.
    template <class Member, class Same, class Outside>
    void link_row(int64_t r, Member member, Same same, Outside outside) const {
        const int64_t row0 = r * cols;
        for (int64_t c = 0; c < cols; ++c) {
            const int64_t i = row0 + c;
            if (!member(i)) {
                parent[i] = outside(i);
                continue;
            }
            const auto self = static_cast<int32_t>(i);
            const bool up = r > 0;
            const bool n = up && same(i, i - cols);
            const bool w = c > 0 && same(i, i - 1);
            if (diags) {
                if (n) {  // every other earlier neighbour touches the north one
                    parent[i] = static_cast<int32_t>(i - cols);
                    continue;
                }
                int32_t first = -1;
                if (w) first = static_cast<int32_t>(i - 1);
                else if (up && c > 0 && same(i, i - cols - 1)) first = static_cast<int32_t>(i - cols - 1);
                if (up && c + 1 < cols && same(i, i - cols + 1)) {
                    const auto ne = static_cast<int32_t>(i - cols + 1);
                    if (first >= 0) unite(first, ne);
                    else first = ne;
                }
                parent[i] = first >= 0 ? first : self;
            } else {
                if (n && w) unite(static_cast<int32_t>(i - cols), static_cast<int32_t>(i - 1));
                parent[i] = n ? static_cast<int32_t>(i - cols) : w ? static_cast<int32_t>(i - 1) : self;
            }
        }
    }
};

// Turns linked parents into dense component ids 0..k-1 in raster order of
// their first cell; calls on_cell(i, id) for every member. Returns k.
template <class Member, class OnCell>
int64_t resolve_components(int32_t* parent, int64_t n, Member member, OnCell on_cell) {
    int32_t next = 0;
    for (int64_t i = 0; i < n; ++i) {
        if (!member(i)) continue;
        const int32_t p = parent[i];
        const int32_t id = p == i ? next++ : parent[p];
        parent[i] = id;
        on_cell(i, id);
    }
    return next;
}

// Components of the h rows of `values` (h * cols cells): cells with
// member(i) connect to side (and with `diags` corner) neighbours of equal
// value. ids[i] gets the strip's own component number, 0..k-1 in raster
// order of first cells, or -1; on_cell(i, id) is called for every member in
// raster order. Returns k.
template <class Member, class OnCell>
int64_t label_strip(const int32_t* values, int64_t h, int64_t cols, bool diags, int32_t* ids, Member member,
                    OnCell on_cell) {
    const RowLinker linker{ids, cols, diags};
    for (int64_t r = 0; r < h; ++r)
        linker.link_row(
            r, member, [&](int64_t i, int64_t j) { return values[j] == values[i]; }, [](int64_t) { return -1; });
    return resolve_components(ids, h * cols, member, on_cell);
}

// Rows per strip: `requested`, or about kStripCells cells (at least
// `at_least` rows); never more than the grid.
inline constexpr int64_t kStripCells = int64_t{1} << 18;
inline int64_t strip_height(int64_t rows, int64_t cols, int64_t requested, int64_t at_least) {
    const int64_t h = requested > 0 ? requested : std::max(at_least, kStripCells / std::max<int64_t>(1, cols));
    return std::clamp<int64_t>(h, 1, rows);
}

// Runs body(i, worker) for i in [0, n) on up to `threads` threads, taking
// the indices in order. An exception stops further indices from being
// taken; once every running body has returned, the one of the lowest index
// is rethrown (every lower index has run by then, so it is the one a single
// thread would have met first).
template <class Body>
void parallel_for(int64_t n, unsigned threads, Body&& body) {
    std::atomic<int64_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    int64_t error_index = n;
    std::mutex error_mutex;
    auto run = [&](unsigned t) {
        for (int64_t i; !failed.load(std::memory_order_relaxed) &&
                        (i = next.fetch_add(1, std::memory_order_relaxed)) < n;) {
            try {
                body(i, t);
            } catch (...) {
                std::lock_guard<std::mutex> lock(error_mutex);
                if (i < error_index) {
                    error = std::current_exception();
                    error_index = i;
                }
                failed = true;
            }
        }
    };
    const auto used = static_cast<unsigned>(std::max<int64_t>(1, std::min<int64_t>(threads, n)));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < used; ++t) pool.emplace_back(run, t);
    run(0);
    for (auto& th : pool) th.join();
    if (error) std::rethrow_exception(error);
}

// The number of worker threads for a request of `threads` (0: every core).
inline unsigned worker_count(unsigned threads) {
    if (threads > 0) return threads;
    return std::max(1u, std::thread::hardware_concurrency());
}

// Components found strip by strip: each strip numbers its own components
// 0..k-1 in raster order of their first cell, and each seam between two
// strips lists the pairs (component above, component below) that touch
// across it. Taken together, strip by strip, these provisional numbers run
// in raster order of the first cells too, so merging every set into its
// smallest member and numbering the survivors in order gives the numbering
// one pass over the whole grid would give.
struct SeamMerge {
    std::vector<int64_t> first;  // per strip: its first provisional number; one more entry at the end
    std::vector<std::vector<std::pair<int32_t, int32_t>>> seams;  // seams[s]: strip s with strip s + 1

    // Final number (0-based) of every provisional one; `count` gets how many.
    std::vector<int64_t> resolve(const std::vector<int64_t>& per_strip, int64_t& count) {
        first.assign(per_strip.size() + 1, 0);
        for (size_t s = 0; s < per_strip.size(); ++s) first[s + 1] = first[s] + per_strip[s];
        std::vector<int64_t> parent(static_cast<size_t>(first.back()));
        for (int64_t i = 0; i < first.back(); ++i) parent[i] = i;
        auto find = [&](int64_t x) {
            while (parent[x] != x) {
                parent[x] = parent[parent[x]];
                x = parent[x];
            }
            return x;
        };
        for (size_t s = 0; s < seams.size(); ++s) {
            for (auto [a, b] : seams[s]) {
                const int64_t x = find(first[s] + a), y = find(first[s + 1] + b);
                if (x < y) parent[y] = x;
                else if (y < x) parent[x] = y;
            }
            std::vector<std::pair<int32_t, int32_t>>().swap(seams[s]);
        }
        // Every parent is a smaller number, so one pass in order points each
        // member at its root; a second numbers the roots in order.
        const int64_t n = first.back();
        for (int64_t i = 0; i < n; ++i) parent[i] = parent[parent[i]];
        count = 0;
        for (int64_t i = 0; i < n; ++i) parent[i] = parent[i] == i ? count++ : parent[parent[i]];
        return parent;
    }
};

// The pairs of components that touch across a seam: row `above` (the last
// row of one strip) against row `below` (the first of the next), with their
// cell values and component numbers (negative: no component).
inline void stitch_seam(const int32_t* value_above, const int32_t* id_above, const int32_t* value_below,
                        const int32_t* id_below, int64_t cols, bool diags,
                        std::vector<std::pair<int32_t, int32_t>>& out) {
    auto link = [&](int64_t c, int64_t x) {
        if (x < 0 || x >= cols || id_above[x] < 0 || value_above[x] != value_below[c]) return;
        const std::pair<int32_t, int32_t> e{id_above[x], id_below[c]};
        if (out.empty() || out.back() != e) out.push_back(e);
    };
    for (int64_t c = 0; c < cols; ++c) {
        if (id_below[c] < 0) continue;
        link(c, c);
        if (diags) {
            link(c, c - 1);
            link(c, c + 1);
        }
    }
}

// Fractal dimension of one patch from its perimeter (m) and area (m2); a
// patch of 1 m2 (0/0) counts as 1.
inline double patch_fractal(double perimeter_m, double area_m2) {
    const double ln_a = std::log(area_m2);
    return std::fabs(ln_a) < 1e-12 ? 1.0 : 2.0 * std::log(0.25 * perimeter_m) / ln_a;
}

struct PatchTable {
    std::vector<int32_t> cls;    // dense class index
    std::vector<int64_t> cells;
};

// Nearest same-class neighbour (squared distance in cells, or none) and
// proximity index of every patch.
struct Isolation {
    static constexpr int64_t kNone = std::numeric_limits<int64_t>::max();
    std::vector<int64_t> nn_d2;
    std::vector<double> prox;
    int64_t pairs = 0;  // same-class pairs within the radius
};
// A perimeter cell (row, column).
struct Cell {
    int32_t r, c;
};
// The perimeter cells of one class's patches, asked for class by class so
// that only one class's are unpacked at a time: gather(members, offset,
// cells) puts the cells of patch members[k] (ascending patch numbers of one
// class) at cells[offset[k] .. offset[k + 1]), each patch's in raster order.
using PerimeterGather =
    std::function<void(const std::vector<int32_t>& members, std::vector<int32_t>& offset, std::vector<Cell>& cells)>;
// radius2: the squared search radius in cells (inclusive).
Isolation isolation(const PerimeterGather& gather, const PatchTable& patches, int32_t class_count, double radius2,
                    int64_t rows, int64_t cols, unsigned threads);

}  // namespace korvane::fragstat::detail
