#pragma once
// Adding records to the end of a polygon shapefile without the driver, for
// the inserts of a buffered insert cursor: the driver rewrites the whole
// index (.shx) each time it writes its files out, so a cursor flushed every
// hundred rows cost time in the square of the rows. This writer gathers the
// new records and, on a flush, writes only them, the new index entries and
// the three headers, byte for byte what the driver writes for the same rows.
// A row it does not reproduce exactly (a shape other than a 2D polygon, a
// value the record writer refuses) is left to the driver. Internal to the
// data layer.
#include <ogrsf_frmts.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/data/DbfFile.h"
#include "host/data/Geometry.h"
#include "host/data/Value.h"

namespace korvane::host::data {

class ShapefileAppender {
public:
    // For the polygon shapefile at base (the path without extension), whose
    // driver has written out what it holds; layer gives the field types.
    // Nothing when the files are not ones this writer continues exactly
    // (headers that do not give the files' sizes, another shape type, a
    // .dbf the record writer does not reproduce, a spatial index). The
    // driver must let go of the files before the first append.
    static std::unique_ptr<ShapefileAppender> open(const std::string& base, OGRLayer& layer);
    ~ShapefileAppender();
    ShapefileAppender(const ShapefileAppender&) = delete;
    ShapefileAppender& operator=(const ShapefileAppender&) = delete;

    // Gathers one record (shape and attribute values, one per column) and
    // gives its record number; -1 when the driver must write it (nothing is
    // gathered then).
    int64_t append(const Geometry& shape, const Value* values, size_t count);
    // Writes the gathered records at the ends of the three files, then their
    // headers, so that the files agree at every flush; fails (HostGeneric)
    // on a write error, after which the files hold what the last flush left.
    void flush();

private:
    ShapefileAppender() = default;
    bool encode(const Geometry& shape);

    std::string shpPath_, shxPath_;
    int shp_ = -1, shx_ = -1;
    std::unique_ptr<DbfRecordWriter> dbf_;
    std::array<uint8_t, 100> header_{};
    int64_t records_ = 0;       // records in the files and gathered
    uint64_t shpEnd_ = 0;       // bytes of the .shp, with the gathered records
    uint64_t shpWritten_ = 0;   // bytes of the .shp in the file
    uint64_t shxWritten_ = 0;
    std::array<double, 4> bounds_{};   // xmin, ymin, xmax, ymax of the file
    std::vector<uint8_t> shpRun_, shxRun_;
    std::vector<double> xs_, ys_;
    std::vector<int32_t> parts_;
    bool failed_ = false;
};

}  // namespace korvane::host::data
