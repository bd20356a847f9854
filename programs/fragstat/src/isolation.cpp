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
// pairs are then taken once each, small patches through a flat loop.
//
// Every result is a function of the landscape alone: minima are exact
// integers, and each sum is taken in an order fixed by the patch numbering,
// never by the number of threads or their timing.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "engine.h"

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
                std::nth_element(pts.begin() + lo, pts.begin() + mid, pts.begin() + hi,
                                 [by_row](const Pt& x, const Pt& y) { return by_row ? x.r < y.r : x.c < y.c; });
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

// One class: its patches (small ones first), their trees and boxes.
struct ClassIndex {
    std::vector<int32_t> patch;   // member -> patch id
    std::vector<int32_t> offset;  // member -> first point in the forest
    std::vector<double> cells;
    std::vector<Box> boxes;
    Forest forest;
    Box extent{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN};
    int32_t small = 0;  // members [0, small) are single-leaf patches
    // Per member and direction (2 * (rows grow) + (columns grow)): the cells
    // not beaten in that direction by another cell of the patch, i.e. no
    // other cell lies at least as far along both axes.
    std::vector<Pt> stair;
    std::vector<int64_t> stair_at;  // member * 4 + direction -> first cell; 4m + 1 entries

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
                    }
                }
                stair_at[static_cast<size_t>(a) * 4 + dir + 1] = static_cast<int64_t>(stair.size());
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
            if ((i1 - i0) * (j1 - j0) <= 64) {  // beyond that the trees are quicker
                int64_t best = bound;
                for (int64_t i = i0; i < i1; ++i)
                    for (int64_t j = j0; j < j1; ++j) {
                        const int64_t dr = stair[i].r - stair[j].r, dc = stair[i].c - stair[j].c;
                        best = std::min(best, dr * dr + dc * dc);
                    }
                return best;
            }
        }
        return forest.closest(a, b, bound, stack);
    }
};

struct Scratch {
    std::vector<std::pair<int32_t, int32_t>> stack;
    std::vector<int32_t> stamp;  // last focal member that met each member, plus one
    std::vector<double> d2;
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

// Proximity of member a within the squared radius r2: the grid cells within
// the radius of a's box, in grid order.
double proximity_within(const ClassIndex& ci, const BoxGrid& grid, int32_t a, double r2, Scratch& s) {
    const Box& box = ci.boxes[a];
    const auto reach = static_cast<int64_t>(std::ceil(std::sqrt(r2)));
    const int64_t bound = static_cast<int64_t>(r2) + 1;  // exact distances needed below this
    const int64_t gr0 = std::max<int64_t>(0, grid.row_of(static_cast<int32_t>(std::max<int64_t>(
                                                 box.r0 - reach, ci.extent.r0))));
    const int64_t gr1 = grid.row_of(static_cast<int32_t>(std::min<int64_t>(box.r1 + reach, ci.extent.r1)));
    const int64_t gc0 = grid.col_of(static_cast<int32_t>(std::max<int64_t>(box.c0 - reach, ci.extent.c0)));
    const int64_t gc1 = grid.col_of(static_cast<int32_t>(std::min<int64_t>(box.c1 + reach, ci.extent.c1)));
    double sum = 0;
    for (int64_t gr = gr0; gr <= gr1; ++gr)
        for (int64_t gc = gc0; gc <= gc1; ++gc)
            grid.each_in(gr, gc, [&](int32_t b) {
                if (b == a || s.stamp[b] == a + 1) return;
                s.stamp[b] = a + 1;
                if (static_cast<double>(gap2(box, ci.boxes[b])) > r2) return;
                const int64_t d2 = ci.pair_d2(a, b, bound, s.stack);
                if (static_cast<double>(d2) <= r2) sum += ci.cells[b] / static_cast<double>(d2);
            });
    return sum;
}

// Proximity of every member when every pair of the class lies within the
// radius. Each pair is resolved once: rows of focal members in fixed blocks,
// a row taking the pairs (a, b > a) of its members; what b receives from a
// row is kept per row and added up in row order afterwards.
std::vector<double> proximity_all_pairs(const ClassIndex& ci, unsigned threads, bool exact_in_double) {
    const auto m = static_cast<int32_t>(ci.patch.size());
    const int32_t S = ci.small;
    const int32_t block = std::max<int32_t>(64, (m + 63) / 64);
    const int32_t rows = (m + block - 1) / block;
    std::vector<double> own(static_cast<size_t>(m), 0.0);
    std::vector<std::vector<double>> received(static_cast<size_t>(rows));
    // Small patches' cells side by side, for the flat loop below.
    const int32_t small_end = ci.offset[S];
    std::vector<double> pr, pc;
    if (exact_in_double) {
        pr.resize(static_cast<size_t>(small_end));
        pc.resize(static_cast<size_t>(small_end));
        for (int32_t j = 0; j < small_end; ++j) {
            pr[j] = ci.forest.pts[j].r;
            pc[j] = ci.forest.pts[j].c;
        }
    }
    std::vector<Scratch> scratch(threads);
    parallel_for(rows, threads, [&](int64_t row, unsigned t) {
        Scratch& s = scratch[t];
        const int32_t first = static_cast<int32_t>(row) * block;
        const int32_t last = std::min(m, first + block);
        std::vector<double>& recv = received[row];
        recv.assign(static_cast<size_t>(m - first), 0.0);
        for (int32_t a = first; a < last; ++a) {
            double sum = 0;
            const double ca = ci.cells[a];
            int32_t b = a + 1;
            if (exact_in_double && a < S) {
                // Small against small: squared distances from a's cells to
                // every later small patch's cells, then the minimum per patch.
                const int32_t j0 = ci.offset[a + 1];
                s.d2.assign(static_cast<size_t>(small_end - j0), 0.0);
                double* d2 = s.d2.data();
                const double* R = pr.data() + j0;
                const double* C = pc.data() + j0;
                const int32_t n = small_end - j0;
                for (int32_t i = ci.offset[a]; i < j0; ++i) {
                    const double r = pr[i], c = pc[i];
                    if (i == ci.offset[a]) {
                        for (int32_t j = 0; j < n; ++j) d2[j] = (R[j] - r) * (R[j] - r) + (C[j] - c) * (C[j] - c);
                    } else {
                        for (int32_t j = 0; j < n; ++j)
                            d2[j] = std::min(d2[j], (R[j] - r) * (R[j] - r) + (C[j] - c) * (C[j] - c));
                    }
                }
                for (; b < S; ++b) {
                    double d = d2[ci.offset[b] - j0];
                    for (int32_t j = ci.offset[b] + 1; j < ci.offset[b + 1]; ++j) d = std::min(d, d2[j - j0]);
                    sum += ci.cells[b] / d;
                    recv[b - first] += ca / d;
                }
            }
            for (; b < m; ++b) {
                const auto d = static_cast<double>(ci.pair_d2(a, b, kFar, s.stack));
                sum += ci.cells[b] / d;
                recv[b - first] += ca / d;
            }
            own[a] = sum;
        }
    });
    for (int32_t row = 0; row < rows; ++row) {
        const int32_t first = row * block;
        for (int32_t b = first; b < m; ++b) own[b] += received[row][b - first];
        std::vector<double>().swap(received[row]);
    }
    return own;
}

}  // namespace

