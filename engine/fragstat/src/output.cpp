// Metric codes and the text of the output files.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "fragstat/fragstat.h"

namespace korvane::fragstat {
namespace {

constexpr std::string_view kNames[] = {
#define KV_NAME(id, name) name,
    KV_FRAGSTAT_CODES(KV_NAME)
#undef KV_NAME
};

using C = Code;
constexpr Code kLand[] = {C::TA,    C::LPI,   C::NP,    C::PD,    C::MPS,   C::PSSD,  C::PSCV,  C::TE,   C::ED,
                          C::CWED,  C::LSI,   C::MSI,   C::AWMSI, C::DLFD,  C::MPFD,  C::AWMPFD, C::TCA, C::NCA,
                          C::CAD,   C::MCA1,  C::CASD1, C::CACV1, C::MCA2,  C::CASD2, C::CACV2, C::TCAI, C::MCAI,
                          C::MNN,   C::NNSD,  C::NNCV,  C::MPI,   C::SHDI,  C::SIDI,  C::MSIDI, C::PR,   C::PRD,
                          C::RPR,   C::SHEI,  C::SIEI,  C::MSIEI, C::IJI};
constexpr Code kClass[] = {C::CA,    C::PLAND, C::LPI,   C::NP,    C::PD,    C::MPS,   C::PSSD,  C::PSCV,
                           C::TE,    C::ED,    C::CWED,  C::LSI,   C::MSI,   C::AWMSI, C::DLFD,  C::MPFD,
                           C::AWMPFD, C::CPLAND, C::TCA, C::NCA,   C::CAD,   C::MCA1,  C::CASD1, C::CACV1,
                           C::MCA2,  C::CASD2, C::CACV2, C::TCAI,  C::MCAI,  C::MNN,   C::NNSD,  C::NNCV,
                           C::MPI,   C::IJI};

// Enough for the smallest positive double's leading digits.
constexpr int kMaxDecimals = 330;

bool is_count(Code c) { return c == C::NP || c == C::NCA || c == C::PR; }

std::string header(std::span<const Code> cols, bool with_type) {
    std::string out = with_type ? "LID TYPE" : "LID";
    for (Code c : cols) {
        out += ' ';
        out += code_name(c);
    }
    return out;
}

std::string line(std::string_view lid, const std::string* type, const MetricRow& row, std::span<const Code> cols) {
    std::string out(lid);
    if (type) {
        out += ' ';
        out += *type;
    }
    for (Code c : cols) {
        out += ' ';
        out += format_value(row[c], is_count(c));
    }
    return out;
}

}  // namespace

std::string_view code_name(Code code) { return kNames[static_cast<int>(code)]; }

std::optional<Code> code_from_name(std::string_view name) {
    for (int i = 0; i < kCodeCount; ++i)
        if (kNames[i] == name) return static_cast<Code>(i);
    return std::nullopt;
}

Value MetricRow::at(std::string_view name) const {
    auto c = code_from_name(name);
    if (!c) throw std::out_of_range(fmt::format("unknown metric code '{}'", name));
    return (*this)[*c];
}

std::span<const Code> land_columns() { return kLand; }
std::span<const Code> class_columns() { return kClass; }

std::string format_value(const Value& v, bool integer) {
    if (!v || !std::isfinite(*v)) return ".";
    if (integer && std::fabs(*v) < 9e15) return fmt::format("{}", static_cast<int64_t>(std::llround(*v)));
    // Six decimals, and more for small magnitudes so that at least seven
    // significant digits remain (0.000067 at six decimals keeps only two).
    // Never an exponent: the reader and spreadsheets take the text as is.
    const double mag = std::fabs(*v);
    if (mag == 0) return "0.000000";
    int decimals = 6;
    if (mag < 1) {
        const int exponent = static_cast<int>(std::floor(std::log10(mag)));  // -1 for 0.1 .. 0.99
        decimals = std::min(kMaxDecimals, 6 - exponent);
        // Rounding may carry into the next decade (0.09999999 -> 0.1000000).
        const std::string s = fmt::format("{:.{}f}", *v, decimals);
        const size_t first = s.find_first_of("123456789");
        if (first != std::string::npos && decimals > 6) {
            const size_t point = s.find('.');
            const int sig = static_cast<int>(s.size() - first) - (first < point ? 1 : 0);
            if (sig > 7) decimals -= sig - 7;
        }
    }
    std::string s = fmt::format("{:.{}f}", *v, decimals);
    if (s.find_first_not_of("-0.") == std::string::npos) return "0.000000";  // no "-0.000000"
    return s;
}

std::string lid_token(std::string_view in_image) {
    std::string out;
    for (char c : in_image) out += (c == ' ' || c == '\t' || c == '\r' || c == '\n') ? '_' : c;
    if (out.empty()) out = "_";
    // A data line must never read as a header line.
    if (out == "LID") out = "LID_";
    return out;
}

std::string land_header() { return header(kLand, false); }
std::string class_header() { return header(kClass, true); }

std::string land_line(const Results& r, std::string_view lid) { return line(lid, nullptr, r.landscape, kLand); }

std::vector<std::string> class_lines(const Results& r, std::string_view lid) {
    std::vector<std::string> out;
    for (const auto& c : r.classes) {
        const std::string type = fmt::format("{}", c.type);
        out.push_back(line(lid, &type, c.row, kClass));
    }
    return out;
}

}  // namespace korvane::fragstat
