// The fragstat command line, the parameter check, the output reader, the
// grid spatial statistics table (fields, rename map, run numbers, append and
// overwrite, refusals, injected failures) and RunFragStats on a hand grid.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include "FaultInjection.h"
#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/OutputLock.h"
#include "host/System.h"
#include "host/data/Table.h"
#include "host/data/Workspace.h"
#include "raster/Modules/modFragStats.h"
#include "raster/Modules/modGridStatsTable.h"
#include "raster/Modules/modRunFragStats.h"
#include "shared/modMisc.h"
#include "tests/vector_frame/TestUi.h"

namespace {

namespace fs = std::filesystem;
namespace h = korvane::host;

void spill(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "kv-gridstats-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
        path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

// ---- command line ---------------------------------------------------------------------

TEST(FragStatsCommandLine, DefaultsAndGivenParameters) {
    kv::FragStatsCommand c;
    c.program = "/opt/kg/fragstat";
    c.base = "/tmp/run/frag_av";
    c.cellSize = 30;
    c.rows = 400;
    c.cols = 500;
    c.diag = true;
    c.mnn = false;
    EXPECT_EQ(kv::FragStatsCommandLine(c),
              "\"/opt/kg/fragstat\" \"/tmp/run/frag_av.flt\" \"/tmp/run/frag_av\" 30 30 7 400 500 -9999 $ \"$\" $ $ "
              "1 y 1000000000 n NO $");

    c.cellSize = 0.25;
    c.bufferDistance = "100";
    c.MPIValue = "5000";
    c.BoundaryInfluence = "0.5";
    c.weightFile = "/home/a user/weights file.csv";
    c.diag = false;
    c.mnn = true;
    c.base = "/tmp/with blank/frag_av";
    EXPECT_EQ(kv::FragStatsCommandLine(c),
              "\"/opt/kg/fragstat\" \"/tmp/with blank/frag_av.flt\" \"/tmp/with blank/frag_av\" 0.25 100 7 400 500 "
              "-9999 $ \"/home/a user/weights file.csv\" $ $ 0.5 n 5000 y NO $");
    // The shell keeps quoted paths as one word each.
    std::vector<std::string> words = h::splitCommandLine(kv::FragStatsCommandLine(c));
    ASSERT_EQ(words.size(), 19u);
    EXPECT_EQ(words[2], "/tmp/with blank/frag_av");
    EXPECT_EQ(words[10], "/home/a user/weights file.csv");

    // The display form: a CR LF after every field but the last; without the
    // pairs it is the command line.
    std::string display = kv::FragStatsCommandLine(c, true);
    EXPECT_EQ(std::count(display.begin(), display.end(), '\n'), 18);
    std::string joined;
    for (char ch : display)
        if (ch != '\r' && ch != '\n') joined += ch;
    EXPECT_EQ(joined, kv::FragStatsCommandLine(c));
}

TEST(FragStatsParameters, NumbersInTheirRangesOrAMessageNamingTheWrongOne) {
    struct Case {
        const char *buffer, *mpi, *bwt, *named;
    } cases[] = {
        {"", "", "", nullptr},           {"30", "1000000", "1", nullptr}, {"0", "0", "0", nullptr},
        {"12.5", "1e9", "0.25", nullptr}, {"-1", "", "", "Buffer Distance"}, {"abc", "", "", "Buffer Distance"},
        {"", "x", "", "MPI Threshold"},  {"", "-5", "", "MPI Threshold"},  {"", "", "1.5", "Boundary Influence"},
        {"", "", "-0.1", "Boundary Influence"}, {"", "", "nan", "Boundary Influence"}, {"", "inf", "", "MPI Threshold"},
        {"0x10", "", "", "Buffer Distance"},
    };
    for (const Case& c : cases) {
        std::string problem = kv::FragStatsParameterProblem(c.buffer, c.mpi, c.bwt);
        if (!c.named) {
            EXPECT_EQ(problem, "") << c.buffer << "|" << c.mpi << "|" << c.bwt;
        } else {
            EXPECT_NE(problem.find(c.named), std::string::npos) << problem;
        }
    }
}

// ---- output reader -----------------------------------------------------------------------

TEST(FragStatsOutputReader, HeaderDataDotsBlankLinesAndMalformedFiles) {
    kv::FragStatsOutput ok = kv::ParseFragStatsOutput(
        "LID TYPE CA   NP\r\n"
        "\r\n"
        "  /tmp/x.flt 1 0.06 .  \r\n"
        "   \n"
        "/tmp/x.flt\t2 0.10 1\n");
    ASSERT_TRUE(ok.ok()) << ok.problem;
    ASSERT_EQ(ok.blocks.size(), 1u);
    EXPECT_EQ(ok.blocks[0].columns, (std::vector<std::string>{"LID", "TYPE", "CA", "NP"}));
    ASSERT_EQ(ok.blocks[0].rows.size(), 2u);
    EXPECT_EQ(ok.blocks[0].rows[0][3], ".");
    EXPECT_EQ(ok.blocks[0].column("NP"), 3);
    EXPECT_EQ(ok.blocks[0].column("np"), -1);

    std::optional<double> v = 5;
    EXPECT_TRUE(kv::FragStatsValue(".", v));
    EXPECT_FALSE(v.has_value());
    EXPECT_TRUE(kv::FragStatsValue("12.50", v));
    EXPECT_EQ(v, 12.5);
    EXPECT_FALSE(kv::FragStatsValue("1,5", v));

    struct Bad {
        const char* text;
        const char* says;
    } bad[] = {
        {"LID TA NP\nx 1\n", "2 values under a header of 3"},
        {"LID TA NP\nx 1 2 3\n", "4 values under a header of 3"},
        {"x 1 2\nLID TA NP\n", "before the header"},
        {"LID TA TA\nx 1 2\n", "appears twice"},
        {"", "no header"},
        {"LIDTA NP\n", "before the header"},
    };
    for (const Bad& b : bad) {
        kv::FragStatsOutput out = kv::ParseFragStatsOutput(b.text);
        EXPECT_FALSE(out.ok()) << b.text;
        EXPECT_NE(out.problem.find(b.says), std::string::npos) << out.problem;
    }
    EXPECT_FALSE(kv::ReadFragStatsOutput("/nonexistent/frag_av.land").ok());
}

// ---- rows ----------------------------------------------------------------------------------

kv::GridStatsFile file(bool landscape, const std::string& text) {
    kv::GridStatsFile f;
    f.landscape = landscape;
    f.output = kv::ParseFragStatsOutput(text);
    return f;
}

TEST(GridStatsRows, RenameMapLevelsDotsAndClassValues) {
    std::vector<kv::GridStatsFile> files = {
        file(true, "LID TA NP SIDI SHEI SHDI PSCV\nx 16 2 0.4 0.9 1.1 .\n"),
        file(false, "LID TYPE CA %LAND NP PSCV\nx 1 6 37.5 1 0\nx 2 10 62.5 1 12.345\n"),
    };
    std::vector<std::string> chosen = {"Errtrack", "%LAND", "SIDI", "SHEI", "SHDI", "NP", "PSCV", "TA", "CA", "MNN"};
    kv::GridStatsRows rows = kv::BuildGridStatsRows(files, chosen, kv::GridFieldRenameMap(), std::nullopt);
    ASSERT_EQ(rows.problem, "");
    // Fields in the order of the chosen codes, header by header.
    EXPECT_EQ(rows.fields, (std::vector<std::string>{"SHEI", "SEI", "SDI", "NUMP", "PSCOV", "TLA", "ZLAND", "CA"}));
    ASSERT_EQ(rows.rows.size(), 3u);
    EXPECT_EQ(rows.rows[0].Class, "All");
    EXPECT_EQ(rows.rows[0].file, 1);
    EXPECT_EQ(rows.rows[0].values[0], 0.4);   // SIDI in SHEI
    EXPECT_EQ(rows.rows[0].values[1], 0.9);   // SHEI in SEI
    EXPECT_FALSE(rows.rows[0].values[4]);     // "." is blank
    EXPECT_FALSE(rows.rows[0].values[6]);     // %LAND is no landscape column
    EXPECT_EQ(rows.rows[1].Class, "1");
    EXPECT_EQ(rows.rows[2].file, 2);
    EXPECT_EQ(rows.rows[2].values[6], 62.5);
    EXPECT_FALSE(rows.rows[2].values[0]);     // SHEI only in the landscape file

    // The value-to-class map names the classes; a value it lacks gets no class.
    std::map<int32_t, h::Value> names = {{1, std::string("Pine")}};
    kv::GridStatsRows named = kv::BuildGridStatsRows(files, chosen, kv::GridFieldRenameMap(), names);
    EXPECT_EQ(named.rows[1].Class, "Pine");
    EXPECT_EQ(named.rows[2].Class, "");
}

TEST(GridStatsRows, RefusesWhatWouldBeStoredWrong) {
    std::vector<std::string> chosen = {"CA"};
    auto problem = [&](const std::string& text, std::optional<std::map<int32_t, h::Value>> map = std::nullopt) {
        return kv::BuildGridStatsRows({file(false, text)}, chosen, kv::GridFieldRenameMap(), map).problem;
    };
    EXPECT_NE(problem("LID TYPE CA\nx 1 abc\n").find("'abc' of CA is not a number"), std::string::npos);
    EXPECT_NE(problem("LID TYPE CA\nx 1.5 3\n").find("not a whole number"), std::string::npos);
    EXPECT_NE(problem("LID CA\nx 3\n").find("no TYPE"), std::string::npos);
    EXPECT_NE(problem("LID TYPE CA\nx 1 1e40\n").find("does not fit"), std::string::npos);
    std::string a(40, 'a'), b = a;
    a += "X";
    b += "Y";
    std::map<int32_t, h::Value> names = {{1, a}, {2, b}};
    std::string cut = problem("LID TYPE CA\nx 1 3\nx 2 4\n", names);
    EXPECT_NE(cut.find("become the same"), std::string::npos) << cut;
    EXPECT_NE(cut.find(a), std::string::npos);
    // A multi-byte character at the cut is not split.
    EXPECT_EQ(kv::FitBytes(std::string(39, 'a') + "\xC3\xA9", 40), std::string(39, 'a'));
}

// ---- the table -------------------------------------------------------------------------------

struct TableRow {
    std::string name, Class;
    int32_t run;
};
std::vector<TableRow> readTable(const std::string& path) {
    std::vector<TableRow> out;
    h::TablePtr t = h::Table::open(path);
    h::Cursor c = t->search(nullptr, false);
    while (h::RowPtr r = c.next())
        out.push_back({h::toText(r->value("Name")), h::toText(r->value("Class")),
                       static_cast<int32_t>(h::toDouble(r->value("Run")))});
    return out;
}

kv::GridStatsRows twoFileRows() {
    return kv::BuildGridStatsRows(
        {file(true, "LID TA NP\nx 16 2\n"), file(false, "LID TYPE CA NP\nx 1 6 1\nx 2 10 1\n")},
        {"Errtrack", "TA", "NP", "CA"}, kv::GridFieldRenameMap(), std::nullopt);
}

TEST(GridStatsTable, NewAppendOverwriteAndRunNumbers) {
    TestUi ui;
    TempDir dir;
    const std::string path = kv::GridStatsTablePath((dir.path / "stats").string());
    EXPECT_EQ(path, (dir.path / "stats.dbf").string());
    EXPECT_EQ(kv::GridStatsTablePath("out/stats"), (fs::current_path() / "out" / "stats.dbf").string());
    EXPECT_EQ(kv::GridStatsTablePath("stats.dbf"), (fs::current_path() / "stats.dbf").string());

    EXPECT_EQ(kv::WriteGridStatsTable(path, true, "landscape.tif", twoFileRows()), 0);
    std::vector<TableRow> rows = readTable(path);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Class, "All");
    EXPECT_EQ(rows[0].run, 1);
    EXPECT_EQ(rows[1].run, 2);
    EXPECT_EQ(rows[2].Class, "2");
    {
        h::TablePtr t = h::Table::open(path);
        std::vector<std::string> names = t->fields().names();
        EXPECT_EQ(names, (std::vector<std::string>{"OID", "Name", "RunDate", "Run", "Class", "TLA", "NUMP", "CA"}));
        EXPECT_EQ(t->fields().field(t->findField("CA")).scale, 2);
        EXPECT_EQ(t->fields().field(t->findField("Run")).precision, 3);
    }

    // Appending numbers on from the largest run; a class-only run takes one.
    EXPECT_EQ(kv::WriteGridStatsTable(path, true, "landscape.tif", twoFileRows()), 2);
    kv::GridStatsRows classOnly = kv::BuildGridStatsRows({file(false, "LID TYPE CA IJI\nx 1 6 50\n")},
                                                         {"CA", "IJI"}, kv::GridFieldRenameMap(), std::nullopt);
    EXPECT_EQ(kv::WriteGridStatsTable(path, true, "other", classOnly), 4);
    rows = readTable(path);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[3].run, 3);
    EXPECT_EQ(rows[4].run, 4);
    EXPECT_EQ(rows[6].run, 5);
    EXPECT_EQ(rows[6].name, "other");
    EXPECT_GE(h::Table::open(path)->findField("IJI"), 0);   // a field the older table lacked

