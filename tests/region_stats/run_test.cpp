// Whole region statistics runs on the sample (data/sample: landscape.tif by
// regions.shp, standage.tif as the response), driven through the dialog as a
// user drives it: each region's rows equal fragstat's own output for that
// region's grid cut by hand (GDAL's rasterizer, cell-centre rule), the
// regions' areas add up to the grid's, the join and its export, the
// response summary, and the refusals that leave every file as it was.
#include <csignal>
#include <unistd.h>
#include <sys/wait.h>
#include <gtest/gtest.h>

#include <gdal_alg.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <fmt/format.h>

#include "FaultInjection.h"
#include "host/data/Workspace.h"
#include "GridSession.h"
#include "TestFiles.h"
#include "fragstat/fragstat.h"
#include "host/Application.h"
#include "host/Document.h"
#include "host/FileReplace.h"
#include "host/OutputLock.h"
#include "host/Forms.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Raster.h"
#include "host/data/RasterLayer.h"
#include "host/data/Table.h"
#include "host/data/Workspace.h"
#include "raster/Classes/GridCommand.h"
#include "raster/Classes/clsG_RegionStats.h"
#include "raster/Forms/frmGridRegionStats.h"
#include "raster/Modules/modFragStats.h"
#include "raster/Modules/modRegionStats.h"

namespace {

namespace fs = std::filesystem;
namespace h = korvane::host;

class RegionSession : public korvane::test::GridSession<kv::clsG_RegionStats> {
public:
    RegionSession() : korvane::test::GridSession<kv::clsG_RegionStats>(KV_SAMPLE_DIR, "kv-regionstats") {}
    h::RasterLayerPtr addGrid(const std::string& name) {
        h::RasterLayerPtr layer = h::openRasterLayer(sample(name));
        map()->addLayer(layer);
        return layer;
    }
    h::FeatureLayerPtr addRegions() {
        h::FeatureLayerPtr layer = h::openFeatureLayer(sample("regions.shp"));
        map()->addLayer(layer);
        return layer;
    }
    std::string messages() const {
        std::string t;
        for (const auto& m : driver.messages) t += m.text + "\n";
        for (const auto& r : driver.errorReports) t += "report: " + r + "\n";
        return t;
    }
    // A run of the dialog on the sample, landscape and class level.
    void run(const std::string& table, const std::string& regionField = "REGION", bool response = false) {
        open();
        std::vector<std::string> lines = {"choose cboClassLayer landscape.tif", "choose cboClass Value",
                                          "choose cboRegionLayer regions",       "choose cboRegion " + regionField,
                                          "click chkLandscape",                  "click txtTableName",
                                          "file " + table};
        if (response) {
            lines.push_back("click chkCaptureResponseLayer");
            lines.push_back("choose cboResponseLayer standage.tif");
        }
        lines.push_back("click cmdOk");
        act(lines);
    }
};

// ---- the command and the dialog ------------------------------------------------------------------

TEST(RegionStatsCommand, EnabledNeedsAFeatureLayerAndAUsableGrid) {
    RegionSession s;
    EXPECT_EQ(s.command.Name(), "gridRegionStats");
    EXPECT_EQ(s.command.Caption(), "Spatial Statistics (by Regions)");
    s.command.OnClick();
    ASSERT_EQ(s.driver.messages.size(), 1u);
    EXPECT_EQ(s.driver.messages[0].text, "There are no layers loaded.  Cannot continue.");
    EXPECT_EQ(s.command.dialog(), nullptr);
    s.addGrid("landscape.tif");
    kv::SetMapLayersChanged(true);
    EXPECT_FALSE(s.command.Enabled());   // one layer
    s.addRegions();
    EXPECT_TRUE(s.command.Enabled());
    kv::SetMapLayersChanged(false);
    s.map()->deleteLayer(s.map()->layer(1));   // the grid
    EXPECT_TRUE(s.command.Enabled());          // cached until the flag is set
    s.map()->addLayer(h::openFeatureLayer(s.sample("landscape.shp")));
    kv::SetMapLayersChanged(true);
    EXPECT_FALSE(s.command.Enabled());         // two feature layers, no grid
    kv::SetMapLayersChanged(false);
}

TEST(RegionStatsDialog, LoadSelectsSingleLayersAndOkChecksInOrder) {
    RegionSession s;
    s.addGrid("landscape.tif");
    s.addRegions();
    kv::frmGridRegionStats& d = s.open();
    EXPECT_EQ(d.caption(), "Regions Statistics");
    EXPECT_EQ(d.get<h::ComboBox>("cboClassLayer").text(), "landscape.tif");
    EXPECT_EQ(d.get<h::ComboBox>("cboRegionLayer").text(), "regions");
    EXPECT_GE(d.get<h::ComboBox>("cboRegion").find("REGION"), 0);
    EXPECT_FALSE(d.get<h::Control>("cboResponseLayer").enabled());
    EXPECT_FALSE(d.get<h::Control>("optAppend").enabled());
    EXPECT_EQ(d.get<h::TextBox>("txtMPI").text(), "1000000");
    EXPECT_EQ(d.get<h::TextBox>("txtBoundaryInfl").text(), "1");
    s.act({"click cmdOk", "choose cboClass Value", "click cmdOk", "choose cboRegion REGION", "click cmdOk",
           "click chkCaptureResponseLayer", "click txtTableName", "file " + s.path("t.dbf"), "click cmdOk"});
    std::vector<std::string> titles, texts;
    for (const auto& m : s.driver.messages) texts.push_back(m.text), titles.push_back(m.title);
    EXPECT_EQ(texts, (std::vector<std::string>{"A class field needs to be chosen first",
                                               "A region needs to be chosen first",
                                               "A table needs to be selected first",
                                               "A response layer needs to be selected to continue"}));
    EXPECT_EQ(titles, std::vector<std::string>(4, "Missing Information"));
    // A new table: Overwrite, both disabled; nothing was written.
    EXPECT_TRUE(d.get<h::OptionButton>("optOverwrite").value());
    EXPECT_FALSE(d.get<h::Control>("optOverwrite").enabled());
    EXPECT_FALSE(fs::exists(s.path("t.dbf")));
    // An existing table: Append without a question; Overwrite asks, and No goes back to Append.
    std::ofstream(s.path("old.dbf")) << "x";
    s.driver.messages.clear();
    s.act({"click txtTableName", "file " + s.path("old.dbf")});
    EXPECT_TRUE(d.get<h::OptionButton>("optAppend").value());
    EXPECT_TRUE(d.get<h::Control>("optOverwrite").enabled());
    EXPECT_TRUE(s.driver.messages.empty());
    s.act({"click optOverwrite", "answer No"});
    ASSERT_EQ(s.driver.messages.size(), 1u);
    EXPECT_EQ(s.driver.messages[0].text, "Are you sure you want to overwrite all the data in this file?");
    EXPECT_EQ(s.driver.messages[0].title, "Confirm Overwrite");
    EXPECT_TRUE(d.get<h::OptionButton>("optAppend").value());
}

// ---- the region grid cut by hand ---------------------------------------------------------------

struct HandCut {
    int x0 = 0, y0 = 0, columns = 0, rows = 0;
    std::vector<uint8_t> inside;   // 1 where the region covers the cell's centre
};

// The region's window of whole cells of the 10 m sample lattice and its cells.
HandCut cutRegion(const std::string& shp, const std::string& field, const std::string& value) {
    GDALAllRegister();
    HandCut cut;
    auto* ds = static_cast<GDALDataset*>(GDALOpenEx(shp.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr));
    OGRLayer* layer = ds->GetLayer(0);
    std::vector<OGRGeometry*> shapes;
    OGREnvelope env;
    bool first = true;
    for (auto& f : *layer) {
        if (f->GetFieldAsString(field.c_str()) != value) continue;
        OGREnvelope e;
        f->GetGeometryRef()->getEnvelope(&e);
        if (first) env = e;
        else env.Merge(e);
        first = false;
        shapes.push_back(f->GetGeometryRef()->clone());
    }
    cut.x0 = static_cast<int>(std::floor((env.MinX - 600000) / 10));
    cut.y0 = static_cast<int>(std::floor((5055000 - env.MaxY) / 10));
    cut.columns = static_cast<int>(std::ceil((env.MaxX - 600000) / 10)) - cut.x0;
    cut.rows = static_cast<int>(std::ceil((5055000 - env.MinY) / 10)) - cut.y0;
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDataset* grid = mem->Create("", cut.columns, cut.rows, 1, GDT_Byte, nullptr);
    double gt[6] = {600000.0 + cut.x0 * 10, 10, 0, 5055000.0 - cut.y0 * 10, 0, -10};
    grid->SetGeoTransform(gt);
    int band = 1;
    std::vector<double> burn(shapes.size(), 1.0);
    std::vector<OGRGeometryH> handles(shapes.begin(), shapes.end());
    EXPECT_EQ(GDALRasterizeGeometries(grid, 1, &band, static_cast<int>(handles.size()), handles.data(), nullptr,
                                      nullptr, burn.data(), nullptr, nullptr, nullptr),
              CE_None);
    cut.inside.resize(static_cast<size_t>(cut.columns) * cut.rows);
    EXPECT_EQ(grid->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, cut.columns, cut.rows, cut.inside.data(), cut.columns,
                                               cut.rows, GDT_Byte, 0, 0),
              CE_None);
    GDALClose(grid);
    for (OGRGeometry* g : shapes) delete g;
    GDALClose(ds);
    return cut;
}

