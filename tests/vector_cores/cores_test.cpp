// The core-area run on a dialog that is never shown, as the batch runner
// uses it: cores of small polygons against values worked out by hand, cores
// that fall apart, the refusals, and the core metrics read from the output.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <numbers>

#include "FaultInjection.h"
#include "Fixture.h"
#include "host/FileReplace.h"
#include "host/System.h"
#include "shared/ErrorHandling.h"
#include "host/data/Value.h"
#include "vector/Forms/frmCores.h"
#include "vector/Forms/frmSpatialStat.h"

namespace h = korvane::host;

namespace {

// A square 10 x 10 with a 4 x 4 hole, and a second square joined to it by a
// corridor 1 wide: an inward buffer of 1 closes the corridor.
const char* kDumbbell =
    "POLYGON ((0 0, 10 0, 10 4.5, 20 4.5, 20 0, 30 0, 30 10, 20 10, 20 5.5, 10 5.5, 10 10, 0 10, 0 0))";
const char* kDumbbellWithHole =
    "POLYGON ((0 0, 10 0, 10 4.5, 20 4.5, 20 0, 30 0, 30 10, 20 10, 20 5.5, 10 5.5, 10 10, 0 10, 0 0),"
    " (3 3, 7 3, 7 7, 3 7, 3 3))";
// The area that the corridor's mouth adds to a square's core: the points
// within 0.5 of the mouth's middle line that lie at least 1 from both mouth
// corners, 2 * integral over 0..0.5 of (1 - sqrt(1 - u^2)).
const double kMouth = 2 * (0.5 - (0.25 * std::sqrt(0.75) + std::asin(0.5) / 2));

struct Row {
    std::string id;
    double patchArea, coreArea, area;
    h::Geometry shape;
};

struct Cores : DataFixture {
    kv::frmCores form;
    h::Application& app = h::Application::instance();
    Cores() {
        form.setArcMapHook(&app);
        map()->setMapUnits(h::UnitMeters);
    }
    ~Cores() { app.setDocument(std::make_shared<h::Document>()); }

    // A polygon layer with the text field PATCH, put on the map.
    h::FeatureLayerPtr layer(const std::string& name, const std::vector<std::pair<std::string, std::string>>& patches) {
        auto fc = workspace().createFeatureClass(name, {{"PATCH", h::FieldString, 12, 0, 0}}, h::ShapeType::Polygon);
        for (const auto& [id, wkt] : patches) {
            auto f = fc->createFeature();
            f->setShape(h::Geometry::fromWkt(wkt));
            f->setValue("PATCH", id);
            f->store();
        }
        fc->flush();
        auto l = std::make_shared<h::FeatureLayer>(fc, name);
        map()->addLayer(l);
        return l;
    }
    void run(const std::string& layerName, double size, bool explode = true, bool addToMap = false,
             const std::string& out = "cores", const std::string& idField = "PATCH") {
        form.CreateCores(dir.string(), out, layerName, idField, size, explode, addToMap);
    }
    std::vector<Row> rows(const std::string& out = "cores") {
        auto fc = h::FeatureClass::open((dir / (out + ".shp")).string());
        std::vector<Row> r;
        auto c = fc->search(nullptr, false);
        while (auto f = c.next())
            r.push_back({h::toText(f->value("PATCH")), h::toDouble(f->value("Patch_Area")),
                         h::toDouble(f->value("Core_Area")), h::toDouble(f->value("Area")), f->shape()});
        return r;
    }
    std::string messages() const {
        std::string all;
        for (auto& m : driver.messages) all += m.title + ": " + m.text + "\n";
        return all;
    }
};

}  // namespace

// The inradius of the triangles (0 0, 5 5, 0 10) and (10 0, 5 5, 10 10):
// area 25 over the half perimeter 5 + 5 sqrt 2.
const double kInradius = 25 / (5 + 5 * std::sqrt(2.0));

