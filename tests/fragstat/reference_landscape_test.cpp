// The public 30 x 30 example landscape (tests/data/lsm-landscape) against its reference results (edge
// depth 1 m, boundary weight 0, 8-cell rule), for every metric whose
// definition is the same in both; and this program's own definitions where
// they differ.
#include <map>
#include <set>
#include <tuple>

#include "support.h"

namespace {
using namespace kvtest;

const std::string kDir = std::string(KV_TEST_DATA) + "/lsm-landscape/";

// Our code -> the reference column of the same definition.
const std::vector<std::pair<std::string, std::string>> kSameDefinition = {
    {"TA", "TA"},       {"CA", "CA"},         {"%LAND", "PLAND"},   {"NP", "NP"},         {"PD", "PD"},
    {"LPI", "LPI"},     {"TE", "TE"},         {"ED", "ED"},         {"MPS", "AREA_MN"},   {"PSSD", "AREA_SD"},
    {"PSCV", "AREA_CV"}, {"MPFD", "FRAC_MN"}, {"DLFD", "PAFRAC"},   {"TCA", "TCA"},       {"C%LAND", "CPLAND"},
    {"NCA", "NDCA"},    {"CAD", "DCAD"},      {"MCA1", "CORE_MN"},  {"CASD1", "CORE_SD"}, {"CACV1", "CORE_CV"},
    {"MCA2", "DCORE_MN"}, {"CASD2", "DCORE_SD"}, {"CACV2", "DCORE_CV"}, {"MCAI", "CAI_MN"}, {"MNN", "ENN_MN"},
    {"NNSD", "ENN_SD"}, {"NNCV", "ENN_CV"},   {"IJI", "IJI"},       {"SHDI", "SHDI"},     {"SHEI", "SHEI"},
    {"SIDI", "SIDI"},   {"SIEI", "SIEI"},     {"MSIDI", "MSIDI"},   {"MSIEI", "MSIEI"},   {"PR", "PR"},
    {"PRD", "PRD"}};

using CsvRow = std::map<std::string, std::string>;
std::vector<CsvRow> read_csv(const std::string& file) {
    std::ifstream in(kDir + file);
    std::vector<CsvRow> rows;
    std::string line;
    std::vector<std::string> head;
    auto split = [](const std::string& l) {
        std::vector<std::string> out;
        std::stringstream ss(l);
        std::string cell;
        while (std::getline(ss, cell, ',')) {
            const auto b = cell.find_first_not_of(' '), e = cell.find_last_not_of(" \r");
            out.push_back(b == std::string::npos ? "" : cell.substr(b, e - b + 1));
        }
        return out;
    };
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (head.empty()) {
            head = split(line);
            continue;
        }
        const auto cells = split(line);
        CsvRow row;
        for (size_t i = 0; i < head.size() && i < cells.size(); ++i) row[head[i]] = cells[i];
        rows.push_back(row);
    }
    return rows;
}

Results reference_run(double bwt) {
    std::ifstream in(kDir + "landscape.asc");
    std::stringstream ss;
    ss << in.rdbuf();
    return compute(parse_ascii_grid(ss.str(), std::nullopt, std::nullopt, -9999), params(1, 1, bwt, true));
}

// Same value at the reference's printed precision (4 decimals); "." for NA.
void compare(const MetricRow& ours, const CsvRow& ref, const std::string& where) {
    for (const auto& [code, column] : kSameDefinition) {
        auto it = ref.find(column);
        if (it == ref.end()) continue;  // landscape-only or class-only column
        const Value v = ours.at(code);
        if (it->second == "NA") {
            EXPECT_FALSE(v.has_value()) << where << " " << code;
            continue;
        }
        ASSERT_TRUE(v.has_value()) << where << " " << code << " is '.'";
        EXPECT_NEAR(*v, std::stod(it->second), 0.5e-4 + 1e-9) << where << " " << code << " vs " << column;
    }
}

