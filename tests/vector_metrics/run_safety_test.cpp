// A run that fails or is cut short at any step leaves the user's files
// byte-identical and nothing but marked temporaries: failures injected
// through the replace helper's hook, a kill, a file-size limit, a full disk
// and an immutable table.
#include <csignal>

#include "FaultInjection.h"
#include "MetricsFixture.h"
#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/data/Workspace.h"
#include "vector/Forms/frmSpatialStat1Run.h"

namespace kvtest {
namespace {

namespace ht = korvane::host::testing;
namespace kt = korvane::test;

class RunSafetyTest : public MetricsTest {
protected:
    void SetUp() override {
        MetricsTest::SetUp();
        addHandFixture("patches");
        table = out.file("stats.dbf");
    }
    void TearDown() override { ht::clearFaults(); }
    // One run; a failure it passes on is what its caller would report.
    bool run(bool append, const std::string& at = {}) {
        try {
            kv::RunSpatialStats(&h::Application::instance(), "patches", "CLS", false, false, at.empty() ? table : at,
                                append, {"chkClassArea", "chkTotalEdge"}, false, false);
            return true;
        } catch (const h::Failure&) {
            return false;
        }
    }
    std::string table;
};

TEST_F(RunSafetyTest, AFailingStepOfTheReplacementLeavesTheOldTable) {
    ASSERT_TRUE(run(true));
    struct Case {
        ht::Step step;
        int error;
        const char* file;
    } cases[] = {{ht::Step::Fsync, EIO, ".dbf"}, {ht::Step::Close, ENOSPC, ".dbf"},
                 {ht::Step::Rename, EROFS, ".dbf"}, {ht::Step::Rename, EACCES, ".cpg"}};
    for (bool append : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << (append ? "append" : "overwrite") << " step "
                                              << static_cast<int>(c.step) << " " << c.file);
            kt::FolderSnapshot before(out.path()), source(data.path());
            ht::failAt(c.step, c.error, c.file);
            EXPECT_FALSE(run(append));
            ht::clearFaults();
            EXPECT_TRUE(before.sameAsNow()) << before.differences();
            EXPECT_TRUE(source.sameAsNow()) << source.differences();
            EXPECT_TRUE(kt::temporariesIn(out.path()).empty());
        }
    }
    // And without a failure both still work.
    ASSERT_TRUE(run(true));
    EXPECT_EQ(readRows(table).size(), 4u);
}

TEST_F(RunSafetyTest, AKilledRunLeavesTheOldTableAndOnlyMarkedTemporaries) {
    ASSERT_TRUE(run(true));
    for (bool append : {true, false}) {
        for (ht::Step step : {ht::Step::Fsync, ht::Step::Close, ht::Step::Rename}) {
            for (const char* file : {".cpg", ".dbf"}) {
                SCOPED_TRACE(::testing::Message() << (append ? "append" : "overwrite") << " step "
                                                  << static_cast<int>(step) << " " << file);
                kt::FolderSnapshot before(out.path());
                kt::ChildOutcome o = kt::runInChild([&](std::string&) {
                    ht::killAt(step, file);
                    run(append);
                    return 0;
                });
                EXPECT_EQ(o.signal, SIGKILL) << kt::describe(o);
                // The .cpg renamed before the kill at the .dbf holds the same text.
                EXPECT_TRUE(before.sameAsNow()) << before.differences();
                for (const std::string& t : kt::temporariesIn(out.path())) std::filesystem::remove(out.file(t));
            }
        }
    }
    // A new table killed before it is in place leaves no unmarked file at all.
    kt::ChildOutcome o = kt::runInChild([&](std::string&) {
        ht::killAt(ht::Step::Rename, ".dbf");
        run(false, out.file("fresh.dbf"));
        return 0;
    });
    EXPECT_EQ(o.signal, SIGKILL) << kt::describe(o);
    for (const std::string& f : out.files())
        EXPECT_TRUE(f.rfind("stats.", 0) == 0 || h::isKorvaneTemporary(f)) << f;
}

