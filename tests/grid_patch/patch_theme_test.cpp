// Create Patch Theme from Grid: the click's checks and prompts, the patch
// raster of a hand grid (patches, class, area and perimeter), its name in
// the save folder, its unique-value renderer, and the patch counts of the
// sample grid against fragstat's NP.
#include <gtest/gtest.h>
#include <fmt/format.h>

#include <sstream>

#include <filesystem>

#include "RasterFixtures.h"
#include "RasterOpsSupport.h"
#include "TestFiles.h"
#include "fragstat/fragstat.h"
#include "host/FileReplace.h"
#include "host/data/FeatureLayer.h"
#include "host/data/RasterLayer.h"
#include "host/data/Workspace.h"
#include "raster/Classes/clsGridCreatePatch.h"
#include "tests/support/FaultInjection.h"
#include "tests/vector_frame/TestUi.h"

namespace h = korvane::host;
namespace fs = std::filesystem;
using korvane::test::GridSpec;
using korvane::test::TempFolder;
using korvane::test::tableRows;

namespace {

constexpr double X = -9;

// Classes that touch at corners; grid values 1 and 2 share the class "oak".
h::RasterLayerPtr handGrid(TempFolder& tmp, const std::string& name = "g.tif") {
    GridSpec g = korvane::test::grid4({1, 1, 2, 2, 1, 2, 1, 2, 3, 3, 1, X, 3, X, 1, 1}, X);
    auto r = h::RasterDataset::open(korvane::test::writeGrid(tmp.file(name), g));
    korvane::test::writeValueTable(*r, {{"Value", h::FieldInteger, 0, 9, 0}, {"Count", h::FieldInteger, 0, 9, 0},
                                        {"KIND", h::FieldString, 8, 0, 0}},
                                   {{1, 7, "oak"}, {3, 3, "pine"}, {2, 4, "oak"}});
    return std::make_shared<h::RasterLayer>(r);
}

struct Patch {
    TestUi ui;
    TempFolder in, out;
    h::Application& app = h::Application::instance();
    kv::clsG_createPatch cmd;
    Patch() { cmd.OnCreate(&app); }
    h::MapPtr map() { return app.document()->focusMap(); }
    h::RasterLayerPtr selectGrid() {
        auto g = handGrid(in);
        map()->addLayer(g);
        app.document()->setSelectedLayer(g);
        return g;
    }
    // Answers the three prompts of a click.
    void click(const std::string& field, const std::string& method) {
        ui.driver.addLines({"choose lstDataSet " + field, "click OKButton", "choose lstDataSet \"" + method + "\"",
                            "click OKButton", "set Dir1 " + out.path(), "click OKButton"});
        cmd.OnClick();
    }
    h::RasterLayerPtr added() {
        for (auto& l : map()->layers())
            if (l->name().find(" by ") != std::string::npos) return std::dynamic_pointer_cast<h::RasterLayer>(l);
        return nullptr;
    }
};

std::vector<std::string> scratchFiles() {
    std::vector<std::string> out;
    for (auto& e : fs::directory_iterator(h::scratchFolder())) out.push_back(e.path().filename().string());
    return out;
}

}  // namespace

