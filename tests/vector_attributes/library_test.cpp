// The query-set library: lines in memory, files on disk.
#include <gtest/gtest.h>

#include <fstream>

#include "Fixture.h"
#include "host/Failure.h"
#include "vector/Modules/modAttributeModel.h"

namespace h = korvane::host;
using Lines = std::vector<std::string>;

namespace {
void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}
std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
kv::QuerySetLibrary threeSets() {
    kv::QuerySetLibrary lib;
    lib.save("Moose", {kv::QueryListEntry("3", "[FORTYPE] = 'Pine'"), kv::QueryListEntry("1", "")});
    lib.save("Marten", {kv::QueryListEntry("7", "[AGE] > 80"), kv::QueryListEntry("2", "[AGE] <= 80"),
                        kv::QueryListEntry("x", "[CLASS] = 'a|b'")});
    lib.save("Hare", {kv::QueryListEntry("5", "[TYPECODE] IN (10, 20)")});
    return lib;
}
}  // namespace

TEST(QuerySetLibrary, SavesLoadsAndDeletesSets) {
    kv::QuerySetLibrary lib;
    EXPECT_EQ(lib.lines(), Lines{""});
    lib.save("  Moose ", {"3   [FORTYPE] = 'Pine'", "1   "});
    // Fresh library: the empty line, the header (name trimmed), "$" then ";".
    EXPECT_EQ(lib.lines(), (Lines{"", "'Moose", "$3|[FORTYPE] = 'Pine'", ";1|"}));
    lib.save("Hare", {"5   [A] = 1"});
    EXPECT_EQ(lib.lines(), (Lines{"", "'Moose", "$3|[FORTYPE] = 'Pine'", ";1|", "", "'Hare", "$5|[A] = 1"}));
    EXPECT_EQ(lib.headers(), (Lines{"Moose", "Hare"}));

    // Load gives back what was saved; names compare trimmed.
    EXPECT_EQ(lib.load(" Moose"), (Lines{"3   [FORTYPE] = 'Pine'", "1   "}));
    EXPECT_FALSE(lib.load("moose"));
    // Only header lines start a set: a value that reads like a name does not.
    lib.save("Elk", {"Hare   [B] = 2"});
    EXPECT_EQ(lib.load("Elk"), (Lines{"Hare   [B] = 2"}));
    EXPECT_EQ(lib.load("Hare"), (Lines{"5   [A] = 1"}));

    // Deleting the last set and saving again adds no second empty line.
    lib.remove("Elk");
    EXPECT_EQ(lib.lines().back(), "");
    lib.save("Elk", {"1   [C] = 1"});
    EXPECT_EQ(lib.lines(), (Lines{"", "'Moose", "$3|[FORTYPE] = 'Pine'", ";1|", "", "'Hare", "$5|[A] = 1", "",
                                  "'Elk", "$1|[C] = 1"}));
    // Every set of the name goes; the only set leaves the empty library.
    lib.save("Moose", {"9   "});
    lib.remove("Moose ");
    EXPECT_EQ(lib.headers(), (Lines{"Hare", "Elk"}));
    lib.remove("Hare");
    lib.remove("Elk");
    EXPECT_EQ(lib.lines(), Lines{""});
    EXPECT_TRUE(lib.headers().empty());

    // A set ends at the next header even without a separator; a line
    // without "|" fails.
    lib.replace({"'A", "$1|[X] = 1", "'B|C", "$2|"});
    EXPECT_EQ(lib.load("A"), Lines{"1   [X] = 1"});
    EXPECT_EQ(lib.load("B|C"), Lines{"2   "});
    lib.replace({"'A", "$1|[X] = 1", "no bar"});
    EXPECT_THROW(lib.load("A"), h::Failure);
}

TEST(QuerySetLibrary, ExportOfTheMiddleSetImportsBackExactly) {
    DataFixture fx;
    kv::QuerySetLibrary lib = threeSets();
    Lines middle = lib.exportLines({"Marten"});
    EXPECT_EQ(middle, (Lines{"'Marten", "$7|[AGE] > 80", ";2|[AGE] <= 80", ";x|[CLASS] = 'a|b'", ""}));
    std::string file = (fx.dir / "marten.txt").string();
    writeBytes(file, kv::QuerySetFileText(middle));
    EXPECT_EQ(readBytes(file), "'Marten\r\n$7|[AGE] > 80\r\n;2|[AGE] <= 80\r\n;x|[CLASS] = 'a|b'\r\n\r\n");
    kv::QuerySetLibrary back;
    back.replace(kv::ReadQuerySetFile(file));
    EXPECT_EQ(back.lines(), middle);
    // The query keeps its own "|".
    EXPECT_EQ(back.load("Marten")->back(), "x   [CLASS] = 'a|b'");
    // Sets come in library order, whatever the order of choice.
    EXPECT_EQ(lib.exportLines({"Hare", "Moose"}).front(), "'Moose");
    EXPECT_EQ(lib.exportLines({"Hare", "Moose"}).back(), "$5|[TYPECODE] IN (10, 20)");
}

TEST(QuerySetLibrary, FilesReadWithAnyLineEnd) {
    DataFixture fx;
    std::string file = (fx.dir / "sets.txt").string();
    struct Case {
        const char* bytes;
        Lines lines;
    } cases[] = {
        {"'A\r\n$1|\r\n", {"'A", "$1|"}},
        {"'A\n$1|\n\n'B\n", {"'A", "$1|", "", "'B"}},
        {"'A\r$1|", {"'A", "$1|"}},
        {"\r\n", {""}},
        {"", {}},
    };
    for (const Case& c : cases) {
        writeBytes(file, c.bytes);
        EXPECT_EQ(kv::ReadQuerySetFile(file), c.lines) << c.bytes;
    }
    EXPECT_THROW(kv::ReadQuerySetFile((fx.dir / "missing.txt").string()), h::Failure);
    // No cap on the number of lines.
    kv::QuerySetLibrary lib;
    Lines many(40000, "$1|[A] = 1");
    many.insert(many.begin(), "'Big");
    lib.replace(many);
    EXPECT_EQ(lib.load("Big")->size(), 40000u);
}
