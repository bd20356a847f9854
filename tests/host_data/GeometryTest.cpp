// Geometry measures and operations, checked against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/Failure.h"
#include "host/data/Geometry.h"

using namespace korvane::host;

namespace {

Geometry rect(double x0, double y0, double x1, double y1) {
    return Geometry::polygon({{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}});
}

TEST(Geometry, UnitSquare) {
    Geometry sq = rect(0, 0, 1, 1);
    EXPECT_EQ(sq.type(), ShapeType::Polygon);
    EXPECT_DOUBLE_EQ(sq.area(), 1.0);
    EXPECT_DOUBLE_EQ(sq.length(), 4.0);
    EXPECT_EQ(sq.centroid(), (Point{0.5, 0.5}));
    EXPECT_TRUE(sq.isValid());
    // Far from the origin, in either ring orientation.
    Geometry far = Geometry::polygon({{{500000, 4000000}, {500000, 4000001}, {500001, 4000001}, {500001, 4000000}}});
    EXPECT_DOUBLE_EQ(far.area(), 1.0);
    EXPECT_DOUBLE_EQ(far.length(), 4.0);
}

TEST(Geometry, PolygonWithAHole) {
    // 10 x 10 with a 2 x 3 hole: area 100 - 6, boundary 40 + 10.
    Geometry g = Geometry::polygon({{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {{2, 2}, {2, 5}, {4, 5}, {4, 2}}});
    EXPECT_DOUBLE_EQ(g.area(), 94.0);
    EXPECT_DOUBLE_EQ(g.length(), 50.0);
    ASSERT_EQ(g.exteriorRings().size(), 1u);
    ASSERT_EQ(g.interiorRings().size(), 1u);
    EXPECT_DOUBLE_EQ(g.exteriorRings()[0].length(), 40.0);
    EXPECT_EQ(g.interiorRings()[0].type(), ShapeType::Polyline);
    EXPECT_DOUBLE_EQ(g.interiorRings()[0].length(), 10.0);
    EXPECT_EQ(g.interiorRings()[0].points().size(), 5u);  // closed
    // Centroid: (100*(5,5) - 6*(3,3.5)) / 94.
    Point c = g.centroid();
    EXPECT_NEAR(c.x, (500.0 - 18.0) / 94.0, 1e-12);
    EXPECT_NEAR(c.y, (500.0 - 21.0) / 94.0, 1e-12);
    Envelope e = g.envelope();
    EXPECT_EQ(e.width(), 10);
    EXPECT_EQ(e.height(), 10);
}

TEST(Geometry, MultiPartsAndOtherTypes) {
    Geometry two = Geometry::fromWkt("MULTIPOLYGON(((0 0,2 0,2 2,0 2,0 0)),((5 5,6 5,6 6,5 6,5 5)))");
    EXPECT_DOUBLE_EQ(two.area(), 5.0);
    EXPECT_DOUBLE_EQ(two.length(), 12.0);
    EXPECT_EQ(two.exteriorRings().size(), 2u);
    Geometry line = Geometry::polyline({{0, 0}, {3, 4}, {3, 10}});
    EXPECT_EQ(line.type(), ShapeType::Polyline);
    EXPECT_DOUBLE_EQ(line.length(), 11.0);
    EXPECT_DOUBLE_EQ(line.area(), 0.0);
    Geometry pt = Geometry::point(2, 3);
    EXPECT_EQ(pt.type(), ShapeType::Point);
    EXPECT_EQ(pt.length(), 0.0);
    EXPECT_EQ(Geometry::fromWkt("MULTIPOINT((0 0),(1 1))").type(), ShapeType::Multipoint);
    Geometry empty;
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.type(), ShapeType::Null);
    EXPECT_EQ(empty.area(), 0.0);
    EXPECT_THROW(empty.centroid(), Failure);
    EXPECT_TRUE(Geometry::fromWkt("POLYGON EMPTY").isEmpty());
}

TEST(Geometry, Buffers) {
    Geometry sq = rect(0, 0, 10, 10);
    // Inward by 1: an 8 x 8 square.
    Geometry in = sq.buffer(-1);
    EXPECT_NEAR(in.area(), 64.0, 1e-9);
    EXPECT_NEAR(in.length(), 32.0, 1e-9);
    // Inward by more than half the width: nothing is left.
    EXPECT_TRUE(sq.buffer(-6).isEmpty());
    EXPECT_EQ(sq.buffer(-6).area(), 0.0);
    // Outward by 1: 100 + 4*10 + pi, less the chords of the rounded corners.
    Geometry out = sq.buffer(1, 32);
    EXPECT_NEAR(out.area(), 140.0 + M_PI, 0.01);
    EXPECT_NEAR(out.length(), 40.0 + 2 * M_PI, 0.01);
    // A frame keeps its hole through the conversions. Shrunk by 0.5 the
    // outside stays square (9 x 9) while the hole grows with rounded corners:
    // 6 x 6 + 4 * 6 * 0.5 + pi * 0.5^2.
    Geometry frame = sq.difference(rect(2, 2, 8, 8));
    EXPECT_DOUBLE_EQ(frame.area(), 64.0);
    EXPECT_EQ(frame.interiorRings().size(), 1u);
    EXPECT_NEAR(frame.buffer(-0.5, 32).area(), 81.0 - (36.0 + 12.0 + M_PI / 4), 0.001);
}

TEST(Geometry, ValidityAndRepair) {
    // A bow tie crossing itself at (0.5, 0.5).
    Geometry bow = Geometry::polygon({{{0, 0}, {1, 1}, {1, 0}, {0, 1}}});
    EXPECT_FALSE(bow.isValid());
    EXPECT_NE(bow.validityReason(), "Valid Geometry");
    Geometry fixed = bow.makeValid();
    EXPECT_TRUE(fixed.isValid());
    EXPECT_NEAR(fixed.area(), 0.5, 1e-12);
    EXPECT_EQ(fixed.type(), ShapeType::Polygon);
}

// The validity answer agrees with the full topology test (validityReason)
// for rings that are plainly simple and for every way a small ring can fail:
// crossings, a vertex touching an edge, spikes, repeated and collinear
// vertices, and rings of random vertices on a small lattice, where such
// coincidences are common.
TEST(Geometry, ValidityAgreesWithTheTopologyTest) {
    struct Case {
        const char* what;
        std::vector<Point> ring;
        bool valid;
    };
    const Case cases[] = {
        {"square", {{0, 0}, {0, 1}, {1, 1}, {1, 0}}, true},
        {"triangle", {{0, 0}, {2, 0}, {1, 3}}, true},
        {"concave", {{0, 0}, {4, 0}, {4, 4}, {2, 1}, {0, 4}}, true},
        {"thin sliver", {{0, 0}, {1e6, 1e-6}, {2e6, 0}}, true},
        {"vertex on an edge", {{0, 0}, {2, 0}, {2, 2}, {1, 0}, {0, 2}}, false},
        {"spike", {{0, 0}, {2, 0}, {3, 0}, {2, 0}, {2, 2}, {0, 2}}, false},
        {"crossing", {{0, 0}, {2, 2}, {2, 0}, {0, 2}}, false},
        {"straight vertex", {{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}}, true},
        {"repeated vertex", {{0, 0}, {2, 0}, {2, 0}, {2, 2}, {0, 2}}, true},
        {"flat", {{0, 0}, {1, 0}, {2, 0}}, false},
    };
    for (const Case& c : cases) {
        Geometry g = Geometry::polygon({c.ring});
        EXPECT_EQ(g.isValid(), c.valid) << c.what;
        EXPECT_EQ(g.isValid(), g.validityReason() == "Valid Geometry") << c.what;
    }
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % 5;
    };
    for (int i = 0; i < 3000; ++i) {
        std::vector<Point> ring(3 + i % 5);
        for (Point& p : ring) p = {static_cast<double>(next()), static_cast<double>(next())};
        Geometry g = Geometry::polygon({ring});
        EXPECT_EQ(g.isValid(), g.validityReason() == "Valid Geometry") << g.toWkt();
    }
}

