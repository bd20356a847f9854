// The toolbox's dissolve and intersect tools on small hand layers, run as
// the tool dialog runs them (validate, then execute), without the dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>

#include "FaultInjection.h"
#include "ToolFixture.h"
#include "host/FileReplace.h"
#include "host/Failure.h"
#include "host/toolbox/ToolSupport.h"

using namespace kvtest;

namespace {

struct Tools : ToolFixture {
    h::FeatureLayerPtr stands;

    // a: A (a square with a hole) and B touching it along an edge;
    // b: C and D overlapping by 5 x 5; c: E a self-crossing bow-tie.
    Tools() {
        stands = layer("stands",
                       {{Tools::square(0, 0, 10), square(2, 2, 2)}, {Tools::square(10, 0, 10)}, {Tools::square(25, 0, 10)},
                        {square(30, 5, 10)}, {bowTie(45, 0, 10)}},
                       {"a", "a", "b", "b", "c"}, {1, 2, 3, 4, 5});
        map()->addLayer(stands);
    }

    // Validates and runs the tool with these values; the refusal in refusal.
    h::FeatureClassPtr run(const h::GPToolPtr& tool, const std::map<std::string, std::string>& values,
                           std::string* refusal = nullptr) {
        h::GPParameterArray params = tool->parameterInfo();
        for (auto& [name, v] : values) params.named(name).setValue(params.named(name).dataType().createValue(v));
        h::ToolContext ctx{map(), {}};
        std::string message = tool->validate(params, ctx);
        if (refusal) *refusal = message;
        if (!message.empty()) return nullptr;
        return h::FeatureClass::open(tool->execute(params, ctx));
    }

    struct Row {
        std::string cls;
        double area;
        int parts, holes;
    };
    // Rows of an output by object id: CLASS (when there is one), area, polygon parts, holes.
    static std::vector<Row> rows(const h::FeatureClassPtr& fc) {
        std::vector<Row> out;
        auto c = fc->search(nullptr, false);
        while (auto r = c.next()) {
            Row row{fc->findField("CLASS") >= 0 ? h::toText(r->value("CLASS")) : "", r->shape().area(),
                    static_cast<int>(r->shape().exteriorRings().size()),
                    static_cast<int>(r->shape().interiorRings().size())};
            out.push_back(row);
        }
        return out;
    }
};

h::GPToolPtr dissolve() { return h::makeDissolveTool(); }
h::GPToolPtr intersect() { return h::makeIntersectTool(); }

}  // namespace

TEST(DissolveTool, GroupsUniteTouchingOverlappingHoledAndRepairedShapes) {
    Tools fx;
    struct Case {
        const char* field;
        const char* multi;
        std::vector<Tools::Row> want;
    } cases[] = {
        // The hole stays, the touching squares become one, the overlap counts
        // once, the bow-tie is repaired into its two triangles.
        {"CLASS", "MULTI_PART", {{"a", 196, 1, 1}, {"b", 175, 1, 0}, {"c", 50, 2, 0}}},
        {"CLASS", "SINGLE_PART", {{"a", 196, 1, 1}, {"b", 175, 1, 0}, {"c", 25, 1, 0}, {"c", 25, 1, 0}}},
        {"", "MULTI_PART", {{"", 421, 4, 1}}},
        {"", "SINGLE_PART", {{"", 196, 1, 1}, {"", 175, 1, 0}, {"", 25, 1, 0}, {"", 25, 1, 0}}},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string out = fx.path("out" + std::to_string(n++) + ".shp");
        auto fc = fx.run(dissolve(), {{"in_features", "stands"}, {"out_feature_class", out},
                                      {"dissolve_field", c.field}, {"multi_part", c.multi}});
        ASSERT_TRUE(fc) << out;
        auto got = Tools::rows(fc);
        ASSERT_EQ(got.size(), c.want.size()) << c.field << " " << c.multi;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].cls, c.want[i].cls);
            EXPECT_NEAR(got[i].area, c.want[i].area, 1e-6) << c.field << " " << c.multi << " row " << i;
            EXPECT_EQ(got[i].parts, c.want[i].parts) << c.field << " " << c.multi << " row " << i;
            EXPECT_EQ(got[i].holes, c.want[i].holes) << c.field << " " << c.multi << " row " << i;
        }
        ASSERT_TRUE(fc->spatialReference());
        EXPECT_EQ(fc->units(), 9);   // the input's metres kept
    }
}

