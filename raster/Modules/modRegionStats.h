#pragma once
// The region statistics: fragstat's landscape and class values of a class
// grid cut to each region of a region layer, in one dBASE table (the region
// statistics table), and the cross-tabulations of that table.
//
// Region statistics table fields: Name (text 40), RunDate (text 25), Run
// (short integer, 3 digits), the region field (its own definition), Class
// (text 40), ClassProp (double 8, 5), ClassHist (short integer, 3 digits),
// then one Double (30, 2) per requested metric code, named by the code.
// Every row of one region carries its run number. The table is written
// whole under a temporary name and put in place once the last region is
// read, so a run that stops leaves it as it was.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <functional>
#include <string>
#include <vector>

#include "host/data/Field.h"
#include "host/data/Table.h"
#include "host/data/Value.h"
#include "raster/Modules/modGridStatsTable.h"

namespace kv {

// The fragstat column that holds a requested code's value (NumP -> NP, TLA
// -> TA, PSCoV -> PSCV, MCA -> MCA2, CASD -> CASD2, CACoV -> CACV2, SDI ->
// SHDI, SEI -> SHEI); any other code is its own column.
std::string RegionMetricColumn(const std::string& code);

// The requested codes: blanks removed, split at commas, empty entries and
// repeats left out.
std::vector<std::string> RegionRequestedCodes(const std::string& strStatsToRun);

// The 10-percent bin of a class proportion: 5 for 0 < p <= 0.1, 15 up to
// 0.2, ... 95 up to 1; 0 for anything else.
int32_t ClassHistBin(double p);

// round(i / n x 100), halves to even.
int32_t RegionPercent(int64_t i, int64_t n);
// "Processing <field> = <value>   (<percent>% complete)".
std::string RegionStatusText(const std::string& field, const std::string& valueText, int64_t i, int64_t n);

// A region value as text (numbers in their shortest exact form).
std::string RegionValueText(const korvane::host::Value& v);
// The where clause that selects the region: field = number, field = 'text'
// (single quotes doubled), field IS NULL for a null value.
std::string RegionWhereClause(const std::string& field, bool textField, const korvane::host::Value& v);

// The rows of one call, collected region by region before the table is written.
struct RegionStatsRows {
    struct Row {
        int32_t run = 0;
        korvane::host::Value region;
        std::string Class;
        std::optional<double> classProp;
        std::optional<int32_t> classHist;
        std::vector<std::optional<double>> values;   // one per code of `codes`
    };
    std::vector<std::string> codes;   // metric fields, in the order they are met
    std::vector<Row> rows;
};

// The values of one region's output files in the order they are read, for
// the status line: file by file, data line by data line, each requested code
// (in list order) whose column the file has; `seen` hears the column and its
// token as the file holds it.
void ForEachRegionValue(const std::vector<GridStatsFile>& files, const std::vector<std::string>& codes,
                        const std::function<void(const std::string& column, const std::string& token)>& seen);

// Adds the rows of one region's output files (landscape first), read with
// the grid statistics' reader; "." is a blank value (a blank %LAND leaves
// ClassProp and ClassHist blank). Empty when they could be added, else why
// not.
std::string AddRegionRows(RegionStatsRows& into, const std::vector<GridStatsFile>& files,
                          const std::vector<std::string>& codes, int32_t run, const korvane::host::Value& region);

// What the run knows about its output table before anything is written
// (CheckGridStatsTable's answer): refuses a table that cannot be opened or
// replaced, and a run whose run numbers (the base + one per region value)
// would pass 999.
// An appended table must have the region field `regionField`. The caller
// holds the table's OutputLock until the table and its cross-tabs are written.
GridStatsTableState CheckRegionStatsTable(const std::string& tablePath, bool blnAppend, int64_t regionValues,
                                          const std::string& regionField);

// Writes the rows (appended to the table's, or as a new table in place of
// an old one) under a temporary name and puts the table in place. Fails (a
// host Failure) when it cannot be written; the old table is then as it was.
korvane::host::TablePtr WriteRegionStatsTable(const std::string& tablePath, bool blnAppend,
                                              const std::string& layerName,
                                              const korvane::host::FieldDef& regionField,
                                              const RegionStatsRows& rows);

// A cross-tabulation of a table: one row per distinct value of rowField, one
// column rowField2-value per distinct value of columnField, each cell the
// number of input rows (sumField empty) or the sum of sumField over them;
// only the input rows whose Run is in `runs` count. The rows and columns
// follow the values' first occurrence. Written into `folder` as table `name`
// (a new one, or the old one with this call's rows appended and new columns
// added), under a temporary name put in place at the end. New tables: Name
// (text 40), RunDate (text 25), Run (short integer 3), the row field's own
// definition, then the columns: counts long integers of 9 digits, sums
// Double (30, 2); an older table's columns are kept as they are. A column
// name longer than a dBASE name is cut (dbfFieldNameFor). The call's run
// number goes into runOut: 0 for a new table, else the table's largest + 1.
korvane::host::TablePtr BuildCrossTab(const std::string& folder, const std::string& name,
                                      korvane::host::Table& inTable, const std::string& rowField,
                                      const std::string& columnField, const std::string& sumField,
                                      const std::set<int32_t>& runs, int32_t* runOut = nullptr);

}  // namespace kv
