// The program end to end: files in, files out, exit codes.
#include <cstdlib>
#include <functional>

#include "support.h"

namespace {
using namespace kvtest;

class Program : public ScratchDir {
public:
    // The caller's command line for <dir>/<base>.flt.
    std::vector<std::string> line(const std::string& base, int64_t rows, int64_t cols, const std::string& bwt = "1",
                                  const std::string& nndist = "y", const std::string& weights = "\"$\"") const {
        return {path(base + ".flt"), path(base), "30", "30", "7", std::to_string(rows), std::to_string(cols),
                "-9999", "$", weights, "$", "$", bwt, "y", "1000000000", nndist, "NO", "$"};
    }
    int run_it(const std::vector<std::string>& args) {
        std::ostringstream err;
        const int rc = run(args, err);
        messages = err.str();
        return rc;
    }
    bool has_output(const std::string& base) const {
        for (const char* ext : {".land", ".class", ".patch"})
            if (fs::exists(path(base + ext))) return true;
        return false;
    }
    static std::vector<std::string> tokens(const std::string& l) {
        std::istringstream in(l);
        std::vector<std::string> out;
        std::string t;
        while (in >> t) out.push_back(t);
        return out;
    }
    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> out;
        std::istringstream in(text);
        std::string l;
        while (std::getline(in, l)) out.push_back(l);
        return out;
    }
    std::string messages;
};

const std::vector<float> kExample3 = {1, 1, 2, 1, 3, 2, 3, 3, -9999};

TEST_F(Program, WritesLandscapeAndClassFiles) {
    write_flt("ex3", kExample3, 3, 3);
    ASSERT_EQ(run_it(line("ex3", 3, 3, "0.5", "n")), 0) << messages;
    EXPECT_FALSE(fs::exists(path("ex3.patch")));  // the caller says NO

    const auto land = lines(slurp(path("ex3.land")));
    ASSERT_EQ(land.size(), 2u);
    const auto head = tokens(land[0]), values = tokens(land[1]);
    ASSERT_EQ(head.size(), values.size());
    EXPECT_EQ(head[0], "LID");
    EXPECT_EQ(values[0], path("ex3.flt"));
    const std::vector<std::string> first = {"0.7200000", "37.500000", "3", "416.666667", "0.2400000"};
    EXPECT_EQ(std::vector<std::string>(values.begin() + 1, values.begin() + 6), first);
    auto col = [&](const std::string& code) {
        return values[std::find(head.begin(), head.end(), code) - head.begin()];
    };
    EXPECT_EQ(col("TE"), "330.000000");
    EXPECT_EQ(col("ED"), "458.333333");
    EXPECT_EQ(col("CWED"), ".");
    EXPECT_EQ(col("LSI"), "1.502602");
    EXPECT_EQ(col("MNN"), ".");
    EXPECT_EQ(col("MPI"), ".");  // nearest neighbours switched off
    EXPECT_EQ(col("SHDI"), "1.082196");
    EXPECT_EQ(col("SIDI"), "0.6562500");
    EXPECT_EQ(col("IJI"), "86.497352");
    for (const char* class_only : {"CA", "%LAND", "C%LAND", "TYPE"})
        EXPECT_EQ(std::count(head.begin(), head.end(), class_only), 0) << class_only;

    const auto cls = lines(slurp(path("ex3.class")));
    ASSERT_EQ(cls.size(), 4u);
    const auto chead = tokens(cls[0]);
    EXPECT_EQ(chead[0], "LID");
    EXPECT_EQ(chead[1], "TYPE");
    for (const char* code : {"CA", "%LAND", "C%LAND", "CWED", "MCA2", "CASD2", "CACV2", "PSCV", "NP", "IJI"})
        EXPECT_EQ(std::count(chead.begin(), chead.end(), code), 1) << code;
    for (const char* land_only : {"TA", "SHDI", "SHEI", "PR"})
        EXPECT_EQ(std::count(chead.begin(), chead.end(), land_only), 0) << land_only;
    for (int k = 1; k <= 3; ++k) {
        const auto t = tokens(cls[k]);
        ASSERT_EQ(t.size(), chead.size());
        EXPECT_EQ(t[1], std::to_string(k));
    }
    for (const auto& text : {slurp(path("ex3.land")), slurp(path("ex3.class"))}) {
        EXPECT_EQ(text.find("nan"), std::string::npos);
        EXPECT_EQ(text.find("inf"), std::string::npos);
        EXPECT_EQ(text.find('\t'), std::string::npos);
    }
}

