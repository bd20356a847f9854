#include "raster/Modules/modGridStatsTable.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

#include <fmt/format.h>

#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/OutputLock.h"
#include "host/data/OutputTable.h"
#include "host/System.h"
#include "host/data/Table.h"
#include "host/data/Workspace.h"
#include "shared/modMisc.h"

namespace kv {

namespace h = korvane::host;
namespace stdfs = std::filesystem;

namespace {

constexpr int32_t kTextLength = 40;
constexpr int32_t kMetricWidth = 30;
constexpr int32_t kMetricDecimals = 2;

std::vector<h::FieldDef> leadingFields() {
    return {
        {"Name", h::FieldString, kTextLength, 0, 0},
        {"RunDate", h::FieldString, 25, 0, 0},
        {"Run", h::FieldSmallInteger, 0, 3, 0},
        {"Class", h::FieldString, kTextLength, 0, 0},
    };
}

h::FieldDef metricField(const std::string& name) { return {name, h::FieldDouble, 0, kMetricWidth, kMetricDecimals}; }

}  // namespace

int32_t LargestRun(h::Table& table) {
    int32_t at = table.findField("Run");
    if (at < 0) return 0;
    int32_t largest = 0;
    h::Cursor rows = table.search(nullptr, true);
    while (h::RowPtr row = rows.next()) {
        const h::Value& v = row->value(at);
        if (h::isNull(v)) continue;
        double d = 0;
        try {
            d = h::toDouble(v);
        } catch (const h::Failure&) {
            continue;
        }
        if (std::isfinite(d) && d > largest && d < INT32_MAX) largest = static_cast<int32_t>(std::nearbyint(d));
    }
    return largest;
}

namespace {

std::string runLimitMessage(const std::string& tablePath, int32_t lastRun) {
    return fmt::format(
        "The Run field of {} holds run numbers up to {}, and the table already holds run {}.\r\n"
        "Start a new output table or overwrite this one.  Cannot continue.",
        tablePath, kGridStatsMaxRun, lastRun);
}

std::string sidecar(const std::string& dbf, const char* ext) {
    return (stdfs::path(dbf).replace_extension(ext)).string();
}

}  // namespace

GridFieldRenames GridFieldRenameMap() {
    return {
        {"%LAND", "ZLAND"}, {"C%LAND", "C_LAND"}, {"SIDI", "SHEI"}, {"MCA2", "MCA"},   {"CACV2", "CACOV"},
        {"CASD2", "CASD"},  {"TA", "TLA"},        {"NP", "NUMP"},   {"PSCV", "PSCOV"}, {"SHDI", "SDI"},
        {"SHEI", "SEI"},
    };
}

std::string GridFieldName(const GridFieldRenames& renames, const std::string& column) {
    auto it = renames.find(column);
    return it == renames.end() ? column : it->second;
}

std::string GridStatsTablePath(const std::string& outputTableName) {
    if (outputTableName.empty()) {
        const std::string folder = h::fs::GetTempFolder();
        std::string path = h::fs::BuildPath(folder, "Stats.dbf");
        for (int n = 1; h::fs::FileExists(path); ++n) path = h::fs::BuildPath(folder, fmt::format("Stats_{}.dbf", n));
        return path;
    }
    std::string path = outputTableName;
    std::string ext = stdfs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext != ".dbf") path += ".dbf";
    return stdfs::absolute(path).lexically_normal().string();
}

// The leading fields of a statistics table, by name.
std::vector<std::string> leadingFieldNames(const std::string& regionField) {
    std::vector<std::string> names;
    for (const h::FieldDef& f : leadingFields()) names.push_back(f.name);
    if (!regionField.empty()) names.insert(names.begin() + 3, regionField);
    return names;
}

