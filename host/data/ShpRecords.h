#pragma once
// Reading the shapes of a shapefile straight from its .shp and .shx, in
// record order, for one-pass reads of a whole layer. Only the plainest
// records are read here: a null shape, and a polygon of one closed ring,
// whose well-known binary form is the ring's points as they stand. For any
// other record the caller asks the driver. Internal to the data layer.
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::host::data {

class ShpRecords {
public:
    // Nothing usable (every record left to the driver) when the files
    // cannot be opened or their headers are not those of a shapefile.
    explicit ShpRecords(const std::string& base);
    ~ShpRecords();
    ShpRecords(const ShpRecords&) = delete;
    ShpRecords& operator=(const ShpRecords&) = delete;

    enum class Kind { Null, Polygon, Other };
    // Record `record` (from 0): Null (empty), Polygon (wkb holds its
    // little-endian ISO well-known binary) or Other (left to the driver).
    Kind read(int64_t record, std::vector<uint8_t>& wkb);

private:
    struct Window {
        int fd = -1;
        uint64_t size = 0;
        uint64_t start = 0;
        std::vector<uint8_t> bytes;
        // The n bytes at `at`, or nullptr past the end of the file.
        const uint8_t* get(uint64_t at, size_t n);
    };
    Window shp_, shx_;
    int64_t records_ = 0;
};

}  // namespace korvane::host::data