    // Overwriting starts again at 1. A layer name longer than the field is
    // cut before a character that would not fit whole.
    const std::string longName = std::string(39, 'a') + "\xC3\xA9.tif";
    EXPECT_EQ(kv::WriteGridStatsTable(path, false, longName, classOnly), 0);
    rows = readTable(path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].run, 1);
    EXPECT_EQ(rows[0].name, std::string(39, 'a'));
    EXPECT_TRUE(korvane::test::temporariesIn(dir.path).empty());
}

TEST(GridStatsTable, CheckRefusesTablesThatCannotBeUsedAndRunsPast999) {
    TestUi ui;
    TempDir dir;
    const std::string path = (dir.path / "stats.dbf").string();
    kv::GridStatsTableState fresh = kv::CheckGridStatsTable(path, true, 2);
    EXPECT_FALSE(fresh.exists);
    EXPECT_EQ(fresh.refusal, "");
    EXPECT_NE(kv::CheckGridStatsTable((dir.path / "no" / "t.dbf").string(), true, 1).refusal, "");

    spill(path, "this is no dBASE file");
    kv::GridStatsTableState broken = kv::CheckGridStatsTable(path, true, 1);
    EXPECT_EQ(broken.refusalTitle, "File Access Error");
    EXPECT_EQ(broken.refusal, "Cannot access " + path + "\r\nFile may be opened somewhere else");
    fs::remove(path);

    // A table at run 998: one more file fits, two do not.
    kv::GridStatsRows one = kv::BuildGridStatsRows({file(true, "LID TA\nx 1\n")}, {"TA"}, kv::GridFieldRenameMap(),
                                                   std::nullopt);
    kv::WriteGridStatsTable(path, true, "x", one);
    {
        h::TablePtr t = h::Table::open(path);
        h::RowPtr r = t->row(0);
        r->setValue("Run", 998);
        r->store();
        t->close();
    }
    EXPECT_EQ(kv::CheckGridStatsTable(path, true, 1).refusal, "");
    kv::GridStatsTableState full = kv::CheckGridStatsTable(path, true, 2);
    EXPECT_NE(full.refusal.find("up to 999"), std::string::npos) << full.refusal;
    EXPECT_EQ(kv::CheckGridStatsTable(path, false, 2).refusal, "");   // overwriting starts at 1

    korvane::test::FolderSnapshot before(dir.path);
    EXPECT_THROW(kv::WriteGridStatsTable(path, true, "x", twoFileRows()), h::Failure);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
}

