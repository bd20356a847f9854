// Spatial Analysis by Regions: the run on a few squares against values worked
// out by hand, the table it writes, the dialog and the command driven like a
// user, the faults it must not have, and a run over the sample landscape.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "FaultInjection.h"
#include "Fixture.h"
#include "host/Document.h"
#include "host/FileReplace.h"
#include "host/System.h"
#include "host/data/TableImpl.h"
#include "host/data/Value.h"
#include "vector/Classes/clsRegionalAnalysis.h"
#include "vector/Forms/frmRegionalAnalysis.h"
#include "vector/Modules/modMisc.h"
#include "vector/Modules/modSpatialStats.h"
#include "shared/modMisc.h"

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {

const double kPi = 3.14159265358979;

struct Square {
    double x, y, side;
    std::string region;
    int32_t zone;
    std::string cls;
};

// North: Pine 10x10, Spruce 10x10, Pine 20x20; South: Spruce 10x10.
const std::vector<Square> kTwoRegions = {
    {0, 0, 10, "North", 1, "Pine"},
    {10, 0, 10, "North", 1, "Spruce"},
    {20, 0, 20, "North", 1, "Pine"},
    {0, 20, 10, "South", 2, "Spruce"},
};

using Row = std::map<std::string, h::Value>;

struct Regions : DataFixture {
    h::Application& app = h::Application::instance();
    kv::clsRegionalAnalysis cmd;
    Regions() {
        map()->setMapUnits(h::UnitMeters);
        cmd.OnCreate(&app);
    }
    ~Regions() {
        cmd.dialog()->unload();
        app.setDocument(std::make_shared<h::Document>());
    }
    kv::frmRegionalAnalysis& form() { return static_cast<kv::frmRegionalAnalysis&>(*cmd.dialog()); }
    std::string out(const std::string& name = "stats.dbf") const { return (dir / name).string(); }

    // Squares with REGION (text), ZONE (long), VALUE (double) and CLASS (text), put on the map.
    h::FeatureLayerPtr layer(const std::string& name, const std::vector<Square>& squares) {
        auto fc = workspace().createFeatureClass(name,
                                                 {{"REGION", h::FieldString, 12, 0, 0},
                                                  {"ZONE", h::FieldInteger, 9, 0, 0},
                                                  {"VALUE", h::FieldDouble, 0, 12, 4},
                                                  {"CLASS", h::FieldString, 12, 0, 0},
                                                  {"NOTE", h::FieldString, 12, 0, 0}},
                                                 h::ShapeType::Polygon);
        for (const Square& s : squares) {
            auto f = fc->createFeature();
            f->setShape(h::Geometry::polygon({square(s.x, s.y, s.side)}));
            f->setValue("REGION", s.region);
            f->setValue("ZONE", s.zone);
            f->setValue("VALUE", s.zone + 0.25 * s.zone);
            f->setValue("CLASS", s.cls);
            f->setValue("NOTE", "x");
            f->store();
        }
        fc->flush();
        auto l = std::make_shared<h::FeatureLayer>(fc, name);
        map()->addLayer(l);
        return l;
    }

    static std::vector<std::string> fieldNames(const h::TablePtr& t) {
        std::vector<std::string> names;
        for (const h::FieldDef& f : t->fields().all())
            if (f.name != t->oidFieldName()) names.push_back(f.name);
        return names;
    }
    static std::vector<Row> rows(const std::string& path) {
        h::TablePtr t = h::Table::open(path);
        std::vector<Row> all;
        h::Cursor c = t->search(nullptr, false);
        while (h::RowPtr r = c.next()) {
            Row row;
            for (const std::string& name : fieldNames(t)) row[name] = r->value(name);
            all.push_back(row);
        }
        return all;
    }

    void act(const std::vector<std::string>& lines) {
        driver.addLines(lines);
        driver.driveModeless();
    }
    // Opens the dialog through the command and runs the given choices.
    void runDialog(const std::vector<std::string>& lines) {
        cmd.OnClick();
        act(lines);
    }
    std::vector<std::string> classLevel(const std::string& layerName, const std::string& region,
                                        const std::string& table) {
        return {"set lstLayers " + layerName, "set cboClass CLASS", "set cboRegion " + region,
                "click txtTableName", "file " + table, "click cmdOK"};
    }
    std::string messages() const {
        std::string all;
        for (auto& m : driver.messages) all += m.title + ": " + m.text + "\n";
        return all;
    }
    // The datasets in the folder, by name.
    std::set<std::string> datasetsInDir() const {
        std::set<std::string> names;
        for (auto& e : sfs::directory_iterator(dir)) names.insert(e.path().stem().string());
        return names;
    }
};

// A UI that also records each text the status line shows.
struct Recorder : h::ScriptDriver {
    using h::ScriptDriver::ScriptDriver;
    std::vector<std::string> statuses;
    void controlChanged(h::Control& c) override {
        // A repaint reports the label again; each text counts once.
        auto* label = dynamic_cast<h::Label*>(&c);
        if (label && c.name() == "lblStatus" && (statuses.empty() || statuses.back() != label->caption()))
            statuses.push_back(label->caption());
        h::ScriptDriver::controlChanged(c);
    }
};

double num(const Row& r, const std::string& f) { return h::toDouble(r.at(f)); }
std::string text(const Row& r, const std::string& f) { return h::toText(r.at(f)); }

// The table holds single-precision numbers.
void expectMetric(const Row& r, const std::string& code, double want) {
    EXPECT_NEAR(num(r, code), want, 1e-6 * std::max(1.0, std::abs(want))) << code << " of " << text(r, "Class");
}

const std::vector<std::string> kMetricFields = {"CA", "TLA", "NumP", "MPS", "MedPS", "PSCoV", "PSSD", "TE",
                                                "ED", "MPE", "MSI", "AWMSI", "MPAR", "MPFD", "AWMPFD"};

}  // namespace

