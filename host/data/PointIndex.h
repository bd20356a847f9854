#pragma once
// A spatial index over points for "every point within distance r" queries:
// a hash grid whose cell size is the search distance, so that a query looks
// at the few cells around its point only.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "host/data/Geometry.h"

namespace korvane::host {

class PointIndex {
public:
    // cellSize: the distance the queries will mostly use; 0 or less (or not
    // finite) picks a size from the points' extent and number.
    PointIndex(std::vector<Point> points, double cellSize);

    size_t size() const { return points_.size(); }
    const Point& point(size_t i) const { return points_[i]; }

    // Appends to out, in ascending index order, the index of every point q
    // with sqrt((p.y - q.y)^2 + (p.x - q.x)^2) <= r, computed exactly so, so
    // that the answer equals a comparison with every point. A negative or
    // NaN r finds nothing.
    void within(const Point& p, double r, std::vector<int32_t>& out) const;

private:
    int64_t cellOf(double v, double origin) const;
    static uint64_t key(int64_t cx, int64_t cy) {
        return (static_cast<uint64_t>(cx) << 32) ^ static_cast<uint64_t>(cy & 0xFFFFFFFF);
    }

    std::vector<Point> points_;
    double cell_ = 1;
    double x0_ = 0, y0_ = 0;
    // Cell -> range in order_ (indexes ascending within a cell).
    std::unordered_map<uint64_t, std::pair<int32_t, int32_t>> cells_;
    std::vector<int32_t> order_;
};

}  // namespace korvane::host
