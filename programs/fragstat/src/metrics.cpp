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
Dense number_classes(std::vector<int32_t>& cells) {
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

}  // namespace

Results compute(ClassGrid grid, const Params& p) {
    Results res;
    if (!(p.cell_size > 0) || !std::isfinite(p.cell_size)) throw InputError("the cell size must be greater than 0");
    if (!(p.edge_depth >= 0)) throw InputError("the edge depth must not be negative");
    if (!(p.bwt >= 0 && p.bwt <= 1)) throw InputError("the boundary weight must lie between 0 and 1");
    if (!(p.prox_dist >= 0)) throw InputError("the proximity radius must not be negative");
    const int64_t rows = grid.rows, cols = grid.cols, n = rows * cols;
    if (static_cast<int64_t>(grid.cells.size()) != n || rows < 0 || cols < 0)
        throw InputError("the grid's cell count does not match its size");
    std::vector<int32_t>& work = grid.cells;
    const Dense dense = number_classes(work);
    const auto K = static_cast<int32_t>(dense.values.size());
    const double c = p.cell_size, c2 = c * c;

    // --- patches --------------------------------------------------------------
    std::vector<int32_t> lab(static_cast<size_t>(n));
    RowLinker linker{lab.data(), cols, p.diags};
    for (int64_t r = 0; r < rows; ++r)
        linker.link_row(
            r, [&](int64_t i) { return work[i] >= 0; }, [&](int64_t i, int64_t j) { return work[j] == work[i]; },
            [&](int64_t i) { return work[i]; });
    PatchTable patches;
    const int64_t np = resolve_components(lab.data(), n, [&](int64_t i) { return work[i] >= 0; }, [](int64_t, int32_t) {});
    patches.cls.assign(static_cast<size_t>(np), 0);
    patches.cells.assign(static_cast<size_t>(np), 0);
    std::vector<int64_t> sides(static_cast<size_t>(np), 0);

    // --- sides ----------------------------------------------------------------
    PairCounts inner(K), border(K);  // inner keyed (min, max); border keyed (inside, border class)
    std::vector<ClassSides> cs(static_cast<size_t>(K));
    std::vector<int64_t> class_cells(static_cast<size_t>(K), 0);
    int64_t background_cells = 0;
    for (int64_t r = 0; r < rows; ++r) {
        for (int64_t col = 0; col < cols; ++col) {
            const int64_t i = r * cols + col;
            const int32_t k = work[i];
            if (k < 0) {
                background_cells += k == kInteriorBackground;
                continue;
            }
            const int32_t P = lab[i];
            patches.cls[P] = k;
            ++patches.cells[P];
            ++class_cells[k];
            auto side = [&](bool in_image, int64_t j, bool count_pair) {
                if (!in_image) {
                    ++cs[k].boundary;
                    ++sides[P];
                    return;
                }
                const int32_t v = work[j];
                if (v == k) return;
                ++sides[P];
                if (v >= 0) {
                    if (count_pair) inner.add(std::min(k, v), std::max(k, v));
                } else if (v == kOutside) {
                    ++cs[k].boundary;
                } else if (v == kInteriorBackground) {
                    ++cs[k].background;
                } else if (border_class(v) == k) {
                    ++cs[k].border_same;
                } else {
                    border.add(k, border_class(v));
                }
            };
            side(r > 0, i - cols, false);
            side(col > 0, i - 1, false);
            side(col + 1 < cols, i + 1, true);
            side(r + 1 < rows, i + cols, true);
        }
    }

    // --- core areas -----------------------------------------------------------
    const double depth_cells = p.edge_depth / c;
    const double core_limit = depth_cells * depth_cells * (1 + kRelTolerance);  // d2 <= limit: not core
    std::vector<int64_t> core_cells(static_cast<size_t>(np), 0), cores(static_cast<size_t>(np), 0);
    std::vector<int64_t> core_size;
    std::vector<int32_t> core_patch;
    {
        // Vertical distance (in cells) to the nearest cell outside the patch.
        int32_t* g = work.data();
        for (int64_t r = 0; r < rows; ++r)
            for (int64_t col = 0; col < cols; ++col) {
                const int64_t i = r * cols + col;
                g[i] = lab[i] < 0 ? 0 : (r > 0 && lab[i - cols] == lab[i]) ? g[i - cols] + 1 : 1;
            }
        std::vector<int32_t> down(static_cast<size_t>(cols), 0);
        for (int64_t r = rows - 1; r >= 0; --r)
            for (int64_t col = 0; col < cols; ++col) {
                const int64_t i = r * cols + col;
                if (lab[i] < 0) continue;
                const int32_t d = (r + 1 < rows && lab[i + cols] == lab[i]) ? down[col] + 1 : 1;
                down[col] = d;
                g[i] = std::min(g[i], d);
            }
        // Row by row: core flags from this row's g, then the row is relabelled
        // in place with the parents of the core components.
        std::vector<char> core(static_cast<size_t>(cols));
        std::vector<int64_t> d2, sbuf, tbuf;
        RowLinker core_linker{work.data(), cols, p.diags};
        for (int64_t r = 0; r < rows; ++r) {
            const int64_t row0 = r * cols;
            for (int64_t s = 0; s < cols;) {
                const int32_t P = lab[row0 + s];
                int64_t e = s;
                while (e + 1 < cols && lab[row0 + e + 1] == P) ++e;
                if (P >= 0) {
                    const int64_t len = e - s + 1;
                    if (core_limit < 1) {
                        std::fill(core.begin() + s, core.begin() + e + 1, 1);
                    } else if (core_limit < 2) {  // only side neighbours are close enough
                        for (int64_t x = s; x <= e; ++x) core[x] = x > s && x < e && g[row0 + x] > 1;
                    } else {
                        run_distances(g + row0 + s, len, d2, sbuf, tbuf);
                        for (int64_t x = 0; x < len; ++x) core[s + x] = static_cast<double>(d2[x]) > core_limit;
                    }
                } else {
                    std::fill(core.begin() + s, core.begin() + e + 1, 0);
                }
                s = e + 1;
            }
            core_linker.link_row(
                r, [&](int64_t i) { return core[i - row0] != 0; },
                [&](int64_t i, int64_t j) { return work[j] >= 0 && lab[j] == lab[i]; },
                [](int64_t) { return -1; });
        }
        resolve_components(
            work.data(), n, [&](int64_t i) { return work[i] >= 0; },
            [&](int64_t i, int32_t id) {
                if (id == static_cast<int32_t>(core_size.size())) {
                    core_size.push_back(0);
                    core_patch.push_back(lab[i]);
                    ++cores[lab[i]];
                }
                ++core_size[id];
                ++core_cells[lab[i]];
            });
    }
    std::vector<int32_t>().swap(work);

    // --- isolation ------------------------------------------------------------
    Isolation iso;
    if (p.nndist && np > 0) {
        const double rad = p.prox_dist / c;
        iso = isolation(lab, rows, cols, patches, K, rad * rad * (1 + kRelTolerance));
    }
    std::vector<int32_t>().swap(lab);

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
