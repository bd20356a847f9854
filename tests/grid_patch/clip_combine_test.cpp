// Clip Grids to Polygon Theme and Intersect (Combine) Grids: the lists they
// offer, the layers they find, what a failed save leaves, and the grids they
// make from hand grids and hand polygons.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "RasterFixtures.h"
#include "RasterOpsSupport.h"
#include "TestFiles.h"
#include "host/FileReplace.h"
#include "host/data/FeatureLayer.h"
#include "host/data/RasterLayer.h"
#include "host/data/Workspace.h"
#include "raster/Classes/clsG_Clip.h"
#include "raster/Classes/clsG_Intersect.h"
#include "tests/support/FaultInjection.h"
#include "tests/vector_frame/TestUi.h"

namespace h = korvane::host;
namespace fs = std::filesystem;
using korvane::test::cellsOf;
using korvane::test::GridSpec;
using korvane::test::N;
using korvane::test::TempFolder;
using korvane::test::tableRows;

namespace {

h::RasterLayerPtr gridLayer(TempFolder& tmp, const std::string& file, std::vector<double> cells, double originX = 0) {
    GridSpec g = korvane::test::grid4(std::move(cells), -9, originX);
    return std::make_shared<h::RasterLayer>(h::RasterDataset::open(korvane::test::writeGrid(tmp.file(file), g)));
}

const std::vector<double> kGrid = {1, 1, 2, 2, 1, 3, 3, 2, 4, 4, -9, 2, 4, 4, 4, 4};

std::vector<std::string> scratchFiles() {
    std::vector<std::string> out;
    for (auto& e : fs::directory_iterator(h::scratchFolder())) out.push_back(e.path().filename().string());
    return out;
}

struct Tool {
    TestUi ui;
    TempFolder data, out;
    h::Application& app = h::Application::instance();
    h::MapPtr map() { return app.document()->focusMap(); }
    // A polygon layer of two squares: the west half of the grid's top rows
    // and the east half.
    h::FeatureLayerPtr polygons(const std::string& name = "zones") {
        auto fc = h::ShapefileWorkspace::open(data.path())
                      .createFeatureClass(name, {{"ZONE", h::FieldInteger, 0, 9, 0}}, h::ShapeType::Polygon);
        for (const char* wkt : {"POLYGON((0 40,18 40,18 18,0 18,0 40))", "POLYGON((22 40,40 40,40 22,22 22,22 40))"}) {
            auto f = fc->createFeature();
            f->setShape(h::Geometry::fromWkt(wkt));
            f->setValue("ZONE", 1);
            f->store();
        }
        fc->flush();
        return std::make_shared<h::FeatureLayer>(fc, name);
    }
    std::string lastMessage() { return ui.driver.messages.empty() ? "" : ui.driver.messages.back().text; }
    h::RasterLayerPtr layerOf(const std::string& name) {
        for (auto& l : map()->allLayers())
            if (l->name() == name) return std::dynamic_pointer_cast<h::RasterLayer>(l);
        return nullptr;
    }
};

template <class Command>
void click(Tool& t, const std::vector<std::string>& lines) {
    Command cmd;
    cmd.OnCreate(&t.app);
    t.ui.driver.addLines(lines);
    cmd.OnClick();
}

}  // namespace

TEST(ClipGrids, TheSelectedPolygonsCutTheGridByCellCentresWithNoFileBesideThem) {
    Tool t;
    t.map()->addLayer(gridLayer(t.data, "g.tif", kGrid));
    // The polygon layer sits in a group layer: it is found all the same.
    auto group = std::make_shared<h::GroupLayer>("Zones group");
    auto zones = t.polygons();
    group->layers().push_back(zones);
    t.map()->addLayer(group);
    zones->selectionSet().add(1);
    korvane::test::FolderSnapshot data(t.data.path());
    auto before = scratchFiles();
    click<kv::clsG_Clip>(t, {"choose lstDataSet g.tif", "click OKButton", "choose lstDataSet zones", "click OKButton",
                             "file " + t.out.file("cut.tif")});
    EXPECT_TRUE(t.ui.driver.errorReports.empty());
    auto cut = t.layerOf("cut.tif");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cellsOf(*cut->raster()), (std::vector<int32_t>{N, N, 2, 2, N, N, 3, 2, N, N, N, N, N, N, N, N}));
    EXPECT_EQ(tableRows(*cut->raster()), (std::vector<std::string>{"2 3", "3 1"}));
    EXPECT_TRUE(data.sameAsNow()) << data.differences();
    EXPECT_EQ(scratchFiles(), before);

    // No selection: every polygon.
    zones->clearSelection();
    click<kv::clsG_Clip>(t, {"choose lstDataSet g.tif", "click OKButton", "choose lstDataSet zones", "click OKButton",
                             "file " + t.out.file("all.tif")});
    ASSERT_TRUE(t.layerOf("all.tif"));
    EXPECT_EQ(cellsOf(*t.layerOf("all.tif")->raster()),
              (std::vector<int32_t>{1, 1, 2, 2, 1, 3, 3, 2, N, N, N, N, N, N, N, N}));
}