// The cells of a grid in the cut, NoData (-9999) outside the region.
std::vector<float> cellsOf(const std::string& tif, const HandCut& cut) {
    auto* ds = static_cast<GDALDataset*>(GDALOpen(tif.c_str(), GA_ReadOnly));
    std::vector<float> cells(static_cast<size_t>(cut.columns) * cut.rows);
    EXPECT_EQ(ds->GetRasterBand(1)->RasterIO(GF_Read, cut.x0, cut.y0, cut.columns, cut.rows, cells.data(), cut.columns,
                                             cut.rows, GDT_Float32, 0, 0),
              CE_None);
    GDALClose(ds);
    for (size_t i = 0; i < cells.size(); ++i)
        if (!cut.inside[i]) cells[i] = -9999;
    return cells;
}

// fragstat's own output for the hand-cut grid, with the run's parameters.
kv::FragStatsOutput fragstatOn(const HandCut& cut, const std::vector<float>& cells, const std::string& base,
                               bool landscape) {
    {
        std::ofstream flt(base + ".flt", std::ios::binary);
        flt.write(reinterpret_cast<const char*>(cells.data()), static_cast<std::streamsize>(cells.size() * 4));
        std::ofstream hdr(base + ".hdr");
        hdr << "ncols " << cut.columns << "\nnrows " << cut.rows << "\nxllcorner " << 600000 + cut.x0 * 10
            << "\nyllcorner " << 5055000 - (cut.y0 + cut.rows) * 10
            << "\ncellsize 10\nNODATA_value -9999\nbyteorder LSBFIRST\n";
    }
    std::vector<std::string> args = {base + ".flt", base, "10", "10", "7", std::to_string(cut.rows),
                                     std::to_string(cut.columns), "-9999", "$", "$", "$", "$", "1", "y",
                                     "1000000", "n", "NO", "$"};
    std::ostringstream err;
    EXPECT_EQ(korvane::fragstat::run(args, err), 0) << err.str();
    return kv::ReadFragStatsOutput(base + (landscape ? ".land" : ".class"));
}