TEST(GridStatsTable, AForeignTableIsRefusedBeforeAnyWrite) {
    TestUi ui;
    TempDir dir;
    // A statistics table in every place a user might point the run at.
    struct Case {
        const char* name;
        const char* table;          // in the folder
        const char* beside;         // a file next to it, or nullptr
        const char* lacking;        // a leading field the table lacks, or nullptr
        const char* said;           // in the refusal
        bool overwriteRefused;
    };
    const Case cases[] = {
        {"a shapefile's table", "regions.dbf", "regions.shp", nullptr, "attribute table of the shapefile", true},
        {"a raster's value table", "landscape.tif.vat.dbf", nullptr, nullptr, "value table of a raster", true},
        {"a table without Run", "other.dbf", nullptr, "Run", "has no field Run", false},
        {"a table without Class", "other2.dbf", nullptr, "Class", "has no field Class", false},
    };
    for (const Case& c : cases) {
        const std::string path = (dir.path / c.table).string();
        std::vector<h::FieldDef> fields;
        for (const char* f : {"Name", "RunDate", "Run", "Class"})
            if (!c.lacking || std::string(f) != c.lacking) fields.push_back({f, h::FieldString, 20, 0, 0});
        h::ShapefileWorkspace::open(dir.path.string()).createTable(fs::path(c.table).stem().string(), fields);
        if (c.beside) spill(dir.path / c.beside, "a shape file");
        korvane::test::FolderSnapshot before(dir.path);
        kv::GridStatsTableState state = kv::CheckGridStatsTable(path, true, 2);
        EXPECT_NE(state.refusal.find(c.said), std::string::npos) << c.name << ": " << state.refusal;
        EXPECT_NE(state.refusal.find(path), std::string::npos) << c.name << ": " << state.refusal;
        EXPECT_EQ(kv::CheckGridStatsTable(path, false, 2).refusal.empty(), !c.overwriteRefused) << c.name;
        EXPECT_THROW(kv::WriteGridStatsTable(path, true, "x", twoFileRows()), h::Failure) << c.name;
        if (c.overwriteRefused) {
            EXPECT_THROW(kv::WriteGridStatsTable(path, false, "x", twoFileRows()), h::Failure);
        }
        EXPECT_TRUE(before.sameAsNow()) << c.name << ": " << before.differences();
    }
}

