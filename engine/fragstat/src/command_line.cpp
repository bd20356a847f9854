// Positional command line of the metrics program.
#include <fmt/format.h>

#include "fragstat/fragstat.h"
#include "text.h"

namespace korvane::fragstat {
namespace {

constexpr size_t kFieldCount = 18;
constexpr size_t kRequiredFields = 5;

std::string unquote(std::string s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    return s;
}

bool is_default(std::string_view s) { return s == "$" || s.empty(); }

[[noreturn]] void bad(size_t position, std::string_view name, std::string_view value, std::string_view why) {
    throw UsageError(fmt::format("argument {} ({}) '{}': {}", position, name, value, why));
}

double number(const std::vector<std::string>& a, size_t i, std::string_view name) {
    auto v = text::to_double(a[i]);
    if (!v) bad(i + 1, name, a[i], "not a number");
    return *v;
}

std::optional<int64_t> count(const std::vector<std::string>& a, size_t i, std::string_view name) {
    if (i >= a.size() || is_default(a[i])) return std::nullopt;
    auto v = text::to_int(a[i]);
    if (!v || *v <= 0) bad(i + 1, name, a[i], "not a positive whole number");
    return v;
}

bool yes_no(const std::vector<std::string>& a, size_t i, std::string_view name, bool dflt) {
    if (i >= a.size() || is_default(a[i])) return dflt;
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(a[i][0])));
    if (c == 'y') return true;
    if (c == 'n') return false;
    bad(i + 1, name, a[i], "expected y or n");
}

std::optional<std::string> path(const std::vector<std::string>& a, size_t i) {
    if (i >= a.size() || is_default(a[i])) return std::nullopt;
    return a[i];
}

std::string join(const std::vector<std::string>& a, size_t from, size_t to) {
    std::string out;
    for (size_t i = from; i < to; ++i) {
        if (i > from) out += ' ';
        out += a[i];
    }
    return out;
}

// An unquoted input path and base path holding blanks arrive split into
// several fields. The input path is the base path plus an extension, which
// pins down where to rejoin; refuse when that is not unique.
std::vector<std::string> rejoin_split_paths(const std::vector<std::string>& a) {
    const size_t extra = a.size() - kFieldCount;
    std::optional<std::vector<std::string>> found;
    int matches = 0;
    for (size_t k = 0; k <= extra; ++k) {
        std::string in = join(a, 0, k + 1);
        std::string base = join(a, k + 1, extra + 2);
        if (in.size() <= base.size() + 1 || in.compare(0, base.size(), base) != 0) continue;
        std::string_view ext = std::string_view(in).substr(base.size());
        if (ext[0] != '.' || ext.find_first_of("/\\ ") != std::string_view::npos) continue;
        std::vector<std::string> out{in, base};
        out.insert(out.end(), a.begin() + static_cast<std::ptrdiff_t>(extra + 2), a.end());
        found = std::move(out);
        ++matches;
    }
    if (matches != 1)
        throw UsageError(fmt::format("expected at most {} arguments, got {}", kFieldCount, a.size()));
    return *found;
}

}  // namespace

std::vector<std::string> split_command_string(std::string_view line) {
    std::vector<std::string> out;
    std::string cur;
    bool in_token = false, quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            in_token = true;
        } else if (!quoted && text::is_blank(c)) {
            if (in_token) out.push_back(std::move(cur));
            cur.clear();
            in_token = false;
        } else {
            cur += c;
            in_token = true;
        }
    }
    if (in_token) out.push_back(std::move(cur));
    return out;
}

