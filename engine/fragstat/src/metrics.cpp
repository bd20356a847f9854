// The whole grid from its strips: the strips' pass, one numbering of the
// classes, patches and cores across the seams, isolation, per-patch
// statistics by class, edges, and the metric formulas of the rows.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <numeric>
#include <set>
#include <unordered_map>

#include "engine.h"
#include "fragstat/fragstat.h"
#include "strips.h"

namespace korvane::fragstat {
namespace {

using namespace detail;

constexpr int64_t kMinPatchesForClassDlfd = 10;  // class DLFD below that many patches is "."
constexpr double kRelTolerance = 1e-9;            // inclusive distance tests

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

Value finite(double v) {
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}
Value ratio(double num, double den, double scale = 1.0) {
    if (den == 0) return std::nullopt;
    return finite(num / den * scale);
}

// --- strips ---------------------------------------------------------------

// Every strip's results, and the pairs of components touching across the
// seams between them.
struct StripPass {
    std::vector<StripResult> strips;
    SeamMerge patch_seams, core_seams;
};

// Runs the strips on up to `threads` workers; the facing rows of two
// neighbouring strips are stitched as soon as both are done.
StripPass run_strips(const GridRows& grid, const Params& p, int64_t G, double core_limit, unsigned threads) {
    const int64_t rows = grid.rows, cols = grid.cols;
    const StripPlan plan = plan_strips(rows, cols, G, p.strip_rows);
    StripPass pass;
    std::vector<StripResult>& strips = pass.strips;
    SeamMerge &patch_seams = pass.patch_seams, &core_seams = pass.core_seams;
    strips.resize(static_cast<size_t>(plan.count));
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
    return pass;
}

// --- classes: one numbering for all strips --------------------------------

Dense number_all_classes(const std::vector<StripResult>& strips) {
    Dense dense;
    std::map<int64_t, char> all;
    for (const auto& st : strips)
        for (size_t k = 0; k < st.classes.size(); ++k) all[st.classes[k]] |= st.inside[k];
    for (auto [v, in] : all) {
        dense.values.push_back(v);
        dense.inside.push_back(in);
    }
    return dense;
}

// Per strip: its local class index -> the class's index in `dense`.
std::vector<std::vector<int32_t>> strip_class_indices(const std::vector<StripResult>& strips, const Dense& dense) {
    std::vector<std::vector<int32_t>> to_global(strips.size());
    for (size_t s = 0; s < strips.size(); ++s)
        for (int64_t v : strips[s].classes)
            to_global[s].push_back(static_cast<int32_t>(
                std::lower_bound(dense.values.begin(), dense.values.end(), v) - dense.values.begin()));
    return to_global;
}

// --- patches and cores across seams ---------------------------------------

// The whole grid's patches, cores and classes: the final numbers of the
// strips' provisional ones, and the counts of all strips added up.
struct GridTotals {
    explicit GridTotals(int32_t K)
        : inner(K), border(K), cs(static_cast<size_t>(K)), class_cells(static_cast<size_t>(K), 0) {}
    int64_t np = 0, ncores = 0;
    std::vector<int64_t> patch_final, core_final;  // provisional number -> final
    PatchTable patches;
    std::vector<int64_t> sides, core_cells, cores;  // per patch
    std::vector<int64_t> core_size;                 // per core
    std::vector<int32_t> core_patch;                // per core: its patch
    PairCounts inner, border;                       // sides between classes; with border classes
    std::vector<ClassSides> cs;                     // per class
    std::vector<int64_t> class_cells;               // per class
    int64_t background_cells = 0;
};

// Final patch and core numbers across the seams; the per-patch and per-core
// tables sized for them.
void number_across_seams(StripPass& pass, GridTotals& t) {
    const std::vector<StripResult>& strips = pass.strips;
    {
        std::vector<int64_t> per_strip;
        for (const auto& st : strips) per_strip.push_back(static_cast<int64_t>(st.patch_cells.size()));
        t.patch_final = pass.patch_seams.resolve(per_strip, t.np);
        per_strip.clear();
        for (const auto& st : strips) per_strip.push_back(static_cast<int64_t>(st.core_cells.size()));
        t.core_final = pass.core_seams.resolve(per_strip, t.ncores);
    }
    const int64_t np = t.np, ncores = t.ncores;
    if (np > INT32_MAX) throw InputError(fmt::format("the grid holds {} patches, more than supported", np));
    t.patches.cls.assign(static_cast<size_t>(np), 0);
    t.patches.cells.assign(static_cast<size_t>(np), 0);
    t.sides.assign(static_cast<size_t>(np), 0);
    t.core_cells.assign(static_cast<size_t>(np), 0);
    t.cores.assign(static_cast<size_t>(np), 0);
    t.core_size.assign(static_cast<size_t>(ncores), 0);
    t.core_patch.assign(static_cast<size_t>(ncores), -1);
}

// Adds one strip's counts (`gl`: its local class index -> global; `pf`,
// `cf`: its first provisional patch and core numbers) and keeps only its
// perimeter lists.
void add_strip(StripResult& st, const std::vector<int32_t>& gl, int64_t pf, int64_t cf, GridTotals& t) {
    const std::vector<int64_t>&patch_final = t.patch_final, &core_final = t.core_final;
    PatchTable& patches = t.patches;
    std::vector<int64_t>&sides = t.sides, &core_cells = t.core_cells, &cores = t.cores, &core_size = t.core_size;
    std::vector<int32_t>& core_patch = t.core_patch;
    std::vector<ClassSides>& cs = t.cs;
    std::vector<int64_t>& class_cells = t.class_cells;
    PairCounts &inner = t.inner, &border = t.border;
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
    t.background_cells += st.background_cells;
    StripResult kept;
    kept.perimeter = std::move(st.perimeter);
    kept.perimeter_at = std::move(st.perimeter_at);
    kept.first_row = st.first_row;
    st = std::move(kept);
}

GridTotals join_strips(StripPass& pass, const std::vector<std::vector<int32_t>>& to_global, int32_t K) {
    GridTotals t(K);
    number_across_seams(pass, t);
    for (size_t s = 0; s < pass.strips.size(); ++s)
        add_strip(pass.strips[s], to_global[s], pass.patch_seams.first[s], pass.core_seams.first[s], t);
    return t;
}

// --- isolation ------------------------------------------------------------

// Hands the isolation pass one class's perimeter cells at a time. A class's
// cells come from the strips' lists in strip order; a patch met in one strip
// as several of its components gets that strip's cells put back in raster
// order.
class StripPerimeters {
public:
    StripPerimeters(const StripPass& pass, const GridTotals& t, int64_t cols)
        : strips_(pass.strips),
          first_(pass.patch_seams.first),
          patch_final_(t.patch_final),
          patches_(t.patches),
          cols_(cols),
          member_of_(static_cast<size_t>(t.np), 0) {}