TEST(DissolveTool, StatisticsPerGroupWithShortenedNames) {
    Tools fx;
    auto fc = fx.run(dissolve(), {{"in_features", "stands"},
                                  {"out_feature_class", fx.path("stats.shp")},
                                  {"dissolve_field", "CLASS"},
                                  {"statistics_fields", "WEIGHT SUM;WEIGHT MEAN;CLASS FIRST;WEIGHT SUM;WEIGHT count"}});
    ASSERT_TRUE(fc);
    std::vector<std::string> names;
    for (int32_t i = 2; i < fc->fields().count(); ++i) names.push_back(fc->fields().field(i).name);
    EXPECT_EQ(names, (std::vector<std::string>{"CLASS", "SUM_WEIGHT", "MEAN_WEIGH", "FIRST_CLAS", "SUM_WEIG_1",
                                               "COUNT_WEIG"}));
    auto a = fc->feature(0), b = fc->feature(1);
    EXPECT_DOUBLE_EQ(h::toDouble(a->value("SUM_WEIGHT")), 3);
    EXPECT_DOUBLE_EQ(h::toDouble(a->value("MEAN_WEIGH")), 1.5);
    EXPECT_EQ(h::toText(a->value("FIRST_CLAS")), "a");
    EXPECT_DOUBLE_EQ(h::toDouble(b->value("SUM_WEIG_1")), 7);
    EXPECT_EQ(h::toDouble(b->value("COUNT_WEIG")), 2);
}

// Statistics of a world-like layer's population (tests/data/world-pop):
// sums past 10^9 and their means, ranges and deviations fit their fields.
TEST(DissolveTool, StatisticsFieldsHoldTheirValues) {
    Tools fx;
    auto fc = fx.run(dissolve(), {{"in_features", KV_TEST_DATA "/world-pop/world.shp"},
                                  {"out_feature_class", fx.path("continents.shp")},
                                  {"dissolve_field", "CONTINENT"},
                                  {"statistics_fields", "POP SUM;POP MEAN;POP MIN;POP MAX;POP RANGE;POP STD;POP COUNT"}});
    ASSERT_TRUE(fc);
    struct Want {
        const char* continent;
        double sum, mean, range;
        int count;
    } want[] = {
        {"Asia", 3034758322.0, 3034758322.0 / 3, 1397715000.0 - 270625568.0, 3},
        {"North America", 455815052.0, 455815052.0 / 2, 328239523.0 - 127575529.0, 2},
        {"Oceania", 11646, 11646, 0, 1},
    };
    auto rows = fc->search(nullptr, false);
    for (const Want& w : want) {
        auto r = rows.next();
        ASSERT_TRUE(r) << w.continent;
        EXPECT_EQ(h::toText(r->value("CONTINENT")), w.continent);
        EXPECT_DOUBLE_EQ(h::toDouble(r->value("SUM_POP")), w.sum) << w.continent;
        EXPECT_NEAR(h::toDouble(r->value("MEAN_POP")), w.mean, 1e-6) << w.continent;
        EXPECT_DOUBLE_EQ(h::toDouble(r->value("RANGE_POP")), w.range) << w.continent;
        EXPECT_EQ(h::toDouble(r->value("COUNT_POP")), w.count) << w.continent;
    }
    EXPECT_FALSE(rows.next());
    const h::FieldDef& sum = fc->fields().field(fc->findField("SUM_POP"));
    EXPECT_GE(sum.precision - sum.scale, 11);   // ten digits and a sign
}

