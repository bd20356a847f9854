// Nearest-neighbour distance and proximity index between patches of one
// class, measured between cell centres.
//
// Only perimeter cells can hold the closest pair of two patches, so each
// patch's perimeter cells go into a small k-d tree and the distance of two
// patches is resolved by a branch-and-bound walk over both trees. Patches are
// found through a uniform grid over their bounding boxes:
//  - nearest neighbour: rings of grid cells around the patch, nearest first,
//    until the next ring lies beyond the best distance found;
//  - proximity within a radius: only the grid cells within the radius.
// When the radius covers the whole extent of a class every pair of its
// patches counts by definition, and each pair's exact distance is needed;
// pairs are then taken once each, in tiles of patches, small patches through
// a flat loop over their cells that the compiler vectorises.
//
// Every result is a function of the landscape alone: minima are exact
// integers, and each sum is taken in the order kProximityBlock fixes by the
// patch numbering, never by the number of threads or their timing.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>
#include <thread>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "engine.h"
#include "fragstat/fragstat.h"

// The cell loops are also built for AVX2 where the compiler can pick the
// version at load time; the portable build is the default.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define KV_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KV_VECTOR_CLONES
#endif

namespace korvane::fragstat::detail {
namespace {

using Pt = Cell;
struct Box {
    int32_t r0, r1, c0, c1;
};
struct Node {
    Box box;
    int32_t lo, hi;  // points [lo, hi)
    int32_t left = -1, right = -1;
};

constexpr int32_t kLeafSize = 8;
constexpr int64_t kFar = Isolation::kNone;

int64_t gap2(const Box& a, const Box& b) {
    const int64_t dr = std::max({int64_t{0}, int64_t{b.r0} - a.r1, int64_t{a.r0} - b.r1});
    const int64_t dc = std::max({int64_t{0}, int64_t{b.c0} - a.c1, int64_t{a.c0} - b.c1});
    return dr * dr + dc * dc;
}

class Forest {
public:
    std::vector<Pt> pts;
    std::vector<Node> nodes;
    std::vector<int32_t> root;  // per patch

    // Builds one tree per patch over pts[offsets[p], offsets[p+1]); patches
    // are numbered by their place in `offsets`. A patch of at most
    // kLeafSize cells is a single leaf and keeps its cells in order.
    void build(const std::vector<int32_t>& offsets) {
        const auto np = static_cast<int64_t>(offsets.size()) - 1;
        root.resize(static_cast<size_t>(np));
        int64_t total = 0;
        for (int64_t p = 0; p < np; ++p) total += tree_nodes(offsets[p + 1] - offsets[p]);
        nodes.reserve(static_cast<size_t>(total));  // no spare room: the trees are most of a class's memory
        std::vector<int32_t> stack;
        for (int64_t p = 0; p < np; ++p) {
            root[p] = add(offsets[p], offsets[p + 1]);
            stack.push_back(root[p]);
            while (!stack.empty()) {
                const int32_t k = stack.back();
                stack.pop_back();
                const int32_t lo = nodes[k].lo, hi = nodes[k].hi;
                if (hi - lo <= kLeafSize) continue;
                const Box b = nodes[k].box;
                const bool by_row = (b.r1 - b.r0) >= (b.c1 - b.c0);
                const int32_t mid = lo + (hi - lo) / 2;
                if (by_row)
                    std::nth_element(pts.begin() + lo, pts.begin() + mid, pts.begin() + hi,
                                     [](const Pt& x, const Pt& y) { return x.r < y.r; });
                else
                    std::nth_element(pts.begin() + lo, pts.begin() + mid, pts.begin() + hi,
                                     [](const Pt& x, const Pt& y) { return x.c < y.c; });
                const int32_t l = add(lo, mid), r = add(mid, hi);
                nodes[k].left = l;
                nodes[k].right = r;
                stack.push_back(l);
                stack.push_back(r);
            }
        }
    }

    // Smallest squared distance between the cells of patches a and b if it is
    // below `bound`, else `bound`.
    int64_t closest(int32_t a, int32_t b, int64_t bound, std::vector<std::pair<int32_t, int32_t>>& stack) const {
        int64_t best = bound;
        const Node& ra = nodes[root[a]];
        const Node& rb = nodes[root[b]];
        if (ra.left < 0 && rb.left < 0) return leaf_pair(ra, rb, best);  // small patches: no walk
        stack.clear();
        stack.push_back({root[a], root[b]});
        while (!stack.empty()) {
            auto [x, y] = stack.back();
            stack.pop_back();
            const Node& nx = nodes[x];
            const Node& ny = nodes[y];
            if (gap2(nx.box, ny.box) >= best) continue;
            const bool lx = nx.left < 0, ly = ny.left < 0;
            if (lx && ly) {
                best = leaf_pair(nx, ny, best);
                continue;
            }
            // Split the larger node; visit the nearer child first.
            const bool split_x = !lx && (ly || nx.hi - nx.lo >= ny.hi - ny.lo);
            std::pair<int32_t, int32_t> c1, c2;
            if (split_x) {
                c1 = {nx.left, y};
                c2 = {nx.right, y};
            } else {
                c1 = {x, ny.left};
                c2 = {x, ny.right};
            }
            const int64_t g1 = gap2(nodes[c1.first].box, nodes[c1.second].box);
            const int64_t g2 = gap2(nodes[c2.first].box, nodes[c2.second].box);
            if (g1 <= g2) {
                if (g2 < best) stack.push_back(c2);
                if (g1 < best) stack.push_back(c1);
            } else {
                if (g1 < best) stack.push_back(c1);
                if (g2 < best) stack.push_back(c2);
            }
        }
        return best;
    }