TEST(ClipGrids, EmptyListsAndFailedSavesAddNothing) {
    {
        Tool t;
        t.map()->addLayer(gridLayer(t.data, "g.tif", kGrid));
        t.map()->addLayer(gridLayer(t.data, "h.tif", kGrid));
        click<kv::clsG_Clip>(t, {"choose lstDataSet g.tif", "click OKButton"});
        EXPECT_EQ(t.lastMessage(), "The map has no polygon layer to clip with.");
        EXPECT_TRUE(t.ui.driver.errorReports.empty());
    }
    {
        Tool t;
        t.map()->addLayer(t.polygons("a"));
        t.map()->addLayer(t.polygons("b"));
        click<kv::clsG_Clip>(t, {});
        EXPECT_EQ(t.lastMessage(), "The map has no grid layer to clip.");
    }
    // A save that fails half-way adds nothing, keeps an older dataset of the
    // name as it was and leaves no working raster behind.
    Tool t;
    t.map()->addLayer(gridLayer(t.data, "g.tif", kGrid));
    t.map()->addLayer(t.polygons());
    korvane::test::writeText(t.out.file("cut.tif"), "older");
    korvane::test::FolderSnapshot out(t.out.path());
    auto before = scratchFiles();
    h::testing::failAt(h::testing::Step::Rename, EIO);
    click<kv::clsG_Clip>(t, {"choose lstDataSet g.tif", "click OKButton", "choose lstDataSet zones", "click OKButton",
                             "file " + t.out.file("cut.tif")});
    h::testing::clearFaults();
    EXPECT_EQ(t.map()->layerCount(), 2);
    EXPECT_NE(t.lastMessage().find("Make Permanent Raster:"), std::string::npos);
    EXPECT_TRUE(out.sameAsNow()) << out.differences();
    EXPECT_EQ(scratchFiles(), before);
    // An extension the save refuses: its message, nothing added.
    click<kv::clsG_Clip>(t, {"choose lstDataSet g.tif", "click OKButton", "choose lstDataSet zones", "click OKButton",
                             "file " + t.out.file("cut.TIF")});
    EXPECT_EQ(t.lastMessage(), "Make Permanent Raster: Unsupported file extension");
    EXPECT_EQ(t.map()->layerCount(), 2);
}

TEST(ClipGrids, AnExistingFileIsReplacedOnlyAfterTheUserSaysYes) {
    Tool t;
    t.map()->addLayer(gridLayer(t.data, "g.tif", kGrid));
    t.map()->addLayer(t.polygons());
    korvane::test::writeText(t.out.file("cut.tif"), "mine");
    korvane::test::FolderSnapshot out(t.out.path());
    const std::vector<std::string> pick = {"choose lstDataSet g.tif", "click OKButton", "choose lstDataSet zones",
                                           "click OKButton", "file " + t.out.file("cut.tif")};
    auto lines = pick;
    lines.push_back("answer No");
    click<kv::clsG_Clip>(t, lines);
    EXPECT_EQ(t.lastMessage(), t.out.file("cut.tif") + " already exists.\r\nDo you want to replace it?");
    EXPECT_TRUE(out.sameAsNow()) << out.differences();
    EXPECT_FALSE(t.layerOf("cut.tif"));
    lines = pick;
    lines.push_back("answer Yes");
    click<kv::clsG_Clip>(t, lines);
    ASSERT_TRUE(t.layerOf("cut.tif"));
    EXPECT_EQ(cellsOf(*t.layerOf("cut.tif")->raster()),
              (std::vector<int32_t>{1, 1, 2, 2, 1, 3, 3, 2, N, N, N, N, N, N, N, N}));
}

TEST(ClipGrids, AKillBeforeTheSaveLeavesTheOlderDatasetWhole) {
    TempFolder out;
    {
        Tool t;
        t.map()->addLayer(gridLayer(t.data, "g.tif", kGrid));
        t.map()->addLayer(t.polygons());
        click<kv::clsG_Clip>(t, {"choose lstDataSet g.tif", "click OKButton", "choose lstDataSet zones",
                                 "click OKButton", "file " + out.file("cut.tif")});
        ASSERT_TRUE(t.layerOf("cut.tif"));
    }
    korvane::test::FolderSnapshot before(out.path());
    // Killed before the first file of the new dataset is put in place.
    for (const char* file : {"cut.tif"}) {
        auto outcome = korvane::test::runInChild([&](std::string&) {
            Tool t;
            t.map()->addLayer(gridLayer(t.data, "g.tif", {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7}));
            t.map()->addLayer(t.polygons());
            h::testing::killAt(h::testing::Step::Rename, file);
            click<kv::clsG_Clip>(t, {"choose lstDataSet g.tif", "click OKButton", "choose lstDataSet zones",
                                     "click OKButton", "file " + out.file("cut.tif")});
            return 0;
        });
        EXPECT_EQ(outcome.signal, SIGKILL) << file;
        EXPECT_TRUE(before.sameAsNow()) << file << ": " << before.differences();
    }
}

