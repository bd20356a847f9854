#include "raster/Modules/modRegionStats.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include <fmt/format.h>

#include "host/OutputLock.h"
#include "host/Failure.h"
#include "host/System.h"
#include "host/data/Workspace.h"
#include "shared/modMisc.h"

namespace kv {

namespace h = korvane::host;
namespace stdfs = std::filesystem;

namespace {

constexpr int32_t kTextLength = 40;
constexpr const char* kCRLF = "\r\n";

std::vector<h::FieldDef> leadingFields(const h::FieldDef& regionField) {
    return {
        {"Name", h::FieldString, kTextLength, 0, 0},
        {"RunDate", h::FieldString, 25, 0, 0},
        {"Run", h::FieldSmallInteger, 0, 3, 0},
        regionField,
        {"Class", h::FieldString, kTextLength, 0, 0},
        {"ClassProp", h::FieldDouble, 0, 8, 5},
        {"ClassHist", h::FieldSmallInteger, 0, 3, 0},
    };
}

h::FieldDef metricField(const std::string& name) { return {name, h::FieldDouble, 0, 30, 2}; }

h::Value fitText(const h::Table& table, int32_t at, const std::string& text) {
    const h::FieldDef& f = table.fields().field(at);
    return f.type == h::FieldString ? h::Value(FitBytes(text, f.length)) : h::Value(text);
}

// A value as the key of a row or column: numbers as numbers, text as text,
// null apart.
std::string keyOf(const h::Value& v) {
    if (h::isNull(v)) return "0";
    if (h::isNumber(v)) return "n" + fmt::format("{}", h::toDouble(v));
    return "t" + h::toText(v);
}

}  // namespace

std::string RegionMetricColumn(const std::string& code) {
    static const std::map<std::string, std::string> columns = {
        {"NumP", "NP"},    {"TLA", "TA"},     {"PSCoV", "PSCV"}, {"MCA", "MCA2"},
        {"CASD", "CASD2"}, {"CACoV", "CACV2"}, {"SDI", "SHDI"},  {"SEI", "SHEI"},
    };
    auto it = columns.find(code);
    return it == columns.end() ? code : it->second;
}

std::vector<std::string> RegionRequestedCodes(const std::string& strStatsToRun) {
    std::string s;
    for (char c : strStatsToRun)
        if (c != ' ') s += c;
    std::vector<std::string> codes;
    size_t start = 0;
    while (start <= s.size()) {
        size_t comma = s.find(',', start);
        std::string code = s.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!code.empty() && std::find(codes.begin(), codes.end(), code) == codes.end()) codes.push_back(code);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return codes;
}

int32_t ClassHistBin(double p) {
    static const double limits[] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0};
    if (!(p > 0) || p > 1) return 0;
    for (int32_t k = 0; k < 10; ++k)
        if (p <= limits[k]) return 5 + 10 * k;
    return 0;
}

int32_t RegionPercent(int64_t i, int64_t n) {
    if (n <= 0) return 0;
    return static_cast<int32_t>(std::nearbyint(static_cast<double>(i) / static_cast<double>(n) * 100.0));
}

std::string RegionStatusText(const std::string& field, const std::string& valueText, int64_t i, int64_t n) {
    return fmt::format("Processing {} = {}   ({}% complete)", field, valueText, RegionPercent(i, n));
}

std::string RegionValueText(const h::Value& v) { return h::toText(v); }

std::string RegionWhereClause(const std::string& field, bool textField, const h::Value& v) {
    if (h::isNull(v)) return field + " IS NULL";
    if (!textField) return field + " = " + RegionValueText(v);
    std::string quoted;
    for (char c : h::toText(v)) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return field + " = '" + quoted + "'";
}

void ForEachRegionValue(const std::vector<GridStatsFile>& files, const std::vector<std::string>& codes,
                        const std::function<void(const std::string& column, const std::string& token)>& seen) {
    for (const GridStatsFile& file : files)
        for (const FragStatsBlock& block : file.output.blocks) {
            std::vector<std::pair<std::string, size_t>> read;
            for (const std::string& code : codes) {
                std::string column = RegionMetricColumn(code);
                if (int32_t k = block.column(column); k >= 0) read.emplace_back(column, static_cast<size_t>(k));
            }
            for (const std::vector<std::string>& row : block.rows)
                for (const auto& [column, k] : read)
                    if (k < row.size()) seen(column, row[k]);
        }
}