std::string usage_text() {
    return "usage: fragstat in_image out_base cellsize edge_dist data_type [rows] [cols] [background]\n"
           "         [max_classes] [weight_file] [id_image] [desc_file] [bound_wght] [diags]\n"
           "         [prox_dist] [nndist] [patch_stats] [class_stats]\n"
           "  '$' takes the default: edge_dist = cellsize, data_type 7 (.flt + .hdr; 2 = text grid),\n"
           "  rows/cols from the header, background -9999, no max_classes (RPR '.'), no weight file\n"
           "  (CWED '.'), bound_wght 1, diags y, prox_dist 1000000000, nndist y, patch_stats y,\n"
           "  class_stats y. Writes <out_base>.land, .class and .patch. Cells equal to background\n"
           "  or NaN are outside the landscape; other negative values -k are border cells of class k.\n"
           "  id_image and desc_file are not supported and are ignored.\n"
           "  --threads N (anywhere on the line) uses at most N threads; the default is every core.\n"
           "  The results do not depend on it. --help prints this text, --version the version.\n";
}

Options parse_command_line(std::span<const std::string> raw) {
    std::vector<std::string> a;
    for (const auto& s : raw) a.push_back(unquote(s));
    // The whole command handed over as one string.
    if (a.size() == 1 && a[0].find_first_of(" \t") != std::string::npos) a = split_command_string(a[0]);
    // Named options, anywhere among the positional fields.
    std::optional<unsigned> threads;
    for (size_t i = 0; i < a.size();) {
        std::string value;
        if (a[i] == "--threads") {
            if (i + 1 >= a.size()) throw UsageError("--threads needs a number of threads");
            value = a[i + 1];
            a.erase(a.begin() + static_cast<std::ptrdiff_t>(i), a.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        } else if (a[i].starts_with("--threads=")) {
            value = a[i].substr(10);
            a.erase(a.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
            continue;
        }
        const auto t = text::to_int(value);
        if (!t || *t < 1 || *t > 4096) throw UsageError(fmt::format("--threads '{}': expected 1 to 4096", value));
        threads = static_cast<unsigned>(*t);
    }
    if (a.size() < kRequiredFields)
        throw UsageError(fmt::format("expected at least {} arguments, got {}", kRequiredFields, a.size()));
    if (a.size() > kFieldCount) a = rejoin_split_paths(a);

    Options o;
    if (is_default(a[0])) bad(1, "in_image", a[0], "an input grid is required");
    if (is_default(a[1])) bad(2, "out_file", a[1], "an output base name is required");
    o.in_image = a[0];
    o.out_base = a[1];

    if (is_default(a[2])) bad(3, "cellsize", a[2], "a cell size is required");
    o.cell_size = number(a, 2, "cellsize");
    if (!(o.cell_size > 0)) bad(3, "cellsize", a[2], "must be greater than 0");

    o.edge_depth = is_default(a[3]) ? o.cell_size : number(a, 3, "edge_dist");
    if (o.edge_depth < 0) bad(4, "edge_dist", a[3], "must not be negative");

    if (!is_default(a[4])) {
        auto t = text::to_int(a[4]);
        if (!t || (*t != 7 && *t != 2)) bad(5, "data_type", a[4], "unsupported (7 = float grid, 2 = text grid)");
        o.data_type = static_cast<DataType>(*t);
    }
    o.rows = count(a, 5, "rows");
    o.cols = count(a, 6, "cols");
    if (a.size() > 7 && !is_default(a[7])) o.background = number(a, 7, "background");
    o.max_classes = count(a, 8, "max_classes");
    o.weight_file = path(a, 9);
    o.id_image = path(a, 10);
    o.desc_file = path(a, 11);
    if (a.size() > 12 && !is_default(a[12])) {
        o.bwt = number(a, 12, "bound_wght");
        if (o.bwt < 0 || o.bwt > 1) bad(13, "bound_wght", a[12], "must lie between 0 and 1");
    }
    o.diags = yes_no(a, 13, "diags", true);
    if (a.size() > 14 && !is_default(a[14])) {
        o.prox_dist = number(a, 14, "prox_dist");
        if (o.prox_dist < 0) bad(15, "prox_dist", a[14], "must not be negative");
    }
    o.nndist = yes_no(a, 15, "nndist", true);
    o.patch_stats = yes_no(a, 16, "patch_stats", true);
    o.class_stats = yes_no(a, 17, "class_stats", true);
    o.threads = threads.value_or(0);
    return o;
}

}  // namespace korvane::fragstat