TEST(GridStatsTable, AFailedWriteLeavesTheOldTableByteIdentical) {
    TestUi ui;
    TempDir dir;
    const std::string path = (dir.path / "stats.dbf").string();
    kv::WriteGridStatsTable(path, true, "landscape.tif", twoFileRows());
    korvane::test::FolderSnapshot before(dir.path);
    for (bool append : {true, false}) {
        for (auto step : {h::testing::Step::Fsync, h::testing::Step::Rename}) {
            h::testing::failAt(step, ENOSPC, ".dbf");
            EXPECT_THROW(kv::WriteGridStatsTable(path, append, "landscape.tif", twoFileRows()), h::Failure);
            h::testing::clearFaults();
            EXPECT_TRUE(before.sameAsNow()) << before.differences();
            EXPECT_TRUE(korvane::test::temporariesIn(dir.path).empty());
        }
    }
    // A read-only table is refused before anything changes.
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    if (::access(path.c_str(), W_OK) != 0) {
        EXPECT_THROW(kv::WriteGridStatsTable(path, false, "landscape.tif", twoFileRows()), h::Failure);
        EXPECT_TRUE(before.sameAsNow()) << before.differences();
    }
}

// Rows of many classes, so that a table of them is larger than a few blocks.
kv::GridStatsRows manyClassRows(int classes) {
    std::string text = "LID TYPE CA NP PLAND LPI\n";
    for (int c = 1; c <= classes; ++c) text += fmt::format("x {} {} 1 {}.25 {}.5\n", c, c * 3, c, c);
    return kv::BuildGridStatsRows({file(true, "LID TA NP\nx 16 2\n"), file(false, text)},
                                  {"TA", "NP", "CA", "PLAND", "LPI"}, kv::GridFieldRenameMap(), std::nullopt);
}