GridStatsTableState CheckGridStatsTable(const std::string& tablePath, bool blnAppend, int32_t filesToWrite,
                                        const std::string& regionField) {
    GridStatsTableState state;
    const std::string folder = stdfs::path(tablePath).parent_path().string();
    if (!h::fs::FolderExists(folder)) {
        state.refusal = "The folder " + folder + " does not exist.  Choose another output table.";
        state.refusalTitle = "Missing Data";
        return state;
    }
    state.refusal = h::foreignOutputTable(tablePath, nullptr, {});
    if (!state.refusal.empty()) {
        state.refusalTitle = "Not a Statistics Table";
        return state;
    }
    state.exists = h::fs::FileExists(tablePath);
    if (!state.exists) return state;
    h::TablePtr table;
    try {
        table = h::Table::open(tablePath);
    } catch (const h::Failure&) {
        table.reset();
    }
    if (!table) {
        state.refusal = "Cannot access " + tablePath + "\r\nFile may be opened somewhere else";
        state.refusalTitle = "File Access Error";
        return state;
    }
    if (blnAppend) {
        state.refusal = h::foreignOutputTable(tablePath, table.get(), leadingFieldNames(regionField));
        if (!state.refusal.empty()) {
            state.refusalTitle = "Not a Statistics Table";
            return state;
        }
        state.lastRun = LargestRun(*table);
        if (state.lastRun + filesToWrite > kGridStatsMaxRun) {
            state.refusal = runLimitMessage(tablePath, state.lastRun);
            state.refusalTitle = "Cannot Continue";
        }
    } else if (!table->canDelete()) {
        state.refusal = "Cannot delete " + tablePath;
        state.refusalTitle = "Cannot Overwrite File";
    }
    return state;
}

GridStatsRows BuildGridStatsRows(const std::vector<GridStatsFile>& files, const std::vector<std::string>& chosenStats,
                                 const GridFieldRenames& renames,
                                 const std::optional<std::map<int32_t, h::Value>>& classOfValue) {
    GridStatsRows out;
    auto fieldIndex = [&](const std::string& name) -> size_t {
        for (size_t i = 0; i < out.fields.size(); ++i)
            if (h::sameFieldName(out.fields[i], name)) return i;
        out.fields.push_back(name);
        return out.fields.size() - 1;
    };
    for (size_t f = 0; f < files.size(); ++f) {
        const GridStatsFile& file = files[f];
        // Cut class texts: the first line that gave each one.
        std::map<std::string, std::string> classOfCut;
        for (const FragStatsBlock& block : file.output.blocks) {
            // The chosen codes that are columns of this header, each with its field.
            std::vector<std::pair<int32_t, size_t>> taken;
            std::set<std::string> seen;
            for (const std::string& code : chosenStats) {
                int32_t column = block.column(code);
                if (column < 0 || code == "LID" || code == "TYPE" || !seen.insert(code).second) continue;
                taken.push_back({column, fieldIndex(GridFieldName(renames, code))});
            }
            const int32_t typeAt = block.column("TYPE");
            if (!file.landscape && typeAt < 0) {
                out.problem = "the class output has no TYPE column";
                return out;
            }
            for (const std::vector<std::string>& tokens : block.rows) {
                GridStatsRows::Row row;
                row.file = static_cast<int32_t>(f) + 1;
                if (file.landscape) {
                    row.Class = "All";
                } else {
                    const std::string& type = tokens[static_cast<size_t>(typeAt)];
                    double v = 0;
                    if (!h::parseNumber(type, v) || v != std::floor(v) || v < INT32_MIN || v > INT32_MAX) {
                        out.problem = "the class value '" + type + "' is not a whole number";
                        return out;
                    }
                    const int32_t value = static_cast<int32_t>(v);
                    std::string text = std::to_string(value);
                    if (classOfValue) {
                        auto it = classOfValue->find(value);
                        text = it == classOfValue->end() ? std::string() : h::toText(it->second);
                    }
                    row.Class = FitBytes(text, kTextLength);
                    auto [at, added] = classOfCut.emplace(row.Class, text);
                    if (!added && at->second != text) {
                        out.problem = fmt::format(
                            "the classes '{}' and '{}' become the same when cut to the {} bytes the Class field "
                            "holds",
                            at->second, text, kTextLength);
                        return out;
                    }
                }
                row.values.resize(out.fields.size());
                for (const auto& [column, field] : taken) {
                    const std::string& token = tokens[static_cast<size_t>(column)];
                    std::optional<double> value;
                    if (!FragStatsValue(token, value)) {
                        out.problem = fmt::format("the value '{}' of {} is not a number", token,
                                                  block.columns[static_cast<size_t>(column)]);
                        return out;
                    }
                    if (value && fmt::format("{:.{}f}", *value, kMetricDecimals).size() >
                                     static_cast<size_t>(kMetricWidth)) {
                        out.problem = fmt::format("the value {} of {} does not fit the table's {}-digit field", token,
                                                  block.columns[static_cast<size_t>(column)], kMetricWidth);
                        return out;
                    }
                    row.values[field] = value;
                }
                out.rows.push_back(std::move(row));
            }
        }
    }
    for (GridStatsRows::Row& row : out.rows) row.values.resize(out.fields.size());
    return out;
}

