// Shapefiles and dBASE tables written and read back through the data layer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "TestFiles.h"
#include "host/Failure.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"

using namespace korvane::host;
using korvane::test::dbfColumns;
using korvane::test::idsOf;
using korvane::test::readBytes;
using korvane::test::setReadOnly;
using korvane::test::TempFolder;
namespace stdfs = std::filesystem;

namespace {

Geometry square(double x, double y, double size) {
    return Geometry::polygon({{{x, y}, {x + size, y}, {x + size, y + size}, {x, y + size}}});
}

// A polygon shapefile "plots" with a class text, a count and an area, one
// square per row: sizes 1..n, classes cycling A, B, C.
FeatureClassPtr makePlots(const ShapefileWorkspace& ws, int n, const std::string& name = "plots") {
    auto fc = ws.createFeatureClass(name,
                                    {{"Class", FieldString, 10, 0, 0},
                                     {"Count", FieldInteger, 0, 6, 0},
                                     {"Area", FieldDouble, 0, 20, 5}},
                                    ShapeType::Polygon);
    InsertCursor ins = fc->insert(true);
    RowPtr buf = ins.createRowBuffer();
    const char* classes[] = {"A", "B", "C"};
    for (int i = 0; i < n; ++i) {
        buf->setValue("Class", std::string(classes[i % 3]));
        buf->setValue("Count", i * 10);
        Geometry g = square(i * 10.0, 0, i + 1.0);
        buf->setValue("Area", g.area());
        buf->setShape(g);
        ins.insertRow(*buf);
    }
    ins.flush();
    return fc;
}

TEST(Workspace, OpensOnlyExistingFolders) {
    TempFolder tmp;
    EXPECT_NO_THROW(ShapefileWorkspace::open(tmp.path()));
    try {
        ShapefileWorkspace::open(tmp.file("missing"));
        FAIL();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::HostFileNotFound);
    }
}

TEST(Table, FieldDefinitionsAreStoredExactlyAndReadBack) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    std::vector<FieldDef> defs = {
        {"Name", FieldString, 40, 0, 0},      {"RunDate", FieldString, 25, 0, 0}, {"Run", FieldSmallInteger, 0, 3, 0},
        {"Total", FieldInteger, 0, 9, 0},     {"Area", FieldSingle, 0, 20, 5},    {"CA", FieldSingle, 0, 30, 16},
        {"Ratio", FieldDouble, 0, 19, 11},    {"Seen", FieldDate, 0, 0, 0},       {"Dflt", FieldDouble, 0, 0, 0},
    };
    auto fc = ws.createFeatureClass("fields", defs, ShapeType::Polygon);
    const Fields& f = fc->fields();
    ASSERT_EQ(f.count(), 11);
    EXPECT_EQ(f.field(0).name, "FID");
    EXPECT_EQ(f.field(0).type, FieldOID);
    EXPECT_EQ(f.field(1).name, "Shape");
    EXPECT_EQ(f.field(1).type, FieldGeometry);
    for (size_t i = 0; i + 1 < defs.size(); ++i) {
        EXPECT_EQ(f.field(static_cast<int32_t>(i + 2)).name, defs[i].name);
        EXPECT_EQ(f.field(static_cast<int32_t>(i + 2)).type, defs[i].type) << defs[i].name;
    }

    // The dBASE header holds the widths and decimals as given.
    std::vector<korvane::test::DbfColumn> cols = dbfColumns(fc->dbfPath());
    ASSERT_EQ(cols.size(), 9u);
    struct Expect {
        const char* name;
        char type;
        int width, decimals;
    } expect[] = {{"Name", 'C', 40, 0},  {"RunDate", 'C', 25, 0}, {"Run", 'N', 3, 0},
                  {"Total", 'N', 9, 0},  {"Area", 'N', 20, 5},    {"CA", 'N', 30, 16},
                  {"Ratio", 'N', 19, 11}, {"Seen", 'D', 8, 0},    {"Dflt", 'N', 19, 11}};
    for (size_t i = 0; i < cols.size(); ++i) {
        EXPECT_EQ(cols[i].name, expect[i].name);
        EXPECT_EQ(cols[i].type, expect[i].type) << expect[i].name;
        EXPECT_EQ(cols[i].width, expect[i].width) << expect[i].name;
        EXPECT_EQ(cols[i].decimals, expect[i].decimals) << expect[i].name;
    }

    // Reopened (a new object: the first is released), the definitions read
    // back, the single fields keeping their type within this process.
    std::string path = fc->path();
    fc.reset();
    auto again = FeatureClass::open(path);
    const Fields& g = again->fields();
    EXPECT_EQ(g.field(g.find("name")).length, 40);
    EXPECT_EQ(g.field(g.find("RUN")).type, FieldSmallInteger);
    EXPECT_EQ(g.field(g.find("RUN")).precision, 3);
    EXPECT_EQ(g.field(g.find("Area")).type, FieldSingle);
    EXPECT_EQ(g.field(g.find("Area")).precision, 20);
    EXPECT_EQ(g.field(g.find("Area")).scale, 5);
    EXPECT_EQ(g.field(g.find("CA")).scale, 16);
    EXPECT_EQ(g.field(g.find("Ratio")).type, FieldDouble);
    EXPECT_EQ(g.field(g.find("Seen")).type, FieldDate);
}

