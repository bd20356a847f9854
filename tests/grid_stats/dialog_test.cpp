// The Grid Spatial Statistics dialog and its command, driven as a user
// drives them: the command's cached Enabled and its clicks, the dialog's
// level rules, Select buttons, messages and map events, and whole runs on the
// sample grid whose table values equal fragstat's own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include "FaultInjection.h"
#include "GridSession.h"
#include "RasterFixtures.h"
#include "fragstat/fragstat.h"
#include "host/Application.h"
#include "host/Document.h"
#include "host/FileReplace.h"
#include "host/Forms.h"
#include "host/Ui.h"
#include "host/data/Raster.h"
#include "host/data/RasterLayer.h"
#include "host/data/Table.h"
#include "raster/Classes/GridCommand.h"
#include "raster/Classes/clsG_SpatialStats.h"
#include "raster/Forms/frmGridSpatialStats.h"
#include "raster/Modules/modFragStats.h"
#include "raster/Modules/modGridStatsTable.h"
#include "raster/Modules/modRunFragStats.h"

namespace {

namespace fs = std::filesystem;
namespace h = korvane::host;

// A scripted user, a fresh document, the sample grid copied into a private
// folder, and the command created as the host creates it.
class GridSession : public korvane::test::GridSession<kv::clsG_SpatialStats> {
public:
    GridSession() : korvane::test::GridSession<kv::clsG_SpatialStats>(KV_SAMPLE_DIR) {}
    h::RasterLayerPtr addSample(const std::string& name) {
        h::RasterLayerPtr layer = h::openRasterLayer(sample(name));
        map()->addLayer(layer);
        return layer;
    }
    std::string table(const std::string& name) const { return path(name); }
};

using korvane::test::TempFolderHere;

bool checked(kv::frmGridSpatialStats& d, const char* box) { return d.get<h::CheckBox>(box).checked(); }
bool enabled(kv::frmGridSpatialStats& d, const char* box) { return d.get<h::Control>(box).enabled(); }

// ---- the command ----------------------------------------------------------------------------

TEST(GridSpatialStatsCommand, CachedEnabledClicksAndDialogs) {
    GridSession s;
    EXPECT_EQ(s.command.Name(), "gridSpatialStats");
    EXPECT_EQ(s.command.Caption(), "Spatial Statistics (FragStats Interface)");
    // An empty map: a click refuses.
    s.command.OnClick();
    ASSERT_EQ(s.driver.messages.size(), 1u);
    EXPECT_EQ(s.driver.messages[0].text, "There are no layers loaded.  Cannot continue.");
    EXPECT_EQ(s.command.dialog(), nullptr);

    s.addSample("landscape.tif");
    EXPECT_FALSE(s.command.Enabled());   // the flag has not been set: the cached False
    kv::SetMapLayersChanged(true);
    EXPECT_TRUE(s.command.Enabled());
    kv::SetMapLayersChanged(false);
    s.map()->clearLayers();
    EXPECT_TRUE(s.command.Enabled());    // cached until the flag is set again
    kv::SetMapLayersChanged(true);
    EXPECT_FALSE(s.command.Enabled());
    kv::SetMapLayersChanged(false);

    // Two clicks open two dialogs, each with its own choices.
    s.addSample("landscape.tif");
    kv::frmGridSpatialStats& first = s.open();
    first.get<h::CheckBox>("chkLandscape").setValue(h::Checked);
    kv::frmGridSpatialStats& second = s.open();
    EXPECT_NE(&first, &second);
    EXPECT_TRUE(first.loaded());
    EXPECT_TRUE(second.loaded());
    EXPECT_FALSE(checked(second, "chkLandscape"));
    EXPECT_EQ(s.command.openDialogs(), 2u);
    EXPECT_EQ(first.owner(), h::Application::instance().hWnd());
    first.get<h::CommandButton>("cmdCancel").click();
    EXPECT_EQ(s.command.openDialogs(), 1u);

    // No hook: refused before the map is read.
    kv::clsG_SpatialStats unhooked;
    s.driver.messages.clear();
    unhooked.OnClick();
    ASSERT_EQ(s.driver.messages.size(), 1u);
    EXPECT_EQ(s.driver.messages[0].text, "Error with ArcMap hook");
    EXPECT_EQ(s.driver.messages[0].title, "Cannot Continue");
}

// ---- the dialog's rules -------------------------------------------------------------------------

TEST(GridSpatialStatsDialog, LevelRulesAndSelectButtons) {
    GridSession s;
    s.addSample("landscape.tif");
    kv::frmGridSpatialStats& d = s.open();
    EXPECT_EQ(d.caption(), "Spatial Statistics for Grids");
    EXPECT_EQ(d.get<h::ListBox>("lstLayers").items(), (std::vector<std::string>{"landscape.tif"}));
    EXPECT_TRUE(checked(d, "chkClass"));
    EXPECT_FALSE(checked(d, "chkLandscape"));
    EXPECT_FALSE(enabled(d, "optAppend"));
    EXPECT_EQ(d.get<h::TextBox>("txtMPI").text(), "1000000");
    EXPECT_EQ(d.get<h::TextBox>("txtBoundaryInfl").text(), "1");
    int checkedAtLoad = 0;
    for (const kv::GridMetricBox& b : kv::kGridMetricBoxes) checkedAtLoad += checked(d, b.name) ? 1 : 0;
    EXPECT_EQ(checkedAtLoad, 18);
    const char* landscapeOnly[] = {"chkAdditionalLandscape", "chkShannonsDiversity", "chkShannonsEvenness"};
    const char* never[] = {"chkMedianPatchSize", "chkMeanEdge", "chkMeanPerimAreaRatio"};

    // Landscape unchecked: Select All leaves its three boxes alone.
    s.act({"click cmdSelectAll"});
    for (const char* b : landscapeOnly) EXPECT_FALSE(checked(d, b)) << b;
    for (const char* b : never) EXPECT_FALSE(checked(d, b)) << b;
    EXPECT_TRUE(checked(d, "chkVerbose"));
    EXPECT_TRUE(checked(d, "chkAdditionalClass"));
    // Checking Landscape enables them unchecked.
    s.act({"click chkLandscape"});
    for (const char* b : landscapeOnly) {
        EXPECT_TRUE(enabled(d, b)) << b;
        EXPECT_FALSE(checked(d, b)) << b;
    }
    // Unchecking Class unchecks and disables Additional Class Metrics.
    s.act({"click chkClass"});
    EXPECT_FALSE(checked(d, "chkAdditionalClass"));
    EXPECT_FALSE(enabled(d, "chkAdditionalClass"));
    s.act({"click chkClass"});
    EXPECT_TRUE(enabled(d, "chkAdditionalClass"));
    EXPECT_FALSE(checked(d, "chkAdditionalClass"));

    s.act({"click cmdSelectNone"});
    for (const kv::GridMetricBox& b : kv::kGridMetricBoxes) EXPECT_FALSE(checked(d, b.name)) << b.name;
    s.act({"click cmdSelectBasic"});
    for (const kv::GridMetricBox& b : kv::kGridMetricBoxes)
        EXPECT_EQ(checked(d, b.name), b.basic && !b.alwaysDisabled) << b.name;
    for (const char* b : never) EXPECT_FALSE(enabled(d, b)) << b;
}

TEST(GridSpatialStatsDialog, ChosenStatsOfTheDefaultsAndOfBothAdditionalBoxes) {
    std::vector<std::string> defaults = {"Errtrack", "CACV2", "MCA2", "CASD2", "TCA", "TCAI", "CAD",
                                         "AWMSI",    "MSI",   "MPFD", "AWMPFD", "TE",  "ED",   "MPS",
                                         "NP",       "PSCV",  "PSSD", "TA",    "CA"};
    EXPECT_EQ(kv::BuildChosenStats(defaults), defaults);
    std::vector<std::string> additional = kv::BuildChosenStats(
        {"Errtrack", kv::kGridMetricBoxes[1].codes, kv::kGridMetricBoxes[2].codes, "TE"});
    EXPECT_EQ(additional, (std::vector<std::string>{"Errtrack", "CACV1", "CASD1", "%LAND", "C%LAND", "DLFD", "LPI",
                                                    "LSI", "MCAI", "MCA1", "NCA", "MSIDI", "PR", "PRD", "SIDI",
                                                    "SIEI", "MSIEI", "TE"}));
    EXPECT_EQ(kv::BuildChosenStats({"A, B,  C", "B"}), (std::vector<std::string>{"A", "B", "C"}));

    // SearchArray: the index, -1 for a code that is not there (0 is Errtrack's).
    kv::frmGridSpatialStats d;
    EXPECT_EQ(d.SearchArray(defaults, "Errtrack"), 0);
    EXPECT_EQ(d.SearchArray(defaults, "CA"), 18);
    EXPECT_EQ(d.SearchArray(defaults, "MNN"), -1);
    EXPECT_EQ(d.SearchArray({}, "CA"), -1);
}

TEST(GridSpatialStatsDialog, RunChecksTheirOrderAndMessages) {
    GridSession s;
    s.addSample("landscape.tif");
    kv::frmGridSpatialStats& d = s.open();
    const std::string table = s.table("t.dbf");
    s.act({"click cmdOK"});
    s.act({"choose lstLayers landscape.tif", "click chkClass", "click cmdOK"});
    s.act({"click chkClass", "set cboClass \"\"", "click cmdOK"});
    s.act({"choose cboClass Value", "click cmdOK"});
    s.act({"click txtOutputTableName", "file " + table, "click cmdSelectNone", "click cmdOK"});
    std::vector<std::string> want = {
        "You need to a layer to analyze.",
        "You need to have at least Landscape or Class chosen to be analyzed by",
        "You need to a class to analyze by.",
        "You need to choose the name of the output table first.",
        "At least one statistic must be chosen.",
    };
    EXPECT_EQ(s.messageTexts(), want);
    EXPECT_EQ(s.driver.messages[0].title, "Missing Data");
    EXPECT_EQ(s.driver.messages[1].title, "Missing Choice");
    EXPECT_FALSE(fs::exists(table));

    // A missing CWED file is emptied here with a warning, and the run goes on.
    s.driver.messages.clear();
    d.get<h::TextBox>("txtCWEDFilename").setText((s.dir / "none.csv").string());
    s.act({"click chkTotalEdge", "click cmdOK"});
    ASSERT_GE(s.driver.messages.size(), 2u);
    EXPECT_EQ(s.driver.messages[0].text, (s.dir / "none.csv").string() + " could not be found.  Using no file instead.");
    EXPECT_EQ(d.get<h::TextBox>("txtCWEDFilename").text(), "");
    EXPECT_EQ(s.driver.messages.back().text, "Grid spatial statistics was successful.");
    EXPECT_TRUE(enabled(d, "optAppend"));
    EXPECT_TRUE(enabled(d, "optOverwrite"));

    // Overwrite is confirmed; No keeps Append.
    s.act({"click optOverwrite", "answer No"});
    EXPECT_TRUE(d.get<h::OptionButton>("optAppend").value());

    // A parameter that is no number in its range is refused before the
    // export, naming it; the table is left as it was.
    korvane::test::FolderSnapshot before(s.dir);
    s.driver.messages.clear();
    d.get<h::TextBox>("txtBoundaryInfl").setText("1.5");
    s.act({"click cmdOK"});
    ASSERT_EQ(s.driver.messages.size(), 2u);
    EXPECT_NE(s.driver.messages[0].text.find("Boundary Influence '1.5'"), std::string::npos);
    EXPECT_EQ(s.driver.messages[1].text, "Grid spatial statistics was not successful.");
    EXPECT_TRUE(before.sameAsNow()) << before.differences();

    // The verbose box alone counts as a chosen statistic: the run starts and
    // asks about the space; declined, it leaves no folder behind.
    d.get<h::TextBox>("txtBoundaryInfl").setText("1");
    s.driver.messages.clear();
    TempFolderHere tmp(s.dir / "tmp");
    s.act({"click cmdSelectNone", "click chkVerbose", "click cmdOK", "answer No"});
    ASSERT_GE(s.driver.messages.size(), 1u);
    EXPECT_EQ(s.driver.messages[0].title, "Space Requirements");
    EXPECT_TRUE(tmp.entries().empty());
}

TEST(GridSpatialStatsDialog, MapEventsRefillTheLayerListUntilTheDialogCloses) {
    GridSession s;
    s.addSample("landscape.tif");
    kv::frmGridSpatialStats& d = s.open();
    s.act({"choose lstLayers landscape.tif"});
    EXPECT_EQ(d.get<h::ComboBox>("cboClass").listCount() > 0, true);
    auto second = h::openRasterLayer(s.sample("landscape.tif"));
    second->setName("second");
    s.map()->addLayer(second);
    auto& lst = d.get<h::ListBox>("lstLayers");
    EXPECT_EQ(lst.items(), (std::vector<std::string>{"second", "landscape.tif"}));
    EXPECT_EQ(lst.listIndex(), -1);
    EXPECT_GT(d.get<h::ComboBox>("cboClass").listCount(), 0);   // the class list stays
    s.map()->deleteLayer(second);
    EXPECT_EQ(lst.items(), (std::vector<std::string>{"landscape.tif"}));
    d.get<h::CommandButton>("cmdCancel").click();
    EXPECT_FALSE(d.loaded());
    EXPECT_TRUE(s.map()->itemAdded.empty());
    EXPECT_TRUE(s.map()->itemDeleted.empty());
    s.map()->addLayer(second);   // no handler left to reach the closed dialog
    EXPECT_TRUE(s.driver.errorReports.empty());
}

// ---- whole runs ---------------------------------------------------------------------------------------

// fragstat's own output for the grid, with the run's parameters.
kv::FragStatsOutput fragstatOwn(const h::RasterDataset& raster, const std::string& dir, bool landscape) {
    const std::string base = dir + (landscape ? "/own_land" : "/own_class");
    h::exportFloatGrid(raster, base);
    std::vector<std::string> args = {base + ".flt", base, "10", "10", "7", fmt::format("{}", raster.height()),
                                     fmt::format("{}", raster.width()), "-9999", "$", "$", "$", "$", "1", "y",
                                     "1000000", "y", "NO", "$"};
    std::ostringstream err;
    EXPECT_EQ(korvane::fragstat::run(args, err), 0) << err.str();
    return kv::ReadFragStatsOutput(base + (landscape ? ".land" : ".class"));
}

TEST(GridSpatialStatsRun, TheSampleGridsTableHoldsFragstatsOwnValues) {
    GridSession s;
    h::RasterLayerPtr layer = s.addSample("landscape.tif");
    s.open();
    const std::string table = s.table("grid.dbf");
    s.act({"choose lstLayers landscape.tif", "choose cboClass Value", "click chkLandscape", "click cmdSelectAll",
           "click chkVerbose", "click txtOutputTableName", "file " + table, "click cmdOK"});
    ASSERT_EQ(s.driver.messages.back().text, "Grid spatial statistics was successful.")
        << fmt::format("{}", fmt::join(s.messageTexts(), "\n"));
    EXPECT_TRUE(s.driver.errorReports.empty());

    h::TablePtr t = h::Table::open(table);
    const kv::GridFieldRenames renames = kv::GridFieldRenameMap();
    for (bool landscape : {true, false}) {
        kv::FragStatsOutput own = fragstatOwn(*layer->raster(), s.dir.string(), landscape);
        ASSERT_TRUE(own.ok()) << own.problem;
        const kv::FragStatsBlock& b = own.blocks[0];
        h::Cursor rows = t->search(nullptr, false);
        std::vector<h::RowPtr> mine;
        while (h::RowPtr r = rows.next())
            if ((h::toText(r->value("Class")) == "All") == landscape) mine.push_back(r);
        ASSERT_EQ(mine.size(), b.rows.size());
        for (size_t i = 0; i < mine.size(); ++i) {
            EXPECT_EQ(h::toDouble(mine[i]->value("Run")), landscape ? 1 : 2);
            if (!landscape) {
                EXPECT_EQ(h::toText(mine[i]->value("Class")), b.rows[i][b.column("TYPE")]);
            }
            int compared = 0;
            for (size_t c = 0; c < b.columns.size(); ++c) {
                const std::string& column = b.columns[c];
                int32_t at = t->findField(kv::GridFieldName(renames, column));
                if (column == "LID" || column == "TYPE" || at < 0) continue;
                const h::Value& v = mine[i]->value(at);
                const std::string& token = b.rows[i][c];
                if (token == ".") {
                    EXPECT_TRUE(h::isNull(v)) << column;
                } else {
                    EXPECT_NEAR(h::toDouble(v), std::round(std::stod(token) * 100) / 100, 0.0051) << column;
                }
                ++compared;
            }
            EXPECT_GE(compared, landscape ? 30 : 25);
        }
    }
    // The rename map's fields, SIDI in SHEI and SHEI in SEI.
    for (const char* f : {"TLA", "NUMP", "PSCOV", "ZLAND", "C_LAND", "MCA", "CASD", "CACOV", "SDI", "SEI", "SHEI"})
        EXPECT_GE(t->findField(f), 0) << f;
    EXPECT_LT(t->findField("SIDI"), 0);
}

TEST(GridSpatialStatsRun, AClassFieldNamesTheClassesOfTheRows) {
    GridSession s;
    h::RasterLayerPtr layer = s.addSample("landscape.tif");
    {
        // The forest-type names of the sample as a class field of the grid's table.
        h::TablePtr vat = layer->raster()->attributeTable();
        ASSERT_TRUE(vat);
        vat->addField({"FORTYPE", h::FieldString, 16, 0, 0});
        const std::map<int32_t, std::string> names = {{10, "Pine"},  {20, "Black Spruce"}, {30, "Birch"},
                                                      {40, "Aspen"}, {50, "Mixed"},        {60, "Wetland"}};
        h::Cursor rows = vat->update(nullptr, false);
        while (h::RowPtr r = rows.next()) {
            r->setValue("FORTYPE", names.at(static_cast<int32_t>(h::toDouble(r->value("Value")))));
            rows.updateRow(*r);
        }
        vat->flush();
    }
    kv::frmGridSpatialStats& d = s.open();
    s.act({"choose lstLayers landscape.tif"});
    EXPECT_GE(d.get<h::ComboBox>("cboClass").find("FORTYPE"), 0);
    EXPECT_LT(d.get<h::ComboBox>("cboClass").find("OBJECTID"), 0);
    const std::string table = s.table("named.dbf");
    s.act({"choose cboClass FORTYPE", "click txtOutputTableName", "file " + table, "click cmdOK"});
    ASSERT_EQ(s.driver.messages.back().text, "Grid spatial statistics was successful.")
        << fmt::format("{}", fmt::join(s.messageTexts(), "\n"));
    std::map<std::string, double> area;
    h::Cursor rows = h::Table::open(table)->search(nullptr, false);
    while (h::RowPtr r = rows.next()) area[h::toText(r->value("Class"))] = h::toDouble(r->value("CA"));
    // Cell counts of data/sample/README.md at 10 m cells, in hectares.
    EXPECT_EQ(area, (std::map<std::string, double>{{"Pine", 834.08}, {"Black Spruce", 478.82}, {"Birch", 239.19},
                                                   {"Aspen", 257.35}, {"Mixed", 442.68}, {"Wetland", 247.88}}));
}

TEST(GridSpatialStatsRun, RefusalsLeaveTheTableAsItWas) {
    GridSession s;
    s.addSample("landscape.tif");
    kv::frmGridSpatialStats& d = s.open();
    const std::string table = s.table("grid.dbf");
    const std::vector<std::string> chosen = {"Errtrack", "TA", "CA", "NP"};
    ASSERT_TRUE(d.RunGridSpatialStats("landscape.tif", "Value", true, table, true, chosen, false, "", "", "", "", "LC",
                                      true));
    korvane::test::FolderSnapshot before(s.dir);
    s.driver.messages.clear();
    // Unknown layer and field; a space question declined; overwrite and
    // append alike leave the old table whole.
    EXPECT_FALSE(d.RunGridSpatialStats("nothing", "Value", true, table, false, chosen, false, "", "", "", "", "LC", true));
    EXPECT_FALSE(d.RunGridSpatialStats("landscape.tif", "NoSuch", true, table, false, chosen, false, "", "", "", "",
                                       "LC", true));
    s.driver.addLines({"answer No"});
    EXPECT_FALSE(d.RunGridSpatialStats("landscape.tif", "Value", true, table, false, chosen, true, "", "", "", "", "LC",
                                       true));
    EXPECT_FALSE(d.RunGridSpatialStats("landscape.tif", "Value", true, table, false, chosen, false, "-3", "", "", "",
                                       "LC", true));
    std::vector<std::string> texts = s.messageTexts();
    ASSERT_GE(texts.size(), 5u);
    EXPECT_EQ(texts[0], "Could not find layer nothing");
    EXPECT_EQ(texts[1], "Cannot find field 'NoSuch' in the grid.  Cannot continue.");
    EXPECT_NE(texts[2].find("Grid has 500 rows and 500 columns, 6 classes, and a cell size of 10 ."), std::string::npos);
    EXPECT_EQ(texts[3], "User chose to quit");
    EXPECT_NE(texts[4].find("Buffer Distance '-3'"), std::string::npos);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    EXPECT_TRUE(s.driver.errorReports.empty());

    // A table name without .dbf is that name with it; a class-only run appends run 3.
    ASSERT_TRUE(d.RunGridSpatialStats("landscape.tif", "Value", true, s.table("grid"), true, chosen, false, "", "", "",
                                      "", "C", true));
    double largest = 0;
    h::Cursor rows = h::Table::open(table)->search(nullptr, false);
    while (h::RowPtr r = rows.next()) largest = std::max(largest, h::toDouble(r->value("Run")));
    EXPECT_EQ(largest, 3);
}

// A raster in other units than metres is run only when the user says so.
TEST(GridSpatialStatsRun, GeographicAndFootRastersAskBeforeTheRun) {
    struct Case {
        int epsg;
        double cell;
        const char* says;
    } cases[] = {
        {4326, 0.001, "is in geographic coordinates (degrees)"},
        {2263, 10, "is in feet: fragstat takes the cell size as metres"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.epsg);
        GridSession s;
        korvane::test::GridSpec spec;
        spec.columns = spec.rows = 4;
        spec.type = GDT_Int16;
        spec.cells = {1, 1, 2, 2, 1, 1, 2, 2, 2, 2, 1, 2, 2, 2, 2, 1};
        spec.epsg = c.epsg;
        spec.cellX = spec.cellY = c.cell;
        spec.originX = c.epsg == 4326 ? -79.5 : 1000000;
        spec.originY = c.epsg == 4326 ? 43.7 : 200000;
        h::RasterLayerPtr layer = h::openRasterLayer(korvane::test::writeGrid((s.dir / "odd.tif").string(), spec));
        s.map()->addLayer(layer);
        kv::frmGridSpatialStats& d = s.open();
        fs::create_directory(s.dir / "out");
        const std::string table = (s.dir / "out" / "odd.dbf").string();
        const std::vector<std::string> chosen = {"Errtrack", "TA", "CA", "NP"};
        korvane::test::FolderSnapshot before(s.dir / "out");
        s.driver.addLines({"answer No"});
        EXPECT_FALSE(d.RunGridSpatialStats("odd.tif", "Value", true, table, true, chosen, false, "", "", "", "", "LC",
                                           true));
        ASSERT_EQ(s.driver.messages.size(), 1u) << fmt::format("{}", fmt::join(s.messageTexts(), "\n"));
        EXPECT_EQ(s.driver.messages[0].title, "Map Units");
        EXPECT_NE(s.driver.messages[0].text.find(c.says), std::string::npos) << s.driver.messages[0].text;
        EXPECT_TRUE(before.sameAsNow()) << before.differences();
        s.driver.addLines({"answer Yes"});
        EXPECT_TRUE(d.RunGridSpatialStats("odd.tif", "Value", true, table, true, chosen, false, "", "", "", "", "LC",
                                          true));
        EXPECT_TRUE(fs::exists(table));
    }
}

using StandIn = korvane::test::FragStatsStandIn;

TEST(GridSpatialStatsRun, AFailedOrBrokenFragstatRunWritesNothing) {
    GridSession s;
    s.addSample("landscape.tif");
    kv::frmGridSpatialStats& d = s.open();
    fs::create_directory(s.dir / "out");
    const std::string table = (s.dir / "out" / "grid.dbf").string();
    const std::vector<std::string> chosen = {"Errtrack", "TA", "CA", "NP"};
    ASSERT_TRUE(d.RunGridSpatialStats("landscape.tif", "Value", true, table, true, chosen, false, "", "", "", "", "LC",
                                      true));
    TempFolderHere tmp(s.dir / "tmp");
    korvane::test::FolderSnapshot before(s.dir / "out");

    struct Case {
        const char* what;
        const char* script;
        const char* says;   // part of the last message
    } cases[] = {
        {"exits with an error after writing its files",
         "printf 'LID TA NP\\nx 25 6\\n' > \"$2.land\"; printf 'LID TYPE CA NP\\nx 10 3 1\\n' > \"$2.class\"; "
         "echo 'out of patch numbers' >&2; exit 3",
         "Select the Verbose Error Tracking box to help trace the problem"},
        {"leaves out the class file", "printf 'LID TA NP\\n%s 25 6\\n' \"$1\" > \"$2.land\"",
         "FRAGSTATS failed to run or successfully complete"},
        {"writes a short line", "printf 'LID TA NP\\nx 25 6\\n' > \"$2.land\"; printf 'LID TYPE CA NP\\nx 10 3\\n' > \"$2.class\"",
         "3 values under a header of 4"},
        {"writes data before the header",
         "printf 'LID TA NP\\nx 25 6\\n' > \"$2.land\"; printf 'x 10 3 1\\nLID TYPE CA NP\\n' > \"$2.class\"",
         "before the header"},
        {"writes a token that is no number",
         "printf 'LID TA NP\\nx 25 6\\n' > \"$2.land\"; printf 'LID TYPE CA NP\\nx 10 many 1\\n' > \"$2.class\"",
         "is not a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StandIn standIn(s.dir / "tmp", c.script);
        for (bool append : {true, false}) {
            s.driver.messages.clear();
            EXPECT_FALSE(d.RunGridSpatialStats("landscape.tif", "Value", true, table, append, chosen, false, "", "",
                                               "", "", "LC", true));
            ASSERT_FALSE(s.driver.messages.empty());
            EXPECT_NE(s.driver.messages.back().text.find(c.says), std::string::npos) << s.driver.messages.back().text;
            EXPECT_TRUE(s.driver.errorReports.empty());
            // The run's own folder is gone; the table is as it was.
            EXPECT_EQ(tmp.entries(), (std::vector<std::string>{(s.dir / "tmp" / "fragstat-stand-in").string()}));
            EXPECT_TRUE(before.sameAsNow()) << before.differences();
        }
    }

    // Verbose: the space question and the failure name the run's folder,
    // which is kept; the failure gives fragstat's exit code and error text.
    StandIn standIn(s.dir / "tmp", "echo 'out of patch numbers' >&2; exit 3");
    s.driver.messages.clear();
    s.driver.addLines({"answer Yes"});
    EXPECT_FALSE(d.RunGridSpatialStats("landscape.tif", "Value", true, table, true, chosen, true, "", "", "", "", "LC",
                                       true));
    std::string kept;
    for (const std::string& e : tmp.entries())
        if (e.find("korvane-fragstat.") != std::string::npos) kept = e;
    ASSERT_NE(kept, "");
    ASSERT_GE(s.driver.messages.size(), 2u);
    EXPECT_EQ(s.driver.messages.front().title, "Space Requirements");
    EXPECT_NE(s.driver.messages.front().text.find(kept), std::string::npos);
    const std::string& failure = s.driver.messages.back().text;
    EXPECT_NE(failure.find("fragstat ended with exit code 3: out of patch numbers"), std::string::npos) << failure;
    EXPECT_NE(failure.find("The files of the run are in " + kept), std::string::npos) << failure;
    EXPECT_TRUE(fs::exists(fs::path(kept) / "frag_av.flt"));
    fs::remove_all(kept);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();

    // A good run whose table cannot be put in place is reported as a failure.
    StandIn good(s.dir / "tmp",
                 "printf 'LID TA NP\\nx 25 6\\n' > \"$2.land\"; printf 'LID TYPE CA NP\\nx 10 3 1\\n' > \"$2.class\"");
    s.driver.messages.clear();
    korvane::host::testing::failAt(korvane::host::testing::Step::Rename, ENOSPC, ".dbf");
    EXPECT_FALSE(d.RunGridSpatialStats("landscape.tif", "Value", true, table, true, chosen, false, "", "", "", "", "LC",
                                       true));
    korvane::host::testing::clearFaults();
    ASSERT_FALSE(s.driver.messages.empty());
    EXPECT_EQ(s.driver.messages.back().title, "File Access Error");
    EXPECT_NE(s.driver.messages.back().text.find("It is as it was before the run."), std::string::npos);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    EXPECT_TRUE(korvane::test::temporariesIn(s.dir / "out").empty());
}

}  // namespace

// A grid whose every cell is NoData has no landscape: said, nothing written.
TEST(GridSpatialStatsRun, AnAllNoDataGridWritesNothing) {
    GridSession s;
    korvane::test::GridSpec g;
    g.columns = g.rows = 4;
    g.type = GDT_Int16;
    g.noData = -1;
    g.cells.assign(16, -1);
    s.map()->addLayer(h::openRasterLayer(korvane::test::writeGrid((s.dir / "empty.tif").string(), g)));
    kv::frmGridSpatialStats& d = s.open();
    const std::string table = s.table("grid.dbf");
    korvane::test::FolderSnapshot before(s.dir);
    EXPECT_FALSE(d.RunGridSpatialStats("empty.tif", "Value", true, table, false, {"TA", "CA", "NP"}, false, "", "",
                                       "", "", "LC", true));
    ASSERT_FALSE(s.driver.messages.empty());
    EXPECT_EQ(s.driver.messages.back().text,
              "empty.tif has no cells with a value (every cell is NoData): there is no landscape to measure.  Nothing "
              "was written.");
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
}

TEST(GridSpatialStatsRun, AFailureInsideTheRunIsReportedUnderItsProcedure) {
    GridSession s;
    h::RasterLayerPtr layer = s.addSample("landscape.tif");
    {
        // A value table whose values are no whole numbers: the run stops
        // while it reads them, before anything is written.
        h::TablePtr vat = layer->raster()->attributeTable();
        ASSERT_TRUE(vat);
        vat->deleteField("Value");
        vat->addField({"Value", h::FieldDouble, 0, 12, 1});
        h::Cursor rows = vat->update(nullptr, false);
        while (h::RowPtr r = rows.next()) {
            r->setValue("Value", 10.5);
            rows.updateRow(*r);
        }
        vat->flush();
    }
    kv::frmGridSpatialStats& d = s.open();
    const std::string table = s.table("grid.dbf");
    korvane::test::FolderSnapshot before(s.dir);
    EXPECT_FALSE(d.RunGridSpatialStats("landscape.tif", "Value", true, table, false, {"TA", "CA", "NP"}, false, "",
                                       "", "", "", "LC", true));
    ASSERT_EQ(s.driver.errorReports.size(), 1u);
    const std::string& report = s.driver.errorReports[0];
    EXPECT_NE(report.find("\tRunGridSpatialStats Forms/frmGridSpatialStats Line : "), std::string::npos) << report;
    EXPECT_NE(report.find("The raster table holds the value 10.5, which is no 32-bit whole number."),
              std::string::npos)
        << report;
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
}
