// The output table of a run (new, appended, replaced), the working copy's
// name and its removal, the map step, and the requests a run refuses.
#include <fmt/format.h>

#include <fstream>
#include <iterator>

#include "MetricsFixture.h"
#include "host/Failure.h"
#include "host/data/TableImpl.h"
#include "vector/Forms/frmSpatialStat1Run.h"
#include "vector/Modules/modSpatialStats.h"

namespace kvtest {
namespace {

using Boxes = std::vector<std::string>;

class RunTableTest : public MetricsTest {
protected:
    void run(const std::string& layer, const std::string& classField, const std::string& table, bool append,
             const Boxes& boxes, bool addToMap = false, bool landscape = false) {
        kv::RunSpatialStats(&h::Application::instance(), layer, classField, false, addToMap, table, append, boxes,
                            landscape, false);
    }
    void touch(const std::string& path) { std::ofstream(path).put('x'); }
};

TEST_F(RunTableTest, AppendNumbersTheRunsAndOverwriteReplacesTheTable) {
    addHandFixture("patches");
    const std::string table = out.file("stats.dbf");
    run("patches", "CLS", table, true, {"chkClassArea"});
    run("patches", "CLS", table, true, {"chkClassArea"});
    // A metric the table lacks is added after the existing fields; older rows
    // have no value in it.
    run("patches", "CLS", table, true, {"chkNumOfPatches", "chkClassArea"});
    ASSERT_TRUE(messages().empty()) << messages().front();
    EXPECT_EQ(fieldNames(table), (std::vector<std::string>{"OID", "Name", "RunDate", "Run", "Class", "CA", "NumP"}));
    auto rows = readRows(table);
    ASSERT_EQ(rows.size(), 6u);
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(num(rows[i], "Run"), 1 + i / 2) << "row " << i;
    EXPECT_TRUE(h::isNull(rows[0].at("NumP")));
    EXPECT_EQ(num(rows[5], "NumP"), 2);
    // Nothing but the table is left in the folder: the working copy is gone.
    EXPECT_EQ(out.files(), (std::vector<std::string>{"stats.cpg", "stats.dbf"}));

    run("patches", "CLS", table, false, {"chkTotalEdge"});
    rows = readRows(table);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(num(rows[0], "Run"), 1);
    EXPECT_EQ(num(rows[1], "TE"), 252);
    EXPECT_EQ(fieldNames(table), (std::vector<std::string>{"OID", "Name", "RunDate", "Run", "Class", "TE"}));
    EXPECT_EQ(out.files(), (std::vector<std::string>{"stats.cpg", "stats.dbf"}));
}

TEST_F(RunTableTest, AddToMapKeepsTheWorkingCopyAsAVisibleLayerAndListsTheTable) {
    addHandFixture("patches");
    const std::string table = out.file("stats.dbf");
    run("patches", "CLS", table, true, {"chkClassArea"}, true);
    ASSERT_EQ(map()->layerCount(), 2);
    h::LayerPtr added = map()->layer(0);
    EXPECT_EQ(added->name(), "patches");
    EXPECT_TRUE(added->visible());
    ASSERT_EQ(map()->tables().size(), 1u);
    EXPECT_EQ(map()->tables()[0]->name(), "stats");
    ASSERT_TRUE(map()->tables()[0]->table);
    EXPECT_EQ(map()->tables()[0]->table->rowCount(), 2);
    // The working copy holds the class field, the core fields and the support
    // fields the metric needs; the other fields were trimmed.
    auto copy = std::dynamic_pointer_cast<h::FeatureLayer>(added)->featureClass();
    EXPECT_EQ(copy->fields().names(),
              (std::vector<std::string>{"FID", "Shape", "CLS", "Patch_Area", "Core_Area", "Area"}));
    EXPECT_TRUE(std::filesystem::exists(out.file("patches.shp")));
}

TEST_F(RunTableTest, WorkingCopyNamesAvoidExistingFilesAndTheOutputTable) {
    struct Case {
        std::string alias;
        std::vector<std::string> present;  // files already in the output folder
        std::string table;                 // output table file name
        std::string expected;
    };
    std::vector<std::string> landco;
    for (int i = 1; i <= 9; ++i) landco.push_back(fmt::format("landco_{}.shp", i));
    landco.push_back("landcover.shp");
    const Case cases[] = {
        {"forest", {}, "stats.dbf", "forest"},
        {"forest", {"forest.shp"}, "stats.dbf", "forest_1"},
        // A lone attribute file of that name is taken too.
        {"forest", {"forest.dbf", "forest_1.shp"}, "stats.dbf", "forest_2"},
        {"landcover", landco, "stats.dbf", "landc_10"},
        // The copy's attribute file would be the output table itself.
        {"forest", {}, "forest.dbf", "forest_1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.alias + " -> " + c.expected);
        Folder source, folder;
        writePatches(source.path(), c.alias, handFixture());
        addLayer(source.file(c.alias + ".shp"));
        for (const std::string& f : c.present) touch(folder.file(f));
        run(c.alias, "CLS", folder.file(c.table), true, {"chkNumOfPatches"}, true);
        ASSERT_TRUE(messages().empty()) << messages().front();
        EXPECT_EQ(map()->layer(0)->name(), c.expected);
        map()->clearLayers();
    }
}

TEST_F(RunTableTest, SelectedFeaturesAloneAreMeasuredAndTheSelectionStays) {
    auto layer = addHandFixture("patches");
    layer->selectionSet().add(std::vector<int64_t>{1, 2, 4});
    const std::string table = out.file("stats.dbf");
    run("patches", "CLS", table, true, {"chkNumOfPatches", "chkClassArea"});
    auto rows = readRows(table);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(text(rows[0], "Class"), "a");
    EXPECT_EQ(num(rows[0], "NumP"), 1);
    EXPECT_EQ(num(rows[0], "CA"), 4);
    EXPECT_EQ(num(rows[1], "CA"), 200);
    EXPECT_EQ(layer->selectionSet().ids(), (std::vector<int64_t>{1, 2, 4}));
}

// The working copy added to the map, the table and the messages come out
// the same whether the copy is trimmed, given its support fields and read
// in one pass or stage by stage (as when the data layer leaves every write
// to the driver): class and landscape level, a selection, a patch crossing
// itself, metrics that need no support field.
TEST_F(RunTableTest, OnePassAndStageByStageGiveTheSameCopyTableAndMessages) {
    struct Case {
        const char* what;
        Boxes boxes;
        bool landscape;
        std::vector<int64_t> selected;
        bool raster = false;
    };
    Boxes every;
    for (int32_t m = 0; m < kv::kMetricCount; ++m) every.push_back(kv::MetricBox(static_cast<kv::Metric>(m)));
    const Case cases[] = {
        {"class level", every, false, {}},
        {"landscape", {"chkShannonsDiversity", "chkMeanShapeIndex", "chkTotalCoreAreaIndex"}, true, {}},
        {"selection", {"chkMeanPatchFractalDim", "chkClassArea"}, false, {0, 2, 5}},
        {"no support field", {"chkNumOfPatches", "chkCoreAreaDensity"}, false, {}},
        {"raster forms", every, false, {}, true},
    };
    std::vector<Patch> patches = handFixture();
    patches.push_back({80, 0, 3, 7, "c", 21, 5});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::map<bool, std::vector<TableRow>> tables;
        std::map<bool, std::vector<std::string>> seen;
        for (bool stages : {false, true}) {
            map()->clearLayers();
            ui.driver.messages.clear();
            writePatches(data.path(), "patches", patches);
            {
                // Patch 5 crosses itself: a bow tie.
                auto fc = h::FeatureClass::open(data.file("patches.shp"));
                auto row = fc->feature(5);
                row->setShape(h::Geometry::polygon({{{80, 0}, {83, 7}, {83, 0}, {80, 7}}}));
                row->store();
                fc->flush();
            }
            auto layer = addLayer(data.file("patches.shp"));
            if (!c.selected.empty()) layer->selectionSet().add(c.selected);
            const std::string folder = out.file(stages ? "stages" : "onepass");
            std::filesystem::create_directories(folder);
            h::data::setDirectDbfWrites(!stages);
            kv::RunSpatialStats(&h::Application::instance(), "patches", "CLS", c.raster, true, folder + "/stats.dbf",
                                false, c.boxes, c.landscape, true);
            h::data::setDirectDbfWrites(true);
            tables[stages] = readRows(folder + "/stats.dbf");
            for (TableRow& row : tables[stages]) row.erase("RunDate");
            seen[stages] = messages();
            map()->clearLayers();
            h::ShapefileWorkspace::open(data.path()).deleteDataset("patches");
        }
        EXPECT_EQ(tables[false], tables[true]);
        EXPECT_EQ(seen[false], seen[true]);
        for (const char* ext : {".shp", ".shx", ".dbf", ".prj"}) {
            auto bytes = [&](const std::string& folder) {
                std::ifstream in(out.file(folder + "/patches" + ext), std::ios::binary);
                std::vector<char> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                if (std::string(ext) == ".dbf")
                    for (size_t i = 1; i < 4 && i < b.size(); ++i) b[i] = 0;  // the day of writing
                return b;
            };
            EXPECT_EQ(bytes("onepass"), bytes("stages")) << ext;
        }
        std::filesystem::remove_all(out.file("onepass"));
        std::filesystem::remove_all(out.file("stages"));
    }
}

// Requests refused before anything is written: the message, and an output
// folder that stays empty.
TEST_F(RunTableTest, RefusedRequestsWriteNothing) {
    addHandFixture("patches");
    addHandFixture("nocores", false);
    {
        auto fc = h::ShapefileWorkspace::open(data.path()).openFeatureClass("patches");
        fc->addField({"Perimeter", h::FieldString, 10, 0, 0});
    }
    writePatches(out.path(), "taken", handFixture());
    struct Case {
        std::string layer, classField, table;
        Boxes boxes;
        std::string title, textStart;
    };
    const Case cases[] = {
        {"missing", "CLS", "s.dbf", {"chkClassArea"}, "Missing Data", "Layer 'missing' could not be found on map."},
        {"patches", "COVER", "s.dbf", {"chkClassArea"}, "Missing Field", "Could not find field 'COVER' in layer"},
        {"patches", "CLS", "s.dbf", {"NIL"}, "Missing Information", "There were no checked boxes"},
        {"patches", "CLS", "s.dbf", {"nil"}, "Missing Information", "There were no checked boxes"},
        {"nocores", "CLS", "s.dbf", {"chkClassArea", "chkAreaDensity"}, "Missing Field",
         "Could not find field 'Patch_Area' in layer 'nocores'."},
        {"nocores", "CLS", "s.dbf", {"chkTotalAreaIndex"}, "Missing Field",
         "Could not find field 'Patch_Area' in layer 'nocores'."},
        {"patches", "perimeter", "s.dbf", {"chkNumOfPatches"}, "Cannot Continue",
         "The class field 'perimeter' has the name of a field that the analysis writes"},
        // The table would be the attribute table of a shapefile there.
        {"patches", "CLS", "taken.dbf", {"chkClassArea"}, "Cannot Continue", "Cannot write the output table"},
    };
    const auto before = out.files();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title + ": " + c.textStart);
        ui.driver.messages.clear();
        run(c.layer, c.classField, out.file(c.table), true, c.boxes);
        ASSERT_EQ(ui.driver.messages.size(), 1u);
        EXPECT_EQ(ui.driver.messages[0].title, c.title);
        EXPECT_EQ(ui.driver.messages[0].text.rfind(c.textStart, 0), 0u) << ui.driver.messages[0].text;
        EXPECT_EQ(out.files(), before);
    }
    EXPECT_TRUE(ui.driver.errorReports.empty());
}