// Class level through the dialog: one row per region and class present, in
// sorted region order and first-seen class order, every metric as worked out
// by hand; the working copy is gone and the table is in the map.
TEST(RegionalAnalysis, ClassLevelGivesHandValuesPerRegionAndClass) {
    Regions s;
    s.layer("patches", kTwoRegions);
    s.runDialog(s.classLevel("patches", "REGION", s.out()));
    EXPECT_EQ(s.messages(), "");
    ASSERT_TRUE(s.driver.errorReports.empty()) << s.driver.errorReports[0];

    h::TablePtr t = h::Table::open(s.out());
    std::vector<std::string> header = {"RunDate", "REGION", "Class"};
    header.insert(header.end(), kMetricFields.begin(), kMetricFields.end());
    EXPECT_EQ(Regions::fieldNames(t), header);
    EXPECT_EQ(t->fields().field(t->findField("REGION")).type, h::FieldString);
    EXPECT_EQ(t->fields().field(t->findField("CA")).type, h::FieldSingle);

    std::vector<Row> rows = Regions::rows(s.out());
    ASSERT_EQ(rows.size(), 3u);   // no Pine row for South
    const double si = 40 / (2 * std::sqrt(100 * kPi));   // every square has this shape index
    const double fd10 = 2 * std::log(40.0) / std::log(100.0), fd20 = 2 * std::log(80.0) / std::log(400.0);
    struct Want {
        std::string region, cls;
        double ca, tla, nump, mps, medps, pscov, pssd, te, mpe, mpar, mpfd, awmpfd;
    };
    const std::vector<Want> want = {
        {"North", "Pine", 500, 600, 2, 250, 250, 60, 150, 120, 60, 0.3, (fd10 + fd20) / 2,
         (100 * fd10 + 400 * fd20) / 500},
        {"North", "Spruce", 100, 600, 1, 100, 100, 0, 0, 40, 40, 0.4, fd10, fd10},
        {"South", "Spruce", 100, 100, 1, 100, 100, 0, 0, 40, 40, 0.4, fd10, fd10},
    };
    for (size_t i = 0; i < want.size(); ++i) {
        const Row& r = rows[i];
        const Want& w = want[i];
        EXPECT_EQ(text(r, "REGION"), w.region);
        EXPECT_EQ(text(r, "Class"), w.cls);
        EXPECT_FALSE(text(r, "RunDate").empty());
        expectMetric(r, "CA", w.ca);
        expectMetric(r, "TLA", w.tla);
        expectMetric(r, "NumP", w.nump);
        expectMetric(r, "MPS", w.mps);
        expectMetric(r, "MedPS", w.medps);
        expectMetric(r, "PSCoV", w.pscov);
        expectMetric(r, "PSSD", w.pssd);
        expectMetric(r, "TE", w.te);
        expectMetric(r, "ED", w.te / w.tla);
        expectMetric(r, "MPE", w.mpe);
        expectMetric(r, "MSI", si);
        expectMetric(r, "AWMSI", si);
        expectMetric(r, "MPAR", w.mpar);
        expectMetric(r, "MPFD", w.mpfd);
        expectMetric(r, "AWMPFD", w.awmpfd);
    }

    // Only the source (now with Area and Perimeter) and the table remain.
    EXPECT_EQ(s.datasetsInDir(), (std::set<std::string>{"patches", "stats"}));
    auto source = h::FeatureClass::open((s.dir / "patches.shp").string());
    EXPECT_GE(source->findField("Area"), 0);
    EXPECT_GE(source->findField("Perimeter"), 0);
    ASSERT_EQ(s.map()->tables().size(), 1u);
    EXPECT_EQ(s.map()->tables()[0]->name(), "stats");
    EXPECT_EQ(s.form().get<h::Label>("lblStatus").caption(), "FINISHED");
}

// Landscape level: the region field's values are the classes, no region
// column, TLA the whole layer in every row; the class field is disabled.
TEST(RegionalAnalysis, LandscapeLevelHasOneRowPerRegionValueAndNoRegionColumn) {
    Regions s;
    s.layer("patches", kTwoRegions);
    s.runDialog({"set lstLayers patches", "click optLandscape", "set cboRegion REGION", "click txtTableName",
                 "file " + s.out(), "click cmdOK"});
    EXPECT_EQ(s.messages(), "");
    EXPECT_TRUE(s.driver.errorReports.empty());
    EXPECT_FALSE(s.form().get<h::ComboBox>("cboClass").enabled());
    EXPECT_FALSE(s.form().get<h::Label>("lblClass").enabled());

    std::vector<std::string> header = {"RunDate", "Class"};
    header.insert(header.end(), kMetricFields.begin(), kMetricFields.end());
    EXPECT_EQ(Regions::fieldNames(h::Table::open(s.out())), header);
    std::vector<Row> rows = Regions::rows(s.out());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(text(rows[0], "Class"), "North");
    EXPECT_EQ(text(rows[1], "Class"), "South");
    expectMetric(rows[0], "CA", 600);
    expectMetric(rows[1], "CA", 100);
    for (const Row& r : rows) expectMetric(r, "TLA", 700);
    expectMetric(rows[0], "ED", 160.0 / 700);
    expectMetric(rows[1], "NumP", 1);
}

// Where clauses and the region column follow the region field's type; a
// region field of fractional numbers keeps its values apart.
TEST(RegionalAnalysis, RegionColumnFollowsTheRegionFieldType) {
    struct Case {
        const char* field;
        int32_t columnType;
        std::vector<std::string> regions;
    };
    for (const Case& c : std::vector<Case>{{"REGION", h::FieldString, {"North", "North", "South"}},
                                           {"ZONE", h::FieldInteger, {"1", "1", "2"}},
                                           {"VALUE", h::FieldDouble, {"1.25", "1.25", "2.5"}}}) {
        SCOPED_TRACE(c.field);
        Regions s;
        s.layer("patches", kTwoRegions);
        s.runDialog(s.classLevel("patches", c.field, s.out()));
        EXPECT_EQ(s.messages(), "");
        EXPECT_TRUE(s.driver.errorReports.empty());
        h::TablePtr t = h::Table::open(s.out());
        EXPECT_EQ(t->fields().field(t->findField(c.field)).type, c.columnType);
        std::vector<std::string> got;
        for (const Row& r : Regions::rows(s.out())) got.push_back(text(r, c.field));
        EXPECT_EQ(got, c.regions);
    }
}