TEST(PatchRasterName, TheLayerNameOrItsStagesNeverAnExistingDataset) {
    struct Case {
        const char* layer;
        std::vector<std::string> existing;  // files; a trailing '/' makes a folder
        const char* name;                   // "" refused
    } cases[] = {
        {"landscape.tif", {}, "landscape.tif"},
        {"landscape.tif", {"landscape.tif"}, "landscape_1.tif"},
        {"landscape.tif", {"landscape.tif.vat.dbf"}, "landscape_1.tif"},
        {"landscape.tif",
         {"landscape.tif", "landscape_1.tif", "landscape_2.tif", "landscape_3.tif", "landscape_4.tif",
          "landscape_5.tif", "landscape_6.tif", "landscape_7.tif", "landscape_8.tif", "landscape_9.tif"},
         "landscape_10.tif"},
        {"stands", {"stands/"}, "stands_1"},
        {"stands.img", {"stands.img"}, "stands_1.img"},
        {"averyveryverylongname", {}, "averyveryverylongname"},
        {"averyveryverylongname", {"averyveryverylongname/"}, "averyveryve_1"},
        {"averyveryverylongname",
         {"averyveryverylongname/", "averyveryve_1/", "averyveryve_2/", "averyveryve_3/", "averyveryve_4/",
          "averyveryve_5/", "averyveryve_6/", "averyveryve_7/", "averyveryve_8/", "averyveryve_9/"},
         "averyveryv_10"},
        // Text after the first "." that names no format goes: a GRID.
        {"by.tiff", {"by.tiff"}, "by"},
        {"landscape.tif by OldValue", {}, "landscape"},
        {"landscape.tif by OldValue", {"landscape/"}, "landscape_1"},
        {"H.TIF", {}, "H"},
        {"a.b.tif", {}, "a"},
        {"x..y.tif", {}, "x"},
        {"../up", {}, ""},
        {"a/b", {}, ""},
        {"a\\b", {}, ""},
    };
    for (const Case& c : cases) {
        TempFolder tmp;
        for (const std::string& e : c.existing) {
            if (e.back() == '/') fs::create_directory(tmp.file(e.substr(0, e.size() - 1)));
            else korvane::test::writeText(tmp.file(e), "x");
        }
        std::string why;
        std::optional<std::string> name = kv::PatchRasterName(tmp.path(), c.layer, why);
        EXPECT_EQ(name.value_or(""), c.name) << c.layer;
        EXPECT_EQ(why.empty(), name.has_value()) << c.layer;
    }
}

TEST(PatchTheme, TheClickRefusesWhatItCannotGroup) {
    struct Case {
        const char* what;
        int layers;  // 0: none; 1: a feature layer selected; 2: a grid, nothing selected
        std::string message;
    } cases[] = {
        {"empty map", 0, "There are no layers loaded.  Cannot continue."},
        {"feature layer", 1, "Layer must be a grid layer to create patch from."},
        {"no selection", 2, "You need to have one, and only one, layer selected."},
    };
    for (const Case& c : cases) {
        Patch p;
        if (c.layers == 1) {
            auto fc = h::ShapefileWorkspace::open(p.in.path())
                          .createFeatureClass("shapes", {{"ID", h::FieldInteger, 0, 9, 0}}, h::ShapeType::Polygon);
            auto l = std::make_shared<h::FeatureLayer>(fc, "shapes");
            p.map()->addLayer(l);
            p.app.document()->setSelectedLayer(l);
        } else if (c.layers == 2) {
            p.map()->addLayer(handGrid(p.in));
        }
        p.cmd.OnClick();
        ASSERT_FALSE(p.ui.driver.messages.empty()) << c.what;
        EXPECT_EQ(p.ui.driver.messages.back().text, c.message) << c.what;
        EXPECT_TRUE(p.ui.driver.errorReports.empty()) << c.what;
    }
}

TEST(PatchTheme, CancellingAPromptBuildsNothing) {
    {
        Patch p;
        p.selectGrid();
        p.ui.driver.echoForms = true;
        p.cmd.OnClick();  // the class-field list is cancelled
        EXPECT_EQ(p.ui.out.str().find("Clumping Method"), std::string::npos);
    }
    Patch p;
    p.selectGrid();
    p.ui.driver.echoForms = true;
    p.ui.driver.addLines({"choose lstDataSet KIND", "click OKButton", "click CancelButton", "click OKButton"});
    p.cmd.OnClick();  // no method: the folder is still asked for
    EXPECT_NE(p.ui.out.str().find("Select Folder to Save New Grid in"), std::string::npos);
    EXPECT_EQ(p.map()->layerCount(), 1);
    EXPECT_TRUE(fs::is_empty(p.out.path()));
}