TEST_F(RunTableTest, RunNumberBeyondThreeDigitsIsRefused) {
    addHandFixture("patches");
    const std::string table = out.file("stats.dbf");
    run("patches", "CLS", table, true, {"chkClassArea"});
    {
        auto t = h::Table::open(table);
        auto row = t->row(0);
        row->setValue("Run", 999);
        row->store();
        t->flush();
    }
    run("patches", "CLS", table, true, {"chkClassArea"});
    ASSERT_EQ(ui.driver.messages.size(), 1u);
    EXPECT_EQ(ui.driver.messages[0].title, "Cannot Continue");
    EXPECT_NE(ui.driver.messages[0].text.find("already holds run 999"), std::string::npos);
    EXPECT_EQ(readRows(table).size(), 2u);
    EXPECT_EQ(out.files(), (std::vector<std::string>{"stats.cpg", "stats.dbf"}));
}

// A class field whose values no where clause can select stops the run after
// the table step: the table being made is dropped, the old table it was to
// replace stays, and the working copy goes.
TEST_F(RunTableTest, UnsearchableClassesStopTheRunAndKeepTheOldTable) {
    addHandFixture("patches");
    const std::string table = out.file("stats.dbf");
    run("patches", "CLS", table, true, {"chkClassArea"});
    {
        auto fc = h::ShapefileWorkspace::open(data.path()).openFeatureClass("patches");
        fc->addField({"AND", h::FieldSmallInteger, 0, 4, 0});
        auto rows = fc->update(nullptr, false);
        while (auto r = rows.next()) {
            r->setValue("AND", static_cast<int32_t>(r->oid() % 2));
            rows.updateRow(*r);
        }
        fc->flush();
    }
    for (bool append : {false, true}) {
        ui.driver.messages.clear();
        run("patches", "AND", table, append, {"chkNumOfPatches"});
        ASSERT_EQ(ui.driver.messages.size(), 1u);
        EXPECT_EQ(ui.driver.messages[0].title, "RunSpatialStats SubFunction");
        EXPECT_EQ(ui.driver.messages[0].text, "Unable to search the layer.");
        auto rows = readRows(table);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(num(rows[1], "CA"), 200);
        EXPECT_EQ(out.files(), (std::vector<std::string>{"stats.cpg", "stats.dbf"}));
    }
    // On a new table nothing stays behind.
    run("patches", "AND", out.file("fresh.dbf"), true, {"chkNumOfPatches"});
    EXPECT_EQ(out.files(), (std::vector<std::string>{"stats.cpg", "stats.dbf"}));
}

// An appended table without the header fields fails when its first row is
// written: the failure goes to the caller, and the run leaves no working copy,
// no progress window and no half-written row behind.
TEST_F(RunTableTest, UnexpectedFailureReachesTheCallerAndCleansUp) {
    addHandFixture("patches");
    h::ShapefileWorkspace::open(out.path()).createTable("odd", {{"Run", h::FieldSmallInteger, 0, 3, 0}});
    const auto before = out.files();
    EXPECT_THROW(run("patches", "CLS", out.file("odd.dbf"), true, {"chkClassArea"}), h::Failure);
    EXPECT_EQ(out.files(), before);
    EXPECT_EQ(readRows(out.file("odd.dbf")).size(), 0u);
    EXPECT_TRUE(ui.driver.messages.empty());
    // A later run goes on as usual.
    run("patches", "CLS", out.file("good.dbf"), true, {"chkClassArea"});
    EXPECT_EQ(readRows(out.file("good.dbf")).size(), 2u);
}

}  // namespace
}  // namespace kvtest