std::string AddRegionRows(RegionStatsRows& into, const std::vector<GridStatsFile>& files,
                          const std::vector<std::string>& codes, int32_t run, const h::Value& region) {
    // The grid statistics' rows, read by column; the fields are then named
    // by the requested codes. One column may serve several codes (SEI reads
    // the SHEI column, and SHEI is its own): each gets its field.
    std::vector<std::string> columns;
    std::map<std::string, std::vector<std::string>> codesOfColumn;
    for (const std::string& code : codes) {
        std::string column = RegionMetricColumn(code);
        std::vector<std::string>& served = codesOfColumn[column];
        if (served.empty()) columns.push_back(column);
        served.push_back(code);
    }
    GridStatsRows rows = BuildGridStatsRows(files, columns, {}, std::nullopt);
    if (!rows.problem.empty()) return rows.problem;
    std::vector<std::vector<size_t>> fieldsOf;
    for (const std::string& column : rows.fields) {
        std::vector<size_t>& at = fieldsOf.emplace_back();
        for (const std::string& code : codesOfColumn.at(column)) {
            auto it = std::find(into.codes.begin(), into.codes.end(), code);
            if (it == into.codes.end()) {
                into.codes.push_back(code);
                for (RegionStatsRows::Row& r : into.rows) r.values.resize(into.codes.size());
                it = into.codes.end() - 1;
            }
            at.push_back(static_cast<size_t>(it - into.codes.begin()));
        }
    }
    const auto land = std::find(rows.fields.begin(), rows.fields.end(), "%LAND");
    const bool landscapeFirst = !files.empty() && files.front().landscape;
    for (const GridStatsRows::Row& r : rows.rows) {
        RegionStatsRows::Row row;
        row.run = run;
        row.region = region;
        row.Class = r.Class;
        row.values.resize(into.codes.size());
        for (size_t k = 0; k < r.values.size(); ++k)
            for (size_t at : fieldsOf[k]) row.values[at] = r.values[k];
        const bool classRow = !(landscapeFirst && r.file == 1);
        if (classRow && land != rows.fields.end()) {
            const std::optional<double>& v = r.values[static_cast<size_t>(land - rows.fields.begin())];
            if (v) {
                row.classProp = *v / 100;
                row.classHist = ClassHistBin(*row.classProp);
            }
        }
        into.rows.push_back(std::move(row));
    }
    return {};
}

GridStatsTableState CheckRegionStatsTable(const std::string& tablePath, bool blnAppend, int64_t regionValues,
                                          const std::string& regionField) {
    GridStatsTableState state = CheckGridStatsTable(tablePath, blnAppend, 0, regionField);
    if (state.refusal.empty() && state.lastRun + regionValues > kGridStatsMaxRun) {
        // Each region takes a run number of its own, and Run holds three digits.
        if (state.lastRun == 0)
            state.refusal = fmt::format(
                "The Run field of the region statistics table holds run numbers up to {}, one per region value, "
                "and the run has {} region values.{}Select the regions of at most {} values in the region layer "
                "and write each selection to a table of its own.  Cannot continue.",
                kGridStatsMaxRun, regionValues, kCRLF, kGridStatsMaxRun);
        else
            state.refusal = fmt::format(
                "The Run field of {} holds run numbers up to {}, one per region value: its last run is {}, so it "
                "has room for {} more region values, and the run has {}.{}Write to a new table, or select the "
                "regions of at most {} values in the region layer.  Cannot continue.",
                tablePath, kGridStatsMaxRun, state.lastRun, kGridStatsMaxRun - state.lastRun, regionValues, kCRLF,
                kGridStatsMaxRun - state.lastRun);
        state.refusalTitle = "Cannot Continue";
    }
    return state;
}

