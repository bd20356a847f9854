#pragma once
// Species composition strings of forest resource inventories, and their
// conversion into one small-integer field per species.
//
// A string is a sequence of entries, each a species code and one digit, the
// species' share in tenths (0 for the whole stand, stored as 10):
//  - spaced form "Sb 8Bw 1Po 1": the code is everything before the blank(s)
//    that lead to the digit, digits included;
//  - unspaced form "Sb8Bw1Po1": where no blank follows, the code is the
//    characters before the first digit.
// Blanks before a code, between a digit and the next code and after the
// last digit are allowed; a blank-only or empty string has no entry.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/data/Table.h"

namespace kv {

struct SpeciesShare {
    std::string code;
    int16_t tenths = 0;  // 1 to 10
    bool operator==(const SpeciesShare&) const = default;
};

// The entries of s in order; false with a reason in why when s does not
// follow the form.
bool ParseSpeciesComposition(const std::string& s, std::vector<SpeciesShare>& out, std::string& why);

// A conversion worked out without writing: the new fields (in the order
// their codes are first met) and, per feature with entries, the field
// values to set.
struct SpeciesPlan {
    std::vector<std::string> codes;
    std::vector<korvane::host::FieldDef> newFields;
    std::vector<int64_t> ids;
    std::vector<std::vector<std::pair<int32_t, int16_t>>> shares;  // new-field number, tenths
    int64_t features = 0;
};

// Reads every feature's string from the field and plans the fields: a
// code's field is named after the code, or the code, "_" and the first free
// number. Fails (host::Failure) for a value that does not follow the form
// (naming the feature and the value) or a code that cannot make a dBASE
// field name. progress, when given, is called every few thousand features.
SpeciesPlan PlanSpeciesConversion(korvane::host::FeatureClass& fc, const std::string& field,
                                  const std::function<void(int64_t)>& progress = {});
// Adds the plan's fields in one rewrite, then writes each feature once.
void WriteSpeciesConversion(korvane::host::FeatureClass& fc, const SpeciesPlan& plan,
                            const std::function<void(int64_t)>& progress = {});

}  // namespace kv
