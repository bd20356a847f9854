// The raster operators on small hand grids and hand polygons: features to
// raster, extraction by a mask.
#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include <cmath>
#include <filesystem>

#include "RasterFixtures.h"
#include "RasterOpsSupport.h"
#include "TestFiles.h"
#include "host/Failure.h"
#include "host/data/RasterOperators.h"
#include "host/data/Workspace.h"

namespace h = korvane::host;
using korvane::test::cellsOf;
using korvane::test::grid4;
using korvane::test::GridSpec;
using korvane::test::N;
using korvane::test::TempFolder;
using korvane::test::tableRows;
using korvane::test::writeGrid;

namespace {

// A 4 x 4 lattice of 10 m cells, north-west corner (0, 40).
h::RasterLattice lattice4() {
    h::RasterLattice l;
    l.xmin = 0;
    l.ymax = 40;
    l.cellSize = 10;
    l.columns = 4;
    l.rows = 4;
    return l;
}

struct Shapes {
    TempFolder tmp;
    h::FeatureClassPtr fc;
    // Polygons with an integer field CODE and a text field KIND.
    explicit Shapes(const std::vector<std::tuple<int, std::string, std::string>>& rows) {
        auto ws = h::ShapefileWorkspace::open(tmp.path());
        fc = ws.createFeatureClass("shapes", {{"CODE", h::FieldInteger, 0, 9, 0}, {"KIND", h::FieldString, 12, 0, 0}},
                                   h::ShapeType::Polygon);
        for (const auto& [code, kind, wkt] : rows) {
            auto f = fc->createFeature();
            f->setShape(h::Geometry::fromWkt(wkt));
            f->setValue("CODE", code);
            f->setValue("KIND", kind);
            f->store();
        }
        fc->flush();
    }
};

}  // namespace

TEST(FeaturesToRaster, ACellTakesTheShapeOverItsCentre) {
    // The square reaches 2 m into the third column and row: less than half a
    // cell, so those cells stay out; the triangle's edge passes just beside
    // the centres of the diagonal.
    struct Case {
        const char* wkt;
        std::vector<int32_t> cells;
    } cases[] = {
        {"POLYGON((0 40,22 40,22 18,0 18,0 40))", {7, 7, N, N, 7, 7, N, N, N, N, N, N, N, N, N, N}},
        {"POLYGON((0 0,40.5 0,0 40.5,0 0))", {7, N, N, N, 7, 7, N, N, 7, 7, 7, N, 7, 7, 7, 7}},
        {"POLYGON((0 0,39.5 0,0 39.5,0 0))", {N, N, N, N, 7, N, N, N, 7, 7, N, N, 7, 7, 7, N}},
        // A hole leaves the centre cells out.
        {"POLYGON((0 0,40 0,40 40,0 40,0 0),(12 12,28 12,28 28,12 28,12 12))",
         {7, 7, 7, 7, 7, N, N, 7, 7, N, N, 7, 7, 7, 7, 7}},
    };
    for (const Case& c : cases) {
        Shapes s({{7, "oak", c.wkt}});
        h::RasterAnalysisEnvironment env;
        auto r = h::featuresToRaster(s.fc, nullptr, "CODE", lattice4(), env);
        EXPECT_EQ(cellsOf(*r), c.cells) << c.wkt;
        int64_t covered = std::count(c.cells.begin(), c.cells.end(), 7);
        EXPECT_EQ(tableRows(*r), (std::vector<std::string>{"7 " + std::to_string(covered)})) << c.wkt;
    }
}

