#pragma once
// Small text helpers shared by the parsers.
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::fragstat::text {

inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

inline std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

inline std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Splits at runs of blanks and (optionally) commas.
inline std::vector<std::string_view> fields(std::string_view line, bool commas) {
    std::vector<std::string_view> out;
    size_t i = 0;
    auto sep = [&](char c) { return is_blank(c) || (commas && c == ','); };
    while (i < line.size()) {
        while (i < line.size() && sep(line[i])) ++i;
        size_t j = i;
        while (j < line.size() && !sep(line[j])) ++j;
        if (j > i) out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

// A finite decimal number, the whole token. A lone decimal comma is accepted
// as a decimal point (numbers written under a comma locale).
inline std::optional<double> to_double(std::string_view s) {
    s = trim(s);
    if (s.empty() || s.size() > 64) return std::nullopt;
    std::string buf(s);
    if (buf.find('.') == std::string::npos) {
        auto comma = buf.find(',');
        if (comma != std::string::npos && buf.find(',', comma + 1) == std::string::npos) buf[comma] = '.';
    }
    const char* b = buf.data();
    const char* e = b + buf.size();
    if (*b == '+') ++b;
    double v = 0;
    auto [p, ec] = std::from_chars(b, e, v, std::chars_format::general);
    if (ec != std::errc() || p != e || !std::isfinite(v)) return std::nullopt;
    return v;
}

// A whole number written as an integer (or as a number with a zero fraction).
inline std::optional<int64_t> to_int(std::string_view s) {
    auto d = to_double(s);
    if (!d || *d != std::floor(*d) || std::fabs(*d) > 9.0e15) return std::nullopt;
    return static_cast<int64_t>(*d);
}

// The whole content of a file, or nothing when it cannot be read.
inline std::optional<std::string> read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(ss).str();
}

}  // namespace korvane::fragstat::text