// The clip holds the grid's values in the grid's own cell type; polygons
// that cover no cell centre write nothing.
TEST(ClipGrids, TheClipKeepsTheCellTypeAndAnEmptyLayerWritesNothing) {
    for (GDALDataType type : {GDT_Float32, GDT_Int16, GDT_Byte}) {
        Tool t;
        GridSpec g = korvane::test::grid4({1, 1, 2, 2, 1, 3, 3, 2, 4, 4, 5, 2, 4, 4, 4, 4}, 99);
        g.type = type;
        g.noData.reset();
        auto grid = h::openRasterLayer(korvane::test::writeGrid(t.data.file("g.tif"), g));
        t.map()->addLayer(grid);
        t.map()->addLayer(t.polygons());
        click<kv::clsG_Clip>(t, {"choose lstDataSet g.tif", "click OKButton", "choose lstDataSet zones",
                                 "click OKButton", "file " + t.out.file("cut.tif")});
        auto cut = t.layerOf("cut.tif");
        ASSERT_TRUE(cut) << t.lastMessage();
        EXPECT_EQ(cut->raster()->pixelType(), grid->raster()->pixelType()) << GDALGetDataTypeName(type);
        EXPECT_EQ(cellsOf(*cut->raster()), (std::vector<int32_t>{1, 1, 2, 2, 1, 3, 3, 2, N, N, N, N, N, N, N, N}))
            << GDALGetDataTypeName(type);
    }
    Tool t;
    t.map()->addLayer(gridLayer(t.data, "g.tif", kGrid));
    auto fc = h::ShapefileWorkspace::open(t.data.path())
                  .createFeatureClass("none", {{"ZONE", h::FieldInteger, 0, 9, 0}}, h::ShapeType::Polygon);
    t.map()->addLayer(std::make_shared<h::FeatureLayer>(fc, "none"));
    auto before = scratchFiles();
    click<kv::clsG_Clip>(t, {"choose lstDataSet g.tif", "click OKButton", "choose lstDataSet none", "click OKButton",
                             "file " + t.out.file("cut.tif")});
    EXPECT_EQ(t.lastMessage(),
              "The clip of g.tif by none has no cells with a value (every cell is NoData): no polygon covers the "
              "centre of any of its cells.  Nothing was written.");
    EXPECT_TRUE(fs::is_empty(t.out.path()));
    EXPECT_EQ(scratchFiles(), before);
}

TEST(CombineGrids, PairsNumberedFromTheLayersOwnDatasets) {
    Tool t;
    auto a = gridLayer(t.data, "landscape.tif", kGrid);
    auto b = gridLayer(t.data, "ages.tif", {5, 5, 5, 5, 5, 5, 6, 6, 7, 7, 7, -9, 7, 7, 7, 7});
    // Renamed in the map, and one inside a group layer.
    a->setName("Forest types");
    auto group = std::make_shared<h::GroupLayer>("Ages");
    group->layers().push_back(b);
    t.map()->addLayer(a);
    t.map()->addLayer(group);
    click<kv::clsG_Intersect>(t, {"choose lstDataSet \"Forest types\"", "click OKButton", "choose lstDataSet ages.tif",
                                  "click OKButton", "file " + t.out.file("both.tif")});
    EXPECT_TRUE(t.ui.driver.errorReports.empty());
    auto both = t.layerOf("both.tif");
    ASSERT_TRUE(both);
    EXPECT_EQ(cellsOf(*both->raster()), (std::vector<int32_t>{1, 1, 2, 2, 1, 3, 4, 5, 6, 6, N, N, 6, 6, 6, 6}));
    EXPECT_EQ(tableRows(*both->raster()), (std::vector<std::string>{"1 3 1 5", "2 2 2 5", "3 1 3 5", "4 1 3 6",
                                                                    "5 1 2 6", "6 6 4 7"}));
    auto names = both->raster()->attributeTable()->fields().names();
    EXPECT_EQ(std::vector<std::string>(names.begin() + 1, names.end()),
              (std::vector<std::string>{"VALUE", "COUNT", "landscape", "ages"}));
}

TEST(CombineGrids, TooFewOrMisalignedGridsGetAMessage) {
    {
        Tool t;
        t.map()->addLayer(gridLayer(t.data, "g.tif", kGrid));
        t.map()->addLayer(t.polygons());
        click<kv::clsG_Intersect>(t, {"choose lstDataSet g.tif", "click OKButton"});
        EXPECT_EQ(t.lastMessage(), "The map has no second grid layer to combine with g.tif.");
        EXPECT_TRUE(t.ui.driver.errorReports.empty());
    }
    Tool t;
    t.map()->addLayer(gridLayer(t.data, "g.tif", kGrid));
    t.map()->addLayer(gridLayer(t.data, "h.tif", kGrid, 5));
    click<kv::clsG_Intersect>(t, {"choose lstDataSet g.tif", "click OKButton", "choose lstDataSet h.tif",
                                  "click OKButton", "file " + t.out.file("both.tif")});
    EXPECT_NE(t.lastMessage().find("The grids cannot be combined: the cells of h.tif do not line up"),
              std::string::npos);
    EXPECT_EQ(t.map()->layerCount(), 2);
    EXPECT_TRUE(fs::is_empty(t.out.path()));
}