// Wherever the limit stops the run (the working copy, the new table, its
// rows), the old table stays; a run that fits puts a whole table in place.
TEST_F(RunSafetyTest, AFileSizeLimitAnywhereInTheRunLeavesTheOldTable) {
    ASSERT_TRUE(run(true));
    constexpr int kSucceeded = 10;
    for (uint64_t limit : {200u, 500u, 700u, 900u, 1400u}) {
        for (bool append : {true, false}) {
            SCOPED_TRACE(::testing::Message() << limit << " bytes, " << (append ? "append" : "overwrite"));
            kt::FolderSnapshot before(out.path()), source(data.path());
            const size_t rowsBefore = readRows(table).size();
            kt::ChildOutcome o = kt::runWithFileSizeLimit(limit, [&](std::string&) {
                return run(append) && ui.driver.messages.empty() ? kSucceeded : 0;
            });
            if (o.skipped) GTEST_SKIP() << o.message;
            ASSERT_TRUE(o.exited) << kt::describe(o);
            if (o.code == kSucceeded)
                EXPECT_EQ(readRows(table).size(), append ? rowsBefore + 2 : 2u);
            else
                EXPECT_TRUE(before.sameAsNow()) << before.differences();
            EXPECT_TRUE(source.sameAsNow()) << source.differences();
            EXPECT_TRUE(kt::temporariesIn(out.path()).empty()) << ::testing::PrintToString(kt::temporariesIn(out.path()));
        }
    }
}

TEST_F(RunSafetyTest, AFullDiskLeavesTheOldTable) {
    const std::string disk = out.file("disk");
    const std::string onDisk = disk + "/stats.dbf";
    kt::ChildOutcome o = kt::runOnFullDisk(disk, 256 * 1024, [&](std::string& why) {
        if (!run(true, onDisk)) {
            why = "the first run failed";
            return 2;
        }
        for (uint64_t room : {0u, 300u, 1000u, 3000u}) {
            for (bool append : {true, false}) {
                std::remove((disk + "/filler").c_str());
                kt::fillDisk(disk, room);
                kt::FolderSnapshot before(disk);
                run(append, onDisk);
                std::string what = std::to_string(room) + " bytes free, " + (append ? "append" : "overwrite") + ": ";
                if (!before.sameAsNow()) {
                    // A run that found room enough replaced the table whole.
                    auto now = kt::FolderSnapshot::read(disk);
                    if (now.size() != before.files().size() || readRows(onDisk).size() != (append ? 4u : 2u)) {
                        why = what + before.differences();
                        return 1;
                    }
                    continue;
                }
                if (!kt::temporariesIn(disk).empty()) {
                    why = what + "a temporary was left";
                    return 1;
                }
            }
        }
        return 0;
    });
    if (o.skipped) GTEST_SKIP() << o.message;
    EXPECT_TRUE(o.exited && o.code == 0) << kt::describe(o);
}

TEST_F(RunSafetyTest, AnImmutableTableIsNeitherReplacedNorAppendedTo) {
    ASSERT_TRUE(run(true));
    kt::FolderSnapshot before(out.path());
    kt::ImmutableFile locked(table);
    if (!locked.active()) GTEST_SKIP() << locked.reason();
    run(false);
    EXPECT_NE(messages().size(), 0u);
    EXPECT_NE(messages().back().find("Cannot delete"), std::string::npos) << messages().back();
    EXPECT_FALSE(run(true));
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    EXPECT_TRUE(kt::temporariesIn(out.path()).empty());
}

// Tables that are no statistics tables take no rows: a raster's value table
// is refused with a message, an unrelated table with an error report that
// names the field it lacks.
TEST_F(RunSafetyTest, AForeignTableIsRefusedBeforeAnyWrite) {
    auto ws = h::ShapefileWorkspace::open(out.path());
    ws.createTable("landscape.tif.vat", {{"Value", h::FieldInteger, 0, 9, 0}, {"Count", h::FieldInteger, 0, 9, 0}});
    ws.createTable("other", {{"A", h::FieldString, 10, 0, 0}, {"B", h::FieldInteger, 0, 9, 0}});
    kt::FolderSnapshot before(out.path());
    run(true, out.file("landscape.tif.vat.dbf"));
    ASSERT_NE(messages().size(), 0u);
    EXPECT_NE(messages().back().find("value table of a raster"), std::string::npos) << messages().back();
    std::string report;
    try {
        kv::RunSpatialStats(&h::Application::instance(), "patches", "CLS", false, false, out.file("other.dbf"), true,
                            {"chkClassArea", "chkTotalEdge"}, false, false);
    } catch (const h::Failure& f) {
        report = f.description();
    }
    for (const std::string& r : ui.driver.errorReports) report += r;
    EXPECT_NE(report.find("has no field Run"), std::string::npos) << report;
    EXPECT_EQ(report.find("index -1"), std::string::npos) << report;
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    EXPECT_TRUE(kt::temporariesIn(out.path()).empty());
}

}  // namespace
}  // namespace kvtest