TEST(FeaturesToRaster, TextBecomesCodesInTextOrderWithTheTextInTheTable) {
    Shapes s({{1, "oak", "POLYGON((0 40,20 40,20 20,0 20,0 40))"},
              {2, "birch", "POLYGON((20 40,40 40,40 20,20 20,20 40))"},
              {3, "", "POLYGON((0 20,40 20,40 0,0 0,0 20))"}});
    h::RasterAnalysisEnvironment env;
    auto r = h::featuresToRaster(s.fc, nullptr, "KIND", lattice4(), env);
    EXPECT_EQ(cellsOf(*r), (std::vector<int32_t>{2, 2, 1, 1, 2, 2, 1, 1, N, N, N, N, N, N, N, N}));
    EXPECT_EQ(tableRows(*r), (std::vector<std::string>{"1 4 birch", "2 4 oak"}));
}

TEST(FeaturesToRaster, OnlyTheSelectionUnderTheMask) {
    Shapes s({{1, "a", "POLYGON((0 40,20 40,20 20,0 20,0 40))"}, {2, "b", "POLYGON((20 40,40 40,40 20,20 20,20 40))"}});
    h::SelectionSet sel(s.fc);
    sel.add(1);
    GridSpec m = grid4({-1, 1, 1, 1, 1, -1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, -1);
    h::RasterAnalysisEnvironment env;
    env.mask = h::RasterDataset::open(writeGrid(s.tmp.file("mask.tif"), m));
    auto r = h::featuresToRaster(s.fc, &sel, "CODE", lattice4(), env);
    EXPECT_EQ(cellsOf(*r), (std::vector<int32_t>{N, N, 2, 2, N, N, 2, 2, N, N, N, N, N, N, N, N}));
}

TEST(FeaturesToRaster, RefusesWhatItCannotWriteAndNeverReplacesAFile) {
    Shapes s({{1, "a", "POLYGON((0 40,20 40,20 20,0 20,0 40))"}});
    h::RasterAnalysisEnvironment env;
    korvane::test::writeText(s.tmp.file("taken.tif"), "keep");
    EXPECT_THROW(h::featuresToRaster(s.fc, nullptr, "CODE", lattice4(), env, s.tmp.file("taken.tif")), h::Failure);
    EXPECT_EQ(korvane::test::readBytes(s.tmp.file("taken.tif")).size(), 4u);
    EXPECT_THROW(h::featuresToRaster(s.fc, nullptr, "NOPE", lattice4(), env), h::Failure);
    h::RasterLattice empty = lattice4();
    empty.columns = 0;
    EXPECT_THROW(h::featuresToRaster(s.fc, nullptr, "CODE", empty, env), h::Failure);
    auto r = h::featuresToRaster(s.fc, nullptr, "CODE", lattice4(), env, s.tmp.file("new.tif"));
    EXPECT_EQ(r->path(), s.tmp.file("new.tif"));
    // Shapes in another coordinate system than the grid's are not burnt in.
    OGRSpatialReference geographic;
    geographic.importFromEPSG(4326);
    char* wkt = nullptr;
    geographic.exportToWkt(&wkt);
    h::SpatialReference degrees = h::SpatialReference::fromWkt(wkt);
    CPLFree(wkt);
    auto other = h::ShapefileWorkspace::open(s.tmp.path())
                     .createFeatureClass("degrees", {{"CODE", h::FieldInteger, 0, 9, 0}}, h::ShapeType::Polygon, &degrees);
    auto utm = h::RasterDataset::open(writeGrid(s.tmp.file("utm.tif"), grid4({}, -1)));
    EXPECT_THROW(h::featuresToRaster(other, nullptr, "CODE", lattice4(), env, {}, utm->spatialReference()), h::Failure);
}

TEST(ExtractByMask, ValuesWhereTheMaskHasDataWithTheirClassRows) {
    TempFolder tmp;
    GridSpec g = grid4({1, 1, 2, 2, 1, 3, 3, 2, 4, 4, -9, 2, 4, 4, 4, 4}, -9);
    auto grid = h::RasterDataset::open(writeGrid(tmp.file("g.tif"), g));
    korvane::test::writeValueTable(*grid, {{"Value", h::FieldInteger, 0, 9, 0}, {"Count", h::FieldInteger, 0, 9, 0},
                                           {"NAME", h::FieldString, 8, 0, 0}},
                                   {{1, 3, "one"}, {2, 4, "two"}, {3, 2, "three"}, {4, 6, "four"}});
    auto ws = h::ShapefileWorkspace::open(tmp.path());
    auto fc = ws.createFeatureClass("cut", {{"ID", h::FieldInteger, 0, 9, 0}}, h::ShapeType::Polygon);
    auto f = fc->createFeature();
    f->setShape(h::Geometry::fromWkt("POLYGON((0 40,22 40,22 8,0 8,0 40))"));
    f->store();
    fc->flush();
    h::RasterAnalysisEnvironment env;
    auto byShapes = h::extractByMask(grid, h::GeoDataset{fc}, env);
    EXPECT_EQ(cellsOf(*byShapes), (std::vector<int32_t>{1, 1, N, N, 1, 3, N, N, 4, 4, N, N, N, N, N, N}));
    EXPECT_EQ(tableRows(*byShapes), (std::vector<std::string>{"1 3 one", "3 1 three", "4 2 four"}));

    GridSpec m = g;
    m.cells = {-9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -9};
    auto byRaster = h::conditional(h::RasterDataset::open(writeGrid(tmp.file("m.tif"), m)), grid, env);
    EXPECT_EQ(cellsOf(*byRaster), (std::vector<int32_t>{N, 1, 2, 2, 1, 3, 3, 2, 4, 4, N, 2, 4, 4, 4, N}));
    EXPECT_THROW(h::extractByMask(grid, h::GeoDataset{}, env), h::Failure);
}

// Cells 10 wide and 20 high: rows are placed by the cell height, columns by
// the width, in the lattice of the grid, its extraction and the rasterizer.
TEST(ExtractByMask, CellsThatAreNotSquareKeepTheirWidthAndHeight) {
    TempFolder tmp;
    GridSpec g = grid4({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, -9);
    g.originY = 80;
    g.cellY = 20;
    auto grid = h::RasterDataset::open(writeGrid(tmp.file("tall.tif"), g));
    grid->buildValueTable();
    const h::RasterLattice l = h::latticeOf(*grid);
    EXPECT_EQ(l.cellSize, 10);
    EXPECT_EQ(l.cellY(), 20);
    EXPECT_EQ(l.extent().ymin, 0);
    // Centres at x 5, 15 and y 70, 50 lie in the shape; y 30 does not.
    Shapes s({{7, "oak", "POLYGON((0 80,22 80,22 38,0 38,0 80))"}});
    const std::vector<int32_t> inside = {7, 7, N, N, 7, 7, N, N, N, N, N, N, N, N, N, N};
    h::RasterAnalysisEnvironment env;
    auto burnt = h::featuresToRaster(s.fc, nullptr, "CODE", l, env, {}, grid->spatialReference());
    EXPECT_EQ(cellsOf(*burnt), inside);
    EXPECT_EQ(burnt->cellSizeY(), 20);
    auto cut = h::extractByMask(grid, h::GeoDataset{s.fc}, env);
    EXPECT_EQ(cellsOf(*cut), (std::vector<int32_t>{1, 2, N, N, 5, 6, N, N, N, N, N, N, N, N, N, N}));
    EXPECT_EQ(cut->cellSizeX(), 10);
    EXPECT_EQ(cut->cellSizeY(), 20);
    EXPECT_EQ(cut->extent().ymin, grid->extent().ymin);
    // The environment's cell size taken from the grid keeps both sides.
    h::RasterAnalysisEnvironment fromGrid;
    fromGrid.setCellSizeFrom(*grid);
    const h::RasterLattice out = fromGrid.outputLattice(*grid);
    EXPECT_EQ(out.rows, 4);
    EXPECT_EQ(out.cellY(), 20);
}