// The status line between regions names the region field, the value just
// done and the share of regions done.
TEST(RegionalAnalysis, StatusShowsRegionAndShareDone) {
    Regions s;
    Recorder recorder(static_cast<TestUi&>(s).out);
    h::setUi(&recorder);
    std::vector<Square> zones;
    for (int z = 4; z >= 1; --z) zones.push_back({z * 10.0, 0, 10, "R", z, z % 2 ? "Pine" : "Spruce"});
    s.layer("zones", zones);
    s.cmd.OnClick();
    recorder.addLines(s.classLevel("zones", "ZONE", s.out()));
    recorder.driveModeless();
    h::setUi(&s.driver);
    EXPECT_TRUE(recorder.messages.empty());
    std::vector<std::string> want = {"Idle",
                                     "Initializing",
                                     "Initializing - Creating list of region values",
                                     "Initializing - Creating list of class values",
                                     "Calculating area and perimeter on source layer",
                                     "Processing  --  ZONE = 1   (0% complete)",
                                     "Processing  --  ZONE = 1   (25% complete)",
                                     "Processing  --  ZONE = 2   (50% complete)",
                                     "Processing  --  ZONE = 3   (75% complete)",
                                     "Processing  --  ZONE = 4   (100% complete)",
                                     "FINISHED"};
    EXPECT_EQ(recorder.statuses, want);
}

// Text values holding an apostrophe are searched like any other.
TEST(RegionalAnalysis, ApostropheInRegionAndClassValues) {
    Regions s;
    s.layer("patches", {{0, 0, 10, "O'Hara", 1, "Jack's"}, {10, 0, 10, "O'Hara", 1, "Pine"},
                        {0, 20, 10, "South", 2, "Jack's"}});
    s.runDialog(s.classLevel("patches", "REGION", s.out()));
    EXPECT_EQ(s.messages(), "");
    EXPECT_TRUE(s.driver.errorReports.empty());
    std::vector<std::string> got;
    for (const Row& r : Regions::rows(s.out())) got.push_back(text(r, "REGION") + "/" + text(r, "Class"));
    EXPECT_EQ(got, (std::vector<std::string>{"O'Hara/Jack's", "O'Hara/Pine", "South/Jack's"}));
}

// An unexpected failure inside the run is raised to the caller, and the
// working copy goes all the same.
TEST(RegionalAnalysis, FailureInsideTheRunLeavesNoWorkingCopy) {
    Regions s;
    s.layer("patches", kTwoRegions);
    kv::frmRegionalAnalysis& f = s.form();
    EXPECT_ANY_THROW(f.RunRegionalSpatialStats(&s.app, "patches", "CLASS", false, s.out(), false, {"CA", "Bogus"},
                                               false, false, "REGION", h::Value{std::string("North")}));
    EXPECT_EQ(s.datasetsInDir(), (std::set<std::string>{"patches", "stats"}));
}

// The questions before a run and what No leaves untouched.
TEST(RegionalAnalysis, CountQuestionsAndMissingTableStopBeforeTheSourceIsTouched) {
    std::vector<Square> oneRegion = {{0, 0, 10, "North", 1, "Pine"}, {10, 0, 10, "North", 1, "Spruce"}};
    std::vector<Square> oneClass = {{0, 0, 10, "North", 1, "Pine"}, {10, 0, 10, "South", 2, "Pine"}};
    std::vector<Square> fiftyOne, fifty;
    for (int i = 0; i < 51; ++i) {
        fiftyOne.push_back({i * 10.0, 0, 10, "R" + std::to_string(i), i, i % 2 ? "Pine" : "Spruce"});
        if (i < 50) fifty.push_back(fiftyOne.back());
    }
    struct Case {
        const char* name;
        std::vector<Square> squares;
        std::string table;   // empty: none chosen
        std::string question;
    };
    const std::string regions51 = "Regions Count: Regions field has more than 50 unique records.\r\nCONTINUE?\n";
    const std::string region1 = "Regions Count: Regions field has 1 or less unique records.\r\nCONTINUE?\n";
    const std::string class1 = "Class Count: Class field has 1 or less unique records.\r\nCONTINUE?\n";
    for (const Case& c : std::vector<Case>{{"51 regions", fiftyOne, "stats.dbf", regions51},
                                           {"50 regions, no table", fifty, "",
                                            "Missing Information: No filename provided for output table\n"},
                                           {"one region", oneRegion, "stats.dbf", region1},
                                           {"one class", oneClass, "stats.dbf", class1}}) {
        SCOPED_TRACE(c.name);
        Regions s;
        s.layer("patches", c.squares);
        std::vector<std::string> lines = {"set lstLayers patches", "set cboClass CLASS", "set cboRegion REGION"};
        if (!c.table.empty()) lines.insert(lines.end(), {"click txtTableName", "file " + s.out(c.table)});
        lines.insert(lines.end(), {"click cmdOK", "answer No"});
        s.runDialog(lines);
        EXPECT_EQ(s.messages(), c.question);
        EXPECT_FALSE(h::fs::FileExists(s.out()));
        auto source = h::FeatureClass::open((s.dir / "patches.shp").string());
        EXPECT_LT(source->findField("Area"), 0);
    }

    // At landscape level the class field is not looked at; Yes goes on.
    Regions s;
    s.layer("patches", oneClass);
    s.runDialog({"set lstLayers patches", "set cboClass CLASS", "click optLandscape", "set cboRegion REGION",
                 "click txtTableName", "file " + s.out(), "click cmdOK"});
    EXPECT_EQ(s.messages(), "");
    EXPECT_EQ(Regions::rows(s.out()).size(), 2u);
}

// Choices the dialog needs are asked for instead of ending in the error report.
TEST(RegionalAnalysis, RunWithoutLayerOrFieldsSaysWhatIsMissing) {
    struct Case {
        std::vector<std::string> lines;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {{"click cmdOK"}, "Missing Information: A layer must first be chosen\n"},
             {{"set lstLayers patches", "click cmdOK"}, "Missing Information: A region field must first be chosen\n"},
             {{"set lstLayers patches", "set cboRegion REGION", "click cmdOK"},
              "Missing Information: A class must first be chosen\n"}}) {
        Regions s;
        s.layer("patches", kTwoRegions);
        s.runDialog(c.lines);
        EXPECT_EQ(s.messages(), c.message);
        EXPECT_TRUE(s.driver.errorReports.empty());
    }
}