TEST(Table, ForeignFilesFollowTheReopenRule) {
    // The sample landscape was written elsewhere: its types are inferred.
    std::string samples = korvane::test::samplesFolder();
    auto fc = FeatureClass::open(samples + "/lsm-landscape/landscape_polygons.shp");
    EXPECT_EQ(fc->rowCount(), 28);
    EXPECT_EQ(fc->shapeType(), ShapeType::Polygon);
    EXPECT_EQ(fc->units(), 0);  // no .prj
    ASSERT_GE(fc->findField("class"), 2);
    ASSERT_GE(fc->findField("PATCH"), 2);
    for (const char* name : {"class", "patch"}) {
        const FieldDef& d = fc->fields().field(fc->findField(name));
        int32_t want = d.precision <= 5 ? FieldSmallInteger : FieldInteger;
        if (d.scale > 0) want = FieldDouble;
        EXPECT_EQ(d.type, want) << name;
    }
    // Every polygon has an area, read off its shape; ids run from 0 in file order.
    Cursor c = fc->search(nullptr, true);
    int64_t expectId = 0;
    double total = 0;
    while (RowPtr r = c.next()) {
        EXPECT_EQ(r->oid(), expectId++);
        EXPECT_GT(r->shape().area(), 0);
        total += r->shape().area();
    }
    EXPECT_EQ(expectId, 28);
    Envelope e = fc->extent();
    EXPECT_LE(total, e.width() * e.height() * (1 + 1e-9));
}

TEST(Table, RefusesFieldsTheFileCannotHold) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    auto t = ws.createTable("t", {{"Name", FieldString, 10, 0, 0}});
    const FieldDef refused[] = {
        {"ElevenChars", FieldDouble, 0, 10, 2},  // the driver would cut it to 10
        {"", FieldString, 5, 0, 0},
        {"\xc3\x89pinette", FieldInteger, 0, 5, 0},  // not ASCII
        {"tab\there", FieldInteger, 0, 5, 0},
        {"has space", FieldInteger, 0, 5, 0},
        {"NAME", FieldString, 5, 0, 0},  // duplicate, any case
        {"Geom", FieldGeometry, 0, 0, 0},
        {"Big", FieldString, 300, 0, 0},
        {"Dec", FieldDouble, 0, 5, 4},  // no room for the point and a digit
        {"Odd", 42, 0, 0, 0},
    };
    for (const FieldDef& d : refused) {
        EXPECT_THROW(t->addField(d), Failure) << d.name;
    }
    EXPECT_EQ(t->fields().count(), 2);
    EXPECT_EQ(dbfColumns(t->dbfPath()).size(), 1u);
    t->addField({"Long_Name1", FieldDouble, 0, 12, 3});
    EXPECT_EQ(dbfColumns(t->dbfPath()).back().name, "Long_Name1");
}

