// Patch labelling, side counting, core areas and the metric formulas.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "engine.h"
#include "fragstat/fragstat.h"

namespace korvane::fragstat {
namespace {

using namespace detail;

constexpr int64_t kMinPatchesForClassDlfd = 10;  // class DLFD below that many patches is "."
constexpr double kRelTolerance = 1e-9;            // inclusive distance tests

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

struct Welford {
    int64_t n = 0;
    double mean = 0, m2 = 0;
    void add(double x) {
        ++n;
        const double d = x - mean;
        mean += d / static_cast<double>(n);
        m2 += d * (x - mean);
    }
    double sd() const { return n > 0 ? std::sqrt(std::max(0.0, m2 / static_cast<double>(n))) : 0.0; }
};

// Least squares of y on x, accumulated online.
struct Regression {
    int64_t n = 0;
    double mx = 0, my = 0, sxx = 0, sxy = 0;
    void add(double x, double y) {
        ++n;
        const double dx = x - mx;
        mx += dx / static_cast<double>(n);
        my += (y - my) / static_cast<double>(n);
        sxx += dx * (x - mx);
        sxy += dx * (y - my);
    }
};

// Everything the class- and landscape-level statistics of one set of patches need.
struct Group {
    int64_t np = 0, cells = 0, max_cells = 0, core_cells = 0, cores = 0;
    int64_t min_sides = INT64_MAX, max_sides = 0, min_cells = INT64_MAX;
    Welford area, core, dcore, nn;
    double sum_shape = 0, sum_frac = 0, aw_shape = 0, aw_frac = 0, sum_cai = 0, sum_prox = 0;
    Regression lnp_lna;
};

// Side counts of one class (in cell sides).
struct ClassSides {
    int64_t boundary = 0;     // facing no-data, NaN or the image edge
    int64_t background = 0;   // facing interior background
    int64_t border_same = 0;  // facing a border cell of the same class
};

Value finite(double v) {
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}
Value ratio(double num, double den, double scale = 1.0) {
    if (den == 0) return std::nullopt;
    return finite(num / den * scale);
}

struct Dense {
    std::vector<int64_t> values;  // dense index -> class value
    std::vector<char> inside;     // class occurs inside the landscape
};

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

// Working rows of one thread, kept from strip to strip (every element is
// written before it is read).
struct StripScratch {
    std::vector<int32_t> buf, lab, g, run, core_id;
    std::vector<char> core;
    std::vector<int64_t> d2, sbuf, tbuf;
    std::vector<uint32_t> perimeter;
};
thread_local StripScratch strip_scratch;

// Labels, side counts, cores and perimeter cells of rows [r0, r1).
// `G`: vertical distances are exact up to G cells (G * G > core_limit).
void process_strip(const GridRows& grid, int64_t r0, int64_t r1, int64_t halo, int64_t G, double core_limit,
                   const Params& p, StripResult& out) {
    const int64_t rows = grid.rows, cols = grid.cols;
    const int64_t b0 = std::max<int64_t>(0, r0 - halo), b1 = std::min(rows, r1 + halo);
    const int64_t h = r1 - r0, own = (r0 - b0) * cols, n = h * cols;
    StripScratch& sc = strip_scratch;
    std::vector<int32_t>& buf = sc.buf;
    buf.resize(static_cast<size_t>((b1 - b0) * cols));
    grid.read(b0, b1 - b0, buf.data());
    out.top_value.assign(buf.begin() + own, buf.begin() + own + cols);
    out.bottom_value.assign(buf.begin() + own + n - cols, buf.begin() + own + n);
    const Dense dense = number_classes(buf.data(), buf.size());
    out.classes = dense.values;
    out.inside = dense.inside;
    const auto K = static_cast<int32_t>(dense.values.size());
    const int32_t* work = buf.data() + own;  // own rows; rows before and after stay reachable

    // Patches.
    std::vector<int32_t>& lab = sc.lab;
    lab.resize(static_cast<size_t>(n));
    const int64_t np = label_strip(
        work, h, cols, p.diags, lab.data(), [&](int64_t i) { return work[i] >= 0; }, [](int64_t, int32_t) {});
    out.patch_class.assign(static_cast<size_t>(np), 0);
    out.patch_cells.assign(static_cast<size_t>(np), 0);
    out.patch_sides.assign(static_cast<size_t>(np), 0);

    // Sides: each inner side once, by the cell left of or above it.
    PairCounts inner(K), border(K);
    out.sides.assign(static_cast<size_t>(K), ClassSides{});
    out.class_cells.assign(static_cast<size_t>(K), 0);
    out.first_row = r0;
    std::vector<uint32_t>& perimeter_cells = sc.perimeter;
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
            if (perimeter && p.nndist) perimeter_cells.push_back(static_cast<uint32_t>(i));
        }
    }
    if (p.nndist) {  // grouped by patch, in a list of its exact size
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
    inner.for_each([&](int32_t a, int32_t b, int64_t cnt) { out.inner.emplace_back(a, b, cnt); });
    border.for_each([&](int32_t a, int32_t b, int64_t cnt) { out.border.emplace_back(a, b, cnt); });

    // Vertical distance (in cells, at most G) to the nearest cell of another
    // value, or beyond the image edge, up and down.
    std::vector<int32_t>& g = sc.g;
    g.resize(static_cast<size_t>(n));
    {
        std::vector<int32_t>& run = sc.run;
        run.assign(static_cast<size_t>(cols), 0);
        const int32_t cap = static_cast<int32_t>(G);
        for (int64_t b = b0; b < r1; ++b) {
            const int32_t* row = buf.data() + (b - b0) * cols;
            for (int64_t col = 0; col < cols; ++col) {
                int32_t d = 0;
                if (row[col] >= 0) d = b == b0 ? (b0 == 0 ? 1 : cap) : row[col - cols] == row[col] ? std::min(cap, run[col] + 1) : 1;
                run[col] = d;
                if (b >= r0) g[(b - r0) * cols + col] = d;
            }
        }
        for (int64_t b = b1 - 1; b >= r0; --b) {
            const int32_t* row = buf.data() + (b - b0) * cols;
            for (int64_t col = 0; col < cols; ++col) {
                int32_t d = 0;
                if (row[col] >= 0)
                    d = b == b1 - 1 ? (b1 == rows ? 1 : cap) : row[col + cols] == row[col] ? std::min(cap, run[col] + 1) : 1;
                run[col] = d;
                if (b < r1) g[(b - r0) * cols + col] = std::min(g[(b - r0) * cols + col], d);
            }
        }
    }
    // Core flags row by row; `g` then holds each core cell's class (else -1)
    // and is linked in place into core components.
    {
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
    std::vector<int32_t>& core_class = g;
    std::vector<int32_t>& core_id = sc.core_id;
    core_id.resize(static_cast<size_t>(n));
    label_strip(
        core_class.data(), h, cols, p.diags, core_id.data(), [&](int64_t i) { return core_class[i] >= 0; },
        [&](int64_t i, int32_t id) {
            if (id == static_cast<int32_t>(out.core_cells.size())) {
                out.core_cells.push_back(0);
                out.core_patch.push_back(lab[i]);
            }
            ++out.core_cells[id];
        });
    out.top_patch.assign(lab.begin(), lab.begin() + cols);
    out.bottom_patch.assign(lab.end() - cols, lab.end());
    out.top_core.assign(core_id.begin(), core_id.begin() + cols);
    out.bottom_core.assign(core_id.end() - cols, core_id.end());
}

}  // namespace

Results compute(ClassGrid grid, const Params& p) {
    const auto rows = grid_rows(grid);
    return compute(*rows, p);
}

Results compute(const GridRows& grid, const Params& p) {
    Results res;
    if (!(p.cell_size > 0) || !std::isfinite(p.cell_size)) throw InputError("the cell size must be greater than 0");
    if (!(p.edge_depth >= 0)) throw InputError("the edge depth must not be negative");
    if (!(p.bwt >= 0 && p.bwt <= 1)) throw InputError("the boundary weight must lie between 0 and 1");
    if (!(p.prox_dist >= 0)) throw InputError("the proximity radius must not be negative");
    const int64_t rows = grid.rows, cols = grid.cols;
    if (rows <= 0 || cols <= 0 || rows > INT32_MAX || cols > INT32_MAX)
        throw InputError("the grid's size is outside what is supported");
    const double c = p.cell_size, c2 = c * c;
    const unsigned threads = worker_count(p.threads);

    // --- strips ---------------------------------------------------------------
    const double depth_cells = p.edge_depth / c;
    const double core_limit = depth_cells * depth_cells * (1 + kRelTolerance);  // d2 <= limit: not core
    if (!(core_limit < 4.0e18)) throw InputError("the edge depth is too large for this cell size");
    const int64_t G = std::max<int64_t>(2, static_cast<int64_t>(std::floor(std::sqrt(core_limit))) + 1);
    const StripPlan plan = plan_strips(rows, cols, G, p.strip_rows);
    std::vector<StripResult> strips(static_cast<size_t>(plan.count));
    SeamMerge patch_seams, core_seams;
    patch_seams.seams.resize(static_cast<size_t>(plan.count));
    core_seams.seams.resize(static_cast<size_t>(plan.count));
    std::vector<char> done(static_cast<size_t>(plan.count), 0);
    std::mutex seam_mutex;
    auto stitch = [&](int64_t s) {  // strips s and s + 1, both done
        StripResult &a = strips[s], &b = strips[s + 1];
        stitch_seam(a.bottom_value.data(), a.bottom_patch.data(), b.top_value.data(), b.top_patch.data(), cols,
                    p.diags, patch_seams.seams[s]);
        stitch_seam(a.bottom_value.data(), a.bottom_core.data(), b.top_value.data(), b.top_core.data(), cols, p.diags,
                    core_seams.seams[s]);
        for (auto* v : {&a.bottom_value, &a.bottom_patch, &a.bottom_core, &b.top_value, &b.top_patch, &b.top_core})
            std::vector<int32_t>().swap(*v);
    };
    parallel_for(plan.count, threads, [&](int64_t s, unsigned) {
        const int64_t r0 = s * plan.height, r1 = std::min(rows, r0 + plan.height);
        process_strip(grid, r0, r1, plan.halo, G, core_limit, p, strips[s]);
        std::lock_guard<std::mutex> lock(seam_mutex);
        done[s] = 1;
        if (s > 0 && done[s - 1]) stitch(s - 1);
        if (s + 1 < plan.count && done[s + 1]) stitch(s);
    });

    // --- classes: one numbering for all strips --------------------------------
    Dense dense;
    {
        std::map<int64_t, char> all;
        for (const auto& st : strips)
            for (size_t k = 0; k < st.classes.size(); ++k) all[st.classes[k]] |= st.inside[k];
        for (auto [v, in] : all) {
            dense.values.push_back(v);
            dense.inside.push_back(in);
        }
    }
    const auto K = static_cast<int32_t>(dense.values.size());
    std::vector<std::vector<int32_t>> to_global(strips.size());
    for (size_t s = 0; s < strips.size(); ++s)
        for (int64_t v : strips[s].classes)
            to_global[s].push_back(static_cast<int32_t>(
                std::lower_bound(dense.values.begin(), dense.values.end(), v) - dense.values.begin()));

    // --- patches and cores across seams ---------------------------------------
    int64_t np = 0, ncores = 0;
    std::vector<int64_t> patch_final, core_final;
    {
        std::vector<int64_t> per_strip;
        for (const auto& st : strips) per_strip.push_back(static_cast<int64_t>(st.patch_cells.size()));
        patch_final = patch_seams.resolve(per_strip, np);
        per_strip.clear();
        for (const auto& st : strips) per_strip.push_back(static_cast<int64_t>(st.core_cells.size()));
        core_final = core_seams.resolve(per_strip, ncores);
    }
    if (np > INT32_MAX) throw InputError(fmt::format("the grid holds {} patches, more than supported", np));
    PatchTable patches;
    patches.cls.assign(static_cast<size_t>(np), 0);
    patches.cells.assign(static_cast<size_t>(np), 0);
    std::vector<int64_t> sides(static_cast<size_t>(np), 0);
    std::vector<int64_t> core_cells(static_cast<size_t>(np), 0), cores(static_cast<size_t>(np), 0);
    std::vector<int64_t> core_size(static_cast<size_t>(ncores), 0);
    std::vector<int32_t> core_patch(static_cast<size_t>(ncores), -1);
    PairCounts inner(K), border(K);
    std::vector<ClassSides> cs(static_cast<size_t>(K));
    std::vector<int64_t> class_cells(static_cast<size_t>(K), 0);
    int64_t background_cells = 0;
    for (size_t s = 0; s < strips.size(); ++s) {
        StripResult& st = strips[s];
        const auto& gl = to_global[s];
        const int64_t pf = patch_seams.first[s], cf = core_seams.first[s];
        for (size_t q = 0; q < st.patch_cells.size(); ++q) {
            const int64_t P = patch_final[pf + static_cast<int64_t>(q)];
            patches.cls[P] = gl[st.patch_class[q]];
            patches.cells[P] += st.patch_cells[q];
            sides[P] += st.patch_sides[q];
        }
        for (size_t q = 0; q < st.core_cells.size(); ++q) {
            const int64_t Q = core_final[cf + static_cast<int64_t>(q)];
            const int64_t P = patch_final[pf + st.core_patch[q]];
            if (core_patch[Q] < 0) {
                core_patch[Q] = static_cast<int32_t>(P);
                ++cores[P];
            }
            core_size[Q] += st.core_cells[q];
            core_cells[P] += st.core_cells[q];
        }
        for (size_t k = 0; k < st.classes.size(); ++k) {
            ClassSides& to = cs[gl[k]];
            to.boundary += st.sides[k].boundary;
            to.background += st.sides[k].background;
            to.border_same += st.sides[k].border_same;
            class_cells[gl[k]] += st.class_cells[k];
        }
        for (auto [a, b, cnt] : st.inner) inner.add(std::min(gl[a], gl[b]), std::max(gl[a], gl[b]), cnt);
        for (auto [a, b, cnt] : st.border) border.add(gl[a], gl[b], cnt);
        background_cells += st.background_cells;
        StripResult kept;
        kept.perimeter = std::move(st.perimeter);
        kept.perimeter_at = std::move(st.perimeter_at);
        kept.first_row = st.first_row;
        st = std::move(kept);
    }

    // --- isolation ------------------------------------------------------------
    Isolation iso;
    if (p.nndist && np > 0) {
        // A class's cells come from the strips' lists in strip order; a patch
        // met in one strip as several of its components gets that strip's
        // cells put back in raster order.
        std::vector<int32_t> member_of(static_cast<size_t>(np), 0);
        auto gather = [&](const std::vector<int32_t>& members, std::vector<int32_t>& offset, std::vector<Cell>& cells) {
            const auto m = static_cast<int32_t>(members.size());
            const int32_t cls = patches.cls[members[0]];
            for (int32_t k = 0; k < m; ++k) member_of[members[k]] = k;
            std::vector<int64_t> count(static_cast<size_t>(m) + 1, 0);
            auto each_patch = [&](auto&& f) {
                for (size_t s = 0; s < strips.size(); ++s) {
                    const auto& at = strips[s].perimeter_at;
                    for (size_t q = 0; q + 1 < at.size(); ++q) {
                        const int64_t P = patch_final[patch_seams.first[s] + static_cast<int64_t>(q)];
                        if (patches.cls[P] == cls && at[q + 1] > at[q]) f(s, q, member_of[P]);
                    }
                }
            };
            each_patch([&](size_t s, size_t q, int32_t k) {
                count[k + 1] += strips[s].perimeter_at[q + 1] - strips[s].perimeter_at[q];
            });
            for (int32_t k = 0; k < m; ++k) count[k + 1] += count[k];
            if (count[m] > INT32_MAX)
                throw InputError(fmt::format("a class has {} perimeter cells, more than supported", count[m]));
            offset.assign(count.begin(), count.end());
            std::vector<int64_t>().swap(count);
            cells.resize(static_cast<size_t>(offset[m]));
            std::vector<int32_t> fill(offset.begin(), offset.end() - 1), since(static_cast<size_t>(m), 0);
            std::vector<int64_t> last_strip(static_cast<size_t>(m), -1);
            std::vector<int32_t> mixed;
            int64_t current = -1;
            auto put_back_in_order = [&] {
                std::sort(mixed.begin(), mixed.end());
                mixed.erase(std::unique(mixed.begin(), mixed.end()), mixed.end());
                for (int32_t k : mixed)
                    std::sort(cells.begin() + since[k], cells.begin() + fill[k],
                              [](Cell x, Cell y) { return x.r != y.r ? x.r < y.r : x.c < y.c; });
                mixed.clear();
            };
            each_patch([&](size_t s, size_t q, int32_t k) {
                const StripResult& st = strips[s];
                if (static_cast<int64_t>(s) != current) {
                    put_back_in_order();
                    current = static_cast<int64_t>(s);
                }
                if (last_strip[k] == current) mixed.push_back(k);
                else {
                    last_strip[k] = current;
                    since[k] = fill[k];
                }
                for (uint32_t j = st.perimeter_at[q]; j < st.perimeter_at[q + 1]; ++j) {
                    const uint32_t i = st.perimeter[j];
                    cells[fill[k]++] = Cell{static_cast<int32_t>(st.first_row + i / cols), static_cast<int32_t>(i % cols)};
                }
            });
            put_back_in_order();
        };
        const double rad = p.prox_dist / c;
        iso = isolation(gather, patches, K, rad * rad * (1 + kRelTolerance), rows, cols, threads);
        res.proximity_pairs = iso.pairs;
    }
    std::vector<StripResult>().swap(strips);

    // --- per-patch statistics into groups -----------------------------------
    const int64_t A_cells = std::accumulate(class_cells.begin(), class_cells.end(), int64_t{0}) + background_cells;
    const double A = static_cast<double>(A_cells) * c2;  // m2
    std::vector<Group> groups(static_cast<size_t>(K) + 1);
    Group& L = groups[K];
    for (int64_t P = 0; P < np; ++P) {
        const int64_t a = patches.cells[P], sd = sides[P], core_a = core_cells[P];
        const double shape = 0.25 * static_cast<double>(sd) / std::sqrt(static_cast<double>(a));
        const double a_m2 = static_cast<double>(a) * c2, p_m = static_cast<double>(sd) * c;
        const double ln_a = std::log(a_m2), ln_p = std::log(p_m);
        const double frac = patch_fractal(p_m, a_m2);
        const double cai = 100.0 * static_cast<double>(core_a) / static_cast<double>(a);
        for (Group* G : {&groups[patches.cls[P]], &L}) {
            ++G->np;
            G->cells += a;
            G->max_cells = std::max(G->max_cells, a);
            G->min_cells = std::min(G->min_cells, a);
            G->min_sides = std::min(G->min_sides, sd);
            G->max_sides = std::max(G->max_sides, sd);
            G->core_cells += core_a;
            G->cores += cores[P];
            G->area.add(static_cast<double>(a));
            G->core.add(static_cast<double>(core_a));
            G->sum_shape += shape;
            G->aw_shape += shape * static_cast<double>(a);
            G->sum_frac += frac;
            G->aw_frac += frac * static_cast<double>(a);
            G->sum_cai += cai;
            G->lnp_lna.add(ln_p, ln_a);
            if (p.nndist) {
                if (iso.nn_d2[P] != Isolation::kNone) G->nn.add(std::sqrt(static_cast<double>(iso.nn_d2[P])));
                G->sum_prox += iso.prox[P];
            }
        }
        if (p.patch_records) {
            PatchRecord rec;
            rec.id = P + 1;
            rec.type = dense.values[patches.cls[P]];
            rec.cells = a;
            rec.perimeter_sides = sd;
            rec.core_cells = core_a;
            rec.cores = cores[P];
            if (p.nndist) {
                if (iso.nn_d2[P] != Isolation::kNone) rec.nearest = std::sqrt(static_cast<double>(iso.nn_d2[P])) * c;
                rec.proximity = iso.prox[P];
            }
            res.patches.push_back(rec);
        }
    }
    for (size_t q = 0; q < core_size.size(); ++q) {
        const auto sz = static_cast<double>(core_size[q]);
        groups[patches.cls[core_patch[q]]].dcore.add(sz);
        L.dcore.add(sz);
    }

    // --- edges ----------------------------------------------------------------
    // Per class (index K: landscape): interior edge, true border edge, full
    // perimeter for LSI, contrast-weighted edge.
    std::vector<double> te(K + 1, 0), lsi_e(K + 1, 0), cwed(K + 1, 0);
    std::vector<std::vector<std::pair<int32_t, int64_t>>> adjacency(static_cast<size_t>(K));  // for IJI
    std::set<std::pair<int64_t, int64_t>> missing_weights;
    auto weight = [&](int32_t a, int32_t b) {
        auto w = p.weights->weight(dense.values[a], dense.values[b]);
        if (!w) {
            missing_weights.insert({std::min(dense.values[a], dense.values[b]), std::max(dense.values[a], dense.values[b])});
            return 0.0;
        }
        return *w;
    };
    // One edge of `cnt` sides between classes a and b, credited to class a
    // and, when b is inside too, to class b; the landscape counts it once.
    auto credit = [&](int32_t a, int32_t b, int64_t cnt, bool both) {
        const auto e = static_cast<double>(cnt);
        const double w = p.weights ? weight(a, b) * e : 0.0;
        for (int32_t k : {a, K, both ? b : -1}) {
            if (k < 0) continue;
            te[k] += e;
            lsi_e[k] += e;
            cwed[k] += w;
        }
        adjacency[a].push_back({b, cnt});
        if (both) adjacency[b].push_back({a, cnt});
    };
    inner.for_each([&](int32_t a, int32_t b, int64_t cnt) { credit(a, b, cnt, true); });
    border.for_each([&](int32_t a, int32_t b, int64_t cnt) { credit(a, b, cnt, false); });
    for (int32_t k = 0; k < K; ++k) {
        const auto bnd = static_cast<double>(cs[k].boundary), bg = static_cast<double>(cs[k].background);
        te[k] += p.bwt * (bnd + bg);
        te[K] += p.bwt * (bnd + bg);
        const double full = bnd + static_cast<double>(cs[k].border_same) + p.bwt * bg;
        lsi_e[k] += full;
        lsi_e[K] += full;
        if (p.weights) {
            const double w = p.weights->background_weight(dense.values[k]).value_or(p.bwt) * (bnd + bg);
            cwed[k] += w;
            cwed[K] += w;
        }
    }
    for (auto [a, b] : missing_weights)
        res.warnings.push_back(fmt::format("weight file has no weight for classes {} and {}; using 0", a, b));

    // m for IJI: classes inside plus border classes.
    const int64_t m_inside = std::count(dense.inside.begin(), dense.inside.end(), 1);
    const int64_t m_iji = K;

    // --- rows -----------------------------------------------------------------
    const double ha = c2 / 1e4;
    auto fill_group = [&](MetricRow& row, const Group& G, int32_t k, bool landscape) {
        const auto gnp = static_cast<double>(G.np);
        row[Code::NP] = gnp;
        row[Code::PD] = ratio(gnp * 1e6, A);
        row[Code::LPI] = ratio(static_cast<double>(G.max_cells) * 100, static_cast<double>(A_cells));
        const double mps_cells = landscape ? static_cast<double>(A_cells) / gnp : G.area.mean;
        row[Code::MPS] = finite(mps_cells * ha);
        row[Code::PSSD] = G.area.sd() * ha;
        row[Code::PSCV] = ratio(G.area.sd(), mps_cells, 100);
        row[Code::TE] = te[k] * c;
        row[Code::ED] = ratio(te[k] * c * 1e4, A);
        if (p.weights) row[Code::CWED] = ratio(cwed[k] * c * 1e4, A);
        row[Code::LSI] = ratio(0.25 * lsi_e[k], std::sqrt(static_cast<double>(A_cells)));
        row[Code::MSI] = G.sum_shape / gnp;
        row[Code::AWMSI] = ratio(G.aw_shape, static_cast<double>(G.cells));
        row[Code::MPFD] = G.sum_frac / gnp;
        row[Code::AWMPFD] = ratio(G.aw_frac, static_cast<double>(G.cells));
        const bool degenerate = G.np < 2 || G.min_sides == G.max_sides || G.min_cells == G.max_cells;
        if (!degenerate && (landscape || G.np >= kMinPatchesForClassDlfd) && G.lnp_lna.sxx > 0) {
            const double slope = G.lnp_lna.sxy / G.lnp_lna.sxx;
            row[Code::DLFD] = ratio(2.0, slope);
        }
        row[Code::TCA] = static_cast<double>(G.core_cells) * ha;
        row[Code::NCA] = static_cast<double>(G.cores);
        row[Code::CAD] = ratio(static_cast<double>(G.cores) * 1e6, A);
        row[Code::MCA1] = G.core.mean * ha;
        row[Code::CASD1] = G.core.sd() * ha;
        row[Code::CACV1] = ratio(G.core.sd(), G.core.mean, 100);
        if (G.cores > 0) {
            row[Code::MCA2] = static_cast<double>(G.core_cells) / static_cast<double>(G.cores) * ha;
            row[Code::CASD2] = G.dcore.sd() * ha;
            row[Code::CACV2] = ratio(G.dcore.sd(), G.dcore.mean, 100);
        }
        row[Code::TCAI] = ratio(static_cast<double>(G.core_cells) * 100,
                                static_cast<double>(landscape ? A_cells : G.cells));
        row[Code::MCAI] = G.sum_cai / gnp;
        if (p.nndist) {
            if (G.nn.n > 0) {
                row[Code::MNN] = G.nn.mean * c;
                row[Code::NNSD] = G.nn.sd() * c;
                row[Code::NNCV] = ratio(G.nn.sd(), G.nn.mean, 100);
            }
            row[Code::MPI] = G.sum_prox / gnp;
        }
    };
    auto entropy_share = [](const std::vector<double>& parts) {
        double total = 0, h = 0;
        for (double e : parts) total += e;
        if (total <= 0) return std::optional<double>();
        for (double e : parts)
            if (e > 0) h -= e / total * std::log(e / total);
        return std::optional<double>(h);
    };

    MetricRow& land = res.landscape;
    land[Code::TA] = static_cast<double>(A_cells) * ha;
    if (L.np > 0) {
        fill_group(land, L, K, true);
        // Diversity over the classes inside the landscape.
        const auto class_total = static_cast<double>(L.cells);
        double shdi = 0, sum_p2 = 0;
        for (int32_t k = 0; k < K; ++k) {
            if (!dense.inside[k]) continue;
            const double pk = static_cast<double>(class_cells[k]) / class_total;
            shdi -= pk * std::log(pk);
            sum_p2 += pk * pk;
        }
        const auto m = static_cast<double>(m_inside);
        land[Code::SHDI] = shdi;
        land[Code::SIDI] = 1 - sum_p2;
        land[Code::MSIDI] = -std::log(sum_p2);
        land[Code::PR] = m;
        land[Code::PRD] = ratio(m * 1e6, A);
        if (p.max_classes) land[Code::RPR] = m / static_cast<double>(*p.max_classes) * 100;
        land[Code::SHEI] = m_inside > 1 ? shdi / std::log(m) : 0.0;
        land[Code::SIEI] = m_inside > 1 ? (1 - sum_p2) / (1 - 1 / m) : 0.0;
        land[Code::MSIEI] = m_inside > 1 ? -std::log(sum_p2) / std::log(m) : 0.0;
        if (m_iji >= 3) {
            // A border class that also occurs inside is the same class.
            std::map<std::pair<int32_t, int32_t>, double> pairs;
            auto add = [&](int32_t a, int32_t b, int64_t cnt) {
                pairs[{std::min(a, b), std::max(a, b)}] += static_cast<double>(cnt);
            };
            inner.for_each(add);
            border.for_each(add);
            std::vector<double> all;
            for (auto [key, e] : pairs) all.push_back(e);
            const auto mi = static_cast<double>(m_iji);
            if (auto h = entropy_share(all)) land[Code::IJI] = ratio(*h * 100, std::log(mi * (mi - 1) / 2));
        }
    }
    for (int32_t k = 0; k < K; ++k) {
        if (!dense.inside[k]) continue;
        ClassResult cr;
        cr.type = dense.values[k];
        const Group& G = groups[k];
        fill_group(cr.row, G, k, false);
        cr.row[Code::CA] = static_cast<double>(G.cells) * ha;
        cr.row[Code::PLAND] = ratio(static_cast<double>(G.cells) * 100, static_cast<double>(A_cells));
        cr.row[Code::CPLAND] = ratio(static_cast<double>(G.core_cells) * 100, static_cast<double>(A_cells));
        if (m_iji >= 3) {
            // Edge lengths with each other class, this class's own border cells excluded.
            std::unordered_map<int32_t, double> by_class;
            for (auto [other, cnt] : adjacency[k]) by_class[other] += static_cast<double>(cnt);
            std::vector<double> parts;
            for (auto [other, e] : by_class) parts.push_back(e);
            if (auto h = entropy_share(parts)) cr.row[Code::IJI] = ratio(*h * 100, std::log(static_cast<double>(m_iji) - 1));
        }
        res.classes.push_back(std::move(cr));
    }
    return res;
}

}  // namespace korvane::fragstat
