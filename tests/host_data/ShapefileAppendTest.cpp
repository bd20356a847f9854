// Rows added to a polygon shapefile through a buffered insert cursor, which
// the data layer appends to the files itself: at every flush the three files
// must hold exactly the driver's bytes for the rows so far, and agree with
// each other so that any reader sees every row flushed.
#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <filesystem>
#include <string>
#include <vector>

#include "FaultInjection.h"
#include "TestFiles.h"
#include "host/Failure.h"
#include "host/data/TableImpl.h"
#include "host/data/Workspace.h"

using namespace korvane::host;
using korvane::test::readBytes;
using korvane::test::TempFolder;

namespace {

struct DriverWrites {
    explicit DriverWrites(bool on) { data::setDirectDbfWrites(!on); }
    ~DriverWrites() { data::setDirectDbfWrites(true); }
};

struct Shape {
    const char* what;
    const char* wkt;   // empty: no shape
};

// The shapes a core-area run writes and some it never does: rings in either
// turning, holes, parts, shapes that come out empty, a first row without a
// shape, coordinates below zero.
const Shape kShapes[] = {
    {"no shape first", ""},
    {"anticlockwise square", "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))"},
    {"clockwise square", "POLYGON ((20 0, 20 10, 30 10, 30 0, 20 0))"},
    {"hole turning like its ring", "POLYGON ((0 20, 0 30, 10 30, 10 20, 0 20), (2 22, 2 28, 8 28, 8 22, 2 22))"},
    {"hole turning against its ring", "POLYGON ((20 20, 30 20, 30 30, 20 30, 20 20), (22 22, 22 28, 28 28, 28 22, 22 22))"},
    {"two parts, one with a hole",
     "MULTIPOLYGON (((-5 -5, -1 -5, -1 -1, -5 -1, -5 -5)), ((40 0, 50 0, 50 10, 40 10, 40 0), (42 2, 42 8, 48 8, 48 2, 42 2)))"},
    {"empty polygon", "POLYGON EMPTY"},
    {"a triangle far out", "POLYGON ((1e6 1e6, 1000010.5 1e6, 1e6 1000003.25, 1e6 1e6))"},
};

void fill(const std::string& folder, int flushEvery, std::vector<std::vector<std::vector<uint8_t>>>* atFlush) {
    auto fc = ShapefileWorkspace::open(folder).createFeatureClass(
        "cores", {{"PATCH", FieldString, 12, 0, 0}, {"ID", FieldInteger, 0, 9, 0}, {"Area", FieldDouble, 0, 20, 5}},
        ShapeType::Polygon);
    InsertCursor inserts = fc->insert(true);
    RowPtr row = inserts.createRowBuffer();
    int n = 0;
    auto snapshot = [&] {
        std::vector<std::vector<uint8_t>> files;
        for (const char* ext : {".shp", ".shx", ".dbf"}) {
            std::vector<uint8_t> b = readBytes(folder + "/cores" + ext);
            if (std::string(ext) == ".dbf")
                for (size_t i = 1; i < 4 && i < b.size(); ++i) b[i] = 0;   // the day of writing
            files.push_back(std::move(b));
        }
        atFlush->push_back(std::move(files));
    };
    for (int round = 0; round < 3; ++round) {
        for (const Shape& s : kShapes) {
            Geometry g = *s.wkt ? Geometry::fromWkt(s.wkt) : Geometry();
            row->setShape(g);
            row->setValue(2, std::string(s.what).substr(0, 12));
            row->setValue(3, n % 4 == 3 ? Value() : Value(n * 7 - 20));
            row->setValue(4, g.isEmpty() ? 0.0 : g.area() / 3);
            EXPECT_EQ(inserts.insertRow(*row), n);
            if (++n % flushEvery == 0) {
                inserts.flush();
                snapshot();
            }
        }
    }
    inserts.flush();
    snapshot();
}

int64_t featuresReadByGdal(const std::string& shp) {
    GDALAllRegister();
    std::unique_ptr<GDALDataset> ds(GDALDataset::Open(shp.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!ds) return -1;
    OGRLayer* layer = ds->GetLayer(0);
    int64_t n = 0;
    while (OGRFeature* f = layer->GetNextFeature()) {
        OGRFeature::DestroyFeature(f);
        ++n;
    }
    return n;
}

}  // namespace

TEST(ShapefileAppend, EveryFlushLeavesTheDriversBytes) {
    for (int flushEvery : {1, 5, 1000}) {
        SCOPED_TRACE(flushEvery);
        TempFolder direct, driver;
        std::vector<std::vector<std::vector<uint8_t>>> ours, theirs;
        const int64_t before = data::directDbfCounts().appended;
        fill(direct.path(), flushEvery, &ours);
        EXPECT_EQ(data::directDbfCounts().appended - before, 3 * static_cast<int64_t>(std::size(kShapes)));
        {
            DriverWrites viaDriver(true);
            fill(driver.path(), flushEvery, &theirs);
        }
        EXPECT_EQ(data::directDbfCounts().appended - before, 3 * static_cast<int64_t>(std::size(kShapes)));
        ASSERT_EQ(ours.size(), theirs.size());
        for (size_t i = 0; i < ours.size(); ++i) {
            EXPECT_EQ(ours[i][0], theirs[i][0]) << ".shp at flush " << i;
            EXPECT_EQ(ours[i][1], theirs[i][1]) << ".shx at flush " << i;
            EXPECT_EQ(ours[i][2], theirs[i][2]) << ".dbf at flush " << i;
        }
    }
}

// While the cursor is still open, what has been flushed is readable whole by
// another reader; a reader of the same table sees the rows not yet flushed.
TEST(ShapefileAppend, FlushedRowsAreWholeForEveryReader) {
    TempFolder folder;
    auto fc = ShapefileWorkspace::open(folder.path()).createFeatureClass("cores", {{"ID", FieldInteger, 0, 9, 0}},
                                                                         ShapeType::Polygon);
    InsertCursor inserts = fc->insert(true);
    RowPtr row = inserts.createRowBuffer();
    for (int i = 0; i < 250; ++i) {
        row->setShape(Geometry::fromWkt("POLYGON ((0 0, 1 0, 1 1, 0 0))"));
        row->setValue(2, i);
        inserts.insertRow(*row);
        if (i % 102 == 101) {
            inserts.flush();
            EXPECT_EQ(data::datasetDamage(folder.path() + "/cores"), std::nullopt);
            EXPECT_EQ(featuresReadByGdal(folder.file("cores.shp")), i + 1);
        }
    }
    EXPECT_EQ(fc->rowCount(), 250);
    EXPECT_EQ(static_cast<int>(toDouble(fc->row(249)->value(2))), 249);
    // Rows inserted after a read go on at the end.
    row->setValue(2, 250);
    EXPECT_EQ(inserts.insertRow(*row), 250);
    inserts.flush();
    EXPECT_EQ(featuresReadByGdal(folder.file("cores.shp")), 251);
}

// A flush that cannot write (the file-size limit reached) fails, and the
// files still read as the flush before left them.
TEST(ShapefileAppend, AFailedFlushLeavesTheLastFlushedRows) {
    TempFolder folder;
    auto o = korvane::test::runWithFileSizeLimit(64 * 1024, [&](std::string& why) {
        auto fc = ShapefileWorkspace::open(folder.path()).createFeatureClass(
            "cores", {{"ID", FieldInteger, 0, 9, 0}}, ShapeType::Polygon);
        InsertCursor inserts = fc->insert(true);
        RowPtr row = inserts.createRowBuffer();
        int flushed = 0;
        for (int i = 0; i < 100000; ++i) {
            row->setShape(Geometry::fromWkt("POLYGON ((0 0, 1 0, 1 1, 0 1, 0 0))"));
            row->setValue(2, i);
            inserts.insertRow(*row);
            if (i % 100 == 99) {
                try {
                    inserts.flush();
                    flushed = i + 1;
                } catch (const Failure& f) {
                    why = std::to_string(flushed) + " " + f.description();
                    return 1;
                }
            }
        }
        why = "no flush failed";
        return 0;
    });
    ASSERT_TRUE(o.exited) << korvane::test::describe(o);
    ASSERT_EQ(o.code, 1) << o.message;
    EXPECT_NE(o.message.find("Cannot write"), std::string::npos) << o.message;
    EXPECT_EQ(data::datasetDamage(folder.path() + "/cores"), std::nullopt);
    const int64_t flushed = std::stoll(o.message);
    EXPECT_GT(flushed, 0);
    EXPECT_EQ(featuresReadByGdal(folder.file("cores.shp")), flushed);
}

// A shapefile with a spatial index is left to the driver, which keeps the
// index true: a read through the index finds the rows added.
TEST(ShapefileAppend, AnIndexedShapefileKeepsItsIndexTrue) {
    TempFolder folder;
    {
        auto fc = ShapefileWorkspace::open(folder.path()).createFeatureClass("cores", {{"ID", FieldInteger, 0, 9, 0}},
                                                                             ShapeType::Polygon);
        auto f = fc->createFeature();
        f->setShape(Geometry::fromWkt("POLYGON ((0 0, 1 0, 1 1, 0 0))"));
        f->store();
        fc->close();
    }
    {
        GDALAllRegister();
        std::unique_ptr<GDALDataset> ds(
            GDALDataset::Open(folder.file("cores.shp").c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
        ASSERT_TRUE(ds);
        ds->ExecuteSQL("CREATE SPATIAL INDEX ON cores", nullptr, nullptr);
    }
    ASSERT_TRUE(std::filesystem::exists(folder.file("cores.qix")));
    const int64_t before = data::directDbfCounts().appended;
    auto fc = FeatureClass::open(folder.file("cores.shp"));
    InsertCursor inserts = fc->insert(true);
    RowPtr row = inserts.createRowBuffer();
    row->setShape(Geometry::fromWkt("POLYGON ((100 100, 101 100, 101 101, 100 100))"));
    inserts.insertRow(*row);
    inserts.flush();
    fc->close();
    EXPECT_EQ(data::directDbfCounts().appended, before);
    std::unique_ptr<GDALDataset> ds(GDALDataset::Open(folder.file("cores.shp").c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    OGRLayer* layer = ds->GetLayer(0);
    layer->SetSpatialFilterRect(99, 99, 102, 102);
    EXPECT_EQ(layer->GetFeatureCount(TRUE), 1);
}
