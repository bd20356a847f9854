#include "vector/Modules/modNeighbourhoodMean.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/Failure.h"
#include "host/data/PointIndex.h"
#include "vector/Modules/modDerivedFields.h"

namespace kv {

namespace h = korvane::host;

NeighbourhoodSource ReadNeighbourhoodSource(h::FeatureClass& fc, int32_t sourceField) {
    NeighbourhoodSource s;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    h::Cursor c = fc.search(nullptr, true);
    while (h::RowPtr r = c.next()) {
        s.ids.push_back(r->oid());
        const h::Geometry& g = r->shape();
        s.centroids.push_back(g.isEmpty() ? h::Point{nan, nan} : g.centroid());
        const h::Value& v = r->value(sourceField);
        s.values.push_back(h::isNull(v) ? std::nullopt : std::optional<double>(h::toDouble(v)));
    }
    return s;
}

std::vector<std::optional<double>> NeighbourhoodMeans(const NeighbourhoodSource& source,
                                                      const std::vector<int32_t>& targets, double threshold,
                                                      const std::function<void(int64_t)>& progress) {
    // Only features with a value can be neighbours.
    std::vector<h::Point> pts;
    std::vector<double> vals;
    for (size_t i = 0; i < source.ids.size(); ++i) {
        if (!source.values[i]) continue;
        pts.push_back(source.centroids[i]);
        vals.push_back(*source.values[i]);
    }
    h::PointIndex index(std::move(pts), threshold);
    std::vector<std::optional<double>> out;
    out.reserve(targets.size());
    std::vector<int32_t> near;
    for (int32_t t : targets) {
        if (progress && out.size() % 512 == 0) progress(static_cast<int64_t>(out.size()));
        const h::Point& c = source.centroids[static_cast<size_t>(t)];
        near.clear();
        index.within(c, threshold, near);
        if (near.empty()) {
            out.emplace_back();
            continue;
        }
        double sum = 0;
        for (int32_t j : near) sum += vals[static_cast<size_t>(j)];
        out.emplace_back(sum / static_cast<double>(near.size()));
    }
    return out;
}

void RunNeighbourhoodMean(h::FeatureClass& fc, const h::SelectionSet* selection, int32_t sourceField,
                          int32_t targetField, double threshold, const std::function<void(int64_t)>& progress) {
    NeighbourhoodSource source = ReadNeighbourhoodSource(fc, sourceField);
    std::vector<int32_t> targets;
    if (selection && !selection->empty()) {
        for (int64_t id : selection->ids()) {
            auto it = std::lower_bound(source.ids.begin(), source.ids.end(), id);
            if (it != source.ids.end() && *it == id) targets.push_back(static_cast<int32_t>(it - source.ids.begin()));
        }
    } else {
        for (size_t i = 0; i < source.ids.size(); ++i) targets.push_back(static_cast<int32_t>(i));
    }
    std::vector<std::optional<double>> means = NeighbourhoodMeans(source, targets, threshold, progress);
    const h::FieldDef& tf = fc.fields().field(targetField);
    std::vector<h::Value> values;
    values.reserve(means.size());
    for (size_t i = 0; i < means.size(); ++i) {
        try {
            values.push_back(h::valueForField(tf, means[i] ? h::Value(*means[i]) : h::Value{}));
        } catch (const h::Failure& f) {
            refuseRun("The mean of feature " + std::to_string(source.ids[static_cast<size_t>(targets[i])]) +
                        " cannot be stored: " + f.description());
        }
    }
    std::vector<int64_t> ids;
    for (int32_t t : targets) ids.push_back(source.ids[static_cast<size_t>(t)]);
    WriteRowsById(fc, ids, [&](h::Row& r, size_t i) { r.setValue(targetField, values[i]); });
}

}  // namespace kv
