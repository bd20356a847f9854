// The batch runner against the runs it replays: a line written by the
// Spatial Statistics or core-area writer and run from the batch file gives
// what the direct call gives. Also the reading of single lines and the
// configuration-file writer.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "host/Application.h"
#include "host/Failure.h"
#include "host/System.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Value.h"
#include "host/data/Workspace.h"
#include "shared/ErrorHandling.h"
#include "vector/Forms/frmBatch.h"
#include "vector/Forms/frmCores.h"
#include "vector/Forms/frmSpatialStat.h"
#include "vector/Modules/modKorvaneIni.h"

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {

using Rows = std::map<std::string, std::map<std::string, double>>;

std::string readAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class BatchRun : public ::testing::Test {
protected:
    void SetUp() override {
        driver.echoForms = false;
        h::setUi(&driver);
        app().setDocument(std::make_shared<h::Document>());
        map()->setMapUnits(h::UnitMeters);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = (sfs::temp_directory_path() / ("kv-batch-" + std::to_string(::getpid()) + "-" + info->name())).string();
        sfs::remove_all(dir);
        sfs::create_directories(dir);
    }
    void TearDown() override {
        app().setDocument(std::make_shared<h::Document>());
        h::setUi(nullptr);
        sfs::remove_all(dir);
    }
    static h::Application& app() { return h::Application::instance(); }
    static h::MapPtr map() { return app().document()->focusMap(); }
    std::string file(const std::string& name) const { return dir + "/" + name; }

    void writeBatch(const std::vector<std::string>& lines) const { h::fs::WriteTextFile(file("runs.kv"), lines); }
    void runBatch() { kv::RunBatchFile(&app(), file("runs.kv")); }

    // The numeric values of the rows of one run of a statistics table, by class.
    static Rows rowsOfRun(const std::string& table, int run) {
        Rows rows;
        auto t = h::Table::open(table);
        h::Cursor c = t->search(nullptr, false);
        while (h::RowPtr r = c.next()) {
            if (h::toDouble(r->value("Run")) != run) continue;
            auto& values = rows[h::toText(r->value("Class"))];
            for (const auto& f : t->fields().all())
                if (h::isNumber(r->value(f.name)) && f.name != "Run" && f.name != "OID") values[f.name] = h::toDouble(r->value(f.name));
        }
        return rows;
    }

    // A layer of two squares, 10 x 10 and 20 x 20, with the ID field PATCH.
    void addSquares() {
        auto fc = h::ShapefileWorkspace::open(dir).createFeatureClass("squares", {{"PATCH", h::FieldInteger, 0, 9, 0}},
                                                                      h::ShapeType::Polygon);
        const char* wkt[] = {"POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))", "POLYGON ((30 0, 50 0, 50 20, 30 20, 30 0))"};
        for (int i = 0; i < 2; ++i) {
            auto f = fc->createFeature();
            f->setShape(h::Geometry::fromWkt(wkt[i]));
            f->setValue("PATCH", i + 1);
            f->store();
        }
        fc->flush();
        map()->addLayer(std::make_shared<h::FeatureLayer>(fc, "squares"));
    }
    // PATCH, Patch_Area and Core_Area of every row of a core shapefile, and its area.
    static std::vector<std::vector<double>> coreRows(const std::string& path) {
        std::vector<std::vector<double>> rows;
        auto layer = h::openFeatureLayer(path);
        auto c = layer->featureClass()->search(nullptr, false);
        while (auto f = c.next())
            rows.push_back({h::toDouble(f->value("PATCH")), h::toDouble(f->value("Patch_Area")),
                            h::toDouble(f->value("Core_Area")), f->shape().area()});
        return rows;
    }

    std::ostringstream out;
    h::ScriptDriver driver{out};
    std::string dir;
};

}  // namespace

