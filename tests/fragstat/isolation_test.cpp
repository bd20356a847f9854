// Nearest-neighbour distance and proximity of every patch, against the
// distances of all pairs of cells, on landscapes large enough that classes
// hold many patches of all sizes (single cells up to patches spanning the
// grid), for both patch rules and radii from none to all pairs; proximity
// sums exactly as the engine documents their order.
#include <map>
#include <queue>

#include "support.h"

namespace {
using namespace kvtest;

struct Oracle {
    int patches = 0;
    std::vector<int64_t> cells;
    std::vector<std::vector<int64_t>> d2;  // squared cell distance of two same-class patches; -1: other class
};

Oracle oracle(const ClassGrid& g, bool diags) {
    const int64_t R = g.rows, C = g.cols;
    std::vector<int> id(static_cast<size_t>(R * C), -1);
    Oracle o;
    for (int64_t s = 0; s < R * C; ++s) {
        if (g.cells[s] < 0 || id[s] >= 0) continue;
        std::queue<int64_t> q;
        q.push(s);
        id[s] = o.patches;
        while (!q.empty()) {
            const int64_t i = q.front();
            q.pop();
            for (int dr = -1; dr <= 1; ++dr)
                for (int dc = -1; dc <= 1; ++dc) {
                    if ((dr == 0 && dc == 0) || (!diags && dr != 0 && dc != 0)) continue;
                    const int64_t r = i / C + dr, c = i % C + dc;
                    if (r < 0 || r >= R || c < 0 || c >= C) continue;
                    const int64_t j = r * C + c;
                    if (id[j] < 0 && g.cells[j] == g.cells[s]) {
                        id[j] = o.patches;
                        q.push(j);
                    }
                }
        }
        ++o.patches;
    }
    o.cells.assign(o.patches, 0);
    o.d2.assign(o.patches, std::vector<int64_t>(o.patches, -1));
    std::vector<int64_t> inside;
    for (int64_t i = 0; i < R * C; ++i)
        if (id[i] >= 0) {
            ++o.cells[id[i]];
            inside.push_back(i);
        }
    for (size_t x = 0; x < inside.size(); ++x)
        for (size_t y = x + 1; y < inside.size(); ++y) {
            const int64_t i = inside[x], j = inside[y];
            const int a = id[i], b = id[j];
            if (a == b || g.cells[i] != g.cells[j]) continue;
            const int64_t dr = i / C - j / C, dc = i % C - j % C, d = dr * dr + dc * dc;
            if (o.d2[a][b] < 0 || d < o.d2[a][b]) o.d2[a][b] = o.d2[b][a] = d;
        }
    return o;
}

// Two classes of fragmented clusters, a third scattered as single cells,
// and a class with a single patch touching the edge.
ClassGrid fixture(uint32_t seed) {
    ClassGrid g = random_landscape(44, 52, 2, seed, 0.04);
    std::mt19937 rng(seed * 7919u);
    for (int k = 0; k < 240; ++k) g.cells[rng() % g.cells.size()] = 3;
    for (int64_t c = 10; c < 14; ++c) g.cells[c] = 9;
    return g;
}

// The same patches at the east end of a grid too wide for cells to be
// compared as 16-bit halves.
ClassGrid wide(const ClassGrid& g) {
    ClassGrid w;
    w.rows = g.rows;
    w.cols = (int64_t{1} << 15) + 100;
    w.cells.assign(static_cast<size_t>(w.rows * w.cols), kOutsideCell);
    for (int64_t r = 0; r < g.rows; ++r)
        std::copy_n(g.cells.begin() + r * g.cols, g.cols, w.cells.begin() + r * w.cols + (w.cols - g.cols));
    return w;
}

TEST(Isolation, MatchesAllPairsOfCells) {
    const double cell = 10;
    struct Case {
        const char* name;
        ClassGrid grid;
    };
    for (const Case& k : {Case{"seed 5", fixture(5)}, Case{"seed 6", fixture(6)}, Case{"seed 5, wide", wide(fixture(5))}}) {
        const ClassGrid& g = k.grid;
        for (bool diags : {true, false}) {
            const Oracle o = oracle(g, diags);
            int largest_class = 0;
            for (int a = 0; a < o.patches; ++a) {
                int same = 0;
                for (int b = 0; b < o.patches; ++b) same += o.d2[a][b] >= 0;
                largest_class = std::max(largest_class, same + 1);
            }
            ASSERT_GT(largest_class, 130) << "the fixture should fill several blocks of patches";
            // In cells: none, touching corners only, exact distances at the
            // limit, moderate, just short of the grid's diagonal, everything.
            for (double radius : {0.0, 1.5, 2.0, std::sqrt(8.0), 5.0, 12.5, 60.0, 67.0, 1e9}) {
                SCOPED_TRACE(testing::Message() << k.name << " diags " << diags << " radius " << radius);
                Params p = params(cell, 0, 1, diags);
                p.prox_dist = radius * cell;
                p.patch_records = true;
                const Results r = compute(g, p);
                ASSERT_EQ(static_cast<int>(r.patches.size()), o.patches);
                const double limit = radius * radius * (1 + 1e-9);
                // Each patch's terms in the documented order: its class's
                // patches in patch order, in blocks, each block's terms added
                // in order, then the blocks' sums.
                std::vector<int> rank(o.patches, 0);
                std::map<int64_t, int> members;
                for (int a = 0; a < o.patches; ++a) rank[a] = members[r.patches[a].type]++;
                std::vector<double> prox(o.patches, 0.0);
                for (int a = 0; a < o.patches; ++a) {
                    int64_t nn = -1;
                    double part = 0;
                    int block = 0;
                    for (int b = 0; b < o.patches; ++b) {
                        const int64_t d = o.d2[a][b];
                        if (d < 0) continue;
                        if (nn < 0 || d < nn) nn = d;
                        if (rank[b] / kProximityBlock != block) {
                            prox[a] += part;
                            part = 0;
                            block = rank[b] / kProximityBlock;
                        }
                        if (static_cast<double>(d) <= limit) part += static_cast<double>(o.cells[b]) / static_cast<double>(d);
                    }
                    prox[a] += part;
                    const auto& rec = r.patches[a];
                    if (nn < 0) {
                        EXPECT_FALSE(rec.nearest.has_value()) << "patch " << a;
                    } else {
                        ASSERT_TRUE(rec.nearest.has_value()) << "patch " << a;
                        EXPECT_DOUBLE_EQ(*rec.nearest, std::sqrt(static_cast<double>(nn)) * cell) << "patch " << a;
                    }
                    ASSERT_TRUE(rec.proximity.has_value());
                    EXPECT_EQ(*rec.proximity, prox[a]) << "patch " << a;
                }
                // The printed MPI of each class and of the landscape: means
                // of the patch values summed in patch order.
                std::map<int64_t, std::pair<double, int>> by_class;
                double all = 0;
                for (int a = 0; a < o.patches; ++a) {
                    auto& [sum, n] = by_class[r.patches[a].type];
                    sum += prox[a];
                    ++n;
                    all += prox[a];
                }
                EXPECT_EQ(format_value(r.landscape[Code::MPI], false), format_value(all / o.patches, false));
                for (const auto& cr : r.classes) {
                    const auto [sum, n] = by_class.at(cr.type);
                    EXPECT_EQ(format_value(cr.row[Code::MPI], false), format_value(sum / n, false)) << "class " << cr.type;
                }
            }
        }
    }
}

// Closest cells away from the bounding boxes' facing corners, corner
// contact under the 4-rule, and lone patches of their class.
TEST(Isolation, HandWorkedCases) {
    struct Case {
        std::vector<std::string> rows;
        bool diags;
        std::vector<double> nearest;  // per patch in cells; NAN: none
    };
    const std::vector<Case> cases = {
        // An L whose box corner facing its diagonal neighbour is empty.
        {{"1 1 1 1 0 0", "1 0 0 0 0 0", "0 0 0 0 0 0", "0 0 0 0 1 1", "2 0 0 0 0 0"},
         true,
         {std::sqrt(10.0), std::sqrt(10.0), NAN}},
        // Background separates; 4-rule corner contact counts as two patches.
        {{"1 0 0", "0 1 0", "0 0 5"}, false, {std::sqrt(2.0), std::sqrt(2.0), NAN}},
        {{"1 0 0", "0 1 0", "0 0 5"}, true, {NAN, NAN}},
    };
    for (const auto& k : cases) {
        Params p = params(1, 0, 1, k.diags);
        p.patch_records = true;
        const Results r = compute(grid_of(k.rows), p);
        std::vector<double> got;
        for (const auto& rec : r.patches)
            if (rec.type != 0) got.push_back(rec.nearest.value_or(NAN));
        ASSERT_EQ(got.size(), k.nearest.size()) << k.rows[0];
        for (size_t i = 0; i < got.size(); ++i) {
            if (std::isnan(k.nearest[i])) EXPECT_TRUE(std::isnan(got[i])) << k.rows[0] << " patch " << i;
            else EXPECT_DOUBLE_EQ(got[i], k.nearest[i]) << k.rows[0] << " patch " << i;
        }
    }
}

}  // namespace