TEST(PatchTheme, PatchesByGridValueWithClassAreaPerimeterAndOneColourPerClass) {
    struct Case {
        const char* method;
        std::vector<std::string> rows;  // Value Count Link KIND Area Perimeter (then the colour)
    } cases[] = {
        {"4N - Use Orthogonals",
         {"1 3 0 oak 300 80", "2 3 2 oak 300 80", "3 1 2 oak 100 40", "4 4 0 oak 400 100", "5 3 1 pine 300 80"}},
        {"8N - Use Diagonals", {"1 7 0 oak 700 180", "2 4 2 oak 400 120", "3 3 1 pine 300 80"}},
    };
    for (const Case& c : cases) {
        Patch p;
        p.selectGrid();
        korvane::test::FolderSnapshot input(p.in.path());
        auto before = scratchFiles();
        p.click("KIND", c.method);
        EXPECT_TRUE(p.ui.driver.errorReports.empty()) << c.method;
        auto layer = p.added();
        ASSERT_TRUE(layer) << c.method;
        EXPECT_EQ(layer->name(), "g.tif by KIND");
        EXPECT_EQ(layer->raster()->path(), p.out.file("g.tif"));
        ASSERT_TRUE(layer->renderer());
        EXPECT_EQ(layer->renderer()->field, "KIND");
        ASSERT_EQ(layer->renderer()->classes.size(), 2u);  // oak once, though two grid values carry it
        EXPECT_EQ(layer->renderer()->classes[0].label, "oak");
        EXPECT_EQ(layer->renderer()->classes[1].label, "pine");
        EXPECT_NE(layer->renderer()->classes[0].colour, layer->renderer()->classes[1].colour);
        // Each row ends in Red, Green and Blue: its class's colour in the renderer.
        std::vector<std::string> rows = tableRows(*layer->raster());
        ASSERT_EQ(rows.size(), c.rows.size()) << c.method;
        for (size_t i = 0; i < rows.size(); ++i) {
            const bool oak = c.rows[i].find("oak") != std::string::npos;
            const h::Rgb rgb = layer->renderer()->classes[oak ? 0 : 1].colour;
            EXPECT_EQ(rows[i], fmt::format("{} {} {} {}", c.rows[i], rgb.red, rgb.green, rgb.blue)) << c.method;
        }
        EXPECT_TRUE(input.sameAsNow()) << input.differences();
        EXPECT_EQ(scratchFiles(), before) << c.method;
    }
}

TEST(PatchTheme, AValueClassFieldIsOldValueAndAMissingOneFallsBackToValue) {
    {
        Patch p;
        std::ostringstream progress;
        p.ui.driver.progressOut = &progress;
        p.selectGrid();
        p.click("Value", "8N - Use Diagonals");
        ASSERT_TRUE(p.added());
        EXPECT_EQ(p.added()->name(), "g.tif by OldValue");
        // No window shows its design-time label.
        EXPECT_EQ(progress.str().find("Process Progess"), std::string::npos) << progress.str();
        EXPECT_EQ(tableRows(*p.added()->raster())[2].rfind("3 3 1 3 300 80 ", 0), 0u);
    }
    Patch p;
    auto g = p.selectGrid();
    p.cmd.RunClumper(g, "SPECIES", true, p.out.path());
    ASSERT_FALSE(p.ui.driver.messages.empty());
    EXPECT_EQ(p.ui.driver.messages[0].text, "Cannot find SPECIES field in the Grid.\r\nUsing Value field instead");
    EXPECT_EQ(p.ui.driver.messages[0].title, "Missing Field");
    ASSERT_TRUE(p.added());
    EXPECT_EQ(tableRows(*p.added()->raster())[2].rfind("3 3 1 3 300 80 ", 0), 0u);
}

TEST(PatchTheme, LargePatchesKeepEveryDigitOfAreaAndPerimeter) {
    Patch p;
    GridSpec g = korvane::test::grid4({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2}, X);
    g.cellX = g.cellY = 3333.3;
    g.originY = 4 * 3333.3;
    auto grid = std::make_shared<h::RasterLayer>(h::RasterDataset::open(korvane::test::writeGrid(p.in.file("big.tif"), g)));
    grid->raster()->buildValueTable();
    p.map()->addLayer(grid);
    p.cmd.RunClumper(grid, "Value", true, p.out.path());
    ASSERT_TRUE(p.added());
    auto row = p.added()->raster()->attributeTable()->row(0);
    EXPECT_NEAR(h::toDouble(row->value("Area")), 15 * 3333.3 * 3333.3, 1e-4);
    EXPECT_NEAR(h::toDouble(row->value("Perimeter")), 16 * 3333.3, 1e-4);
}

TEST(PatchTheme, AnExistingFileOfTheLayerNameIsNeverReplaced) {
    Patch p;
    p.selectGrid();
    korvane::test::writeText(p.out.file("g.tif"), "not a raster");
    korvane::test::writeText(p.out.file("g_1.tif.aux.xml"), "<PAMDataset/>");
    p.click("KIND", "8N - Use Diagonals");
    ASSERT_TRUE(p.added());
    EXPECT_EQ(p.added()->raster()->path(), p.out.file("g_2.tif"));
    EXPECT_EQ(korvane::test::readBytes(p.out.file("g.tif")).size(), 12u);
}