    const Box& box(int32_t patch) const { return nodes[root[patch]].box; }
    bool is_leaf(int32_t patch) const { return nodes[root[patch]].left < 0; }

private:
    // Nodes of the tree over n points (the split halves of `build`).
    static int64_t tree_nodes(int32_t n) { return n <= kLeafSize ? 1 : 1 + tree_nodes(n / 2) + tree_nodes(n - n / 2); }

    // A cell of x whose distance to y's box is no better skips y's cells.
    int64_t leaf_pair(const Node& x, const Node& y, int64_t best) const {
        const Box& yb = y.box;
        for (int32_t i = x.lo; i < x.hi; ++i) {
            const Pt p = pts[i];
            const int64_t gr = std::max({0, yb.r0 - p.r, p.r - yb.r1});
            const int64_t gc = std::max({0, yb.c0 - p.c, p.c - yb.c1});
            if (gr * gr + gc * gc >= best) continue;
            for (int32_t j = y.lo; j < y.hi; ++j) {
                const int64_t dr = p.r - pts[j].r, dc = p.c - pts[j].c;
                best = std::min(best, dr * dr + dc * dc);
            }
        }
        return best;
    }

    int32_t add(int32_t lo, int32_t hi) {
        Box b{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN};
        for (int32_t i = lo; i < hi; ++i) {
            b.r0 = std::min(b.r0, pts[i].r);
            b.r1 = std::max(b.r1, pts[i].r);
            b.c0 = std::min(b.c0, pts[i].c);
            b.c1 = std::max(b.c1, pts[i].c);
        }
        nodes.push_back(Node{b, lo, hi});
        return static_cast<int32_t>(nodes.size() - 1);
    }
};

// Uniform grid over the bounding boxes of a class's patches: each patch is
// listed in every grid cell its box overlaps.
class BoxGrid {
public:
    BoxGrid(const std::vector<Box>& boxes, const Box& extent) : extent_(extent) {
        const auto m = static_cast<int64_t>(boxes.size());
        const int64_t h = int64_t{extent.r1} - extent.r0 + 1, w = int64_t{extent.c1} - extent.c0 + 1;
        // About one patch per grid cell.
        side_ = std::max<int64_t>(1, static_cast<int64_t>(std::sqrt(static_cast<double>(h) * static_cast<double>(w) /
                                                                    static_cast<double>(m))));
        gh_ = (h + side_ - 1) / side_;
        gw_ = (w + side_ - 1) / side_;
        start_.assign(static_cast<size_t>(gh_ * gw_) + 1, 0);
        for (const Box& b : boxes) each_cell(b, [&](int64_t g) { ++start_[g + 1]; });
        for (size_t g = 1; g < start_.size(); ++g) start_[g] += start_[g - 1];
        ids_.resize(static_cast<size_t>(start_.back()));
        std::vector<int64_t> fill(start_.begin(), start_.end() - 1);
        for (int64_t p = 0; p < m; ++p) each_cell(boxes[p], [&](int64_t g) { ids_[fill[g]++] = static_cast<int32_t>(p); });
    }

    int64_t side() const { return side_; }
    int64_t grid_rows() const { return gh_; }
    int64_t grid_cols() const { return gw_; }
    int64_t row_of(int32_t r) const { return (int64_t{r} - extent_.r0) / side_; }
    int64_t col_of(int32_t c) const { return (int64_t{c} - extent_.c0) / side_; }

    // Patches listed in grid cell (gr, gc), in patch order.
    template <class F>
    void each_in(int64_t gr, int64_t gc, F&& f) const {
        const int64_t g = gr * gw_ + gc;
        for (int64_t k = start_[g]; k < start_[g + 1]; ++k) f(ids_[k]);
    }

private:
    template <class F>
    void each_cell(const Box& b, F&& f) const {
        for (int64_t gr = row_of(b.r0); gr <= row_of(b.r1); ++gr)
            for (int64_t gc = col_of(b.c0); gc <= col_of(b.c1); ++gc) f(gr * gw_ + gc);
    }

