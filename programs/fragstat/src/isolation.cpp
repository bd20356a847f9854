// Nearest-neighbour distance and proximity index between patches of one
// class, measured between cell centres. Only perimeter cells can hold the
// closest pair, so each patch's perimeter cells go into a small k-d tree and
// pairs of patches are resolved by a branch-and-bound walk over both trees.
#include <algorithm>
#include <atomic>
#include <thread>

#include "engine.h"

namespace korvane::fragstat::detail {
namespace {

struct Pt {
    int32_t r, c;
};
struct Box {
    int32_t r0, r1, c0, c1;
};
struct Node {
    Box box;
    int64_t lo, hi;           // points [lo, hi)
    int32_t left = -1, right = -1;
};

constexpr int64_t kLeafSize = 8;

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
    // are numbered by their place in `offsets`.
    void build(const std::vector<int64_t>& offsets) {
        const auto np = static_cast<int64_t>(offsets.size()) - 1;
        root.resize(static_cast<size_t>(np));
        std::vector<int32_t> stack;
        for (int64_t p = 0; p < np; ++p) {
            root[p] = add(offsets[p], offsets[p + 1]);
            stack.push_back(root[p]);
            while (!stack.empty()) {
                const int32_t k = stack.back();
                stack.pop_back();
                const int64_t lo = nodes[k].lo, hi = nodes[k].hi;
                if (hi - lo <= kLeafSize) continue;
                const Box b = nodes[k].box;
                const bool by_row = (b.r1 - b.r0) >= (b.c1 - b.c0);
                const int64_t mid = lo + (hi - lo) / 2;
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

private:
    int64_t leaf_pair(const Node& x, const Node& y, int64_t best) const {
        for (int64_t i = x.lo; i < x.hi; ++i)
            for (int64_t j = y.lo; j < y.hi; ++j) {
                const int64_t dr = pts[i].r - pts[j].r, dc = pts[i].c - pts[j].c;
                best = std::min(best, dr * dr + dc * dc);
            }
        return best;
    }

    int32_t add(int64_t lo, int64_t hi) {
        Box b{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN};
        for (int64_t i = lo; i < hi; ++i) {
            b.r0 = std::min(b.r0, pts[i].r);
            b.r1 = std::max(b.r1, pts[i].r);
            b.c0 = std::min(b.c0, pts[i].c);
            b.c1 = std::max(b.c1, pts[i].c);
        }
        nodes.push_back(Node{b, lo, hi});
        return static_cast<int32_t>(nodes.size() - 1);
    }
};

}  // namespace

Isolation isolation(const std::vector<int32_t>& lab, int64_t rows, int64_t cols, const PatchTable& patches,
                    int32_t class_count, double radius2) {
    const auto np = static_cast<int64_t>(patches.cells.size());
    Isolation out;
    out.nn_d2.assign(static_cast<size_t>(np), Isolation::kNone);
    out.prox.assign(static_cast<size_t>(np), 0.0);

    // Perimeter cells (a side neighbour outside the patch), grouped by patch.
    auto on_perimeter = [&](int64_t r, int64_t c) {
        const int64_t i = r * cols + c;
        const int32_t P = lab[i];
        return r == 0 || c == 0 || r + 1 == rows || c + 1 == cols || lab[i - cols] != P || lab[i + cols] != P ||
               lab[i - 1] != P || lab[i + 1] != P;
    };
    std::vector<int64_t> offsets(static_cast<size_t>(np) + 1, 0);
    for (int64_t r = 0; r < rows; ++r)
        for (int64_t c = 0; c < cols; ++c)
            if (lab[r * cols + c] >= 0 && on_perimeter(r, c)) ++offsets[lab[r * cols + c] + 1];
    for (int64_t p = 0; p < np; ++p) offsets[p + 1] += offsets[p];
    std::vector<Pt> all(static_cast<size_t>(offsets[np]));
    {
        std::vector<int64_t> fill(offsets.begin(), offsets.end() - 1);
        for (int64_t r = 0; r < rows; ++r)
            for (int64_t c = 0; c < cols; ++c)
                if (lab[r * cols + c] >= 0 && on_perimeter(r, c))
                    all[fill[lab[r * cols + c]]++] = Pt{static_cast<int32_t>(r), static_cast<int32_t>(c)};
    }

    std::vector<std::vector<int32_t>> by_class(static_cast<size_t>(class_count));
    for (int64_t p = 0; p < np; ++p) by_class[patches.cls[p]].push_back(static_cast<int32_t>(p));

    // Every pair of same-class patches whose boxes may lie within the radius
    // (or may improve a nearest neighbour) is resolved once; the work is
    // shared by threads pulling focal patches from a counter.
    const double r2 = std::min(radius2, 9.0e18);
    const int64_t prox_bound = static_cast<int64_t>(r2) + 1;  // exact distances needed below this
    const unsigned threads = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    for (const auto& members : by_class) {
        const auto m = static_cast<int64_t>(members.size());
        if (m < 2) continue;
        // The class's trees side by side in memory, patches in raster order
        // of their first cell, so the inner loop below streams through them.
        Forest f;
        std::vector<int64_t> local(static_cast<size_t>(m) + 1, 0);
        for (int64_t a = 0; a < m; ++a) {
            const int32_t P = members[a];
            f.pts.insert(f.pts.end(), all.begin() + offsets[P], all.begin() + offsets[P + 1]);
            local[a + 1] = static_cast<int64_t>(f.pts.size());
        }
        f.build(local);
        std::vector<Box> boxes(static_cast<size_t>(m));
        std::vector<double> cells(static_cast<size_t>(m));
        for (int64_t a = 0; a < m; ++a) {
            boxes[a] = f.box(static_cast<int32_t>(a));
            cells[a] = static_cast<double>(patches.cells[members[a]]);
        }
        std::atomic<int64_t> next{0};
        struct Local {
            std::vector<int64_t> nn;
            std::vector<double> prox;
        };
        std::vector<Local> partial(threads);
        auto worker = [&](unsigned t) {
            Local& L = partial[t];
            L.nn.assign(static_cast<size_t>(m), Isolation::kNone);
            L.prox.assign(static_cast<size_t>(m), 0.0);
            std::vector<std::pair<int32_t, int32_t>> stack;
            for (;;) {
                const int64_t a = next.fetch_add(1);
                if (a >= m) break;
                const Box box_a = boxes[a];
                for (int64_t b = a + 1; b < m; ++b) {
                    const int64_t lb = gap2(box_a, boxes[b]);
                    const int64_t bound = std::max(prox_bound, std::max(L.nn[a], L.nn[b]));
                    if (lb >= bound) continue;
                    const int64_t d2 = f.closest(static_cast<int32_t>(a), static_cast<int32_t>(b), bound, stack);
                    if (d2 >= bound) continue;
                    L.nn[a] = std::min(L.nn[a], d2);
                    L.nn[b] = std::min(L.nn[b], d2);
                    if (static_cast<double>(d2) <= r2) {
                        const auto dd = static_cast<double>(d2);
                        L.prox[a] += cells[b] / dd;
                        L.prox[b] += cells[a] / dd;
                    }
                }
            }
        };
        const unsigned used = static_cast<unsigned>(std::min<int64_t>(threads, m));
        std::vector<std::thread> pool;
        for (unsigned t = 1; t < used; ++t) pool.emplace_back(worker, t);
        worker(0);
        for (auto& th : pool) th.join();
        for (unsigned t = 0; t < used; ++t)
            for (int64_t a = 0; a < m; ++a) {
                out.nn_d2[members[a]] = std::min(out.nn_d2[members[a]], partial[t].nn[a]);
                out.prox[members[a]] += partial[t].prox[a];
            }
    }
    return out;
}

}  // namespace korvane::fragstat::detail
