// Band 0's attribute table: built in one pass, kept in the sidecar dBASE
// file and in GDAL's auxiliary file, read back from either.
#include <gtest/gtest.h>

#include <filesystem>

#include "RasterFixtures.h"
#include "TestFiles.h"
#include "host/Failure.h"
#include "host/data/Raster.h"
#include "host/data/RasterImpl.h"
#include "host/data/RasterLayer.h"
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

// Whether an auxiliary file holds band 1's attribute table and nothing
// else is told from its text without parsing the table, whatever its size.
TEST(ValueTable, TheAuxiliaryFileIsToldToHoldOnlyTheTableOrMore) {
    using C = h::data::AuxContents;
    const std::string table = "<GDALRasterAttributeTable tableType=\"thematic\">\n"
                              "      <FieldDefn index=\"0\"><Name>Value</Name><Type>0</Type><Usage>5</Usage></FieldDefn>\n"
                              "      <Row index=\"0\"><F>1</F></Row>\n"
                              "    </GDALRasterAttributeTable>";
    auto pam = [&](const std::string& dataset, const std::string& band) {
        return "<PAMDataset>\n" + dataset + "  <PAMRasterBand band=\"1\">\n    " + band + "\n  </PAMRasterBand>\n</PAMDataset>\n";
    };
    // A table of more than one chunk of reading, its closing tag across chunks.
    std::string big = "<GDALRasterAttributeTable>";
    while (big.size() < (size_t{1} << 20) - 10) big += "<Row><F>12345</F></Row>\n";
    big += "</GDALRasterAttributeTable>";
    struct Case {
        const char* what;
        std::string text;  // the file's; "-" for none
        C expected;
    } cases[] = {
        {"no file", "-", C::None},
        {"the table alone", pam("", table), C::OnlyTable},
        {"a declaration and the table", "<?xml version=\"1.0\"?>\n" + pam("", table), C::OnlyTable},
        {"a table of many chunks", pam("", big), C::OnlyTable},
        {"the cells' placement", pam("  <GeoTransform>0, 1, 0, 0, 0, -1</GeoTransform>\n", table), C::More},
        {"a coordinate system", pam("  <SRS>EPSG:26917</SRS>\n", table), C::More},
        {"NoData", pam("", "<NoDataValue>7</NoDataValue>" + table), C::More},
        {"statistics", pam("", table + "<Metadata><MDI key=\"STATISTICS_MEAN\">3</MDI></Metadata>"), C::More},
        {"a colour table", pam("", table + "<ColorTable><Entry c1=\"1\" c2=\"2\" c3=\"3\" c4=\"255\"/></ColorTable>"),
         C::More},
        {"another band's table", "<PAMDataset><PAMRasterBand band=\"2\">" + table + "</PAMRasterBand></PAMDataset>",
         C::More},
        {"two tables", pam("", table + table), C::More},
        {"text beside the table", pam("", "stray " + table), C::More},
        {"a comment", pam("<!-- <GDALRasterAttributeTable> -->", table), C::More},
        {"a comment in the table", pam("", "<GDALRasterAttributeTable><!-- x --></GDALRasterAttributeTable>"), C::More},
        {"no table", pam("  <GeoTransform>0, 1, 0, 0, 0, -1</GeoTransform>\n", ""), C::More},
        {"a table cut short", "<PAMDataset><PAMRasterBand band=\"1\"><GDALRasterAttributeTable><Row>", C::More},
        {"not a GDAL file", "<Other><PAMRasterBand band=\"1\">" + table + "</PAMRasterBand></Other>", C::More},
        {"broken text after the table", pam("", table) + "<", C::More},
    };
    TempFolder tmp;
    int n = 0;
    for (const Case& c : cases) {
        const std::string aux = tmp.file("c" + std::to_string(++n) + ".tif.aux.xml");
        if (c.text != "-") korvane::test::writeText(aux, c.text);
        EXPECT_EQ(h::data::auxContents(aux), c.expected) << c.what;
    }
}

