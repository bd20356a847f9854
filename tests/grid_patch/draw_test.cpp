// The map view as a picture: the sample map (landscape raster, its patch
// raster, the regions outlined) drawn and written as a PNG, and the patch
// raster's colours in its own files.
#include <gtest/gtest.h>
#include <gdal_priv.h>
#include <gdal_rat.h>

#include <filesystem>
#include <set>

#include "TestFiles.h"
#include "host/Document.h"
#include "host/FileReplace.h"
#include "host/Failure.h"
#include "host/data/FeatureLayer.h"
#include "host/data/MapView.h"
#include "host/data/RasterLayer.h"
#include "raster/Classes/clsGridCreatePatch.h"
#include "tests/vector_frame/TestUi.h"

namespace h = korvane::host;
using korvane::test::TempFolder;

namespace {

struct SampleMap {
    TestUi ui;
    TempFolder out;
    h::Application& app = h::Application::instance();
    kv::clsG_createPatch cmd;
    h::RasterLayerPtr patches;
    SampleMap() {
        cmd.OnCreate(&app);
        auto grid = h::openRasterLayer(std::string(KV_SAMPLE_DIR) + "/landscape.tif");
        map()->addLayer(grid);
        cmd.RunClumper(grid, "Value", true, out.path());
        for (auto& l : map()->layers())
            if (l->name().find(" by ") != std::string::npos) patches = std::dynamic_pointer_cast<h::RasterLayer>(l);
        map()->addLayer(h::openFeatureLayer(std::string(KV_SAMPLE_DIR) + "/regions.shp"));
    }
    h::MapPtr map() { return app.document()->focusMap(); }
};

std::set<uint32_t> rendererColours(const h::UniqueValueRenderer& r) {
    std::set<uint32_t> s;
    for (auto& c : r.classes) s.insert(uint32_t{c.colour.red} << 16 | uint32_t{c.colour.green} << 8 | c.colour.blue);
    return s;
}

}  // namespace

TEST(MapView, EveryPatchPixelHasARendererColourAndOutsideIsTransparent) {
    SampleMap s;
    ASSERT_TRUE(s.patches && s.patches->renderer());
    const std::set<uint32_t> colours = rendererColours(*s.patches->renderer());
    const h::Envelope e = s.patches->raster()->extent();
    // Half the raster's width again on each side, at another aspect.
    h::ViewRequest req;
    req.width = 400;
    req.height = 300;
    req.extent = h::Envelope{e.xmin - e.width() / 2, e.ymin, e.xmax + e.width() / 2, e.ymax, false};
    h::Picture pic = h::drawMap(*s.map(), req);
    ASSERT_EQ(pic.width, 400);
    ASSERT_EQ(pic.height, 300);
    const double px = pic.extent.width() / pic.width;
    size_t inside = 0, outlined = 0;
    for (int64_t j = 0; j < pic.height; ++j)
        for (int64_t i = 0; i < pic.width; ++i) {
            const uint8_t* p = pic.pixel(i, j);
            double x = pic.extent.xmin + (i + 0.5) * px, y = pic.extent.ymax - (j + 0.5) * px;
            bool in = x > e.xmin && x < e.xmax && y > e.ymin && y < e.ymax;
            uint32_t rgb = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
            if (in) {
                ASSERT_EQ(p[3], 255) << i << "," << j;
                if (rgb == 0) ++outlined;
                else ASSERT_TRUE(colours.count(rgb)) << i << "," << j << " " << rgb;
                ++inside;
            } else if (x < e.xmin - px || x > e.xmax + px) {
                ASSERT_EQ(p[3], 0) << i << "," << j;  // nothing there: transparent
            }
        }
    EXPECT_GT(inside, 20000u);
    EXPECT_GT(outlined, 100u);  // the regions are outlined

    const std::string png = s.out.file("view.png");
    h::writePng(pic, png);
    GDALDataset* ds = static_cast<GDALDataset*>(GDALOpen(png.c_str(), GA_ReadOnly));
    ASSERT_TRUE(ds);
    EXPECT_EQ(ds->GetRasterXSize(), 400);
    EXPECT_EQ(ds->GetRasterYSize(), 300);
    EXPECT_EQ(ds->GetRasterCount(), 4);
    GDALClose(ds);
    for (auto& f : std::filesystem::directory_iterator(s.out.path()))
        EXPECT_FALSE(h::isKorvaneTemporary(f.path())) << f.path();
}