TEST(GridStatsTable, AFullDiskNeverLeavesADamagedTable) {
    TestUi ui;
    TempDir dir;
    const fs::path disk = dir.path / "disk";
    const std::string path = (disk / "stats.dbf").string();
    const kv::GridStatsRows rows = manyClassRows(120);
    korvane::test::ChildOutcome o = korvane::test::runOnFullDisk(disk, 1024 * 1024, [&](std::string& why) {
        for (uint64_t room = 0; room <= 64 * 1024; room += 4 * 1024) {
            for (bool append : {true, false}) {
                fs::remove(disk / "filler");
                fs::remove(path);
                kv::WriteGridStatsTable(path, false, "landscape.tif", rows);
                korvane::test::fillDisk(disk, room);
                korvane::test::FolderSnapshot before(disk);
                const std::string what =
                    fmt::format("{} KiB free, {}: ", room / 1024, append ? "append" : "overwrite");
                bool failed = false;
                try {
                    kv::WriteGridStatsTable(path, append, "landscape.tif", rows);
                } catch (const h::Failure&) {
                    failed = true;
                }
                if (failed && !before.sameAsNow()) {
                    why = what + "a failed write changed the folder: " + before.differences();
                    return 1;
                }
                if (!korvane::test::temporariesIn(disk).empty()) {
                    why = what + "a temporary was left";
                    return 1;
                }
                size_t got = 0;
                try {
                    got = readTable(path).size();   // a damaged table is refused here
                } catch (const h::Failure& f) {
                    why = what + (failed ? "after a failure: " : "after a success: ") + f.description();
                    return 1;
                }
                const size_t expected = (append && !failed ? 2 : 1) * rows.rows.size();
                if (got != expected) {
                    why = what + fmt::format("{} rows, expected {}", got, expected);
                    return 1;
                }
            }
        }
        return 0;
    });
    if (o.skipped) GTEST_SKIP() << o.message;
    EXPECT_TRUE(o.exited && o.code == 0) << korvane::test::describe(o);
}

