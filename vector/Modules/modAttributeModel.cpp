#include "vector/Modules/modAttributeModel.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "host/Failure.h"
#include "host/data/Calculator.h"
#include "vector/Modules/modDerivedFields.h"

namespace kv {

namespace h = korvane::host;

namespace {

std::string trim(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(' ');
    return s.substr(a, b - a + 1);
}

bool isHeader(const std::string& line) { return !line.empty() && line[0] == '\''; }
std::string headerName(const std::string& line) { return trim(line.substr(1)); }

}  // namespace

std::string QueryListEntry(const std::string& value, const std::string& query) { return value + "   " + query; }

ModelEntry SplitQueryListEntry(const std::string& entry) {
    std::string e = trim(entry);
    size_t blank = e.find(' ');
    if (blank == std::string::npos) return {e, {}};
    return {e.substr(0, blank), trim(e.substr(blank))};
}

ModelEntry SplitLibraryLine(const std::string& line) {
    std::string body = line.empty() ? std::string() : line.substr(1);
    size_t bar = body.find('|');
    if (bar == std::string::npos)
        h::fail(h::err::InvalidCall, "Korvane", "The query-set line \"" + line + "\" has no \"|\" between value and query.");
    return {body.substr(0, bar), body.substr(bar + 1)};
}

std::vector<std::string> QuerySetLibrary::headers() const {
    std::vector<std::string> out;
    for (const std::string& l : lines_)
        if (isHeader(l)) out.push_back(headerName(l));
    return out;
}

void QuerySetLibrary::save(const std::string& name, const std::vector<std::string>& entries) {
    std::vector<std::string> add;
    if (lines_.empty() || !lines_.back().empty()) add.emplace_back();
    add.push_back("'" + trim(name));
    for (size_t i = 0; i < entries.size(); ++i) {
        ModelEntry e = SplitQueryListEntry(entries[i]);
        add.push_back((i == 0 ? "$" : ";") + e.value + "|" + e.query);
    }
    lines_.insert(lines_.end(), add.begin(), add.end());
}

bool QuerySetLibrary::load(const std::string& name, const std::function<void(const std::string&)>& entry) const {
    std::string want = trim(name);
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (!isHeader(lines_[i]) || headerName(lines_[i]) != want) continue;
        for (size_t j = i + 1; j < lines_.size() && !lines_[j].empty() && !isHeader(lines_[j]); ++j) {
            ModelEntry e = SplitLibraryLine(lines_[j]);
            entry(QueryListEntry(e.value, e.query));
        }
        return true;
    }
    return false;
}

std::optional<std::vector<std::string>> QuerySetLibrary::load(const std::string& name) const {
    std::vector<std::string> entries;
    if (!load(name, [&](const std::string& e) { entries.push_back(e); })) return std::nullopt;
    return entries;
}

void QuerySetLibrary::remove(const std::string& name) {
    std::string want = trim(name);
    std::vector<std::string> kept;
    bool skipping = false;
    for (const std::string& l : lines_) {
        if (isHeader(l)) skipping = headerName(l) == want;
        if (!skipping) kept.push_back(l);
    }
    if (kept.empty()) kept.emplace_back();
    lines_ = std::move(kept);
}

std::vector<std::string> QuerySetLibrary::exportLines(const std::vector<std::string>& names) const {
    std::vector<std::string> wanted;
    for (const std::string& n : names) wanted.push_back(trim(n));
    std::vector<std::string> out;
    bool writing = false;
    for (const std::string& l : lines_) {
        if (isHeader(l)) writing = std::find(wanted.begin(), wanted.end(), headerName(l)) != wanted.end();
        if (writing) out.push_back(l);
    }
    return out;
}

void QuerySetLibrary::replace(std::vector<std::string> lines) {
    if (lines.empty()) lines.emplace_back();
    lines_ = std::move(lines);
}

std::vector<std::string> ReadQuerySetFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) h::fail(h::err::FileNotFound, "Korvane", "The query-set file " + path + " cannot be opened.");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) h::fail(h::err::PermissionDenied, "Korvane", "The query-set file " + path + " cannot be read.");
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.push_back(std::move(line));
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

std::string QuerySetFileText(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\r\n";
    return out;
}

// ---- the model run ---------------------------------------------------------------

namespace {

std::string withoutBrackets(std::string s) {
    s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == '[' || c == ']'; }), s.end());
    return s;
}

}  // namespace

ModelPlan PlanAttributeModel(h::FeatureClass& fc, const h::SelectionSet* selection,
                             const std::vector<std::string>& entries, const std::string& target) {
    const h::Fields& fields = fc.fields();
    ModelPlan plan;
    plan.target = fields.find(target);
    if (plan.target < 0)
        h::fail(h::err::HostInvalidArg, "Korvane", "The field \"" + target + "\" is not a field of " + fc.name() + ".");
    const h::FieldDef& tf = fields.field(plan.target);
    if (tf.type == h::FieldOID || tf.type == h::FieldGeometry)
        h::fail(h::err::HostInvalidArg, "Korvane", "The field \"" + target + "\" cannot be written.");
    bool text = tf.type == h::FieldString;

    struct Compiled {
        h::WhereClause where;
        h::Expression value;
    };
    std::vector<Compiled> model;
    for (const std::string& entry : entries) {
        ModelEntry e = SplitQueryListEntry(entry);
        Compiled c;
        c.where = h::WhereClause::compile(withoutBrackets(e.query), fields);
        c.value = h::Expression::compile(text ? "\"" + e.value + "\"" : e.value, fields);
        model.push_back(std::move(c));
    }

    h::Cursor rows = selection && !selection->empty() ? selection->search(nullptr, true) : fc.search(nullptr, true);
    std::vector<h::Value> local;
    while (h::RowPtr r = rows.next()) {
        const std::vector<h::Value>* values = &r->values();
        bool changed = false;
        for (const Compiled& c : model) {
            if (!c.where.matches(*values)) continue;
            h::Value v;
            try {
                v = h::valueForField(tf, c.value.evaluate(*values));
            } catch (const h::Failure& f) {
                h::fail(f.number(), f.source(),
                        "Feature " + std::to_string(r->oid()) + " of " + fc.name() + ": " + f.description());
            }
            if (!changed) {
                local = *values;
                values = &local;
                changed = true;
            }
            local[static_cast<size_t>(plan.target)] = std::move(v);
        }
        if (changed) {
            plan.ids.push_back(r->oid());
            plan.values.push_back(std::move(local[static_cast<size_t>(plan.target)]));
        }
    }
    return plan;
}

void WriteAttributeModel(h::FeatureClass& fc, const ModelPlan& plan) {
    WriteRowsById(fc, plan.ids, [&](h::Row& r, size_t i) { r.setValue(plan.target, plan.values[i]); });
}

}  // namespace kv