// A table that cannot be replaced stops the whole run: the later regions
// must not be appended to the old table.
TEST(RegionalAnalysis, TableThatCannotBeReplacedStaysAsItWas) {
    Regions s;
    s.layer("patches", kTwoRegions);
    s.runDialog(s.classLevel("patches", "REGION", s.out()));
    ASSERT_EQ(Regions::rows(s.out()).size(), 3u);
    s.map()->removeTable(s.map()->tables()[0]);
    h::fs::SetReadOnly(s.out(), true);
    s.act({"click cmdOK"});
    EXPECT_EQ(s.messages(), "Cannot Overwrite File: Cannot delete " + s.out() + "\n");
    EXPECT_TRUE(s.driver.errorReports.empty());
    h::fs::SetReadOnly(s.out(), false);
    EXPECT_EQ(Regions::rows(s.out()).size(), 3u);
    EXPECT_TRUE(s.map()->tables().empty());
    // No working copy is left behind.
    EXPECT_EQ(s.datasetsInDir(), (std::set<std::string>{"patches", "stats"}));
    // Once it may be replaced, a new run replaces it rather than adding to it.
    s.act({"click cmdOK"});
    EXPECT_EQ(Regions::rows(s.out()).size(), 3u);
    EXPECT_EQ(s.map()->tables().size(), 1u);
}

// The dialog's controls, captions, list filling and the field boxes.
TEST(RegionalAnalysis, DialogControlsAndFieldBoxes) {
    Regions s;
    s.layer("patches", kTwoRegions);
    auto other = s.workspace().createFeatureClass("other", {{"KIND", h::FieldString, 8, 0, 0}}, h::ShapeType::Polygon);
    s.map()->addLayer(std::make_shared<h::FeatureLayer>(other, "other"));
    s.map()->addLayer(std::make_shared<h::RegisteredLayer>("dem", "", h::LayerKind::Raster));
    s.cmd.OnClick();
    kv::frmRegionalAnalysis& f = s.form();
    EXPECT_EQ(f.caption(), "Spatial Analysis by Regions");
    EXPECT_EQ(f.get<h::ListBox>("lstLayers").items(), (std::vector<std::string>{"other", "patches"}));
    EXPECT_EQ(f.get<h::CommandButton>("cmdOK").caption(), "Run");
    EXPECT_EQ(f.get<h::CommandButton>("cmdCancel").caption(), "Close");
    EXPECT_EQ(f.get<h::Frame>("Frame1").caption(), "Analysis Level");
    EXPECT_EQ(f.get<h::Frame>("Frame2").caption(), "Processing Status");
    EXPECT_EQ(f.get<h::Label>("lblStatus").caption(), "Idle");
    EXPECT_EQ(f.get<h::Label>("Label4").caption(), "Output Table Name");
    EXPECT_TRUE(f.get<h::OptionButton>("optClass").value());
    EXPECT_EQ(f.get<h::OptionButton>("optLandscape").container(), &f.get<h::Frame>("Frame1"));

    s.act({"set lstLayers patches"});
    const std::vector<std::string> fields = {"REGION", "ZONE", "VALUE", "CLASS", "NOTE"};
    EXPECT_EQ(f.get<h::ComboBox>("cboClass").items(), fields);
    EXPECT_EQ(f.get<h::ComboBox>("cboRegion").items(), fields);
    s.act({"set lstLayers other"});
    EXPECT_EQ(f.get<h::ComboBox>("cboRegion").items(), (std::vector<std::string>{"KIND"}));

    // Cancelling the save dialog keeps the name held before; Close unloads,
    // the next click loads afresh.
    s.act({"click txtTableName", "file " + s.out(), "click txtTableName", "cancel"});
    EXPECT_EQ(f.get<h::TextBox>("txtTableName").text(), s.out());
    EXPECT_EQ(f.get<h::CommonDialog>("cmnDlg").flags, 2);
    EXPECT_EQ(f.get<h::CommonDialog>("cmnDlg").filter, "DBase IV(*.dbf)|*.dbf");
    // A relative name is held as the full path: the run works in its folder.
    s.act({"click txtTableName", "file rel.dbf"});
    EXPECT_EQ(f.get<h::TextBox>("txtTableName").text(), (sfs::current_path() / "rel.dbf").string());
    // An existing file is replaced only after Yes.
    std::ofstream(s.out("old.dbf")) << "x";
    s.act({"click txtTableName", "file " + s.out("old.dbf"), "answer No"});
    EXPECT_EQ(f.get<h::TextBox>("txtTableName").text(), (sfs::current_path() / "rel.dbf").string());
    s.act({"click txtTableName", "file " + s.out("old.dbf"), "answer Yes"});
    EXPECT_EQ(f.get<h::TextBox>("txtTableName").text(), s.out("old.dbf"));
    EXPECT_EQ(s.messages(), "Save As: " + s.out("old.dbf") + " already exists.\r\nDo you want to replace it?\n" +
                                "Save As: " + s.out("old.dbf") + " already exists.\r\nDo you want to replace it?\n");
    s.driver.messages.clear();
    s.act({"click cmdCancel"});
    EXPECT_FALSE(f.loaded());
    s.cmd.OnClick();
    EXPECT_EQ(f.get<h::TextBox>("txtTableName").text(), "");
    EXPECT_TRUE(s.messages().empty());
}

// The command: enabled with a layer; the hook is tested before the map.
TEST(RegionalAnalysis, CommandChecksHookThenLayersThenSetsUnits) {
    {
        Regions s;
        kv::clsRegionalAnalysis noHook;
        noHook.OnClick();
        EXPECT_EQ(s.messages(), "Cannot Continue: Error with ArcMap hook\n");
        EXPECT_EQ(s.cmd.Name(), "AnalysisByRegion");
        EXPECT_EQ(s.cmd.Caption(), "Analysis by Regions");
        EXPECT_FALSE(s.cmd.Enabled());
        s.cmd.OnClick();
        EXPECT_EQ(s.driver.messages.back().text, "There are no layers loaded.  Cannot continue");
        EXPECT_FALSE(s.form().visible());
    }
    Regions s;
    s.layer("patches", kTwoRegions);
    s.map()->setMapUnits(h::UnitUnknown);
    EXPECT_TRUE(s.cmd.Enabled());
    s.cmd.OnClick();
    EXPECT_EQ(s.map()->mapUnits(), h::UnitMeters);
    EXPECT_EQ(s.driver.messages.at(0).title, "Setting Map Units");
    EXPECT_TRUE(s.form().visible());
}

