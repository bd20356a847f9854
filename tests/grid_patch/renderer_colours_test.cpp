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

// Each pixel shows the cell under its centre, zoomed out, zoomed in and on
// a window that begins inside a cell, on a compressed raster of small tiles
// whose rows are read block row after block row (every cell its own
// value and colour; a few cells NoData).
TEST(MapView, EachPixelShowsTheCellUnderItsCentreAcrossBlockRows) {
    TempFolder tmp;
    GridSpec g;
    g.columns = 50;
    g.rows = 45;
    g.cellX = g.cellY = 10;
    g.originX = 1000;
    g.originY = 2000;
    g.noData = -1;
    h::UniqueValueRenderer renderer;
    renderer.field = "Value";
    auto colourOf = [](int column, int row) { return h::Rgb{uint8_t(column), uint8_t(row), 7}; };
    for (int r = 0; r < g.rows; ++r)
        for (int c = 0; c < g.columns; ++c) {
            const bool none = (r * 7 + c) % 23 == 0;
            g.cells.push_back(none ? -1 : r * 100 + c);
            if (!none) renderer.classes.push_back({h::Value(r * 100 + c), "", colourOf(c, r)});
        }
    const std::string plain = korvane::test::writeGrid(tmp.file("plain.tif"), g);
    const std::string tiled = tmp.file("tiled.tif");
    {
        GDALDataset* src = static_cast<GDALDataset*>(GDALOpen(plain.c_str(), GA_ReadOnly));
        ASSERT_TRUE(src);
        const char* options[] = {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16", "COMPRESS=DEFLATE", nullptr};
        GDALDataset* out = GetGDALDriverManager()->GetDriverByName("GTiff")->CreateCopy(
            tiled.c_str(), src, FALSE, const_cast<char**>(options), nullptr, nullptr);
        ASSERT_TRUE(out);
        GDALClose(out);
        GDALClose(src);
    }
    auto layer = std::make_shared<h::RasterLayer>(h::RasterDataset::open(tiled));
    layer->setRenderer(renderer);
    h::Map map;
    map.addLayer(layer);
    struct Case {
        const char* what;
        int64_t width, height;
        std::optional<h::Envelope> extent;
    } cases[] = {
        {"zoomed out", 21, 19, std::nullopt},
        {"zoomed in", 173, 151, std::nullopt},
        {"a window inside cells", 64, 48, h::Envelope{1013, 1517, 1399, 1911, false}},
    };
    for (const Case& c : cases) {
        h::ViewRequest req;
        req.width = c.width;
        req.height = c.height;
        req.extent = c.extent;
        h::Picture pic = h::drawMap(map, req);
        ASSERT_EQ(pic.width, c.width) << c.what;
        const double pixel = pic.extent.width() / static_cast<double>(pic.width);
        for (int64_t j = 0; j < pic.height; ++j)
            for (int64_t i = 0; i < pic.width; ++i) {
                const double x = pic.extent.xmin + (static_cast<double>(i) + 0.5) * pixel;
                const double y = pic.extent.ymax - (static_cast<double>(j) + 0.5) * pixel;
                const double column = std::floor((x - 1000) / 10), row = std::floor((2000 - y) / 10);
                const uint8_t* p = pic.pixel(i, j);
                const bool inside = column >= 0 && column < g.columns && row >= 0 && row < g.rows;
                const int r = static_cast<int>(row), k = static_cast<int>(column);
                if (!inside || (r * 7 + k) % 23 == 0) {
                    EXPECT_EQ(p[3], 0) << c.what << " pixel " << i << "," << j;
                    continue;
                }
                ASSERT_EQ(p[3], 255) << c.what << " pixel " << i << "," << j;
                EXPECT_EQ((h::Rgb{p[0], p[1], p[2]}), colourOf(k, r)) << c.what << " pixel " << i << "," << j;
            }
    }
}