TEST_F(Program, BigEndianGridAndPatchFile) {
    write_flt("be", kExample3, 3, 3, /*big_endian=*/true);
    auto args = line("be", 3, 3);
    args[16] = "$";  // patch_stats: default yes
    ASSERT_EQ(run_it(args), 0) << messages;
    const auto land = lines(slurp(path("be.land")));
    EXPECT_EQ(tokens(land[1])[1], "0.7200000");
    const auto patch = lines(slurp(path("be.patch")));
    EXPECT_EQ(patch.size(), 4u);  // header + 3 patches
}

TEST_F(Program, AppendsToExistingFilesWithoutSecondHeader) {
    write_flt("ap", kExample3, 3, 3);
    ASSERT_EQ(run_it(line("ap", 3, 3)), 0) << messages;
    ASSERT_EQ(run_it(line("ap", 3, 3)), 0) << messages;
    const auto land = lines(slurp(path("ap.land")));
    ASSERT_EQ(land.size(), 3u);
    EXPECT_EQ(land[1], land[2]);
    EXPECT_EQ(lines(slurp(path("ap.class"))).size(), 7u);
    // A foreign leftover gets our header before our lines.
    std::ofstream(path("ap.land"), std::ios::trunc) << "something else\n";
    ASSERT_EQ(run_it(line("ap", 3, 3)), 0) << messages;
    const auto mixed = lines(slurp(path("ap.land")));
    ASSERT_EQ(mixed.size(), 3u);
    EXPECT_EQ(tokens(mixed[1])[0], "LID");
}

TEST_F(Program, UnreadableWeightFileOnlyWarns) {
    write_flt("w", kExample3, 3, 3);
    ASSERT_EQ(run_it(line("w", 3, 3, "1", "y", "\"" + path("no such weights.txt") + "\"")), 0);
    EXPECT_NE(messages.find("weight file"), std::string::npos);
    std::ofstream(path("all one.txt")) << "1 2 1\n1 3 1\n2 3 1\n";
    ASSERT_EQ(run_it(line("w", 3, 3, "1", "y", "\"" + path("all one.txt") + "\"")), 0) << messages;
    const auto land = lines(slurp(path("w.land")));
    const auto head = tokens(land[0]), values = tokens(land.back());
    auto col = [&](const std::string& code) {
        return values[std::find(head.begin(), head.end(), code) - head.begin()];
    };
    EXPECT_EQ(col("CWED"), col("ED"));
}

TEST_F(Program, FailuresWriteNothingAndExitNonZero) {
    struct Case {
        const char* name;
        std::function<std::vector<std::string>(Program&)> prepare;
        int rc;
    };
    const std::vector<Case> cases = {
        {"too few arguments", [](Program& p) { return std::vector<std::string>{p.path("g.flt"), p.path("g")}; }, 2},
        {"bad cell size", [](Program& p) { auto a = p.line("g", 3, 3); a[2] = "-30"; p.write_flt("g", kExample3, 3, 3); return a; }, 2},
        {"missing grid", [](Program& p) { return p.line("g", 3, 3); }, 1},
        {"short grid", [](Program& p) { p.write_flt("g", {1, 2, 3, 4, 5, 6, 7, 8}, 3, 3); return p.line("g", 3, 3); }, 1},
        {"long grid", [](Program& p) { p.write_flt("g", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 3, 3); return p.line("g", 3, 3); }, 1},
        {"non-integer value", [](Program& p) { p.write_flt("g", {1, 1, 2, 1, 3.5f, 2, 3, 3, 3}, 3, 3); return p.line("g", 3, 3); }, 1},
        {"infinite value", [](Program& p) { p.write_flt("g", {1, 1, 2, 1, INFINITY, 2, 3, 3, 3}, 3, 3); return p.line("g", 3, 3); }, 1},
        {"unreadable header", [](Program& p) {
             p.write_flt("g", kExample3, 3, 3);
             std::ofstream(p.path("g.hdr"), std::ios::trunc) << "ncols 3\nnrows 3\nbyteorder sideways\n";
             return p.line("g", 3, 3); }, 1},
        {"header disagrees", [](Program& p) { p.write_flt("g", kExample3, 3, 3); auto a = p.line("g", 3, 3); a[5] = "1"; a[6] = "9"; return a; }, 1},
        {"no size anywhere", [](Program& p) { p.write_flt("g", kExample3, 3, 3, false, false); auto a = p.line("g", 3, 3); a[5] = "$"; return a; }, 1},
        {"output folder missing", [](Program& p) { p.write_flt("g", kExample3, 3, 3); auto a = p.line("g", 3, 3); a[1] = p.path("nowhere/g"); return a; }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir);
        fs::create_directories(dir);
        const auto args = c.prepare(*this);
        EXPECT_EQ(run_it(args), c.rc);
        EXPECT_FALSE(messages.empty());
        EXPECT_FALSE(has_output("g"));
        EXPECT_FALSE(fs::exists(path("nowhere")));
        for (const auto& e : fs::directory_iterator(dir))
            EXPECT_EQ(e.path().string().find(".tmp~"), std::string::npos) << e.path();
    }
}

