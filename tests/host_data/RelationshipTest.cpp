// Memory relationship classes shown as joins, and the export of a joined
// layer: the first matching row through the key, left outer and inner joins,
// the destination's object id and repeated names, the selection.
#include <gtest/gtest.h>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "TestFiles.h"
#include "host/Failure.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Relationship.h"
#include "host/data/Workspace.h"

namespace h = korvane::host;
using korvane::test::TempFolder;

namespace {

struct Joined {
    TempFolder tmp;
    h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(tmp.path());
    h::FeatureLayerPtr layer;
    h::TablePtr table;
    Joined() {
        auto fc = ws.createFeatureClass("regions", {{"REGION", h::FieldString, 10, 0, 0}, {"AREA", h::FieldDouble, 0, 12, 2}},
                                        h::ShapeType::Polygon);
        const char* names[] = {"North", "South", "East", nullptr};
        for (int i = 0; i < 4; ++i) {
            auto f = fc->createFeature();
            f->setShape(h::Geometry::fromWkt(
                fmt::format("POLYGON(({0} 0,{1} 0,{1} 10,{0} 10,{0} 0))", i * 10, i * 10 + 10)));
            if (names[i]) f->setValue("REGION", std::string(names[i]));
            f->setValue("AREA", 100.0 * (i + 1));
            f->store();
        }
        fc->flush();
        layer = std::make_shared<h::FeatureLayer>(fc);
        table = ws.createTable("tab", {{"Run", h::FieldSmallInteger, 0, 3, 0},
                                       {"REGION", h::FieldString, 10, 0, 0},
                                       {"AREA", h::FieldDouble, 0, 12, 2},
                                       {"Class-All", h::FieldDouble, 0, 12, 2}});
        const std::tuple<int, const char*, double> rows[] = {
            {0, "North", 1}, {1, "North", 2}, {1, "South", 3}, {0, "South", 4}, {1, "West", 5}};
        for (const auto& [run, region, v] : rows) {
            auto r = table->createRow();
            r->setValue("Run", run);
            r->setValue("REGION", std::string(region));
            r->setValue("AREA", v);
            r->setValue("Class-All", v * 10);
            r->store();
        }
        table->flush();
    }
    std::vector<std::string> exported(const std::string& name, const h::SelectionSet* sel) {
        h::FeatureClassPtr out = h::exportJoinedLayer(*layer, sel, ws, name);
        std::vector<std::string> lines = {fmt::format("{}", fmt::join(out->fields().names(), " "))};
        h::Cursor c = out->search(nullptr, false);
        while (h::RowPtr r = c.next()) {
            std::string line;
            for (int32_t i = 2; i < out->fields().count(); ++i) line += (i > 2 ? "|" : "") + h::toText(r->value(i));
            lines.push_back(line);
        }
        return lines;
    }
};

}  // namespace

TEST(Relationship, LeftOuterJoinTakesTheFirstMatchingRowAndExportsUniqueNames) {
    Joined j;
    const h::QueryFilter thisRun("Run = 1");
    auto rel = h::MemoryRelationshipClass::open("TabletoLayer", j.layer->featureClass(), "REGION", j.table, "REGION",
                                                &thisRun);
    j.layer->displayRelationshipClass(rel, h::JoinType::LeftOuter);
    EXPECT_EQ(j.exported("all", nullptr),
              (std::vector<std::string>{"FID Shape REGION AREA OID_ Run REGION_1 AREA_1 Class-All",
                                        "North|100|1|1|North|2|20", "South|200|2|1|South|3|30", "East|300|||||",
                                        "|400|||||"}));
    // Inner: features without a match are left out; the selection limits it.
    j.layer->displayRelationshipClass(rel, h::JoinType::Inner);
    h::SelectionSet sel(j.layer->featureClass());
    sel.add(std::vector<int64_t>{1, 2});
    EXPECT_EQ(j.exported("inner", &sel),
              (std::vector<std::string>{"FID Shape REGION AREA OID_ Run REGION_1 AREA_1 Class-All",
                                        "South|200|2|1|South|3|30"}));
    // Without the filter the first row of a key is the earlier run's.
    j.layer->displayRelationshipClass(
        h::MemoryRelationshipClass::open("r", j.layer->featureClass(), "REGION", j.table, "REGION"),
        h::JoinType::LeftOuter);
    EXPECT_EQ(j.exported("first", &sel)[1], "South|200|2|1|South|3|30");
    EXPECT_EQ(j.exported("first2", nullptr)[1], "North|100|0|0|North|1|10");
    // An export of that name exists: refused, nothing replaced.
    EXPECT_THROW(j.exported("first", nullptr), h::Failure);
    j.layer->removeJoin();
    EXPECT_EQ(j.exported("plain", nullptr)[0], "FID Shape REGION AREA");
}

TEST(Relationship, RefusesKeysOfAnotherKindAndRelationsOfAnotherLayer) {
    Joined j;
    EXPECT_THROW(h::MemoryRelationshipClass::open("r", j.layer->featureClass(), "REGION", j.table, "AREA"), h::Failure);
    EXPECT_THROW(h::MemoryRelationshipClass::open("r", j.layer->featureClass(), "NOPE", j.table, "REGION"), h::Failure);
    auto other = h::FeatureClass::open(j.tmp.file("regions.shp"));
    auto copy = j.ws.copyDataset(*other, "copy");
    auto rel = h::MemoryRelationshipClass::open("r", std::dynamic_pointer_cast<h::FeatureClass>(copy), "REGION",
                                                j.table, "REGION");
    EXPECT_THROW(j.layer->displayRelationshipClass(rel, h::JoinType::LeftOuter), h::Failure);
}
