#pragma once
// Neighbourhood means: for each target polygon, the mean of a field over
// every polygon whose centroid lies within a distance of its own centroid,
// itself included.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/data/Geometry.h"
#include "host/data/SelectionSet.h"
#include "host/data/Table.h"

namespace kv {

// What the mean reads of a layer, once, before anything is written: every
// feature in object-id order with its centroid (nothing for an empty shape)
// and its source value (nothing for null).
struct NeighbourhoodSource {
    std::vector<int64_t> ids;
    std::vector<korvane::host::Point> centroids;  // NaN for no centroid
    std::vector<std::optional<double>> values;
};
NeighbourhoodSource ReadNeighbourhoodSource(korvane::host::FeatureClass& fc, int32_t sourceField);

// The means for the targets (indexes into source.ids). A neighbour is a
// feature with a centroid and a value whose distance
// sqrt((y - y')^2 + (x - x')^2) is at most the threshold; neighbours are
// summed in object-id order, so that the result is the one a comparison with
// every feature gives, bit for bit. No neighbour: nothing (null).
std::vector<std::optional<double>> NeighbourhoodMeans(const NeighbourhoodSource& source,
                                                      const std::vector<int32_t>& targets, double threshold,
                                                      const std::function<void(int64_t)>& progress = {});

// The whole run on a feature class: the targets are the selection's
// features (every feature when it holds none). Every mean is computed and
// checked against the target field before the first is written; then each
// target is stored once. Fails (host::Failure) before writing when a mean
// does not fit the target field. progress, when given, hears how many
// targets have their mean, every few hundred.
void RunNeighbourhoodMean(korvane::host::FeatureClass& fc, const korvane::host::SelectionSet* selection,
                          int32_t sourceField, int32_t targetField, double threshold,
                          const std::function<void(int64_t)>& progress = {});

}  // namespace kv