TEST(GridStatsTable, TwoRunsAppendingTogetherKeepEveryRowWithRunsOfTheirOwn) {
    TestUi ui;
    TempDir dir;
    const std::string path = (dir.path / "stats.dbf").string();
    const kv::GridStatsRows rows = manyClassRows(30);
    kv::WriteGridStatsTable(path, false, "first", rows);
    constexpr int kRuns = 6;
    std::vector<pid_t> children;
    for (const char* name : {"left", "right"}) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int code = 0;
            try {
                for (int i = 0; i < kRuns; ++i) kv::WriteGridStatsTable(path, true, name, rows);
            } catch (...) {
                code = 1;
            }
            ::_exit(code);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    // Each run's rows under run numbers no other run has.
    std::map<int32_t, std::set<std::string>> namesOfRun;
    std::map<std::string, size_t> rowsOf;
    for (const TableRow& r : readTable(path)) {
        namesOfRun[r.run].insert(r.name);
        ++rowsOf[r.name];
    }
    EXPECT_EQ(rowsOf["left"], kRuns * rows.rows.size());
    EXPECT_EQ(rowsOf["right"], kRuns * rows.rows.size());
    EXPECT_EQ(namesOfRun.size(), static_cast<size_t>(2 * (2 * kRuns + 1)));
    for (const auto& [run, names] : namesOfRun) EXPECT_EQ(names.size(), 1u) << "run " << run;
    EXPECT_FALSE(fs::exists(h::OutputLock::lockFileOf(path)));
    EXPECT_TRUE(korvane::test::temporariesIn(dir.path).empty());
}

