#pragma once
// Field values as rows carry them: null, integer, single, double, text or
// date, in one variant.
#include <compare>
#include <cstdint>
#include <string>
#include <variant>

namespace korvane::host {

// A calendar date as a dBASE date field holds it (no time of day).
struct Date {
    int32_t year = 0;
    int32_t month = 0;
    int32_t day = 0;
    auto operator<=>(const Date&) const = default;
};

// Null is std::monostate. Short and long integers are both int32_t; single
// fields read as float, double fields as double.
using Value = std::variant<std::monostate, int32_t, float, double, std::string, Date>;

inline bool isNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }
inline bool isNumber(const Value& v) {
    return std::holds_alternative<int32_t>(v) || std::holds_alternative<float>(v) ||
           std::holds_alternative<double>(v);
}

// The value as a double: numbers as they are, text parsed as a number.
// Fails (Failure, HostInvalidArg) for null, dates and text that is no number.
double toDouble(const Value& v);
// The value as text: numbers in their shortest exact form, dates as
// YYYY-MM-DD, null as the empty string.
std::string toText(const Value& v);

// Parses a whole string as a number (blanks around allowed). False when the
// text is not exactly one number.
bool parseNumber(const std::string& text, double& out);
// Parses YYYY-MM-DD or YYYY/MM/DD; false when the text is not such a date.
bool parseDate(const std::string& text, Date& out);

}  // namespace korvane::host