TEST_F(BatchRun, ASavedStatisticsRunAddsTheRunTheDirectCallAdds) {
    map()->addLayer(h::openFeatureLayer(std::string(KV_SAMPLE_DIR) + "/landscape.shp"));
    const std::string table = file("stats.dbf");
    for (bool landscape : {false, true}) {
        SCOPED_TRACE(landscape ? "landscape" : "class");
        sfs::remove(table);
        kv::SpatialStatsRequest r;
        r.ThemeName = "landscape";
        r.ClassField = "FORTYPE";
        r.NewTableFileName = table;
        r.blnAppend = false;   // a saved run appends all the same
        r.CheckedBoxes = {"chkMeanShapeIndex", "chkTotalEdge", "chkMeanPatchSize", "chkNumOfPatches",
                          "chkClassArea"};
        if (landscape) r.CheckedBoxes.insert(r.CheckedBoxes.begin(), "chkShannonsDiversity");
        r.blnLandscape = landscape;
        r.blnAsHectares = true;

        kv::frmSpatialStat direct;
        direct.setArcMapHook(&app());
        direct.RunSpatialStats(&app(), r.ThemeName, r.ClassField, r.blnRaster, r.blnAddNewLayerToMap,
                               r.NewTableFileName, true, r.CheckedBoxes, r.blnLandscape, r.blnAsHectares);
        // Two lines naming the same table add two runs, in file order.
        writeBatch({kv::SpatialStatsBatchLine(r), kv::SpatialStatsBatchLine(r)});
        runBatch();
        ASSERT_TRUE(driver.errorReports.empty()) << driver.errorReports.front();

        Rows first = rowsOfRun(table, 1);
        ASSERT_FALSE(first.empty());
        EXPECT_EQ(first.count("All"), landscape ? 1u : 0u);
        EXPECT_EQ(rowsOfRun(table, 2), first);
        EXPECT_EQ(rowsOfRun(table, 3), first);
        EXPECT_TRUE(rowsOfRun(table, 4).empty());
    }
    EXPECT_TRUE(driver.messages.empty()) << driver.messages.front().text;
}

TEST_F(BatchRun, ASavedCoreAreaRunWritesTheCoresTheDirectCallWrites) {
    addSquares();
    kv::frmCores direct;
    direct.setArcMapHook(&app());
    direct.CreateCores(dir, "direct", "squares", "PATCH", 2.5, true, false);

    kv::CoreAreaRequest r{dir, "replayed", "squares", "PATCH", 2.5, true, false};
    // The command word in another letter case runs like the written form.
    std::string line = kv::CoreAreaBatchLine(r);
    line.replace(0, 11, "createCORES");
    writeBatch({line});
    runBatch();
    EXPECT_TRUE(driver.errorReports.empty()) << driver.errorReports.front();

    auto expected = coreRows(file("direct.shp"));
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(coreRows(file("replayed.shp")), expected);
    EXPECT_EQ(map()->layerCount(), 1);   // add to map was off
}