namespace kvtest {
namespace {

class RunRefusalTest : public MetricsTest {
protected:
    void run(const std::string& layer, const std::string& table, bool landscape = false) {
        kv::RunSpatialStats(&h::Application::instance(), layer, "CLS", false, false, table, true,
                            {"chkClassArea", "chkNumOfPatches"}, landscape, false);
    }
};

// Class values equal in the 40 bytes of the Class column are refused before
// any row is written; null classes are counted after the rows.
TEST_F(RunRefusalTest, ClassesTheColumnCannotTellApartAndNullClasses) {
    const std::string longA = std::string(40, 'x') + "A", longB = std::string(40, 'x') + "B";
    {
        auto ws = h::ShapefileWorkspace::open(data.path());
        auto fc = ws.createFeatureClass("long", {{"CLS", h::FieldString, 60, 0, 0}}, h::ShapeType::Polygon);
        double x = 0;
        for (const h::Value& v : {h::Value{longA}, h::Value{longB}, h::Value{std::string("short")}, h::Value{}, h::Value{}}) {
            auto f = fc->createFeature();
            f->setShape(h::Geometry::polygon({{{x, 0}, {x, 5}, {x + 5, 5}, {x + 5, 0}}}));
            x += 10;
            f->setValue("CLS", v);
            f->store();
        }
        fc->close();
    }
    addLayer(data.file("long.shp"));
    run("long", out.file("stats.dbf"));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_NE(messages()[0].find("\"" + longA + "\""), std::string::npos) << messages()[0];
    EXPECT_NE(messages()[0].find("\"" + longB + "\""), std::string::npos) << messages()[0];
    EXPECT_TRUE(out.files().empty());   // no table, no working copy

    // Without the clash: the rows, then one message for the two null classes.
    {
        auto fc = h::FeatureClass::open(data.file("long.shp"));
        auto r = fc->row(1);
        r->setValue("CLS", std::string("other"));
        r->store();
    }
    ui.driver.messages.clear();
    run("long", out.file("stats.dbf"));
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0], "Patches Left Out: 2 patches with no class value (null) were left out of the rows.");
    EXPECT_EQ(readRows(out.file("stats.dbf")).size(), 3u);
    // At landscape level every patch is in the one row: nothing to report.
    ui.driver.messages.clear();
    run("long", out.file("stats.dbf"), true);
    EXPECT_TRUE(messages().empty()) << messages().front();
}

// A self-intersecting ring is measured after repair; a geographic layer runs
// as asked, without a question (batch lines replay as stored).
TEST_F(RunRefusalTest, SelfIntersectingRingsAreRepairedAndGeographicLayersDoNotAsk) {
    {
        auto ws = h::ShapefileWorkspace::open(data.path());
        auto sr = h::SpatialReference::fromWkt(
            "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,298.257223563]],"
            "PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]");
        auto fc = ws.createFeatureClass("bowtie", {{"CLS", h::FieldString, 10, 0, 0}}, h::ShapeType::Polygon, &sr);
        auto f = fc->createFeature();
        f->setShape(h::Geometry::fromWkt("POLYGON ((0 0, 10 10, 10 0, 0 10, 0 0))"));
        f->setValue("CLS", std::string("a"));
        f->store();
        fc->close();
    }
    addLayer(data.file("bowtie.shp"));
    run("bowtie", out.file("stats.dbf"));
    EXPECT_TRUE(messages().empty()) << messages().front();
    auto rows = readRows(out.file("stats.dbf"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_NEAR(num(rows[0], "CA"), 50, 1e-9);   // two triangles of 25, not 0
}

}  // namespace
}  // namespace kvtest