// The table operations on their own: append adds the missing metric at the
// end, a missing table is named, the working copy's name and fields.
TEST(RegionalAnalysis, TableOperationsAndWorkingCopy) {
    Regions s;
    kv::frmRegionalAnalysis& f = s.form();
    f.setArcMapHook(&s.app);
    h::TablePtr t = f.CreateOutputTable(s.out(), "ZONE", h::FieldInteger);
    ASSERT_TRUE(t);
    f.AddOtherFields(*t, {"CA", "TLA"});
    f.AddOtherFields(*t, {"CA", "TLA", "MPAR"});
    EXPECT_EQ(Regions::fieldNames(t), (std::vector<std::string>{"RunDate", "ZONE", "Class", "CA", "TLA", "MPAR"}));
    EXPECT_FALSE(f.GetOutputTable(s.out("absent.dbf")));
    EXPECT_EQ(s.messages(), "frmRegionalAnalysis.GetOutputTable: absent.dbf could not be opened.\n");

    auto source = s.layer("Area_perimeter_of_stands_30chr", kTwoRegions);
    ASSERT_EQ(source->featureClass()->name().size(), 30u);
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) {
        h::FeatureClassPtr copy = f.CopyAndRemoveFields(s.dir.string(), *source->featureClass(), "CLASS", "ZONE");
        ASSERT_TRUE(copy);
        names.push_back(copy->name());
    }
    // The copy is never kept on the map: each bears a marked temporary name
    // of its own, so a killed run leaves nothing but marked files.
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    for (const std::string& n : names) {
        EXPECT_TRUE(h::isKorvaneTemporary(n + ".shp")) << n;
        EXPECT_EQ(n.rfind("Area_perimeter_of_stands_30chr.kvtmp-", 0), 0u) << n;
    }
    auto copy = h::FeatureClass::open((s.dir / (names[0] + ".shp")).string());
    EXPECT_EQ(Regions::fieldNames(copy), (std::vector<std::string>{"Shape", "ZONE", "CLASS"}));
}

// The sample landscape cut by the sample regions: every class's areas over
// the regions add up to its area in the whole landscape.
TEST(RegionalAnalysis, SampleRegionsAddUpToTheLandscapeClassAreas) {
    Regions s;
    auto land = h::FeatureClass::open(std::string(KV_SAMPLE_DATA) + "/landscape.shp");
    auto regions = h::FeatureClass::open(std::string(KV_SAMPLE_DATA) + "/regions.shp");
    auto cut = s.workspace().createFeatureClass(
        "cut", {{"FORTYPE", h::FieldString, 16, 0, 0}, {"REGION", h::FieldString, 20, 0, 0}}, h::ShapeType::Polygon);
    std::map<std::string, double> classArea;
    double total = 0;
    {
        std::vector<std::pair<std::string, h::Geometry>> regionShapes;
        h::Cursor rc = regions->search(nullptr, false);
        while (h::RowPtr r = rc.next()) regionShapes.emplace_back(h::toText(r->value("REGION")), r->shape());
        h::Cursor pc = land->search(nullptr, false);
        while (h::RowPtr p = pc.next()) {
            std::string type = h::toText(p->value("FORTYPE"));
            classArea[type] += p->shape().area();
            total += p->shape().area();
            for (const auto& [name, shape] : regionShapes) {
                h::Geometry cutShape = p->shape().intersection(shape);
                if (cutShape.isEmpty() || cutShape.area() <= 0) continue;
                auto f = cut->createFeature();
                f->setShape(cutShape);
                f->setValue("FORTYPE", type);
                f->setValue("REGION", name);
                f->store();
            }
        }
        cut->flush();
    }
    s.map()->addLayer(std::make_shared<h::FeatureLayer>(cut, "cut"));
    s.runDialog({"set lstLayers cut", "set cboClass FORTYPE", "set cboRegion REGION", "click txtTableName",
                 "file " + s.out(), "click cmdOK"});
    EXPECT_EQ(s.messages(), "");
    ASSERT_TRUE(s.driver.errorReports.empty()) << s.driver.errorReports[0];

    // Every row agrees with the metric routines over a search of its region
    // and class in the source layer.
    h::LayerPtr cutLayer = kv::FindLayerByName(s.map(), "cut");
    for (const Row& r : Regions::rows(s.out())) {
        std::string clause = "REGION = '" + text(r, "REGION") + "' AND FORTYPE = '" + text(r, "Class") + "'";
        SCOPED_TRACE(clause);
        auto c = [&] { return std::move(*kv::getCursor(cutLayer, clause)); };
        auto region = kv::getCursor(cutLayer, "REGION = '" + text(r, "REGION") + "'");
        expectMetric(r, "TLA", kv::GetTLA(*region));
        std::vector<std::pair<const char*, double>> routines;
        {
            auto c1 = c(); routines.emplace_back("CA", kv::GetCA(c1));
            auto c2 = c(); routines.emplace_back("NumP", kv::GetNumOfPatches(c2));
            auto c3 = c(); routines.emplace_back("MPS", kv::GetMPS(c3));
            auto c4 = c(); routines.emplace_back("MedPS", kv::GetMedPS(c4));
            auto c5 = c(); routines.emplace_back("PSCoV", kv::GetPSCoV(c5));
            auto c6 = c(); routines.emplace_back("PSSD", kv::getPSSD(c6));
            auto c7 = c(); routines.emplace_back("TE", kv::GetTE(c7));
            auto c8 = c(); routines.emplace_back("MPE", kv::GetMPE(c8));
            auto c9 = c(); routines.emplace_back("MSI", kv::GetMSI(c9, true));
            auto c10 = c(); routines.emplace_back("AWMSI", kv::GetAWMSI(c10, true));
            auto c11 = c(); routines.emplace_back("MPAR", kv::GetMPAR(c11));
            auto c12 = c(); routines.emplace_back("MPFD", kv::GetMPFD(c12, true));
            auto c13 = c(); routines.emplace_back("AWMPFD", kv::GetAWMPFD(c13, true));
        }
        for (const auto& [code, value] : routines) expectMetric(r, code, value);
    }

    std::map<std::string, double> summed, regionArea;
    for (const Row& r : Regions::rows(s.out())) {
        summed[text(r, "Class")] += num(r, "CA");
        regionArea[text(r, "REGION")] = num(r, "TLA");
    }
    ASSERT_EQ(summed.size(), classArea.size());
    for (const auto& [type, area] : classArea) EXPECT_NEAR(summed[type], area, 1e-5 * area) << type;
    double regionsTotal = 0;
    for (const auto& [name, area] : regionArea) regionsTotal += area;
    EXPECT_EQ(regionArea.size(), 5u);
    EXPECT_NEAR(regionsTotal, total, 1e-5 * total);
}

