#pragma once
// Coordinate systems of shapefiles (their .prj files) and the host unit
// codes they measure in.
#include <cstdint>
#include <optional>
#include <string>

namespace korvane::host {

struct SpatialReference {
    std::string wkt;          // as read from the .prj file
    std::string name;         // the coordinate system's name
    bool geographic = false;  // angles, not lengths
    std::string linearUnitName;
    double metresPerUnit = 0;  // 0 for geographic systems

    // Parses a coordinate system in well-known text (either dialect).
    // Fails (HostInvalidArg) when the text is not one.
    static SpatialReference fromWkt(const std::string& wkt);
};

// Reads the .prj file beside a shapefile (or any dataset path); nothing when
// there is none. Fails (HostInvalidArg) when it cannot be parsed.
std::optional<SpatialReference> readPrj(const std::string& datasetPath);

// The host unit code of a coordinate system: 11 decimal degrees for
// geographic systems; for projected ones by the length of their unit:
// 9 metres, 3 feet (international and US survey), 4 yards, 10 kilometres,
// 5 miles, 6 nautical miles, 7 mm, 8 cm, 12 dm; 0 unknown otherwise and
// when there is no coordinate system.
int32_t unitCode(const std::optional<SpatialReference>& sr);
// The same for the shapefile at path (0 without a .prj).
int32_t unitCodeOfDataset(const std::string& datasetPath);

}  // namespace korvane::host
