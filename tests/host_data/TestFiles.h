#pragma once
// Helpers for tests that work on real files.
#include <cstdint>
#include <string>
#include <vector>

#include "host/data/Table.h"

namespace korvane::test {

// A fresh folder, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::vector<uint8_t> readBytes(const std::string& path);
void writeText(const std::string& path, const std::string& text);
void setReadOnly(const std::string& path, bool readOnly);

// One field descriptor of a dBASE header.
struct DbfColumn {
    std::string name;
    char type;
    int width;
    int decimals;
};
std::vector<DbfColumn> dbfColumns(const std::string& dbfPath);

// The object ids a cursor hands out, in order.
std::vector<int64_t> idsOf(korvane::host::Cursor c);

// The folder of the public test fixtures (tests/data).
std::string samplesFolder();

}  // namespace korvane::test