TEST(DissolveTool, RefusesBeforeWritingAnything) {
    Tools fx;
    std::string existing = fx.path("taken.shp");
    ASSERT_TRUE(fx.run(dissolve(), {{"in_features", "stands"}, {"out_feature_class", existing}}));
    std::string stands = fx.stands->featureClass()->path();
    struct Case {
        std::map<std::string, std::string> values;
        const char* says;
    } cases[] = {
        {{{"in_features", "stands"}, {"out_feature_class", existing}}, "already exists"},
        {{{"in_features", "stands"}, {"out_feature_class", stands}}, "is the input stands"},
        {{{"in_features", stands}, {"out_feature_class", fx.path("stands")}}, "is the input stands"},
        {{{"in_features", "nothing"}, {"out_feature_class", fx.path("x.shp")}}, "no feature layer of the map"},
        {{{"in_features", "stands"}, {"out_feature_class", fx.path("x.shp")}, {"dissolve_field", "NOPE"}},
         "has no attribute field NOPE"},
        {{{"in_features", "stands"}, {"out_feature_class", fx.path("x.shp")}, {"statistics_fields", "CLASS SUM"}},
         "needs a numeric field"},
        {{{"in_features", "stands"}, {"out_feature_class", fx.path("x.shp")}, {"statistics_fields", "WEIGHT"}},
         "is not a field followed by"},
        {{{"in_features", "stands"}, {"out_feature_class", fx.path("no/such/folder/x.shp")}}, "does not exist"},
        {{{"in_features", "stands"}, {"out_feature_class", fx.path("x.dbf")}}, "is not a shapefile name"},
    };
    for (const Case& c : cases) {
        std::string refusal;
        EXPECT_FALSE(fx.run(dissolve(), c.values, &refusal));
        EXPECT_NE(refusal.find(c.says), std::string::npos) << refusal;
    }
    EXPECT_FALSE(std::filesystem::exists(fx.path("x.shp")));
    EXPECT_FALSE(std::filesystem::exists(fx.path("x.dbf")));
    // A keyword parameter takes only its keywords.
    auto params = dissolve()->parameterInfo();
    EXPECT_EQ(params.element(4).name(), "multi_part");
    EXPECT_EQ(params.element(4).dataType().createValue("single_part").text(), "SINGLE_PART");
    EXPECT_THROW(params.element(4).dataType().createValue("SINGLE"), h::Failure);
}

TEST(IntersectTool, PiecesCarryTheAttributesOfEveryInput) {
    Tools fx;
    // One zone over A but its left strip (the hole inside), all of B and a
    // strip of C.
    auto zones = fx.layer("zones", {{Tools::square(1, -5, 25)}}, {"z"}, {9});
    fx.map()->addLayer(zones);
    auto fc = fx.run(intersect(), {{"in_features", "stands;zones"}, {"out_feature_class", fx.path("cut.shp")}});
    ASSERT_TRUE(fc);
    std::vector<std::string> names;
    for (int32_t i = 2; i < fc->fields().count(); ++i) names.push_back(fc->fields().field(i).name);
    EXPECT_EQ(names, (std::vector<std::string>{"FID_stands", "CLASS", "WEIGHT", "FID_zones", "CLASS_1", "WEIGHT_1"}));
    struct Want {
        int fid;
        double area;
    } want[] = {{0, 86}, {1, 100}, {2, 10}};
    ASSERT_EQ(fc->rowCount(), 3);
    for (int i = 0; i < 3; ++i) {
        auto f = fc->feature(i);
        EXPECT_EQ(h::toDouble(f->value("FID_stands")), want[i].fid);
        EXPECT_NEAR(f->shape().area(), want[i].area, 1e-6) << i;
        EXPECT_EQ(h::toText(f->value("CLASS_1")), "z");
        EXPECT_EQ(h::toDouble(f->value("FID_zones")), 0);
    }
    EXPECT_EQ(fc->feature(0)->shape().interiorRings().size(), 1u);
    EXPECT_EQ(fc->units(), 9);

    struct JoinCase {
        const char* join;
        std::vector<std::string> fields;
    } joins[] = {{"NO_FID", {"CLASS", "WEIGHT", "CLASS_1", "WEIGHT_1"}}, {"ONLY_FID", {"FID_stands", "FID_zones"}}};
    int n = 0;
    for (auto& j : joins) {
        auto out = fx.run(intersect(), {{"in_features", "zones;stands"},
                                        {"out_feature_class", fx.path("join" + std::to_string(n++) + ".shp")},
                                        {"join_attributes", j.join}});
        ASSERT_TRUE(out);
        std::vector<std::string> got;
        for (int32_t i = 2; i < out->fields().count(); ++i) got.push_back(out->fields().field(i).name);
        if (std::string(j.join) == "ONLY_FID") std::swap(got[0], got[1]);   // zones came first
        EXPECT_EQ(got, j.fields) << j.join;
    }
}