const char* const kRegions[] = {"North", "East", "South", "West", "Central"};

std::string columnOf(const std::string& field) {
    static const std::map<std::string, std::string> m = {{"NumP", "NP"},    {"TLA", "TA"},     {"PSCoV", "PSCV"},
                                                         {"MCA", "MCA2"},   {"CASD", "CASD2"}, {"CACoV", "CACV2"},
                                                         {"SDI", "SHDI"},   {"SEI", "SHEI"}};
    auto it = m.find(field);
    return it == m.end() ? field : it->second;
}

TEST(RegionStatsRun, EachRegionsRowsEqualFragstatOnItsHandCutGrid) {
    RegionSession s;
    s.addGrid("landscape.tif");
    s.addRegions();
    const std::string table = s.path("regions-stats.dbf");
    s.run(table);
    ASSERT_TRUE(s.driver.errorReports.empty()) << s.messages();
    h::TablePtr t = h::Table::open(table);
    ASSERT_GT(t->rowCount(), 0) << s.messages();

    std::map<std::string, double> caOfClass;
    double ta = 0;
    for (int k = 0; k < 5; ++k) {
        const std::string region = kRegions[k];
        HandCut cut = cutRegion(s.path("regions.shp"), "REGION", region);
        std::vector<float> cells = cellsOf(s.path("landscape.tif"), cut);
        for (bool landscape : {true, false}) {
            kv::FragStatsOutput own = fragstatOn(cut, cells, s.path(fmt::format("own{}{}", k, landscape)), landscape);
            ASSERT_TRUE(own.ok()) << own.problem;
            const kv::FragStatsBlock& b = own.blocks[0];
            std::vector<h::RowPtr> mine;
            h::Cursor rows = t->search(nullptr, false);
            while (h::RowPtr r = rows.next())
                if (h::toText(r->value("REGION")) == region && (h::toText(r->value("Class")) == "All") == landscape)
                    mine.push_back(r);
            ASSERT_EQ(mine.size(), b.rows.size()) << region;
            for (size_t i = 0; i < mine.size(); ++i) {
                EXPECT_EQ(h::toDouble(mine[i]->value("Run")), k + 1) << region;
                if (!landscape) {
                    EXPECT_EQ(h::toText(mine[i]->value("Class")), b.rows[i][b.column("TYPE")]);
                }
                int compared = 0;
                for (int32_t f = t->findField("ClassHist") + 1; f < t->fields().count(); ++f) {
                    const std::string name = t->fields().field(f).name;
                    const int32_t c = b.column(columnOf(name));
                    if (c < 0) continue;
                    const std::string& token = b.rows[i][static_cast<size_t>(c)];
                    const h::Value& v = mine[i]->value(f);
                    if (token == ".") EXPECT_TRUE(h::isNull(v)) << region << " " << name;
                    else EXPECT_NEAR(h::toDouble(v), std::stod(token), 0.0051) << region << " " << name;
                    ++compared;
                }
                EXPECT_GE(compared, landscape ? 25 : 20);
                if (landscape) ta += h::toDouble(mine[i]->value("TLA"));
                else caOfClass[h::toText(mine[i]->value("Class"))] += h::toDouble(mine[i]->value("CA"));
            }
        }
    }
    // The regions tile the grid: their areas add up to the grid's (README cell counts, in hectares).
    EXPECT_NEAR(ta, 2500, 0.05);
    const std::map<std::string, double> whole = {{"10", 834.08}, {"20", 478.82}, {"30", 239.19},
                                                 {"40", 257.35}, {"50", 442.68}, {"60", 247.88}};
    for (const auto& [cls, ca] : whole) EXPECT_NEAR(caOfClass[cls], ca, 0.05) << cls;
}

TEST(RegionStatsRun, TheJoinCarriesThisCallsClassAreasWithTheRegionsShapes) {
    RegionSession s;
    s.addGrid("landscape.tif");
    h::FeatureLayerPtr regions = s.addRegions();
    // Join.dbf and a lone Join1.shp are there: the export is Join2.
    std::ofstream(s.path("Join.dbf")) << "x";
    std::ofstream(s.path("Join1.shp")) << "x";
    const std::string table = s.path("stats.dbf");
    s.run(table);
    s.run(table);   // appended: the join shows the second call's values, not twice them
    ASSERT_TRUE(s.driver.errorReports.empty()) << s.messages();
    ASSERT_TRUE(fs::exists(s.path("Join2.shp"))) << s.messages();
    ASSERT_TRUE(fs::exists(s.path("Join3.shp")));
    h::FeatureClassPtr joined = h::FeatureClass::open(s.path("Join3.shp"));
    EXPECT_EQ(joined->fields().names(), (std::vector<std::string>{"FID", "Shape", "REGION", "REGIONID", "Class-10",
                                                                  "Class-20", "Class-30", "Class-40", "Class-50",
                                                                  "Class-60"}));
    ASSERT_TRUE(joined->spatialReference());
    EXPECT_EQ(joined->shapeType(), h::ShapeType::Polygon);
    double total = 0;
    h::Cursor rows = joined->search(nullptr, false);
    int64_t n = 0;
    while (h::RowPtr r = rows.next()) {
        ++n;
        EXPECT_NEAR(r->shape().area(), regions->featureClass()->row(r->oid())->shape().area(), 1e-3);
        for (int32_t f = 4; f < joined->fields().count(); ++f) total += h::toDouble(r->value(f));
    }
    EXPECT_EQ(n, 5);
    EXPECT_NEAR(total, 2500, 0.05);
    // The map: three tables per call and one layer per call; the region layer without its join.
    EXPECT_EQ(s.map()->tables().size(), 6u);
    EXPECT_FALSE(regions->join());
    EXPECT_EQ(s.map()->layer(0)->name(), "Regions analysis of landscape.tif (Value) by regions");
    // The cross-tab rows of the second call equal the first's.
    h::TablePtr area = h::Table::open(s.path("SStatsByRgns--ClassAreaCrosstab.dbf"));
    std::map<std::string, std::vector<std::string>> byRun;
    h::Cursor c = area->search(nullptr, false);
    while (h::RowPtr r = c.next()) byRun[h::toText(r->value("Run"))].push_back(h::toText(r->value("Class-10")));
    EXPECT_EQ(byRun["0"], byRun["1"]);
    EXPECT_EQ(byRun.size(), 2u);
}

