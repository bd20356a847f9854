// Contrast weight file for the contrast-weighted edge density.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "fragstat/fragstat.h"
#include "text.h"

namespace korvane::fragstat {

std::optional<double> WeightTable::weight(int64_t a, int64_t b) const {
    auto it = pairs.find({std::min(a, b), std::max(a, b)});
    if (it == pairs.end()) return std::nullopt;
    return it->second;
}

std::optional<double> WeightTable::background_weight(int64_t cls) const {
    auto it = background.find(cls);
    if (it == background.end()) return std::nullopt;
    return it->second;
}

WeightTable parse_weight_file(std::string_view content, double background, std::vector<std::string>& warnings) {
    WeightTable t;
    size_t pos = 0;
    int line_no = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string_view::npos) end = content.size();
        std::string_view line = content.substr(pos, end - pos);
        pos = end + 1;
        ++line_no;
        if (auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        auto f = text::fields(line, true);
        if (f.empty()) continue;
        auto skip = [&](std::string_view why) {
            warnings.push_back(fmt::format("weight file line {}: {}; line ignored", line_no, why));
        };
        if (f.size() != 3) {
            skip("expected 'class class weight'");
            continue;
        }
        auto a = text::to_double(f[0]), b = text::to_double(f[1]), w = text::to_double(f[2]);
        if (!a || !b || !w) {
            skip("not a number");
            continue;
        }
        if (*w < 0 || *w > 1) {
            skip(fmt::format("weight {} is outside 0..1", *w));
            continue;
        }
        const bool a_bg = static_cast<float>(*a) == static_cast<float>(background);
        const bool b_bg = static_cast<float>(*b) == static_cast<float>(background);
        if (a_bg || b_bg) {
            if (a_bg && b_bg) {
                skip("background paired with itself");
                continue;
            }
            // The weight of a class's sides facing the outside or the background.
            const double cls = a_bg ? *b : *a;
            if (cls != std::floor(cls) || std::fabs(cls) > INT32_MAX) {
                skip("class codes must be whole numbers");
                continue;
            }
            const auto ic = static_cast<int64_t>(cls);
            if (t.background.count(ic))
                warnings.push_back(fmt::format("weight file line {}: background pair of class {} given again; "
                                               "the last one counts", line_no, ic));
            t.background[ic] = *w;
            continue;
        }
        if (*a != std::floor(*a) || *b != std::floor(*b) || std::fabs(*a) > INT32_MAX || std::fabs(*b) > INT32_MAX) {
            skip("class codes must be whole numbers");
            continue;
        }
        auto ia = static_cast<int64_t>(*a), ib = static_cast<int64_t>(*b);
        auto key = std::make_pair(std::min(ia, ib), std::max(ia, ib));
        if (t.pairs.count(key))
            warnings.push_back(fmt::format("weight file line {}: pair {} {} given again; the last one counts",
                                           line_no, key.first, key.second));
        t.pairs[key] = *w;
    }
    return t;
}

}  // namespace korvane::fragstat
