// One request through the dialog's RunSpatialStats, on a dialog object that
// is never shown (as the batch runner uses it), against the module's metric
// routines on the same patches: where both compute the same metric they
// agree. The run measures its working copy through Single support fields
// and writes Single output fields, so the comparison allows for that.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "host/Application.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "vector/Forms/frmSpatialStat.h"
#include "vector/Modules/modMisc.h"
#include "vector/Modules/modSpatialStats.h"

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {

class RunAgreement : public ::testing::Test {
protected:
    void SetUp() override {
        driver.echoForms = false;
        h::setUi(&driver);
        auto& app = h::Application::instance();
        app.setDocument(std::make_shared<h::Document>());
        app.document()->focusMap()->setMapUnits(h::UnitMeters);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = sfs::temp_directory_path() / ("kv-run-agreement-" + std::to_string(::getpid()) + "-" + info->name());
        sfs::remove_all(dir);
        sfs::create_directories(dir);
    }
    void TearDown() override {
        h::Application::instance().setDocument(std::make_shared<h::Document>());
        h::setUi(nullptr);
        sfs::remove_all(dir);
    }

    h::LayerPtr addSample(const std::string& name) {
        auto layer = h::openFeatureLayer(std::string(KV_SAMPLE_DIR) + "/" + name + ".shp");
        h::Application::instance().document()->focusMap()->addLayer(layer);
        return layer;
    }

    // Runs the request and returns each row's values by class.
    std::map<std::string, std::map<std::string, double>> run(const std::string& layer, const std::string& table,
                                                              const std::vector<std::string>& boxes,
                                                              bool landscape, bool addToMap = false) {
        kv::frmSpatialStat dialog;
        std::string path = (dir / table).string();
        dialog.RunSpatialStats(&h::Application::instance(), layer, "FORTYPE", false, addToMap, path, true, boxes,
                               landscape, false);
        std::map<std::string, std::map<std::string, double>> rows;
        auto t = h::Table::open(path);
        h::Cursor c = t->search(nullptr, false);
        while (h::RowPtr r = c.next()) {
            auto& values = rows[h::toText(r->value("Class"))];
            for (const auto& f : t->fields().all())
                if (h::isNumber(r->value(f.name)) && f.name != "Run") values[f.name] = h::toDouble(r->value(f.name));
        }
        return rows;
    }

    static void expectClose(double run, double routine, const std::string& what) {
        EXPECT_NEAR(run, routine, 2e-6 * std::max(1.0, std::abs(routine))) << what;
    }

    std::ostringstream out;
    h::ScriptDriver driver{out};
    sfs::path dir;
};

std::string classClause(const std::string& cls) { return "FORTYPE = '" + cls + "'"; }

}  // namespace