TEST_F(Program, EmptyLandscapeStillSucceeds) {
    write_flt("e", {-9999, NAN, -9999, -9999}, 2, 2);
    ASSERT_EQ(run_it(line("e", 2, 2)), 0) << messages;
    const auto land = lines(slurp(path("e.land")));
    ASSERT_EQ(land.size(), 2u);
    const auto t = tokens(land[1]);
    EXPECT_EQ(t[1], "0.000000");
    EXPECT_TRUE(std::all_of(t.begin() + 2, t.end(), [](const std::string& s) { return s == "."; }));
    EXPECT_EQ(lines(slurp(path("e.class"))).size(), 1u);
}

TEST_F(Program, RealProcessExitCodesAndQuotedPaths) {
    fs::create_directories(dir / "with blank");
    const std::string base = (dir / "with blank" / "frag_av").string();
    {
        std::ofstream out(base + ".flt", std::ios::binary);
        out.write(reinterpret_cast<const char*>(kExample3.data()), kExample3.size() * 4);
    }
    const std::string cmd = std::string("\"") + FRAGSTAT_BIN + "\" \"" + base + ".flt\" \"" + base +
                            "\" 30 30 7 3 3 -9999 $ \"$\" $ $ 1 y 1000000000 y NO $ 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_TRUE(fs::exists(base + ".land"));
    EXPECT_TRUE(fs::exists(base + ".class"));
    const std::string bad = std::string("\"") + FRAGSTAT_BIN + "\" 2>/dev/null";
    EXPECT_NE(std::system(bad.c_str()), 0);
}

TEST_F(Program, HelpPrintsUsageAndExitsZero) {
    for (const char* flag : {"--help", "-h"}) {
        std::ostringstream out, err;
        EXPECT_EQ(run(std::vector<std::string>{flag}, out, err), 0) << flag;
        EXPECT_NE(out.str().find("usage: fragstat"), std::string::npos);
        EXPECT_TRUE(err.str().empty());
    }
    const std::string cmd = std::string("\"") + FRAGSTAT_BIN + "\" --help >/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

// Fixed point, six decimals, more where six would keep fewer than seven
// significant digits; never an exponent.
TEST(FormatValue, FixedPointWithSevenSignificantDigits) {
    const std::pair<double, const char*> cases[] = {
        {1219.235343, "1219.235343"},    {458.3333333, "458.333333"},    {1.0, "1.000000"},
        {0.656250, "0.6562500"},         {0.1, "0.1000000"},             {0.099999999999, "0.1000000"},
        {0.0000673215, "0.00006732150"}, {-0.0000673215, "-0.00006732150"}, {1e-6, "0.000001000000"},
        {1e-12, "0.000000000001000000"}, {0.0, "0.000000"},              {-1e-300 * 0, "0.000000"},
        {123456789012.5, "123456789012.500000"}, {2.5e-6, "0.000002500000"},
    };
    for (auto [v, text] : cases) EXPECT_EQ(format_value(v, false), text) << v;
    EXPECT_EQ(format_value(1e-320, false).find('e'), std::string::npos);
    EXPECT_EQ(format_value(Value(), false), ".");
    EXPECT_EQ(format_value(3.0, true), "3");
}

}  // namespace
