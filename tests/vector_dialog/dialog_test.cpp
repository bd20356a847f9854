// The Spatial Statistics command and dialog driven like a user: activation,
// layer and level rules, the output table choice, the messages, and the run
// request's batch line and configuration file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/Failure.h"
#include "host/Layer.h"
#include "DialogSession.h"

namespace h = korvane::host;
using kvtest::DialogSession;

namespace {

const char* const kCoreBoxes[] = {"chkTotalArea", "chkAreaDensity", "chkTotalAreaIndex"};

h::CheckBox& box(h::Form& f, const std::string& name) { return f.get<h::CheckBox>(name); }
h::OptionButton& option(h::Form& f, const std::string& name) { return f.get<h::OptionButton>(name); }

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

void touch(const std::string& path) { std::ofstream(path) << "x"; }

// A request the batch line can be checked against: layer Forest with its
// one field COVER, metres, so hectares are checked at activation.
void forestRequest(DialogSession& s) {
    s.addLayer(s.fixtureLayer("Forest", {{"COVER", h::FieldString, 20}}));
    s.map()->setMapUnits(h::UnitMeters);
}

}  // namespace

TEST(SpatialStatsCommand, EmptyMapRefusesBeforeTheUnitsAndTheDialog) {
    DialogSession s;
    auto& cmd = s.command();
    EXPECT_EQ(cmd.Name(), "spatial_Statistics");
    EXPECT_EQ(cmd.Caption(), "Spatial Statistics");
    EXPECT_FALSE(cmd.Enabled());
    cmd.OnClick();
    ASSERT_EQ(s.driver().messages.size(), 1u);
    EXPECT_EQ(s.driver().messages[0].text, "There are no layers loaded.  Cannot continue");
    EXPECT_EQ(s.driver().messages[0].style, h::mb::OKOnly);
    EXPECT_EQ(s.map()->mapUnits(), h::UnitUnknown);   // not set to metres
    EXPECT_EQ(s.driver().lastShown("frmSpatialStat"), nullptr);

    s.addLayer(s.sampleLayer("landscape"));
    EXPECT_TRUE(cmd.Enabled());
    EXPECT_TRUE(s.driver().errorReports.empty());
}

TEST(SpatialStatsActivation, HectareBoxFollowsTheMapUnits) {
    struct Case {
        int32_t units;
        const char* caption;
        bool enabled;
    } cases[] = {
        {h::UnitMeters, "State areas in hectares", true},
        {h::UnitFeet, "State areas in acres", true},
        {h::UnitYards, "State areas in acres", true},
        {h::UnitDecimalDegrees, "State areas in unknown units", false},
        {h::UnitKilometers, "State areas in unknown units", false},
        {h::UnitUnknown, "State areas in hectares", true},   // the command sets metres first
    };
    DialogSession s;
    s.addLayer(s.sampleLayer("landscape"));
    for (const Case& c : cases) {
        s.map()->setMapUnits(c.units);
        h::Form& f = s.open();   // a second click re-activates the open dialog
        auto& hectares = box(f, "chkHectares");
        EXPECT_EQ(hectares.caption(), c.caption) << c.units;
        EXPECT_EQ(hectares.enabled(), c.enabled) << c.units;
        EXPECT_EQ(hectares.checked(), c.enabled) << c.units;
    }
    EXPECT_TRUE(s.driver().errorReports.empty());
}

