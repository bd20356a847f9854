#pragma once
// Small rasters written on the fly for the raster tests.
#include <gdal.h>

#include <optional>
#include <string>
#include <vector>

namespace korvane::test {

struct GridSpec {
    int columns = 3;
    int rows = 2;
    GDALDataType type = GDT_Int32;
    std::vector<double> cells;  // row by row, top first
    std::optional<double> noData;
    double originX = 600000, originY = 5055000, cellX = 10, cellY = 10;
    double rotation = 0;
    const char* driver = "GTiff";
    int bands = 1;
    bool withSrs = true;
    int epsg = 26917;   // the coordinate system, when withSrs
    bool georeferenced = true;  // false: no cell placement nor coordinate system in the file
};

// Writes the raster; returns its path.
std::string writeGrid(const std::string& path, const GridSpec& spec);

// A GDAL raster attribute table of value, count and name columns written
// into the raster's auxiliary file (or into an IMAGINE file).
struct RatRow {
    int value;
    int count;
    std::string name;
};
void writeGdalRat(const std::string& path, const std::vector<RatRow>& rows);

// The GDAL raster attribute table as (value, count) pairs; empty when none.
std::vector<std::pair<int, int>> readGdalRat(const std::string& path);

}  // namespace korvane::test