TEST_F(BatchRun, SkippedLinesLetTheRunGoOnAndAFailingLineEndsItThroughTheHandler) {
    addSquares();
    auto cores = [&](const std::string& name, const std::string& rest) {
        return "CreateCores " + dir + ", " + name + ", squares, PATCH, " + rest;
    };
    struct Case {
        const char* what;
        std::string bad;
        const char* description;   // part of the error report; empty: the line is skipped
    };
    const Case cases[] = {
        {"empty line", "", ""},
        {"leading blank", " " + cores("lead", "1, True, False"), ""},
        {"other word", "Comment " + cores("other", "1, True, False"), ""},
        {"no blank", "CreateCores", ""},
        {"unknown NIL list", "RunSpatialStats ArcMapHook, nothing, FORTYPE, False, False, " + file("t.dbf") +
                                 ", True, [NIL], False, False",
         ""},
        {"flag as number", cores("numeric", "1, -1, 0"), ""},
        {"flag word", cores("word", "1, Yes, False"), "Type mismatch"},
        {"number word", cores("number", "wide, True, False"), "Type mismatch"},
        {"too few arguments", "CreateCores " + dir + ", short, squares", "Subscript out of range"},
        {"list never closed, any word", "Note [a,b", "no closing"},
        {"list closed before opened", "Note ]a,[b", "no closing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        driver.errorReports.clear();
        driver.messages.clear();
        for (const char* n : {"before", "after"}) sfs::remove(file(std::string(n) + ".shp"));
        writeBatch({cores("before", "1, True, False"), c.bad, cores("after", "1, True, False")});
        // The runner's caller reports at the top: the dialog's Run button.
        kv::Procedure top("cmdRun_Click", "Forms/frmBatch", kv::TopLevel);
        top.run([&] { runBatch(); });

        EXPECT_TRUE(sfs::exists(file("before.shp")));
        if (*c.description) {
            ASSERT_EQ(driver.errorReports.size(), 1u);
            EXPECT_NE(driver.errorReports[0].find(c.description), std::string::npos) << driver.errorReports[0];
            EXPECT_NE(driver.errorReports[0].find("cmdRun_Click Forms/frmBatch"), std::string::npos);
            EXPECT_FALSE(sfs::exists(file("after.shp")));
        } else {
            EXPECT_TRUE(driver.errorReports.empty()) << driver.errorReports.front();
            EXPECT_TRUE(sfs::exists(file("after.shp")));
        }
    }
    EXPECT_TRUE(sfs::exists(file("numeric.shp")));
}

TEST_F(BatchRun, AMissingFileIsReportedAndAnEmptyOneRunsNothing) {
    runBatch();
    ASSERT_EQ(driver.messages.size(), 1u);
    EXPECT_EQ(driver.messages[0].text, "The batch file '" + file("runs.kv") + "' could not be found.  Aborting.");
    EXPECT_EQ(driver.messages[0].title, "File not found");
    writeBatch({});
    runBatch();
    EXPECT_EQ(driver.messages.size(), 1u);
    EXPECT_TRUE(driver.errorReports.empty());
}

TEST(BatchLine, ArgumentsAndTheListAreReadAsStored) {
    auto p = kv::ParseBatchLine("RunSpatialStats ArcMapHook,  Forest , COVER, False, True, /o/s.dbf, True, "
                                "[chkA, chkB,chkC], False, True");
    EXPECT_EQ(p.command, "RunSpatialStats");
    EXPECT_EQ(p.args, (std::vector<std::string>{"ArcMapHook", "Forest", "COVER", "False", "True", "/o/s.dbf", "True",
                                                "chkA, chkB,chkC", "False", "True"}));
    EXPECT_EQ(p.isList, (std::vector<bool>{false, false, false, false, false, false, false, true, false, false}));
    // The items are not trimmed: a blank after a comma stays with the item.
    EXPECT_EQ(p.list, (std::vector<std::string>{"chkA", " chkB", "chkC"}));

    auto last = kv::ParseBatchLine("Run a, [x]");
    EXPECT_EQ(last.args.size(), 2u);
    EXPECT_TRUE(last.isList[1]);
    EXPECT_EQ(last.list, std::vector<std::string>{"x"});
    EXPECT_EQ(kv::ParseBatchLine("CreateCores").command, "");
    EXPECT_EQ(kv::ParseBatchLine(" CreateCores a, b").command, "");
}

TEST(BatchLine, FlagsAndNumbersConvertAsStoredValuesDo) {
    const std::pair<const char*, bool> flags[] = {{"True", true}, {"false", false}, {"TRUE", true}, {"0", false},
                                                  {"-1", true},   {"2.5", true},    {"FaLsE", false}};
    for (auto [text, value] : flags) EXPECT_EQ(kv::BatchFlag(text), value) << text;
    for (const char* bad : {"Yes", "", "1x", "T"}) EXPECT_THROW(kv::BatchFlag(bad), h::Failure) << bad;

    const std::pair<const char*, double> numbers[] = {{"50", 50}, {"12.5", 12.5}, {"-3", -3}, {"1e2", 100}};
    for (auto [text, value] : numbers) EXPECT_EQ(kv::BatchNumber(text), value) << text;
    for (const char* bad : {"", "12,5", "inf", "nan", "5m"}) EXPECT_THROW(kv::BatchNumber(bad), h::Failure) << bad;
}

TEST(KorvaneIniWriter, StoresAfterEverySectionLineAndKeepsTheOthers) {
    struct Case {
        const char* what;
        std::vector<std::string> lines, expected;
    };
    const Case cases[] = {
        {"one section among others",
         {"; settings", "", "[Other]", "Location=/x.kv", "[KorvaneBatch]", "Location = /old.kv", "tail"},
         {"; settings", "", "[Other]", "Location=/x.kv", "[KorvaneBatch]", "Location=/new.kv", "tail"}},
        {"two sections", {"[KorvaneBatch]", "Location=/a.kv", "[KorvaneBatch]", "/b.kv"},
         {"[KorvaneBatch]", "Location=/new.kv", "[KorvaneBatch]", "Location=/new.kv"}},
        {"section as last line", {"x", "[KorvaneBatch]"}, {"x", "[KorvaneBatch]", "Location=/new.kv"}},
        {"no section line", {"[korvanebatch]", "Location=/a.kv", "[KorvaneBatch] "},
         {"[korvanebatch]", "Location=/a.kv", "[KorvaneBatch] "}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(kv::LinesWithBatchLocation(c.lines, "/new.kv"), c.expected) << c.what;
}

TEST(KorvaneIniWriter, RewritesTheFileWholeWithCrLfAndRefusesAReadOnlyOne) {
    const std::string ini =
        (sfs::temp_directory_path() / ("kv-batch-ini-" + std::to_string(::getpid()) + ".ini")).string();
    // More lines than a 16-bit counter holds, the last without its line end.
    std::string content = "[KorvaneBatch]\r\nLocation=/old.kv\n";
    for (int i = 0; i < 40000; ++i) content += "k" + std::to_string(i) + "=v\r\n";
    content += "end";
    std::ofstream(ini, std::ios::binary) << content;

    kv::WriteBatchLocation(ini, "/runs/new.kv");
    std::string expected = "[KorvaneBatch]\r\nLocation=/runs/new.kv\r\n";
    for (int i = 0; i < 40000; ++i) expected += "k" + std::to_string(i) + "=v\r\n";
    expected += "end\r\n";
    EXPECT_EQ(readAll(ini), expected);
    EXPECT_EQ(kv::ReadBatchLocation(ini).location, "/runs/new.kv");

    // Through a link: the linked file is rewritten, the link stays.
    const std::string link = ini + ".link";
    sfs::remove(link);
    sfs::create_symlink(ini, link);
    kv::WriteBatchLocation(link, "/runs/linked.kv");
    EXPECT_TRUE(sfs::is_symlink(link));
    EXPECT_EQ(kv::ReadBatchLocation(ini).location, "/runs/linked.kv");
    sfs::remove(link);
    kv::WriteBatchLocation(ini, "/runs/new.kv");

    h::fs::SetReadOnly(ini, true);
    EXPECT_THROW(kv::WriteBatchLocation(ini, "/other.kv"), h::Failure);
    h::fs::SetReadOnly(ini, false);
    EXPECT_EQ(readAll(ini), expected);
    sfs::remove(ini);
}

TEST(DefaultBatchFolder, IsMadeOnFirstWriteOnlyForTheBuildsDefaultFile) {
    const sfs::path root = sfs::temp_directory_path() / ("kv-batch-folder-" + std::to_string(::getpid()));
    sfs::remove_all(root);
    const std::string defaultFile = (root / "data" / "Korvane" / "Korvane.kv").string();
    // The build names a file in the user's data folder but does not make the folder.
    EXPECT_EQ(sfs::path(kv::DefaultBatchFile()).filename(), "Korvane.kv");

    // Another location with a missing folder stays missing (the writer then
    // shows its invalid-location message).
    kv::MakeDefaultBatchFolder((root / "elsewhere" / "Korvane.kv").string(), defaultFile);
    EXPECT_FALSE(sfs::exists(root / "elsewhere"));
    EXPECT_FALSE(sfs::exists(root / "data"));

    // The default file, also spelt with a redundant part, gets its folder.
    kv::MakeDefaultBatchFolder((root / "data" / "." / "Korvane" / "Korvane.kv").string(), defaultFile);
    EXPECT_TRUE(sfs::is_directory(root / "data" / "Korvane"));
    EXPECT_FALSE(sfs::exists(defaultFile));   // the file itself is the writer's
    sfs::remove_all(root);
}
