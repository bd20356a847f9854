#include "hex/Tessellation.h"

#include <cmath>

namespace hex {

namespace {
const double kSqrt3 = std::sqrt(3.0);
// The area of a regular hexagon of side 1.
const double kUnitArea = 1.5 * kSqrt3;
}  // namespace

HexGrid::HexGrid(const Extent& extent, double area, double offset) : extent_(extent) {
    side_ = std::sqrt(area / kUnitArea);
    halfSide_ = side_ / 2;
    halfHeight_ = side_ * kSqrt3 / 2;
    double f = offset - std::floor(offset);
    originX_ = extent.xmin - f * 3 * side_;
    originY_ = extent.ymin - f * kSqrt3 * side_;
}

Ring HexGrid::ring(int64_t c, int64_t r) const {
    const int64_t k = 3 * c, m = 2 * r + (c & 1);
    // Left corner, then clockwise.
    return {corner(k - 2, m), corner(k - 1, m + 1), corner(k + 1, m + 1), corner(k + 2, m),
            corner(k + 1, m - 1), corner(k - 1, m - 1), corner(k - 2, m)};
}

std::pair<int64_t, int64_t> HexGrid::columns() const {
    auto overlaps = [&](int64_t c) {
        return corner(3 * c + 2, 0).x > extent_.xmin && corner(3 * c - 2, 0).x < extent_.xmax;
    };
    const double u0 = (extent_.xmin - originX_) / halfSide_, u1 = (extent_.xmax - originX_) / halfSide_;
    auto c0 = static_cast<int64_t>(std::floor((u0 - 2) / 3)) - 1;
    auto c1 = static_cast<int64_t>(std::ceil((u1 + 2) / 3)) + 1;
    while (c0 <= c1 && !overlaps(c0)) ++c0;
    while (c1 >= c0 && !overlaps(c1)) --c1;
    return {c0, c1};
}

std::pair<int64_t, int64_t> HexGrid::rows(int64_t c) const {
    const int64_t p = c & 1;
    auto overlaps = [&](int64_t r) {
        return corner(0, 2 * r + p + 1).y > extent_.ymin && corner(0, 2 * r + p - 1).y < extent_.ymax;
    };
    const double v0 = (extent_.ymin - originY_) / halfHeight_, v1 = (extent_.ymax - originY_) / halfHeight_;
    auto r0 = static_cast<int64_t>(std::floor((v0 - 1 - p) / 2)) - 1;
    auto r1 = static_cast<int64_t>(std::ceil((v1 + 1 - p) / 2)) + 1;
    while (r0 <= r1 && !overlaps(r0)) ++r0;
    while (r1 >= r0 && !overlaps(r1)) --r1;
    // At the extent's corners a hexagon's box may reach into the extent
    // while the hexagon itself does not; such hexagons lie at the ends of
    // their column.
    while (r0 <= r1 && !reaches(c, r0)) ++r0;
    while (r1 >= r0 && !reaches(c, r1)) --r1;
    return {r0, r1};
}

bool HexGrid::reaches(int64_t c, int64_t r) const {
    // Separating edges: the box lies wholly on the outer side of one of the
    // hexagon's edges (on the left of a clockwise edge), touching at most.
    const Ring ring = this->ring(c, r);
    const Point box[] = {{extent_.xmin, extent_.ymin},
                         {extent_.xmin, extent_.ymax},
                         {extent_.xmax, extent_.ymax},
                         {extent_.xmax, extent_.ymin}};
    for (int i = 0; i < 6; ++i) {
        const Point a = ring[i], b = ring[i + 1];
        bool outside = true;
        for (const Point& p : box)
            outside = outside && (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x) >= 0;
        if (outside) return false;
    }
    return true;
}

double HexGrid::estimate() const {
    return (extent_.width() / (3 * halfSide_) + 3) * (extent_.height() / (2 * halfHeight_) + 3);
}

int64_t HexGrid::count(int64_t limit) const {
    int64_t n = 0;
    auto [c0, c1] = columns();
    for (int64_t c = c0; c <= c1 && n <= limit; ++c) {
        auto [r0, r1] = rows(c);
        if (r1 >= r0) n += r1 - r0 + 1;
    }
    return n;
}

Code checkTessellation(const Extent& extent, double area, double offset) {
    if (!(area > 0) || !std::isfinite(area)) return Code::TooMany;
    const double box = extent.width() * extent.height();
    if (!(box > 0) || area > box) return Code::LargerThanExtent;
    HexGrid grid(extent, area, offset);
    // Counting column by column is cheap once the rough bound is near the
    // limit; far beyond it the answer is plain without counting.
    if (!(grid.estimate() <= 4.0 * kMaxHexagons)) return Code::TooMany;
    return grid.count(kMaxHexagons) > kMaxHexagons ? Code::TooMany : Code::Success;
}

}  // namespace hex