    Box extent_;
    int64_t side_ = 1, gh_ = 0, gw_ = 0;
    std::vector<int64_t> start_;
    std::vector<int32_t> ids_;
};

// out[j] = the smallest squared distance from the n cells `p` to the cell
// (R[j], C[j]), j < m; exact while squared distances stay below 2^53.
KV_VECTOR_CLONES void cells_to_cells(const Pt* p, int32_t n, const double* R, const double* C, int64_t m,
                                      double* out) {
    for (int32_t i = 0; i < n; ++i) {
        const double r = p[i].r, c = p[i].c;
        if (i == 0) {
            for (int64_t j = 0; j < m; ++j) out[j] = (R[j] - r) * (R[j] - r) + (C[j] - c) * (C[j] - c);
        } else {
            for (int64_t j = 0; j < m; ++j) {
                const double d = (R[j] - r) * (R[j] - r) + (C[j] - c) * (C[j] - c);
                out[j] = d < out[j] ? d : out[j];
            }
        }
    }
}

// out[j] = the smallest squared distance from the n cells (Ar[i], Ac[i])
// to the cell (Br[j], Bc[j]), j < m; exact while squared distances stay
// below 2^53.
KV_VECTOR_CLONES void sets_to_cells(const double* Ar, const double* Ac, int64_t n, const double* Br,
                                     const double* Bc, int64_t m, double* out) {
    for (int64_t j = 0; j < m; ++j) out[j] = (Br[j] - Ar[0]) * (Br[j] - Ar[0]) + (Bc[j] - Ac[0]) * (Bc[j] - Ac[0]);
    for (int64_t i = 1; i < n; ++i) {
        const double r = Ar[i], c = Ac[i];
        for (int64_t j = 0; j < m; ++j) {
            const double d = (Br[j] - r) * (Br[j] - r) + (Bc[j] - c) * (Bc[j] - c);
            out[j] = d < out[j] ? d : out[j];
        }
    }
}

// A cell as two 16-bit halves (row low, column high), for grids whose rows
// and columns are numbered below 2^15: then every difference of two such
// halves fits 16 bits and every squared distance 31 bits.
constexpr int64_t kPackedLimit = int64_t{1} << 15;
inline uint32_t pack_cell(int32_t r, int32_t c) {
    return static_cast<uint32_t>(static_cast<uint16_t>(r)) | static_cast<uint32_t>(static_cast<uint16_t>(c)) << 16;
}

// out[j] = the smallest squared distance from the n packed cells A to the
// packed cell B[j], j < m (exact integers).
void packed_to_cells_portable(const uint32_t* A, int64_t n, const uint32_t* B, int64_t m, int32_t* out) {
    for (int64_t j = 0; j < m; ++j) {
        const int32_t br = static_cast<int16_t>(B[j] & 0xffff), bc = static_cast<int16_t>(B[j] >> 16);
        int32_t best = INT32_MAX;
        for (int64_t i = 0; i < n; ++i) {
            const int32_t dr = br - static_cast<int16_t>(A[i] & 0xffff), dc = bc - static_cast<int16_t>(A[i] >> 16);
            best = std::min(best, dr * dr + dc * dc);
        }
        out[j] = best;
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// Eight cells of B at a time: one 16-bit subtraction gives both differences
// and one multiply-add their squared sum.
__attribute__((target("avx2"))) void packed_to_cells_avx2(const uint32_t* A, int64_t n, const uint32_t* B, int64_t m,
                                                          int32_t* out) {
    int64_t j = 0;
    for (; j + 8 <= m; j += 8) {
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(B + j));
        __m256i best = _mm256_set1_epi32(INT32_MAX);
        for (int64_t i = 0; i < n; ++i) {
            const __m256i d = _mm256_sub_epi16(b, _mm256_set1_epi32(static_cast<int32_t>(A[i])));
            best = _mm256_min_epi32(best, _mm256_madd_epi16(d, d));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), best);
    }
    packed_to_cells_portable(A, n, B + j, m - j, out + j);
}
#endif

// The smallest of x[0 .. n), n > 0, by value (a loop the compiler can
// vectorise).
inline int32_t least(const int32_t* x, int64_t n) {
    int32_t best = INT32_MAX;
    for (int64_t k = 0; k < n; ++k) best = std::min(best, x[k]);
    return best;
}

// d[k] = the smallest of x[at[k] - base .. at[k + 1] - base), k < n; no run is
// empty.
void segment_minima_portable(const int32_t* x, const int64_t* at, int64_t base, int64_t n, double* d) {
    for (int64_t k = 0; k < n; ++k) d[k] = static_cast<double>(least(x + (at[k] - base), at[k + 1] - at[k]));
}

#if defined(__x86_64__) && defined(__GNUC__)
// Runs of up to eight values are read in one masked load, without a branch
// on their length.
__attribute__((target("avx2"))) void segment_minima_avx2(const int32_t* x, const int64_t* at, int64_t base, int64_t n,
                                                          double* d) {
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), none = _mm256_set1_epi32(INT32_MAX);
    for (int64_t k = 0; k < n; ++k) {
        const int64_t len = at[k + 1] - at[k];
        if (len > 8) {
            d[k] = static_cast<double>(least(x + (at[k] - base), len));
            continue;
        }
        const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int32_t>(len)), lanes);
        __m256i v = _mm256_blendv_epi8(none, _mm256_maskload_epi32(x + (at[k] - base), mask), mask);
        v = _mm256_min_epi32(v, _mm256_permute2x128_si256(v, v, 1));
        v = _mm256_min_epi32(v, _mm256_shuffle_epi32(v, 0x4e));
        v = _mm256_min_epi32(v, _mm256_shuffle_epi32(v, 0xb1));
        d[k] = static_cast<double>(_mm256_cvtsi256_si32(v));
    }
}
#endif

void segment_minima(const int32_t* x, const int64_t* at, int64_t base, int64_t n, double* d) {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return segment_minima_avx2(x, at, base, n, d);
#endif
    segment_minima_portable(x, at, base, n, d);
}

void packed_to_cells(const uint32_t* A, int64_t n, const uint32_t* B, int64_t m, int32_t* out) {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return packed_to_cells_avx2(A, n, B, m, out);
#endif
    packed_to_cells_portable(A, n, B, m, out);
}

// Cell pairs up to which two facing sides are compared cell by cell rather
// than through the trees.
constexpr int64_t kFlatPairs = 1024;

// One class: its patches in patch order, their trees and boxes.
struct ClassIndex {
    std::vector<int32_t> patch;   // member -> patch id
    std::vector<int32_t> offset;  // member -> first point in the forest
    std::vector<double> cells;
    std::vector<Box> boxes;
    Forest forest;
    Box extent{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN};
    // Per member and direction (2 * (rows grow) + (columns grow)): the cells
    // not beaten in that direction by another cell of the patch, i.e. no
    // other cell lies at least as far along both axes.
    std::vector<Pt> stair;
    std::vector<double> stair_r, stair_c;  // the same cells, rows and columns apart (unless packed)
    std::vector<uint32_t> stair_packed;      // the same cells packed, when they fit pack_cell
    std::vector<int64_t> stair_at;  // member * 4 + direction -> first cell; 4m + 1 entries
    // Per member and side (0: top of each column, 1: bottom of each column,
    // 2: left end of each row, 3: right end of each row), rows and columns
    // apart: when b's box lies wholly beyond a's on one side (touching
    // allowed), a's cells on that side and b's on the opposite one hold the
    // closest pair, for no other cell of a row (column) comes nearer.
    std::vector<double> end_r, end_c;
    std::vector<int64_t> end_at;  // member * 4 + side -> first cell; 4m + 1 entries
    std::vector<uint32_t> end_packed;  // the same cells packed, when they fit pack_cell
    bool exact_in_double = false;  // squared distances of cells are exact in double
    bool packed = false;           // cells fit pack_cell

