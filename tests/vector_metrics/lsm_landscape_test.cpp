// The public 28-patch landscape of tests/data: the run's values against values worked out
// here from the polygon coordinates alone (read with OGR, measured with the
// shoelace formula).
#include <ogrsf_frmts.h>

#include <cmath>
#include <map>

#include "MetricsFixture.h"
#include "vector/Forms/frmSpatialStat1Run.h"

namespace kvtest {
namespace {

const std::string kShp = std::string(KV_TEST_DATA) + "/lsm-landscape/landscape_polygons.shp";

struct Measured {
    double area = 0, perimeter = 0;
};

double ringArea(const OGRLinearRing& r) {
    double twice = 0;
    for (int i = 0; i + 1 < r.getNumPoints(); ++i) twice += r.getX(i) * r.getY(i + 1) - r.getX(i + 1) * r.getY(i);
    return std::fabs(twice) / 2;
}
double ringLength(const OGRLinearRing& r) {
    double l = 0;
    for (int i = 0; i + 1 < r.getNumPoints(); ++i) l += std::hypot(r.getX(i + 1) - r.getX(i), r.getY(i + 1) - r.getY(i));
    return l;
}
Measured measurePolygon(const OGRPolygon& p) {
    Measured m;
    m.area = ringArea(*p.getExteriorRing());
    m.perimeter = ringLength(*p.getExteriorRing());
    for (int i = 0; i < p.getNumInteriorRings(); ++i) {
        m.area -= ringArea(*p.getInteriorRing(i));
        m.perimeter += ringLength(*p.getInteriorRing(i));
    }
    return m;
}

// Patches of every class in first-seen order.
struct ClassPatches {
    int cls;
    std::vector<Measured> patches;
};

std::vector<ClassPatches> readLandscape() {
    GDALAllRegister();
    std::unique_ptr<GDALDataset> ds(GDALDataset::Open(kShp.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!ds) return {};
    std::vector<ClassPatches> out;
    OGRLayer* layer = ds->GetLayer(0);
    for (auto& f : *layer) {
        int cls = f->GetFieldAsInteger("class");
        Measured m;
        const OGRGeometry* g = f->GetGeometryRef();
        if (wkbFlatten(g->getGeometryType()) == wkbPolygon) {
            m = measurePolygon(*g->toPolygon());
        } else {
            for (const OGRPolygon* part : *g->toMultiPolygon()) {
                Measured p = measurePolygon(*part);
                m.area += p.area;
                m.perimeter += p.perimeter;
            }
        }
        auto it = std::find_if(out.begin(), out.end(), [&](const ClassPatches& c) { return c.cls == cls; });
        if (it == out.end()) it = out.insert(out.end(), ClassPatches{cls, {}});
        it->patches.push_back(m);
    }
    return out;
}

TEST_F(MetricsTest, SharedLandscapeClassAndLandscapeValuesMatchTheCoordinates) {
    auto classes = readLandscape();
    ASSERT_FALSE(classes.empty()) << "cannot read " << kShp;
    addLayer(kShp);
    const std::string table = out.file("lsm.dbf");
    kv::RunSpatialStats(&h::Application::instance(), "landscape_polygons", "class", false, false, table, true,
                        {"chkTotalEdge", "chkMeanPatchSize", "chkNumOfPatches", "chkClassArea"}, false, false);
    kv::RunSpatialStats(&h::Application::instance(), "landscape_polygons", "class", false, false, table, true,
                        {"chkShannonsDiversity", "chkShannonsEvenness"}, true, false);
    ASSERT_TRUE(messages().empty()) << messages().front();
    ASSERT_TRUE(ui.driver.errorReports.empty()) << ui.driver.errorReports.front();
    auto rows = readRows(table);
    ASSERT_EQ(rows.size(), classes.size() + 1);

    auto near = [](double got, double want) { return std::fabs(got - want) <= 2e-7 * std::max(1.0, std::fabs(want)); };
    double total = 0;
    size_t patches = 0;
    for (const ClassPatches& c : classes)
        for (const Measured& m : c.patches) total += m.area, ++patches;
    EXPECT_EQ(patches, 28u);
    double sdi = 0;
    for (size_t i = 0; i < classes.size(); ++i) {
        const ClassPatches& c = classes[i];
        double ca = 0, te = 0;
        for (const Measured& m : c.patches) ca += m.area, te += m.perimeter;
        SCOPED_TRACE("class " + std::to_string(c.cls));
        EXPECT_EQ(text(rows[i], "Class"), std::to_string(c.cls));
        EXPECT_PRED2(near, num(rows[i], "CA"), ca);
        EXPECT_EQ(num(rows[i], "NumP"), static_cast<double>(c.patches.size()));
        EXPECT_PRED2(near, num(rows[i], "TE"), te);
        EXPECT_PRED2(near, num(rows[i], "MPS"), ca / static_cast<double>(c.patches.size()));
        double p = ca / total;
        sdi -= p * std::log(p);
    }
    const TableRow& all = rows.back();
    EXPECT_EQ(text(all, "Class"), "All");
    EXPECT_EQ(num(all, "Run"), 2);
    EXPECT_PRED2(near, num(all, "SDI"), sdi);
    EXPECT_PRED2(near, num(all, "SEI"), sdi / std::log(static_cast<double>(classes.size())));
}

// The project's sample landscape: patch counts and class areas as its
// generator recorded them (data/sample/README.md), in hectares.
TEST_F(MetricsTest, SampleLandscapeClassesMatchTheirRecordedAreas) {
    const std::string shp = std::string(KV_SAMPLE_DATA) + "/landscape.shp";
    addLayer(shp);
    const std::string table = out.file("sample.dbf");
    kv::RunSpatialStats(&h::Application::instance(), "landscape", "FORTYPE", false, false, table, true,
                        {"chkNumOfPatches", "chkClassArea", "chkTotalLandscapeArea"}, false, true);
    ASSERT_TRUE(messages().empty()) << messages().front();
    struct Recorded {
        const char* type;
        int patches;
        double squareMetres;
    };
    const Recorded recorded[] = {{"Pine", 39, 8339153.73},  {"Black Spruce", 48, 4786938.48}, {"Birch", 56, 2393863.07},
                                 {"Aspen", 57, 2575642.67}, {"Mixed", 64, 4427194.64},        {"Wetland", 38, 2477207.40}};
    auto rows = readRows(table);
    ASSERT_EQ(rows.size(), 6u);
    for (const Recorded& r : recorded) {
        auto it = std::find_if(rows.begin(), rows.end(), [&](const TableRow& row) { return text(row, "Class") == r.type; });
        ASSERT_NE(it, rows.end()) << r.type;
        EXPECT_EQ(num(*it, "NumP"), r.patches) << r.type;
        EXPECT_NEAR(num(*it, "CA"), r.squareMetres / 10000, 1e-3) << r.type;
        EXPECT_NEAR(num(*it, "TLA"), 2500, 1e-3) << r.type;
    }
}

}  // namespace
}  // namespace kvtest