namespace {

// The squares of kTwoRegions and a few more (a patch of several hectares, a
// bow tie, a null class value) as the layer "patches".
void AddSquares(Regions& s) {
    std::vector<Square> squares = kTwoRegions;
    squares.push_back({100, 0, 250, "South", 2, "Pine"});
    squares.push_back({400, 0, 10, "North", 1, "Pine"});
    auto fc = s.layer("patches", squares)->featureClass();
    auto bowTie = fc->createFeature();
    bowTie->setShape(h::Geometry::polygon({{{80, 0}, {83, 7}, {83, 0}, {80, 7}}}));
    bowTie->setValue("REGION", std::string("South"));
    bowTie->setValue("ZONE", 2);
    bowTie->setValue("CLASS", std::string("Spruce"));
    bowTie->store();
    auto noClass = fc->row(5);
    noClass->setValue("CLASS", h::Value{});
    noClass->store();
    fc->flush();
}

// Every file of the source, the .dbf's day of writing masked.
std::map<std::string, std::string> SourceFiles(Regions& s) {
    std::map<std::string, std::string> files;
    for (auto& [name, bytes] : korvane::test::FolderSnapshot::read(s.dir)) {
        if (name.rfind("patches.", 0) != 0) continue;
        if (name == "patches.dbf")
            for (size_t i = 1; i < 4 && i < bytes.size(); ++i) bytes[i] = 0;
        files[name] = bytes;
    }
    return files;
}

// A run of the dialog (its lines played with a recorder of the status
// texts), with either the one pass that refreshes the source while reading
// it or the stages one by one (as when the data layer leaves every write to
// the driver), and the regions from that pass or searched one by one: what
// the user sees and every file of the source layer "patches".
struct RegionalOutcome {
    std::vector<std::string> rows, messages, statuses, reports;
    std::map<std::string, std::string> source;
    std::vector<std::string> temporaries;
};
RegionalOutcome RunRecorded(Regions& s, const std::vector<std::string>& lines, bool stages = false,
                            bool searchEachRegion = false) {
    Recorder recorder(static_cast<TestUi&>(s).out);
    h::setUi(&recorder);
    h::data::setDirectDbfWrites(!stages);
    s.cmd.OnClick();
    s.form().searchEachRegion = searchEachRegion;
    recorder.addLines(lines);
    recorder.driveModeless();
    h::data::setDirectDbfWrites(true);
    h::setUi(&s.driver);
    RegionalOutcome o;
    if (h::fs::FileExists(s.out()))
        for (const Row& r : Regions::rows(s.out())) {
            std::string line;
            for (const auto& [name, value] : r)
                if (name != "RunDate") line += name + "=" + h::toText(value) + " ";
            o.rows.push_back(line);
        }
    for (auto& m : recorder.messages) o.messages.push_back(m.title + ": " + m.text);
    o.statuses = recorder.statuses;
    o.reports = recorder.errorReports;
    s.map()->clearLayers();
    o.source = SourceFiles(s);
    o.temporaries = korvane::test::temporariesIn(s.dir);
    return o;
}
// The field choices, then the table, Run and the answer to a question.
RegionalOutcome RunOnSquares(Regions& s, bool stages, std::vector<std::string> lines,
                             const std::string& answer = "Yes") {
    lines.insert(lines.end(), {"click txtTableName", "file " + s.out(), "click cmdOK", "answer " + answer});
    return RunRecorded(s, lines, stages);
}

}  // namespace

// The one pass that groups every patch by region and class gives the rows,
// their order, the messages and the status texts of the per-region search
// (a working copy searched for each region), on text, integer and real
// region fields, apostrophes, null region and class values, classes absent
// from regions, a real field whose values no clause matches, a date field
// that no clause can search, and 51 regions.
TEST(RegionalAnalysis, OnePassAgreesWithTheSearchOfEachRegion) {
    // 51 regions of squares with integer sides (their areas and perimeters
    // are stored exactly, so both paths measure alike).
    auto build = [](Regions& s) {
        auto fc = s.workspace().createFeatureClass("mix",
                                                   {{"RTEXT", h::FieldString, 12, 0, 0},
                                                    {"RINT", h::FieldInteger, 9, 0, 0},
                                                    {"RDBL", h::FieldDouble, 0, 12, 4},
                                                    {"RSGL", h::FieldSingle, 0, 13, 6},
                                                    {"RDATE", h::FieldDate, 0, 0, 0},
                                                    {"CLASS", h::FieldString, 12, 0, 0},
                                                    {"CINT", h::FieldInteger, 9, 0, 0}},
                                                   h::ShapeType::Polygon);
        const char* classes[] = {"Pine", "O'Brien", "Spruce", "Birch"};
        for (int i = 0; i < 160; ++i) {
            int region = (i * 7) % 51;
            auto f = fc->createFeature();
            f->setShape(h::Geometry::polygon({Regions::square(i * 30.0, 0, 1 + i % 13)}));
            f->setValue("RTEXT", i % 17 == 5 && i > 60 ? h::Value{} : h::Value{"Z'" + std::to_string(region)});
            f->setValue("RINT", i % 19 == 3 && i > 60 ? h::Value{} : h::Value{region - 20});
            f->setValue("RDBL", region * 0.25);
            f->setValue("RSGL", static_cast<float>(region % 5) * 0.1f);
            f->setValue("RDATE", h::Date{2020, 1 + region % 12, 1});
            // Classes absent from many regions, and some null.
            f->setValue("CLASS", i % 23 == 4 ? h::Value{} : h::Value{std::string(classes[(i + region) % 4])});
            f->setValue("CINT", i % 11 == 2 ? h::Value{} : h::Value{(i % 3) * 10});
            f->store();
        }
        fc->flush();
        s.map()->addLayer(std::make_shared<h::FeatureLayer>(fc, "mix"));
    };
    auto run = [&](bool searchEachRegion, const std::string& region, const std::string& cls, bool landscape) {
        Regions s;
        build(s);
        std::vector<std::string> lines = {"set lstLayers mix", "set cboRegion " + region};
        if (landscape) lines.push_back("click optLandscape");
        else lines.push_back("set cboClass " + cls);
        lines.insert(lines.end(), {"click txtTableName", "file " + s.out(), "click cmdOK", "answer Yes",
                                   "answer Yes", "answer Yes"});
        return RunRecorded(s, lines, false, searchEachRegion);
    };
    struct Case {
        const char* region;
        const char* cls;
        bool landscape;
    };
    for (const Case& c : std::vector<Case>{{"RTEXT", "CLASS", false},
                                           {"RINT", "CLASS", false},
                                           {"RDBL", "CINT", false},
                                           {"RSGL", "CLASS", false},
                                           {"RDATE", "CLASS", false},
                                           {"RTEXT", "", true},
                                           {"RINT", "", true}}) {
        SCOPED_TRACE(std::string(c.region) + " / " + c.cls);
        RegionalOutcome onePass = run(false, c.region, c.cls, c.landscape);
        RegionalOutcome searched = run(true, c.region, c.cls, c.landscape);
        EXPECT_EQ(onePass.rows, searched.rows);
        EXPECT_EQ(onePass.messages, searched.messages);
        EXPECT_EQ(onePass.statuses, searched.statuses);
        EXPECT_EQ(onePass.reports, searched.reports);
        if (std::string(c.region) == "RTEXT" && !c.landscape) {
            EXPECT_GT(onePass.rows.size(), 100u);
            ASSERT_FALSE(onePass.messages.empty());
            EXPECT_EQ(onePass.messages.front(),
                      "Regions Count: Regions field has more than 50 unique records.\r\nCONTINUE?");
        }
    }
}