    // From the cells in raster order, before the trees reorder them: the
    // first and last cell of each row, scanned from the far side.
    void build_stairs() {
        const auto m = static_cast<int32_t>(patch.size());
        stair_at.assign(static_cast<size_t>(m) * 4 + 1, 0);
        std::vector<std::pair<Pt, Pt>> row_ends;
        for (int32_t a = 0; a < m; ++a) {
            row_ends.clear();
            for (int32_t i = offset[a]; i < offset[a + 1]; ++i) {
                const Pt p = forest.pts[i];
                if (row_ends.empty() || row_ends.back().first.r != p.r) row_ends.push_back({p, p});
                else row_ends.back().second = p;
            }
            for (int dir = 0; dir < 4; ++dir) {
                const bool grow_r = dir & 2, grow_c = dir & 1;
                int64_t reach = INT64_MIN;
                const auto n = static_cast<int64_t>(row_ends.size());
                for (int64_t k = 0; k < n; ++k) {
                    const auto& ends = row_ends[grow_r ? n - 1 - k : k];
                    const Pt p = grow_c ? ends.second : ends.first;
                    const int64_t along = grow_c ? p.c : -int64_t{p.c};
                    if (along > reach) {
                        reach = along;
                        stair.push_back(p);
                        if (packed) {
                            stair_packed.push_back(pack_cell(p.r, p.c));
                        } else {
                            stair_r.push_back(p.r);
                            stair_c.push_back(p.c);
                        }
                    }
                }
                stair_at[static_cast<size_t>(a) * 4 + dir + 1] = static_cast<int64_t>(stair.size());
            }
        }
    }

    // From the cells in raster order, before the trees reorder them: each
    // row's first and last cell, and each column's first and last (every
    // column of a patch's box holds one of its cells).
    void build_ends() {
        const auto m = static_cast<int32_t>(patch.size());
        end_at.assign(static_cast<size_t>(m) * 4 + 1, 0);
        // The columns a patch spans and how many rows it holds.
        auto extent = [&](int32_t a, int32_t& c0, int32_t& c1) {
            const Pt* p = forest.pts.data() + offset[a];
            int64_t rows_held = 0;
            c0 = INT32_MAX;
            c1 = INT32_MIN;
            for (int32_t i = 0; i < offset[a + 1] - offset[a]; ++i) {
                c0 = std::min(c0, p[i].c);
                c1 = std::max(c1, p[i].c);
                rows_held += i == 0 || p[i - 1].r != p[i].r;
            }
            return rows_held;
        };
        int64_t total = 0;  // each column's two ends and each row's two
        for (int32_t a = 0; a < m; ++a) {
            int32_t c0, c1;
            total += 2 * extent(a, c0, c1);
            total += 2 * (int64_t{c1} - c0 + 1);
        }
        end_r.reserve(static_cast<size_t>(total));
        if (packed) end_packed.reserve(static_cast<size_t>(total));
        end_c.reserve(static_cast<size_t>(total));
        std::vector<int32_t> top, bottom;
        for (int32_t a = 0; a < m; ++a) {
            const Pt* p = forest.pts.data() + offset[a];
            const int32_t n = offset[a + 1] - offset[a];
            int32_t c0, c1;
            extent(a, c0, c1);
            top.assign(static_cast<size_t>(c1 - c0 + 1), INT32_MAX);
            bottom.assign(static_cast<size_t>(c1 - c0 + 1), INT32_MIN);
            for (int32_t i = 0; i < n; ++i) {
                top[p[i].c - c0] = std::min(top[p[i].c - c0], p[i].r);
                bottom[p[i].c - c0] = std::max(bottom[p[i].c - c0], p[i].r);
            }
            auto put = [&](int32_t r, int32_t c) {
                end_r.push_back(r);
                if (packed) end_packed.push_back(pack_cell(r, c));
                end_c.push_back(c);
            };
            for (const auto* side : {&top, &bottom}) {
                for (int32_t c = c0; c <= c1; ++c) put((*side)[c - c0], c);
                end_at[static_cast<size_t>(a) * 4 + (side == &top ? 1 : 2)] = static_cast<int64_t>(end_r.size());
            }
            for (int last = 0; last < 2; ++last) {
                for (int32_t i = 0; i < n; ++i) {
                    const bool start = i == 0 || p[i - 1].r != p[i].r, end = i + 1 == n || p[i + 1].r != p[i].r;
                    if (last ? end : start) put(p[i].r, p[i].c);
                }
                end_at[static_cast<size_t>(a) * 4 + 3 + last] = static_cast<int64_t>(end_r.size());
            }
        }
    }

