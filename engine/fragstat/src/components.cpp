// The public connected-component labeller: strips labelled in parallel,
// joined across seams (see SeamMerge in engine.h).
#include <fmt/format.h>

#include "engine.h"
#include "fragstat/fragstat.h"

namespace korvane::fragstat {

Components label_components(int64_t rows, int64_t cols, const RowSource& read, const ComponentOptions& o,
                            const IdSink& ids) {
    using namespace detail;
    Components out;
    if (rows <= 0 || cols <= 0) return out;
    const int64_t height = strip_height(rows, cols, o.strip_rows, 8);
    if (height * cols > INT32_MAX)
        throw std::invalid_argument(fmt::format("strips of {} x {} cells are larger than supported", height, cols));
    const int64_t strips = (rows + height - 1) / height;
    const unsigned threads = worker_count(o.threads);

    struct Strip {
        std::vector<int64_t> cells;
        std::vector<int32_t> value;
        std::vector<int32_t> top_value, top_id, bottom_value, bottom_id;
    };
    std::vector<Strip> result(static_cast<size_t>(strips));
    // One strip's own numbering; `keep` receives the numbers of every cell.
    auto label = [&](int64_t s, std::vector<int32_t>& values, std::vector<int32_t>& id, Strip* into) {
        const int64_t r0 = s * height, h = std::min(rows, r0 + height) - r0, n = h * cols;
        values.resize(static_cast<size_t>(n));
        id.resize(static_cast<size_t>(n));
        read(r0, h, values.data());
        const int32_t none = o.none;
        label_strip(values.data(), h, cols, o.diags, id.data(), [&](int64_t i) { return values[i] != none; },
                    [&](int64_t i, int32_t k) {
                        if (!into) return;
                        if (k == static_cast<int32_t>(into->cells.size())) {
                            into->cells.push_back(0);
                            into->value.push_back(values[i]);
                        }
                        ++into->cells[k];
                    });
        return n;
    };

    SeamMerge merge;
    merge.seams.resize(static_cast<size_t>(strips));
    std::vector<char> done(static_cast<size_t>(strips), 0);
    std::mutex seam_mutex;
    auto stitch = [&](int64_t s) {
        Strip &a = result[s], &b = result[s + 1];
        stitch_seam(a.bottom_value.data(), a.bottom_id.data(), b.top_value.data(), b.top_id.data(), cols, o.diags,
                    merge.seams[s]);
        for (auto* v : {&a.bottom_value, &a.bottom_id, &b.top_value, &b.top_id}) std::vector<int32_t>().swap(*v);
    };
    parallel_for(strips, threads, [&](int64_t s, unsigned) {
        std::vector<int32_t> values, id;
        Strip& st = result[s];
        const int64_t n = label(s, values, id, &st);
        st.top_value.assign(values.begin(), values.begin() + cols);
        st.top_id.assign(id.begin(), id.begin() + cols);
        st.bottom_value.assign(values.begin() + (n - cols), values.end());
        st.bottom_id.assign(id.begin() + (n - cols), id.end());
        std::lock_guard<std::mutex> lock(seam_mutex);
        done[s] = 1;
        if (s > 0 && done[s - 1]) stitch(s - 1);
        if (s + 1 < strips && done[s + 1]) stitch(s);
    });

    std::vector<int64_t> per_strip;
    for (const auto& st : result) per_strip.push_back(static_cast<int64_t>(st.cells.size()));
    int64_t count = 0;
    const std::vector<int64_t> final_id = merge.resolve(per_strip, count);
    out.cells.assign(static_cast<size_t>(count), 0);
    out.value.assign(static_cast<size_t>(count), 0);
    for (int64_t s = 0; s < strips; ++s) {
        Strip& st = result[s];
        for (size_t k = 0; k < st.cells.size(); ++k) {
            const int64_t q = final_id[merge.first[s] + static_cast<int64_t>(k)];
            out.cells[q] += st.cells[k];
            out.value[q] = st.value[k];
        }
        st = Strip{};
    }
    if (!ids) return out;

    // The second reading: strips relabelled (the same numbering again) a
    // batch at a time, handed over in row order.
    const int64_t batch = threads;
    std::vector<std::vector<int64_t>> given(static_cast<size_t>(batch));
    for (int64_t s0 = 0; s0 < strips; s0 += batch) {
        const int64_t m = std::min(batch, strips - s0);
        parallel_for(m, threads, [&](int64_t k, unsigned) {
            std::vector<int32_t> values, id;
            const int64_t s = s0 + k;
            const int64_t n = label(s, values, id, nullptr);
            auto& g = given[k];
            g.resize(static_cast<size_t>(n));
            for (int64_t i = 0; i < n; ++i) g[i] = id[i] < 0 ? 0 : final_id[merge.first[s] + id[i]] + 1;
        });
        for (int64_t k = 0; k < m; ++k) {
            const int64_t r0 = (s0 + k) * height;
            ids(r0, std::min(rows, r0 + height) - r0, given[k].data());
        }
    }
    return out;
}

}  // namespace korvane::fragstat
