#include "host/data/SpatialReference.h"

#include <ogr_spatialref.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/Failure.h"
#include "host/data/GdalSupport.h"

namespace korvane::host {

SpatialReference SpatialReference::fromWkt(const std::string& wkt) {
    gdal::init();
    gdal::ErrorTrap trap;
    OGRSpatialReference srs;
    if (srs.importFromWkt(wkt.c_str()) != OGRERR_NONE)
        fail(err::HostInvalidArg, "SpatialReference", gdal::describe("Not a coordinate system", trap));
    SpatialReference sr;
    sr.wkt = wkt;
    if (const char* n = srs.GetName()) sr.name = n;
    sr.geographic = srs.IsGeographic() != 0;
    if (!sr.geographic && (srs.IsProjected() || srs.IsLocal())) {
        const char* unit = nullptr;
        sr.metresPerUnit = srs.GetLinearUnits(&unit);
        if (unit) sr.linearUnitName = unit;
    }
    return sr;
}

std::optional<SpatialReference> readPrj(const std::string& datasetPath) {
    std::filesystem::path p(datasetPath);
    p.replace_extension(".prj");
    std::error_code ec;
    if (!std::filesystem::is_regular_file(p, ec)) {
        p.replace_extension(".PRJ");
        if (!std::filesystem::is_regular_file(p, ec)) return std::nullopt;
    }
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    if (text.empty()) return std::nullopt;
    return SpatialReference::fromWkt(text);
}

int32_t unitCode(const std::optional<SpatialReference>& sr) {
    if (!sr) return 0;
    if (sr->geographic) return 11;
    struct Unit {
        double metres;
        int32_t code;
    };
    static const Unit units[] = {
        {1.0, 9},        {0.3048, 3},      {1200.0 / 3937.0, 3}, {0.9144, 4}, {3600.0 / 3937.0, 4},
        {1000.0, 10},    {1609.344, 5},    {1852.0, 6},          {0.001, 7},  {0.01, 8},
        {0.1, 12},
    };
    for (const Unit& u : units)
        if (std::fabs(sr->metresPerUnit - u.metres) <= 1e-9 * u.metres) return u.code;
    return 0;
}

int32_t unitCodeOfDataset(const std::string& datasetPath) { return unitCode(readPrj(datasetPath)); }

}  // namespace korvane::host