TEST(CoreAreas, CoresMatchHandValues) {
    // The core of a convex corner stays a corner; a reflex corner leaves a
    // quarter disk of the edge width around it, and a hole grows by the
    // width with rounded corners. GEOS draws arcs with 8 segments a quarter,
    // which leaves a whole circle 0.02 short: hence the tolerance.
    struct Case {
        const char* what;
        const char* wkt;
        double size;
        double patch;
        double core;
        size_t rows;
    } cases[] = {
        {"square", "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))", 1, 100, 64, 1},
        {"negative width", "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))", -1, 100, 64, 1},
        {"width 0", "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))", 0, 100, 100, 1},
        {"L shape", "POLYGON ((0 0, 10 0, 10 4, 4 4, 4 10, 0 10, 0 0))", 1, 64, 29 - std::numbers::pi / 4, 1},
        {"square with hole", "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0), (4 4, 6 4, 6 6, 4 6, 4 4))", 1, 96,
         64 - (4 + 8 + std::numbers::pi), 1},
        {"strip narrower than twice the width", "POLYGON ((0 0, 10 0, 10 1.5, 0 1.5, 0 0))", 1, 15, 0, 0},
        {"strip exactly twice the width", "POLYGON ((0 0, 10 0, 10 2, 0 2, 0 0))", 1, 20, 0, 0},
        // A ring crossing itself covers two triangles of 25 each, which its
        // coordinates alone would measure as 0; each triangle's core is the
        // triangle shrunk by the width over its inradius.
        {"self-crossing ring", "POLYGON ((0 0, 10 10, 10 0, 0 10, 0 0))", 0.5, 50,
         50 * std::pow((kInradius - 0.5) / kInradius, 2), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Cores fx;
        fx.layer("patches", {{"p1", c.wkt}});
        fx.run("patches", c.size);
        EXPECT_EQ(fx.messages(), "");
        auto rows = fx.rows();
        ASSERT_EQ(rows.size(), c.rows);
        double parts = 0;
        for (const Row& r : rows) {
            EXPECT_EQ(r.id, "p1");
            EXPECT_NEAR(r.patchArea, c.patch, 1e-9);
            EXPECT_NEAR(r.coreArea, c.core, 0.03);
            EXPECT_TRUE(r.shape.isValid()) << r.shape.validityReason();
            parts += r.area;
        }
        if (c.rows) {
            EXPECT_NEAR(parts, rows[0].coreArea, 1e-4);
        }
    }
}

TEST(CoreAreas, ACoreThatFallsApartGivesConsecutiveRowsWhoseAreasAddUp) {
    // Two patches: the dumbbell (its left square with a hole) between two
    // squares, so that the parts' rows must come together in source order.
    const double square = 64 + kMouth;                          // right part
    const double holed = 64 + kMouth - (16 + 16 + std::numbers::pi);   // hole 4 x 4 grown by 1
    for (bool explode : {true, false}) {
        SCOPED_TRACE(explode ? "detached" : "kept whole");
        Cores fx;
        fx.layer("patches", {{"a", "POLYGON ((40 0, 50 0, 50 10, 40 10, 40 0))"},
                             {"b", kDumbbellWithHole},
                             {"c", "POLYGON ((60 0, 70 0, 70 10, 60 10, 60 0))"}});
        fx.run("patches", 1, explode);
        EXPECT_EQ(fx.messages(), "");
        auto rows = fx.rows();
        ASSERT_EQ(rows.size(), explode ? 4u : 3u);
        EXPECT_EQ(rows.front().id, "a");
        EXPECT_EQ(rows.back().id, "c");
        std::vector<Row> b(rows.begin() + 1, rows.end() - 1);
        double sum = 0;
        for (const Row& r : b) {
            EXPECT_EQ(r.id, "b");
            EXPECT_NEAR(r.patchArea, 200 + 10 - 16, 1e-9);
            EXPECT_NEAR(r.coreArea, square + holed, 0.05);
            EXPECT_TRUE(r.shape.isValid()) << r.shape.validityReason();
            sum += r.area;
        }
        EXPECT_NEAR(sum, b[0].coreArea, 1e-4);
        if (explode) {
            // Each part is written with its own holes, in the order the
            // core holds its parts.
            EXPECT_EQ(b[0].coreArea, b[1].coreArea);
            EXPECT_EQ(b[0].patchArea, b[1].patchArea);
            EXPECT_NEAR(b[0].area, holed, 0.05);
            EXPECT_EQ(b[0].shape.interiorRings().size(), 1u);
            EXPECT_NEAR(b[1].area, square, 0.01);
        } else {
            EXPECT_EQ(b[0].shape.exteriorRings().size(), 2u);
        }
    }
}

TEST(CoreAreas, OnlyTheSelectionIsReadAndTheNewLayerIsAdded) {
    Cores fx;
    auto layer = fx.layer("patches", {{"a", "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))"},
                                      {"b", "POLYGON ((20 0, 30 0, 30 10, 20 10, 20 0))"},
                                      {"c", "POLYGON ((40 0, 50 0, 50 10, 40 10, 40 0))"}});
    layer->selectionSet().add(std::vector<int64_t>{2, 0});
    fx.run("patches", 2, true, true);
    auto rows = fx.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].id, "a");
    EXPECT_EQ(rows[1].id, "c");
    EXPECT_NEAR(rows[0].coreArea, 36, 1e-9);
    // The new layer, named after its class, sits on top of the map.
    ASSERT_EQ(fx.map()->layerCount(), 2);
    EXPECT_EQ(fx.map()->layer(0)->name(), "cores");
    EXPECT_TRUE(fx.map()->layer(0)->visible());
    EXPECT_EQ(fx.messages(), "");
}