TEST(IntersectTool, RepairsTheBowTieAndGivesLinesOrPoints) {
    Tools fx;
    // Over the bow-tie's right triangle; one square touching A along
    // x = 0, one touching B at the corner (20, 10).
    auto other = fx.layer("other", {{Tools::square(50, 0, 10)}, {Tools::square(-10, 0, 10)}, {Tools::square(20, 10, 5)}}, {"o", "o", "o"});
    fx.map()->addLayer(other);
    auto polys = fx.run(intersect(), {{"in_features", "stands;other"}, {"out_feature_class", fx.path("p.shp")}});
    ASSERT_TRUE(polys);
    ASSERT_EQ(polys->rowCount(), 1);
    EXPECT_NEAR(polys->feature(0)->shape().area(), 25, 1e-9);

    auto lines = fx.run(intersect(), {{"in_features", "stands;other"}, {"out_feature_class", fx.path("l.shp")},
                                      {"output_type", "LINE"}});
    ASSERT_TRUE(lines);
    EXPECT_EQ(lines->shapeType(), h::ShapeType::Polyline);
    double shared = 0;
    auto c = lines->search(nullptr, false);
    while (auto r = c.next()) shared += r->shape().length();
    EXPECT_NEAR(shared, 10, 1e-9);   // A's left edge

    auto points = fx.run(intersect(), {{"in_features", "stands;other"}, {"out_feature_class", fx.path("pt.shp")},
                                       {"output_type", "POINT"}});
    ASSERT_TRUE(points);
    EXPECT_EQ(points->shapeType(), h::ShapeType::Multipoint);
    bool corner = false;
    auto pc = points->search(nullptr, false);
    while (auto r = pc.next())
        for (auto& p : r->shape().points()) corner = corner || (p == h::Point{20, 10});
    EXPECT_TRUE(corner);
}

TEST(IntersectTool, RefusesMixedCoordinateSystemsAndSingleInputs) {
    Tools fx;
    auto far = fx.layer("far", {{Tools::square(0, 0, 1)}}, {"f"}, {}, Tools::geographic());
    fx.map()->addLayer(far);
    fx.map()->addLayer(fx.layer("near", {{Tools::square(0, 0, 1)}}, {"n"}));
    struct Case {
        std::map<std::string, std::string> values;
        const char* says;
    } cases[] = {
        {{{"in_features", "stands;far"}, {"out_feature_class", fx.path("x.shp")}}, "different coordinate systems"},
        {{{"in_features", "stands"}, {"out_feature_class", fx.path("x.shp")}}, "at least two inputs"},
        {{{"in_features", "stands;stands"}, {"out_feature_class", fx.path("x.shp")}}, "given twice"},
        {{{"in_features", "stands;far"}, {"out_feature_class", fx.stands->featureClass()->path()}},
         "different coordinate systems"},
        {{{"in_features", "stands;near"}, {"out_feature_class", fx.path("x.shp")}, {"cluster_tolerance", "-1"}},
         "is not a distance"},
    };
    for (const Case& c : cases) {
        std::string refusal;
        EXPECT_FALSE(fx.run(intersect(), c.values, &refusal));
        EXPECT_NE(refusal.find(c.says), std::string::npos) << refusal;
    }
    EXPECT_FALSE(std::filesystem::exists(fx.path("x.shp")));
}

