// Invariants on generated landscapes, and the patch-level results checked
// against a direct (slow) evaluation of the definitions on small grids.
#include <queue>
#include <set>

#include "support.h"

namespace {
using namespace kvtest;

double v(const MetricRow& row, const char* code) {
    const Value x = row.at(code);
    EXPECT_TRUE(x.has_value()) << code;
    return x.value_or(NAN);
}

TEST(Invariants, HoldOnGeneratedLandscapes) {
    for (uint32_t seed : {1u, 2u, 3u, 4u}) {
        for (double bwt : {0.0, 0.4, 1.0}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " bwt " << bwt);
            const ClassGrid g = random_landscape(40 + seed * 7, 55, 2 + static_cast<int>(seed), seed);
            std::set<int32_t> present;
            for (int32_t c : g.cells)
                if (c != kOutsideCell) present.insert(c);

            Params p8 = params(10, 20, bwt, true);
            WeightTable all_one;
            for (int32_t a : present)
                for (int32_t b : present)
                    if (a < b) all_one.pairs[{a, b}] = 1.0;
            p8.weights = all_one;
            const Results r8 = compute(g, p8);
            const Results r4 = compute(g, params(10, 20, bwt, false));

            double ca = 0, pland = 0;
            for (const auto& c : r8.classes) {
                ca += v(c.row, "CA");
                pland += v(c.row, "%LAND");
                EXPECT_NEAR(v(c.row, "CWED"), v(c.row, "ED"), 1e-9) << "class " << c.type;
                EXPECT_GE(v(cls(r4, c.type).row, "NP"), v(c.row, "NP")) << "class " << c.type;
                // The patch rule changes neither edges nor composition.
                EXPECT_NEAR(v(cls(r4, c.type).row, "TE"), v(c.row, "TE"), 1e-9);
                EXPECT_LE(v(c.row, "TCA"), v(c.row, "CA") + 1e-12);
            }
            EXPECT_NEAR(ca, v(r8.landscape, "TA"), 1e-9);
            EXPECT_NEAR(pland, 100, 1e-9);
            EXPECT_EQ(v(r8.landscape, "PR"), static_cast<double>(present.size()));
            EXPECT_EQ(r8.classes.size(), present.size());
            EXPECT_GE(v(r4.landscape, "NP"), v(r8.landscape, "NP"));
            EXPECT_NEAR(v(r8.landscape, "CWED"), v(r8.landscape, "ED"), 1e-9);
            EXPECT_NEAR(v(r4.landscape, "SHDI"), v(r8.landscape, "SHDI"), 1e-12);
        }
    }
}

// ---------------------------------------------------------------------------
// Direct evaluation of the patch-level definitions.

struct Direct {
    std::vector<int> patch;  // per cell, -1 outside
    int patches = 0;
    std::vector<int64_t> cells, sides, core, cores;
    std::vector<double> nearest, prox;  // nearest: cells; NAN when none
};

