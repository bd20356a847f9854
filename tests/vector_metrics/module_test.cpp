// The class list, class where clauses, the metric routines that regional
// analysis calls, and the support fields.
#include <clocale>
#include <cmath>
#include <functional>

#include "MetricsFixture.h"
#include "vector/Forms/frmSpatialStat1SupportData.h"
#include "vector/Modules/modMisc.h"
#include "vector/Modules/modSpatialStats.h"

namespace kvtest {
namespace {

using Values = std::vector<h::Value>;

// A layer of unit squares whose class field CV holds the given values.
h::FeatureLayerPtr valueLayer(const std::string& folder, const std::string& name, int32_t type,
                              const Values& values) {
    auto ws = h::ShapefileWorkspace::open(folder);
    auto fc = ws.createFeatureClass(name, {{"CV", type, type == h::FieldString ? 20 : 0, type == h::FieldSingle ? 24 : 6,
                                            type == h::FieldSingle ? 15 : 0}},
                                    h::ShapeType::Polygon);
    double x = 0;
    for (const h::Value& v : values) {
        auto row = fc->createFeature();
        row->setShape(h::Geometry::polygon({{{x, 0}, {x, 1}, {x + 1, 1}, {x + 1, 0}}}));
        row->setValue("CV", v);
        row->store();
        x += 2;
    }
    fc->flush();
    return h::openFeatureLayer(ws.path() + "/" + name + ".shp");
}

TEST_F(MetricsTest, ClassListIsEveryDistinctValueInFirstSeenOrderInOnePass) {
    struct Case {
        const char* name;
        int32_t type;
        Values values, expected;
    };
    const Case cases[] = {
        {"ints", h::FieldInteger, {5, 3, 5, 7}, {5, 3, 7}},
        // Single values that no "=" clause matches (0.1f is not 0.1).
        {"reals", h::FieldSingle, {0.1f, 0.7f, 0.1f, 2.5f}, {0.1f, 0.7f, 2.5f}},
        {"texts", h::FieldString, {"Pine", "O'Brien", "Spruce", "Pine", "O'Brien"}, {"Pine", "O'Brien", "Spruce"}},
        {"nulls", h::FieldString, {std::monostate{}, "x", std::monostate{}}, {"x"}},
        {"empty", h::FieldInteger, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto layer = valueLayer(data.path(), c.name, c.type, c.values);
        // The selection before the call is the selection after it.
        if (!c.values.empty()) layer->selectionSet().add(0);
        auto before = layer->selectionSet().ids();
        EXPECT_EQ(kv::GetClassList(layer, "CV"), c.expected);
        EXPECT_EQ(layer->selectionSet().ids(), before);
    }
    EXPECT_TRUE(ui.driver.errorReports.empty());
}

TEST_F(MetricsTest, ClassClausesEscapeQuotesAndIgnoreTheLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    // A locale with a decimal comma, where one is installed.
    bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
    struct Case {
        h::Value value;
        bool quoted;
        std::string clause;
    };
    const Case cases[] = {
        {5, false, "CV = 5"},
        {2.5, false, "CV = 2.5"},
        {0.1f, false, "CV = 0.1"},
        {-1e-7, false, "CV = -1e-07"},
        {"Pine", true, "CV = 'Pine'"},
        {"O'Brien's", true, "CV = 'O''Brien''s'"},
    };
    for (const Case& c : cases) EXPECT_EQ(kv::ClassWhereClause("CV", c.value, c.quoted), c.clause) << "comma " << comma;
    std::setlocale(LC_NUMERIC, saved.c_str());

    // The escaped clause selects exactly the features of that value.
    auto layer = valueLayer(data.path(), "quotes", h::FieldString, {"O'Brien", "Pine", "O'Brien"});
    auto cursor = kv::getCursor(layer, kv::ClassWhereClause("CV", std::string("O'Brien"), true));
    ASSERT_TRUE(cursor);
    int n = 0;
    while (cursor->next()) ++n;
    EXPECT_EQ(n, 2);
}

// The routines over the features of class "a" of the hand-checked fixture:
// patches 10x10, 2x2 and 4x24, measured from their shapes.
TEST_F(MetricsTest, MetricRoutinesOverACursor) {
    auto layer = addHandFixture("patches");
    auto classA = [&] { return *kv::getCursor(layer, "CLS = 'a'"); };
    struct Case {
        const char* routine;
        std::function<double(h::Cursor&)> f;
        double expected;
    };
    const Case cases[] = {
        {"GetCA", [](h::Cursor& c) { return kv::GetCA(c); }, 200},
        {"GetTLA", [](h::Cursor& c) { return kv::GetTLA(c); }, 200},
        {"GetNumOfPatches", [](h::Cursor& c) { return kv::GetNumOfPatches(c); }, 3},
        {"GetMPS", [](h::Cursor& c) { return kv::GetMPS(c); }, 200.0 / 3},
        {"GetMedPS", [](h::Cursor& c) { return kv::GetMedPS(c); }, 96},
        {"getPSSD", [](h::Cursor& c) { return kv::getPSSD(c); }, 44.34210439},
        {"GetPSCoV", [](h::Cursor& c) { return kv::GetPSCoV(c); }, 66.51315659},
        {"GetTE", [](h::Cursor& c) { return kv::GetTE(c); }, 104},
        {"GetMPE", [](h::Cursor& c) { return kv::GetMPE(c); }, 104.0 / 3},
        {"GetMSI", [](h::Cursor& c) { return kv::GetMSI(c, true); }, 1.2896881216857532},
        {"GetAWMSI", [](h::Cursor& c) { return kv::GetAWMSI(c, true); }, 1.3606640617054588},
        {"GetMPAR", [](h::Cursor& c) { return kv::GetMPAR(c); }, 0.9944444444444445},
        {"GetMPFD vector", [](h::Cursor& c) { return kv::GetMPFD(c, true); }, 1.7886277412862095},
        {"GetMPFD raster", [](h::Cursor& c) { return kv::GetMPFD(c, false); }, 1.0521262064024044},
        {"GetAWMPFD", [](h::Cursor& c) { return kv::GetAWMPFD(c, true); }, 1.687665147278701},
        {"GetTCAI", [](h::Cursor& c) { return kv::GetTCAI(c); }, 160.0 / 296 * 100},
    };
    for (const Case& c : cases) {
        h::Cursor cursor = classA();
        EXPECT_NEAR(c.f(cursor), c.expected, 1e-9 * std::max(1.0, c.expected)) << c.routine;
        // An empty cursor has nothing to measure.
        h::Cursor none = *kv::getCursor(layer, "CLS = 'zzz'");
        EXPECT_EQ(c.f(none), 0) << c.routine;
    }
    // Cores of class a per patch area of all rows, consecutive repeats added
    // once: 100 + 200 + 96.
    h::Cursor cores = classA();
    h::Cursor all = *kv::getCursor(layer, "");
    EXPECT_NEAR(kv::GetCAD(cores, all), 3.0 / 396 * 1000000, 1e-6);
    EXPECT_NEAR(kv::GetSDI(layer, "CLS"), 0, 1e-12);  // no Area field yet: reported, 0
    ASSERT_EQ(ui.driver.errorReports.size(), 1u);
    EXPECT_NE(ui.driver.errorReports[0].find("GetSDI Modules/modSpatialStats"), std::string::npos)
        << ui.driver.errorReports[0];
    EXPECT_TRUE(ui.driver.messages.empty());
}

TEST_F(MetricsTest, DiversityAndCoreRoutinesOnSupportFields) {
    auto layer = addHandFixture("patches");
    kv::frmProgress progress;
    ASSERT_TRUE(kv::AddSupportData(layer->featureClass(), {"chkShannonsDiversity"}, false, progress));
    EXPECT_NEAR(kv::GetSDI(layer, "CLS"), std::log(2.0), 1e-12);
    EXPECT_NEAR(kv::GetSEI(layer, "CLS"), 1, 1e-12);
    EXPECT_NEAR(kv::GetSDI(layer, "CODE"), std::log(2.0), 1e-12);
    // With the selection: class b alone (patches 2 and 4).
    layer->selectionSet().add(std::vector<int64_t>{2, 4});
    EXPECT_NEAR(kv::GetSDI(layer, "CLS"), 0, 1e-12);

    auto bare = addHandFixture("bare", false);
    h::Cursor a = *kv::getCursor(bare, ""), b = *kv::getCursor(bare, "");
    EXPECT_EQ(kv::GetCAD(a, b), -1);
    h::Cursor c = *kv::getCursor(bare, "");
    EXPECT_EQ(kv::GetTCAI(c), -1);
    ASSERT_EQ(ui.driver.messages.size(), 2u);
    EXPECT_EQ(ui.driver.messages[0].title, "Missing Field");
    EXPECT_EQ(ui.driver.messages[0].text, "There is no Patch_Area field in this shapefile.\r\nCannot continue");
    EXPECT_TRUE(ui.driver.errorReports.empty());
}

// Which boxes make which fields, and the stored values of the fields.
TEST_F(MetricsTest, SupportFieldsFollowTheCheckedBoxes) {
    struct Case {
        std::vector<std::string> boxes;
        std::vector<std::string> added;
    };
    const Case cases[] = {
        {{"NIL"}, {}},
        {{"chkNumOfPatches", "chkAreaDensity", "chkTotalAreaIndex"}, {}},
        {{"chkTotalEdge"}, {"Perimeter"}},
        {{"chkMeanEdge"}, {"Area", "Perimeter"}},
        {{"chkMeanPatchFractalDim", "chkMeanShapeIndex", "chkMeanPerimAreaRatio"}, {"Area", "Perimeter", "SI", "PAR", "FD"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string name = "s" + std::to_string(++n);
        auto fc = writePatches(data.path(), name, handFixture(), false);
        size_t before = fc->fields().names().size();
        kv::frmProgress progress;
        ASSERT_TRUE(kv::AddSupportData(fc, c.boxes, false, progress));
        auto names = fc->fields().names();
        EXPECT_EQ(std::vector<std::string>(names.begin() + static_cast<long>(before), names.end()), c.added);
        for (const std::string& f : c.added) EXPECT_EQ(fc->fields().field(fc->findField(f)).type, h::FieldSingle);
    }
    // The 2x2 square and the 1x100 strip: vector FD above 2 is held at 2; the
    // raster forms give a square 1.
    struct Values {
        bool raster;
        int64_t oid;
        double si, par, fd;
    };
    const Values values[] = {
        {false, 0, 1.12838, 0.4, 1.60206},
        {false, 1, 1.12838, 2, 2},
        {false, 2, 5.69831, 2.02, 2},
        {true, 0, 1, 0.4, 1},
        {true, 1, 1, 2, 1},
    };
    for (bool raster : {false, true}) {
        auto fc = writePatches(data.path(), raster ? "rast" : "vect", handFixture(), false);
        kv::frmProgress progress;
        ASSERT_TRUE(kv::AddSupportData(fc, {"chkMeanPatchFractalDim", "chkMeanShapeIndex", "chkMeanPerimAreaRatio"},
                                       raster, progress));
        for (const Values& v : values) {
            if (v.raster != raster) continue;
            auto row = fc->feature(v.oid);
            EXPECT_FLOAT_EQ(static_cast<float>(h::toDouble(row->value("SI"))), static_cast<float>(v.si)) << v.oid;
            EXPECT_FLOAT_EQ(static_cast<float>(h::toDouble(row->value("PAR"))), static_cast<float>(v.par)) << v.oid;
            EXPECT_FLOAT_EQ(static_cast<float>(h::toDouble(row->value("FD"))), static_cast<float>(v.fd)) << v.oid;
        }
    }
    EXPECT_TRUE(ui.driver.errorReports.empty());
}

}  // namespace
}  // namespace kvtest

namespace kvtest {
namespace {

// The median is the middle of the ascending order (the mean of the two
// middle values for an even count), whatever order the values come in.
TEST(Median, MiddleOfTheAscendingOrder) {
    struct Case {
        std::vector<double> values;
        double median;
    };
    const Case cases[] = {
        {{}, 0},
        {{7}, 7},
        {{3, 1, 2}, 2},
        {{4, 1, 3, 2}, 2.5},
        {{5, 5, 1, 5}, 5},
        {{9, 8, 7, 6, 5, 4, 3, 2, 1, 0}, 4.5},
        {{0.1, 0.7, 0.3, 0.2, 0.9, 0.3}, 0.3},
    };
    for (const Case& c : cases) {
        std::vector<double> v = c.values;
        EXPECT_EQ(kv::Median(v), c.median);
    }
}

}  // namespace
}  // namespace kvtest