// ---- RunFragStats on a hand grid ------------------------------------------------------------------

// A 4 x 4 grid of two classes (10 m cells), written as the export writes it.
kv::FragStatsSource handGrid(std::vector<float> cells = {1, 1, 2, 2, 1, 1, 2, 2, 2, 2, 1, 2, 2, 2, 2, 1}) {
    kv::FragStatsSource s;
    s.name = "hand.tif";
    s.rows = s.cols = 4;
    s.cellX = s.cellY = 10;
    s.classValues = [] { return std::vector<int64_t>{1, 2}; };
    s.exportGrid = [cells](const std::string& flt) {
        std::ofstream out(flt, std::ios::binary);
        out.write(reinterpret_cast<const char*>(cells.data()), static_cast<std::streamsize>(cells.size() * 4));
        std::string hdr = flt.substr(0, flt.size() - 4) + ".hdr";
        spill(hdr, "ncols 4\nnrows 4\nxllcorner 0\nyllcorner 0\ncellsize 10\nNODATA_value -9999\nbyteorder LSBFIRST\n");
    };
    return s;
}

TEST(RunFragStats, RunsTheProgramInAPrivateFolderThatGoesAfterwards) {
    TestUi ui;
    std::string folderPath;
    kv::FragStatsRunInfo info;
    {
        kv::FragStatsFolder folder;
        folderPath = folder.path();
        EXPECT_EQ(fs::status(folderPath).permissions() & fs::perms::all, fs::perms::owner_all);
        std::string base = kv::RunFragStats(folder, handGrid(), false, false, true, "", "", "", "", false, {}, &info);
        ASSERT_EQ(base, folder.base()) << info.errorText;
        EXPECT_EQ(info.exitCode, 0) << info.errorText;
        kv::FragStatsOutput land = kv::ReadFragStatsOutput(base + ".land");
        ASSERT_TRUE(land.ok()) << land.problem;
        const kv::FragStatsBlock& b = land.blocks[0];
        // Example 1 of the metric reference: TA 0.16 ha, two patches, TE 260 m with bwt 1.
        EXPECT_EQ(b.rows[0][static_cast<size_t>(b.column("TA"))], "0.1600000");
        EXPECT_EQ(b.rows[0][static_cast<size_t>(b.column("NP"))], "2");
        EXPECT_EQ(b.rows[0][static_cast<size_t>(b.column("TE"))], "260.000000");
        kv::FragStatsOutput cls = kv::ReadFragStatsOutput(base + ".class");
        ASSERT_TRUE(cls.ok()) << cls.problem;
        EXPECT_EQ(cls.blocks[0].rows.size(), 2u);
        EXPECT_TRUE(ui.driver.messages.empty());   // nothing shown without verbose tracking
    }
    EXPECT_FALSE(fs::exists(folderPath));
    EXPECT_NE(info.commandLine.find(" 10 10 7 4 4 -9999 $ \"$\" $ $ 1 y 1000000000 n NO $"), std::string::npos)
        << info.commandLine;

    // A failing program: its exit code and error text come back.
    {
        kv::FragStatsFolder folder;
        std::string base = kv::RunFragStats(folder, handGrid(), false, false, true, "", "", "7", "", false, {}, &info);
        EXPECT_EQ(base, folder.base());
        EXPECT_NE(info.exitCode, 0);
        EXPECT_NE(info.errorText, "");
        EXPECT_FALSE(fs::exists(base + ".land"));
        folder.keep();
        folderPath = folder.path();
    }
    EXPECT_TRUE(fs::exists(folderPath));   // kept for inspection
    fs::remove_all(folderPath);
}

