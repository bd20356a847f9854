#pragma once
// Whether a dBASE file may take a statistics run's rows.
#include <string>
#include <vector>

namespace korvane::host {

class Table;

// Why `dbfPath` is not a table a statistics run may write, or "" when it may:
// the attribute table of a shapefile (a `.shp` of the same base name beside
// it), a raster's value table (`*.vat.dbf`), or, for `table` (the open file,
// when appending), a table lacking one of the leading fields a statistics
// table has. Every run that appends to or replaces such a table asks before
// anything is written.
std::string foreignOutputTable(const std::string& dbfPath, const Table* table,
                               const std::vector<std::string>& leadingFields);

}  // namespace korvane::host
