// Band 0's attribute table: built in one pass, kept in the sidecar dBASE
// file and in GDAL's auxiliary file, read back from either.
#include <gtest/gtest.h>

#include <filesystem>

#include "RasterFixtures.h"
#include "TestFiles.h"
#include "host/Failure.h"
#include "host/data/Raster.h"
#include "host/data/RasterImpl.h"
#include "host/data/TableImpl.h"

namespace h = korvane::host;
using korvane::test::GridSpec;
using korvane::test::TempFolder;
using korvane::test::writeGrid;

namespace {

struct Entry {
    int64_t value;
    int64_t count;
    bool operator==(const Entry&) const = default;
};

std::vector<Entry> entries(h::Table& t) {
    std::vector<Entry> out;
    h::Cursor c = t.search(nullptr, true);
    while (h::RowPtr r = c.next())
        out.push_back({static_cast<int64_t>(h::toDouble(r->value("Value"))),
                       static_cast<int64_t>(h::toDouble(r->value("Count")))});
    return out;
}

GridSpec classes() {
    GridSpec s;
    s.columns = 4;
    s.rows = 3;
    s.cells = {7, 7, 3, -5, 7, 3, 3, -9999, 100000, 7, -9999, -5};
    s.noData = -9999;
    return s;
}

const std::vector<Entry> kClasses = {{-5, 2}, {3, 3}, {7, 4}, {100000, 1}};

}  // namespace

TEST(ValueTable, BuiltOnceIntoTheSidecarAndTheGdalTable) {
    TempFolder tmp;
    std::string tif = writeGrid(tmp.file("c.tif"), classes());
    {
        auto r = h::RasterDataset::open(tif);
        EXPECT_FALSE(r->hasAttributeTable());
        EXPECT_EQ(r->tableStatus(), "no value table");
        ASSERT_TRUE(r->buildValueTable());
        h::TablePtr t = r->attributeTable();
        ASSERT_TRUE(t);
        EXPECT_EQ(t->path(), tmp.file("c.tif.vat.dbf"));
        EXPECT_EQ(t->oidFieldName(), "ObjectID");
        EXPECT_EQ(t->fields().field(t->findField("Value")).type, h::FieldInteger);
        EXPECT_EQ(t->fields().field(t->findField("Count")).type, h::FieldInteger);
        EXPECT_EQ(entries(*t), kClasses);
    }
    // Other software sees the same table in the auxiliary file.
    std::vector<std::pair<int, int>> gdal = korvane::test::readGdalRat(tif);
    std::vector<std::pair<int, int>> expected = {{-5, 2}, {3, 3}, {7, 4}, {100000, 1}};
    EXPECT_EQ(gdal, expected);
    // Reopened, the sidecar is read, not rebuilt.
    auto before = std::filesystem::last_write_time(tmp.file("c.tif.vat.dbf"));
    auto r = h::RasterDataset::open(tif);
    ASSERT_TRUE(r->buildValueTable());
    EXPECT_EQ(entries(*r->attributeTable()), kClasses);
    EXPECT_EQ(std::filesystem::last_write_time(tmp.file("c.tif.vat.dbf")), before);
}

TEST(ValueTable, TheSidecarWinsOverTheGdalTable) {
    TempFolder tmp;
    std::string tif = writeGrid(tmp.file("c.tif"), classes());
    {
        auto r = h::RasterDataset::open(tif);
        r->buildValueTable();
        // A class field added through the host's table paths.
        h::TablePtr t = r->attributeTable();
        t->addField({"CLASS", h::FieldString, 12, 0, 0});
        h::Cursor c = t->update(nullptr, false);
        while (h::RowPtr row = c.next()) {
            row->setValue("CLASS", h::Value(std::string("k") + h::toText(row->value("Value"))));
            c.updateRow(*row);
        }
        t->flush();
    }
    // A stale GDAL table with other counts.
    korvane::test::writeGdalRat(tif, {{1, 99, "stale"}});
    auto r = h::RasterDataset::open(tif);
    h::TablePtr t = r->attributeTable();
    ASSERT_TRUE(t);
    EXPECT_EQ(entries(*t), kClasses);
    EXPECT_EQ(t->fields().names(), (std::vector<std::string>{"ObjectID", "Value", "Count", "CLASS"}));
    r->writeGdalAttributeTable();
    auto gdal = korvane::test::readGdalRat(tif);
    EXPECT_EQ(gdal.size(), 4u);
}

TEST(ValueTable, AGdalTableIsReadWhenThereIsNoSidecar) {
    TempFolder tmp;
    for (const char* name : {"c.tif", "c.img"}) {
        GridSpec s = classes();
        if (std::string(name) == "c.img") s.driver = "HFA";
        std::string path = writeGrid(tmp.file(name), s);
        korvane::test::writeGdalRat(path, {{-5, 2, "Pine"}, {3, 3, "Birch"}, {7, 4, "Aspen"}, {100000, 1, "Mixed"}});
        auto r = h::RasterDataset::open(path);
        h::TablePtr t = r->attributeTable();
        ASSERT_TRUE(t) << name;
        EXPECT_EQ(entries(*t), kClasses) << name;
        // IMAGINE files keep a name column as "Class_Names" (a dBASE field of ten characters).
        int32_t f = t->findField(std::string(name) == "c.img" ? "Class_Name" : "ForestType");
        ASSERT_GE(f, 0) << name;
        h::Cursor c = t->search(nullptr, true);
        h::RowPtr first = c.next();
        EXPECT_EQ(h::toText(first->value(f)), "Pine") << name;
        EXPECT_TRUE(std::filesystem::exists(std::string(path) + ".vat.dbf")) << name;
    }
}