TEST(CoreAreas, ASecondRunReplacesItsOwnOutput) {
    Cores fx;
    fx.layer("patches", {{"a", "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))"}, {"b", kDumbbell}});
    fx.run("patches", 1);
    ASSERT_EQ(fx.rows().size(), 3u);
    fx.run("patches", 6);   // only the square's core is left: 10 - 12 < 0 for b
    auto rows = fx.rows();
    EXPECT_TRUE(rows.empty()) << rows.size();
    fx.run("patches", 4.5);
    rows = fx.rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_NEAR(rows[0].coreArea, 1, 1e-9);
    EXPECT_EQ(fx.messages(), "");
}

TEST(CoreAreas, RefusalsWriteNothingAndLeaveTheSourceWhole) {
    struct Case {
        const char* what;
        std::string folder, out, layer, id;
        std::string title, text;
    };
    Cores fx;
    auto patches = fx.layer("patches", {{"a", "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))"}});
    auto measuredClass = fx.workspace().createFeatureClass("measured", {{"Area", h::FieldDouble, 0, 20, 5}},
                                                           h::ShapeType::Polygon);
    fx.map()->addLayer(std::make_shared<h::FeatureLayer>(measuredClass, "measured"));
    auto group = std::make_shared<h::GroupLayer>("Group");
    group->layers().push_back(fx.polygons("inner", {{DataFixture::square(0, 0, 10)}}, {"a"}));
    fx.map()->addLayer(group);
    // A core layer of an earlier run, still on the map.
    fx.run("patches", 1, true, true, "shown");
    ASSERT_EQ(fx.map()->layer(0)->name(), "shown");
    fx.driver.messages.clear();
    // An earlier output, not on the map: a refused run must leave it alone.
    fx.workspace().createFeatureClass("out", {{"X", h::FieldInteger, 0, 9, 0}}, h::ShapeType::Polygon)->flush();

    const std::string d = fx.dir.string();
    const Case cases[] = {
        {"missing layer", d, "out", "nope", "PATCH", "Cannot Buffer Layer", "nope is not loaded into the current map."},
        {"layer inside a group", d, "out", "inner", "CLASS", "Cannot Buffer Layer",
         "inner is not loaded into the current map."},
        {"missing ID field", d, "out", "patches", "NOPE", "Cannot Buffer Layer",
         "Cannot find ID field NOPE in layer patches"},
        {"ID field named like an area field", d, "out", "measured", "AREA", "Cannot Buffer Layer",
         "The ID field Area has the name of a field of the core areas (Patch_Area, Core_Area, Area).  Choose "
         "another ID field."},
        {"object ID as ID field", d, "out", "patches", "FID", "Cannot Buffer Layer",
         "The ID field FID is the layer's object ID or shape field.  Choose another ID field."},
        {"output is the source", d, "patches", "patches", "PATCH", "Cannot Buffer Layer",
         d + "/patches.shp is the data of the layer patches in the current map and cannot be replaced.  Choose "
             "another output file."},
        {"output is a layer of the map", d, "shown", "patches", "PATCH", "Cannot Buffer Layer",
         d + "/shown.shp is the data of the layer shown in the current map and cannot be replaced.  Choose "
             "another output file."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fx.driver.messages.clear();
        fx.form.CreateCores(c.folder, c.out, c.layer, c.id, 1, true, true);
        ASSERT_EQ(fx.driver.messages.size(), 1u);
        EXPECT_EQ(fx.driver.messages[0].title, c.title);
        EXPECT_EQ(fx.driver.messages[0].text, c.text);
        EXPECT_EQ(fx.driver.messages[0].icon(), h::mb::Exclamation);
        EXPECT_EQ(h::FeatureClass::open((fx.dir / "out.shp").string())->findField("X"), 2);
    }
    EXPECT_EQ(patches->featureClass()->rowCount(), 1);
    EXPECT_EQ(fx.rows("shown").size(), 1u);
    EXPECT_EQ(fx.map()->layerCount(), 4);
}

TEST(CoreAreas, AFolderThatCannotBeOpenedEndsTheRunWithItsOwnMessage) {
    Cores fx;
    fx.layer("patches", {{"a", "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))"}});
    fx.form.CreateCores((fx.dir / "missing").string(), "out", "patches", "PATCH", 1, true, true);
    ASSERT_EQ(fx.driver.messages.size(), 1u);
    const auto& m = fx.driver.messages[0];
    EXPECT_EQ(m.title, "Create Cores");
    EXPECT_EQ(m.icon(), h::mb::Critical);
    EXPECT_EQ(m.text.rfind("Error encountered on line ", 0), 0u) << m.text;
    EXPECT_NE(m.text.find(" with 0 features run through\r\n"), std::string::npos) << m.text;
    // The failure's own description, not an inner report's text, and no
    // chain left behind for a later report.
    EXPECT_NE(m.text.find("features run through\r\n" + std::to_string(h::err::HostFileNotFound) +
                          " : The folder does not exist: " + (fx.dir / "missing").string()),
              std::string::npos)
        << m.text;
    EXPECT_FALSE(kv::ErrorChainFlag());
    EXPECT_TRUE(fx.driver.errorReports.empty());
    EXPECT_EQ(fx.map()->layerCount(), 1);
}

TEST(CoreAreas, TheCoreMetricsOfSpatialStatisticsReadTheOutput) {
    // A square and the dumbbell, detached: three core rows, the dumbbell's
    // two with the same Patch_Area one after the other.
    Cores fx;
    fx.layer("patches", {{"a", "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))"}, {"b", kDumbbell}});
    fx.run("patches", 1, true, true);
    auto rows = fx.rows();
    ASSERT_EQ(rows.size(), 3u);
    double tca = 0, core = 0, patch = 0;
    for (const Row& r : rows) {
        tca += r.area;
        core += r.coreArea;
        patch += r.patchArea;
    }
    EXPECT_NEAR(tca, 64 + 2 * (64 + kMouth), 0.02);

    kv::frmSpatialStat stats;
    stats.setArcMapHook(&fx.app);
    std::string table = (fx.dir / "metrics.dbf").string();
    stats.RunSpatialStats(&fx.app, "cores", "PATCH", false, false, table, true,
                          {"chkTotalArea", "chkTotalAreaIndex", "chkAreaDensity"}, true, false);
    EXPECT_EQ(fx.messages(), "");
    EXPECT_TRUE(fx.driver.errorReports.empty());
    auto t = h::Table::open(table);
    ASSERT_EQ(t->rowCount(), 1);
    auto row = t->row(0);
    EXPECT_NEAR(h::toDouble(row->value("TCA")), tca, tca * 1e-6);
    // Three cores over the patch area counted once per patch (100 + 210).
    EXPECT_NEAR(h::toDouble(row->value("CAD")), 3 / 310.0 * 1e6, 1e-2);
    EXPECT_NEAR(h::toDouble(row->value("TCAI")), core / patch * 100, 1e-4);
}

// The output replaces an older one only once complete: a failure or a kill
// while it is put in place leaves the old output, and nothing unmarked.
TEST(CoreAreas, AnOldOutputStaysWholeWhenItsReplacementFails) {
    namespace ht = korvane::host::testing;
    namespace kt = korvane::test;
    Cores fx;
    fx.layer("patches", {{"a", "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))"}, {"b", kDumbbell}});
    fx.run("patches", 1);
    ASSERT_EQ(fx.messages(), "");
    fx.layer("more", {{"c", "POLYGON ((0 0, 30 0, 30 30, 0 30, 0 0))"}});
    for (const char* file : {".shx", ".shp", ".dbf"}) {
        SCOPED_TRACE(file);
        kt::FolderSnapshot before(fx.dir);
        fx.driver.messages.clear();
        ht::failAt(ht::Step::Rename, EIO, std::string("cores") + file);
        fx.run("more", 1);
        ht::clearFaults();
        // The failure's own description, after its number.
        ASSERT_EQ(fx.driver.messages.size(), 1u);
        EXPECT_EQ(fx.driver.messages[0].title, "Create Cores");
        EXPECT_NE(fx.driver.messages[0].text.find(": Cannot write " + (fx.dir / "cores").string()), std::string::npos)
            << fx.driver.messages[0].text;
        EXPECT_EQ(fx.driver.messages[0].text.find("Error Number"), std::string::npos) << fx.driver.messages[0].text;
        EXPECT_FALSE(kv::ErrorChainFlag());
        if (std::string(file) == ".shx") {
            EXPECT_TRUE(before.sameAsNow()) << before.differences();
        }
        EXPECT_TRUE(kt::temporariesIn(fx.dir).empty());
        // Back to the first output, whole, for the next case.
        fx.driver.messages.clear();
        fx.run("patches", 1);
        ASSERT_EQ(fx.messages(), "");
    }
    kt::FolderSnapshot before(fx.dir);
    kt::ChildOutcome o = kt::runInChild([&](std::string&) {
        ht::killAt(ht::Step::Fsync, "cores.dbf");
        fx.run("more", 1);
        return 0;
    });
    EXPECT_EQ(o.signal, SIGKILL) << kt::describe(o);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    EXPECT_EQ(fx.rows().size(), 3u);
    // A read-only old output is not replaced.
    for (const char* ext : {".shp", ".shx", ".dbf"}) h::fs::SetReadOnly((fx.dir / (std::string("cores") + ext)).string(), true);
    fx.driver.messages.clear();
    fx.run("more", 1);
    EXPECT_NE(fx.messages().find("Shapefile not created"), std::string::npos) << fx.messages();
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
}