TEST(RegionStatsRun, TheResponseSummaryIsJoinedWithItsMeanAsMeanResponse) {
    RegionSession s;
    s.addGrid("landscape.tif");
    s.addGrid("standage.tif");
    s.addRegions();
    s.run(s.path("stats.dbf"), "REGIONID", true);
    ASSERT_TRUE(s.driver.errorReports.empty()) << s.messages();
    ASSERT_TRUE(fs::exists(s.path("Join.shp"))) << s.messages();
    h::LayerPtr layer = s.map()->layer(0);
    EXPECT_FALSE(layer->visible());
    EXPECT_EQ(layer->fieldAlias("Mean"), "MeanResponse");
    h::FeatureClassPtr joined = h::FeatureClass::open(s.path("Join.shp"));
    for (const char* gone : {"MIN", "MAX", "COUNT", "SUM", "STD", "MEDIAN"}) EXPECT_LT(joined->findField(gone), 0) << gone;
    ASSERT_GE(joined->findField("MEAN"), 0);
    // The summary's field keeps its own name, letter case included.
    EXPECT_EQ(joined->fields().field(joined->findField("MEAN")).name, "Mean");
    h::Cursor rows = joined->search(nullptr, false);
    while (h::RowPtr r = rows.next()) {
        const int id = static_cast<int>(h::toDouble(r->value("REGIONID")));
        HandCut cut = cutRegion(s.path("regions.shp"), "REGIONID", std::to_string(id));
        std::vector<float> cells = cellsOf(s.path("standage.tif"), cut);
        double sum = 0;
        int64_t count = 0;
        for (float v : cells)
            if (v != -9999) sum += v, ++count;
        EXPECT_NEAR(h::toDouble(r->value("MEAN")), sum / count, 1e-6) << id;
    }
    // No zonal table is left in the output folder.
    for (const auto& e : fs::directory_iterator(s.dir))
        EXPECT_EQ(e.path().filename().string().find("RgnStats"), std::string::npos) << e.path();

    // The response layer gone from the map: said, and the class areas are joined instead.
    kv::frmGridRegionStats& d = *s.command.dialog();
    for (const h::LayerPtr& l : s.map()->layers())
        if (l->name() == "standage.tif") {
            s.map()->deleteLayer(l);
            break;
        }
    s.driver.messages.clear();
    ASSERT_TRUE(d.RunGridRegionStats("landscape.tif", "Value", "regions", "REGIONID", "LC", true, "CA, TE, %LAND",
                                     s.path("stats.dbf"), true, "False"))
        << s.messages();
    EXPECT_EQ(s.driver.messages.front().text, "Could not find Response theme standage.tif");
    h::FeatureClassPtr areas = h::FeatureClass::open(s.path("Join1.shp"));
    EXPECT_GE(areas->findField("Class-10"), 0);
    EXPECT_LT(areas->findField("MEAN"), 0);
    EXPECT_FALSE(s.map()->layer(0)->visible());
}

// While a region's results are read, the second status line shows each
// value as column :: token, as the files hold it: one "%LAND" line per class
// row of the table.
TEST(RegionStatsRun, TheStatusLineShowsEachValueAsItIsRead) {
    RegionSession s;
    s.addGrid("landscape.tif");
    s.addRegions();
    kv::frmGridRegionStats& d = s.open();
    struct Watch : h::ScriptDriver {
        using h::ScriptDriver::ScriptDriver;
        std::vector<std::string> values;
        void controlChanged(h::Control& c) override {
            auto* l = dynamic_cast<h::Label*>(&c);
            if (l && c.name() == "lblStatus2" && l->caption().find(" :: ") != std::string::npos)
                values.push_back(l->caption());
            h::ScriptDriver::controlChanged(c);
        }
    } watch{s.out};
    watch.echoForms = false;
    h::setUi(&watch);
    const bool ran = d.RunGridRegionStats("landscape.tif", "Value", "regions", "REGION", "LC", true, "CA, TE, %LAND",
                                          s.path("stats.dbf"), false, "False");
    h::setUi(&s.driver);
    ASSERT_TRUE(ran) << s.messages();
    ASSERT_FALSE(watch.values.empty());
    int64_t land = 0;
    for (const std::string& v : watch.values) {
        EXPECT_TRUE(v.rfind("CA :: ", 0) == 0 || v.rfind("TE :: ", 0) == 0 || v.rfind("%LAND :: ", 0) == 0) << v;
        EXPECT_EQ(v.find(' ', v.find(":: ") + 3), std::string::npos) << v;   // one token
        land += v.rfind("%LAND :: ", 0) == 0;
    }
    int64_t classRows = 0;
    h::TablePtr table = h::Table::open(s.path("stats.dbf"));
    h::Cursor c = table->search(nullptr, false);
    while (h::RowPtr r = c.next()) classRows += h::toText(r->value("Class")) != "All";
    EXPECT_EQ(land, classRows);
    EXPECT_GT(classRows, 0);
}