    // Squared distance of members a and b if below `bound`, else `bound`.
    // When b's box lies wholly on one side of a's along both axes (touching
    // allowed), every cell of a is matched or bettered by one of a's cells
    // facing b, and likewise for b, so the two facing staircases suffice.
    int64_t pair_d2(int32_t a, int32_t b, int64_t bound, std::vector<std::pair<int32_t, int32_t>>& stack) const {
        const Box &x = boxes[a], &y = boxes[b];
        const bool down = y.r0 >= x.r1, up = y.r1 <= x.r0, right = y.c0 >= x.c1, left = y.c1 <= x.c0;
        if ((down || up) && (right || left) && !stair.empty()) {
            const int dir = (down ? 2 : 0) + (right ? 1 : 0);
            const int64_t i0 = stair_at[int64_t{a} * 4 + dir], i1 = stair_at[int64_t{a} * 4 + dir + 1];
            const int64_t j0 = stair_at[int64_t{b} * 4 + 3 - dir], j1 = stair_at[int64_t{b} * 4 + 4 - dir];
            const int64_t pairs = (i1 - i0) * (j1 - j0);
            if (packed) {
                if (pairs <= kFlatPairs) return packed_d2(stair_packed.data(), i0, i1, j0, j1, bound);
            } else if (pairs <= 64) {
                int64_t best = bound;
                for (int64_t i = i0; i < i1; ++i)
                    for (int64_t j = j0; j < j1; ++j) {
                        const int64_t dr = stair[i].r - stair[j].r, dc = stair[i].c - stair[j].c;
                        best = std::min(best, dr * dr + dc * dc);
                    }
                return best;
            }
            else if (pairs <= kFlatPairs && exact_in_double)
                return flat_d2(stair_r.data(), stair_c.data(), i0, i1, j0, j1, bound);
        }
        if ((down || up || right || left) && exact_in_double) {
            const int side = right ? 3 : left ? 2 : down ? 1 : 0, facing = side ^ 1;
            const int64_t i0 = end_at[int64_t{a} * 4 + side], i1 = end_at[int64_t{a} * 4 + side + 1];
            const int64_t j0 = end_at[int64_t{b} * 4 + facing], j1 = end_at[int64_t{b} * 4 + facing + 1];
            if ((i1 - i0) * (j1 - j0) <= kFlatPairs)
                return packed ? packed_d2(end_packed.data(), i0, i1, j0, j1, bound)
                              : flat_d2(end_r.data(), end_c.data(), i0, i1, j0, j1, bound);
        }
        return forest.closest(a, b, bound, stack);
    }

    // The smallest squared distance between packed cells [i0, i1) and [j0,
    // j1) of P if below `bound`, else `bound`; the longer run is taken eight
    // cells at a time.
    static int64_t packed_d2(const uint32_t* P, int64_t i0, int64_t i1, int64_t j0, int64_t j1, int64_t bound) {
        if (i1 - i0 > j1 - j0) {
            std::swap(i0, j0);
            std::swap(i1, j1);
        }
        thread_local std::vector<int32_t> d2;
        d2.resize(static_cast<size_t>(j1 - j0));
        packed_to_cells(P + i0, i1 - i0, P + j0, j1 - j0, d2.data());
        return std::min<int64_t>(bound, least(d2.data(), j1 - j0));
    }

    // The smallest squared distance between cells [i0, i1) and [j0, j1) of
    // (R, C) if below `bound`, else `bound`.
    static int64_t flat_d2(const double* R, const double* C, int64_t i0, int64_t i1, int64_t j0, int64_t j1,
                           int64_t bound) {
        thread_local std::vector<double> d2;
        d2.resize(static_cast<size_t>(j1 - j0));
        sets_to_cells(R + i0, C + i0, i1 - i0, R + j0, C + j0, j1 - j0, d2.data());
        double best = d2[0];
        for (double d : d2) best = d < best ? d : best;
        return std::min(bound, static_cast<int64_t>(best));
    }
};

struct alignas(64) Scratch {  // one per thread, each on its own cache lines
    std::vector<std::pair<int32_t, int32_t>> stack;
    std::vector<int32_t> stamp;  // last focal member that met each member, plus one
    std::vector<double> d2, dt;
    std::vector<uint32_t> bottoms;
    std::vector<int32_t> dti;
    std::vector<double> dist = std::vector<double>(kProximityBlock), terms_a = std::vector<double>(kProximityBlock);
};

// Squared distance from member a to its nearest same-class member: grid
// rings around a's box, nearest first, each patch met once.
int64_t nearest(const ClassIndex& ci, const BoxGrid& grid, int32_t a, Scratch& s) {
    const Box& box = ci.boxes[a];
    const int64_t gr0 = grid.row_of(box.r0), gr1 = grid.row_of(box.r1);
    const int64_t gc0 = grid.col_of(box.c0), gc1 = grid.col_of(box.c1);
    const int64_t G = grid.side();
    int64_t best = kFar;
    auto visit = [&](int32_t b) {
        if (b == a || s.stamp[b] == a + 1) return;
        s.stamp[b] = a + 1;
        if (gap2(box, ci.boxes[b]) >= best) return;
        best = ci.pair_d2(a, b, best, s.stack);
    };
    for (int64_t k = 0;; ++k) {
        if (k > 0) {
            // Done once ring k-1 reached every edge of the grid; otherwise
            // patches not met so far lie more than (k-1)G cells away.
            if (gr0 - (k - 1) <= 0 && gc0 - (k - 1) <= 0 && gr1 + (k - 1) >= grid.grid_rows() - 1 &&
                gc1 + (k - 1) >= grid.grid_cols() - 1)
                break;
            const int64_t lb = (k - 1) * G + 1;
            if (lb * lb >= best) break;
        }
        const int64_t r0 = gr0 - k, r1 = gr1 + k, c0 = gc0 - k, c1 = gc1 + k;
        for (int64_t gr = std::max<int64_t>(r0, 0); gr <= std::min(r1, grid.grid_rows() - 1); ++gr) {
            const bool edge_row = gr == r0 || gr == r1;
            for (int64_t gc = std::max<int64_t>(c0, 0); gc <= std::min(c1, grid.grid_cols() - 1); ++gc) {
                if (k > 0 && !edge_row && gc != c0 && gc != c1) {  // inside the ring: skip to its far side
                    if (c1 > gc) gc = c1 - 1;
                    continue;
                }
                grid.each_in(gr, gc, visit);
            }
        }
    }
    return best;
}