// Every name dBASE stores is created as named: metric codes and cross-tab
// columns keep their signs, and a leading digit is no obstacle.
TEST(Table, CreatesEveryNameDbaseStores) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    const std::vector<FieldDef> defs = {
        {"%LAND", FieldDouble, 0, 30, 2}, {"C%LAND", FieldDouble, 0, 30, 2}, {"Class-All", FieldDouble, 0, 30, 2},
        {"9lives", FieldInteger, 0, 5, 0}, {"a.b!~{}", FieldString, 4, 0, 0},
    };
    auto t = ws.createTable("t", defs);
    t->addField({"Class-10", FieldDouble, 0, 30, 2});
    std::vector<std::string> names;
    for (const auto& c : dbfColumns(t->dbfPath())) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"%LAND", "C%LAND", "Class-All", "9lives", "a.b!~{}", "Class-10"}));
    t->close();
    auto again = Table::open(tmp.file("t.dbf"));
    EXPECT_EQ(again->findField("class-all"), again->fields().find("Class-All"));
    EXPECT_GE(again->findField("%LAND"), 0);
}

TEST(Table, FieldNamesAreCutDeterministicallyAndSuffixedOnCollision) {
    struct Case {
        const char* wanted;
        std::vector<std::string> taken;
        const char* name;
    };
    const Case cases[] = {
        {"Class-All", {}, "Class-All"},
        {"Class-Regeneration", {}, "Class-Rege"},
        {"Class-Regeneration", {"Class-Rege"}, "Class-Re_1"},
        {"Class-Regeneration", {"class-rege", "Class-Re_1"}, "Class-Re_2"},
        {"REGION", {"region"}, "REGION_1"},
        {"Old Growth", {}, "Old_Growth"},
        {"", {}, "F"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dbfFieldNameFor(c.wanted, c.taken), c.name) << c.wanted;
        EXPECT_TRUE(isValidDbfFieldName(dbfFieldNameFor(c.wanted, c.taken)));
    }
}

TEST(Table, ValuesRoundTripAndAreCheckedAgainstTheirField) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    auto t = ws.createTable("vals", {{"Txt", FieldString, 8, 0, 0},
                                     {"Short", FieldSmallInteger, 0, 4, 0},
                                     {"Sgl", FieldSingle, 0, 20, 5},
                                     {"Dbl", FieldDouble, 0, 12, 3},
                                     {"Day", FieldDate, 0, 0, 0}});
    RowPtr r = t->createRow();
    r->setValue("Txt", std::string("naïve"));
    r->setValue("Short", 12.6);  // rounds
    r->setValue("Sgl", 0.1);
    r->setValue("Dbl", std::string("-12.5"));
    r->setValue("Day", std::string("2024-02-29"));
    r->store();
    EXPECT_EQ(r->oid(), 0);
    RowPtr blank = t->createRow();
    blank->store();
    EXPECT_EQ(blank->oid(), 1);

    // Conversions that would lose or invent data are refused.
    RowPtr bad = t->createRow();
    EXPECT_THROW(bad->setValue("Short", 40000), Failure);
    EXPECT_THROW(bad->setValue("Short", std::string("x")), Failure);
    EXPECT_THROW(bad->setValue("Day", 3), Failure);
    EXPECT_THROW(bad->setValue("OID", 3), Failure);
    EXPECT_THROW(bad->setValue("Nope", 3), Failure);
    // Values wider than their column are refused when stored, and nothing is written.
    bad->setValue("Txt", std::string("too long text"));
    EXPECT_THROW(bad->store(), Failure);
    bad->setValue("Txt", std::string("ok"));
    bad->setValue("Short", 12345);
    EXPECT_THROW(bad->store(), Failure);
    bad->setValue("Short", 1);
    bad->setValue("Dbl", 123456789.0);
    EXPECT_THROW(bad->store(), Failure);
    EXPECT_EQ(t->rowCount(), 2);

    std::string path = t->path();
    r.reset();
    blank.reset();
    bad.reset();
    t.reset();
    auto back = Table::open(path);
    RowPtr a = back->row(0);
    EXPECT_EQ(std::get<std::string>(a->value("Txt")), "naïve");
    EXPECT_EQ(std::get<int32_t>(a->value("Short")), 13);
    EXPECT_FLOAT_EQ(std::get<float>(a->value("Sgl")), 0.1f);
    EXPECT_DOUBLE_EQ(std::get<double>(a->value("Dbl")), -12.5);
    EXPECT_EQ(std::get<Date>(a->value("Day")), (Date{2024, 2, 29}));
    RowPtr b = back->row(1);
    for (int32_t i = 1; i < b->fields().count(); ++i) EXPECT_TRUE(isNull(b->value(i))) << i;
    EXPECT_THROW(back->row(2), Failure);
    EXPECT_THROW(back->row(-1), Failure);

    std::ostringstream out;
    printTable(*back, out);
    EXPECT_EQ(out.str(), "Txt\tShort\tSgl\tDbl\tDay\nnaïve\t13\t0.1\t-12.5\t2024-02-29\n\t\t\t\t\n");
}

