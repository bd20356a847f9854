#pragma once
// Internal pieces of the metrics engine.
#include <cmath>
#include <cstdint>
#include <limits>
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
};
// `labels`: patch id per cell (negative: no patch). radius2: the squared
// search radius in cells (inclusive).
Isolation isolation(const std::vector<int32_t>& labels, int64_t rows, int64_t cols, const PatchTable& patches,
                    int32_t class_count, double radius2);

}  // namespace korvane::fragstat::detail
