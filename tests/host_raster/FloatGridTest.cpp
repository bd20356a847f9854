// The float-grid export: header and bytes of a tiny hand grid, NoData and
// NaN, refusals that leave earlier files as they were.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "RasterFixtures.h"
#include "TestFiles.h"
#include "host/Failure.h"
#include "host/System.h"
#include "host/data/Raster.h"

namespace h = korvane::host;
using korvane::test::GridSpec;
using korvane::test::TempFolder;
using korvane::test::writeGrid;

namespace {
std::vector<float> floats(const std::string& path) {
    std::vector<uint8_t> b = korvane::test::readBytes(path);
    std::vector<float> out(b.size() / 4);
    std::memcpy(out.data(), b.data(), out.size() * 4);
    return out;
}
}  // namespace

TEST(FloatGrid, HeaderAndCellsOfAHandGrid) {
    TempFolder tmp;
    GridSpec s;
    s.type = GDT_Int16;
    s.cells = {10, 20, -1, 30, 40, 50};
    s.noData = -1;
    s.originX = 1000;
    s.originY = 2020;
    auto r = h::RasterDataset::open(writeGrid(tmp.file("g.tif"), s));
    h::exportFloatGrid(*r, tmp.file("out"));
    EXPECT_EQ(h::fs::ReadAll(tmp.file("out.hdr")),
              "ncols         3\nnrows         2\nxllcorner     1000\nyllcorner     2000\ncellsize      10\n"
              "NODATA_value  -9999\nbyteorder     LSBFIRST\n");
    EXPECT_EQ(floats(tmp.file("out.flt")), (std::vector<float>{10, 20, -9999, 30, 40, 50}));
    // Only the two files are left.
    int n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(tmp.path())) ++n;
    EXPECT_EQ(n, 3);
}

TEST(FloatGrid, NaNAndNoDataOfFloatRastersBecomeMinus9999) {
    TempFolder tmp;
    GridSpec s;
    s.type = GDT_Float64;
    s.cells = {0.5, std::nan(""), -3.25, 7, -32768, 1e6};
    s.noData = -32768;
    auto r = h::RasterDataset::open(writeGrid(tmp.file("f.tif"), s));
    h::exportFloatGrid(*r, tmp.file("f"));
    EXPECT_EQ(floats(tmp.file("f.flt")), (std::vector<float>{0.5f, -9999, -3.25f, 7, -9999, 1e6f}));
}

TEST(FloatGrid, RefusalsLeaveEarlierFilesAsTheyWere) {
    TempFolder tmp;
    korvane::test::writeText(tmp.file("out.flt"), "old flt");
    korvane::test::writeText(tmp.file("out.hdr"), "old hdr");
    GridSpec oblong;
    oblong.cellY = 5;
    auto r = h::RasterDataset::open(writeGrid(tmp.file("oblong.tif"), oblong));
    EXPECT_THROW(h::exportFloatGrid(*r, tmp.file("out")), h::Failure);
    EXPECT_EQ(h::fs::ReadAll(tmp.file("out.flt")), "old flt");

    // A folder that cannot be written: nothing half-written, the old files stay.
    std::filesystem::create_directory(tmp.file("ro"));
    korvane::test::writeText(tmp.file("ro/out.hdr"), "old hdr");
    GridSpec s;
    auto ok = h::RasterDataset::open(writeGrid(tmp.file("ok.tif"), s));
    korvane::test::setReadOnly(tmp.file("ro"), true);
    EXPECT_THROW(h::exportFloatGrid(*ok, tmp.file("ro/out")), h::Failure);
    korvane::test::setReadOnly(tmp.file("ro"), false);
    EXPECT_EQ(h::fs::ReadAll(tmp.file("ro/out.hdr")), "old hdr");
    EXPECT_FALSE(std::filesystem::exists(tmp.file("ro/out.flt")));
}