// Text keys with quotes and fractional keys each select their own regions;
// regions without a value are left out, said once, and have no values in the join.
TEST(RegionStatsRun, QuotedTextFractionalAndNullKeysKeepTheirRegions) {
    RegionSession s;
    s.addGrid("landscape.tif");
    h::FeatureLayerPtr regions = s.addRegions();
    {
        h::FeatureClassPtr fc = regions->featureClass();
        fc->addFields({{"OWNER", h::FieldString, 20, 0, 0}, {"SHARE", h::FieldDouble, 0, 8, 2}});
        const char* owners[] = {"O'Brien", "Crown", nullptr, "O'Brien", "Crown"};
        h::Cursor rows = fc->update(nullptr, false);
        int k = 0;
        while (h::RowPtr r = rows.next()) {
            if (owners[k]) r->setValue("OWNER", std::string(owners[k]));
            r->setValue("SHARE", 0.25 + k % 2);
            rows.updateRow(*r);
            ++k;
        }
        fc->flush();
    }
    const std::string table = s.path("owners.dbf");
    s.run(table, "OWNER");
    ASSERT_TRUE(s.driver.errorReports.empty()) << s.messages();
    h::TablePtr t = h::Table::open(table);
    EXPECT_EQ(t->fields().field(t->findField("OWNER")), (h::FieldDef{"OWNER", h::FieldString, 20, 0, 0}));
    std::map<std::string, double> ta;
    h::Cursor rows = t->search(nullptr, false);
    while (h::RowPtr r = rows.next())
        if (h::toText(r->value("Class")) == "All") ta[h::isNull(r->value("OWNER")) ? "<null>" : h::toText(r->value("OWNER"))] += h::toDouble(r->value("TLA"));
    ASSERT_EQ(ta.size(), 2u) << s.messages();
    EXPECT_NEAR(ta["O'Brien"] + ta["Crown"], 2500 - 481.9, 1.0);   // all but South's 4,818,983 m2 (README)
    EXPECT_EQ(s.driver.messages.back().text,
              "1 feature of regions without a value of OWNER (null) was left out of the run and of the join.");
    EXPECT_EQ(s.driver.messages.back().title, "Regions Left Out");
    {
        h::FeatureClassPtr joined = h::FeatureClass::open(s.path("Join.shp"));
        h::Cursor jr = joined->search(nullptr, false);
        int64_t blank = 0;
        while (h::RowPtr r = jr.next())
            if (h::isNull(r->value("OWNER"))) {
                ++blank;
                for (const char* cls : {"Class-10", "Class-20"}) EXPECT_TRUE(h::isNull(r->value(cls))) << cls;
            }
        EXPECT_EQ(blank, 1);
    }

    const std::string shares = s.path("shares.dbf");
    s.run(shares, "SHARE");
    ASSERT_TRUE(s.driver.errorReports.empty()) << s.messages();
    h::TablePtr st = h::Table::open(shares);
    EXPECT_EQ(st->fields().field(st->findField("SHARE")), (h::FieldDef{"SHARE", h::FieldDouble, 0, 8, 2}));
    std::set<double> keys;
    h::Cursor sr = st->search(nullptr, false);
    while (h::RowPtr r = sr.next()) keys.insert(h::toDouble(r->value("SHARE")));
    EXPECT_EQ(keys, (std::set<double>{0.25, 1.25}));
}

// An Int16 GeoTIFF on the sample's corner (UTM 17N), cells of 10 m wide
// and cellY high, row by row from the top.
void writeInt16Grid(const std::string& path, int columns, int rows, double cellY, std::vector<int16_t> cells) {
    GDALAllRegister();
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDataset* ds = gtiff->Create(path.c_str(), columns, rows, 1, GDT_Int16, nullptr);
    double gt[6] = {600000, 10, 0, 5055000, 0, -cellY};
    ds->SetGeoTransform(gt);
    OGRSpatialReference sr;
    sr.importFromEPSG(26917);
    ds->SetSpatialRef(&sr);
    EXPECT_EQ(ds->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, columns, rows, cells.data(), columns, rows, GDT_Int16, 0, 0),
              CE_None);
    GDALClose(ds);
}

// Inputs that cannot give a region's figures are refused before any write:
// cells that are not square (the grid statistics' refusal), a region layer
// without features, one whose selected features have no region value.
TEST(RegionStatsRun, NonSquareCellsAndRegionLayersWithoutRegionsWriteNothing) {
    RegionSession s;
    {
        std::vector<int16_t> cells(500 * 417, 10);
        for (size_t i = 0; i < cells.size(); i += 3) cells[i] = 20;
        writeInt16Grid(s.path("tall.tif"), 500, 417, 12, cells);
        s.map()->addLayer(h::openRasterLayer(s.path("tall.tif")));
    }
    s.addGrid("landscape.tif");
    h::FeatureLayerPtr regions = s.addRegions();
    h::FeatureClassPtr none = h::ShapefileWorkspace::open(s.dir.string())
                                  .createFeatureClass("none", {{"REGION", h::FieldString, 16, 0, 0}},
                                                      h::ShapeType::Polygon,
                                                      &*regions->featureClass()->spatialReference());
    s.map()->addLayer(std::make_shared<h::FeatureLayer>(none, "none"));
    regions->featureClass()->addFields({{"EMPTY", h::FieldString, 8, 0, 0}});
    regions->featureClass()->flush();
    kv::frmGridRegionStats& d = s.open();
    const std::string table = s.path("stats.dbf");
    struct Case {
        const char *grid, *regions, *field;
        std::string says;
    } cases[] = {
        {"tall.tif", "regions", "REGION",
         "The cells of tall.tif are 10 by 12 map units.  fragstat measures square cells only, so its areas and edges "
         "would be wrong.\r\nResample the raster to square cells.  Cannot continue."},
        {"landscape.tif", "none", "REGION",
         "The region layer none has no features, so there is no region to run.  Nothing was written."},
        {"landscape.tif", "regions", "EMPTY",
         "No feature of the region layer regions has a value of EMPTY, so there is no region to run.  Nothing was "
         "written."},
    };
    for (const Case& c : cases) {
        korvane::test::FolderSnapshot before(s.dir);
        const auto scratch = korvane::test::FolderSnapshot::read(h::scratchFolder());
        s.driver.messages.clear();
        EXPECT_FALSE(d.RunGridRegionStats(c.grid, "Value", c.regions, c.field, "LC", true, "CA, TE, %LAND", table,
                                          false, "False"));
        ASSERT_EQ(s.driver.messages.size(), 1u) << s.messages();
        EXPECT_EQ(s.driver.messages[0].text, c.says);
        EXPECT_TRUE(s.driver.errorReports.empty()) << s.messages();
        EXPECT_TRUE(before.sameAsNow()) << before.differences();
        EXPECT_EQ(korvane::test::FolderSnapshot::read(h::scratchFolder()), scratch);
        EXPECT_TRUE(s.map()->tables().empty());
    }
}