// A statistics table stores single-precision values in columns of 16
// decimals; printed, they read as the column holds them, unpadded.
TEST(Table, StoredRealsPrintWithoutTheirPaddingZeros) {
    struct Case { int32_t type, scale; Value value; const char* shown; };
    const Case cases[] = {
        {FieldSingle, 16, Value{47402.28125f}, "47402.28125"},
        {FieldDouble, 16, Value{56.0}, "56"},
        {FieldDouble, 16, Value{1.0 / 3}, "0.3333333333333333"},
        {FieldDouble, 5, Value{2500.5}, "2500.5"},
        {FieldDouble, 5, Value{0.000001}, "0"},
        {FieldDouble, 5, Value{-0.000001}, "0"},
        {FieldDouble, 5, Value{-12.25}, "-12.25"},
        {FieldInteger, 0, Value{int32_t{100}}, "100"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatStored(FieldDef{"V", c.type, 0, 20, c.scale}, c.value), c.shown) << c.shown;
}

TEST(Table, CursorsSearchUpdateAndStayIndependent) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    auto fc = makePlots(ws, 9);
    EXPECT_EQ(fc->rowCount(), 9);
    QueryFilter b("Class = 'B'");
    EXPECT_EQ(idsOf(fc->search(&b, false)), (std::vector<int64_t>{1, 4, 7}));
    QueryFilter big("Count>=50 AND NOT Class='C'");
    EXPECT_EQ(idsOf(fc->search(&big, true)), (std::vector<int64_t>{6, 7}));
    EXPECT_EQ(fc->rowCount(&big), 2);
    QueryFilter unquoted("Class = B");
    EXPECT_THROW(fc->search(&unquoted, true), Failure);
    QueryFilter numberAsText("Class = 1");
    EXPECT_THROW(fc->search(&numberAsText, true), Failure);

    {
        // Two cursors on one class run side by side.
        Cursor outer = fc->search(nullptr, false);
        RowPtr first = outer.next();
        Cursor inner = fc->search(&b, true);
        EXPECT_EQ(inner.next()->oid(), 1);
        EXPECT_EQ(outer.next()->oid(), 1);
        EXPECT_EQ(first->oid(), 0);  // a non-recycled row keeps its values

        // A recycling cursor hands out one row object.
        Cursor rec = fc->search(nullptr, true);
        RowPtr r1 = rec.next();
        Row* addr = r1.get();
        EXPECT_EQ(rec.next().get(), addr);
    }

    // Update every feature's area from its shape, as the support fields do.
    {
        Cursor up = fc->update(nullptr, false);
        while (RowPtr r = up.next()) {
            r->setValue("Area", r->shape().area() * 2);
            up.updateRow(*r);
        }
    }
    RowPtr f8 = fc->feature(8);
    EXPECT_DOUBLE_EQ(toDouble(f8->value("Area")), 2 * 81.0);
    EXPECT_DOUBLE_EQ(f8->shape().area(), 81.0);
    EXPECT_DOUBLE_EQ(f8->shape().length(), 36.0);

    // Deleting through an update cursor removes the record from searches.
    {
        QueryFilter c("Class = 'C'");
        Cursor up = fc->update(&c, true);
        while (up.next()) up.deleteRow();
    }
    EXPECT_EQ(idsOf(fc->search(nullptr, true)), (std::vector<int64_t>{0, 1, 3, 4, 6, 7}));
    EXPECT_EQ(fc->rowCount(), 6);
    EXPECT_THROW(fc->row(2), Failure);
    fc->flush();  // ids stay put while the class is open
    EXPECT_EQ(fc->feature(7)->oid(), 7);

    // Closed and reopened, the file is packed: ids run from 0 again.
    std::string path = fc->path();
    f8.reset();
    fc.reset();
    auto packed = FeatureClass::open(path);
    EXPECT_EQ(packed->rowCount(), 6);
    EXPECT_EQ(idsOf(packed->search(nullptr, true)), (std::vector<int64_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(std::get<int32_t>(packed->row(5)->value("Count")), 70);
}

TEST(Table, RecordsMarkedDeletedByOtherProgramsAreNotRows) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    {
        auto t = ws.createTable("marks", {{"N", FieldInteger, 0, 4, 0}});
        for (int i = 0; i < 4; ++i) {
            RowPtr r = t->createRow();
            r->setValue("N", i);
            r->store();
        }
    }
    // Mark record 2 deleted, as a dBASE program leaves it before packing.
    std::string dbf = tmp.file("marks.dbf");
    std::vector<uint8_t> b = readBytes(dbf);
    size_t header = b[8] | (b[9] << 8), record = b[10] | (b[11] << 8);
    b[header + 2 * record] = '*';
    korvane::test::writeText(dbf, std::string(b.begin(), b.end()));

    auto t = ws.openTable("marks");
    EXPECT_EQ(t->rowCount(), 3);
    EXPECT_EQ(idsOf(t->search(nullptr, true)), (std::vector<int64_t>{0, 1, 3}));
    EXPECT_THROW(t->row(2), Failure);
    t->row(0)->deleteRow();
    EXPECT_EQ(t->rowCount(), 2);
}

TEST(Table, TheDbfOfAShapefileOpensAsItsFeatureClass) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    makePlots(ws, 2);
    TablePtr t = Table::open(tmp.file("plots.dbf"));
    ASSERT_TRUE(t->isFeatureClass());
    EXPECT_EQ(t, ws.openFeatureClass("plots"));
    RowPtr r = t->row(1);
    r->setValue("Count", 5);
    r->store();
    r.reset();
    t.reset();
    auto fc = ws.openFeatureClass("plots.shp");
    EXPECT_EQ(std::get<int32_t>(fc->row(1)->value("Count")), 5);
    EXPECT_DOUBLE_EQ(fc->row(1)->shape().area(), 4.0);  // the shape is kept
}

