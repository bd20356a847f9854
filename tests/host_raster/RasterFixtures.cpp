#include "RasterFixtures.h"

#include <gdal_priv.h>
#include <gdal_rat.h>
#include <ogr_spatialref.h>

#include <stdexcept>

namespace korvane::test {

std::string writeGrid(const std::string& path, const GridSpec& s) {
    GDALAllRegister();
    GDALDriver* d = GetGDALDriverManager()->GetDriverByName(s.driver);
    if (!d) throw std::runtime_error("no driver");
    GDALDataset* ds = d->Create(path.c_str(), s.columns, s.rows, s.bands, s.type, nullptr);
    if (!ds) throw std::runtime_error("cannot create " + path);
    double gt[6] = {s.originX, s.cellX, s.rotation, s.originY, s.rotation, -s.cellY};
    if (s.georeferenced) ds->SetGeoTransform(gt);
    if (s.withSrs && s.georeferenced) {
        OGRSpatialReference srs;
        srs.importFromEPSG(s.epsg);
        ds->SetSpatialRef(&srs);
    }
    for (int b = 1; b <= s.bands; ++b) {
        GDALRasterBand* band = ds->GetRasterBand(b);
        if (s.noData) band->SetNoDataValue(*s.noData);
        std::vector<double> cells = s.cells;
        cells.resize(static_cast<size_t>(s.columns) * s.rows, 0);
        if (band->RasterIO(GF_Write, 0, 0, s.columns, s.rows, cells.data(), s.columns, s.rows, GDT_Float64, 0, 0,
                           nullptr) != CE_None)
            throw std::runtime_error("cannot write " + path);
    }
    GDALClose(ds);
    return path;
}

void writeGdalRat(const std::string& path, const std::vector<RatRow>& rows) {
    GDALAllRegister();
    auto* ds = static_cast<GDALDataset*>(GDALOpen(path.c_str(), GA_Update));
    if (!ds) throw std::runtime_error("cannot open " + path);
    GDALDefaultRasterAttributeTable rat;
    rat.CreateColumn("Value", GFT_Integer, GFU_MinMax);
    rat.CreateColumn("Count", GFT_Integer, GFU_PixelCount);
    rat.CreateColumn("ForestType", GFT_String, GFU_Name);
    for (size_t i = 0; i < rows.size(); ++i) {
        int r = static_cast<int>(i);
        rat.SetValue(r, 0, rows[i].value);
        rat.SetValue(r, 1, rows[i].count);
        rat.SetValue(r, 2, rows[i].name.c_str());
    }
    ds->GetRasterBand(1)->SetDefaultRAT(&rat);
    GDALClose(ds);
}

std::vector<std::pair<int, int>> readGdalRat(const std::string& path) {
    GDALAllRegister();
    auto* ds = static_cast<GDALDataset*>(GDALOpen(path.c_str(), GA_ReadOnly));
    if (!ds) throw std::runtime_error("cannot open " + path);
    std::vector<std::pair<int, int>> out;
    if (const GDALRasterAttributeTable* rat = ds->GetRasterBand(1)->GetDefaultRAT()) {
        int v = rat->GetColOfUsage(GFU_MinMax), c = rat->GetColOfUsage(GFU_PixelCount);
        for (int r = 0; r < rat->GetRowCount(); ++r)
            out.emplace_back(rat->GetValueAsInt(r, v), c >= 0 ? rat->GetValueAsInt(r, c) : -1);
    }
    GDALClose(ds);
    return out;
}

}  // namespace korvane::test