TEST(SpatialStatsActivation, ResetsListTextsAndOptionsButKeepsTheChoices) {
    DialogSession s;
    auto group = std::make_shared<h::GroupLayer>("group");
    group->layers().push_back(s.fixtureLayer("inner", {{"TYPE", h::FieldString, 10}}));
    s.addLayer(group);
    s.addLayer(std::make_shared<h::RegisteredLayer>("grid", s.file("grid.tif"), h::LayerKind::Raster));
    s.addLayer(s.fixtureLayer("roads", {{"KIND", h::FieldString, 10}}, h::ShapeType::Polyline));
    s.addLayer(s.fixtureLayer("wells", {{"DEPTH", h::FieldDouble}}, h::ShapeType::Point));
    s.addLayer(s.sampleLayer("landscape"));
    s.map()->setMapUnits(h::UnitMeters);
    const std::string existing = s.file("old.dbf");
    touch(existing);

    h::Form& f = s.open();
    auto& lst = f.get<h::ListBox>("lstLayers");
    // Feature layers of every geometry, top level only, in map order.
    EXPECT_EQ(lst.items(), (std::vector<std::string>{"landscape", "wells", "roads"}));
    EXPECT_EQ(lst.listIndex(), -1);
    EXPECT_TRUE(f.get<h::CommandButton>("cmdBatch").enabled());
    EXPECT_FALSE(option(f, "optAppend").enabled());
    EXPECT_FALSE(option(f, "optOverwrite").enabled());

    s.act({"choose lstLayers landscape", "choose cboClass FORTYPE", "click optLandscape", "click chkMeanEdge",
           "click txtOutputTableName", "file " + quoted(existing)});
    EXPECT_EQ(f.get<h::TextBox>("txtOutputTableName").text(), existing);
    EXPECT_TRUE(option(f, "optOverwrite").enabled());

    s.addLayer(s.sampleLayer("regions"));
    s.open();   // activated again
    EXPECT_EQ(lst.items(), (std::vector<std::string>{"regions", "landscape", "wells", "roads"}));
    EXPECT_EQ(lst.listIndex(), -1);
    auto& cbo = f.get<h::ComboBox>("cboClass");
    EXPECT_EQ(cbo.text(), "");
    EXPECT_EQ(cbo.items(), (std::vector<std::string>{"FORTYPE", "TYPECODE", "PATCHID", "SPCOMP"}));
    EXPECT_EQ(f.get<h::TextBox>("txtOutputTableName").text(), "");
    EXPECT_FALSE(option(f, "optAppend").enabled());
    EXPECT_FALSE(option(f, "optOverwrite").enabled());
    EXPECT_TRUE(option(f, "optLandscape").value());
    EXPECT_FALSE(box(f, "chkMeanEdge").checked());
    EXPECT_TRUE(box(f, "chkShannonsDiversity").checked());

    // Cancelling the save dialog brings back the path chosen before.
    s.act({"click txtOutputTableName", "cancel"});
    EXPECT_EQ(f.get<h::TextBox>("txtOutputTableName").text(), existing);

    // Cancel closes the window; the next click starts from the design.
    s.act({"click cmdCancel"});
    EXPECT_FALSE(f.loaded());
    h::Form& again = s.open();
    EXPECT_TRUE(option(again, "optClass").value());
    EXPECT_TRUE(option(again, "optAppend").value());
    EXPECT_TRUE(option(again, "optVector").value());
    EXPECT_TRUE(box(again, "chkMeanEdge").checked());
    EXPECT_FALSE(box(again, "chkShannonsDiversity").enabled());
    EXPECT_FALSE(box(again, "chkAddToMap").checked());
    EXPECT_EQ(again.get<h::CommandButton>("cmdCancel").caption(), "Cancel");
    EXPECT_TRUE(s.driver().errorReports.empty()) << s.transcript();
}

TEST(SpatialStatsLayerChoice, CoreBoxesNeedBothCoreFieldsInAnyLetterCase) {
    DialogSession s;
    s.addLayer(s.sampleLayer("landscape"));
    s.addLayer(s.sampleLayer("cores"));   // Patch_Area, Core_Area
    s.addLayer(s.fixtureLayer("lowcores", {{"TYPE", h::FieldString, 10},
                                           {"patch_area", h::FieldDouble, 0, 20, 5},
                                           {"core_area", h::FieldDouble, 0, 20, 5}}));
    s.addLayer(s.fixtureLayer("patchonly", {{"TYPE", h::FieldString, 10}, {"PATCH_AREA", h::FieldDouble, 0, 20, 5}}));
    s.addLayer(s.fixtureLayer("onefield", {{"COVER", h::FieldString, 10}}));
    h::Form& f = s.open();

    struct Step {
        std::vector<std::string> actions;
        bool enabled;
        bool tca, cad, tcai;   // checked
    } steps[] = {
        {{"choose lstLayers landscape"}, false, false, false, false},
        {{"choose lstLayers cores"}, true, true, true, true},
        // Between two layers with core fields the user's choice stays.
        {{"click chkTotalArea", "choose lstLayers lowcores"}, true, false, true, true},
        // Disabling does not uncheck.
        {{"choose lstLayers patchonly"}, false, false, true, true},
        // Coming back from a layer without them checks all three again.
        {{"choose lstLayers lowcores"}, true, true, true, true},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        s.act(steps[i].actions);
        bool checked[] = {steps[i].tca, steps[i].cad, steps[i].tcai};
        for (size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(box(f, kCoreBoxes[k]).enabled(), steps[i].enabled) << "step " << i << " " << kCoreBoxes[k];
            EXPECT_EQ(box(f, kCoreBoxes[k]).checked(), checked[k]) << "step " << i << " " << kCoreBoxes[k];
        }
    }

    auto& cbo = f.get<h::ComboBox>("cboClass");
    s.act({"choose lstLayers onefield"});
    EXPECT_EQ(cbo.text(), "COVER");   // the only field is chosen at once
    EXPECT_EQ(cbo.listIndex(), 0);
    s.act({"choose lstLayers landscape"});
    EXPECT_EQ(cbo.text(), "");
    EXPECT_EQ(cbo.listIndex(), -1);
    EXPECT_TRUE(s.driver().errorReports.empty()) << s.transcript();
}

