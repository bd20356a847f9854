// Raster datasets and raster layers: what is read from the file, what is
// refused, and how a layer is named.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "RasterFixtures.h"
#include "TestFiles.h"
#include "host/Document.h"
#include "host/Failure.h"
#include "host/data/FeatureLayer.h"
#include "host/data/RasterLayer.h"

namespace h = korvane::host;
using korvane::test::GridSpec;
using korvane::test::TempFolder;
using korvane::test::writeGrid;

TEST(RasterDataset, ReadsSizeCellsExtentTypeNoDataAndUnits) {
    TempFolder tmp;
    GridSpec s;
    s.type = GDT_Int16;
    s.cells = {1, 2, 3, 4, 5, -1};
    s.noData = -1;
    auto r = h::RasterDataset::open(writeGrid(tmp.file("g.tif"), s));
    EXPECT_EQ(r->name(), "g.tif");
    EXPECT_EQ(r->format(), h::RasterFormat::Tiff);
    EXPECT_EQ(r->width(), 3);
    EXPECT_EQ(r->height(), 2);
    EXPECT_DOUBLE_EQ(r->cellSizeX(), 10);
    EXPECT_DOUBLE_EQ(r->cellSizeY(), 10);
    h::Envelope e = r->extent();
    EXPECT_DOUBLE_EQ(e.xmin, 600000);
    EXPECT_DOUBLE_EQ(e.xmax, 600030);
    EXPECT_DOUBLE_EQ(e.ymin, 5054980);
    EXPECT_DOUBLE_EQ(e.ymax, 5055000);
    EXPECT_EQ(r->pixelType(), h::PixelType::Int16);
    EXPECT_TRUE(r->isIntegerGrid());
    ASSERT_TRUE(r->noData());
    EXPECT_EQ(*r->noData(), -1);
    EXPECT_EQ(r->units(), h::UnitMeters);
    EXPECT_TRUE(std::isnan(r->cell(2, 1)));
    EXPECT_EQ(r->cell(1, 0), 2);
    // The same file opened again while it is open is the same dataset.
    EXPECT_EQ(h::RasterDataset::open(tmp.file("g.tif")), r);
}

TEST(RasterDataset, OpensGridFoldersAndImagineFiles) {
    TempFolder tmp;
    std::filesystem::create_directory(tmp.file("stands"));
    GridSpec s;
    s.cells = {1, 1, 2, 2, 3, 3};
    writeGrid(tmp.file("stands/stands.tif"), s);
    auto grid = h::RasterDataset::open(tmp.file("stands"));
    EXPECT_EQ(grid->format(), h::RasterFormat::Grid);
    EXPECT_EQ(grid->name(), "stands");
    EXPECT_EQ(grid->dataPath(), tmp.file("stands/stands.tif"));
    EXPECT_EQ(grid->tableSidecarPath(), tmp.file("stands/stands.tif.vat.dbf"));

    s.driver = "HFA";
    auto img = h::RasterDataset::open(writeGrid(tmp.file("g.img"), s));
    EXPECT_EQ(img->format(), h::RasterFormat::Imagine);
    EXPECT_EQ(img->name(), "g.img");
    EXPECT_EQ(img->width(), 3);
}

TEST(RasterDataset, RefusesWhatItCannotRead) {
    TempFolder tmp;
    GridSpec rotated;
    rotated.rotation = 0.5;
    writeGrid(tmp.file("rotated.tif"), rotated);
    GridSpec southUp;
    southUp.cellY = -10;
    writeGrid(tmp.file("southup.tif"), southUp);
    std::filesystem::create_directory(tmp.file("empty"));
    korvane::test::writeText(tmp.file("notes.txt"), "x");
    struct Case {
        std::string path;
        int32_t number;
        const char* words;
    } cases[] = {
        {tmp.file("rotated.tif"), h::err::HostInvalidArg, "rotated"},
        {tmp.file("southup.tif"), h::err::HostInvalidArg, "north up"},
        {tmp.file("missing.tif"), h::err::HostFileNotFound, "does not exist"},
        {tmp.file("empty"), h::err::HostInvalidArg, "not a GRID"},
        {tmp.file("notes.txt"), h::err::HostInvalidArg, "Not a GeoTIFF"},
    };
    for (const Case& c : cases) {
        try {
            h::RasterDataset::open(c.path);
            ADD_FAILURE() << c.path << " opened";
        } catch (const h::Failure& f) {
            EXPECT_EQ(f.number(), c.number) << c.path;
            EXPECT_NE(f.description().find(c.words), std::string::npos) << f.description();
        }
    }
}

TEST(RasterLayer, NamedAfterTheDatasetWithUnitsForTheMap) {
    TempFolder tmp;
    GridSpec s;
    s.cells = {1, 1, 2, 2, 3, 3};
    writeGrid(tmp.file("cover.tif"), s);
    h::OpenedData d = h::openData(tmp.file("cover.tif"));
    ASSERT_TRUE(d.raster);
    EXPECT_FALSE(d.layer);
    EXPECT_EQ(d.raster->name(), "cover.tif");
    EXPECT_EQ(d.raster->kind(), h::LayerKind::Raster);
    EXPECT_EQ(h::layerUnits(*d.raster), h::UnitMeters);
    h::Map map;
    map.addLayer(d.raster);
    EXPECT_EQ(map.mapUnits(), h::UnitMeters);
    // Opening it as a layer built its value table.
    EXPECT_TRUE(d.raster->raster()->hasAttributeTable());
}
