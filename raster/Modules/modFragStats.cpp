#include "raster/Modules/modFragStats.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <fmt/format.h>

#include "host/Failure.h"
#include "host/System.h"
#include "host/data/Value.h"

namespace kv {

namespace h = korvane::host;
namespace stdfs = std::filesystem;

// ---- the run's folder ---------------------------------------------------------

FragStatsFolder::FragStatsFolder(h::fs::FolderRemover* removal) : removal_(removal) {
    std::string pattern = h::fs::BuildPath(h::fs::GetTempFolder(), "korvane-fragstat.XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    // mkdtemp makes the folder with mode 0700, under a name nobody else holds.
    if (!::mkdtemp(buffer.data()))
        h::fail(h::err::PathNotFound, "Korvane",
                fmt::format("Cannot make a working folder in {}: {}.", h::fs::GetTempFolder(), std::strerror(errno)));
    path_ = buffer.data();
}

FragStatsFolder::~FragStatsFolder() {
    if (keep_ || path_.empty()) return;
    if (removal_) {
        removal_->remove(path_);
        return;
    }
    std::error_code ec;
    stdfs::remove_all(path_, ec);
}

std::string FragStatsFolder::base() const { return h::fs::BuildPath(path_, "frag_av"); }

// ---- the command line -----------------------------------------------------------

std::string NumberText(double x) { return fmt::format("{}", x); }

namespace {
std::string quoted(const std::string& s) { return "\"" + s + "\""; }
std::string orDefault(const std::string& typed, const std::string& fallback) {
    return typed.empty() ? fallback : typed;
}
}  // namespace

std::vector<std::string> FragStatsFields(const FragStatsCommand& c) {
    const std::string cell = NumberText(c.cellSize);
    return {
        quoted(c.program),
        quoted(c.base + ".flt"),
        quoted(c.base),
        cell,
        orDefault(c.bufferDistance, cell),
        "7",
        std::to_string(c.rows),
        std::to_string(c.cols),
        "-9999",
        "$",
        quoted(orDefault(c.weightFile, "$")),
        "$",
        "$",
        orDefault(c.BoundaryInfluence, "1"),
        c.diag ? "y" : "n",
        orDefault(c.MPIValue, "1000000000"),
        c.mnn ? "y" : "n",
        "NO",
        "$",
    };
}

std::string FragStatsCommandLine(const FragStatsCommand& c, bool display) {
    std::string line;
    for (const std::string& field : FragStatsFields(c)) {
        if (!line.empty()) line += display ? "\r\n " : " ";
        line += field;
    }
    return line;
}

// ---- the analysis parameters -------------------------------------------------------

std::string FragStatsParameterProblem(const std::string& bufferDistance, const std::string& MPIValue,
                                      const std::string& BoundaryInfluence) {
    struct Check {
        const char* what;
        const std::string& text;
        double max;
    } checks[] = {
        {"MPI Threshold", MPIValue, HUGE_VAL},
        {"Buffer Distance", bufferDistance, HUGE_VAL},
        {"Boundary Influence", BoundaryInfluence, 1.0},
    };
    for (const Check& c : checks) {
        if (c.text.empty()) continue;
        double v = 0;
        bool number = h::parseNumber(c.text, v);
        if (number && v >= 0 && v <= c.max) continue;
        std::string range = c.max == 1.0 ? "a number from 0 to 1" : "a number of 0 or more";
        return fmt::format("The {} '{}' is not {}.\r\nSet it with Set Analysis Parameters.  Cannot continue.", c.what,
                           c.text, range);
    }
    return {};
}

// ---- the output files -----------------------------------------------------------------

namespace {
bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view trimmed(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && blank(s[b])) ++b;
    while (e > b && blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}
}  // namespace

int32_t FragStatsBlock::column(std::string_view name) const {
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i] == name) return static_cast<int32_t>(i);
    return -1;
}

std::vector<std::string> SplitFragStatsLine(std::string_view line) {
    std::vector<std::string> tokens;
    line = trimmed(line);
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && blank(line[i])) ++i;
        size_t start = i;
        while (i < line.size() && !blank(line[i])) ++i;
        if (i > start) tokens.emplace_back(line.substr(start, i - start));
    }
    return tokens;
}

bool IsFragStatsHeader(std::string_view line) {
    line = trimmed(line);
    return line.size() > 3 && line.substr(0, 3) == "LID" && blank(line[3]);
}

FragStatsOutput ParseFragStatsOutput(std::string_view text) {
    FragStatsOutput out;
    size_t lineNo = 0;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = trimmed(text.substr(at, end - at));
        at = end + 1;
        ++lineNo;
        if (line.empty()) continue;
        std::vector<std::string> tokens = SplitFragStatsLine(line);
        if (IsFragStatsHeader(line)) {
            std::set<std::string> seen;
            for (const std::string& t : tokens) {
                if (!seen.insert(t).second) {
                    out.problem = fmt::format("line {}: the column {} appears twice in the header", lineNo, t);
                    return out;
                }
            }
            out.blocks.push_back({std::move(tokens), {}});
            continue;
        }
        if (out.blocks.empty()) {
            out.problem = fmt::format("line {}: a data line before the header line", lineNo);
            return out;
        }
        FragStatsBlock& block = out.blocks.back();
        if (tokens.size() != block.columns.size()) {
            out.problem = fmt::format("line {}: {} values under a header of {} columns", lineNo, tokens.size(),
                                      block.columns.size());
            return out;
        }
        block.rows.push_back(std::move(tokens));
    }
    if (out.blocks.empty()) out.problem = "the file has no header line";
    return out;
}

FragStatsOutput ReadFragStatsOutput(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        FragStatsOutput out;
        out.problem = "the file cannot be read";
        return out;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) {
        FragStatsOutput out;
        out.problem = "the file cannot be read to its end";
        return out;
    }
    return ParseFragStatsOutput(ss.str());
}

bool FragStatsValue(const std::string& token, std::optional<double>& out) {
    if (token == ".") {
        out.reset();
        return true;
    }
    double v = 0;
    if (!h::parseNumber(token, v)) return false;
    out = v;
    return true;
}

}  // namespace kv