h::TablePtr WriteRegionStatsTable(const std::string& tablePath, bool blnAppend, const std::string& layerName,
                                  const h::FieldDef& regionField, const RegionStatsRows& rows) {
    const stdfs::path path(tablePath);
    h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(path.parent_path().string());
    const std::string name = path.stem().string();
    h::OutputLock lock(tablePath);   // the run holds it already: taken at once
    const bool append = blnAppend && h::fs::FileExists(tablePath);
    h::DatasetReplacement next(ws, name, false);
    h::TablePtr table;
    if (append) {
        h::TablePtr old = ws.openTable(name);
        table = ws.copyDataset(*old, next.temporaryName());
        // ClassProp and ClassHist came later: an older table gets them.
        std::vector<h::FieldDef> missing;
        for (const h::FieldDef& f : leadingFields(regionField))
            if (table->findField(f.name) < 0) missing.push_back(f);
        if (!missing.empty()) table->addFields(missing);
    } else {
        table = ws.createTable(next.temporaryName(), leadingFields(regionField));
    }
    // The metric fields: the code -> field index map.
    std::vector<h::FieldDef> added;
    std::vector<std::string> fieldNames;
    for (const std::string& code : rows.codes) {
        if (table->findField(code) >= 0) {
            fieldNames.push_back(code);
            continue;
        }
        std::vector<std::string> taken = table->fields().names();
        for (const h::FieldDef& f : added) taken.push_back(f.name);
        added.push_back(metricField(h::dbfFieldNameFor(code, taken)));
        fieldNames.push_back(added.back().name);
    }
    if (!added.empty()) table->addFields(added);
    std::vector<int32_t> fieldAt;
    for (const std::string& n : fieldNames) fieldAt.push_back(table->findField(n));
    const int32_t nameAt = table->findField("Name"), dateAt = table->findField("RunDate"),
                  runAt = table->findField("Run"), regionAt = table->findField(regionField.name),
                  classAt = table->findField("Class"), propAt = table->findField("ClassProp"),
                  histAt = table->findField("ClassHist");
    {
        h::InsertCursor ins = table->insert(true);
        h::RowPtr buffer = ins.createRowBuffer();
        const std::string date = RunDateNow();
        for (const RegionStatsRows::Row& r : rows.rows) {
            for (int32_t i = 1; i < buffer->fields().count(); ++i) buffer->setValue(i, h::Value());
            buffer->setValue(nameAt, fitText(*table, nameAt, layerName));
            buffer->setValue(dateAt, fitText(*table, dateAt, date));
            buffer->setValue(runAt, r.run);
            buffer->setValue(regionAt, r.region);
            buffer->setValue(classAt, fitText(*table, classAt, r.Class));
            if (r.classProp) buffer->setValue(propAt, *r.classProp);
            if (r.classHist) buffer->setValue(histAt, *r.classHist);
            for (size_t k = 0; k < r.values.size(); ++k)
                if (r.values[k]) buffer->setValue(fieldAt[k], *r.values[k]);
            ins.insertRow(*buffer);
        }
        ins.flush();
    }
    table->flush();
    table->close();
    table.reset();
    return next.commit();
}