TEST(Geometry, UnionAndIntersection) {
    Geometry a = rect(0, 0, 2, 2);
    Geometry b = rect(1, 1, 3, 3);
    EXPECT_DOUBLE_EQ(a.unionWith(b).area(), 7.0);
    EXPECT_DOUBLE_EQ(a.unionWith(b).length(), 12.0);
    EXPECT_DOUBLE_EQ(a.intersection(b).area(), 1.0);
    EXPECT_TRUE(a.intersection(rect(5, 5, 6, 6)).isEmpty());
    EXPECT_DOUBLE_EQ(a.unionWith(Geometry()).area(), 4.0);
}

TEST(Geometry, CopiesAndWkb) {
    Geometry a = rect(0, 0, 2, 3);
    Geometry b = a;
    EXPECT_EQ(b.wkb(), a.wkb());
    Geometry c = Geometry::fromWkb(a.wkb().data(), a.wkb().size());
    EXPECT_DOUBLE_EQ(c.area(), 6.0);
    EXPECT_EQ(Geometry::fromWkt(a.toWkt()).wkb(), a.wkb());
    // Malformed input fails instead of being read past its end.
    std::vector<uint8_t> cut(a.wkb().begin(), a.wkb().begin() + 20);
    EXPECT_THROW(Geometry::fromWkb(cut.data(), cut.size()), Failure);
    std::vector<uint8_t> junk = {1, 99, 0, 0, 0};
    EXPECT_THROW(Geometry::fromWkb(junk.data(), junk.size()), Failure);
    EXPECT_THROW(Geometry::fromWkt("POLYGON((0 0, 1"), Failure);
    EXPECT_THROW(Geometry::polygon({{{0, 0}, {1, 1}}}), Failure);
}

}  // namespace