int32_t WriteGridStatsTable(const std::string& tablePath, bool blnAppend, const std::string& layerName,
                            const GridStatsRows& rows) {
    // From the first read of the table to its commit, no other run writes it.
    h::OutputLock lock(tablePath);
    if (std::string refusal = h::foreignOutputTable(tablePath, nullptr, {}); !refusal.empty())
        h::fail(h::err::HostInvalidArg, "Korvane", refusal);
    const bool exists = h::fs::FileExists(tablePath);
    const bool append = blnAppend && exists;
    const std::string cpg = sidecar(tablePath, ".cpg");

    // A new table is written with its code-page file; an appended one keeps
    // the files it has.
    std::vector<stdfs::path> targets;
    if (!append || h::fs::FileExists(cpg)) targets.push_back(cpg);
    targets.push_back(tablePath);
    h::FileReplacement replacement(targets);
    replacement.checkDatasets();
    const std::string temp = replacement.temporary(targets.size() - 1).string();

    int32_t base = 0;
    {
        h::TablePtr table;
        if (append) {
            {
                h::TablePtr old = h::Table::open(tablePath);
                if (std::string refusal = h::foreignOutputTable(tablePath, old.get(), leadingFieldNames({}));
                    !refusal.empty())
                    h::fail(h::err::HostInvalidArg, "Korvane", refusal);
                base = LargestRun(*old);
            }
            int32_t files = 0;
            for (const GridStatsRows::Row& r : rows.rows) files = std::max(files, r.file);
            if (base + files > kGridStatsMaxRun)
                h::fail(h::err::Overflow, "Korvane", runLimitMessage(tablePath, base));
            for (size_t i = 0; i < targets.size(); ++i) {
                std::error_code ec;
                if (!stdfs::copy_file(targets[i], replacement.temporary(i), stdfs::copy_options::none, ec)) {
                    h::noteFailedWrite(targets[i]);
                    h::fail(h::err::HostGeneric, "Korvane", "Cannot write " + targets[i].string() + ": " + ec.message() + ".");
                }
            }
            table = h::Table::open(temp);
        } else {
            // A new table gets all its fields at once.
            std::vector<h::FieldDef> fields = leadingFields();
            for (const std::string& name : rows.fields) fields.push_back(metricField(name));
            h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(stdfs::path(temp).parent_path().string());
            table = ws.createTable(stdfs::path(temp).stem().string(), fields);
        }
        std::vector<int32_t> fieldAt;
        for (const std::string& name : rows.fields) {
            if (table->findField(name) < 0) table->addField(metricField(name));
            fieldAt.push_back(table->findField(name));
        }
        const int32_t nameAt = table->findField("Name"), dateAt = table->findField("RunDate"),
                      runAt = table->findField("Run"), classAt = table->findField("Class");
        auto textFor = [&](int32_t at, const std::string& text) -> h::Value {
            const h::FieldDef& f = table->fields().field(at);
            return f.type == h::FieldString ? h::Value(FitBytes(text, f.length)) : h::Value(text);
        };
        const std::string name = layerName;
        for (const GridStatsRows::Row& r : rows.rows) {
            h::RowPtr row = table->createRow();
            row->setValue(nameAt, textFor(nameAt, name));
            row->setValue(dateAt, textFor(dateAt, RunDateNow()));
            row->setValue(runAt, base + r.file);
            row->setValue(classAt, textFor(classAt, r.Class));
            for (size_t k = 0; k < fieldAt.size(); ++k)
                if (r.values[k]) row->setValue(fieldAt[k], *r.values[k]);
            row->store();
        }
        table->flush();
        table->close();
    }
    replacement.commit();
    return base;
}

}  // namespace kv
