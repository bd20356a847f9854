#include "host/data/Value.h"

#include <fmt/format.h>

#include <cctype>
#include <charconv>
#include <cmath>

#include "host/Failure.h"
#include "host/data/Field.h"

namespace korvane::host {

bool parseNumber(const std::string& text, double& out) {
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    if (b == e) return false;
    if (text[b] == '+') ++b;  // from_chars takes '-' only
    if (b == e) return false;
    double v = 0;
    auto [p, ec] = std::from_chars(text.data() + b, text.data() + e, v, std::chars_format::general);
    if (ec != std::errc() || p != text.data() + e) return false;
    if (!std::isfinite(v)) return false;
    out = v;
    return true;
}

bool parseDate(const std::string& text, Date& out) {
    int y, m, d;
    char s1, s2;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d%c%2d%c%2d%n", &y, &s1, &m, &s2, &d, &consumed) != 5) return false;
    if (static_cast<size_t>(consumed) != text.size() || s1 != s2 || (s1 != '-' && s1 != '/')) return false;
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1 || d > days[m - 1]) return false;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (m == 2 && d == 29 && !leap) return false;
    out = {y, m, d};
    return true;
}

double toDouble(const Value& v) {
    if (auto p = std::get_if<int32_t>(&v)) return *p;
    if (auto p = std::get_if<float>(&v)) return *p;
    if (auto p = std::get_if<double>(&v)) return *p;
    if (auto p = std::get_if<std::string>(&v)) {
        double d;
        if (parseNumber(*p, d)) return d;
        fail(err::HostInvalidArg, "Value", "The text '" + *p + "' is not a number.");
    }
    if (isNull(v)) fail(err::HostInvalidArg, "Value", "The value is null.");
    fail(err::HostInvalidArg, "Value", "A date is not a number.");
}

std::string toText(const Value& v) {
    if (auto p = std::get_if<int32_t>(&v)) return fmt::format("{}", *p);
    if (auto p = std::get_if<float>(&v)) return fmt::format("{}", *p);
    if (auto p = std::get_if<double>(&v)) return fmt::format("{}", *p);
    if (auto p = std::get_if<std::string>(&v)) return *p;
    if (auto p = std::get_if<Date>(&v)) return fmt::format("{:04}-{:02}-{:02}", p->year, p->month, p->day);
    return {};
}

// ---- fields -----------------------------------------------------------------

const char* fieldTypeName(int32_t type) {
    switch (type) {
        case FieldSmallInteger: return "short integer";
        case FieldInteger: return "long integer";
        case FieldSingle: return "single";
        case FieldDouble: return "double";
        case FieldString: return "text";
        case FieldDate: return "date";
        case FieldOID: return "object id";
        case FieldGeometry: return "geometry";
        default: return "unknown";
    }
}

bool sameFieldName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

const FieldDef& Fields::field(int32_t index) const {
    if (index < 0 || index >= count())
        fail(err::HostInvalidArg, "Fields", fmt::format("There is no field at index {}.", index));
    return defs_[static_cast<size_t>(index)];
}

int32_t Fields::find(std::string_view name) const {
    for (size_t i = 0; i < defs_.size(); ++i)
        if (sameFieldName(defs_[i].name, name)) return static_cast<int32_t>(i);
    return -1;
}

std::vector<std::string> Fields::names() const {
    std::vector<std::string> out;
    out.reserve(defs_.size());
    for (const auto& f : defs_) out.push_back(f.name);
    return out;
}

}  // namespace korvane::host