TEST_F(RunAgreement, ClassLevelMetricsOfTheSampleLandscape) {
    auto layer = addSample("landscape");
    auto rows = run("landscape", "class.dbf",
                    {"chkAreaWeightedMSI", "chkMeanShapeIndex", "chkMeanPerimAreaRatio", "chkMeanPatchFractalDim",
                     "chkAreaWeightedMPFD", "chkTotalEdge", "chkMeanEdge", "chkMeanPatchSize", "chkNumOfPatches",
                     "chkMedianPatchSize", "chkPatchSize_Variance", "chkPatchSize_stdDev", "chkTotalLandscapeArea",
                     "chkClassArea"},
                    /*landscape=*/false);
    ASSERT_EQ(rows.size(), 6u) << out.str();

    using Routine = std::function<double(h::Cursor&)>;
    const std::pair<const char*, Routine> routines[] = {
        {"CA", [](h::Cursor& c) { return kv::GetCA(c); }},
        {"NumP", [](h::Cursor& c) { return double(kv::GetNumOfPatches(c)); }},
        {"MPS", [](h::Cursor& c) { return kv::GetMPS(c); }},
        {"MedPS", [](h::Cursor& c) { return kv::GetMedPS(c); }},
        {"PSSD", [](h::Cursor& c) { return kv::getPSSD(c); }},
        {"PSCoV", [](h::Cursor& c) { return kv::GetPSCoV(c); }},
        {"TE", [](h::Cursor& c) { return kv::GetTE(c); }},
        {"MPE", [](h::Cursor& c) { return kv::GetMPE(c); }},
        {"MSI", [](h::Cursor& c) { return kv::GetMSI(c, true); }},
        {"AWMSI", [](h::Cursor& c) { return kv::GetAWMSI(c, true); }},
        {"MPAR", [](h::Cursor& c) { return kv::GetMPAR(c); }},
        {"MPFD", [](h::Cursor& c) { return kv::GetMPFD(c, true); }},
        {"AWMPFD", [](h::Cursor& c) { return kv::GetAWMPFD(c, true); }},
    };
    for (const auto& [cls, values] : rows) {
        for (const auto& [code, routine] : routines) {
            auto cursor = kv::getCursor(layer, classClause(cls));
            ASSERT_TRUE(cursor.has_value()) << cls;
            ASSERT_TRUE(values.count(code)) << code;
            expectClose(values.at(code), routine(*cursor), cls + " " + code);
        }
        auto all = kv::getCursor(layer, "");
        expectClose(values.at("TLA"), kv::GetTLA(*all), cls + " TLA");
    }
    EXPECT_TRUE(driver.errorReports.empty()) << out.str();
    EXPECT_TRUE(driver.messages.empty()) << out.str();
}

TEST_F(RunAgreement, DiversityAtLandscapeLevel) {
    auto layer = addSample("landscape");
    auto rows = run("landscape", "landscape.dbf", {"chkShannonsDiversity", "chkShannonsEvenness", "chkClassArea"},
                    /*landscape=*/true, /*addToMap=*/true);
    ASSERT_EQ(rows.size(), 1u) << out.str();
    const auto& all = rows.at("All");
    // The diversity routines read field Area, which the working copy that
    // the run left on the map carries.
    auto map = h::Application::instance().document()->focusMap();
    h::LayerPtr working;
    for (const auto& l : map->layers())
        if (l != layer && l->kind() == h::LayerKind::Feature) working = l;
    ASSERT_TRUE(working) << out.str();
    EXPECT_GT(all.at("SDI"), 1.0);   // six classes: at most ln 6
    EXPECT_LT(all.at("SDI"), std::log(6.0));
    expectClose(all.at("SDI"), kv::GetSDI(working, "FORTYPE"), "SDI");
    expectClose(all.at("SEI"), kv::GetSEI(working, "FORTYPE"), "SEI");
    auto cursor = kv::getCursor(layer, "");
    expectClose(all.at("CA"), kv::GetCA(*cursor), "CA");
    EXPECT_TRUE(driver.errorReports.empty()) << out.str();
}

TEST_F(RunAgreement, CoreMetricsOfTheSampleCores) {
    auto cores = addSample("cores");
    auto rows = run("cores", "cores.dbf", {"chkTotalAreaIndex", "chkAreaDensity"}, /*landscape=*/false);
    ASSERT_EQ(rows.size(), 6u) << out.str();
    for (const auto& [cls, values] : rows) {
        EXPECT_GT(values.at("TCAI"), 0.0) << cls;
        EXPECT_LT(values.at("TCAI"), 100.0) << cls;
        auto c1 = kv::getCursor(cores, classClause(cls));
        expectClose(values.at("TCAI"), kv::GetTCAI(*c1), cls + " TCAI");
        auto counted = kv::getCursor(cores, classClause(cls));
        auto patches = kv::getCursor(cores, "");
        expectClose(values.at("CAD"), kv::GetCAD(*counted, *patches), cls + " CAD");
    }
    EXPECT_TRUE(driver.errorReports.empty()) << out.str();
}
