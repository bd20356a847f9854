#pragma once
// Attribute models: the query-set library that keeps them (named sets of
// value-and-query lines, in memory and in query-set files) and the model run
// that writes their values into a field.
//
// Library lines, told by their first character:
//   'name        header: starts a set (the name is the rest, trimmed)
//   $value|query the set's first entry
//   ;value|query each further entry
//   (empty)      separator after a set
// A query-set file holds such lines, each ended by CR LF.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/data/SelectionSet.h"
#include "host/data/Table.h"

namespace kv {

// The text a query list shows for an entry: value, three blanks, query.
std::string QueryListEntry(const std::string& value, const std::string& query);

// An entry split for the run: the value is the text before the first blank,
// the query the rest, both trimmed of blanks.
struct ModelEntry {
    std::string value;
    std::string query;
};
ModelEntry SplitQueryListEntry(const std::string& entry);

// The first character of a line is ignored; the rest splits at its first
// "|". Fails (a runtime failure) for a line without "|".
ModelEntry SplitLibraryLine(const std::string& line);

class QuerySetLibrary {
public:
    // The empty library: one empty line.
    QuerySetLibrary() : lines_{std::string()} {}

    const std::vector<std::string>& lines() const { return lines_; }
    // The trimmed name of every header, in library order.
    std::vector<std::string> headers() const;

    // Appends a set: a separator when the last line is not empty, the header
    // with the name trimmed, then the entries.
    void save(const std::string& name, const std::vector<std::string>& entries);
    // The query-list entries of the first set whose trimmed name is name
    // (trimmed); nothing when there is none. A set ends at the first empty
    // line or the next header. Fails for an entry line without "|".
    std::optional<std::vector<std::string>> load(const std::string& name) const;
    // The same, handing each entry to `entry` as it is read: a failure
    // comes after the entries before the line that failed. False when there
    // is no set of that name.
    bool load(const std::string& name, const std::function<void(const std::string&)>& entry) const;
    // Removes every set of that (trimmed) name with the lines after its
    // header up to the next header. A library left empty is the empty library.
    void remove(const std::string& name);
    // The lines of the named sets (trimmed names), each set from its header
    // to the next header, in library order.
    std::vector<std::string> exportLines(const std::vector<std::string>& names) const;
    // Replaces the library with lines read from a file (not empty).
    void replace(std::vector<std::string> lines);

private:
    std::vector<std::string> lines_;
};

// The lines of a query-set file; CR LF, LF and CR all end a line, and a
// last line end adds no empty line. Fails when the file cannot be read.
std::vector<std::string> ReadQuerySetFile(const std::string& path);
// The file's bytes for the lines: each ended by CR LF.
std::string QuerySetFileText(const std::vector<std::string>& lines);

// A model checked and worked out against a feature class: the target field
// and the rows whose value changes, with their new values.
struct ModelPlan {
    int32_t target = -1;
    std::vector<int64_t> ids;
    std::vector<korvane::host::Value> values;
};

// Works out the model without writing: every where clause (brackets
// removed) and every value expression is compiled first (text targets get
// the value in double quotes), then one pass over the rows (the selection
// when it holds any, else every feature) applies the entries in list order,
// each seeing the values the earlier entries left; every value is converted
// and checked against the target. Fails (host::Failure) on the first
// problem, before anything is written.
ModelPlan PlanAttributeModel(korvane::host::FeatureClass& fc, const korvane::host::SelectionSet* selection,
                             const std::vector<std::string>& entries, const std::string& target);
// Writes a plan: one store per changed feature.
void WriteAttributeModel(korvane::host::FeatureClass& fc, const ModelPlan& plan);

}  // namespace kv
