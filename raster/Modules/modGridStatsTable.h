#pragma once
// The grid spatial statistics table: the dBASE table into which a grid
// spatial statistics run writes fragstat's landscape and class values, one
// row per output line, under a run number per output file.
//
// Fields: Name (text 40), RunDate (text 25), Run (short integer, 3 digits),
// Class (text 40), then one Double (30, 2) per metric, named through the grid
// field rename map. Everything is read and checked before the table is
// touched; the table is then written whole under a temporary name and put in
// place (host/FileReplace.h), so a run that fails leaves it as it was.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/data/Table.h"
#include "host/data/Value.h"
#include "raster/Modules/modFragStats.h"

namespace kv {

// fragstat column -> field name; every other column keeps its name. Note that
// SIDI is stored in the field SHEI and SHEI in SEI: existing tables rely on
// these names.
using GridFieldRenames = std::map<std::string, std::string>;
GridFieldRenames GridFieldRenameMap();
std::string GridFieldName(const GridFieldRenames& renames, const std::string& column);

// The largest Run of the table's rows (0 for none); rows whose Run is blank
// are passed over.
int32_t LargestRun(korvane::host::Table& table);

// The largest run number the table holds (three digits).
inline constexpr int32_t kGridStatsMaxRun = 999;

// The table path as the run uses it: empty gives Stats.dbf (or Stats_n.dbf,
// the first n free) in the temporary folder; a name without ".dbf" gets it; a
// relative path becomes a full one.
std::string GridStatsTablePath(const std::string& outputTableName);

// What a run knows about its output table before anything is written.
struct GridStatsTableState {
    bool exists = false;
    int32_t lastRun = 0;   // the largest Run of an appended table, else 0
    std::string refusal;   // a message and its title when the table cannot be used
    std::string refusalTitle;
};
// Opens an existing table to see that it can be appended to or replaced:
// refuses a table that is no statistics table (a shapefile's or raster's
// table, or one lacking a leading field: Name, RunDate, Run, Class and
// `regionField` when given). The caller holds the table's OutputLock.
GridStatsTableState CheckGridStatsTable(const std::string& tablePath, bool blnAppend, int32_t filesToWrite,
                                        const std::string& regionField = {});

// One output file read for the table: landscape (.land) or class (.class).
struct GridStatsFile {
    bool landscape = false;
    FragStatsOutput output;
};

// The rows of a run, ready to be written.
struct GridStatsRows {
    struct Row {
        int32_t file = 0;  // 1 for the first file's rows, 2 for the next: Run is the table's base + file
        std::string Class;
        std::vector<std::optional<double>> values;  // one per field of `fields`
    };
    std::vector<std::string> fields;  // metric fields, in the order they are added
    std::vector<Row> rows;
    std::string problem;              // empty when every file could be turned into rows
};

// Turns the files into rows (Run: the table's base + 1 for the first file,
// one more for each next one); a class row's Class is its TYPE, or the class of that
// value when classOfValue is given (empty for a value it does not hold). A
// "." is a blank value. Refuses values that are no numbers or do not fit the
// field, and class texts that become equal when cut to the field's 40 bytes.
GridStatsRows BuildGridStatsRows(const std::vector<GridStatsFile>& files, const std::vector<std::string>& chosenStats,
                                 const GridFieldRenames& renames,
                                 const std::optional<std::map<int32_t, korvane::host::Value>>& classOfValue);

// Writes the rows into the table (appending, or as a new table that takes the
// place of an old one), named `layerName` in the Name field; returns the run
// base used (the largest Run of an appended table, else 0). Fails (a host
// Failure) when the table cannot be written or its run numbers would pass
// 999; the old table is then as it was.
int32_t WriteGridStatsTable(const std::string& tablePath, bool blnAppend, const std::string& layerName,
                         const GridStatsRows& rows);

}  // namespace kv
