// Zonal statistics as a table on a hand grid: the statistics of each zone,
// text zones, the NoData rule and one row per zone that holds cells.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "RasterFixtures.h"
#include "TestFiles.h"
#include "host/data/Raster.h"
#include "host/data/Workspace.h"
#include "host/data/ZonalStatistics.h"

namespace h = korvane::host;
using korvane::test::GridSpec;
using korvane::test::TempFolder;
using korvane::test::writeGrid;

namespace {

// Zones over a 4 x 4 grid of 10 m cells (north-west corner (0, 40)): the
// west half "west" (ZONE 1), the east half "east" (ZONE 2), and a square
// beyond the grid (ZONE 3, no cells).
struct Zones {
    TempFolder tmp;
    h::FeatureClassPtr fc;
    Zones() {
        auto ws = h::ShapefileWorkspace::open(tmp.path());
        fc = ws.createFeatureClass("zones", {{"ZONE", h::FieldInteger, 0, 4, 0}, {"NAME", h::FieldString, 8, 0, 0}},
                                   h::ShapeType::Polygon);
        const std::tuple<int, const char*, const char*> rows[] = {
            {1, "west", "POLYGON((0 0,20 0,20 40,0 40,0 0))"},
            {2, "east", "POLYGON((20 0,40 0,40 40,20 40,20 0))"},
            {3, "away", "POLYGON((100 100,120 100,120 120,100 120,100 100))"},
        };
        for (const auto& [zone, name, wkt] : rows) {
            auto f = fc->createFeature();
            f->setShape(h::Geometry::fromWkt(wkt));
            f->setValue("ZONE", zone);
            f->setValue("NAME", std::string(name));
            f->store();
        }
        fc->flush();
    }
};

std::vector<std::string> rowsOf(h::Table& t) {
    std::vector<std::string> out;
    h::Cursor c = t.search(nullptr, false);
    while (h::RowPtr r = c.next()) {
        std::string line;
        for (int32_t i = 1; i < t.fields().count(); ++i) line += (i > 1 ? " " : "") + h::toText(r->value(i));
        out.push_back(line);
    }
    return out;
}

std::set<std::filesystem::path> scratchEntries() {
    std::set<std::filesystem::path> entries;
    for (const auto& e : std::filesystem::directory_iterator(h::scratchFolder())) entries.insert(e.path());
    return entries;
}

}  // namespace

TEST(ZonalStatistics, EachZoneInOnePassWithItsKeyFieldAndTheNoDataRule) {
    Zones z;
    GridSpec g;
    g.columns = 4;
    g.rows = 4;
    g.originX = 0;
    g.originY = 40;
    g.noData = -1;
    g.withSrs = false;
    // west: 1 1 / 2 2 / 3 3 / 5 1  east: 4 4 / 4 -1 / 6 6 / 6 6
    g.cells = {1, 1, 4, 4, 2, 2, 4, -1, 3, 3, 6, 6, 5, 1, 6, 6};
    auto values = h::RasterDataset::open(writeGrid(z.tmp.file("v.tif"), g));
    h::RasterAnalysisEnvironment env;
    struct Case {
        const char* field;
        bool ignoreNoData;
        std::vector<std::string> rows;
    } cases[] = {
        // Count Area Min Max Range Mean Std Sum Variety Majority Minority Median
        {"ZONE", true,
         {"1 8 800 1 5 4 2.25 1.299038 18 4 1 5 2", "2 7 700 4 6 2 5.142857 0.989743 36 2 6 4 6"}},
        {"ZONE", false, {"1 8 800 1 5 4 2.25 1.299038 18 4 1 5 2", "2            "}},
        {"NAME", true,
         {"east 7 700 4 6 2 5.142857 0.989743 36 2 6 4 6", "west 8 800 1 5 4 2.25 1.299038 18 4 1 5 2"}},
    };
    // What the scratch folder held before (other tests of this process may
    // have left rasters there on purpose).
    const std::set<std::filesystem::path> scratchBefore = scratchEntries();
    int k = 0;
    for (const Case& c : cases) {
        const std::string out = z.tmp.file("zonal" + std::to_string(k++) + ".dbf");
        h::TablePtr t = h::zonalStatisticsAsTable(z.fc, c.field, values, c.ignoreNoData, out, env);
        EXPECT_EQ(t->fields().field(1), z.fc->fields().field(z.fc->findField(c.field)));
        EXPECT_EQ(t->fields().names(),
                  (std::vector<std::string>{"OID", c.field, "Count", "Area", "Min", "Max", "Range", "Mean", "Std",
                                            "Sum", "Variety", "Majority", "Minority", "Median"}));
        EXPECT_EQ(rowsOf(*t), c.rows) << c.field << " " << c.ignoreNoData;
    }
    // The zone grid it rasterized is gone.
    EXPECT_EQ(scratchEntries(), scratchBefore);
}