TEST(SpatialStatsLevel, DiversityOnlyAtLandscapeAndSelectAllSkipsDisabledBoxes) {
    DialogSession s;
    s.addLayer(s.sampleLayer("landscape"));
    s.map()->setMapUnits(h::UnitMeters);
    h::Form& f = s.open();
    const char* diversity[] = {"chkShannonsDiversity", "chkShannonsEvenness"};

    s.act({"click optLandscape"});
    for (const char* d : diversity) {
        EXPECT_TRUE(box(f, d).enabled());
        EXPECT_TRUE(box(f, d).checked());
    }
    s.act({"click cmdSelectNone"});
    for (h::Control* c : f.controls()) {
        if (auto* k = dynamic_cast<h::CheckBox*>(c); k && k->name() != "chkHectares") {
            EXPECT_FALSE(k->checked()) << k->name();
        }
    }
    EXPECT_TRUE(box(f, "chkHectares").checked());   // no metric: untouched

    s.act({"click optClass", "click cmdSelectAll"});
    for (h::Control* c : f.controls()) {
        auto* k = dynamic_cast<h::CheckBox*>(c);
        if (!k || k->name() == "chkHectares" || k->name() == "chkAddToMap") continue;
        // Disabled at class level: diversity; without core fields: core boxes.
        EXPECT_EQ(k->checked(), k->enabled()) << k->name();
    }
    for (const char* d : diversity) EXPECT_FALSE(box(f, d).enabled());
    EXPECT_FALSE(box(f, "chkAddToMap").checked());
    EXPECT_TRUE(s.driver().errorReports.empty()) << s.transcript();
}

TEST(SpatialStatsMessages, RunNeedsLayerAndClassAndOverwriteIsConfirmed) {
    DialogSession s;
    s.addLayer(std::make_shared<h::RegisteredLayer>("grid", s.file("grid.tif"), h::LayerKind::Raster));
    s.map()->setMapUnits(h::UnitMeters);
    h::Form& f = s.open();
    EXPECT_EQ(f.get<h::ListBox>("lstLayers").listCount(), 0);   // rasters are not listed
    s.act({"click cmdOK"});

    s.addLayer(s.sampleLayer("landscape"));
    s.open();
    s.act({"choose lstLayers landscape", "click optLandscape", "click cmdOK"});   // class needed at any level

    const std::string existing = s.file("old.dbf");
    touch(existing);
    s.act({"click txtOutputTableName", "file " + quoted(existing), "click optOverwrite", "answer No"});
    EXPECT_TRUE(option(f, "optAppend").value());
    s.act({"click optOverwrite", "answer Yes"});
    EXPECT_TRUE(option(f, "optOverwrite").value());

    const auto& ms = s.driver().messages;
    ASSERT_EQ(ms.size(), 4u) << s.transcript();
    struct Expected {
        const char* text;
        int32_t style;
        const char* title;
    } expected[] = {
        {"A layer must first be chosen", h::mb::OKOnly | h::mb::Exclamation, "Missing Information"},
        {"A class must first be chosen", h::mb::OKOnly | h::mb::Exclamation, "Missing Information"},
        {"Are you sure you want to overwrite this file?", h::mb::YesNo | h::mb::Question, "Confirm Overwrite"},
        {"Are you sure you want to overwrite this file?", h::mb::YesNo | h::mb::Question, "Confirm Overwrite"},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(ms[i].text, expected[i].text) << i;
        EXPECT_EQ(ms[i].style, expected[i].style) << i;
        EXPECT_EQ(ms[i].title, expected[i].title) << i;
    }
    EXPECT_TRUE(s.driver().errorReports.empty()) << s.transcript();
}