// Small patches' cells side by side (rows and columns apart), for the flat
// loop of the all-pairs tiles; a larger patch has none here.
struct SmallCells {
    std::vector<double> r, c;
    std::vector<int64_t> at;  // member -> first cell; m + 1 entries
    explicit SmallCells(const ClassIndex& ci) {
        const auto m = static_cast<int32_t>(ci.patch.size());
        at.assign(static_cast<size_t>(m) + 1, 0);
        for (int32_t a = 0; a < m; ++a) {
            if (ci.offset[a + 1] - ci.offset[a] <= kLeafSize)
                for (int32_t i = ci.offset[a]; i < ci.offset[a + 1]; ++i) {
                    r.push_back(ci.forest.pts[i].r);
                    c.push_back(ci.forest.pts[i].c);
                }
            at[a + 1] = static_cast<int64_t>(r.size());
        }
    }
};

// The terms of one row of a tile, from the squared distances d[k] of member
// a (of `ca` cells) to the n members of cells[k]: to_b[k] gains ca / d[k];
// the terms cells[k] / d[k] are added to `sum` in order, which is returned.
KV_VECTOR_CLONES double add_terms(double ca, const double* cells, const double* d, int64_t n, double sum,
                                   double* to_b, double* terms) {
    for (int64_t k = 0; k < n; ++k) {
        to_b[k] += ca / d[k];
        terms[k] = cells[k] / d[k];
    }
    for (int64_t k = 0; k < n; ++k) sum += terms[k];
    return sum;
}

// The top cell of each column of every patch with at most kFlatCells
// columns, rows and columns apart, side by side: a patch whose box lies
// wholly below another's (touching allowed) meets it through these and the
// other's bottom cells, in the flat loop.
struct ColumnTops {
    std::vector<double> r, c;
    std::vector<uint32_t> packed;  // the same cells packed, when the class's cells fit pack_cell
    std::vector<int64_t> at;  // member -> first cell; m + 1 entries
    explicit ColumnTops(const ClassIndex& ci);
};

// Patches with at most this many perimeter cells meet the small patches of a
// tile through the flat loop; larger ones through their trees.
constexpr int32_t kFlatCells = 64;

ColumnTops::ColumnTops(const ClassIndex& ci) {
    const auto m = static_cast<int32_t>(ci.patch.size());
    at.assign(static_cast<size_t>(m) + 1, 0);
    for (int32_t a = 0; a < m; ++a) {
        const int64_t i0 = ci.end_at[int64_t{a} * 4], i1 = ci.end_at[int64_t{a} * 4 + 1];
        if (i1 - i0 <= kFlatCells) {
            r.insert(r.end(), ci.end_r.begin() + i0, ci.end_r.begin() + i1);
            c.insert(c.end(), ci.end_c.begin() + i0, ci.end_c.begin() + i1);
            if (ci.packed)
                for (int64_t i = i0; i < i1; ++i)
                    packed.push_back(pack_cell(static_cast<int32_t>(ci.end_r[i]), static_cast<int32_t>(ci.end_c[i])));
        }
        at[a + 1] = static_cast<int64_t>(r.size());
    }
}

// The smallest of x[0 .. n), n > 0.
inline double smallest(const double* x, int64_t n) {
    double best = x[0];
    for (int64_t k = 1; k < n; ++k) best = x[k] < best ? x[k] : best;
    return best;
}

// The radius of a proximity run (squared, in cells).
struct Reach {
    double r2;
    int64_t bound;     // pair_d2's bound: exact distances are needed below it
    bool every = false;  // every pair of the class lies within it
};