// A raster whose auxiliary file holds only its value table's GDAL copy is
// opened without GDAL parsing that copy (the sidecar is the table); one
// whose auxiliary file carries more is opened with it, and what it carries
// (placement, coordinate system, NoData, statistics, a colour table) is
// seen.
TEST(ValueTable, OpeningSkipsTheGdalTableButNothingElseTheAuxiliaryFileCarries) {
    const std::string placement =
        "  <SRS dataAxisToSRSAxisMapping=\"1,2\">EPSG:26917</SRS>\n"
        "  <GeoTransform>  5.0e+05,  3.0e+01,  0.0e+00,  4.0e+06,  0.0e+00, -3.0e+01</GeoTransform>\n";
    const std::string colours =
        "<ColorTable><Entry c1=\"0\" c2=\"0\" c3=\"0\" c4=\"0\"/><Entry c1=\"9\" c2=\"8\" c3=\"7\" c4=\"255\"/></ColorTable>\n";
    struct Case {
        const char* what;
        std::string dataset, band;  // put into the auxiliary file beside the table
    } cases[] = {
        {"the table alone", "", ""},
        {"the placement", placement, ""},
        {"NoData", "", "<NoDataValue>3</NoDataValue>\n"},
        {"statistics", "", "<Metadata><MDI key=\"STATISTICS_MEAN\">4.5</MDI></Metadata>\n"},
        {"a colour table", "", colours},
    };
    for (const Case& c : cases) {
        TempFolder tmp;
        GridSpec g = classes();
        g.type = GDT_Byte;
        g.cells = {7, 7, 3, 5, 7, 3, 3, 9, 1, 7, 9, 5};
        g.noData.reset();
        g.georeferenced = false;
        const std::string tif = writeGrid(tmp.file("c.tif"), g), aux = tif + ".aux.xml";
        ASSERT_TRUE(h::RasterDataset::open(tif)->buildValueTable()) << c.what;
        h::data::forgetRaster(tif);
        std::vector<uint8_t> bytes = korvane::test::readBytes(aux);
        std::string text(bytes.begin(), bytes.end());
        ASSERT_EQ(h::data::auxContents(aux), h::data::AuxContents::OnlyTable) << c.what;
        text.insert(text.find("<PAMRasterBand"), c.dataset);
        text.insert(text.find("<GDALRasterAttributeTable"), c.band);
        korvane::test::writeText(aux, text);

        auto r = h::RasterDataset::open(tif);
        GDALDataset& ds = h::RasterAccess::impl(*r).handle();
        GDALRasterBand& band = *ds.GetRasterBand(1);
        const bool alone = c.dataset.empty() && c.band.empty();
        EXPECT_EQ(band.GetDefaultRAT() == nullptr, alone) << c.what;
        const bool placed = !c.dataset.empty();
        EXPECT_EQ(r->extent().xmin, placed ? 500000 : 0) << c.what;
        EXPECT_EQ(r->extent().ymax, placed ? 4000000 : 3) << c.what;
        EXPECT_EQ(r->cellSizeX(), placed ? 30 : 1) << c.what;
        EXPECT_EQ(r->spatialReference().has_value(), placed) << c.what;
        EXPECT_EQ(r->noData().has_value(), c.band.find("NoData") != std::string::npos) << c.what;
        if (r->noData()) EXPECT_EQ(*r->noData(), 3) << c.what;
        const char* mean = band.GetMetadataItem("STATISTICS_MEAN");
        EXPECT_EQ(mean ? std::string(mean) : "", c.band.find("STATISTICS") != std::string::npos ? "4.5" : "") << c.what;
        const GDALColorTable* ct = band.GetColorTable();
        EXPECT_EQ(ct != nullptr, c.band.find("ColorTable") != std::string::npos) << c.what;
        if (ct) EXPECT_EQ(ct->GetColorEntry(1)->c1, 9) << c.what;
        // The table is the sidecar's either way.
        EXPECT_EQ(entries(*r->attributeTable()), (std::vector<Entry>{{1, 1}, {3, 3}, {5, 2}, {7, 4}, {9, 2}})) << c.what;
        h::data::forgetRaster(tif);
    }
}

// A dataset opened right after it was written skips its own auxiliary file
// only until the handle is closed: a colour table written into that file
// afterwards is seen when it is opened again.
TEST(ValueTable, AColourTableWrittenAfterTheTableIsSeenOnTheNextOpening) {
    TempFolder tmp;
    GridSpec g = classes();
    g.type = GDT_Byte;
    g.cells = {1, 1, 2, 2, 1, 2, 2, 2, 1, 1, 2, 1};
    g.noData.reset();
    const std::string tif = writeGrid(tmp.file("c.tif"), g);
    ASSERT_TRUE(h::RasterDataset::open(tif)->buildValueTable());
    h::data::forgetRaster(tif);
    h::RasterDatasetPtr r = h::RasterAccess::open(tif, true);
    ASSERT_EQ(r->attributeTable()->rowCount(), 2);
    h::UniqueValueRenderer renderer;
    renderer.field = "Value";
    renderer.classes = {{h::Value(1), "1", h::Rgb{10, 20, 30}}, {h::Value(2), "2", h::Rgb{40, 50, 60}}};
    h::writeRendererColours(*r, renderer);
    const GDALColorTable* ct = h::RasterAccess::impl(*r).band0().GetColorTable();
    ASSERT_TRUE(ct);
    ASSERT_GE(ct->GetColorEntryCount(), 3);
    EXPECT_EQ(ct->GetColorEntry(2)->c1, 40);
}