Direct direct(const ClassGrid& g, double depth_cells, bool diags, double radius_cells) {
    const int R = static_cast<int>(g.rows), C = static_cast<int>(g.cols);
    auto at = [&](int r, int c) { return g.cells[static_cast<size_t>(r) * C + c]; };
    auto in = [&](int r, int c) { return r >= 0 && r < R && c >= 0 && c < C; };
    auto inside = [&](int r, int c) { return in(r, c) && at(r, c) >= 0; };
    Direct d;
    d.patch.assign(static_cast<size_t>(R) * C, -1);
    std::vector<std::pair<int, int>> steps = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    if (diags) steps.insert(steps.end(), {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}});
    auto flood = [&](std::vector<int>& comp, auto member, int r0, int c0, int id) {
        std::queue<std::pair<int, int>> q;
        q.push({r0, c0});
        comp[r0 * C + c0] = id;
        while (!q.empty()) {
            auto [r, c] = q.front();
            q.pop();
            for (auto [dr, dc] : steps) {
                const int rr = r + dr, cc = c + dc;
                if (in(rr, cc) && comp[rr * C + cc] < 0 && member(r, c, rr, cc)) {
                    comp[rr * C + cc] = id;
                    q.push({rr, cc});
                }
            }
        }
    };
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c)
            if (inside(r, c) && d.patch[r * C + c] < 0)
                flood(d.patch, [&](int, int, int rr, int cc) { return at(rr, cc) == at(r, c); }, r, c, d.patches++);
    const int P = d.patches;
    d.cells.assign(P, 0);
    d.sides.assign(P, 0);
    d.core.assign(P, 0);
    d.cores.assign(P, 0);
    d.nearest.assign(P, NAN);
    d.prox.assign(P, 0);
    auto pid = [&](int r, int c) { return in(r, c) ? d.patch[r * C + c] : -1; };
    const int reach = static_cast<int>(std::ceil(depth_cells)) + 1;
    std::vector<int> core_comp(static_cast<size_t>(R) * C, -1);
    std::vector<char> is_core(static_cast<size_t>(R) * C, 0);
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            const int p = pid(r, c);
            if (p < 0) continue;
            ++d.cells[p];
            for (int k = 0; k < 4; ++k) d.sides[p] += pid(r + steps[k].first, c + steps[k].second) != p;
            bool core = true;
            for (int dr = -reach; dr <= reach && core; ++dr)
                for (int dc = -reach; dc <= reach && core; ++dc)
                    if (std::sqrt(double(dr * dr + dc * dc)) <= depth_cells * (1 + 1e-9) && pid(r + dr, c + dc) != p)
                        core = false;
            is_core[r * C + c] = core;
            d.core[p] += core;
        }
    int next_core = 0;
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c)
            if (is_core[r * C + c] && core_comp[r * C + c] < 0) {
                ++d.cores[pid(r, c)];
                flood(core_comp, [&](int a, int b, int rr, int cc) { return is_core[rr * C + cc] && pid(rr, cc) == pid(a, b); },
                      r, c, next_core++);
            }
    // All pairs of cells of different same-class patches.
    std::vector<std::vector<double>> pd(P, std::vector<double>(P, INFINITY));
    for (int i = 0; i < R * C; ++i)
        for (int j = 0; j < R * C; ++j) {
            const int a = d.patch[i], b = d.patch[j];
            if (a < 0 || b < 0 || a == b || g.cells[i] != g.cells[j]) continue;
            const double dr = i / C - j / C, dc = i % C - j % C;
            pd[a][b] = std::min(pd[a][b], std::sqrt(dr * dr + dc * dc));
        }
    for (int a = 0; a < P; ++a)
        for (int b = 0; b < P; ++b) {
            if (!std::isfinite(pd[a][b])) continue;
            if (std::isnan(d.nearest[a]) || pd[a][b] < d.nearest[a]) d.nearest[a] = pd[a][b];
            if (pd[a][b] <= radius_cells * (1 + 1e-9)) d.prox[a] += d.cells[b] / (pd[a][b] * pd[a][b]);
        }
    return d;
}

TEST(PatchLevel, AgreesWithDirectEvaluationOfTheDefinitions) {
    const double cell = 10;
    for (uint32_t seed : {11u, 12u, 13u}) {
        const ClassGrid g = random_landscape(14, 17, 3, seed, 0.08);
        for (bool diags : {true, false}) {
            for (double depth : {0.0, 5.0, 10.0, 14.0, 15.0, 20.0, 25.0, 30.0, 45.0}) {
                for (double radius : {25.0, 1e9}) {
                    SCOPED_TRACE(testing::Message() << "seed " << seed << " diags " << diags << " depth " << depth
                                                    << " radius " << radius);
                    Params p = params(cell, depth, 1, diags);
                    p.prox_dist = radius;
                    p.patch_records = true;
                    const Results r = compute(g, p);
                    const Direct d = direct(g, depth / cell, diags, radius / cell);
                    ASSERT_EQ(static_cast<int>(r.patches.size()), d.patches);
                    for (int i = 0; i < d.patches; ++i) {
                        const auto& rec = r.patches[i];
                        ASSERT_EQ(rec.cells, d.cells[i]) << "patch " << i;
                        EXPECT_EQ(rec.perimeter_sides, d.sides[i]) << "patch " << i;
                        EXPECT_EQ(rec.core_cells, d.core[i]) << "patch " << i;
                        EXPECT_EQ(rec.cores, d.cores[i]) << "patch " << i;
                        if (std::isnan(d.nearest[i])) {
                            EXPECT_FALSE(rec.nearest.has_value()) << "patch " << i;
                        } else {
                            ASSERT_TRUE(rec.nearest.has_value()) << "patch " << i;
                            EXPECT_NEAR(*rec.nearest, d.nearest[i] * cell, 1e-9) << "patch " << i;
                        }
                        EXPECT_NEAR(rec.proximity.value_or(-1), d.prox[i], 1e-9) << "patch " << i;
                    }
                }
            }
        }
    }
}

TEST(EdgeCases, LandscapeWithoutInsideCells) {
    const Results r = compute(grid_of({"x x", "x x"}), params(10, 10, 1, true));
    EXPECT_EQ(r.landscape.at("TA"), 0.0);
    for (Code c : land_columns())
        if (c != Code::TA) {
            EXPECT_FALSE(r.landscape[c].has_value()) << code_name(c);
        }
    EXPECT_TRUE(r.classes.empty());
}