// The path checked is the one in the box, and a new table starts in Append.
TEST(SpatialStatsOutputTable, ChoiceResetsToAppendAndAClearedBoxAsksForATable) {
    DialogSession s;
    s.addLayer(s.sampleLayer("landscape"));
    h::Form& f = s.open();
    const std::string first = s.file("first.dbf"), second = s.file("second.dbf");
    touch(first);
    touch(second);

    // A name typed relative to the current folder becomes its full path.
    s.act({"click txtOutputTableName", "file sub/../new.dbf"});
    EXPECT_EQ(f.get<h::TextBox>("txtOutputTableName").text(),
              (std::filesystem::current_path() / "new.dbf").string());
    EXPECT_FALSE(option(f, "optAppend").enabled());   // no such file yet
    EXPECT_TRUE(option(f, "optAppend").value());

    s.act({"click txtOutputTableName", "file " + quoted(first), "click optOverwrite", "answer Yes"});
    EXPECT_TRUE(option(f, "optOverwrite").value());
    s.act({"click txtOutputTableName", "file " + quoted(second)});
    EXPECT_TRUE(option(f, "optAppend").value()) << "Overwrite carried over to another table";
    EXPECT_TRUE(option(f, "optOverwrite").enabled());

    // An activation clears the box while the save dialog still holds the name.
    s.open();
    s.act({"choose lstLayers landscape", "choose cboClass FORTYPE", "click cmdOK", "click cmdBatch"});
    ASSERT_EQ(s.driver().messages.size(), 3u) << s.transcript();
    for (size_t i : {1u, 2u}) {
        EXPECT_EQ(s.driver().messages[i].text, "No filename provided for output table");
        EXPECT_EQ(s.driver().messages[i].style, h::mb::Exclamation);
        EXPECT_EQ(s.driver().messages[i].title, "Missing Information");
    }
    EXPECT_FALSE(std::filesystem::exists(s.batchFile()));
    EXPECT_TRUE(s.driver().errorReports.empty()) << s.transcript();
}

TEST(SpatialStatsBatch, LinesAreWrittenAsTheRunWillReadThem) {
    DialogSession s;
    forestRequest(s);
    s.addLayer(s.sampleLayer("cores"));
    const std::string table = s.file("out/stats.dbf");
    const std::string existing = s.file("old.dbf");
    touch(existing);
    h::Form& f = s.open();

    // The core boxes get checked on cores and stay checked, disabled, on
    // Forest: a disabled box is no part of the request.
    s.act({"choose lstLayers cores", "choose lstLayers Forest", "click cmdSelectNone", "click chkMeanShapeIndex",
           "click chkNumOfPatches", "click chkClassArea", "click chkAddToMap", "click txtOutputTableName",
           "file " + quoted(table), "click cmdBatch"});
    ASSERT_TRUE(box(f, "chkTotalArea").checked());
    const std::string line1 = "RunSpatialStats ArcMapHook, Forest, COVER, False, True, " + table +
                              ", True, [chkMeanShapeIndex,chkNumOfPatches,chkClassArea], False, True";
    std::string raw;
    EXPECT_EQ(kvtest::readLines(s.batchFile(), &raw), std::vector<std::string>{line1});
    EXPECT_EQ(raw, line1 + "\r\n");

    // Nothing checked, landscape, raster, Overwrite confirmed: the list is
    // [NIL] and a saved run always appends. The line goes at the end.
    s.act({"click optLandscape", "click optRaster", "click chkAddToMap", "click cmdSelectNone",
           "click txtOutputTableName", "file " + quoted(existing), "click optOverwrite", "answer Yes",
           "click cmdBatch"});
    const std::string line2 =
        "RunSpatialStats ArcMapHook, Forest, COVER, True, False, " + existing + ", True, [NIL], True, True";
    EXPECT_EQ(kvtest::readLines(s.batchFile()), (std::vector<std::string>{line1, line2}));

    // One box: no comma in the list. Hectares off.
    s.act({"click chkClassArea", "click chkHectares", "click cmdBatch"});
    EXPECT_EQ(kvtest::readLines(s.batchFile()).back(),
              "RunSpatialStats ArcMapHook, Forest, COVER, True, False, " + existing +
                  ", True, [chkClassArea], True, False");

    // Batch mode leaves the dialog as it was.
    EXPECT_EQ(f.get<h::CommandButton>("cmdCancel").caption(), "Cancel");
    EXPECT_TRUE(option(f, "optOverwrite").value());
    EXPECT_FALSE(std::filesystem::exists(table));
    EXPECT_EQ(s.driver().messages.size(), 1u);   // the overwrite question only
    EXPECT_TRUE(s.driver().errorReports.empty()) << s.transcript();
}

