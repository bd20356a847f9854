// The twenty metric values of a run on the hand-checked fixture, at class and
// landscape level, with and without hectares, in vector and raster form.
#include <fmt/format.h>

#include <cmath>

#include "MetricsFixture.h"
#include "vector/Forms/frmSpatialStat1Run.h"
#include "vector/Modules/modSpatialStats.h"

namespace kvtest {
namespace {

// Every metric box, in the dialog's control order.
const std::vector<std::string> kAllBoxes = {
    "chkTotalArea",          "chkTotalAreaIndex",     "chkAreaDensity",        "chkShannonsDiversity",
    "chkShannonsEvenness",   "chkAreaWeightedMSI",    "chkMeanShapeIndex",     "chkMeanPerimAreaRatio",
    "chkMeanPatchFractalDim", "chkAreaWeightedMPFD",  "chkTotalEdge",          "chkEdgeDensity",
    "chkMeanEdge",           "chkMeanPatchSize",      "chkNumOfPatches",       "chkMedianPatchSize",
    "chkPatchSize_Variance", "chkPatchSize_stdDev",   "chkTotalLandscapeArea", "chkClassArea"};

// Values worked out by hand from the fixture's areas and perimeters (map
// units, divisor 1), with shape index, perimeter-area ratio and fractal
// dimension computed from the coordinates; the Single output fields keep
// seven digits.
// SDI and SEI have no class-level value (0); at landscape level the two
// classes of 200 each give ln 2 and 1.
struct Expected {
    const char* code;
    double a, b, all;           // vector form
    double rasterA, rasterB, rasterAll;
    int hectares;               // 0 unchanged, -1 divided by 10000, +1 multiplied
};
// clang-format off
const Expected kExpected[] = {
    {"CA",     200,          200,          400,          200,          200,          400,          -1},
    {"TLA",    400,          400,          400,          400,          400,          400,          -1},
    {"NumP",   3,            2,            5,            3,            2,            5,             0},
    {"MPS",    66.6666667,   100,          80,           66.6666667,   100,          80,           -1},
    {"MedPS",  96,           100,          100,          96,           100,          100,          -1},
    {"PSCoV",  66.5131566,   0,            47.5394573,   66.5131566,   0,            47.5394573,    0},
    {"PSSD",   44.3421044,   0,            38.0315658,   44.3421044,   0,            38.0315658,   -1},
    {"TE",     104,          252,          356,          104,          252,          356,           0},
    {"ED",     0.26,         0.63,         0.89,         0.26,         0.63,         0.89,          1},
    {"MPE",    34.6666667,   126,          71.2,         34.6666667,   126,          71.2,          0},
    {"MSI",    1.28968812,   3.55439438,   2.19557062,   1.14295634,   3.15,         1.9457738,     0},
    {"AWMSI",  1.36066406,   3.55439438,   2.45752922,   1.20585713,   3.15,         2.17792856,    0},
    {"MPAR",   0.994444444,  1.26,         1.10066667,   0.994444444,  1.26,         1.10066667,    1},
    {"MPFD",   1.78862774,   1.849485,     1.81297065,   1.05212621,   1.4001007,    1.191316,      0},
    {"AWMPFD", 1.68766515,   1.849485,     1.76857507,   1.07506174,   1.4001007,    1.23758122,    0},
    {"SDI",    0,            0,            0.693147181,  0,            0,            0.693147181,   0},
    {"SEI",    0,            0,            1,            0,            0,            1,             0},
    {"TCA",    400,          400,          400,          400,          400,          400,          -1},
    {"CAD",    7575.75758,   5050.50505,   12626.2626,   7575.75758,   5050.50505,   12626.2626,    0},
    {"TCAI",   54.0540541,   20.2702703,   37.1621622,   54.0540541,   20.2702703,   37.1621622,    0},
};
// clang-format on

struct Case {
    bool landscape;
    bool hectares;
    bool raster;
};

TEST_F(MetricsTest, TwentyCodesAtBothLevelsWithAndWithoutHectaresInBothShapeForms) {
    addHandFixture("patches");
    const Case cases[] = {{false, false, false}, {false, true, false}, {false, false, true}, {false, true, true},
                          {true, false, false},  {true, true, false},  {true, false, true},  {true, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "landscape " << c.landscape << ", hectares " << c.hectares << ", raster "
                                          << c.raster);
        std::string table = out.file(fmt::format("t{}{}{}.dbf", c.landscape, c.hectares, c.raster));
        kv::RunSpatialStats(&h::Application::instance(), "patches", "CLS", c.raster, false, table, true, kAllBoxes,
                            c.landscape, c.hectares);
        ASSERT_TRUE(messages().empty()) << messages().front();
        ASSERT_TRUE(ui.driver.errorReports.empty()) << ui.driver.errorReports.front();
        auto rows = readRows(table);
        ASSERT_EQ(rows.size(), c.landscape ? 1u : 2u);
        for (const Expected& e : kExpected) {
            for (size_t r = 0; r < rows.size(); ++r) {
                double want = c.landscape ? (c.raster ? e.rasterAll : e.all)
                              : r == 0    ? (c.raster ? e.rasterA : e.a)
                                          : (c.raster ? e.rasterB : e.b);
                if (c.hectares && e.hectares < 0) want /= 10000;
                if (c.hectares && e.hectares > 0) want *= 10000;
                double got = num(rows[r], e.code);
                EXPECT_NEAR(got, want, 2e-7 * std::max(1.0, std::fabs(want)))
                    << e.code << " of class " << text(rows[r], "Class");
            }
        }
        EXPECT_EQ(text(rows[0], "Class"), c.landscape ? "All" : "a");
        if (!c.landscape) {
            EXPECT_EQ(text(rows[1], "Class"), "b");
        }
    }
}

TEST_F(MetricsTest, NewTableHasHeaderFieldsThenMetricFieldsInListOrder) {
    addHandFixture("patches");
    std::string table = out.file("stats.dbf");
    kv::RunSpatialStats(&h::Application::instance(), "patches", "CODE", false, false, table, true,
                        {"chkMeanShapeIndex", "chkNumOfPatches", "chkClassArea"}, false, false);
    EXPECT_EQ(fieldNames(table), (std::vector<std::string>{"OID", "Name", "RunDate", "Run", "Class", "MSI", "NumP", "CA"}));
    auto rows = readRows(table);
    ASSERT_EQ(rows.size(), 2u);
    // Numeric classes are written as text, in first-seen order.
    EXPECT_EQ(text(rows[0], "Class"), "1");
    EXPECT_EQ(text(rows[1], "Class"), "2");
    EXPECT_EQ(text(rows[0], "Name"), "patches");
    EXPECT_EQ(num(rows[0], "Run"), 1);
    EXPECT_EQ(text(rows[0], "RunDate").size(), 19u);
    EXPECT_EQ(num(rows[1], "NumP"), 2);
}

// A class of patches that all have the same area: rounding must not make the
// variance negative (a square root of a negative number).
TEST_F(MetricsTest, EqualAreasGiveZeroDeviationNotAFailure) {
    std::vector<Patch> patches;
    for (int i = 0; i < 7; ++i) patches.push_back({i * 2.0, 0, 1.1, 1.3, "x"});
    writePatches(data.path(), "equal", patches);
    addLayer(data.file("equal.shp"));
    std::string table = out.file("eq.dbf");
    kv::RunSpatialStats(&h::Application::instance(), "equal", "CLS", false, false, table, true,
                        {"chkPatchSize_stdDev", "chkPatchSize_Variance", "chkShannonsEvenness", "chkShannonsDiversity"},
                        true, false);
    ASSERT_TRUE(ui.driver.errorReports.empty());
    auto rows = readRows(table);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(num(rows[0], "PSSD"), 0);
    EXPECT_EQ(num(rows[0], "PSCoV"), 0);
    // One class: no diversity, and no evenness to divide by ln 1.
    EXPECT_EQ(num(rows[0], "SDI"), 0);
    EXPECT_EQ(num(rows[0], "SEI"), 0);
}

}  // namespace
}  // namespace kvtest