TEST(EdgeCases, SingleClassAndSingleCellPatches) {
    const Results one = compute(grid_of({"4 4 4", "4 4 4"}), params(1, 1, 1, true));
    expect_row(one.landscape,
               {{"PR", 1}, {"SHDI", 0}, {"SHEI", 0}, {"SIEI", 0}, {"MSIEI", 0}, {"IJI", NAN}, {"DLFD", NAN},
                {"MNN", NAN}, {"MPFD", 2 * std::log(2.5) / std::log(6.0)}},
               1e-12, "one class");
    // 1 m2 cells: FRAC of a single-cell patch is 1, not 0/0.
    const Results cells = compute(grid_of({"1 2", "2 1"}), params(1, 1, 1, false));
    expect_row(cls(cells, 1).row, {{"MPFD", 1}, {"MNN", std::sqrt(2.0)}, {"TCA", 0}, {"CACV1", NAN}}, 1e-12, "class 1");
}

TEST(EdgeCases, BorderCellsAndInteriorBackground) {
    // -2 is a border cell of class 2: the side 1|-2 is a true edge, 2|-2 none.
    const Results b = compute(grid_of({"1 2 -2", "1 2 -1"}), params(10, 10, 0, true));
    expect_row(b.landscape, {{"TA", 0.04}, {"TE", 20 + 10 /* 2|-1 */}}, 1e-9, "border");
    expect_row(cls(b, 2).row, {{"TE", 20 + 10}, {"CA", 0.02}}, 1e-9, "class 2");
    // Background 0 inside the landscape counts in the area but forms no patch.
    ClassGrid g;
    g.rows = 1;
    g.cols = 3;
    for (double x : {1.0, 0.0, 1.0}) g.cells.push_back(cell_code(x, 0.0, std::nullopt));
    const Results bg = compute(g, params(10, 0, 1, true));
    expect_row(bg.landscape, {{"TA", 0.03}, {"NP", 2}, {"PR", 1}, {"SHDI", 0}}, 1e-12, "background");
    expect_row(cls(bg, 1).row, {{"%LAND", 200.0 / 3}, {"CA", 0.02}}, 1e-9, "class 1");
    // Each class-1 cell has three sides on the image edge and one facing the background.
    expect_row(bg.landscape, {{"TE", 10 * (3 + 1 + 3 + 1)}}, 1e-9, "background TE");
    expect_row(cls(bg, 1).row, {{"TE", 10 * (3 + 1 + 3 + 1)}}, 1e-9, "class 1 TE");
}

TEST(EdgeCases, TotalEdgeWithInteriorBackgroundCountedByHand) {
    // 1 0 2    0 is background inside the landscape, cells of 10 m.
    // 1 1 2
    // Sides of class 1: image edge 5, background 2 (right of the top-left cell,
    // above the bottom-middle cell), class 2 once. Class 2: image edge 4,
    // background 1, class 1 once. The landscape counts the 1|2 side once.
    // The boundary influence weights the image edge and the background alike.
    ClassGrid g;
    g.rows = 2;
    g.cols = 3;
    for (double x : {1.0, 0.0, 2.0, 1.0, 1.0, 2.0}) g.cells.push_back(cell_code(x, 0.0, std::nullopt));
    struct Case {
        double bwt, class1, class2, landscape;
    };
    for (const Case& k : std::initializer_list<Case>{
             {0.0, 10, 10, 10},
             {0.5, 10 * (1 + 0.5 * (5 + 2)), 10 * (1 + 0.5 * (4 + 1)), 10 * (1 + 0.5 * (9 + 3))},
             {1.0, 10 * (1 + 5 + 2), 10 * (1 + 4 + 1), 10 * (1 + 9 + 3)},
         }) {
        SCOPED_TRACE(testing::Message() << "bwt " << k.bwt);
        const Results r = compute(g, params(10, 0, k.bwt, true));
        expect_row(r.landscape, {{"TA", 0.06}, {"NP", 2}, {"TE", k.landscape}, {"ED", k.landscape / 0.06}}, 1e-9,
                   "landscape");
        expect_row(cls(r, 1).row, {{"TE", k.class1}, {"ED", k.class1 / 0.06}}, 1e-9, "class 1");
        expect_row(cls(r, 2).row, {{"TE", k.class2}, {"ED", k.class2 / 0.06}}, 1e-9, "class 2");
    }
}

}  // namespace
