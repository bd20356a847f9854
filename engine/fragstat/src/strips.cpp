// The pass over one strip of rows, stage by stage: read and number its
// classes, label its patches, count sides and list perimeter cells, then
// vertical distances, core cells and core components.
#include "strips.h"

#include <fmt/format.h>

#include <algorithm>
#include <set>
#include <span>
#include <unordered_map>
#include <unordered_set>

namespace korvane::fragstat::detail {
namespace {

// Numbers the classes densely (ascending value) and rewrites the cells with
// the dense codes of engine.h.
Dense number_classes(int32_t* first, size_t count) {
    const std::span<int32_t> cells(first, count);
    std::unordered_set<int32_t> inside_set, border_set;  // border: the class -v of value v
    int32_t last = kOutsideCell;
    for (int32_t v : cells) {
        if (v == last) continue;
        last = v;
        if (v == kOutsideCell || v == kInteriorBackgroundCell) continue;
        if (v >= 0) inside_set.insert(v);
        else border_set.insert(-v);
    }
    std::set<int64_t> all(inside_set.begin(), inside_set.end());
    all.insert(border_set.begin(), border_set.end());
    Dense d;
    d.values.assign(all.begin(), all.end());
    d.inside.resize(d.values.size());
    std::unordered_map<int64_t, int32_t> index;
    for (size_t i = 0; i < d.values.size(); ++i) {
        index[d.values[i]] = static_cast<int32_t>(i);
        d.inside[i] = inside_set.count(static_cast<int32_t>(d.values[i])) ? 1 : 0;
    }
    int32_t last_v = kOutsideCell, last_code = kOutside;
    for (int32_t& v : cells) {
        if (v != last_v) {
            last_v = v;
            if (v == kOutsideCell) last_code = kOutside;
            else if (v == kInteriorBackgroundCell) last_code = kInteriorBackground;
            else if (v >= 0) last_code = index.at(v);
            else last_code = border_code(index.at(-static_cast<int64_t>(v)));
        }
        v = last_code;
    }
    return d;
}

// Squared distance from every cell of a horizontal run to the nearest cell
// outside its patch, given the vertical distances g; Meijster's lower
// envelope over the run plus the two run ends.
void run_distances(const int32_t* g, int64_t n, std::vector<int64_t>& out, std::vector<int64_t>& s,
                   std::vector<int64_t>& t) {
    out.resize(n);
    s.resize(n);
    t.resize(n);
    auto f = [&](int64_t x, int64_t i) { return (x - i) * (x - i) + static_cast<int64_t>(g[i]) * g[i]; };
    auto floordiv = [](int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
    auto sep = [&](int64_t i, int64_t u) {
        return floordiv(u * u - i * i + static_cast<int64_t>(g[u]) * g[u] - static_cast<int64_t>(g[i]) * g[i],
                        2 * (u - i));
    };
    int64_t q = 0;
    s[0] = 0;
    t[0] = 0;
    for (int64_t u = 1; u < n; ++u) {
        while (q >= 0 && f(t[q], s[q]) > f(t[q], u)) --q;
        if (q < 0) {
            q = 0;
            s[0] = u;
        } else {
            const int64_t w = 1 + sep(s[q], u);
            if (w < n) {
                ++q;
                s[q] = u;
                t[q] = w;
            }
        }
    }
    for (int64_t u = n - 1; u >= 0; --u) {
        const int64_t left = u + 1, right = n - u;
        out[u] = std::min({f(u, s[q]), left * left, right * right});
        if (u == t[q]) --q;
    }
}

// Working rows of one thread, kept from strip to strip (every element is
// written before it is read).
struct StripScratch {
    std::vector<int32_t> buf, lab, g, run, core_id;
    std::vector<char> core;
    std::vector<int64_t> d2, sbuf, tbuf;
    std::vector<uint32_t> perimeter;
};
thread_local StripScratch strip_scratch;

// The rows one strip works on: its own rows [r0, r1) and the halo rows read
// around them, [b0, r0) and [r1, b1), as dense cell codes.
struct StripRows {
    int64_t rows = 0, cols = 0;  // the grid's
    int64_t r0 = 0, r1 = 0, b0 = 0, b1 = 0;
    int64_t h = 0, n = 0;           // own rows and their cells
    const int32_t* buf = nullptr;   // rows [b0, b1)
    const int32_t* work = nullptr;  // the own rows; rows before and after stay reachable
};

// Reads the strip's rows and halo into `sc.buf`, keeps the raw codes of its
// first and last own rows for the seams and numbers its classes.
StripRows read_rows(const GridRows& grid, int64_t r0, int64_t r1, int64_t halo, StripScratch& sc, StripResult& out) {
    StripRows s;
    s.rows = grid.rows;
    s.cols = grid.cols;
    s.r0 = r0;
    s.r1 = r1;
    s.b0 = std::max<int64_t>(0, r0 - halo);
    s.b1 = std::min(s.rows, r1 + halo);
    s.h = r1 - r0;
    s.n = s.h * s.cols;
    const int64_t cols = s.cols, own = (r0 - s.b0) * cols, n = s.n;
    std::vector<int32_t>& buf = sc.buf;
    buf.resize(static_cast<size_t>((s.b1 - s.b0) * cols));
    grid.read(s.b0, s.b1 - s.b0, buf.data());
    out.top_value.assign(buf.begin() + own, buf.begin() + own + cols);
    out.bottom_value.assign(buf.begin() + own + n - cols, buf.begin() + own + n);
    Dense dense = number_classes(buf.data(), buf.size());
    out.classes = std::move(dense.values);
    out.inside = std::move(dense.inside);
    s.buf = buf.data();
    s.work = buf.data() + own;
    return s;
}

// Patches: the strip's own numbers in `lab`; returns how many.
int64_t label_patches(const StripRows& s, bool diags, std::vector<int32_t>& lab, StripResult& out) {
    const int32_t* work = s.work;
    lab.resize(static_cast<size_t>(s.n));
    const int64_t np = label_strip(
        work, s.h, s.cols, diags, lab.data(), [&](int64_t i) { return work[i] >= 0; }, [](int64_t, int32_t) {});
    out.patch_class.assign(static_cast<size_t>(np), 0);
    out.patch_cells.assign(static_cast<size_t>(np), 0);
    out.patch_sides.assign(static_cast<size_t>(np), 0);
    return np;
}

// Sides: each inner side once, by the cell left of or above it. With
// nearest neighbours on, the perimeter cells are listed in raster order.
void count_sides(const StripRows& s, int32_t K, const int32_t* lab, bool nndist,
                 std::vector<uint32_t>& perimeter_cells, StripResult& out) {
    const int64_t rows = s.rows, cols = s.cols, h = s.h, r0 = s.r0;
    const int32_t* work = s.work;
    PairCounts inner(K), border(K);
    out.sides.assign(static_cast<size_t>(K), ClassSides{});
    out.class_cells.assign(static_cast<size_t>(K), 0);
    out.first_row = r0;
    perimeter_cells.clear();
    for (int64_t r = 0; r < h; ++r) {
        const int64_t gr = r0 + r;
        for (int64_t col = 0; col < cols; ++col) {
            const int64_t i = r * cols + col;
            const int32_t k = work[i];
            if (k < 0) {
                out.background_cells += k == kInteriorBackground;
                continue;
            }
            const int32_t P = lab[i];
            out.patch_class[P] = k;
            ++out.patch_cells[P];
            ++out.class_cells[k];
            bool perimeter = false;
            auto side = [&](bool in_image, int64_t j, bool count_pair) {
                ClassSides& cs = out.sides[k];
                if (!in_image) {
                    ++cs.boundary;
                    ++out.patch_sides[P];
                    perimeter = true;
                    return;
                }
                const int32_t v = work[j];
                if (v == k) return;
                ++out.patch_sides[P];
                perimeter = true;
                if (v >= 0) {
                    if (count_pair) inner.add(std::min(k, v), std::max(k, v));
                } else if (v == kOutside) {
                    ++cs.boundary;
                } else if (v == kInteriorBackground) {
                    ++cs.background;
                } else if (border_class(v) == k) {
                    ++cs.border_same;
                } else {
                    border.add(k, border_class(v));
                }
            };
            side(gr > 0, i - cols, false);
            side(col > 0, i - 1, false);
            side(col + 1 < cols, i + 1, true);
            side(gr + 1 < rows, i + cols, true);
            if (perimeter && nndist) perimeter_cells.push_back(static_cast<uint32_t>(i));
        }
    }
    inner.for_each([&](int32_t a, int32_t b, int64_t cnt) { out.inner.emplace_back(a, b, cnt); });
    border.for_each([&](int32_t a, int32_t b, int64_t cnt) { out.border.emplace_back(a, b, cnt); });
}

// The perimeter cells grouped by patch, in a list of its exact size.
void group_perimeter(const std::vector<uint32_t>& perimeter_cells, const int32_t* lab, int64_t np, StripResult& out) {
    std::vector<uint32_t>& at = out.perimeter_at;
    at.assign(static_cast<size_t>(np) + 1, 0);
    for (uint32_t i : perimeter_cells) ++at[lab[i] + 1];
    for (int64_t q = 0; q < np; ++q) at[q + 1] += at[q];
    std::vector<uint32_t> grouped(perimeter_cells.size());
    for (uint32_t i : perimeter_cells) grouped[at[lab[i]]++] = i;
    for (int64_t q = np; q > 0; --q) at[q] = at[q - 1];
    at[0] = 0;
    out.perimeter = std::move(grouped);
}

// Vertical distance (in cells, at most `cap`) to the nearest cell of
// another value, or beyond the image edge, up and down, of every own cell.
void vertical_distances(const StripRows& s, int32_t cap, std::vector<int32_t>& run, std::vector<int32_t>& g) {
    const int64_t rows = s.rows, cols = s.cols, r0 = s.r0, r1 = s.r1, b0 = s.b0, b1 = s.b1;
    const int32_t* buf = s.buf;
    g.resize(static_cast<size_t>(s.n));
    run.assign(static_cast<size_t>(cols), 0);
    for (int64_t b = b0; b < r1; ++b) {
        const int32_t* row = buf + (b - b0) * cols;
        for (int64_t col = 0; col < cols; ++col) {
            int32_t d = 0;
            if (row[col] >= 0) d = b == b0 ? (b0 == 0 ? 1 : cap) : row[col - cols] == row[col] ? std::min(cap, run[col] + 1) : 1;
            run[col] = d;
            if (b >= r0) g[(b - r0) * cols + col] = d;
        }
    }
    for (int64_t b = b1 - 1; b >= r0; --b) {
        const int32_t* row = buf + (b - b0) * cols;
        for (int64_t col = 0; col < cols; ++col) {
            int32_t d = 0;
            if (row[col] >= 0)
                d = b == b1 - 1 ? (b1 == rows ? 1 : cap) : row[col + cols] == row[col] ? std::min(cap, run[col] + 1) : 1;
            run[col] = d;
            if (b < r1) g[(b - r0) * cols + col] = std::min(g[(b - r0) * cols + col], d);
        }
    }
}

// Core flags row by row; `sc.g` (the vertical distances) then holds each
// core cell's class, else -1.
void mark_core_cells(const StripRows& strip, double core_limit, StripScratch& sc) {
    const int64_t cols = strip.cols, h = strip.h;
    const int32_t* work = strip.work;
    std::vector<int32_t>& g = sc.g;
    std::vector<char>& core = sc.core;
    core.resize(static_cast<size_t>(cols));
    std::vector<int64_t>&d2 = sc.d2, &sbuf = sc.sbuf, &tbuf = sc.tbuf;
    for (int64_t r = 0; r < h; ++r) {
        const int64_t row0 = r * cols;
        for (int64_t s = 0; s < cols;) {
            const int32_t v = work[row0 + s];
            int64_t e = s;
            while (e + 1 < cols && work[row0 + e + 1] == v) ++e;
            if (v >= 0) {
                const int64_t len = e - s + 1;
                if (core_limit < 1) {
                    std::fill(core.begin() + s, core.begin() + e + 1, 1);
                } else if (core_limit < 2) {  // only side neighbours are close enough
                    for (int64_t x = s; x <= e; ++x) core[x] = x > s && x < e && g[row0 + x] > 1;
                } else {
                    run_distances(g.data() + row0 + s, len, d2, sbuf, tbuf);
                    for (int64_t x = 0; x < len; ++x) core[s + x] = static_cast<double>(d2[x]) > core_limit;
                }
            } else {
                std::fill(core.begin() + s, core.begin() + e + 1, 0);
            }
            s = e + 1;
        }
        for (int64_t x = 0; x < cols; ++x) g[row0 + x] = core[x] ? work[row0 + x] : -1;
    }
}

// Core components of `sc.g` (each core cell's class, else -1), numbered in
// `sc.core_id`; each core's cells and patch are counted.
void label_cores(const StripRows& s, bool diags, const int32_t* lab, StripScratch& sc, StripResult& out) {
    const std::vector<int32_t>& core_class = sc.g;
    std::vector<int32_t>& core_id = sc.core_id;
    core_id.resize(static_cast<size_t>(s.n));
    label_strip(
        core_class.data(), s.h, s.cols, diags, core_id.data(), [&](int64_t i) { return core_class[i] >= 0; },
        [&](int64_t i, int32_t id) {
            if (id == static_cast<int32_t>(out.core_cells.size())) {
                out.core_cells.push_back(0);
                out.core_patch.push_back(lab[i]);
            }
            ++out.core_cells[id];
        });
}

}  // namespace

StripPlan plan_strips(int64_t rows, int64_t cols, int64_t halo, int64_t requested) {
    StripPlan s;
    s.halo = std::min(halo, rows);
    s.height = strip_height(rows, cols, requested, std::max<int64_t>(8, 2 * halo));
    if ((s.height + 2 * s.halo) * cols > INT32_MAX)
        throw InputError(fmt::format("a grid of {} columns with an edge depth of {} cells is wider than supported", cols,
                                     halo));
    s.count = (rows + s.height - 1) / s.height;
    return s;
}

void process_strip(const GridRows& grid, int64_t r0, int64_t r1, int64_t halo, int64_t G, double core_limit,
                   const Params& p, StripResult& out) {
    StripScratch& sc = strip_scratch;
    const StripRows s = read_rows(grid, r0, r1, halo, sc, out);
    const auto K = static_cast<int32_t>(out.classes.size());
    const int64_t np = label_patches(s, p.diags, sc.lab, out);
    count_sides(s, K, sc.lab.data(), p.nndist, sc.perimeter, out);
    if (p.nndist) group_perimeter(sc.perimeter, sc.lab.data(), np, out);
    vertical_distances(s, static_cast<int32_t>(G), sc.run, sc.g);
    mark_core_cells(s, core_limit, sc);
    label_cores(s, p.diags, sc.lab.data(), sc, out);
    // The first and last own rows' numbers, for the seams.
    const int64_t cols = s.cols;
    out.top_patch.assign(sc.lab.begin(), sc.lab.begin() + cols);
    out.bottom_patch.assign(sc.lab.end() - cols, sc.lab.end());
    out.top_core.assign(sc.core_id.begin(), sc.core_id.begin() + cols);
    out.bottom_core.assign(sc.core_id.end() - cols, sc.core_id.end());
}

}  // namespace korvane::fragstat::detail