TEST(ReferenceLandscape, MatchesEveryMetricOfTheSameDefinition) {
    ASSERT_TRUE(fs::exists(kDir + "landscape.asc")) << kDir;
    const Results r = reference_run(0);
    const auto land = read_csv("reference-landscape.csv");
    ASSERT_EQ(land.size(), 1u);
    compare(r.landscape, land[0], "landscape");
    // The landscape is square, so both LSI forms agree there.
    EXPECT_NEAR(*r.landscape.at("LSI"), std::stod(land[0].at("LSI")), 0.5e-4);

    const auto classes = read_csv("reference-class.csv");
    ASSERT_EQ(classes.size(), 3u);
    ASSERT_EQ(r.classes.size(), 3u);
    for (const auto& row : classes) {
        const int64_t type = std::stoll(row.at("TYPE").substr(row.at("TYPE").find('_') + 1));
        compare(cls(r, type).row, row, "class " + std::to_string(type));
    }
}

TEST(ReferenceLandscape, PatchCoresAndNeighboursMatchPatchResults) {
    Results r;
    {
        std::ifstream in(kDir + "landscape.asc");
        std::stringstream ss;
        ss << in.rdbuf();
        Params p = params(1, 1, 0, true);
        p.patch_records = true;
        r = compute(parse_ascii_grid(ss.str(), std::nullopt, std::nullopt, -9999), p);
    }
    // Patch numbering differs, so the patches are compared as a multiset of
    // (class, area, perimeter, core, cores, nearest neighbour).
    std::multiset<std::tuple<int64_t, int64_t, int64_t, int64_t, int64_t, double>> ours, ref;
    for (const auto& p : r.patches)
        ours.insert({p.type, p.cells, p.perimeter_sides, p.core_cells, p.cores,
                     std::round(*p.nearest * 1e4) / 1e4});
    for (const auto& row : read_csv("reference-patch.csv")) {
        const auto& t = row.at("TYPE");
        ref.insert({std::stoll(t.substr(t.find('_') + 1)), std::llround(std::stod(row.at("AREA")) * 1e4),
                    std::llround(std::stod(row.at("PERIM"))), std::llround(std::stod(row.at("CORE")) * 1e4),
                    std::llround(std::stod(row.at("NCORE"))), std::round(std::stod(row.at("ENN")) * 1e4) / 1e4});
    }
    EXPECT_EQ(ours, ref);
}

TEST(ReferenceLandscape, ClassicDefinitionsWhereTheyDiffer) {
    const Results r = reference_run(0);
    const double tol = 0.5e-4 + 1e-9;
    expect_row(r.landscape, {{"MSI", 1.3663}, {"LSI", 3.8333}, {"AWMSI", 1.7927}, {"TCAI", 44.3333}, {"MPI", 15.9177}},
               tol, "landscape");
    const std::vector<std::array<double, 6>> per_class = {
        // MSI, LSI, AWMSI, TCAI, MPI, TE with boundary weight 1
        {1.3274, 1.6167, 1.7443, 41.3043, 7.9015, 194},
        {1.2179, 2.0000, 1.4576, 38.0342, 5.7639, 240},
        {1.7460, 3.0500, 1.9738, 48.5477, 49.9419, 366}};
    const Results full = reference_run(1);
    for (int k = 1; k <= 3; ++k) {
        const auto& e = per_class[k - 1];
        expect_row(cls(r, k).row,
                   {{"MSI", e[0]}, {"LSI", e[1]}, {"AWMSI", e[2]}, {"TCAI", e[3]}, {"MPI", e[4]}}, tol,
                   "class " + std::to_string(k));
        expect_row(cls(full, k).row, {{"TE", e[5]}, {"LSI", e[1]}}, tol, "class (bwt 1) " + std::to_string(k));
    }
    expect_row(full.landscape, {{"TE", 460}}, tol, "landscape (bwt 1)");
}

}  // namespace