    void gather(const std::vector<int32_t>& members, std::vector<int32_t>& offset, std::vector<Cell>& cells) {
        const std::vector<StripResult>& strips = strips_;
        const int64_t cols = cols_;
        std::vector<int32_t>& member_of = member_of_;
        const auto m = static_cast<int32_t>(members.size());
        const int32_t cls = patches_.cls[members[0]];
        for (int32_t k = 0; k < m; ++k) member_of[members[k]] = k;
        std::vector<int64_t> count(static_cast<size_t>(m) + 1, 0);
        each_patch(cls, [&](size_t s, size_t q, int32_t k) {
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
        each_patch(cls, [&](size_t s, size_t q, int32_t k) {
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
    }

private:
    // f(strip, patch within the strip, index among the members) for every
    // strip's patch of class `cls` with perimeter cells, strip by strip.
    template <class F>
    void each_patch(int32_t cls, F&& f) const {
        for (size_t s = 0; s < strips_.size(); ++s) {
            const auto& at = strips_[s].perimeter_at;
            for (size_t q = 0; q + 1 < at.size(); ++q) {
                const int64_t P = patch_final_[first_[s] + static_cast<int64_t>(q)];
                if (patches_.cls[P] == cls && at[q + 1] > at[q]) f(s, q, member_of_[P]);
            }
        }
    }

    const std::vector<StripResult>& strips_;
    const std::vector<int64_t>& first_;        // per strip: its first provisional patch number
    const std::vector<int64_t>& patch_final_;  // provisional patch number -> final
    const PatchTable& patches_;
    int64_t cols_;
    std::vector<int32_t> member_of_;  // per patch: its index among the members asked for last
};

Isolation isolate(const StripPass& pass, const GridTotals& t, int32_t K, const Params& p, int64_t rows, int64_t cols,
                  unsigned threads) {
    StripPerimeters perimeters(pass, t, cols);
    auto gather = [&](const std::vector<int32_t>& members, std::vector<int32_t>& offset, std::vector<Cell>& cells) {
        perimeters.gather(members, offset, cells);
    };
    const double rad = p.prox_dist / p.cell_size;
    return isolation(gather, t.patches, K, rad * rad * (1 + kRelTolerance), rows, cols, threads);
}

// --- per-patch statistics into groups -----------------------------------

// Each patch's statistics added to its class's group and to the landscape's
// (index K); its record too when patch records are asked for.
std::vector<Group> group_patches(const GridTotals& t, const Isolation& iso, const Dense& dense, const Params& p,
                                 int32_t K, std::vector<PatchRecord>& records) {
    const double c = p.cell_size, c2 = c * c;
    const int64_t np = t.np;
    const PatchTable& patches = t.patches;
    const std::vector<int64_t>&sides = t.sides, &core_cells = t.core_cells, &cores = t.cores, &core_size = t.core_size;
    const std::vector<int32_t>& core_patch = t.core_patch;
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
            records.push_back(rec);
        }
    }
    for (size_t q = 0; q < core_size.size(); ++q) {
        const auto sz = static_cast<double>(core_size[q]);
        groups[patches.cls[core_patch[q]]].dcore.add(sz);
        L.dcore.add(sz);
    }
    return groups;
}

// --- edges ----------------------------------------------------------------

// Per class (index K: landscape): interior edge, true border edge, full
// perimeter for LSI, contrast-weighted edge; and for IJI each class's sides
// with the other classes.
struct Edges {
    std::vector<double> te, lsi_e, cwed;
    std::vector<std::vector<std::pair<int32_t, int64_t>>> adjacency;
};

Edges sum_edges(const GridTotals& t, const Dense& dense, const Params& p, int32_t K,
                std::vector<std::string>& warnings) {
    Edges edges;
    edges.te.assign(static_cast<size_t>(K) + 1, 0);
    edges.lsi_e.assign(static_cast<size_t>(K) + 1, 0);
    edges.cwed.assign(static_cast<size_t>(K) + 1, 0);
    edges.adjacency.resize(static_cast<size_t>(K));
    std::vector<double>&te = edges.te, &lsi_e = edges.lsi_e, &cwed = edges.cwed;
    auto& adjacency = edges.adjacency;
    const std::vector<ClassSides>& cs = t.cs;
    const PairCounts &inner = t.inner, &border = t.border;
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
        warnings.push_back(fmt::format("weight file has no weight for classes {} and {}; using 0", a, b));
    return edges;
}

// --- rows -----------------------------------------------------------------

// What the rows' metrics are taken from besides each group.
struct RowBasis {
    const Params& p;
    const Edges& edges;
    int64_t A_cells;  // the landscape's cells
    double A;         // the landscape's area (m2)
    double c;         // cell size (m)
    double ha;        // cell area (ha)
};

// The metrics of one group: class k, or the landscape (k = K).
void fill_group(MetricRow& row, const Group& G, int32_t k, bool landscape, const RowBasis& basis) {
    const Params& p = basis.p;
    const std::vector<double>&te = basis.edges.te, &lsi_e = basis.edges.lsi_e, &cwed = basis.edges.cwed;
    const int64_t A_cells = basis.A_cells;
    const double A = basis.A, c = basis.c, ha = basis.ha;
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
}

// Shannon entropy of the shares of `parts`; none when they sum to nothing.
std::optional<double> entropy_share(const std::vector<double>& parts) {
    double total = 0, h = 0;
    for (double e : parts) total += e;
    if (total <= 0) return std::optional<double>();
    for (double e : parts)
        if (e > 0) h -= e / total * std::log(e / total);
    return std::optional<double>(h);
}

// The landscape row: its group's metrics, the diversity of the classes
// inside and the interspersion of every class pair.
void fill_landscape(MetricRow& land, const Group& L, const GridTotals& t, const Dense& dense, int32_t K,
                    const RowBasis& basis) {
    const Params& p = basis.p;
    const std::vector<int64_t>& class_cells = t.class_cells;
    const PairCounts &inner = t.inner, &border = t.border;
    const int64_t A_cells = basis.A_cells;
    const double A = basis.A, ha = basis.ha;
    const int64_t m_inside = std::count(dense.inside.begin(), dense.inside.end(), 1);
    const int64_t m_iji = K;  // for IJI: classes inside plus border classes
    land[Code::TA] = static_cast<double>(A_cells) * ha;
    if (L.np > 0) {
        fill_group(land, L, K, true, basis);
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
}

// One row per class inside the landscape, in ascending class value.
void fill_classes(std::vector<ClassResult>& classes, const std::vector<Group>& groups, const Dense& dense, int32_t K,
                  const RowBasis& basis) {
    const auto& adjacency = basis.edges.adjacency;
    const int64_t A_cells = basis.A_cells;
    const double ha = basis.ha;
    const int64_t m_iji = K;  // for IJI: classes inside plus border classes
    for (int32_t k = 0; k < K; ++k) {
        if (!dense.inside[k]) continue;
        ClassResult cr;
        cr.type = dense.values[k];
        const Group& G = groups[k];
        fill_group(cr.row, G, k, false, basis);
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
        classes.push_back(std::move(cr));
    }
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

    // Strips: a cell is core when every cell outside its patch lies beyond
    // the edge depth.
    const double depth_cells = p.edge_depth / c;
    const double core_limit = depth_cells * depth_cells * (1 + kRelTolerance);  // d2 <= limit: not core
    if (!(core_limit < 4.0e18)) throw InputError("the edge depth is too large for this cell size");
    const int64_t G = std::max<int64_t>(2, static_cast<int64_t>(std::floor(std::sqrt(core_limit))) + 1);
    StripPass pass = run_strips(grid, p, G, core_limit, threads);

    // Classes, patches and cores: one numbering across the strips.
    const Dense dense = number_all_classes(pass.strips);
    const auto K = static_cast<int32_t>(dense.values.size());
    const GridTotals totals = join_strips(pass, strip_class_indices(pass.strips, dense), K);

    // Nearest neighbours and proximity, from the strips' perimeter cells.
    Isolation iso;
    if (p.nndist && totals.np > 0) {
        iso = isolate(pass, totals, K, p, rows, cols, threads);
        res.proximity_pairs = iso.pairs;
    }
    std::vector<StripResult>().swap(pass.strips);

    // Per-patch statistics by class, edges, and the rows.
    const std::vector<Group> groups = group_patches(totals, iso, dense, p, K, res.patches);
    const Edges edges = sum_edges(totals, dense, p, K, res.warnings);
    const int64_t A_cells =
        std::accumulate(totals.class_cells.begin(), totals.class_cells.end(), int64_t{0}) + totals.background_cells;
    const RowBasis basis{p, edges, A_cells, static_cast<double>(A_cells) * c2, c, c2 / 1e4};
    fill_landscape(res.landscape, groups[K], totals, dense, K, basis);
    fill_classes(res.classes, groups, dense, K, basis);
    return res;
}

}  // namespace korvane::fragstat