TEST(PatchTheme, ALayerNameThatIsAPathIsRefusedBeforeAnythingIsBuilt) {
    Patch p;
    auto g = p.selectGrid();
    g->setName("../escape.tif");
    auto before = scratchFiles();
    p.click("KIND", "8N - Use Diagonals");
    ASSERT_FALSE(p.ui.driver.messages.empty());
    EXPECT_EQ(p.ui.driver.messages.back().title, "Cannot Continue");
    EXPECT_FALSE(p.added());
    EXPECT_TRUE(fs::is_empty(p.out.path()));
    EXPECT_FALSE(fs::exists(fs::path(p.out.path()).parent_path() / "escape.tif"));
    EXPECT_EQ(scratchFiles(), before);
}

TEST(PatchTheme, AFailedSaveShowsTheWorkingRasterAndLeavesTheFolder) {
    Patch p;
    p.selectGrid();
    // The last file of the save (its table) cannot be put in place.
    h::testing::failAt(h::testing::Step::Rename, EIO, "g.tif.vat.dbf");
    p.click("KIND", "8N - Use Diagonals");
    h::testing::clearFaults();
    ASSERT_TRUE(p.added());
    EXPECT_NE(p.added()->raster()->path(), p.out.file("g.tif"));
    EXPECT_EQ(tableRows(*p.added()->raster()).size(), 3u);
    for (auto& e : fs::directory_iterator(p.out.path())) ADD_FAILURE() << e.path();
}

// The scratch folder goes when korvane exits: an unsaved result that the
// document refers to is kept beside the document, under a marked name, and
// the message says where.
TEST(PatchTheme, AnUnsavedResultIsKeptBesideTheDocument) {
    Patch p;
    p.selectGrid();
    TempFolder docs;
    p.app.document()->setFolder(docs.path());
    auto before = scratchFiles();
    h::testing::failAt(h::testing::Step::Rename, EIO, "g.tif.vat.dbf");
    p.click("KIND", "8N - Use Diagonals");
    h::testing::clearFaults();
    auto layer = p.added();
    ASSERT_TRUE(layer);
    const std::string kept = layer->raster()->path();
    EXPECT_EQ(fs::path(kept).parent_path(), fs::path(docs.path()));
    EXPECT_NE(fs::path(kept).filename().string().find("g.kvunsaved-"), std::string::npos) << kept;
    EXPECT_EQ(tableRows(*layer->raster()).size(), 3u);
    ASSERT_FALSE(p.ui.driver.messages.empty());
    EXPECT_EQ(p.ui.driver.messages.back().title, "Patch Raster Not Saved");
    EXPECT_NE(p.ui.driver.messages.back().text.find(kept), std::string::npos);
    EXPECT_EQ(scratchFiles(), before);
    for (auto& e : fs::directory_iterator(p.out.path())) ADD_FAILURE() << e.path();
}

TEST(PatchTheme, PatchCountsOfTheSampleAreFragstatsNumberOfPatches) {
    auto grid = h::RasterDataset::open(std::string(KV_SAMPLE_DIR) + "/landscape.tif");
    korvane::fragstat::ClassGrid cells;
    cells.rows = grid->height();
    cells.cols = grid->width();
    grid->readBlocks([&](const h::RasterBlock& b) {
        for (double v : b.cells) cells.cells.push_back(std::isnan(v) ? -9999 : static_cast<int32_t>(v));
    });
    for (bool eight : {false, true}) {
        h::RegionGroupOptions o;
        o.eightNeighbours = eight;
        h::RasterAnalysisEnvironment env;
        auto patches = h::regionGroup(grid, o, env);
        korvane::fragstat::Params params;
        params.cell_size = grid->cellSizeX();
        params.diags = eight;
        params.nndist = false;
        auto results = korvane::fragstat::compute(cells, params);
        auto np = results.landscape[korvane::fragstat::Code::NP];
        ASSERT_TRUE(np);
        EXPECT_EQ(static_cast<double>(patches->attributeTable()->rowCount()), *np) << eight;
    }
}

