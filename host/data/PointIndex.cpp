#include "host/data/PointIndex.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/Failure.h"

namespace korvane::host {

namespace {
// Cells are numbered within +-2^30 per axis; beyond that, a coarser grid.
constexpr double kMaxCells = 1073741824.0;
}  // namespace

PointIndex::PointIndex(std::vector<Point> points, double cellSize) : points_(std::move(points)) {
    if (points_.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        fail(err::HostInvalidArg, "PointIndex", "Too many points for one index.");
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    bool first = true;
    for (const Point& p : points_) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
        if (first) {
            xmin = xmax = p.x;
            ymin = ymax = p.y;
            first = false;
        }
        xmin = std::min(xmin, p.x);
        xmax = std::max(xmax, p.x);
        ymin = std::min(ymin, p.y);
        ymax = std::max(ymax, p.y);
    }
    x0_ = xmin;
    y0_ = ymin;
    double span = std::max(xmax - xmin, ymax - ymin);
    if (!(cellSize > 0) || !std::isfinite(cellSize)) {
        double n = std::max<double>(1, static_cast<double>(points_.size()));
        cellSize = span > 0 ? span / std::sqrt(n) : 1;
    }
    cell_ = std::max(cellSize, span / kMaxCells);
    if (!(cell_ > 0)) cell_ = 1;

    // Points sorted by cell, then by index: each cell is one run of order_.
    std::vector<std::pair<uint64_t, int32_t>> keyed;
    keyed.reserve(points_.size());
    for (size_t i = 0; i < points_.size(); ++i) {
        const Point& p = points_[i];
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
        keyed.emplace_back(key(cellOf(p.x, x0_), cellOf(p.y, y0_)), static_cast<int32_t>(i));
    }
    std::sort(keyed.begin(), keyed.end());
    order_.reserve(keyed.size());
    cells_.reserve(keyed.size());
    for (size_t i = 0; i < keyed.size();) {
        size_t j = i;
        while (j < keyed.size() && keyed[j].first == keyed[i].first) order_.push_back(keyed[j++].second);
        cells_.emplace(keyed[i].first, std::make_pair(static_cast<int32_t>(i), static_cast<int32_t>(j)));
        i = j;
    }
}

int64_t PointIndex::cellOf(double v, double origin) const {
    double c = std::floor((v - origin) / cell_);
    return static_cast<int64_t>(std::clamp(c, -kMaxCells * 2, kMaxCells * 2));
}

void PointIndex::within(const Point& p, double r, std::vector<int32_t>& out) const {
    if (!(r >= 0) || !std::isfinite(p.x) || !std::isfinite(p.y)) return;
    // The cells are widened by a hair beyond r, so that rounding in the cell
    // numbers never leaves out a point at exactly r; the test below is exact.
    double margin = 1e-9 * (r + std::fabs(p.x) + std::fabs(p.y) + std::fabs(x0_) + std::fabs(y0_)) + 1e-300;
    double reach = std::isfinite(r) ? r + margin : std::numeric_limits<double>::max();
    int64_t cx0 = cellOf(p.x - reach, x0_), cx1 = cellOf(p.x + reach, x0_);
    int64_t cy0 = cellOf(p.y - reach, y0_), cy1 = cellOf(p.y + reach, y0_);
    size_t start = out.size();
    auto test = [&](int32_t i) {
        const Point& q = points_[static_cast<size_t>(i)];
        double dy = p.y - q.y, dx = p.x - q.x;
        if (std::sqrt(dy * dy + dx * dx) <= r) out.push_back(i);
    };
    double cells = static_cast<double>(cx1 - cx0 + 1) * static_cast<double>(cy1 - cy0 + 1);
    if (cells >= static_cast<double>(cells_.size())) {
        // The reach covers more cells than are filled: look at the filled ones.
        for (const auto& [k, range] : cells_)
            for (int32_t j = range.first; j < range.second; ++j) test(order_[static_cast<size_t>(j)]);
    } else {
        for (int64_t cx = cx0; cx <= cx1; ++cx)
            for (int64_t cy = cy0; cy <= cy1; ++cy) {
                auto it = cells_.find(key(cx, cy));
                if (it == cells_.end()) continue;
                for (int32_t j = it->second.first; j < it->second.second; ++j) test(order_[static_cast<size_t>(j)]);
            }
    }
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(start), out.end());
}

}  // namespace korvane::host