// The run-number limit says what it is and what to do, for a new table and
// for one appended to.
TEST(RegionStatsRun, TheRunNumberLimitSaysWhatItIsAndWhatToDo) {
    korvane::test::TempFolder tmp;
    const std::string fresh = tmp.file("new.dbf");
    kv::GridStatsTableState s = kv::CheckRegionStatsTable(fresh, false, 1000, "REGION");
    EXPECT_EQ(s.refusal,
              "The Run field of the region statistics table holds run numbers up to 999, one per region value, and "
              "the run has 1000 region values.\r\nSelect the regions of at most 999 values in the region layer and "
              "write each selection to a table of its own.  Cannot continue.");
    EXPECT_TRUE(kv::CheckRegionStatsTable(fresh, false, 999, "REGION").refusal.empty());
}
TEST(RegionStatsRun, RefusalsLeaveEveryFileAndTheSelectionAsTheyWere) {
    RegionSession s;
    s.addGrid("landscape.tif");
    h::FeatureLayerPtr regions = s.addRegions();
    regions->selectionSet().add(std::vector<int64_t>{1, 3});
    kv::frmGridRegionStats& d = s.open();
    const std::string table = s.path("stats.dbf");
    // A selection of two regions: only they get rows, runs 1 and 2.
    ASSERT_TRUE(d.RunGridRegionStats("landscape.tif", "Value", "regions", "REGION", "C", true, "CA, TE, %LAND", table,
                                     true, "False"))
        << s.messages();
    EXPECT_EQ(regions->selectionSet().ids(), (std::vector<int64_t>{1, 3}));
    {
        h::TablePtr t = h::Table::open(table);
        std::set<std::string> seen;
        h::Cursor c = t->search(nullptr, false);
        while (h::RowPtr r = c.next()) seen.insert(h::toText(r->value("REGION")) + h::toText(r->value("Run")));
        EXPECT_EQ(seen, (std::set<std::string>{"East1", "West2"}));
    }
    const std::string scratch = h::scratchFolder();
    const auto scratchBefore = korvane::test::FolderSnapshot::read(scratch);
    korvane::test::FolderSnapshot before(s.dir);
    s.driver.messages.clear();
    {
        // Run numbers 998 and on: 998 + the 2 selected regions pass 999.
        h::TablePtr t = h::Table::open(table);
        h::Cursor c = t->update(nullptr, false);
        while (h::RowPtr r = c.next()) {
            r->setValue("Run", 998);
            c.updateRow(*r);
        }
        t->flush();
    }
    regions->featureClass()->addField({"CLASS", h::FieldString, 8, 0, 0});
    regions->featureClass()->flush();
    korvane::test::FolderSnapshot high(s.dir);
    EXPECT_FALSE(d.RunGridRegionStats("landscape.tif", "Value", "regions", "REGION", "C", true, "CA, TE", table, true,
                                      "False"));
    ASSERT_EQ(s.driver.messages.size(), 1u) << s.messages();
    EXPECT_NE(s.driver.messages[0].text.find("up to 999"), std::string::npos) << s.messages();
    EXPECT_TRUE(high.sameAsNow()) << high.differences();
    EXPECT_EQ(regions->selectionSet().ids(), (std::vector<int64_t>{1, 3}));
    // Unknown layers and fields.
    s.driver.messages.clear();
    EXPECT_FALSE(d.RunGridRegionStats("nothing", "Value", "regions", "REGION", "C", true, "CA, TE", table, false, "False"));
    EXPECT_FALSE(d.RunGridRegionStats("landscape.tif", "Nope", "regions", "REGION", "C", true, "CA, TE", table, false, "False"));
    EXPECT_FALSE(d.RunGridRegionStats("landscape.tif", "Value", "nothing", "REGION", "C", true, "CA, TE", table, false, "False"));
    EXPECT_FALSE(d.RunGridRegionStats("landscape.tif", "Value", "regions", "NOPE", "C", true, "CA, TE", table, false, "False"));
    // A list without the cross-tabulated metrics; a region field named like a field of the table.
    EXPECT_FALSE(d.RunGridRegionStats("landscape.tif", "Value", "regions", "REGION", "C", true, "CA, NumP", table,
                                      false, "False"));
    EXPECT_FALSE(d.RunGridRegionStats("landscape.tif", "Value", "regions", "CLASS", "C", true, "CA, TE", table,
                                      false, "False"));
    EXPECT_EQ(s.messages(),
              "Could not find raster layer nothing\n"
              "Cannot find field 'Nope' in the grid.  Cannot continue.\n"
              "Could not find region layer nothing\n"
              "Cannot find field 'NOPE' in the feature layer.  Cannot continue.\n"
              "The cross-tabulations sum the metrics CA and TE: the list must hold both.  Cannot continue.\n"
              "The region field CLASS has the name of another field of the statistics table.  Cannot continue.\n");
    EXPECT_TRUE(high.sameAsNow()) << high.differences();
    // Every temporary grid of the runs is gone.
    EXPECT_EQ(korvane::test::FolderSnapshot::read(scratch), scratchBefore);
}