TEST(ValueTable, AReadOnlyFolderKeepsTheTableOutOfIt) {
    TempFolder tmp;
    std::filesystem::create_directory(tmp.file("ro"));
    std::string tif = writeGrid(tmp.file("ro/c.tif"), classes());
    korvane::test::setReadOnly(tmp.file("ro"), true);
    {
        auto r = h::RasterDataset::open(tif);
        ASSERT_TRUE(r->buildValueTable());
        EXPECT_EQ(entries(*r->attributeTable()), kClasses);
        EXPECT_EQ(r->attributeTable()->path().rfind(h::scratchFolder(), 0), 0u);
    }
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(tmp.file("ro"))) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"c.tif"});
    // Reopened in the same process, the table built before is found again.
    auto r = h::RasterDataset::open(tif);
    EXPECT_TRUE(r->hasAttributeTable());
    korvane::test::setReadOnly(tmp.file("ro"), false);
}

TEST(ValueTable, NoTableForFloatsSeveralBandsOrTooManyValues) {
    TempFolder tmp;
    GridSpec f;
    f.type = GDT_Float32;
    f.cells = {1.5, 2, 3, 4, 5, 6};
    auto fr = h::RasterDataset::open(writeGrid(tmp.file("f.tif"), f));
    EXPECT_FALSE(fr->isIntegerGrid());
    EXPECT_FALSE(fr->buildValueTable());
    EXPECT_FALSE(fr->hasAttributeTable());
    EXPECT_NE(fr->tableStatus().find("floating-point"), std::string::npos);

    GridSpec two;
    two.bands = 2;
    auto tr = h::RasterDataset::open(writeGrid(tmp.file("two.tif"), two));
    EXPECT_FALSE(tr->buildValueTable());
    EXPECT_NE(tr->tableStatus().find("several bands"), std::string::npos);

    GridSpec many;
    many.columns = 300;
    many.rows = 220;  // 66,000 distinct values
    for (int i = 0; i < many.columns * many.rows; ++i) many.cells.push_back(i);
    auto mr = h::RasterDataset::open(writeGrid(tmp.file("many.tif"), many));
    EXPECT_FALSE(mr->buildValueTable());
    EXPECT_NE(mr->tableStatus().find("65536"), std::string::npos) << mr->tableStatus();
    EXPECT_FALSE(std::filesystem::exists(tmp.file("many.tif.vat.dbf")));
    EXPECT_EQ(h::countValues(*mr, 70000).size(), 66000u);
}

// A value table held in memory is written with the bytes the driver writes
// for the same rows, and its GDAL copy is the text GDAL gives the table read
// back from that file: numbers with the column's decimals, text escaped.
TEST(ValueTable, RowsHeldInMemoryAreWrittenAsTheDriverAndGdalWriteThem) {
    TempFolder tmp;
    h::RasterTableRows t;
    t.fields = {{"Value", h::FieldInteger, 0, 11, 0},
                {"Count", h::FieldInteger, 0, 11, 0},
                {"Kind", h::FieldString, 16, 0, 0},
                {"Area", h::FieldDouble, 0, 20, 5}};
    t.rows = {{h::Value(1), h::Value(12), h::Value(std::string("a & <b> \"c\" 'd'")), h::Value(0.1 + 0.2)},
              {h::Value(2), h::Value(3), h::Value(std::string()), h::Value(12345678.123456789)},
              {h::Value(-7), h::Value(1), h::Value(), h::Value()},
              {h::Value(100000), h::Value(2), h::Value(std::string("\xc3\xa9t\xc3\xa9")), h::Value(1e-7)}};
    const std::string mine = tmp.file("mine.dbf"), driver = tmp.file("driver.dbf");
    h::data::writeDbfRows(mine, t);
    {
        h::TablePtr d = h::data::createDbf(driver, t.fields);
        h::InsertCursor ins = d->insert(true);
        h::RowPtr buf = ins.createRowBuffer();
        for (const auto& row : t.rows) {
            for (size_t k = 0; k < row.size(); ++k) buf->setValue(t.fields[k].name, row[k]);
            ins.insertRow(*buf);
        }
        ins.flush();
        d->flush();
        d->close();
        h::data::forgetDataset(driver);
    }
    EXPECT_EQ(korvane::test::readBytes(mine), korvane::test::readBytes(driver));

    const std::string aux = tmp.file("mine.aux.xml");
    h::data::writeGdalTableXml(aux, t);
    h::TablePtr back = h::Table::open(mine);
    std::vector<uint8_t> text = korvane::test::readBytes(aux);
    EXPECT_EQ(std::string(text.begin(), text.end()), h::data::gdalTableXml(*back, ""));
}