TEST(SpatialStatsBatch, ALineNeverRunsIntoAnUnfinishedLastLine) {
    DialogSession s;
    forestRequest(s);
    std::ofstream(s.batchFile(), std::ios::binary) << "RunSpatialStats ArcMapHook, x, y";   // no line end
    s.open();
    s.act({"choose lstLayers Forest", "click txtOutputTableName", "file " + quoted(s.file("t.dbf")),
           "click cmdBatch"});
    auto lines = kvtest::readLines(s.batchFile());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "RunSpatialStats ArcMapHook, x, y");
    EXPECT_EQ(lines[1].rfind("RunSpatialStats ArcMapHook, Forest, COVER, ", 0), 0u);
}

TEST(SpatialStatsBatch, LocationComesFromTheLineAfterTheLastSectionLine) {
    DialogSession s;
    forestRequest(s);
    const std::string d = s.folder();
    const std::string invalid = " is an invalid file location.  Please set it to a valid one.\r\n"
                                "The file location can be set from Korvane - Set and Run Batch Processes";
    struct Case {
        std::vector<std::string> ini;
        std::string writtenTo;   // empty: the invalid-location message for `location`
        std::string location;
    } cases[] = {
        {{"; settings", "[KorvaneBatch]", "Location = " + d + "/a.kv  "}, d + "/a.kv", ""},
        {{"[KorvaneBatch]", "  " + d + "/b.kv"}, d + "/b.kv", ""},
        {{"[KorvaneBatch]", "Location=" + d + "/first.kv", "[Other]", "Location=" + d + "/other.kv",
          "[KorvaneBatch]", "Path=" + d + "/second.kv"},
         d + "/second.kv", ""},
        {{"[korvanebatch]", "Location=" + d + "/lower.kv"}, "", ""},
        {{"[KorvaneBatch] ", "Location=" + d + "/blank.kv"}, "", ""},
        {{"Location=" + d + "/nosection.kv"}, "", ""},
        {{"Location=" + d + "/last.kv", "[KorvaneBatch]"}, "", ""},
        {{"[KorvaneBatch]", "Location=" + d + "/missing/folder.kv"}, "", d + "/missing/folder.kv"},
    };
    s.open();
    s.act({"choose lstLayers Forest", "click txtOutputTableName", "file " + quoted(s.file("t.dbf"))});
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        s.writeIni(c.ini);
        size_t before = s.driver().messages.size();
        s.act({"click cmdBatch"});
        if (!c.writtenTo.empty()) {
            EXPECT_EQ(s.driver().messages.size(), before) << i;
            EXPECT_EQ(kvtest::readLines(c.writtenTo).size(), 1u) << i;
        } else {
            ASSERT_EQ(s.driver().messages.size(), before + 1) << i;
            const auto& m = s.driver().messages.back();
            EXPECT_EQ(m.text, c.location + invalid) << i;
            EXPECT_EQ(m.title, "Invalid file location") << i;
            EXPECT_EQ(m.icon(), h::mb::Exclamation) << i;
        }
    }
    for (const char* never : {"first.kv", "other.kv", "lower.kv", "blank.kv", "nosection.kv", "last.kv"})
        EXPECT_FALSE(std::filesystem::exists(s.file(never))) << never;
    EXPECT_TRUE(s.driver().errorReports.empty()) << s.transcript();
}