// A table that cannot be put in place (a failing fsync, close or rename of
// its new version) stays as it was, and nothing else is written.
TEST(RegionStatsRun, AFailedReplacementLeavesTheTableAsItWas) {
    namespace ht = korvane::host::testing;
    RegionSession s;
    s.addGrid("landscape.tif");
    s.addRegions();
    kv::frmGridRegionStats& d = s.open();
    const std::string table = s.path("stats.dbf");
    ASSERT_TRUE(d.RunGridRegionStats("landscape.tif", "Value", "regions", "REGION", "LC", true, "CA, TE, %LAND",
                                     table, true, "False"))
        << s.messages();
    for (ht::Step step : {ht::Step::Fsync, ht::Step::Close, ht::Step::Rename}) {
        korvane::test::FolderSnapshot before(s.dir);
        s.driver.messages.clear();
        ht::failAt(step, EIO, "stats.dbf");
        EXPECT_FALSE(d.RunGridRegionStats("landscape.tif", "Value", "regions", "REGION", "LC", true, "CA, TE, %LAND",
                                          table, true, "False"));
        ht::clearFaults();
        EXPECT_TRUE(before.sameAsNow()) << before.differences();
        ASSERT_FALSE(s.driver.messages.empty());
        EXPECT_NE(s.driver.messages.back().text.find("It is as it was before the run."), std::string::npos)
            << s.messages();
        EXPECT_TRUE(korvane::test::temporariesIn(s.dir).empty());
    }
}

TEST(RegionStatsRun, TwoRunsAppendingTogetherKeepEveryRowWithRunsOfTheirOwn) {
    RegionSession s;
    s.addGrid("landscape.tif");
    s.addRegions();
    const std::string table = s.path("stats.dbf");
    s.run(table);   // the table both append to (the dialog appends from now on)
    constexpr int kRuns = 3;
    std::vector<pid_t> children;
    for (int c = 0; c < 2; ++c) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0; i < kRuns; ++i) s.run(table);
            ::_exit(s.driver.errorReports.empty() ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    // Every run's rows: one run number per region value, none shared.
    std::map<std::string, int> rowsOfRun;
    h::Cursor c = h::Table::open(table)->search(nullptr, false);
    int total = 0;
    while (h::RowPtr r = c.next()) {
        ++rowsOfRun[h::toText(r->value("Run"))];
        ++total;
    }
    ASSERT_FALSE(rowsOfRun.empty());
    const int regions = static_cast<int>(rowsOfRun.size()) / (2 * kRuns + 1);
    EXPECT_EQ(static_cast<int>(rowsOfRun.size()), (2 * kRuns + 1) * regions);
    EXPECT_EQ(total % (2 * kRuns + 1), 0);
    EXPECT_EQ(rowsOfRun.count(std::to_string((2 * kRuns + 1) * regions)), 1u);
    for (const auto& [run, n] : rowsOfRun) EXPECT_EQ(n, total / static_cast<int>(rowsOfRun.size())) << "run " << run << " of " << rowsOfRun.size() << ", " << total << " rows";
    EXPECT_FALSE(fs::exists(table + ".kvtmp-lock"));
}

// A run on another table of the folder that is choosing its join's name at
// the same time (here: holds the lock on the join names and then makes Join)
// is waited for, and this run's join takes the next name.
TEST(RegionStatsRun, TwoRunsInOneFolderNeverTakeOneJoinName) {
    RegionSession s;
    s.addGrid("landscape.tif");
    s.addRegions();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t other = ::fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        h::OutputLock names(fs::path(s.path("Join.shp")));
        (void)!::write(ready[1], "x", 1);
        ::usleep(1500 * 1000);
        for (const char* ext : {".shp", ".shx", ".dbf"}) std::ofstream(s.path(std::string("Join") + ext)) << "other";
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    s.run(s.path("stats.dbf"));
    int status = 0;
    ASSERT_EQ(::waitpid(other, &status, 0), other);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_TRUE(s.driver.errorReports.empty()) << s.messages();
    EXPECT_TRUE(fs::exists(s.path("Join1.shp"))) << s.messages();
    std::ifstream theirs(s.path("Join.shp"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(theirs), std::istreambuf_iterator<char>()), "other");   // the other run's join is as it made it
    EXPECT_FALSE(fs::exists(s.path("Join.shp.kvtmp-lock")));
}

TEST(RegionStatsRun, AKillWhileTheJoinIsWrittenLeavesNoJoinOrAWholeOne) {
    namespace ht = korvane::host::testing;
    RegionSession s;
    s.addGrid("landscape.tif");
    s.addRegions();
    // Killed at any flush of the join's files after the first: the export is
    // written once, so only a join without the fields it leaves out is seen.
    for (int skip : {0, 1, 2}) {
        korvane::test::ChildOutcome o = korvane::test::runInChild([&](std::string& why) {
            ht::killAt(ht::Step::Fsync, "Join.dbf", skip);
            s.run(s.path("stats.dbf"));
            if (!s.driver.errorReports.empty()) return why = s.messages(), 1;
            return 0;
        });
        EXPECT_TRUE(o.signal == SIGKILL || (o.exited && o.code == 0)) << korvane::test::describe(o);
        if (fs::exists(s.path("Join.dbf"))) {
            h::FeatureClassPtr joined = h::FeatureClass::open(s.path("Join.shp"));
            for (const char* left : {"OID_", "Name", "RunDate", "Run", "Class-All"})
                EXPECT_LT(joined->findField(left), 0) << "skip " << skip << ": " << left;
            joined.reset();
            h::ShapefileWorkspace::open(s.dir.string()).deleteDataset("Join");
        }
    }
}