Isolation isolation(const std::vector<int64_t>& offsets, std::vector<Cell> all, const PatchTable& patches,
                    int32_t class_count, double radius2, int64_t rows, int64_t cols, unsigned threads) {
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
        // The class's trees side by side in memory: small patches first,
        // each group in raster order of the patches' first cells.
        ClassIndex ci;
        ci.patch.reserve(static_cast<size_t>(m));
        for (int pass = 0; pass < 2; ++pass)
            for (int32_t P : members)
                if ((offsets[P + 1] - offsets[P] <= kLeafSize) == (pass == 0)) ci.patch.push_back(P);
        ci.offset.assign(static_cast<size_t>(m) + 1, 0);
        for (int32_t a = 0; a < m; ++a) {
            const int32_t P = ci.patch[a];
            ci.forest.pts.insert(ci.forest.pts.end(), all.begin() + offsets[P], all.begin() + offsets[P + 1]);
            ci.offset[a + 1] = static_cast<int32_t>(ci.forest.pts.size());
            if (offsets[P + 1] - offsets[P] <= kLeafSize) ci.small = a + 1;
        }
        ci.build_stairs();
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
        if (h * h + w * w <= r2) {
            const std::vector<double> prox = proximity_all_pairs(ci, threads, exact_in_double);
            for (int32_t a = 0; a < m; ++a) out.prox[ci.patch[a]] = prox[a];
        } else {
            parallel_for((m + kChunk - 1) / kChunk, threads, [&](int64_t chunk, unsigned t) {
                const auto end = static_cast<int32_t>(std::min<int64_t>(m, (chunk + 1) * kChunk));
                for (auto a = static_cast<int32_t>(chunk * kChunk); a < end; ++a)
                    out.prox[ci.patch[a]] = proximity_within(ci, grid, a, r2, scratch[t]);
            });
        }
    }
    return out;
}

}  // namespace korvane::fragstat::detail