TEST(SpatialStatsBatch, MissingKorvaneIniBlocksRunAndBatchAndIsNotCreated) {
    DialogSession s(/*withIni=*/false);
    forestRequest(s);
    const std::string table = s.file("stats.dbf");
    s.open();
    s.act({"choose lstLayers Forest", "click txtOutputTableName", "file " + quoted(table), "click cmdOK",
           "click cmdBatch"});
    const std::string text = "'" + s.folder() + "/Korvane.ini' could not be found.  Cannot continue.";
    ASSERT_EQ(s.driver().messages.size(), 2u) << s.transcript();
    for (const auto& m : s.driver().messages) {
        EXPECT_EQ(m.text, text);
        EXPECT_EQ(m.title, "Missing system file");
        EXPECT_EQ(m.style, h::mb::OKOnly);
    }
    EXPECT_FALSE(std::filesystem::exists(s.iniFile()));
    EXPECT_FALSE(std::filesystem::exists(s.batchFile()));
    EXPECT_FALSE(std::filesystem::exists(table));
    EXPECT_TRUE(s.driver().errorReports.empty()) << s.transcript();
}

// A value with "," "[" "]" (or a line break, or blanks at its ends) would be
// read back as other arguments: the request is refused, nothing is written.
TEST(SpatialStatsBatch, RefusesValuesThatALineCannotHold) {
    DialogSession s;
    auto layer = s.fixtureLayer("plain", {{"COVER", h::FieldString, 10}});
    layer->setName("Forest, old");
    s.addLayer(layer);
    s.addLayer(s.fixtureLayer("Forest", {{"COVER", h::FieldString, 10}}));
    struct Case {
        std::vector<std::string> actions;
        std::string named;   // what the message names
    } cases[] = {
        {{"choose lstLayers " + quoted("Forest, old"), "click txtOutputTableName", "file " + quoted(s.file("t.dbf"))},
         "The layer name 'Forest, old'"},
        {{"choose lstLayers Forest", "set cboClass " + quoted("CO[VER]")}, "The class field name 'CO[VER]'"},
        {{"choose cboClass COVER", "click txtOutputTableName", "file " + quoted(s.file("a,b.dbf"))},
         "The output table path '" + s.file("a,b.dbf") + "'"},
        {{"click txtOutputTableName", "file " + quoted(s.file("t.dbf "))},
         "The output table path '" + s.file("t.dbf ") + "'"},
    };
    s.open();
    for (const Case& c : cases) {
        auto actions = c.actions;
        actions.push_back("click cmdBatch");
        size_t before = s.driver().messages.size();
        s.act(actions);
        ASSERT_EQ(s.driver().messages.size(), before + 1) << c.named << "\n" << s.transcript();
        const auto& m = s.driver().messages.back();
        EXPECT_EQ(m.text.rfind(c.named, 0), 0u) << m.text;
        EXPECT_EQ(m.title, "Cannot Continue");
        EXPECT_EQ(m.icon(), h::mb::Exclamation);
    }
    EXPECT_FALSE(std::filesystem::exists(s.batchFile()));

    // The same request without the offending value is stored.
    s.act({"click txtOutputTableName", "file " + quoted(s.file("t.dbf")), "click cmdBatch"});
    EXPECT_EQ(kvtest::readLines(s.batchFile()).size(), 1u);
    EXPECT_TRUE(s.driver().errorReports.empty()) << s.transcript();
}

namespace {
// Rows of an output table and its largest run number.
struct TableState {
    int64_t rows = 0;
    int32_t lastRun = 0;
};
TableState tableState(const std::string& path) {
    TableState st;
    auto t = h::Table::open(path);
    h::Cursor c = t->search(nullptr, false);
    while (h::RowPtr r = c.next()) {
        ++st.rows;
        st.lastRun = std::max(st.lastRun, static_cast<int32_t>(h::toDouble(r->value("Run"))));
    }
    return st;
}
}  // namespace