// fragstat failing, leaving out a file or writing a malformed one: the
// run ends with a message before anything is written, whatever region it
// reached.
TEST(RegionStatsRun, AFailedOrBrokenFragstatRunWritesNothing) {
    RegionSession s;
    s.addGrid("landscape.tif");
    h::FeatureLayerPtr regions = s.addRegions();
    kv::frmGridRegionStats& d = s.open();
    fs::create_directory(s.dir / "out");
    fs::create_directory(s.dir / "bin");
    const std::string table = (s.dir / "out" / "stats.dbf").string();
    ASSERT_TRUE(d.RunGridRegionStats("landscape.tif", "Value", "regions", "REGION", "LC", true, "CA, TE, %LAND",
                                     table, true, "False"))
        << s.messages();
    korvane::test::FolderSnapshot before(s.dir / "out");
    struct Case {
        const char* what;
        const char* script;
        const char* says;
    } cases[] = {
        {"exits with an error after writing its files",
         "printf 'LID TA\\nx 25\\n' > \"$2.land\"; printf 'LID TYPE CA TE %%LAND\\nx 10 3 1 5\\n' > \"$2.class\"; exit 3",
         "FRAGSTATS failed to run or successfully complete"},
        {"leaves out the class file", "printf 'LID TA\\nx 25\\n' > \"$2.land\"",
         "FRAGSTATS failed to run or successfully complete"},
        // Regions run side by side: the count of runs is taken under a lock.
        {"fails at the fourth region",
         "exec 9<\"$0\"; flock 9; n=$(ls \"$(dirname \"$0\")\" | wc -l); touch \"$(dirname \"$0\")/ran$n\"; "
         "flock -u 9; [ $n -gt 3 ] && exit 1; "
         "printf 'LID TA\\nx 25\\n' > \"$2.land\"; printf 'LID TYPE CA TE %%LAND\\nx 10 3 1 5\\n' > \"$2.class\"",
         "FRAGSTATS failed to run or successfully complete"},
        {"writes a short line",
         "printf 'LID TA\\nx 25\\n' > \"$2.land\"; printf 'LID TYPE CA TE %%LAND\\nx 10 3\\n' > \"$2.class\"",
         "is malformed"},
    };
    // The scratch folder is made before $TMPDIR points here (a run that
    // needs no scratch raster does not make it, and the check below asks for it).
    (void)h::scratchFolder();
    korvane::test::TempFolderHere tmp(s.dir / "tmp");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& e : fs::directory_iterator(s.dir / "bin")) fs::remove(e.path());
        korvane::test::FragStatsStandIn standIn(s.dir / "bin", c.script);
        s.driver.messages.clear();
        EXPECT_FALSE(d.RunGridRegionStats("landscape.tif", "Value", "regions", "REGION", "LC", true,
                                          "CA, TE, %LAND", table, true, "False"));
        ASSERT_FALSE(s.driver.messages.empty());
        EXPECT_NE(s.driver.messages.back().text.find(c.says), std::string::npos) << s.messages();
        EXPECT_TRUE(s.driver.errorReports.empty()) << s.messages();
        EXPECT_TRUE(before.sameAsNow()) << before.differences();
        EXPECT_EQ(regions->selectionSet().count(), 5);
        EXPECT_TRUE(fs::is_empty(h::scratchFolder()));   // the region's mask and cut grid are gone
        EXPECT_TRUE(tmp.entries().empty());                 // and so is the region's fragstat folder
        if (std::string(c.what) == "fails at the fourth region") {   // three regions ran well before it (and
            // the fifth may have been started beside the fourth)
            EXPECT_GE(std::distance(fs::directory_iterator(s.dir / "bin"), fs::directory_iterator()), 5);
        }
    }
}

// A region grid that fragstat cannot take (cells of -9999, its NoData) gives
// no output: the run ends with the missing-output message and writes nothing.
TEST(RegionStatsRun, ARegionWithoutOutputEndsTheRunBeforeAnyWrite) {
    RegionSession s;
    {
        std::vector<int16_t> cells(500 * 500, 1);
        for (int i = 0; i < 500 * 250; ++i) cells[static_cast<size_t>(i)] = -9999;   // the north half
        writeInt16Grid(s.path("odd.tif"), 500, 500, 10, cells);
        s.map()->addLayer(h::openRasterLayer(s.path("odd.tif")));
    }
    h::FeatureLayerPtr regions = s.addRegions();
    kv::frmGridRegionStats& d = s.open();
    korvane::test::FolderSnapshot before(s.dir);
    EXPECT_FALSE(d.RunGridRegionStats("odd.tif", "Value", "regions", "REGION", "LC", true, "CA, TE", s.path("t.dbf"), false,
                                      "False"));
    ASSERT_FALSE(s.driver.messages.empty());
    EXPECT_EQ(s.driver.messages.back().text,
              "The raster file was exported successfully, but FRAGSTATS failed to run or successfully complete, so no "
              "FRAGSTATS output file was created.  Select the Verbose Error Tracking box to help trace the problem");
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    EXPECT_TRUE(regions->selectionSet().count() == 5);   // the whole layer, as remembered
    EXPECT_FALSE(regions->join());
}

}  // namespace