// A patch layer is named "g.tif by KIND": its own patch raster is the GRID
// "g", which can be saved, and grouping it again gives the same patches.
TEST(PatchTheme, APatchLayerCanBePatchedAgainAndSaved) {
    Patch p;
    p.selectGrid();
    p.click("KIND", "8N - Use Diagonals");
    auto first = p.added();
    ASSERT_TRUE(first);
    p.map()->deleteLayer(first);
    p.map()->addLayer(first);
    p.app.document()->setSelectedLayer(first);
    p.click("Value", "8N - Use Diagonals");
    EXPECT_TRUE(p.ui.driver.errorReports.empty());
    for (const auto& m : p.ui.driver.messages) ADD_FAILURE() << m.text;
    auto second = p.added();
    ASSERT_TRUE(second && second != first);
    EXPECT_EQ(second->name(), "g.tif by KIND by OldValue");
    EXPECT_EQ(second->raster()->path(), p.out.file("g"));
    // Value, Count, Link, OldValue, Area, Perimeter, then the renderer's colour.
    const std::vector<std::string> rows = tableRows(*second->raster());
    const std::vector<std::string> want = {"1 7 0 1 700 180 ", "2 4 1 2 400 120 ", "3 3 2 3 300 80 "};
    ASSERT_EQ(rows.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(rows[i].rfind(want[i], 0), 0u) << rows[i];
}

// Grids that cannot give patches say why and write nothing: floating-point
// cells, too many values, cells that cannot be read, every cell NoData.
TEST(PatchTheme, GridsWithoutPatchesSayWhyAndWriteNothing) {
    struct Case {
        const char* what;
        GDALDataType type;
        int size;
        bool damaged, noData;
        std::string says;
    } cases[] = {
        {"float", GDT_Float32, 4, false, false, "f.tif has no fields in it: it has no value table (floating-point cells)"},
        {"many values", GDT_Int32, 260, false, false,
         "f.tif has no fields in it: it has no value table (more than 65536 distinct values)"},
        {"damaged", GDT_Int16, 256, true, false, "f.tif has no fields in it: it has no value table (Cannot read the cells of "},
        {"all NoData", GDT_Int16, 4, false, true,
         "f.tif has no cells with a value (every cell is NoData): there are no patches to make.  Nothing was written."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Patch p;
        GridSpec g;
        g.columns = g.rows = c.size;
        g.type = c.type;
        g.originY = c.size * 10;
        for (int i = 0; i < c.size * c.size; ++i) g.cells.push_back(c.noData ? -1 : i % (c.size * c.size));
        if (c.noData) g.noData = -1;
        const std::string path = korvane::test::writeGrid(p.in.file("f.tif"), g);
        if (c.damaged) fs::resize_file(path, fs::file_size(path) / 2);
        auto layer = h::openRasterLayer(path);
        p.map()->addLayer(layer);
        p.app.document()->setSelectedLayer(layer);
        auto before = scratchFiles();
        if (c.noData) {
            p.cmd.RunClumper(layer, "Value", true, p.out.path());
        } else {
            p.cmd.OnClick();
        }
        ASSERT_FALSE(p.ui.driver.messages.empty());
        EXPECT_EQ(p.ui.driver.messages.back().text.substr(0, c.says.size()), c.says);
        EXPECT_TRUE(p.ui.driver.errorReports.empty());
        EXPECT_FALSE(p.added());
        EXPECT_TRUE(fs::is_empty(p.out.path()));
        EXPECT_EQ(scratchFiles(), before);
    }
}

// Area and Perimeter of a grid in degrees would be in square degrees and
// degrees: asked first, and No (the default) builds nothing.
TEST(PatchTheme, AGridInGeographicCoordinatesIsAskedAboutFirst) {
    for (const char* answer : {"No", "Yes"}) {
        Patch p;
        GridSpec g = korvane::test::grid4({1, 1, 2, 2, 1, 2, 1, 2, 3, 3, 1, X, 3, X, 1, 1}, X);
        g.epsg = 4326;
        g.cellX = g.cellY = 0.01;
        g.originX = 10;
        g.originY = 50;
        auto layer = h::openRasterLayer(korvane::test::writeGrid(p.in.file("geo.tif"), g));
        p.map()->addLayer(layer);
        p.ui.driver.addLines({std::string("answer ") + answer});
        p.cmd.RunClumper(layer, "Value", true, p.out.path());
        ASSERT_FALSE(p.ui.driver.messages.empty());
        EXPECT_EQ(p.ui.driver.messages[0].title, "Geographic Coordinates");
        EXPECT_NE(p.ui.driver.messages[0].text.find("'geo.tif' is in geographic coordinates"), std::string::npos);
        EXPECT_EQ(static_cast<bool>(p.added()), std::string(answer) == "Yes");
    }
}
