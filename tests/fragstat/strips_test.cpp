// Strips and threads change nothing: the `.land`, `.class` and patch lines
// are byte for byte those of one strip on one thread, on landscapes whose
// patches and cores cross strip seams in every way.
#include <fmt/format.h>

#include <functional>

#include "support.h"

namespace {
using namespace kvtest;

ClassGrid from_values(int64_t rows, int64_t cols, const std::function<int(int64_t, int64_t)>& value) {
    ClassGrid g;
    g.rows = rows;
    g.cols = cols;
    for (int64_t r = 0; r < rows; ++r)
        for (int64_t c = 0; c < cols; ++c) {
            const int v = value(r, c);
            g.cells.push_back(v == -9999 ? kOutsideCell : v);
        }
    return g;
}

// A square spiral of class 1 on class 2: one patch winding through every strip.
ClassGrid spiral(int64_t n) {
    std::vector<int> v(static_cast<size_t>(n * n), 2);
    int64_t r = 0, c = 0, dr = 0, dc = 1, len = n - 1;
    for (int64_t turn = 0; len > 0; ++turn) {
        for (int64_t k = 0; k < len; ++k) {
            v[r * n + c] = 1;
            r += dr;
            c += dc;
        }
        std::swap(dr, dc);
        dc = -dc;
        if (turn % 2 == 1) len -= 2;
    }
    v[r * n + c] = 1;
    return from_values(n, n, [&](int64_t rr, int64_t cc) { return v[rr * n + cc]; });
}

struct Landscape {
    const char* name;
    ClassGrid grid;
};

std::vector<Landscape> landscapes() {
    std::vector<Landscape> out;
    out.push_back({"spiral", spiral(23)});
    out.push_back({"checkerboard", from_values(17, 13, [](int64_t r, int64_t c) { return (r + c) % 2 + 1; })});
    out.push_back({"checkerboard of 2x2 blocks with no-data",
                   from_values(19, 11, [](int64_t r, int64_t c) { return r == 9 && c == 4 ? -9999 : (r / 2 + c / 2) % 2 + 1; })});
    // One column-wide patch spanning every row, with a comb of teeth.
    out.push_back({"one patch through all strips", from_values(31, 9, [](int64_t r, int64_t c) {
                       return c == 4 || (r % 3 == 0 && c > 4) ? 3 : c < 4 ? 1 + static_cast<int>(r % 5 == 0) : 2;
                   })});
    // Diagonal staircases: patches joined only at corners across seams.
    out.push_back({"diagonals", from_values(20, 20, [](int64_t r, int64_t c) { return (r + c) % 5 == 0 ? 1 : (r - c + 40) % 7 == 0 ? 2 : 3; })});
    // Big blocks with cores several cells deep, cut by strips of every height.
    out.push_back({"blocks", from_values(40, 33, [](int64_t r, int64_t c) { return (r / 12 + c / 11) % 3 + 1; })});
    // Border cells and interior background among the classes.
    out.push_back({"border and background", from_values(15, 14, [](int64_t r, int64_t c) {
                       return r == 0 ? -2 : (r * 7 + c * 3) % 11 == 0 ? 0 : (r / 3 + c / 4) % 3 + 1;
                   })});
    for (uint32_t seed : {3u, 11u}) out.push_back({"random", random_landscape(37, 29, 4, seed)});
    return out;
}

std::string texts(const Results& r) {
    std::string out = land_line(r, "x") + "\n";
    for (const auto& l : class_lines(r, "x")) out += l + "\n";
    for (const auto& p : r.patches)
        out += fmt::format("{} {} {} {} {} {} {} {}\n", p.id, p.type, p.cells, p.perimeter_sides, p.core_cells, p.cores,
                           format_value(p.nearest, false), format_value(p.proximity, false));
    return out;
}

TEST(Strips, ResultsIndependentOfStripHeightAndThreads) {
    struct Setting {
        double depth;  // edge depth in cells
        bool diags;
        double background;
    };
    const Setting settings[] = {{1, true, -9999}, {1, false, -9999}, {1.5, true, -9999}, {3.2, true, 0}, {0.5, false, -9999}};
    for (const auto& l : landscapes()) {
        for (const auto& s : settings) {
            SCOPED_TRACE(fmt::format("{}, depth {}, diags {}", l.name, s.depth, s.diags));
            Params p = params(10, 10 * s.depth, 0.5, s.diags);
            p.patch_records = true;
            p.prox_dist = 60;  // some pairs inside, some outside
            p.threads = 1;
            p.strip_rows = l.grid.rows;
            const std::string whole = texts(compute(l.grid, p));
            p.prox_dist = 1e9;
            const std::string whole_all = texts(compute(l.grid, p));
            const std::pair<int64_t, unsigned> runs[] = {{1, 1}, {1, 8}, {2, 2}, {7, 8}, {7, 1}, {l.grid.rows, 8}};
            for (auto [height, threads] : runs) {
                {
                    p.strip_rows = height;
                    p.threads = threads;
                    p.prox_dist = 60;
                    EXPECT_EQ(texts(compute(l.grid, p)), whole) << "strips of " << height << ", " << threads << " threads";
                    p.prox_dist = 1e9;
                    EXPECT_EQ(texts(compute(l.grid, p)), whole_all) << "strips of " << height << ", " << threads << " threads";
                }
            }
        }
    }
}

TEST(Strips, SpiralIsOnePatchAcrossOneRowStrips) {
    for (bool diags : {false, true}) {
        Params p = params(1, 1, 1, diags);
        p.strip_rows = 1;
        p.threads = 4;
        EXPECT_EQ(cls(compute(spiral(23), p), 1).row[Code::NP], 1.0);
    }
}

class StripsFromFile : public ScratchDir {};

// Each strip is read and checked on its own; the message still names the
// first bad cell in raster order, not the first one some thread met.
TEST_F(StripsFromFile, FirstBadCellIsReportedWhateverTheThreads) {
    std::vector<float> v(40 * 10, 1.0f);
    v[31 * 10 + 2] = 2.5f;
    v[17 * 10 + 6] = 1.5f;
    write_flt("bad", v, 40, 10);
    Options o;
    o.in_image = path("bad.flt");
    o.cell_size = 1;
    const auto grid = open_grid(o);
    for (unsigned threads : {1u, 8u}) {
        Params p = params(1, 1, 1, true);
        p.threads = threads;
        p.strip_rows = 1;
        try {
            compute(*grid, p);
            ADD_FAILURE() << "no error";
        } catch (const InputError& e) {
            EXPECT_NE(std::string(e.what()).find("row 18, column 7"), std::string::npos) << e.what();
        }
    }
}

// The public labeller against a breadth-first flood fill that numbers
// components as it meets their first cells in row-major order.
struct Flood {
    std::vector<int64_t> id, cells;
    std::vector<int32_t> value;
};
Flood flood(const std::vector<int32_t>& v, int64_t rows, int64_t cols, bool diags, int32_t none) {
    Flood f;
    f.id.assign(v.size(), 0);
    for (int64_t start = 0; start < rows * cols; ++start) {
        if (v[start] == none || f.id[start] != 0) continue;
        const auto k = static_cast<int64_t>(f.cells.size()) + 1;
        f.cells.push_back(0);
        f.value.push_back(v[start]);
        std::vector<int64_t> queue{start};
        f.id[start] = k;
        for (size_t q = 0; q < queue.size(); ++q) {
            const int64_t i = queue[q], r = i / cols, c = i % cols;
            ++f.cells.back();
            for (int dr = -1; dr <= 1; ++dr)
                for (int dc = -1; dc <= 1; ++dc) {
                    if ((dr == 0 && dc == 0) || (!diags && dr != 0 && dc != 0)) continue;
                    const int64_t rr = r + dr, cc = c + dc, j = rr * cols + cc;
                    if (rr < 0 || rr >= rows || cc < 0 || cc >= cols || f.id[j] != 0 || v[j] != v[i]) continue;
                    f.id[j] = k;
                    queue.push_back(j);
                }
        }
    }
    return f;
}

TEST(Labeller, MatchesFloodFillForEveryStripHeightAndThreadCount) {
    std::vector<ClassGrid> grids;
    for (const auto& l : landscapes()) grids.push_back(l.grid);
    for (const auto& g : grids) {
        for (bool diags : {false, true}) {
            const Flood want = flood(g.cells, g.rows, g.cols, diags, kOutsideCell);
            const std::pair<int64_t, unsigned> runs[] = {{1, 3}, {3, 1}, {7, 8}, {g.rows, 2}};
            for (auto [height, threads] : runs) {
                SCOPED_TRACE(fmt::format("{} x {}, diags {}, strips of {}, {} threads", g.rows, g.cols, diags, height,
                                         threads));
                ComponentOptions o;
                o.diags = diags;
                o.none = kOutsideCell;
                o.strip_rows = height;
                o.threads = threads;
                std::vector<int64_t> got(g.cells.size(), -1);
                int64_t next_row = 0;
                const Components c = label_components(
                    g.rows, g.cols,
                    [&](int64_t first, int64_t count, int32_t* out) {
                        std::copy_n(g.cells.begin() + first * g.cols, count * g.cols, out);
                    },
                    o,
                    [&](int64_t first, int64_t count, const int64_t* ids) {
                        EXPECT_EQ(first, next_row);  // strips in row order
                        next_row = first + count;
                        std::copy_n(ids, count * g.cols, got.begin() + first * g.cols);
                    });
                EXPECT_EQ(next_row, g.rows);
                EXPECT_EQ(got, want.id);
                EXPECT_EQ(c.cells, want.cells);
                EXPECT_EQ(c.value, want.value);
            }
        }
    }
}

}  // namespace