// The pairs (a, b > a) of members a in [a0, a1) and b in [b0, b1): to_a[a -
// a0] and to_b[b - b0] receive their terms, each in member order; a pair
// beyond the radius adds nothing (a term of 0). `within` counts the pairs
// within the radius.
void pair_tile(const ClassIndex& ci, const SmallCells& sm, const ColumnTops& tops, bool flat_ok, const Reach& reach,
               int32_t a0, int32_t a1, int32_t b0, int32_t b1, double* to_a, double* to_b, Scratch& s,
               int64_t& within_tile) {
    constexpr double kBeyond = std::numeric_limits<double>::infinity();
    int64_t within = 0;  // counted here, so no thread writes a line another is reading
    for (int32_t a = a0; a < a1; ++a) {
        const int32_t first = std::max(b0, a + 1);
        if (first >= b1) continue;
        const Box& box = ci.boxes[a];
        // Members below a through the column tops, small ones through their
        // cells, the rest through their trees.
        const int64_t bottom0 = ci.end_at[int64_t{a} * 4 + 1], bottom1 = ci.end_at[int64_t{a} * 4 + 2];
        const int64_t t0 = tops.at[first], t1 = tops.at[b1];
        const bool by_tops = flat_ok && bottom1 - bottom0 <= kFlatCells && t1 > t0;
        auto below = [&](int32_t b) { return by_tops && tops.at[b + 1] > tops.at[b] && ci.boxes[b].r0 >= box.r1; };
        const int64_t j0 = sm.at[first], j1 = sm.at[b1];
        const int32_t na = ci.offset[a + 1] - ci.offset[a];
        bool flat = false;
        if (flat_ok && na <= kFlatCells && j1 > j0)
            for (int32_t b = first; b < b1 && !flat; ++b) flat = sm.at[b + 1] > sm.at[b] && !below(b);
        if (by_tops && ci.packed) {
            s.bottoms.clear();
            for (int64_t i = bottom0; i < bottom1; ++i)
                s.bottoms.push_back(pack_cell(static_cast<int32_t>(ci.end_r[i]), static_cast<int32_t>(ci.end_c[i])));
            s.dti.resize(static_cast<size_t>(t1 - t0));
            packed_to_cells(s.bottoms.data(), bottom1 - bottom0, tops.packed.data() + t0, t1 - t0, s.dti.data());
        } else if (by_tops) {
            s.dt.resize(static_cast<size_t>(t1 - t0));
            sets_to_cells(ci.end_r.data() + bottom0, ci.end_c.data() + bottom0, bottom1 - bottom0, tops.r.data() + t0,
                          tops.c.data() + t0, t1 - t0, s.dt.data());
        }
        if (flat) {
            s.d2.resize(static_cast<size_t>(j1 - j0));
            cells_to_cells(ci.forest.pts.data() + ci.offset[a], na, sm.r.data() + j0, sm.c.data() + j0, j1 - j0,
                           s.d2.data());
        }
        double* d = s.dist.data();
        // The common case: every pair counts and every member lies below a,
        // each met through its column tops alone.
        bool all_below = reach.every && by_tops && ci.packed;
        for (int32_t b = first; b < b1 && all_below; ++b) all_below = below(b);
        if (all_below) segment_minima(s.dti.data(), tops.at.data() + first, t0, b1 - first, d);
        for (int32_t b = all_below ? b1 : first; b < b1; ++b) {
            double& x = d[b - first];
            if (!reach.every && static_cast<double>(gap2(box, ci.boxes[b])) > reach.r2) {
                x = kBeyond;
                continue;
            }
            if (below(b))
                x = ci.packed ? static_cast<double>(least(s.dti.data() + (tops.at[b] - t0), tops.at[b + 1] - tops.at[b]))
                              : smallest(s.dt.data() + (tops.at[b] - t0), tops.at[b + 1] - tops.at[b]);
            else if (flat && sm.at[b + 1] > sm.at[b]) x = smallest(s.d2.data() + (sm.at[b] - j0), sm.at[b + 1] - sm.at[b]);
            else x = static_cast<double>(ci.pair_d2(a, b, reach.every ? kFar : reach.bound, s.stack));
            if (reach.every) continue;
            if (x <= reach.r2) ++within;
            else x = kBeyond;
        }
        if (reach.every) within += b1 - first;
        to_a[a - a0] = add_terms(ci.cells[a], ci.cells.data() + first, d, b1 - first, to_a[a - a0],
                                 to_b + (first - b0), s.terms_a.data());
    }
    within_tile += within;
}

// Proximity of every member. Each pair is resolved once, in tiles of
// kProximityBlock x kProximityBlock members handed out row by row (I, J >=
// I); a tile whose two blocks lie apart beyond the radius is passed over. Tile (I, J)
// sums block J's terms for I's members and block I's terms for J's; the
// partial sums join the members' totals in block order: column J takes rows
// I in order (a tile waits its turn, which a tile handed out earlier gives
// it), and row I's own partial sums are kept until its last tile is done,
// then added in order. The earliest unfinished tile always proceeds, and no
// result depends on the threads.
std::vector<double> proximity(const ClassIndex& ci, const Reach& reach, unsigned threads, bool exact_in_double,
                              int64_t& pairs) {
    const auto m = static_cast<int32_t>(ci.patch.size());
    constexpr int32_t B = kProximityBlock;
    const int32_t nb = (m + B - 1) / B;
    const SmallCells sm(ci);
    const ColumnTops tops(ci);
    std::vector<Box> block_box(static_cast<size_t>(nb), Box{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN});
    for (int32_t a = 0; a < m; ++a) {
        Box& x = block_box[a / B];
        const Box& y = ci.boxes[a];
        x = Box{std::min(x.r0, y.r0), std::max(x.r1, y.r1), std::min(x.c0, y.c0), std::max(x.c1, y.c1)};
    }
    std::vector<double> total(static_cast<size_t>(m), 0.0);
    std::vector<int64_t> row_start(static_cast<size_t>(nb) + 1, 0);
    for (int32_t I = 0; I < nb; ++I) row_start[I + 1] = row_start[I] + (nb - I);
    struct Row {
        std::once_flag made;
        std::vector<double> part;  // [J - I][a - I * B]
        std::atomic<int32_t> left{0};
    };
    std::vector<Row> row(static_cast<size_t>(nb));
    std::vector<std::atomic<int32_t>> column_turn(static_cast<size_t>(nb));  // rows added to each column
    for (int32_t I = 0; I < nb; ++I) {
        column_turn[I] = 0;
        row[I].left = nb - I;
    }
    auto await = [](std::atomic<int32_t>& turn, int32_t want) {
        for (int32_t v; (v = turn.load(std::memory_order_acquire)) != want;) turn.wait(v, std::memory_order_acquire);
    };
    const auto workers = static_cast<unsigned>(std::clamp<int64_t>(threads, 1, row_start[nb]));
    std::vector<Scratch> scratch(workers);
    struct alignas(64) Count {
        int64_t n = 0;
    };
    std::vector<Count> within(workers);
    std::atomic<int64_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    std::mutex error_mutex;
    auto work = [&](unsigned t) {
        for (int64_t k; !failed.load(std::memory_order_relaxed) &&
                        (k = next.fetch_add(1, std::memory_order_relaxed)) < row_start[nb];) {
            const auto I = static_cast<int32_t>(std::upper_bound(row_start.begin(), row_start.end(), k) -
                                                row_start.begin() - 1);
            const auto J = static_cast<int32_t>(I + (k - row_start[I]));
            const int32_t a0 = I * B, a1 = std::min(m, a0 + B), b0 = J * B, b1 = std::min(m, b0 + B);
            Row& r = row[I];
            std::array<double, B> to_b{};
            double* to_a = nullptr;
            try {
                std::call_once(r.made, [&] { r.part.assign(static_cast<size_t>(nb - I) * B, 0.0); });
                to_a = r.part.data() + static_cast<size_t>(J - I) * B;
                // A diagonal tile keeps one sum per member: earlier members' terms come first.
                if (reach.every || static_cast<double>(gap2(block_box[I], block_box[J])) <= reach.r2)
                    pair_tile(ci, sm, tops, exact_in_double, reach, a0, a1, b0, b1, to_a, J == I ? to_a : to_b.data(),
                              scratch[t], within[t].n);
            } catch (...) {
                std::lock_guard<std::mutex> lock(error_mutex);
                if (!error) error = std::current_exception();
                failed = true;
            }
            // Turns are passed on even after a failure, so that no wait is left hanging.
            if (J > I) {
                await(column_turn[J], I);
                for (int32_t b = b0; b < b1; ++b) total[b] += to_b[b - b0];
                column_turn[J].store(I + 1, std::memory_order_release);
                column_turn[J].notify_all();
            }
            if (r.left.fetch_sub(1, std::memory_order_acq_rel) == 1) {  // the row's last tile
                await(column_turn[I], I);
                if (!r.part.empty())
                    for (int32_t j = 0; j < nb - I; ++j)
                        for (int32_t a = a0; a < a1; ++a) total[a] += r.part[static_cast<size_t>(j) * B + (a - a0)];
                std::vector<double>().swap(r.part);
            }
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < workers; ++t) pool.emplace_back(work, t);
    work(0);
    for (auto& th : pool) th.join();
    if (error) std::rethrow_exception(error);
    for (const Count& w : within) pairs += w.n;
    return total;
}

}  // namespace

