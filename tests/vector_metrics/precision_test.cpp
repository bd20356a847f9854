// The metric run, regional analysis and the metric routines measure through
// one engine, from patch values at full precision: on layers whose
// per-patch values do not survive five decimals (perimeter-area ratios near
// 1e-3 in metres, areas below 5e-6 square degrees) all three agree with a
// computation from the coordinates, up to the Single output fields.
#include <fmt/format.h>

#include <cmath>
#include <functional>

#include "MetricsFixture.h"
#include "vector/Classes/clsRegionalAnalysis.h"
#include "vector/Forms/frmSpatialStat1Run.h"
#include "vector/Modules/modMisc.h"
#include "vector/Modules/modSpatialStats.h"

namespace kvtest {
namespace {

constexpr double kPi = 3.14159265358979;

// The metrics of a set of rectangles, straight from their sides.
struct FromCoordinates {
    std::map<std::string, double> values;

    explicit FromCoordinates(const std::vector<Patch>& patches) {
        std::vector<double> a, p;
        for (const Patch& r : patches) {
            a.push_back(r.w * r.hgt);
            p.push_back(2 * (r.w + r.hgt));
        }
        const double n = static_cast<double>(a.size());
        double total = 0, edge = 0, si = 0, awsi = 0, par = 0, fd = 0, awfd = 0, squares = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            total += a[i];
            squares += a[i] * a[i];
            edge += p[i];
        }
        for (size_t i = 0; i < a.size(); ++i) {
            double s = p[i] / (2 * std::sqrt(kPi * a[i]));
            double f = a[i] > 1 ? std::clamp(2 * std::log(p[i]) / std::log(a[i]), 1.0, 2.0) : 1.0;
            si += s;
            awsi += s * a[i] / total;
            par += p[i] / a[i];
            fd += f;
            awfd += f * a[i] / total;
        }
        std::vector<double> sorted = a;
        std::sort(sorted.begin(), sorted.end());
        size_t m = sorted.size() / 2;
        double median = sorted.size() % 2 ? sorted[m] : (sorted[m - 1] + sorted[m]) / 2;
        double mean = total / n;
        double sd = std::sqrt(std::max(0.0, squares / n - mean * mean));
        values = {{"CA", total},   {"NumP", n},       {"MPS", mean},  {"MedPS", median}, {"PSSD", sd},
                  {"PSCoV", sd / mean * 100}, {"TE", edge}, {"MPE", edge / n}, {"MSI", si / n}, {"AWMSI", awsi},
                  {"MPAR", par / n}, {"MPFD", fd / n}, {"AWMPFD", awfd}};
    }
};

struct Fixture {
    const char* name;
    int32_t units;
    std::vector<Patch> patches;   // class "a" first, then "b"
};

std::vector<Fixture> fixtures() {
    // Perimeter-area ratios of 0.0012 to 0.0016: five decimals keep two or
    // three digits of them.
    std::vector<Patch> metres = {
        {0, 0, 3241, 3241, "a"},   {5000, 0, 2713, 2600, "a"},  {10000, 0, 4111, 3900, "a"},
        {0, 5000, 3500, 3333, "b"}, {5000, 5000, 2900, 2977, "b"},
    };
    // Patches of 1.5e-6 to 4.5e-6 square degrees, which five decimals store as 0.
    std::vector<Patch> degrees = {
        {10.501, 50.2, 0.0015, 0.001, "a"}, {10.503, 50.2, 0.002, 0.002, "a"}, {10.506, 50.2, 0.001, 0.004, "a"},
        {10.501, 50.21, 0.0015, 0.003, "b"}, {10.504, 50.21, 0.0012, 0.0012, "b"},
    };
    return {{"metres", h::UnitMeters, metres}, {"degrees", h::UnitDecimalDegrees, degrees}};
}

std::vector<Patch> ofClass(const std::vector<Patch>& all, const std::string& cls) {
    std::vector<Patch> out;
    for (const Patch& p : all)
        if (p.cls == cls) out.push_back(p);
    return out;
}

const std::vector<std::string> kCodes = {"CA",  "NumP", "MPS",   "MedPS", "PSSD", "PSCoV", "TE",
                                         "MPE", "MSI",  "AWMSI", "MPAR",  "MPFD", "AWMPFD"};

void expectAgrees(double got, double want, const std::string& what) {
    EXPECT_NEAR(got, want, 1e-6 * std::fabs(want) + 1e-300) << what;
}

TEST_F(MetricsTest, RunRegionsAndRoutinesAgreeWithTheCoordinatesAtFullPrecision) {
    for (const Fixture& f : fixtures()) {
        SCOPED_TRACE(f.name);
        map()->setMapUnits(f.units);
        writePatches(data.path(), f.name, f.patches, false);
        auto layer = addLayer(data.file(std::string(f.name) + ".shp"));
        const std::map<std::string, FromCoordinates> want = {{"a", FromCoordinates(ofClass(f.patches, "a"))},
                                                             {"b", FromCoordinates(ofClass(f.patches, "b"))}};

        // The metric routines measure the shapes of features without fields.
        using Routine = std::function<double(h::Cursor&)>;
        const std::pair<const char*, Routine> routines[] = {
            {"CA", [](h::Cursor& c) { return kv::GetCA(c); }},
            {"MPS", [](h::Cursor& c) { return kv::GetMPS(c); }},
            {"MedPS", [](h::Cursor& c) { return kv::GetMedPS(c); }},
            {"PSSD", [](h::Cursor& c) { return kv::getPSSD(c); }},
            {"PSCoV", [](h::Cursor& c) { return kv::GetPSCoV(c); }},
            {"MSI", [](h::Cursor& c) { return kv::GetMSI(c, true); }},
            {"AWMSI", [](h::Cursor& c) { return kv::GetAWMSI(c, true); }},
            {"MPAR", [](h::Cursor& c) { return kv::GetMPAR(c); }},
            {"MPFD", [](h::Cursor& c) { return kv::GetMPFD(c, true); }},
            {"AWMPFD", [](h::Cursor& c) { return kv::GetAWMPFD(c, true); }},
        };
        for (const auto& [cls, values] : want)
            for (const auto& [code, routine] : routines) {
                auto cursor = kv::getCursor(layer, "CLS = '" + cls + "'");
                ASSERT_TRUE(cursor);
                expectAgrees(routine(*cursor), values.values.at(code), std::string("routine ") + code + " of " + cls);
            }

        // The metric run, class level, every metric these patches have.
        std::string table = out.file(std::string(f.name) + "-run.dbf");
        std::vector<std::string> boxes;
        for (const std::string& code : kCodes) {
            kv::Metric m;
            ASSERT_TRUE(kv::MetricOfCode(code, m));
            boxes.push_back(kv::MetricBox(m));
        }
        kv::RunSpatialStats(&h::Application::instance(), f.name, "CLS", false, false, table, true, boxes, false, false);
        ASSERT_TRUE(ui.driver.errorReports.empty()) << ui.driver.errorReports.front();
        auto rows = readRows(table);
        ASSERT_EQ(rows.size(), 2u);
        for (const TableRow& row : rows)
            for (const std::string& code : kCodes)
                expectAgrees(num(row, code), want.at(text(row, "Class")).values.at(code),
                             "run " + code + " of " + text(row, "Class"));

        // Analysis by Regions at landscape level, the class as the region:
        // the same rows, measured from the areas and perimeters it has just
        // written into the source.
        std::string regional = out.file(std::string(f.name) + "-regions.dbf");
        kv::clsRegionalAnalysis cmd;
        cmd.OnCreate(&h::Application::instance());
        cmd.OnClick();
        ui.driver.addLines({"set lstLayers " + std::string(f.name), "click optLandscape", "set cboRegion CLS",
                            "click txtTableName", "file " + regional, "click cmdOK"});
        ui.driver.driveModeless();
        ASSERT_TRUE(ui.driver.errorReports.empty()) << ui.driver.errorReports.front();
        auto regionRows = readRows(regional);
        ASSERT_EQ(regionRows.size(), 2u);
        for (const TableRow& row : regionRows)
            for (const std::string& code : kCodes)
                expectAgrees(num(row, code), want.at(text(row, "Class")).values.at(code),
                             "regions " + code + " of " + text(row, "Class"));
        cmd.dialog()->unload();
        map()->clearLayers();
    }
    EXPECT_TRUE(messages().empty()) << messages().front();
}

}  // namespace
}  // namespace kvtest