TEST(Table, ReadOnlyFilesAreRefusedAndLeftUnchanged) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    std::string path = makePlots(ws, 3)->path();  // released at once
    std::string dbf = tmp.file("plots.dbf");
    setReadOnly(dbf, true);
    std::vector<std::vector<uint8_t>> before;
    for (const char* ext : {".shp", ".shx", ".dbf"}) before.push_back(readBytes(tmp.file(std::string("plots") + ext)));

    auto fc = FeatureClass::open(path);
    EXPECT_TRUE(fc->isReadOnly());
    EXPECT_TRUE(fc->canCopy());
    EXPECT_FALSE(fc->canDelete());
    auto expectDenied = [](auto&& action) {
        try {
            action();
            ADD_FAILURE() << "not refused";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), err::HostAccessDenied) << f.description();
        }
    };
    expectDenied([&] { fc->addField({"Perimeter", FieldSingle, 0, 20, 5}); });
    expectDenied([&] { fc->deleteField("Count"); });
    expectDenied([&] { fc->update(nullptr, false); });
    expectDenied([&] { fc->insert(true); });
    expectDenied([&] {
        RowPtr r = fc->row(0);
        r->setValue("Count", 99);
        r->store();
    });
    expectDenied([&] { fc->row(1)->deleteRow(); });
    expectDenied([&] { ws.deleteDataset("plots"); });
    // Reading still works.
    EXPECT_EQ(fc->rowCount(), 3);
    EXPECT_EQ(fc->fields().count(), 5);

    std::vector<std::vector<uint8_t>> after;
    for (const char* ext : {".shp", ".shx", ".dbf"}) after.push_back(readBytes(tmp.file(std::string("plots") + ext)));
    EXPECT_EQ(before, after);

    // Once writable again the same object can write.
    setReadOnly(dbf, false);
    fc->addField({"Perimeter", FieldSingle, 0, 20, 5});
    EXPECT_EQ(dbfColumns(dbf).back().name, "Perimeter");
}

