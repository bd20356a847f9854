// Region grouping, zonal geometry, combine and remap on small hand grids.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "RasterFixtures.h"
#include "RasterOpsSupport.h"
#include "TestFiles.h"
#include "host/Failure.h"
#include "host/data/RasterOperators.h"

namespace h = korvane::host;
using korvane::test::cellsOf;
using korvane::test::GridSpec;
using korvane::test::N;
using korvane::test::TempFolder;
using korvane::test::tableRows;
using korvane::test::writeGrid;

namespace {

constexpr double X = -9;  // NoData of the hand grids

h::RasterDatasetPtr grid(TempFolder& tmp, const std::string& name, int columns, int rows, std::vector<double> cells,
                         double originX = 0, double cell = 10, double originY = -1) {
    GridSpec g;
    g.columns = columns;
    g.rows = rows;
    g.originX = originX;
    g.originY = originY < 0 ? rows * 10 : originY;
    g.cellX = g.cellY = cell;
    g.noData = X;
    g.cells = std::move(cells);
    return h::RasterDataset::open(writeGrid(tmp.file(name), g));
}

std::vector<std::string> geometryRows(const h::ZonalGeometryTable& t) {
    std::vector<std::string> out;
    for (const auto& z : t.rows()) out.push_back(fmt::format("{} {} {}", z.value, z.area, z.perimeter));
    return out;
}

// Two classes that touch at corners, NoData among them.
const std::vector<double> kCorners = {1, 1, 2, 2,  //
                                      1, 2, 1, 2,  //
                                      3, 3, 1, X,  //
                                      3, X, 1, 1};

}  // namespace

TEST(RegionGroup, FourAndEightNeighboursNumberRegionsByTheirFirstCell) {
    struct Case {
        bool eight;
        std::vector<int32_t> ids;
        std::vector<std::string> table;
        std::vector<std::string> geometry;
    } cases[] = {
        {false,
         {1, 1, 2, 2, 1, 3, 4, 2, 5, 5, 4, N, 5, N, 4, 4},
         {"1 3 1", "2 3 2", "3 1 2", "4 4 1", "5 3 3"},
         {"1 300 80", "2 300 80", "3 100 40", "4 400 100", "5 300 80"}},
        {true,
         {1, 1, 2, 2, 1, 2, 1, 2, 3, 3, 1, N, 3, N, 1, 1},
         {"1 7 1", "2 4 2", "3 3 3"},
         {"1 700 180", "2 400 120", "3 300 80"}},
    };
    for (const Case& c : cases) {
        TempFolder tmp;
        auto in = grid(tmp, "in.tif", 4, 4, kCorners);
        h::RegionGroupOptions o;
        o.eightNeighbours = c.eight;
        h::RasterAnalysisEnvironment env;
        auto patches = h::regionGroup(in, o, env);
        EXPECT_EQ(cellsOf(*patches), c.ids) << c.eight;
        EXPECT_EQ(tableRows(*patches), c.table) << c.eight;
        h::ZonalGeometryTable geometry = h::zonalGeometry(*patches);
        EXPECT_EQ(geometryRows(geometry), c.geometry) << c.eight;
        ASSERT_NE(geometry.find(3), nullptr);
        EXPECT_EQ(geometry.find(3)->value, 3);
        EXPECT_EQ(geometry.find(99), nullptr);
        EXPECT_EQ(patches->spatialReference()->wkt, in->spatialReference()->wkt);
    }
}

// Grouping the codes of the values, with the table handed back and the
// geometry measured while the ids are written, gives what a remap, a
// grouping and the zonal geometry of its result give (values left out of
// the codes become NoData), with no table beside the result.
TEST(RegionGroup, CodesTableAndGeometryInOnePassAgreeWithTheSteps) {
    TempFolder tmp;
    auto in = grid(tmp, "in.tif", 4, 4, kCorners);
    const std::unordered_map<int64_t, int32_t> codes = {{1, 7}, {2, 7}};
    h::RasterAnalysisEnvironment env;
    auto steps = h::regionGroup(h::remap(in, codes, env), {}, env);

    h::RegionGroupOptions o;
    o.codes = &codes;
    h::RasterTableRows table;
    h::ZonalGeometryTable geometry;
    o.table = &table;
    o.geometry = &geometry;
    auto onePass = h::regionGroup(in, o, env);
    EXPECT_EQ(cellsOf(*onePass), cellsOf(*steps));
    EXPECT_EQ(geometryRows(geometry), geometryRows(h::zonalGeometry(*steps)));
    std::vector<std::string> rows;
    for (const auto& r : table.rows) rows.push_back(fmt::format("{} {} {}", h::toText(r[0]), h::toText(r[1]), h::toText(r[2])));
    EXPECT_EQ(rows, tableRows(*steps));
    EXPECT_EQ(onePass->attributeTable(), nullptr);
}