Isolation isolation(const PerimeterGather& gather, const PatchTable& patches, int32_t class_count, double radius2,
                    int64_t rows, int64_t cols, unsigned threads) {
    const auto np = static_cast<int64_t>(patches.cells.size());
    Isolation out;
    out.nn_d2.assign(static_cast<size_t>(np), Isolation::kNone);
    out.prox.assign(static_cast<size_t>(np), 0.0);

    std::vector<std::vector<int32_t>> by_class(static_cast<size_t>(class_count));
    for (int64_t p = 0; p < np; ++p) by_class[patches.cls[p]].push_back(static_cast<int32_t>(p));

    const double r2 = std::min(radius2, 9.0e18);
    // Squared distances of cell centres are exact in double on this grid.
    const auto span2 = static_cast<double>(rows) * static_cast<double>(rows) +
                       static_cast<double>(cols) * static_cast<double>(cols);
    const bool exact_in_double = span2 < 0x1p53;
    for (const auto& members : by_class) {
        const auto m = static_cast<int32_t>(members.size());
        if (m < 2) continue;
        // The class's trees side by side in memory, in patch order.
        ClassIndex ci;
        ci.patch = members;
        gather(members, ci.offset, ci.forest.pts);
        ci.exact_in_double = exact_in_double;
        ci.packed = rows <= kPackedLimit && cols <= kPackedLimit;
        ci.build_stairs();
        ci.build_ends();
        ci.forest.build(ci.offset);
        ci.boxes.resize(static_cast<size_t>(m));
        ci.cells.resize(static_cast<size_t>(m));
        for (int32_t a = 0; a < m; ++a) {
            const Box& b = ci.boxes[a] = ci.forest.box(a);
            ci.cells[a] = static_cast<double>(patches.cells[ci.patch[a]]);
            ci.extent = Box{std::min(ci.extent.r0, b.r0), std::max(ci.extent.r1, b.r1), std::min(ci.extent.c0, b.c0),
                            std::max(ci.extent.c1, b.c1)};
        }
        const BoxGrid grid(ci.boxes, ci.extent);
        std::vector<Scratch> scratch(threads);
        for (auto& s : scratch) s.stamp.assign(static_cast<size_t>(m), 0);

        // Nearest neighbours.
        constexpr int64_t kChunk = 64;
        parallel_for((m + kChunk - 1) / kChunk, threads, [&](int64_t chunk, unsigned t) {
            const auto end = static_cast<int32_t>(std::min<int64_t>(m, (chunk + 1) * kChunk));
            for (auto a = static_cast<int32_t>(chunk * kChunk); a < end; ++a)
                out.nn_d2[ci.patch[a]] = nearest(ci, grid, a, scratch[t]);
        });
        for (auto& s : scratch) std::fill(s.stamp.begin(), s.stamp.end(), 0);

        // Proximity.
        const double h = static_cast<double>(ci.extent.r1) - ci.extent.r0;
        const double w = static_cast<double>(ci.extent.c1) - ci.extent.c0;
        const Reach reach{r2, static_cast<int64_t>(r2) + 1, h * h + w * w <= r2};
        const std::vector<double> prox = proximity(ci, reach, threads, exact_in_double, out.pairs);
        for (int32_t a = 0; a < m; ++a) out.prox[ci.patch[a]] = prox[a];
    }
    return out;
}

}  // namespace korvane::fragstat::detail