TEST(Workspace, CopiesExportsAndDeletesWholeDatasets) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    auto fc = makePlots(ws, 6);
    korvane::test::writeText(tmp.file("plots.prj"),
                             "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,"
                             "298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]");
    korvane::test::writeText(tmp.file("plots.sbn"), "index");
    korvane::test::writeText(tmp.file("plots.QIX"), "index");
    korvane::test::writeText(tmp.file("plots_keep.dbf"), "not ours");

    // Full copy: every file, byte for byte, under the new name.
    TablePtr copy = ws.copyDataset(*fc, "copy");
    ASSERT_TRUE(copy->isFeatureClass());
    EXPECT_EQ(copy->rowCount(), 6);
    EXPECT_EQ(readBytes(tmp.file("copy.dbf")), readBytes(tmp.file("plots.dbf")));
    EXPECT_TRUE(stdfs::exists(tmp.file("copy.prj")));
    EXPECT_THROW(ws.copyDataset(*fc, "copy"), Failure);  // exists

    // Export of a selection: only those features, same fields and system.
    SelectionSet sel(fc);
    sel.add(4);
    sel.add(1);
    auto part = ws.exportFeatures(*fc, sel, "part");
    EXPECT_EQ(part->rowCount(), 2);
    EXPECT_EQ(part->fields().all(), fc->fields().all());
    EXPECT_EQ(part->units(), 11);
    RowPtr p1 = part->row(1);
    EXPECT_EQ(std::get<int32_t>(p1->value("Count")), 40);
    EXPECT_DOUBLE_EQ(p1->shape().area(), 25.0);
    auto cols = dbfColumns(tmp.file("part.dbf"));
    auto srcCols = dbfColumns(tmp.file("plots.dbf"));
    ASSERT_EQ(cols.size(), srcCols.size());
    for (size_t i = 0; i < cols.size(); ++i) {
        EXPECT_EQ(cols[i].width, srcCols[i].width);
        EXPECT_EQ(cols[i].decimals, srcCols[i].decimals);
    }

    // Delete: every sidecar goes, other datasets stay, the open object closes.
    ws.deleteDataset("plots");
    for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg", ".sbn", ".QIX"})
        EXPECT_FALSE(stdfs::exists(tmp.file(std::string("plots") + ext))) << ext;
    EXPECT_TRUE(stdfs::exists(tmp.file("plots_keep.dbf")));
    EXPECT_TRUE(stdfs::exists(tmp.file("copy.shp")));
    EXPECT_THROW(fc->rowCount(), Failure);
    EXPECT_THROW(ws.deleteDataset("plots"), Failure);
    EXPECT_FALSE(ws.exists("plots"));
    EXPECT_TRUE(ws.exists("copy.shp"));
}

TEST(Table, DbaseTablesOpenAsStandaloneTables) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    {
        auto t = ws.createTable("stats.dbf", {{"Class", FieldString, 40, 0, 0}, {"CA", FieldSingle, 0, 30, 16}});
        EXPECT_FALSE(t->isFeatureClass());
        EXPECT_EQ(t->oidFieldName(), "OID");
        RowPtr r = t->createRow();
        r->setValue("Class", std::string("All"));
        r->setValue("CA", 12.5);
        r->store();
    }
    EXPECT_FALSE(stdfs::exists(tmp.file("stats.shp")));
    StandaloneTablePtr st = openTableFile(tmp.file("stats.dbf"));
    EXPECT_EQ(st->name(), "stats");
    ASSERT_TRUE(st->table);
    std::ostringstream out;
    printTable(*st->table, out);
    EXPECT_EQ(out.str(), "Class\tCA\nAll\t12.5\n");

    OpenedData d = openData(tmp.file("stats.dbf"));
    EXPECT_TRUE(d.table && !d.layer);
    EXPECT_THROW(openData(tmp.file("stats.txt")), Failure);
    EXPECT_THROW(openData(tmp.file("missing.shp")), Failure);
}

