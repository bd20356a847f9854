#pragma once
// Writes a polygon shapefile of hexagons (.shp, .shx, .dbf with one numeric
// field ID), streaming, one record at a time.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "hex/Tessellation.h"

namespace hex {

class ShapeWriter {
public:
    ShapeWriter() = default;
    ShapeWriter(const ShapeWriter&) = delete;
    ShapeWriter& operator=(const ShapeWriter&) = delete;
    // Closes the files; an output not finished is removed.
    ~ShapeWriter();

    // Creates base + ".shp", ".shx" and ".dbf"; none of them may exist yet.
    // ShpNotOpened, ShxNotOpened or DbfNotOpened name the file that could
    // not be created (nothing is left behind then).
    Code create(const std::string& base);
    // Appends a hexagon; its ID is its record number (1, 2, ...).
    void add(const Ring& ring);
    // Completes the headers and closes the files. On a write failure the
    // code names the file, and the output is removed.
    Code finish();

    int64_t written() const { return count_; }

private:
    std::FILE* createNew(const std::string& path);
    void removeAll();

    std::vector<std::string> made_;   // files of an output not finished yet
    std::FILE* shp_ = nullptr;
    std::FILE* shx_ = nullptr;
    std::FILE* dbf_ = nullptr;
    int64_t count_ = 0;
    Extent box_{0, 0, 0, 0};
};

}  // namespace hex
