// A unique-value renderer's colours in the raster's own files and in the
// picture: a value that stands in two classes takes the first's colour,
// NoData stays transparent, and a Byte or UInt16 band gets a colour table
// beside the attribute table's colour columns, an Int32 band none.
#include <gtest/gtest.h>
#include <gdal_priv.h>
#include <gdal_rat.h>

#include "RasterFixtures.h"
#include "RasterOpsSupport.h"
#include "TestFiles.h"
#include "host/Document.h"
#include "host/data/MapView.h"
#include "host/data/RasterLayer.h"

namespace h = korvane::host;
using korvane::test::GridSpec;
using korvane::test::TempFolder;

namespace {

constexpr double X = 200;  // NoData
constexpr h::Rgb kOak{200, 10, 20}, kPine{30, 180, 40}, kOakAgain{1, 2, 250};

// Cells 1 and 2 are oak, 3 pine, 4 a value no class has.
h::RasterDatasetPtr classGrid(TempFolder& tmp, GDALDataType type) {
    GridSpec g = korvane::test::grid4({1, 1, 2, X, 3, 3, 2, X, 1, 4, 4, 3, X, X, 1, 2}, X);
    g.type = type;
    auto r = h::RasterDataset::open(korvane::test::writeGrid(tmp.file("g.tif"), g));
    korvane::test::writeValueTable(*r, {{"Value", h::FieldInteger, 0, 9, 0}, {"KIND", h::FieldString, 8, 0, 0}},
                                   {{1, "oak"}, {2, "oak"}, {3, "pine"}, {4, "elm"}});
    return r;
}

h::UniqueValueRenderer kinds() {
    h::UniqueValueRenderer r;
    r.field = "KIND";
    r.classes = {{h::Value("oak"), "oak", kOak}, {h::Value("pine"), "pine", kPine}, {h::Value("oak"), "oak", kOakAgain}};
    return r;
}

std::optional<h::Rgb> expected(double cell) {
    if (cell == 1 || cell == 2) return kOak;
    if (cell == 3) return kPine;
    return std::nullopt;
}

}  // namespace

TEST(RendererColours, TheFirstClassGivesTheColourInTheFileAndInThePicture) {
    const std::vector<double> cells = korvane::test::grid4({1, 1, 2, X, 3, 3, 2, X, 1, 4, 4, 3, X, X, 1, 2}, X).cells;
    struct Case {
        GDALDataType type;
        bool colourTable;
    } cases[] = {{GDT_Byte, true}, {GDT_UInt16, true}, {GDT_Int32, false}};
    for (const Case& c : cases) {
        const std::string what = GDALGetDataTypeName(c.type);
        TempFolder tmp;
        h::RasterDatasetPtr raster = classGrid(tmp, c.type);
        auto layer = std::make_shared<h::RasterLayer>(raster);
        layer->setRenderer(kinds());
        h::writeRendererColours(*raster, *layer->renderer());

        // The picture: one pixel a cell.
        h::Map map;
        map.addLayer(layer);
        h::ViewRequest req;
        req.width = 4;
        req.height = 4;
        h::Picture pic = h::drawMap(map, req);
        ASSERT_EQ(pic.width * pic.height, 16) << what;
        for (int64_t k = 0; k < 16; ++k) {
            const uint8_t* p = pic.pixel(k % 4, k / 4);
            std::optional<h::Rgb> want = expected(cells[static_cast<size_t>(k)]);
            if (!want) {
                EXPECT_EQ(p[3], 0) << what << " cell " << k;
                continue;
            }
            EXPECT_EQ(p[3], 255) << what << " cell " << k;
            EXPECT_EQ((h::Rgb{p[0], p[1], p[2]}), *want) << what << " cell " << k;
        }

        // The file as GDAL reads it.
        raster->close();
        GDALDataset* ds = static_cast<GDALDataset*>(GDALOpen(raster->dataPath().c_str(), GA_ReadOnly));
        ASSERT_TRUE(ds) << what;
        GDALRasterBand* band = ds->GetRasterBand(1);
        const GDALRasterAttributeTable* rat = band->GetDefaultRAT();
        ASSERT_TRUE(rat) << what;
        const int red = rat->GetColOfUsage(GFU_Red), green = rat->GetColOfUsage(GFU_Green),
                  blue = rat->GetColOfUsage(GFU_Blue), value = rat->GetColOfUsage(GFU_MinMax);
        ASSERT_TRUE(red >= 0 && green >= 0 && blue >= 0 && value >= 0) << what;
        ASSERT_EQ(rat->GetRowCount(), 4) << what;
        for (int row = 0; row < 4; ++row) {
            const int v = rat->GetValueAsInt(row, value);
            std::optional<h::Rgb> want = expected(v);
            if (!want) continue;  // blank in the value table; an integer column of GDAL's has no blank
            EXPECT_EQ(rat->GetValueAsInt(row, red), want->red) << what << " value " << v;
            EXPECT_EQ(rat->GetValueAsInt(row, green), want->green) << what << " value " << v;
            EXPECT_EQ(rat->GetValueAsInt(row, blue), want->blue) << what << " value " << v;
        }
        const GDALColorTable* ct = band->GetColorTable();
        EXPECT_EQ(ct != nullptr, c.colourTable) << what;
        if (ct) {
            for (int v = 0; v < ct->GetColorEntryCount(); ++v) {
                const GDALColorEntry* e = ct->GetColorEntry(v);
                std::optional<h::Rgb> want = expected(v);
                EXPECT_EQ(e->c4, want ? 255 : 0) << what << " entry " << v;
                if (want) EXPECT_EQ((h::Rgb{uint8_t(e->c1), uint8_t(e->c2), uint8_t(e->c3)}), *want) << what << " entry " << v;
            }
            EXPECT_GE(ct->GetColorEntryCount(), 4) << what;
        }
        GDALClose(ds);
    }
}