// Requests that would stop half-way or write rows that cannot be told apart
// are refused before the source layer is touched.
TEST(RegionalAnalysis, RefusalsComeBeforeTheSourceIsTouched) {
    const std::string longA = std::string(40, 'A') + "1", longB = std::string(40, 'A') + "2";
    struct Case {
        const char* what;
        std::string regionField;
        std::vector<std::pair<std::string, std::string>> regionAndClass;
        std::string expected;   // a part of the message
    } cases[] = {
        {"a region field named RunDate", "RunDate", {{"N", "Pine"}, {"S", "Spruce"}}, "has the name of a column"},
        {"a region field named Class", "Class", {{"N", "Pine"}, {"S", "Spruce"}}, "has the name of a column"},
        {"class values equal in 40 bytes", "ZONE_T", {{"N", longA}, {"S", longB}}, "\"" + longA + "\""},
        {"region values equal in 40 bytes", "ZONE_T", {{longA, "Pine"}, {longB, "Spruce"}}, "\"" + longB + "\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Regions s;
        const bool named = c.regionField != "ZONE_T";
        std::vector<h::FieldDef> fields = {{"KIND", h::FieldString, 60, 0, 0}};
        fields.push_back({c.regionField, h::FieldString, 60, 0, 0});
        auto fc = s.workspace().createFeatureClass("patches", fields, h::ShapeType::Polygon);
        double x = 0;
        for (const auto& [region, cls] : c.regionAndClass) {
            for (int copy = 0; copy < 2; ++copy) {
                auto f = fc->createFeature();
                f->setShape(h::Geometry::polygon({DataFixture::square(x, 0, 5)}));
                x += 10;
                f->setValue(c.regionField, region);
                f->setValue("KIND", copy ? cls : (named ? "Oak" : cls));
                f->store();
            }
        }
        fc->flush();
        s.map()->addLayer(std::make_shared<h::FeatureLayer>(fc, "patches"));
        korvane::test::FolderSnapshot before(s.dir);
        s.runDialog({"set lstLayers patches", "set cboClass KIND", "set cboRegion " + c.regionField,
                     "click txtTableName", "file " + s.out(), "click cmdOK"});
        EXPECT_NE(s.messages().find(c.expected), std::string::npos) << s.messages();
        EXPECT_TRUE(before.sameAsNow()) << before.differences();
        EXPECT_TRUE(s.driver.errorReports.empty());
    }
}

// All regions go to one new table that replaces the old one once, at the
// end: a failure or a kill then leaves the old table whole.
TEST(RegionalAnalysis, TheTableIsReplacedOnceAndWholeAfterTheLastRegion) {
    namespace ht = korvane::host::testing;
    namespace kt = korvane::test;
    Regions s;
    s.layer("patches", kTwoRegions);
    s.runDialog(s.classLevel("patches", "REGION", s.out()));
    ASSERT_EQ(Regions::rows(s.out()).size(), 3u);
    s.map()->removeTable(s.map()->tables()[0]);
    const auto table = [&] {
        std::map<std::string, std::string> files;
        for (const auto& [name, bytes] : kt::FolderSnapshot::read(s.dir))
            if (name.rfind("stats.", 0) == 0) files[name] = bytes;
        return files;
    };
    const auto before = table();
    ht::failAt(ht::Step::Rename, EIO, "stats.dbf");
    s.act({"click cmdOK"});
    ht::clearFaults();
    EXPECT_EQ(table(), before);
    EXPECT_TRUE(kt::temporariesIn(s.dir).empty());
    kt::ChildOutcome o = kt::runInChild([&](std::string&) {
        ht::killAt(ht::Step::Fsync, "stats.dbf");
        s.act({"click cmdOK"});
        return 0;
    });
    EXPECT_EQ(o.signal, SIGKILL) << kt::describe(o);
    EXPECT_EQ(table(), before);
    for (const auto& [name, bytes] : kt::FolderSnapshot::read(s.dir))
        EXPECT_TRUE(name.rfind("stats.", 0) == 0 || name.rfind("patches.", 0) == 0) << name;
}

// Patches with a null region or class value belong to no row: the run says
// how many were left out, once, after the rows.
TEST(RegionalAnalysis, NullRegionAndClassValuesAreCountedOnce) {
    Regions s;
    auto layer = s.layer("patches", kTwoRegions);
    auto fc = layer->featureClass();
    for (auto [field, x] : {std::pair<const char*, double>{"REGION", 100}, {"CLASS", 120}, {"CLASS", 140}}) {
        auto f = fc->createFeature();
        f->setShape(h::Geometry::polygon({DataFixture::square(x, 0, 5)}));
        f->setValue("REGION", std::string("North"));
        f->setValue("CLASS", std::string("Pine"));
        f->setValue(field, h::Value{});
        f->store();
    }
    fc->flush();
    s.runDialog(s.classLevel("patches", "REGION", s.out()));
    EXPECT_EQ(s.messages(), "Patches Left Out: 1 patches with no region value (null) and 2 patches with no class "
                            "value (null) were left out of the rows.\n");
    ASSERT_EQ(s.driver.messages.size(), 1u);
    EXPECT_EQ(s.driver.messages[0].icon(), h::mb::Information);
    EXPECT_EQ(Regions::rows(s.out()).size(), 3u);
}

// A layer in degrees: Run asks first (default No), before the source is
// touched; Yes goes on.
TEST(RegionalAnalysis, AGeographicLayerRunsOnlyAfterYes) {
    Regions s;
    auto sr = h::SpatialReference::fromWkt(
        "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
        "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]");
    auto fc = s.workspace().createFeatureClass(
        "patches", {{"REGION", h::FieldString, 12, 0, 0}, {"CLASS", h::FieldString, 12, 0, 0}}, h::ShapeType::Polygon, &sr);
    double x = 0;
    for (const Square& q : kTwoRegions) {
        auto f = fc->createFeature();
        f->setShape(h::Geometry::polygon({DataFixture::square(x, 0, 1)}));
        x += 2;
        f->setValue("REGION", q.region);
        f->setValue("CLASS", q.cls);
        f->store();
    }
    fc->flush();
    s.map()->addLayer(std::make_shared<h::FeatureLayer>(fc, "patches"));
    korvane::test::FolderSnapshot before(s.dir);
    s.runDialog(s.classLevel("patches", "REGION", s.out()));
    ASSERT_EQ(s.driver.messages.size(), 1u) << s.messages();
    EXPECT_EQ(s.driver.messages[0].title, "Geographic Coordinates");
    EXPECT_EQ(s.driver.messages[0].defaultAnswer(), h::mb::No);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    s.act({"click cmdOK", "answer Yes"});
    EXPECT_EQ(Regions::rows(s.out()).size(), 3u) << s.messages();
}

// The source's Area and Perimeter, the rows, the messages and the status
// texts are the same whether the run reads the source once (measuring,
// listing, counting and grouping while its fields are refreshed or, on a
// layer an earlier run refreshed, refilled) or stage by stage.
TEST(RegionalAnalysis, OnePassAndStageByStageGiveTheSameSourceRowsAndMessages) {
    struct Case {
        const char* what;
        std::vector<std::string> choices;
        bool again = false;
    } cases[] = {
        {"text regions", {"set lstLayers patches", "set cboClass CLASS", "set cboRegion REGION"}},
        {"integer regions", {"set lstLayers patches", "set cboClass CLASS", "set cboRegion ZONE"}},
        {"landscape", {"set lstLayers patches", "click optLandscape", "set cboRegion ZONE"}},
        {"a second run", {"set lstLayers patches", "set cboClass CLASS", "set cboRegion REGION"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::map<bool, RegionalOutcome> seen;
        for (bool stages : {false, true}) {
            Regions s;
            AddSquares(s);
            seen[stages] = RunOnSquares(s, stages, c.choices);
            if (!c.again) continue;
            // Again on the refreshed layer: its Area and Perimeter are refilled.
            while (!s.map()->tables().empty()) s.map()->removeTable(s.map()->tables()[0]);
            s.map()->addLayer(
                std::make_shared<h::FeatureLayer>(h::FeatureClass::open((s.dir / "patches.shp").string()), "patches"));
            const int64_t updates = h::data::directDbfCounts().records;
            seen[stages] = RunOnSquares(s, stages, c.choices);
            // The one pass refills them in its rewrite, not row by row.
            if (!stages) EXPECT_EQ(h::data::directDbfCounts().records, updates);
        }
        const RegionalOutcome& onePass = seen[false];
        const RegionalOutcome& stages = seen[true];
        EXPECT_GE(onePass.rows.size(), 2u);
        EXPECT_EQ(onePass.rows, stages.rows);
        EXPECT_EQ(onePass.messages, stages.messages);
        EXPECT_EQ(onePass.statuses, stages.statuses);
        EXPECT_EQ(onePass.reports, stages.reports);
        EXPECT_TRUE(onePass.temporaries.empty());
        EXPECT_EQ(onePass.source.size(), 4u);
        EXPECT_TRUE(onePass.source == stages.source);
    }
}

// The refreshed source goes in place only after the questions and checks,
// whole: a No, a failed rename of the .dbf or a kill on the way leave every
// file of the source as it was.
TEST(RegionalAnalysis, TheRefreshedSourceIsPutInPlaceWholeOrNotAtAll) {
    namespace ht = korvane::host::testing;
    namespace kt = korvane::test;
    const std::vector<std::string> choices = {"set lstLayers patches", "set cboClass CLASS", "set cboRegion REGION"};
    {
        // No to the question about a single class.
        Regions s;
        AddSquares(s);
        const auto before = SourceFiles(s);
        RegionalOutcome no =
            RunOnSquares(s, false, {"set lstLayers patches", "set cboClass NOTE", "set cboRegion REGION"}, "No");
        ASSERT_FALSE(no.messages.empty());
        EXPECT_EQ(no.messages.front(), "Class Count: Class field has 1 or less unique records.\r\nCONTINUE?");
        EXPECT_TRUE(no.rows.empty());
        EXPECT_TRUE(no.source == before);
        EXPECT_TRUE(no.temporaries.empty());
    }

    // A failed rename of the .dbf: reported, and the run goes on as the
    // stages do, with nothing written to the source.
    std::map<bool, RegionalOutcome> seen;
    for (bool stages : {false, true}) {
        Regions s;
        AddSquares(s);
        const auto before = SourceFiles(s);
        ht::failAt(ht::Step::Rename, EIO, "patches.dbf");
        seen[stages] = RunOnSquares(s, stages, choices);
        ht::clearFaults();
        EXPECT_TRUE(seen[stages].source == before);
        EXPECT_TRUE(seen[stages].temporaries.empty());
    }
    EXPECT_EQ(seen[false].reports.size(), 1u);
    EXPECT_EQ(seen[false].reports.size(), seen[true].reports.size());
    EXPECT_EQ(seen[false].messages, seen[true].messages);
    EXPECT_EQ(seen[false].rows, seen[true].rows);

    // A kill as the new .dbf is made durable.
    Regions s;
    AddSquares(s);
    const auto before = SourceFiles(s);
    kt::ChildOutcome o = kt::runInChild([&](std::string&) {
        ht::killAt(ht::Step::Fsync, "patches.dbf");
        RunOnSquares(s, false, choices);
        return 0;
    });
    EXPECT_EQ(o.signal, SIGKILL) << kt::describe(o);
    EXPECT_TRUE(SourceFiles(s) == before);
}