// Run leaves the dialog open for the next run; an Overwrite confirmed for
// one run does not carry over to the next one.
TEST(SpatialStatsRun, RunKeepsTheDialogOpenAndSpendsAConfirmedOverwrite) {
    DialogSession s;
    s.addLayer(s.sampleLayer("landscape"));
    s.map()->setMapUnits(h::UnitMeters);
    const std::string table = s.file("stats.dbf");
    h::Form& f = s.open();
    s.act({"choose lstLayers landscape", "choose cboClass FORTYPE", "click cmdSelectNone", "click chkClassArea",
           "click txtOutputTableName", "file " + quoted(table), "click cmdOK"});
    ASSERT_TRUE(std::filesystem::exists(table)) << s.transcript();
    EXPECT_EQ(tableState(table).rows, 6);
    EXPECT_TRUE(f.visible());
    EXPECT_EQ(f.get<h::CommandButton>("cmdCancel").caption(), "Done");
    EXPECT_TRUE(option(f, "optAppend").enabled());
    EXPECT_TRUE(option(f, "optOverwrite").enabled());

    struct Step {
        std::vector<std::string> actions;
        int64_t rows;
        int32_t lastRun;
    } steps[] = {
        {{"click cmdOK"}, 12, 2},                                           // appended
        {{"click optOverwrite", "answer Yes", "click cmdOK"}, 6, 1},        // replaced
        {{"click cmdOK"}, 12, 2},                                           // appended again
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        s.act(steps[i].actions);
        TableState st = tableState(table);
        EXPECT_EQ(st.rows, steps[i].rows) << i;
        EXPECT_EQ(st.lastRun, steps[i].lastRun) << i;
        EXPECT_TRUE(option(f, "optAppend").value()) << i;
    }

    // A failure inside the run is reported by the run request; the dialog's
    // options and Cancel caption stay as they were.
    f.get<h::CommandButton>("cmdCancel").setCaption("Cancel");
    s.act({"click txtOutputTableName", "file " + quoted(s.file("no/such/folder/stats.dbf")), "click cmdOK"});
    ASSERT_EQ(s.driver().errorReports.size(), 1u) << s.transcript();
    EXPECT_NE(s.driver().errorReports[0].find("\tExecuteStatistics Forms/frmSpatialStat1 Line : "),
              std::string::npos)
        << s.driver().errorReports[0];
    EXPECT_EQ(f.get<h::CommandButton>("cmdCancel").caption(), "Cancel");
    EXPECT_FALSE(option(f, "optAppend").enabled());
}

// A layer in degrees: Run asks first (default No).
TEST(SpatialStatsRun, AGeographicLayerRunsOnlyAfterYes) {
    DialogSession s;
    for (const std::string& file : s.sampleLayer("landscape")->featureClass()->files()) {
        std::string ext = std::filesystem::path(file).extension().string();
        if (ext == ".shp" || ext == ".shx" || ext == ".dbf")
            std::filesystem::copy_file(file, s.file("geo" + ext));
    }
    {
        std::ofstream prj(s.file("geo.prj"));
        prj << "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
               "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
    }
    s.addLayer(h::openFeatureLayer(s.file("geo.shp")));
    s.map()->setMapUnits(h::UnitMeters);
    const std::string table = s.file("stats.dbf");
    s.open();
    s.act({"choose lstLayers geo", "choose cboClass FORTYPE", "click cmdSelectNone", "click chkClassArea",
           "click txtOutputTableName", "file " + quoted(table), "click cmdOK"});
    ASSERT_FALSE(s.driver().messages.empty()) << s.transcript();
    const auto& q = s.driver().messages.back();
    EXPECT_EQ(q.title, "Geographic Coordinates");
    EXPECT_EQ(q.buttons(), h::mb::YesNo);
    EXPECT_EQ(q.defaultAnswer(), h::mb::No);
    EXPECT_NE(q.text.find("square degrees and degrees, which distort with latitude"), std::string::npos) << q.text;
    EXPECT_NE(q.text.find("Projecting the layer gives meaningful values"), std::string::npos) << q.text;
    EXPECT_FALSE(std::filesystem::exists(table));
    s.act({"click cmdOK", "answer Yes"});
    EXPECT_TRUE(std::filesystem::exists(table)) << s.transcript();
    EXPECT_TRUE(s.driver().errorReports.empty()) << s.transcript();
}
