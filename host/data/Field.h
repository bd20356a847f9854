#pragma once
// Field definitions of tables and feature classes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::host {

// The host's field type codes.
enum FieldType : int32_t {
    FieldSmallInteger = 0,
    FieldInteger = 1,
    FieldSingle = 2,
    FieldDouble = 3,
    FieldString = 4,
    FieldDate = 5,
    FieldOID = 6,
    FieldGeometry = 7,
};
const char* fieldTypeName(int32_t type);
inline bool isNumericFieldType(int32_t t) {
    return t == FieldSmallInteger || t == FieldInteger || t == FieldSingle || t == FieldDouble || t == FieldOID;
}

// One field as it is defined: for text, length is the number of characters;
// for numbers, precision is the width of the dBASE column and scale its
// decimal places. A width of 0 takes the type's default when the field is
// created (see Table::addField).
struct FieldDef {
    std::string name;
    int32_t type = FieldString;
    int32_t length = 0;
    int32_t precision = 0;
    int32_t scale = 0;

    bool operator==(const FieldDef&) const = default;
};

// Whether a dBASE file can hold the name as given: every name dBASE itself
// stores, 1 to 10 bytes of printable ASCII without a blank ("%LAND",
// "C%LAND", "Class-All" and "2nd" included).
bool isValidDbfFieldName(std::string_view name);

// The name a new field gets when `wanted` is to be stored beside the fields
// `taken` (compared without regard to case): `wanted` itself when it is a
// dBASE name that is free; otherwise its bytes that dBASE cannot hold (not
// printable ASCII, blanks) become '_', it is cut to 10 bytes, and on a
// collision its end gives way to "_1", "_2", ... (the first free one). The
// same wanted name and taken set always give the same name. Callers keep
// the wanted name -> field index map; they never find a column again by
// its long name.
std::string dbfFieldNameFor(std::string_view wanted, const std::vector<std::string>& taken);

// Case-insensitive comparison of field names, as dBASE compares them.
bool sameFieldName(std::string_view a, std::string_view b);

// The ordered fields of a table: the object id first, then for a feature
// class the shape, then the attribute fields in file order.
class Fields {
public:
    Fields() = default;
    explicit Fields(std::vector<FieldDef> defs) : defs_(std::move(defs)) {}

    int32_t count() const { return static_cast<int32_t>(defs_.size()); }
    // Fails (HostInvalidArg) when the index is out of range.
    const FieldDef& field(int32_t index) const;
    // Index of the field of that name (case-insensitive), or -1.
    int32_t find(std::string_view name) const;
    const std::vector<FieldDef>& all() const { return defs_; }
    std::vector<std::string> names() const;

    void add(FieldDef f) { defs_.push_back(std::move(f)); }
    void remove(int32_t index) { defs_.erase(defs_.begin() + index); }

private:
    std::vector<FieldDef> defs_;
};

}  // namespace korvane::host
