// The region statistics' own rules: the metric lists of the dialog, the
// status text, the class proportion bins, the where clauses, the rows of one
// region's output and the cross-tabulations of appended runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "TestFiles.h"
#include "host/data/Table.h"
#include "host/data/Workspace.h"
#include "raster/Forms/frmGridRegionStats.h"
#include "raster/Modules/modFragStats.h"
#include "raster/Modules/modRegionStats.h"

namespace {

namespace h = korvane::host;

TEST(RegionStatsRules, StatsToRunStrings) {
    const std::string classList =
        "CA, TLA, NumP, MPS, PSCoV, PSSD, TE, ED, MSI, AWMSI, MPFD, AWMPFD, TCA, CAD, MCA, CASD, CACoV, TCAI, CACV1, "
        "CASD1, %LAND, C%LAND, DLFD, LPI, LSI, MCAI, MCA1, NCA";
    const std::string bothList =
        "CA, TLA, NumP, MPS, PSCoV, PSSD, TE, ED, MSI, AWMSI, MPFD, AWMPFD, SDI, SEI, TCA, CAD, MCA, CASD, CACoV, "
        "TCAI, CACV1, CASD1, %LAND, C%LAND, DLFD, LPI, LSI, MCAI, MCA1, NCA, MSIDI, PR, PRD, SHEI, SIEI, MSIEI";
    EXPECT_EQ(kv::RegionStatsToRun(false, false, false, false, false), classList);
    EXPECT_EQ(kv::RegionStatsToRun(true, false, false, false, false), bothList);
    EXPECT_EQ(kv::RegionStatsToRun(false, true, false, false, true), "CWED, IJI, " + classList);
    EXPECT_EQ(kv::RegionStatsToRun(true, true, true, true, true), "CWED, MPI, MNN, IJI, " + bothList);
    // The run's reading of it: blanks go, each code once.
    std::vector<std::string> codes = kv::RegionRequestedCodes(" CWED,IJI , CA,CA,, %LAND");
    EXPECT_EQ(codes, (std::vector<std::string>{"CWED", "IJI", "CA", "%LAND"}));
}

TEST(RegionStatsRules, StatusTextRoundsHalvesToEven) {
    struct Case {
        int64_t i, n;
        const char* percent;
    } cases[] = {{0, 4, "0"}, {1, 4, "25"}, {1, 8, "12"}, {3, 8, "38"}, {5, 8, "62"}, {1, 3, "33"}, {2, 3, "67"}};
    for (const Case& c : cases)
        EXPECT_EQ(kv::RegionStatusText("REGION", "North", c.i, c.n),
                  std::string("Processing REGION = North   (") + c.percent + "% complete)")
            << c.i << "/" << c.n;
}

TEST(RegionStatsRules, ClassHistBinEdges) {
    struct Case {
        double p;
        int32_t bin;
    } cases[] = {{0, 0},      {-0.01, 0}, {1e-9, 5},  {0.1, 5},   {0.1000001, 15}, {0.2, 15},
                 {0.45, 45},  {0.9, 85},  {0.95, 95}, {1.0, 95},  {1.0000001, 0},  {10.0 / 100, 5}};
    for (const Case& c : cases) EXPECT_EQ(kv::ClassHistBin(c.p), c.bin) << c.p;
}

TEST(RegionStatsRules, WhereClausesDoubleQuotesAndTestNulls) {
    EXPECT_EQ(kv::RegionWhereClause("REGIONID", false, h::Value(int32_t{7})), "REGIONID = 7");
    EXPECT_EQ(kv::RegionWhereClause("SHARE", false, h::Value(2.5)), "SHARE = 2.5");
    EXPECT_EQ(kv::RegionWhereClause("REGION", true, h::Value(std::string("North"))), "REGION = 'North'");
    EXPECT_EQ(kv::RegionWhereClause("REGION", true, h::Value(std::string("O'Brien's"))), "REGION = 'O''Brien''s'");
    EXPECT_EQ(kv::RegionWhereClause("REGION", true, h::Value()), "REGION IS NULL");
    EXPECT_EQ(kv::RegionWhereClause("REGIONID", false, h::Value()), "REGIONID IS NULL");
}

kv::GridStatsFile parsed(bool landscape, const char* text) {
    kv::GridStatsFile f;
    f.landscape = landscape;
    f.output = kv::ParseFragStatsOutput(text);
    EXPECT_TRUE(f.output.ok()) << f.output.problem;
    return f;
}

TEST(RegionStatsRules, RowsOfOneRegionNameFieldsByCodeAndKeepBlanks) {
    kv::RegionStatsRows rows;
    std::vector<kv::GridStatsFile> files = {
        parsed(true, "LID TA NP SHEI\nx 12.5 3 0.5\n"),
        parsed(false, "LID TYPE CA NP %LAND\nx 10 5 2 10\nx 20 7.5 1 .\nx 30 0 1 100\n"),
    };
    const std::vector<std::string> codes = {"TLA", "NumP", "SEI", "CA", "%LAND", "NOSUCH"};
    ASSERT_EQ(kv::AddRegionRows(rows, files, codes, 4, h::Value(std::string("North"))), "");
    EXPECT_EQ(rows.codes, (std::vector<std::string>{"TLA", "NumP", "SEI", "CA", "%LAND"}));
    ASSERT_EQ(rows.rows.size(), 4u);
    EXPECT_EQ(rows.rows[0].Class, "All");
    EXPECT_FALSE(rows.rows[0].classProp);
    EXPECT_EQ(rows.rows[0].values[0], 12.5);
    EXPECT_EQ(rows.rows[0].values[2], 0.5);
    EXPECT_EQ(rows.rows[1].Class, "10");
    EXPECT_EQ(rows.rows[1].classProp, 0.1);
    EXPECT_EQ(rows.rows[1].classHist, 5);
    // "." is a blank: no proportion or bin is made up for it.
    EXPECT_FALSE(rows.rows[2].values[4]);
    EXPECT_FALSE(rows.rows[2].classProp);
    EXPECT_FALSE(rows.rows[2].classHist);
    EXPECT_EQ(rows.rows[3].classHist, 95);
    for (const auto& r : rows.rows) EXPECT_EQ(r.run, 4);
    // A token that is no number is refused.
    kv::RegionStatsRows bad;
    EXPECT_NE(kv::AddRegionRows(bad, {parsed(true, "LID TA\nx 1e\n")}, {"TLA"}, 1, h::Value()), "");
}

// The status line while a region's results are read: column and token as
// the file holds them, file by file, line by line, the requested codes in
// list order (a code whose column a file lacks shows nothing).
TEST(RegionStatsRules, TheValueStatusLinesFollowTheFilesAndTheRequestedOrder) {
    std::vector<kv::GridStatsFile> files = {
        parsed(true, "LID TA NP SHEI\nx 12.5 3 .\n"),
        parsed(false, "LID TYPE CA NP %LAND\nx 10 5 2 10\nx 20 7.5 1 .\n"),
    };
    struct Case {
        std::vector<std::string> codes;
        std::vector<std::string> lines;
    } cases[] = {
        {{"NumP", "TLA", "SEI"}, {"NP :: 3", "TA :: 12.5", "SHEI :: .", "NP :: 2", "NP :: 1"}},
        {{"CA", "%LAND", "NOSUCH"}, {"CA :: 5", "%LAND :: 10", "CA :: 7.5", "%LAND :: ."}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> seen;
        kv::ForEachRegionValue(files, c.codes, [&](const std::string& column, const std::string& token) {
            seen.push_back(column + " :: " + token);
        });
        EXPECT_EQ(seen, c.lines);
    }
}

// SEI reads fragstat's SHEI column and SHEI is its own: a landscape run that
// asks for both keeps both fields, each with the region's SHEI.
TEST(RegionStatsRules, SeiAndSheiBothKeepTheirFieldFromTheOneColumn) {
    for (const std::vector<std::string>& codes :
         {std::vector<std::string>{"SEI", "SHEI"}, std::vector<std::string>{"SHEI", "TLA", "SEI"}}) {
        kv::RegionStatsRows rows;
        ASSERT_EQ(kv::AddRegionRows(rows, {parsed(true, "LID TA SHDI SHEI\nx 12.5 1.2 0.625\n")}, codes, 1,
                                    h::Value(std::string("North"))),
                  "");
        ASSERT_EQ(rows.rows.size(), 1u);
        for (const char* code : {"SEI", "SHEI"}) {
            auto at = std::find(rows.codes.begin(), rows.codes.end(), code);
            ASSERT_NE(at, rows.codes.end()) << code;
            EXPECT_EQ(rows.rows[0].values[static_cast<size_t>(at - rows.codes.begin())], 0.625) << code;
        }
    }
}

// The region statistics table of two appended calls (runs 1-2 and 3-4).
h::TablePtr statsTable(const std::string& folder) {
    h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(folder);
    h::TablePtr t = ws.createTable("stats", {{"Run", h::FieldSmallInteger, 0, 3, 0},
                                             {"REGION", h::FieldString, 16, 0, 0},
                                             {"Class", h::FieldString, 40, 0, 0},
                                             {"CA", h::FieldDouble, 0, 30, 2},
                                             {"ClassHist", h::FieldSmallInteger, 0, 3, 0}});
    struct R {
        int32_t run;
        const char* region;
        const char* cls;
        double ca;
        int32_t hist;
    } rows[] = {
        {1, "North", "10", 12.25, 5}, {1, "North", "20", 3.5, 5}, {2, "O'Hara", "10", 1, 5},
        {3, "North", "10", 12.25, 5}, {3, "North", "20", 3.5, 5}, {4, "O'Hara", "10", 1, 5}, {4, "O'Hara", "30", 2, 15},
    };
    for (const R& r : rows) {
        h::RowPtr row = t->createRow();
        row->setValue("Run", r.run);
        row->setValue("REGION", std::string(r.region));
        row->setValue("Class", std::string(r.cls));
        row->setValue("CA", r.ca);
        row->setValue("ClassHist", r.hist);
        row->store();
    }
    t->flush();
    return t;
}

std::map<std::string, std::string> rowOf(h::Table& t, int32_t run, const std::string& key, const char* keyField) {
    std::map<std::string, std::string> out;
    h::Cursor c = t.search(nullptr, false);
    while (h::RowPtr r = c.next()) {
        if (h::toDouble(r->value("Run")) != run || h::toText(r->value(keyField)) != key) continue;
        for (int32_t i = 1; i < t.fields().count(); ++i)
            out[t.fields().field(i).name] = h::toText(r->value(i));
    }
    return out;
}

TEST(RegionStatsCrossTabs, TwoAppendedRunsEachCountTheirOwnRows) {
    korvane::test::TempFolder tmp;
    h::TablePtr in = statsTable(tmp.path());
    int32_t run = -1;
    h::TablePtr area = kv::BuildCrossTab(tmp.path(), "SStatsByRgns--ClassAreaCrosstab", *in, "REGION", "Class", "CA",
                                         {1, 2}, &run);
    EXPECT_EQ(run, 0);
    area = kv::BuildCrossTab(tmp.path(), "SStatsByRgns--ClassAreaCrosstab", *in, "REGION", "Class", "CA", {3, 4}, &run);
    EXPECT_EQ(run, 1);
    ASSERT_TRUE(area);
    // Sums are Double (30, 2); the key copies the region field; a class new
    // in the second call gets its column, empty in the first call's rows.
    const h::FieldDef& c10 = area->fields().field(area->findField("Class-10"));
    EXPECT_EQ(c10.type, h::FieldDouble);
    EXPECT_EQ(c10.precision, 30);
    EXPECT_EQ(c10.scale, 2);
    EXPECT_EQ(area->fields().field(area->findField("REGION")), (h::FieldDef{"REGION", h::FieldString, 16, 0, 0}));
    EXPECT_EQ(area->rowCount(), 4);
    auto first = rowOf(*area, 0, "North", "REGION");
    auto second = rowOf(*area, 1, "North", "REGION");
    EXPECT_EQ(first["Class-10"], "12.25");   // not doubled by the second call's rows
    EXPECT_EQ(second["Class-10"], "12.25");
    EXPECT_EQ(first["Class-30"], "");
    EXPECT_EQ(second["Class-30"], "0");
    EXPECT_EQ(rowOf(*area, 1, "O'Hara", "REGION")["Class-30"], "2");
    EXPECT_EQ(first["Name"], "stats");

    // Counts: long integers of 9 digits, histogram rows of this call only.
    h::TablePtr hist = kv::BuildCrossTab(tmp.path(), "SStatsByRgns--HistogramTable", *in, "ClassHist", "Class", "",
                                         {3, 4}, &run);
    EXPECT_EQ(run, 0);
    const h::FieldDef& count = hist->fields().field(hist->findField("Class-10"));
    EXPECT_EQ(count.type, h::FieldInteger);
    EXPECT_GE(count.precision, 9);
    EXPECT_EQ(rowOf(*hist, 0, "5", "ClassHist")["Class-10"], "2");
    EXPECT_EQ(rowOf(*hist, 0, "15", "ClassHist")["Class-30"], "1");
}

// An older cross-tab with integer sum columns keeps them; a class new to it
// gets a Double (30, 2) column.
TEST(RegionStatsCrossTabs, AnOlderTablesIntegerColumnsAreKept) {
    korvane::test::TempFolder tmp;
    h::TablePtr in = statsTable(tmp.path());
    h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(tmp.path());
    {
        h::TablePtr old = ws.createTable("area", {{"Name", h::FieldString, 40, 0, 0},
                                                  {"RunDate", h::FieldString, 25, 0, 0},
                                                  {"Run", h::FieldSmallInteger, 0, 3, 0},
                                                  {"REGION", h::FieldString, 16, 0, 0},
                                                  {"Class-10", h::FieldInteger, 0, 10, 0}});
        h::RowPtr r = old->createRow();
        r->setValue("Run", 4);
        r->setValue("REGION", std::string("North"));
        r->setValue("Class-10", 12);
        r->store();
        old->close();
    }
    int32_t run = -1;
    h::TablePtr area = kv::BuildCrossTab(tmp.path(), "area", *in, "REGION", "Class", "CA", {3, 4}, &run);
    EXPECT_EQ(run, 5);
    EXPECT_EQ(area->fields().field(area->findField("Class-10")), (h::FieldDef{"Class-10", h::FieldInteger, 0, 10, 0}));
    EXPECT_EQ(area->fields().field(area->findField("Class-30")).type, h::FieldDouble);
    EXPECT_EQ(rowOf(*area, 4, "North", "REGION")["Class-10"], "12");
    EXPECT_EQ(rowOf(*area, 5, "North", "REGION")["Class-10"], "12");   // 12.25 in a whole-number column
    EXPECT_EQ(rowOf(*area, 5, "O'Hara", "REGION")["Class-30"], "2");
}

TEST(RegionStatsCrossTabs, LongClassNamesAreCutAndKeptApart) {
    korvane::test::TempFolder tmp;
    h::ShapefileWorkspace ws = h::ShapefileWorkspace::open(tmp.path());
    h::TablePtr in = ws.createTable("stats", {{"Run", h::FieldSmallInteger, 0, 3, 0},
                                              {"ZONE", h::FieldInteger, 0, 9, 0},
                                              {"Class", h::FieldString, 40, 0, 0},
                                              {"TE", h::FieldDouble, 0, 30, 2}});
    for (const char* cls : {"Regeneration", "Regenerated", "Old Growth"}) {
        h::RowPtr row = in->createRow();
        row->setValue("Run", 1);
        row->setValue("ZONE", 7);
        row->setValue("Class", std::string(cls));
        row->setValue("TE", 10.0);
        row->store();
    }
    h::TablePtr edge = kv::BuildCrossTab(tmp.path(), "edge", *in, "ZONE", "Class", "TE", {1});
    ASSERT_TRUE(edge);
    std::vector<std::string> names = edge->fields().names();
    EXPECT_EQ(std::vector<std::string>(names.begin() + 5, names.end()),
              (std::vector<std::string>{"Class-Rege", "Class-Re_1", "Class-Old_"}));
}

}  // namespace