TEST(ZonalGeometry, HolesNoDataAndTheOutsideAreEdges) {
    struct Case {
        const char* what;
        std::vector<double> cells;
        std::vector<std::string> geometry;
    } cases[] = {
        {"a zone in a hole", {1, 1, 1, 1, 2, 1, 1, 1, 1}, {"1 800 160", "2 100 40"}},
        {"a NoData hole", {1, 1, 1, 1, X, 1, 1, 1, 1}, {"1 800 160"}},
        {"touching zones", {1, 1, 2, 1, 1, 2, 3, 3, 3}, {"1 400 80", "2 200 60", "3 300 80"}},
        {"zones of any value", {-5, 70000, 70000, -5, -5, X, 2000000000, 2000000000, X},
         {"-5 300 80", "70000 200 60", "2000000000 200 60"}},
    };
    for (const Case& c : cases) {
        TempFolder tmp;
        EXPECT_EQ(geometryRows(h::zonalGeometry(*grid(tmp, "z.tif", 3, 3, c.cells))), c.geometry) << c.what;
    }
}

TEST(RegionGroup, OutsideZonesEveryCellWithDataIsOneValue) {
    TempFolder tmp;
    h::RegionGroupOptions o;
    o.withinZones = false;
    o.eightNeighbours = false;
    h::RasterAnalysisEnvironment env;
    auto patches = h::regionGroup(grid(tmp, "in.tif", 4, 4, kCorners), o, env);
    EXPECT_EQ(cellsOf(*patches), (std::vector<int32_t>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, N, 1, N, 1, 1}));
}

TEST(Combine, TuplesNumberedByFirstCellOverTheCommonExtent) {
    TempFolder tmp;
    auto a = grid(tmp, "landscape_one.tif", 3, 2, {1, 1, 2, 1, X, 2});
    // Starts one cell east of a, and reaches a row further south.
    auto b = grid(tmp, "landscape_two.tif", 3, 3, {5, 5, 7, 6, 5, 7, 9, 9, 9}, 10, 10, 20);
    h::RasterAnalysisEnvironment env;
    auto c = h::combine({a, b}, env);
    EXPECT_EQ(c->extent().xmin, 10);
    EXPECT_EQ(c->width(), 2);
    EXPECT_EQ(c->height(), 2);
    EXPECT_EQ(cellsOf(*c), (std::vector<int32_t>{1, 2, N, 2}));
    EXPECT_EQ(tableRows(*c), (std::vector<std::string>{"1 1 1 5", "2 2 2 5"}));
    auto fields = c->attributeTable()->fields().names();
    EXPECT_EQ(std::vector<std::string>(fields.begin() + 1, fields.end()),
              (std::vector<std::string>{"VALUE", "COUNT", "landscape_", "landscape1"}));
}

TEST(Combine, GridsThatDoNotLineUpAreRefused) {
    TempFolder tmp;
    auto a = grid(tmp, "a.tif", 3, 2, {1, 1, 2, 1, 1, 2});
    struct Case {
        const char* what;
        h::RasterDatasetPtr other;
    } cases[] = {
        {"half a cell east", grid(tmp, "b.tif", 3, 2, {1, 1, 1, 1, 1, 1}, 5)},
        {"other cell size", grid(tmp, "c.tif", 3, 2, {1, 1, 1, 1, 1, 1}, 0, 5)},
        {"no overlap", grid(tmp, "d.tif", 3, 2, {1, 1, 1, 1, 1, 1}, 100)},
    };
    h::RasterAnalysisEnvironment env;
    for (const Case& c : cases) {
        EXPECT_THROW(h::combine({a, c.other}, env), h::Failure) << c.what;
        EXPECT_EQ(h::alignmentProblem({a, c.other}).empty(), std::string(c.what) == "no overlap") << c.what;
    }
    EXPECT_THROW(h::combine({a}, env), h::Failure);
}

TEST(Remap, ValuesLeftOutOfTheRemapBecomeNoData) {
    TempFolder tmp;
    h::RasterAnalysisEnvironment env;
    auto r = h::remap(grid(tmp, "g.tif", 3, 2, {1, 2, 3, X, 2, 1}), {{1, 0}, {2, 10}}, env);
    EXPECT_EQ(cellsOf(*r), (std::vector<int32_t>{0, 10, N, N, 10, 0}));
    EXPECT_EQ(tableRows(*r), (std::vector<std::string>{"0 2", "10 2"}));
}