TEST(RunFragStats, RefusalsMessagesAndTheSpaceQuestion) {
    TestUi ui;
    kv::FragStatsFolder folder;
    struct Refusal {
        const char* says;
        std::function<void(kv::FragStatsSource&)> change;
    } refusals[] = {
        {"are 30 by 25 map units", [](kv::FragStatsSource& s) { s.cellX = 30, s.cellY = 25; }},
        {"class -9999", [](kv::FragStatsSource& s) { s.classValues = [] { return std::vector<int64_t>{1, -9999}; }; }},
        {"beyond 16777216", [](kv::FragStatsSource& s) { s.classValues = [] { return std::vector<int64_t>{16777217}; }; }},
        {"beyond 16777216", [](kv::FragStatsSource& s) { s.classValues = [] { return std::vector<int64_t>{-16777217}; }; }},
    };
    for (const Refusal& r : refusals) {
        kv::FragStatsSource s = handGrid();
        bool exported = false;
        s.exportGrid = [&](const std::string&) { exported = true; };
        r.change(s);
        ui.driver.messages.clear();
        EXPECT_EQ(kv::RunFragStats(folder, s, false, false, true, "", "", "", "", false), "");
        EXPECT_FALSE(exported);
        ASSERT_EQ(ui.driver.messages.size(), 1u);
        EXPECT_NE(ui.driver.messages[0].text.find(r.says), std::string::npos) << ui.driver.messages[0].text;
    }
    // Nearly square cells pass; values at the float limit pass.
    kv::FragStatsSource s = handGrid();
    s.cellY = 10.0000000001;
    s.classValues = [] { return std::vector<int64_t>{16777216, -16777216}; };
    EXPECT_EQ(kv::FragStatsSourceProblem(s, s.classValues()), "");

    // The space estimate in 64 bits; the question's numbers.
    EXPECT_EQ(kv::FragStatsMegabytes(1000, 1000), 4);
    EXPECT_EQ(kv::FragStatsMegabytes(20000, 20000), 1600);
    EXPECT_EQ(kv::FragStatsMegabytes(100000, 100000), 40000);
    s = handGrid();
    s.rows = s.cols = 1000;
    EXPECT_NE(kv::FragStatsSpaceQuestion(s, 2, 30, "/tmp/x").find("require 4 MB of free"), std::string::npos);
    s.rows = s.cols = 20000;
    std::string q = kv::FragStatsSpaceQuestion(s, 6, 0.25, "/tmp/x");
    EXPECT_NE(q.find("Grid has 20000 rows and 20000 columns, 6 classes, and a cell size of 0.25 ."), std::string::npos);
    EXPECT_NE(q.find("require 1.6GB of free"), std::string::npos);
    EXPECT_NE(q.find("located in /tmp/x\r\n\r\nCONTINUE?"), std::string::npos);

    // Verbose: declining the question stops before the export.
    ui.driver.messages.clear();
    ui.driver.addLines({"answer No"});
    kv::FragStatsSource declined = handGrid();
    bool exported = false;
    declined.exportGrid = [&](const std::string&) { exported = true; };
    kv::FragStatsOptions ask;
    ask.confirmSpace = true;
    EXPECT_EQ(kv::RunFragStats(folder, declined, false, false, true, "", "", "", "", true, ask), "");
    EXPECT_FALSE(exported);
    ASSERT_EQ(ui.driver.messages.size(), 2u);
    EXPECT_EQ(ui.driver.messages[0].title, "Space Requirements");
    EXPECT_EQ(ui.driver.messages[1].text, "User chose to quit");

    // A missing weight file is warned about also without verbose tracking,
    // and the run goes on without it; an export that writes nothing stops silently.
    ui.driver.messages.clear();
    kv::FragStatsSource nothing = handGrid();
    nothing.exportGrid = [](const std::string&) {};
    EXPECT_EQ(kv::RunFragStats(folder, nothing, false, true, true, "", "", "", "/no/such/w.csv", false), "");
    ASSERT_EQ(ui.driver.messages.size(), 1u);
    EXPECT_EQ(ui.driver.messages[0].text, "Cannot find weight file '/no/such/w.csv'.  Ignoring Metric.");
    EXPECT_EQ(ui.driver.messages[0].title, "Missing Information");
}

}  // namespace
