#include "vector/Modules/modSpeciesComposition.h"

#include <cctype>
#include <map>

#include "host/Failure.h"
#include "vector/Modules/modDerivedFields.h"

namespace kv {

namespace h = korvane::host;

namespace {
bool isDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

bool ParseSpeciesComposition(const std::string& s, std::vector<SpeciesShare>& out, std::string& why) {
    out.clear();
    const size_t n = s.size();
    size_t i = 0;
    for (;;) {
        while (i < n && s[i] == ' ') ++i;
        if (i >= n) return true;
        size_t blank = s.find(' ', i);
        size_t afterBlanks = blank == std::string::npos ? n : s.find_first_not_of(' ', blank);
        if (afterBlanks == std::string::npos) afterBlanks = n;
        std::string code;
        size_t digit;
        if (blank != std::string::npos && afterBlanks < n && isDigit(s[afterBlanks])) {
            // The spaced form: the code runs up to the blank.
            code = s.substr(i, blank - i);
            digit = afterBlanks;
        } else {
            size_t end = blank == std::string::npos ? n : blank;
            digit = i;
            while (digit < end && !isDigit(s[digit])) ++digit;
            if (digit == i) {
                why = "no species code before the digit " + std::string(1, s[i]);
                return false;
            }
            if (digit >= end) {
                why = "no share digit after the code " + s.substr(i, end - i);
                return false;
            }
            code = s.substr(i, digit - i);
        }
        int16_t d = static_cast<int16_t>(s[digit] - '0');
        out.push_back({std::move(code), d == 0 ? int16_t{10} : d});
        i = digit + 1;
    }
}

SpeciesPlan PlanSpeciesConversion(h::FeatureClass& fc, const std::string& field,
                                  const std::function<void(int64_t)>& progress) {
    int32_t index = fc.findField(field);
    if (index < 0) h::fail(h::err::HostInvalidArg, "Korvane", "There is no field " + field + " in " + fc.name() + ".");
    if (fc.fields().field(index).type == h::FieldGeometry)
        refuseRun("The field " + field + " holds shapes, not species composition strings.");
    SpeciesPlan plan;
    std::map<std::string, int32_t> codeField;  // exact comparison: Sb and SB are two codes
    h::Fields taken = fc.fields();
    std::vector<SpeciesShare> shares;
    std::string why;
    h::Cursor c = fc.search(nullptr, true);
    while (h::RowPtr r = c.next()) {
        ++plan.features;
        if (progress && plan.features % 4096 == 0) progress(plan.features);
        const h::Value& v = r->value(index);
        if (h::isNull(v)) continue;
        std::string text = h::toText(v);
        if (!ParseSpeciesComposition(text, shares, why))
            refuseRun("The species composition string of feature " + std::to_string(r->oid()) + " cannot be read: \"" +
                        text + "\" (" + why + ").");
        if (shares.empty()) continue;
        std::vector<std::pair<int32_t, int16_t>> row;
        for (SpeciesShare& s : shares) {
            auto it = codeField.find(s.code);
            if (it == codeField.end()) {
                std::string name = s.code;
                for (int64_t k = 1; taken.find(name) >= 0; ++k) name = s.code + "_" + std::to_string(k);
                if (!h::isValidDbfFieldName(name))
                    refuseRun("The species code \"" + s.code + "\" of feature " + std::to_string(r->oid()) + " (\"" +
                                text + "\") cannot name a field: " + name +
                                " is not a dBASE field name (1 to 10 characters of printable ASCII, no blank).");
                h::FieldDef def{name, h::FieldSmallInteger, 0, 0, 0};
                taken.add(def);
                plan.newFields.push_back(def);
                plan.codes.push_back(s.code);
                it = codeField.emplace(s.code, static_cast<int32_t>(plan.newFields.size() - 1)).first;
            }
            // A code named twice: the later share is the one kept.
            bool replaced = false;
            for (auto& [f, t] : row)
                if (f == it->second) {
                    t = s.tenths;
                    replaced = true;
                }
            if (!replaced) row.emplace_back(it->second, s.tenths);
        }
        plan.ids.push_back(r->oid());
        plan.shares.push_back(std::move(row));
    }
    return plan;
}

void WriteSpeciesConversion(h::FeatureClass& fc, const SpeciesPlan& plan, const std::function<void(int64_t)>& progress) {
    if (plan.newFields.empty()) return;
    // The new fields and their values replace the attribute file together.
    h::EditSession edit(fc);
    fc.addFields(plan.newFields);
    std::vector<int32_t> index;
    for (const h::FieldDef& f : plan.newFields) index.push_back(fc.findField(f.name));
    WriteRowsById(fc, plan.ids, [&](h::Row& r, size_t i) {
        for (auto [f, t] : plan.shares[i]) r.setValue(index[static_cast<size_t>(f)], static_cast<int32_t>(t));
        if (progress && (i + 1) % 4096 == 0) progress(static_cast<int64_t>(i + 1));
    });
    edit.commit();
}

}  // namespace kv
