#pragma once
// Helpers for the metrics engine tests: small grids from text, the engine
// run on them, and scratch folders for program runs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fragstat/fragstat.h"

namespace kvtest {

namespace fs = std::filesystem;
using namespace korvane::fragstat;

// Rows of blank-separated values, top row first; "x" is no-data (-9999).
inline ClassGrid grid_of(const std::vector<std::string>& rows) {
    ClassGrid g;
    g.rows = static_cast<int64_t>(rows.size());
    for (const auto& line : rows) {
        std::istringstream in(line);
        std::string tok;
        int64_t n = 0;
        while (in >> tok) {
            const double v = tok == "x" ? -9999.0 : std::stod(tok);
            g.cells.push_back(cell_code(v, -9999.0, std::nullopt));
            ++n;
        }
        g.cols = n;
    }
    return g;
}

inline Params params(double cell, double depth, double bwt, bool diags, bool nndist = true) {
    Params p;
    p.cell_size = cell;
    p.edge_depth = depth;
    p.bwt = bwt;
    p.diags = diags;
    p.nndist = nndist;
    return p;
}

inline const ClassResult& cls(const Results& r, int64_t type) {
    for (const auto& c : r.classes)
        if (c.type == type) return c;
    throw std::out_of_range("no such class");
}

// One expected value of one code; NAN stands for ".".
struct Expect {
    const char* code;
    double value;
};
inline void expect_row(const MetricRow& row, std::initializer_list<Expect> expected, double tol,
                       const std::string& where) {
    for (const auto& e : expected) {
        const Value v = row.at(e.code);
        if (std::isnan(e.value)) {
            EXPECT_FALSE(v.has_value()) << where << " " << e.code << " = " << v.value_or(0);
        } else {
            ASSERT_TRUE(v.has_value()) << where << " " << e.code << " is '.'";
            EXPECT_NEAR(*v, e.value, tol) << where << " " << e.code;
        }
    }
}

// Clustered random landscape: a few seeds per class grown by random
// neighbour copying, with some no-data cells; deterministic for a seed.
inline ClassGrid random_landscape(int64_t rows, int64_t cols, int classes, uint32_t seed, double nodata_share = 0.05) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, classes - 1);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<int> v(static_cast<size_t>(rows * cols));
    for (auto& x : v) x = pick(rng);
    // Smooth by majority-ish copying so that patches of several cells form.
    for (int pass = 0; pass < 3; ++pass)
        for (int64_t i = 0; i < rows * cols; ++i) {
            const int64_t r = i / cols, c = i % cols;
            const int dr = static_cast<int>(rng() % 3) - 1, dc = static_cast<int>(rng() % 3) - 1;
            const int64_t rr = r + dr, cc = c + dc;
            if (rr >= 0 && rr < rows && cc >= 0 && cc < cols && u(rng) < 0.7) v[i] = v[rr * cols + cc];
        }
    ClassGrid g;
    g.rows = rows;
    g.cols = cols;
    for (int x : v) g.cells.push_back(u(rng) < nodata_share ? kOutsideCell : x + 1);
    return g;
}

// A fresh, empty scratch folder per test.
class ScratchDir : public ::testing::Test {
public:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() / "kv_fragstat_tests" /
              (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string path(const std::string& name) const { return (dir / name).string(); }

    // Writes a float grid with its header.
    void write_flt(const std::string& base, const std::vector<float>& values, int64_t rows, int64_t cols,
                   bool big_endian = false, bool with_header = true) const {
        std::ofstream out(path(base + ".flt"), std::ios::binary);
        for (float f : values) {
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            if (big_endian) bits = __builtin_bswap32(bits);
            out.write(reinterpret_cast<const char*>(&bits), 4);
        }
        if (with_header) {
            std::ofstream h(path(base + ".hdr"));
            h << "ncols " << cols << "\nnrows " << rows << "\nxllcorner 0\nyllcorner 0\ncellsize 30\n"
              << "NODATA_value -9999\nbyteorder " << (big_endian ? "MSBFIRST" : "LSBFIRST") << "\n";
        }
    }

    static std::string slurp(const std::string& p) {
        std::ifstream in(p);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    fs::path dir;
};

}  // namespace kvtest