h::TablePtr BuildCrossTab(const std::string& folder, const std::string& name, h::Table& inTable,
                          const std::string& rowField, const std::string& columnField, const std::string& sumField,
                          const std::set<int32_t>& runs, int32_t* runOut) {
    const int32_t rowAt = inTable.findField(rowField), colAt = inTable.findField(columnField);
    const int32_t sumAt = sumField.empty() ? -1 : inTable.findField(sumField);
    const int32_t runAt = inTable.findField("Run");
    if (rowAt < 0 || colAt < 0 || (!sumField.empty() && sumAt < 0) || runAt < 0)
        h::fail(h::err::HostInvalidArg, "CrossTab",
                "The table " + inTable.name() + " lacks one of the fields " + rowField + ", " + columnField +
                    (sumField.empty() ? "" : ", " + sumField) + " and Run.");
    const bool sum = sumAt >= 0;

    // One pass: the row and column values in first-seen order and every cell.
    std::vector<h::Value> rowValues, colValues;
    std::map<std::string, size_t> rowIndex, colIndex;
    std::map<std::pair<size_t, size_t>, double> cells;
    {
        h::Cursor rows = inTable.search(nullptr, true);
        while (h::RowPtr r = rows.next()) {
            const h::Value& run = r->value(runAt);
            if (h::isNull(run) || !runs.count(static_cast<int32_t>(std::nearbyint(h::toDouble(run))))) continue;
            const h::Value& rv = r->value(rowAt);
            const h::Value& cv = r->value(colAt);
            auto [ri, rnew] = rowIndex.emplace(keyOf(rv), rowValues.size());
            if (rnew) rowValues.push_back(rv);
            auto [ci, cnew] = colIndex.emplace(keyOf(cv), colValues.size());
            if (cnew) colValues.push_back(cv);
            double add = 1;
            if (sum) {
                const h::Value& s = r->value(sumAt);
                add = h::isNull(s) ? 0 : h::toDouble(s);
            }
            cells[{ri->second, ci->second}] += add;
        }
    }

    h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(folder);
    // From the read of the old cross-tab (its largest run) to its commit.
    h::OutputLock lock(stdfs::path(ws.path()) / (name + ".dbf"));
    const bool exists = ws.exists(name);
    h::DatasetReplacement next(ws, name, false);
    h::TablePtr table;
    int32_t run = 0;
    const h::FieldDef rowDef = inTable.fields().field(rowAt);
    if (exists) {
        h::TablePtr old = ws.openTable(name);
        run = LargestRun(*old) + 1;
        table = ws.copyDataset(*old, next.temporaryName());
    } else {
        table = ws.createTable(next.temporaryName(), {{"Name", h::FieldString, kTextLength, 0, 0},
                                                      {"RunDate", h::FieldString, 25, 0, 0},
                                                      {"Run", h::FieldSmallInteger, 0, 3, 0},
                                                      rowDef});
    }
    if (run > kGridStatsMaxRun)
        h::fail(h::err::Overflow, "CrossTab",
                fmt::format("The Run field of {} holds run numbers up to {}, and the table already holds run {}.",
                            name, kGridStatsMaxRun, run - 1));
    std::vector<h::FieldDef> missing;
    for (const h::FieldDef& f : {h::FieldDef{"Name", h::FieldString, kTextLength, 0, 0},
                                 h::FieldDef{"RunDate", h::FieldString, 25, 0, 0},
                                 h::FieldDef{"Run", h::FieldSmallInteger, 0, 3, 0}, rowDef})
        if (table->findField(f.name) < 0) missing.push_back(f);
    // The column of each value: its name as given where a dBASE name can
    // hold it, else cut; an older table's column of that name is used.
    std::vector<std::string> assigned;
    for (const h::Value& v : colValues) {
        const std::string wanted = columnField + "-" + h::toText(v);
        std::string column = h::dbfFieldNameFor(wanted, assigned);
        if (table->findField(column) < 0 &&
            std::none_of(missing.begin(), missing.end(), [&](const h::FieldDef& f) { return h::sameFieldName(f.name, column); })) {
            std::vector<std::string> taken = table->fields().names();
            for (const h::FieldDef& f : missing) taken.push_back(f.name);
            for (const std::string& a : assigned) taken.push_back(a);
            column = h::dbfFieldNameFor(wanted, taken);
            missing.push_back(sum ? h::FieldDef{column, h::FieldDouble, 0, 30, 2}
                                  : h::FieldDef{column, h::FieldInteger, 0, 9, 0});
        }
        assigned.push_back(column);
    }
    if (!missing.empty()) table->addFields(missing);
    std::vector<int32_t> columnAt;
    for (const std::string& c : assigned) columnAt.push_back(table->findField(c));
    const int32_t nameAt = table->findField("Name"), dateAt = table->findField("RunDate"),
                  outRunAt = table->findField("Run"), keyAt = table->findField(rowField);
    {
        h::InsertCursor ins = table->insert(true);
        h::RowPtr buffer = ins.createRowBuffer();
        const std::string date = RunDateNow();
        for (size_t r = 0; r < rowValues.size(); ++r) {
            for (int32_t i = 1; i < buffer->fields().count(); ++i) buffer->setValue(i, h::Value());
            buffer->setValue(nameAt, fitText(*table, nameAt, inTable.name()));
            buffer->setValue(dateAt, fitText(*table, dateAt, date));
            buffer->setValue(outRunAt, run);
            buffer->setValue(keyAt, rowValues[r]);
            for (size_t c = 0; c < colValues.size(); ++c) {
                auto it = cells.find({r, c});
                buffer->setValue(columnAt[c], it == cells.end() ? 0.0 : it->second);
            }
            ins.insertRow(*buffer);
        }
        ins.flush();
    }
    table->flush();
    table->close();
    table.reset();
    if (runOut) *runOut = run;
    return next.commit();
}

}  // namespace kv
