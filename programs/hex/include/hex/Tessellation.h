#pragma once
// A tessellation of the plane by equal regular hexagons, laid over a
// rectangle (the extent of the input).
//
// The hexagons are flat-topped: with side s, a hexagon is 2s wide (corner to
// corner) and sqrt(3)s high (edge to edge); columns are 1.5s apart, and every
// odd column is moved up by half a hexagon's height. Every corner of every
// hexagon lies on the lattice
//     x = originX + k * s/2,   y = originY + m * sqrt(3)s/2   (k, m whole numbers)
// and is computed from its (k, m) alone, so a corner shared by neighbours has
// the same coordinates, bit for bit, in each of them: the hexagons meet
// edge to edge with neither gaps nor overlaps.
//
// Offset: the grid is moved from the extent's lower-left corner by the
// fraction `offset` of one repeat of the pattern, which is 3s in x (two
// columns) and sqrt(3)s in y (one row); the hexagon centred at (originX,
// originY) then lies at (xmin - offset*3s, ymin - offset*sqrt(3)s). Only the
// fractional part counts: 0 and 1 give the same grid, -0.25 the same as 0.75.
#include <array>
#include <cstdint>
#include <utility>

namespace hex {

struct Point {
    double x, y;
};

struct Extent {
    double xmin, ymin, xmax, ymax;
    double width() const { return xmax - xmin; }
    double height() const { return ymax - ymin; }
};

// The result code: the first character of the log.
enum class Code : char {
    InputNotOpened = '0',
    LargerThanExtent = '1',
    ShpNotOpened = '2',
    DbfNotOpened = '3',
    ShxNotOpened = '4',
    TooMany = '5',
    OutOfMemory = '6',
    Success = '7',
    BadArguments = '8',   // the command line itself is unusable
};

inline constexpr int64_t kMaxHexagons = 10'000'000;

// A closed ring, clockwise (the first corner repeated at the end).
using Ring = std::array<Point, 7>;

class HexGrid {
public:
    // area: of one hexagon, in map units squared (> 0, finite).
    HexGrid(const Extent& extent, double area, double offset);

    double side() const { return side_; }
    Point corner(int64_t k, int64_t m) const { return {originX_ + k * halfSide_, originY_ + m * halfHeight_}; }
    // The hexagon of column c and row r.
    Ring ring(int64_t c, int64_t r) const;

    // The columns, and each column's rows, whose hexagons overlap the extent
    // (touching its edge alone is not overlapping).
    std::pair<int64_t, int64_t> columns() const;
    std::pair<int64_t, int64_t> rows(int64_t column) const;

    // Whether the hexagon itself (not only its box) overlaps the extent;
    // the box test is assumed passed.
    bool reaches(int64_t column, int64_t row) const;

    // A rough upper bound of the number of hexagons, safe to compute for any
    // size of hexagon.
    double estimate() const;
    // The number of hexagons, counted up to limit + 1.
    int64_t count(int64_t limit) const;

    // Calls f(column, row) for every hexagon, column by column, bottom up.
    template <class F>
    void forEach(F&& f) const {
        auto [c0, c1] = columns();
        for (int64_t c = c0; c <= c1; ++c) {
            auto [r0, r1] = rows(c);
            for (int64_t r = r0; r <= r1; ++r) f(c, r);
        }
    }

private:
    Extent extent_;
    double side_, halfSide_, halfHeight_, originX_, originY_;
};

// Whether hexagons of this area (map units squared) can cover the extent:
// Success, LargerThanExtent (the hexagon is larger than the extent's box, or
// the box has no area), TooMany (more than kMaxHexagons, or an area that is
// not a positive number).
Code checkTessellation(const Extent& extent, double area, double offset);

}  // namespace hex