TEST(Table, AddsAndDeletesFieldsOnFilledTables) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    auto fc = makePlots(ws, 4);
    fc->addField({"Perimeter", FieldSingle, 0, 20, 5});
    {
        Cursor up = fc->update(nullptr, true);
        while (RowPtr r = up.next()) {
            r->setValue("Perimeter", r->shape().length());
            up.updateRow(*r);
        }
    }
    fc->deleteField("count");
    EXPECT_EQ(fc->findField("Count"), -1);
    EXPECT_THROW(fc->deleteField("FID"), Failure);
    EXPECT_THROW(fc->deleteField("Shape"), Failure);
    EXPECT_THROW(fc->deleteField("nothing"), Failure);
    std::string path = fc->path();
    fc.reset();
    auto back = FeatureClass::open(path);
    EXPECT_EQ(back->fields().names(), (std::vector<std::string>{"FID", "Shape", "Class", "Area", "Perimeter"}));
    EXPECT_FLOAT_EQ(std::get<float>(back->row(3)->value("Perimeter")), 16.0f);
    EXPECT_EQ(std::get<std::string>(back->row(3)->value("Class")), "A");
}

TEST(Table, ShapesMustFitTheClass) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    auto fc = ws.createFeatureClass("pts", {{"Id", FieldInteger, 0, 5, 0}}, ShapeType::Point);
    RowPtr r = fc->createFeature();
    EXPECT_THROW(r->setShape(square(0, 0, 1)), Failure);
    r->setShape(Geometry::point(3, 4));
    r->store();
    RowPtr empty = fc->createFeature();
    empty->store();  // a null shape
    auto t = ws.createTable("t", {});
    EXPECT_THROW(t->createRow()->setShape(Geometry::point(1, 1)), Failure);
    EXPECT_EQ(fc->row(0)->shape().points(), (std::vector<Point>{{3, 4}}));
    EXPECT_TRUE(fc->row(1)->shape().isEmpty());
}

}  // namespace

namespace {

void patchBytes(const std::string& path, long at, const std::vector<uint8_t>& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(at);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

// A shapefile whose files disagree is refused on open, naming the file,
// instead of being read in part.
TEST(Table, DamagedShapefilesAreRefusedOnOpen) {
    struct Case {
        const char* what;
        const char* file;   // the file the message names
        std::function<void(const std::string& base)> damage;
    } cases[] = {
        {"a .shp shorter than its index says", ".shp",
         [](const std::string& base) { stdfs::resize_file(base + ".shp", stdfs::file_size(base + ".shp") - 20); }},
        {"a record offset past the end", ".shx",
         [](const std::string& base) {
             // The third index entry points far beyond the .shp (header length kept).
             patchBytes(base + ".shx", 100 + 2 * 8, {0x00, 0x10, 0x00, 0x00});
         }},
        {"a .dbf record count that disagrees", ".dbf",
         [](const std::string& base) {
             auto bytes = readBytes(base + ".dbf");
             uint32_t n = bytes[4] | (bytes[5] << 8);
             patchBytes(base + ".dbf", 4, {static_cast<uint8_t>(n - 1), 0, 0, 0});
         }},
        {"a .dbf shorter than its records", ".dbf",
         [](const std::string& base) { stdfs::resize_file(base + ".dbf", stdfs::file_size(base + ".dbf") - 30); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder tmp;
        {
            auto ws = ShapefileWorkspace::open(tmp.path());
            makePlots(ws, 4)->close();
        }
        c.damage(tmp.file("plots"));
        auto before = readBytes(tmp.file("plots") + c.file);
        try {
            Table::open(tmp.file("plots.shp"));
            ADD_FAILURE() << "opened";
        } catch (const Failure& f) {
            EXPECT_NE(f.description().find(tmp.file("plots") + c.file), std::string::npos) << f.description();
        }
        EXPECT_EQ(readBytes(tmp.file("plots") + c.file), before);
    }
}