TEST(ToolOutput, AnUnfinishedOutputLeavesNoFiles) {
    Tools fx;
    std::string out = fx.path("half.shp");
    {
        h::tools::OutputWriter w(out, {{"N", h::FieldInteger, 0, 4, 0}}, h::ShapeType::Polygon, Tools::utm());
        w.add({1}, h::tools::readPolygons(h::Geometry::polygon({DataFixture::square(0, 0, 1)})));
        // Written under a marked name: the output's own name is not there yet.
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_FALSE(korvane::test::temporariesIn(std::filesystem::path(out).parent_path()).empty());
        // A failure while writing: a value the field cannot take.
        EXPECT_THROW(w.add({1e12}, nullptr), h::Failure);
    }
    for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg"})
        EXPECT_FALSE(std::filesystem::exists(fx.path(std::string("half") + ext))) << ext;
    EXPECT_TRUE(korvane::test::temporariesIn(std::filesystem::path(out).parent_path()).empty());
}

// Writes `n` squares to `out` through the tools' writer; the number of
// features an opened output holds, or -1 when it was refused.
int64_t writeSquares(const std::string& out, int n) {
    h::tools::OutputWriter w(out, {{"N", h::FieldInteger, 0, 9, 0}, {"NAME", h::FieldString, 40, 0, 0}},
                             h::ShapeType::Polygon, Tools::utm());
    for (int i = 0; i < n; ++i)
        w.add({i, "stand " + std::to_string(i)},
              h::tools::readPolygons(h::Geometry::polygon({DataFixture::square(i * 20.0, 0, 10)})));
    w.finish();
    return h::FeatureClass::open(out)->rowCount();
}

TEST(ToolOutput, AFullDiskOrAKillLeavesNoOutputOrAWholeOne) {
    namespace kt = korvane::test;
    namespace fs = std::filesystem;
    Tools fx;
    const fs::path disk = fx.path("disk");
    const std::string out = (disk / "dissolved.shp").string();
    constexpr int kFeatures = 400;
    auto outputFiles = [&] {
        int n = 0;
        for (const auto& e : fs::directory_iterator(disk))
            if (e.path().stem() == "dissolved") ++n;
        return n;
    };
    kt::ChildOutcome full = kt::runOnFullDisk(disk, 1024 * 1024, [&](std::string& why) {
        for (uint64_t room = 0; room <= 96 * 1024; room += 4 * 1024) {
            for (const auto& e : fs::directory_iterator(disk)) fs::remove(e.path());
            kt::fillDisk(disk, room);
            int64_t got = -1;
            try {
                got = writeSquares(out, kFeatures);
            } catch (const h::Failure&) {
            }
            const std::string what = std::to_string(room / 1024) + " KiB free: ";
            if (!kt::temporariesIn(disk).empty()) return why = what + "a temporary was left", 1;
            if (got < 0 && outputFiles() != 0) return why = what + "a failed write left files of the output", 1;
            if (got >= 0 && got != kFeatures) return why = what + std::to_string(got) + " features", 1;
        }
        return 0;
    });
    if (full.skipped) GTEST_SKIP() << full.message;
    EXPECT_TRUE(full.exited && full.code == 0) << kt::describe(full);

    // Killed while it writes, flushes or closes any of its files: nothing of
    // the output's name is there.
    fs::create_directories(disk);
    for (auto step : {h::testing::Step::Fsync, h::testing::Step::Close, h::testing::Step::Rename}) {
        for (const char* ending : {".shp", ".shx", ".dbf", ".prj"}) {
            if (step == h::testing::Step::Rename && std::string(ending) != ".prj") continue;   // the first rename
            kt::ChildOutcome killed = kt::runInChild([&](std::string&) {
                h::testing::killAt(step, ending);
                writeSquares(out, kFeatures);
                return 0;
            });
            EXPECT_EQ(killed.signal, SIGKILL) << ending << ": " << kt::describe(killed);
            EXPECT_EQ(outputFiles(), 0) << ending;
            for (const auto& e : fs::directory_iterator(disk)) fs::remove(e.path());
        }
    }
}