// A picture that cannot be written whole leaves the one before it as it was
// and no temporary beside it.
TEST(MapView, AFailedWriteLeavesTheOldPicture) {
    SampleMap s;
    h::ViewRequest req;
    req.width = 200;
    req.height = 150;
    h::Picture pic = h::drawMap(*s.map(), req);
    const std::string png = s.out.file("view.png");
    h::writePng(pic, png);
    const auto before = std::filesystem::file_size(png);
    pic.rgba.assign(pic.rgba.size(), 0xff);
    for (h::testing::Step step : {h::testing::Step::Fsync, h::testing::Step::Close, h::testing::Step::Rename}) {
        h::testing::failAt(step, ENOSPC, "view.png");
        EXPECT_THROW(h::writePng(pic, png), h::Failure);
        h::testing::clearFaults();
        EXPECT_EQ(std::filesystem::file_size(png), before);
        for (auto& f : std::filesystem::directory_iterator(s.out.path()))
            EXPECT_FALSE(h::isKorvaneTemporary(f.path())) << f.path();
    }
}

TEST(MapView, RefusesWhatItCannotDraw) {
    SampleMap s;
    h::ViewRequest far;
    far.extent = h::Envelope{0, 0, 10, 10, false};
    EXPECT_THROW(h::drawMap(*s.map(), far), h::Failure);
    h::ViewRequest huge;
    huge.width = h::kMaxPictureSide + 1;
    EXPECT_THROW(h::drawMap(*s.map(), huge), h::Failure);
    h::Map empty;
    EXPECT_THROW(h::drawMap(empty, h::ViewRequest{}), h::Failure);
}

TEST(RendererColours, ThePatchTableCarriesTheRendererColours) {
    SampleMap s;
    ASSERT_TRUE(s.patches && s.patches->renderer());
    const h::RendererColours colours(*s.patches->renderer());
    h::TablePtr t = s.patches->raster()->attributeTable();
    ASSERT_TRUE(t);
    int32_t cls = t->findField("OldValue"), r = t->findField("Red"), g = t->findField("Green"), b = t->findField("Blue");
    ASSERT_GE(r, 0);
    h::Cursor c = t->search(nullptr, true);
    int64_t rows = 0;
    while (h::RowPtr row = c.next()) {
        auto want = colours.of(row->value(cls));
        ASSERT_TRUE(want);
        EXPECT_EQ(h::toDouble(row->value(r)), want->red);
        EXPECT_EQ(h::toDouble(row->value(g)), want->green);
        EXPECT_EQ(h::toDouble(row->value(b)), want->blue);
        ++rows;
    }
    EXPECT_GT(rows, 0);
    // GDAL sees them as the attribute table's colour columns.
    s.patches->raster()->close();
    GDALDataset* ds = static_cast<GDALDataset*>(GDALOpen(s.patches->raster()->dataPath().c_str(), GA_ReadOnly));
    ASSERT_TRUE(ds);
    const GDALRasterAttributeTable* rat = ds->GetRasterBand(1)->GetDefaultRAT();
    ASSERT_TRUE(rat);
    EXPECT_GE(rat->GetColOfUsage(GFU_Red), 0);
    EXPECT_GE(rat->GetColOfUsage(GFU_Green), 0);
    EXPECT_GE(rat->GetColOfUsage(GFU_Blue), 0);
    EXPECT_EQ(rat->GetRowCount(), rows);
    GDALClose(ds);
}
