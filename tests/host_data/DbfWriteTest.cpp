// Field changes and attribute-only row updates, which the data layer writes
// into the .dbf itself: the files must come out byte for byte as the
// shapefile driver writes them, and every reader must see the new values.
#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>
#include <sys/resource.h>

#include <csignal>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>

#include "TestFiles.h"
#include "host/FileReplace.h"
#include "host/Failure.h"
#include "host/data/TableImpl.h"
#include "host/data/Workspace.h"

using namespace korvane::host;
using korvane::test::readBytes;
using korvane::test::setReadOnly;
using korvane::test::TempFolder;
namespace stdfs = std::filesystem;

namespace {

// The driver's way, for the reference files; restored when it goes.
struct DriverWrites {
    explicit DriverWrites(bool on) { data::setDirectDbfWrites(!on); }
    ~DriverWrites() { data::setDirectDbfWrites(true); }
};

// A file's bytes, the header's last-update date blanked (it is the day of
// writing).
std::vector<uint8_t> dbfBytes(const std::string& path) {
    std::vector<uint8_t> b = readBytes(path);
    for (size_t i = 1; i < 4 && i < b.size(); ++i) b[i] = 0;
    return b;
}

Geometry square(double x, double y, double size) {
    return Geometry::polygon({{{x, y}, {x + size, y}, {x + size, y + size}, {x, y + size}}});
}

// Marks a record of a dBASE file deleted, as another program would.
void markDeleted(const std::string& dbf, size_t n) {
    std::vector<uint8_t> b = readBytes(dbf);
    size_t header = b[8] | (b[9] << 8), record = b[10] | (b[11] << 8);
    b[header + n * record] = '*';
    korvane::test::writeText(dbf, std::string(b.begin(), b.end()));
}

// A shapefile with a field of every kind, nulls among the values, text with
// multibyte characters and one record that carries the deletion mark.
void makeFixture(const std::string& folder) {
    auto ws = ShapefileWorkspace::open(folder);
    auto fc = ws.createFeatureClass("base",
                                    {{"Class", FieldString, 10, 0, 0},
                                     {"Count", FieldInteger, 0, 6, 0},
                                     {"Small", FieldSmallInteger, 0, 3, 0},
                                     {"Area", FieldSingle, 0, 20, 5},
                                     {"Ratio", FieldDouble, 0, 12, 4},
                                     {"Seen", FieldDate, 0, 0, 0}},
                                    ShapeType::Polygon);
    InsertCursor ins = fc->insert(true);
    RowPtr r = ins.createRowBuffer();
    const char* classes[] = {"A", "Bé", "ééééé", ""};
    for (int i = 0; i < 12; ++i) {
        for (int32_t f = 2; f < r->fields().count(); ++f) r->setValue(f, Value{});
        if (i % 5 != 4) {
            r->setValue("Class", std::string(classes[i % 4]));
            r->setValue("Count", i * 1001 - 3000);
            r->setValue("Small", i - 6);
            r->setValue("Area", i * 12.345678);
            r->setValue("Ratio", i / 7.0);
            r->setValue("Seen", Date{2000 + i, 1 + i % 12, 1 + i * 2});
        }
        r->setShape(square(i * 10.0, 0, 1 + i));
        ins.insertRow(*r);
    }
    ins.flush();
    fc->close();
    // Record 3 marked deleted by another program.
    markDeleted(folder + "/base.dbf", 3);
}

// Copies the fixture's files under a new folder.
std::string copyOf(const std::string& from, const std::string& to) {
    stdfs::create_directories(to);
    for (const auto& e : stdfs::directory_iterator(from)) stdfs::copy_file(e.path(), to / e.path().filename());
    return to + "/base.shp";
}

// Runs the same work on three copies of the fixture, once through the
// driver, once the direct way and once in an edit session, and expects the
// same files.
void expectSameFiles(const std::function<void(FeatureClass&)>& work, const std::string& source = {}) {
    TempFolder tmp;
    std::string fixture = tmp.file("fixture");
    stdfs::create_directories(fixture);
    if (source.empty()) {
        makeFixture(fixture);
    } else {
        for (const char* ext : {".shp", ".shx", ".dbf"}) {
            stdfs::copy_file(source + ext, fixture + "/base" + ext);
            setReadOnly(fixture + "/base" + ext, false);
        }
    }
    std::string viaDriver = copyOf(fixture, tmp.file("driver"));
    std::string direct = copyOf(fixture, tmp.file("direct"));
    std::string edited = copyOf(fixture, tmp.file("edited"));
    {
        // The same work in one edit session: its working copy is written the
        // same way and replaces the files at the commit.
        auto fc = FeatureClass::open(edited);
        EditSession edit(*fc);
        work(*fc);
        edit.commit();
        fc->close();
    }
    {
        DriverWrites on(true);
        auto fc = FeatureClass::open(viaDriver);
        work(*fc);
        fc->close();
    }
    data::DirectDbfCounts before = data::directDbfCounts();
    {
        auto fc = FeatureClass::open(direct);
        work(*fc);
        fc->close();
    }
    // The direct way was taken (its writes are not all refused).
    data::DirectDbfCounts after = data::directDbfCounts();
    EXPECT_GT(after.fieldChanges + after.records, before.fieldChanges + before.records);
    for (const char* ext : {".dbf", ".shp", ".shx", ".cpg"}) {
        std::string a = tmp.file(std::string("driver/base") + ext), b = tmp.file(std::string("direct/base") + ext);
        std::string c = tmp.file(std::string("edited/base") + ext);
        ASSERT_EQ(stdfs::exists(a), stdfs::exists(b)) << ext;
        ASSERT_EQ(stdfs::exists(a), stdfs::exists(c)) << ext;
        if (stdfs::exists(a)) {
            EXPECT_EQ(dbfBytes(a), dbfBytes(b)) << ext;
            EXPECT_EQ(dbfBytes(a), dbfBytes(c)) << ext << " in an edit session";
        }
    }
    std::vector<uint8_t> header = readBytes(tmp.file("direct/base.dbf"));
    EXPECT_GE(header[2], 1);  // a real date: month and day
    EXPECT_LE(header[2], 12);
    EXPECT_GE(header[3], 1);
    EXPECT_LE(header[3], 31);
}

// Sets one field of every row from the table of values, in an update cursor.
void updateAll(FeatureClass& fc, const std::string& field, const std::vector<Value>& values) {
    Cursor c = fc.update(nullptr, true);
    size_t i = 0;
    while (RowPtr r = c.next()) {
        r->setValue(field, values[i++ % values.size()]);
        c.updateRow(*r);
    }
}

// Values read back through a fresh driver handle, independent of the data
// layer's objects: field -> text per feature.
std::vector<std::string> readWithDriver(const std::string& shp, const char* field) {
    GDALAllRegister();
    std::unique_ptr<GDALDataset> ds(GDALDataset::Open(shp.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    EXPECT_TRUE(ds);
    if (!ds) return {};
    OGRLayer* layer = ds->GetLayer(0);
    std::vector<std::string> out;
    layer->ResetReading();
    while (OGRFeature* f = layer->GetNextFeature()) {
        int i = f->GetFieldIndex(field);
        out.push_back(f->IsFieldSetAndNotNull(i) ? f->GetFieldAsString(i) : "<null>");
        OGRFeature::DestroyFeature(f);
    }
    return out;
}

// The bytes of one field of a record as the .dbf holds them.
std::string storedField(const std::string& dbf, size_t record, const std::string& field) {
    std::vector<uint8_t> b = readBytes(dbf);
    const size_t header = b[8] | (b[9] << 8), length = b[10] | (b[11] << 8);
    size_t offset = 1;  // the deletion flag
    for (size_t d = 32; d + 32 <= header && b[d] != 0x0D; d += 32) {
        const size_t width = b[d + 16];
        if (std::string(reinterpret_cast<const char*>(&b[d])) == field)
            return std::string(reinterpret_cast<const char*>(&b[header + record * length + offset]), width);
        offset += width;
    }
    ADD_FAILURE() << "no field " << field;
    return {};
}

}  // namespace

TEST(DbfWrites, NumbersAreFormattedAsPrintfFormatsThem) {
    // The driver formats numbers with "%<width>.<decimals>f".
    std::vector<double> values = {0.0,    -0.0,    0.5,     1.5,    2.5,         -2.5,   0.125,  0.375,
                                  1e-300, 5e-324,  1e22,    1e23,   9.999995,    0.05,   0.15,   0.25,
                                  123456789.123456789, -1.0 / 3, 2.0 / 3, 1e15 + 0.5, 4503599627370497.5,
                                  9.5,    99.5,    0.95,    9.9999949999, 9.999995000001, 999999.999995, -9.5, 0.9999};
    for (int k = 0; k < 16; ++k) {  // around every power of ten
        double p = std::pow(10.0, k);
        for (double d : {-1e-3, -5e-6, -5e-7, -1e-12, 0.0}) values.push_back(std::nextafter(p + d * p, 0.0));
    }
    std::mt19937_64 rng(42);
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = rng();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        if (!std::isfinite(x) || std::fabs(x) > 1e30) x = std::ldexp(static_cast<double>(bits >> 11), -static_cast<int>(bits % 80));
        values.push_back(i % 2 ? x : -x);
    }
    // Measures as a table holds them: single-precision values of every size
    // a patch takes, and values just beside the ties of five decimals.
    for (int i = 0; i < 20000; ++i) {
        double magnitude = std::ldexp(1.0, static_cast<int>(rng() % 60) - 20);
        values.push_back(static_cast<float>(magnitude * static_cast<double>(rng() % 1000003) / 1000003.0));
        double tie = (static_cast<double>(rng() % 100000000) + 0.5) / 1e5;
        values.push_back(std::nextafter(tie, i % 2 ? 0.0 : 1e9));
    }
    char mine[1024], theirs[1024];
    for (double x : values) {
        for (int decimals : {0, 1, 2, 5, 11, 16}) {
            size_t n = data::formatFixed(x, decimals, mine, sizeof mine);
            std::snprintf(theirs, sizeof theirs, "%.*f", decimals, x);
            ASSERT_EQ(std::string(mine, n), theirs) << decimals;
            ASSERT_EQ(data::fixedLength(x, decimals), n) << theirs;
        }
    }
}

TEST(DbfWrites, FieldChangesWriteTheSameFileAsTheDriver) {
    // Each change alone, then a sequence as the metric run makes it.
    std::vector<std::function<void(FeatureClass&)>> changes = {
        [](FeatureClass& fc) { fc.addField({"Perim", FieldSingle, 0, 20, 5}); },
        [](FeatureClass& fc) { fc.addField({"Name", FieldString, 0, 0, 0}); },
        [](FeatureClass& fc) { fc.addField({"Code", FieldString, 254, 0, 0}); },
        [](FeatureClass& fc) { fc.addField({"S", FieldSmallInteger, 0, 0, 0}); },
        [](FeatureClass& fc) { fc.addField({"L", FieldInteger, 0, 12, 0}); },
        [](FeatureClass& fc) { fc.addField({"Wide", FieldInteger, 0, 19, 0}); },
        [](FeatureClass& fc) { fc.addField({"D", FieldDouble, 0, 0, 0}); },
        [](FeatureClass& fc) { fc.addField({"R", FieldDouble, 0, 255, 16}); },
        [](FeatureClass& fc) { fc.addField({"When", FieldDate, 0, 0, 0}); },
        [](FeatureClass& fc) {
            fc.addFields({{"Sb", FieldSmallInteger, 0, 0, 0},
                          {"Mean", FieldDouble, 0, 0, 0},
                          {"Label", FieldString, 12, 0, 0},
                          {"When2", FieldDate, 0, 0, 0}});
            updateAll(fc, "Sb", {3, Value{}, 10});
        },
        [](FeatureClass& fc) { fc.deleteField("Class"); },
        [](FeatureClass& fc) { fc.deleteField("Count"); },
        [](FeatureClass& fc) { fc.deleteField("seen"); },
        [](FeatureClass& fc) {
            fc.deleteField("Count");
            fc.deleteField("Ratio");
            for (const char* n : {"Area2", "Perimeter", "SI", "PAR", "FD"}) fc.addField({n, FieldSingle, 0, 20, 5});
            fc.deleteField("Area2");
            // Rows written after the changes land in the new layout.
            updateAll(fc, "SI", {1.5, Value{}, -2.25});
        },
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        SCOPED_TRACE("change " + std::to_string(i));
        expectSameFiles(changes[i]);
    }
}

TEST(DbfWrites, FieldChangesOfAForeignFileMatchTheDriver) {
    std::string samples = korvane::test::samplesFolder();
    expectSameFiles(
        [](FeatureClass& fc) {
            fc.deleteField("PATCH");
            fc.addField({"Area", FieldSingle, 0, 20, 5});
            updateAll(fc, "Area", {0.5, 12345.678901});
        },
        samples + "/lsm-landscape/landscape_polygons");
}

// A shapefile written by the driver, by default with its default encoding
// (ISO-8859-1, told by the language driver byte): a text field "Name" 6 wide
// and an integer "N" 4 wide, four rows.
void makeDriverShapefile(const std::string& base, const char* encoding = nullptr) {
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    std::unique_ptr<GDALDataset> ds(driver->Create((base + ".shp").c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    ASSERT_TRUE(ds);
    CPLStringList options;
    if (encoding) options.SetNameValue("ENCODING", encoding);
    OGRLayer* layer = ds->CreateLayer(stdfs::path(base).filename().c_str(), nullptr, wkbPolygon, options.List());
    OGRFieldDefn name("Name", OFTString);
    name.SetWidth(6);
    ASSERT_EQ(layer->CreateField(&name), OGRERR_NONE);
    OGRFieldDefn n("N", OFTInteger);
    n.SetWidth(4);
    ASSERT_EQ(layer->CreateField(&n), OGRERR_NONE);
    for (const char* text : {"é", "abc", "ÿÿÿ", ""}) {
        FeatureHandle f(OGRFeature::CreateFeature(layer->GetLayerDefn()));
        f->SetField(0, text);
        f->SetField(1, 1);
        OGRPolygon p;
        OGRLinearRing r;
        r.addPoint(0, 0);
        r.addPoint(0, 1);
        r.addPoint(1, 1);
        r.addPoint(0, 0);
        p.addRing(&r);
        f->SetGeometry(&p);
        ASSERT_EQ(layer->CreateFeature(f.get()), OGRERR_NONE);
    }
}

TEST(DbfWrites, TextInAnIso88591FileMatchesTheDriver) {
    TempFolder tmp;
    std::string base = tmp.file("latin");
    makeDriverShapefile(base);
    ASSERT_EQ(readBytes(base + ".dbf")[29], 87);
    expectSameFiles([](FeatureClass& fc) { updateAll(fc, "Name", {std::string("Çà"), std::string("ÿéÿ"), std::string("plain")}); },
                    base);
    expectSameFiles([](FeatureClass& fc) { updateAll(fc, "N", {5, Value{}}); }, base);
    {
        auto fc = FeatureClass::open(base + ".shp");
        updateAll(*fc, "Name", {std::string("ñaú")});
        fc->close();
    }
    EXPECT_EQ(readWithDriver(base + ".shp", "Name"), std::vector<std::string>(4, "ñaú"));
}

TEST(DbfWrites, AttributeUpdatesWriteTheSameRecordsAsTheDriver) {
    struct Case {
        const char* field;
        std::vector<Value> values;
    } cases[] = {
        {"Class", {std::string("ééééé"), std::string("abcdefghij"), std::string(""), Value{}, std::string("x y")}},
        {"Count", {0, -99999, 999999, Value{}, 7}},
        {"Small", {-99, 999, 0, Value{}}},
        {"Area", {0.0, -1.5, 123456789.12345, 0.000005, 0.000004, 2.5e-6, 1e13, Value{}, 7, float(0.1f)}},
        {"Ratio", {1.23455, 1.23445, -0.00005, 9999999.9999, Value{}, std::string("42")}},
        {"Seen", {Date{2024, 2, 29}, Date{1999, 12, 31}, Value{}, std::string("2001-01-01")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        expectSameFiles([&](FeatureClass& fc) { updateAll(fc, c.field, c.values); });
    }
    // Every field at once, on some rows only, by row objects as well.
    expectSameFiles([](FeatureClass& fc) {
        QueryFilter odd("Small > -3");
        Cursor c = fc.update(&odd, false);
        while (RowPtr r = c.next()) {
            r->setValue("Class", std::string("z"));
            r->setValue("Area", r->shape().area());
            r->setValue("Seen", Value{});
            c.updateRow(*r);
        }
        RowPtr one = fc.row(1);
        one->setValue("Count", 5);
        one->store();
        one->store();
    });
}

TEST(DbfWrites, ValuesThatDoNotFitAreRefusedAndNothingIsWritten) {
    TempFolder tmp;
    makeFixture(tmp.path());
    auto before = readBytes(tmp.file("base.dbf"));
    auto fc = FeatureClass::open(tmp.file("base.shp"));
    struct Case {
        const char* field;
        Value value;
    } cases[] = {
        {"Class", std::string("éééééé")},  // 6 characters, 12 bytes in a 10-wide field
        {"Class", std::string("abcdefghijk")},
        {"Count", 1234567},
        {"Area", 1e15},
        {"Ratio", -1234567.5},
    };
    for (const Case& c : cases) {
        Cursor up = fc->update(nullptr, true);
        RowPtr r = up.next();
        r->setValue(c.field, c.value);
        try {
            up.updateRow(*r);
            ADD_FAILURE() << c.field << " not refused";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), err::HostInvalidArg) << f.description();
        }
    }
    fc->flush();
    EXPECT_EQ(readBytes(tmp.file("base.dbf")), before);
}

// A value that fits its field, up to its last byte, is written by the direct
// writer; only one it cannot store exactly goes to the driver.
TEST(DbfWrites, ValuesThatFillTheirFieldAreWrittenDirectly) {
    enum File { Utf8, Latin1, Cp1252 };
    struct Case {
        File file;
        const char* field;
        Value value;
        std::optional<std::string> stored;  // nothing: the driver writes it
    } cases[] = {
        {Utf8, "Class", std::string("abcdefghij"), "abcdefghij"},
        {Utf8, "Class", std::string("ééééé"), "ééééé"},
        {Utf8, "Class", std::string("abc"), "abc       "},
        {Utf8, "Count", -99999, "-99999"},
        {Utf8, "Count", 999999, "999999"},
        {Utf8, "Small", -99, "-99"},
        {Utf8, "Small", 999, "999"},
        {Utf8, "Area", -8796093022208.0, "-8796093022208.00000"},
        {Utf8, "Area", float(-8796093022208.0f), "-8796093022208.00000"},
        {Utf8, "Ratio", 9999999.9999, "9999999.9999"},
        {Utf8, "Ratio", -999999.9999, "-999999.9999"},
        {Utf8, "Seen", Date{2024, 2, 29}, "20240229"},
        {Latin1, "Name", std::string("ÿÿÿ"), "\xFF\xFF\xFF   "},
        {Latin1, "Name", std::string("abcdef"), "abcdef"},
        {Latin1, "N", -999, "-999"},
        {Cp1252, "Name", std::string("abcdef"), "abcdef"},
        {Cp1252, "N", 1234, "1234"},
        // What only the driver writes its own way: a year before 1000, text
        // beyond ASCII in a file of another single-byte code page.
        {Utf8, "Seen", Date{999, 12, 31}, std::nullopt},
        {Cp1252, "Name", std::string("é"), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.field << " " << c.stored.value_or("(driver)"));
        TempFolder tmp;
        std::string base = tmp.file("base");
        if (c.file == Utf8)
            makeFixture(tmp.path());
        else
            makeDriverShapefile(base, c.file == Cp1252 ? "CP1252" : nullptr);
        const int64_t declined = data::DbfRecordWriter::declinedRecords();
        const int64_t records = data::directDbfCounts().records;
        {
            auto fc = FeatureClass::open(base + ".shp");
            Cursor up = fc->update(nullptr, true);
            RowPtr r = up.next();
            r->setValue(c.field, c.value);
            up.updateRow(*r);
            fc->close();
        }
        if (c.stored) {
            EXPECT_EQ(data::DbfRecordWriter::declinedRecords(), declined);
            EXPECT_EQ(data::directDbfCounts().records, records + 1);
            EXPECT_EQ(storedField(base + ".dbf", 0, c.field), *c.stored);
        } else {
            EXPECT_EQ(data::DbfRecordWriter::declinedRecords(), declined + 1);
            EXPECT_EQ(data::directDbfCounts().records, records);
        }
    }
}

TEST(DbfWrites, EveryReaderSeesTheWrittenValues) {
    TempFolder tmp;
    makeFixture(tmp.path());
    std::string shp = tmp.file("base.shp");
    auto shpBefore = readBytes(tmp.file("base.shp"));
    auto fc = FeatureClass::open(shp);
    std::vector<int64_t> ids = {0, 1, 2, 4, 5, 6, 7, 8, 9, 10, 11};  // 3 is deleted

    {
        // A search cursor reading behind an update cursor, one ahead of it
        // opened first, and single rows, see each value once it is written.
        Cursor ahead = fc->search(nullptr, false);
        Cursor up = fc->update(nullptr, true);
        Cursor behind = fc->search(nullptr, true);
        size_t k = 0;
        while (RowPtr r = up.next()) {
            r->setValue("Count", static_cast<int32_t>(r->oid() * 3));
            r->setValue("Class", std::string("w") + std::to_string(r->oid()));
            up.updateRow(*r);
            RowPtr b = behind.next();
            ASSERT_TRUE(b);
            EXPECT_EQ(b->oid(), r->oid());
            EXPECT_EQ(std::get<int32_t>(b->value("Count")), r->oid() * 3);
            EXPECT_EQ(std::get<int32_t>(fc->row(r->oid())->value("Count")), r->oid() * 3);
            ++k;
        }
        EXPECT_EQ(k, ids.size());
        for (int64_t id : ids) {
            RowPtr a = ahead.next();
            ASSERT_TRUE(a);
            EXPECT_EQ(a->oid(), id);
            EXPECT_EQ(std::get<std::string>(a->value("Class")), "w" + std::to_string(id));
        }
        EXPECT_FALSE(ahead.next());
    }

    // A row whose shape changed goes through the driver, beside direct writes.
    {
        Cursor up = fc->update(nullptr, true);
        while (RowPtr r = up.next()) {
            if (r->oid() == 5) r->setShape(square(0, 0, 100));
            r->setValue("Small", static_cast<int32_t>(r->oid()));
            up.updateRow(*r);
        }
    }
    EXPECT_DOUBLE_EQ(fc->row(5)->shape().area(), 10000.0);
    EXPECT_EQ(std::get<int32_t>(fc->row(5)->value("Small")), 5);
    EXPECT_DOUBLE_EQ(fc->row(6)->shape().area(), 49.0);

    // A dirty record deleted, a row added, a selection counted.
    fc->row(7)->deleteRow();
    RowPtr added = fc->createRow();
    added->setValue("Count", 77);
    added->setShape(square(0, 0, 2));
    added->store();
    added->setValue("Count", 78);
    added->store();
    QueryFilter q("Count >= 15");
    EXPECT_EQ(fc->rowCount(&q), 7);  // 15 18 24 27 30 33 and 78
    SelectionSet sel(fc);
    sel.select(&q, SelectionMethod::New);
    EXPECT_EQ(sel.ids(), (std::vector<int64_t>{5, 6, 8, 9, 10, 11, 12}));

    // The driver, opened anew beside the open class, reads the same.
    fc->flush();
    std::vector<std::string> counts = readWithDriver(shp, "Count");
    EXPECT_EQ(counts, (std::vector<std::string>{"0", "3", "6", "12", "15", "18", "24", "27", "30", "33", "78"}));

    // Closed (packed) and reopened: the same values, the unchanged shapes' file
    // untouched but for the one shape rewritten.
    fc->close();
    auto again = FeatureClass::open(shp);
    std::vector<int32_t> seen;
    Cursor c = again->search(nullptr, true);
    while (RowPtr r = c.next()) seen.push_back(std::get<int32_t>(r->value("Count")));
    EXPECT_EQ(seen, (std::vector<int32_t>{0, 3, 6, 12, 15, 18, 24, 27, 30, 33, 78}));
    EXPECT_EQ(std::get<std::string>(again->row(1)->value("Class")), "w1");
    EXPECT_TRUE(isNull(again->row(3)->value("Area")));  // record 4 of the fixture, all null
}

TEST(DbfWrites, AFieldChangeThatCannotBeWrittenLeavesTheFileAsItWas) {
    TempFolder tmp;
    auto ws = ShapefileWorkspace::open(tmp.path());
    auto t = ws.createTable("big", {{"Name", FieldString, 40, 0, 0}});
    {
        InsertCursor ins = t->insert(true);
        RowPtr r = ins.createRowBuffer();
        for (int i = 0; i < 400; ++i) {
            r->setValue("Name", "row " + std::to_string(i));
            ins.insertRow(*r);
        }
    }
    t->flush();
    std::string dbf = tmp.file("big.dbf");
    auto before = readBytes(dbf);
    ASSERT_GT(before.size(), 8192u);
    {
        // No file may grow past 8 KiB: the new file cannot be written.
        struct Limit {
            rlimit old{};
            sighandler_t handler;
            Limit() : handler(std::signal(SIGXFSZ, SIG_IGN)) {
                getrlimit(RLIMIT_FSIZE, &old);
                rlimit small = old;
                small.rlim_cur = 8192;
                setrlimit(RLIMIT_FSIZE, &small);
            }
            ~Limit() {
                setrlimit(RLIMIT_FSIZE, &old);
                std::signal(SIGXFSZ, handler);
            }
        } limit;
        EXPECT_THROW(t->addField({"Extra", FieldDouble, 0, 12, 2}), Failure);
    }
    EXPECT_EQ(readBytes(dbf), before);
    EXPECT_EQ(t->findField("Extra"), -1);
    size_t files = 0;
    for (const auto& e : stdfs::directory_iterator(tmp.path())) files += e.path().filename().string()[0] == '.';
    EXPECT_EQ(files, 0u) << "a temporary file was left";
    // Nothing was lost: the table still reads and changes.
    EXPECT_EQ(std::get<std::string>(t->row(399)->value("Name")), "row 399");
    t->addField({"Extra", FieldDouble, 0, 12, 2});
    EXPECT_TRUE(isNull(t->row(399)->value("Extra")));
}

TEST(DbfWrites, SeveralFieldsAreAddedInOneRewriteOrNotAtAll) {
    TempFolder tmp;
    makeFixture(tmp.path());
    std::string dbf = tmp.file("base.dbf");
    auto before = readBytes(dbf);
    auto fc = FeatureClass::open(tmp.file("base.shp"));
    int32_t count = fc->fields().count();
    // A bad definition anywhere in the list refuses the whole list.
    std::vector<std::vector<FieldDef>> refused = {
        {{"Sb", FieldSmallInteger, 0, 0, 0}, {"sb", FieldSmallInteger, 0, 0, 0}},     // twice in the list
        {{"Sb", FieldSmallInteger, 0, 0, 0}, {"class", FieldSmallInteger, 0, 0, 0}},  // already a field
        {{"Sb", FieldSmallInteger, 0, 0, 0}, {"B w", FieldSmallInteger, 0, 0, 0}},    // a blank
        {{"Sb", FieldSmallInteger, 0, 0, 0}, {"Po", FieldString, 300, 0, 0}},         // too wide
    };
    for (const auto& defs : refused) {
        EXPECT_THROW(fc->addFields(defs), Failure) << defs[1].name;
        EXPECT_EQ(fc->fields().count(), count);
    }
    fc->flush();
    EXPECT_EQ(readBytes(dbf), before);

    int64_t rewrites = data::directDbfCounts().fieldChanges;
    fc->addFields({{"Sb", FieldSmallInteger, 0, 0, 0}, {"Bw", FieldSmallInteger, 0, 0, 0}, {"Po", FieldDouble, 0, 8, 2}});
    EXPECT_EQ(data::directDbfCounts().fieldChanges, rewrites + 1);
    ASSERT_EQ(fc->fields().count(), count + 3);
    EXPECT_EQ(fc->fields().field(count).name, "Sb");
    EXPECT_EQ(fc->fields().field(count + 2).type, FieldDouble);
    RowPtr r = fc->row(1);
    EXPECT_TRUE(isNull(r->value("Bw")));
    r->setValue("Bw", 7);
    r->store();
    fc->close();
    auto again = FeatureClass::open(tmp.file("base.shp"));
    EXPECT_EQ(std::get<int32_t>(again->row(1)->value("Bw")), 7);
    EXPECT_EQ(std::get<int32_t>(again->row(1)->value("Count")), 1001 - 3000);
}

TEST(DbfWrites, ReadOnlyFilesAreRefusedBetweenWrites) {
    TempFolder tmp;
    makeFixture(tmp.path());
    auto fc = FeatureClass::open(tmp.file("base.shp"));
    Cursor up = fc->update(nullptr, true);
    RowPtr r = up.next();
    r->setValue("Count", 1);
    up.updateRow(*r);
    fc->flush();
    auto before = readBytes(tmp.file("base.dbf"));
    setReadOnly(tmp.file("base.dbf"), true);
    r = up.next();
    r->setValue("Count", 2);
    try {
        up.updateRow(*r);
        ADD_FAILURE() << "not refused";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::HostAccessDenied);
    }
    fc->flush();
    EXPECT_EQ(readBytes(tmp.file("base.dbf")), before);
    setReadOnly(tmp.file("base.dbf"), false);
    up.updateRow(*r);
    fc->flush();
    EXPECT_EQ(readWithDriver(tmp.file("base.shp"), "Count")[1], "2");
}

namespace {

// What a pass over the rows saw of each: its id, its values and its shape.
struct SeenRow {
    int64_t oid;
    std::vector<Value> values;
    std::vector<uint8_t> shape;
    bool operator==(const SeenRow&) const = default;
};

// The fixture with shapes of every kind the reader meets: one-ring
// polygons, a polygon with a hole, two parts, a ring crossing itself, an open
// ring, a null shape; one record carries the deletion mark.
void makeShapesFixture(const std::string& folder) {
    auto ws = ShapefileWorkspace::open(folder);
    auto fc = ws.createFeatureClass("base",
                                    {{"Class", FieldString, 10, 0, 0},
                                     {"Count", FieldInteger, 0, 6, 0},
                                     {"Area", FieldSingle, 0, 20, 5}},
                                    ShapeType::Polygon);
    InsertCursor ins = fc->insert(true);
    RowPtr r = ins.createRowBuffer();
    const std::vector<Geometry> shapes = {
        square(0, 0, 2),
        Geometry::fromWkt("POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0), (2 2, 2 4, 4 4, 4 2, 2 2))"),
        Geometry::fromWkt("MULTIPOLYGON (((0 0, 1 0, 1 1, 0 1, 0 0)), ((5 5, 6 5, 6 6, 5 6, 5 5)))"),
        Geometry::polygon({{{0, 0}, {1, 1}, {1, 0}, {0, 1}}}),
        Geometry(),
        square(3, 4, 0.5),
        square(7, 1, 1.25),
    };
    for (size_t i = 0; i < shapes.size(); ++i) {
        r->setValue("Class", i % 3 == 2 ? Value{} : Value{std::string(i % 2 ? "B'é" : "A")});
        r->setValue("Count", i == 3 ? Value{} : Value{static_cast<int32_t>(i * 7 - 20)});
        r->setValue("Area", shapes[i].area());
        r->setShape(shapes[i]);
        ins.insertRow(*r);
    }
    ins.flush();
    fc->close();
    markDeleted(folder + "/base.dbf", 5);
    // A ring whose last point is not its first (written by another program):
    // record 6's last point moved.
    std::vector<uint8_t> shp = readBytes(folder + "/base.shp");
    std::vector<uint8_t> shx = readBytes(folder + "/base.shx");
    size_t at = 2 * ((size_t{shx[100 + 6 * 8]} << 24) | (size_t{shx[101 + 6 * 8]} << 16) |
                     (size_t{shx[102 + 6 * 8]} << 8) | shx[103 + 6 * 8]);
    size_t length = 2 * ((size_t{shx[104 + 6 * 8]} << 24) | (size_t{shx[105 + 6 * 8]} << 16) |
                         (size_t{shx[106 + 6 * 8]} << 8) | shx[107 + 6 * 8]);
    double y;
    std::memcpy(&y, &shp[at + 8 + length - 8], 8);
    y += 0.5;
    std::memcpy(&shp[at + 8 + length - 8], &y, 8);
    korvane::test::writeText(folder + "/base.shp", std::string(shp.begin(), shp.end()));
}

const std::vector<FieldDef> kAdded = {{"Perimeter", FieldSingle, 0, 20, 5}, {"Ratio", FieldDouble, 0, 20, 5}};

std::vector<Value> addedFor(const Row& r) {
    double a = r.shape().area(), p = r.shape().length();
    return {p, a > 0 ? p / a : 0.0};
}

}  // namespace

// The one-pass rewrite writes the files that deleting the other fields,
// adding the new ones and updating every row write, and its rows are those
// an update cursor hands out: with a text field kept (read by the driver)
// and with numbers alone (read from the records).
TEST(DbfWrites, OnePassRewriteWritesWhatFieldChangesAndUpdatesWrite) {
    struct Case {
        std::vector<std::string> keep;
        std::vector<std::string> gone;
        std::string seen;
    };
    const Case cases[] = {{{"area", "CLASS"}, {"Count"}, "Class"}, {{"Count", "Area"}, {"Class"}, "Count"}};
    for (const Case& c : cases) {
    SCOPED_TRACE(c.seen);
    TempFolder tmp;
    std::string fixture = tmp.file("fixture");
    stdfs::create_directories(fixture);
    makeShapesFixture(fixture);
    std::string ordinary = copyOf(fixture, tmp.file("ordinary"));
    std::string onePass = copyOf(fixture, tmp.file("onepass"));

    std::vector<SeenRow> seenOrdinary, seenOnePass;
    std::vector<FieldDef> fieldsOrdinary, fieldsOnePass;
    {
        auto fc = FeatureClass::open(ordinary);
        for (const std::string& f : c.gone) fc->deleteField(f);
        fc->addFields(kAdded);
        Cursor cursor = fc->update(nullptr, true);
        while (RowPtr r = cursor.next()) {
            seenOrdinary.push_back({r->oid(), {r->value(c.seen), r->value("Area")}, r->shape().wkb()});
            std::vector<Value> v = addedFor(*r);
            r->setValue("Perimeter", v[0]);
            r->setValue("Ratio", v[1]);
            cursor.updateRow(*r);
        }
        fieldsOrdinary = fc->fields().all();
        fc->close();
    }
    {
        auto fc = FeatureClass::open(onePass);
        bool done = fc->rewriteFields(c.keep, kAdded, [&](const Row& r, Table::AddedValues& added) {
            EXPECT_TRUE(isNull(r.value(c.gone[0])));
            seenOnePass.push_back({r.oid(), {r.value(c.seen), r.value("Area")}, r.shape().wkb()});
            added = addedFor(r);
            return true;
        });
        EXPECT_TRUE(done);
        EXPECT_EQ(fc->rowCount(), 6);  // the deleted record is no row
        fieldsOnePass = fc->fields().all();
        // The table reads and writes its new layout at once.
        RowPtr r = fc->row(2);
        EXPECT_EQ(std::get<float>(r->value("Perimeter")), static_cast<float>(8.0));
        fc->close();
    }
    EXPECT_EQ(seenOnePass, seenOrdinary);
    ASSERT_EQ(fieldsOnePass.size(), fieldsOrdinary.size());
    for (size_t i = 0; i < fieldsOnePass.size(); ++i) {
        EXPECT_EQ(fieldsOnePass[i].name, fieldsOrdinary[i].name);
        EXPECT_EQ(fieldsOnePass[i].type, fieldsOrdinary[i].type);
    }
    for (const char* ext : {".dbf", ".shp", ".shx"})
        EXPECT_EQ(dbfBytes(tmp.file(std::string("ordinary/base") + ext)), dbfBytes(tmp.file(std::string("onepass/base") + ext)))
            << ext;
    }
}

// A rewrite the data layer cannot make itself is declined with the files
// and fields as they were: the driver's way chosen, a value the column
// cannot hold, a fill that gives up half-way, a text field to add.
TEST(DbfWrites, ADeclinedOnePassRewriteChangesNothing) {
    struct Case {
        const char* what;
        bool driver;
        std::vector<FieldDef> add;
        std::function<bool(const Row&, Table::AddedValues&)> fill;
    };
    const Case cases[] = {
        {"driver writes", true, kAdded,
         [](const Row& r, Table::AddedValues& a) {
             a = addedFor(r);
             return true;
         }},
        {"too wide", false, kAdded,
         [](const Row& r, Table::AddedValues& a) {
             a = {r.oid() == 3 ? Value{1e30} : Value{1.0}, 2.0};
             return true;
         }},
        {"not finite", false, kAdded,
         [](const Row& r, Table::AddedValues& a) {
             a = {1.0, r.oid() == 4 ? Value{std::nan("")} : Value{2.0}};
             return true;
         }},
        {"fill gives up", false, kAdded, [](const Row& r, Table::AddedValues& a) {
             a = {1.0, 2.0};
             return r.oid() < 3;
         }},
        {"text field", false, {{"Label", FieldString, 10, 0, 0}},
         [](const Row&, Table::AddedValues& a) {
             a = {std::string("x")};
             return true;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder tmp;
        makeShapesFixture(tmp.path());
        std::vector<std::vector<uint8_t>> before;
        for (const char* ext : {".dbf", ".shp", ".shx"}) before.push_back(readBytes(tmp.file(std::string("base") + ext)));
        auto files = [&] {
            std::vector<std::string> names;
            for (const auto& e : stdfs::directory_iterator(tmp.path())) names.push_back(e.path().filename().string());
            std::sort(names.begin(), names.end());
            return names;
        };
        const std::vector<std::string> namesBefore = files();
        auto fc = FeatureClass::open(tmp.file("base.shp"));
        int32_t count = fc->fields().count();
        {
            DriverWrites driver(c.driver);
            EXPECT_FALSE(fc->rewriteFields({"Class"}, c.add, c.fill));
        }
        EXPECT_EQ(fc->fields().count(), count);
        EXPECT_EQ(std::get<int32_t>(fc->row(1)->value("Count")), -13);
        fc->close();
        size_t i = 0;
        for (const char* ext : {".dbf", ".shp", ".shx"}) EXPECT_EQ(readBytes(tmp.file(std::string("base") + ext)), before[i++]) << ext;
        EXPECT_EQ(files(), namesBefore);
    }
}

// A rewrite whose new file cannot be written or put in place fails, and the
// table's files and fields stay as they were: a failed write, sync, close
// or rename of the new .dbf.
TEST(DbfWrites, AOnePassRewriteThatCannotBeWrittenLeavesTheFilesAsTheyWere) {
    namespace t = korvane::host::testing;
    for (t::Step step : {t::Step::Write, t::Step::Fsync, t::Step::Close, t::Step::Rename}) {
        SCOPED_TRACE(static_cast<int>(step));
        TempFolder tmp;
        makeShapesFixture(tmp.path());
        std::vector<std::vector<uint8_t>> before;
        for (const char* ext : {".dbf", ".shp", ".shx"}) before.push_back(readBytes(tmp.file(std::string("base") + ext)));
        auto fc = FeatureClass::open(tmp.file("base.shp"));
        const int32_t count = fc->fields().count();
        t::failAt(step, ENOSPC, ".dbf");
        EXPECT_THROW(fc->rewriteFields({"Class"}, kAdded,
                                       [](const Row& r, Table::AddedValues& a) {
                                           a = addedFor(r);
                                           return true;
                                       }),
                     Failure);
        t::clearFaults();
        EXPECT_EQ(fc->fields().count(), count);
        EXPECT_EQ(std::get<int32_t>(fc->row(1)->value("Count")), -13);
        fc->close();
        size_t i = 0;
        for (const char* ext : {".dbf", ".shp", ".shx"}) EXPECT_EQ(readBytes(tmp.file(std::string("base") + ext)), before[i++]) << ext;
        for (const auto& e : stdfs::directory_iterator(tmp.path()))
            EXPECT_FALSE(isKorvaneTemporary(e.path())) << e.path();
    }
}

// A number written by another program in a form the driver might read its
// own way (asterisks after blanks, a plus sign) is left to the driver: the
// rewrite is declined and the file stays as it was.
TEST(DbfWrites, ANumberInAnUnusualFormDeclinesTheOnePassRewrite) {
    for (const char* text : {"  ****", "    +7", "  7.5 ", " 1e400"}) {
        SCOPED_TRACE(text);
        TempFolder tmp;
        makeShapesFixture(tmp.path());
        const std::string dbf = tmp.file("base.dbf");
        std::vector<uint8_t> b = readBytes(dbf);
        size_t header = b[8] | (b[9] << 8), record = b[10] | (b[11] << 8);
        std::vector<korvane::test::DbfColumn> columns = korvane::test::dbfColumns(dbf);
        size_t at = header + 2 * record + 1;
        for (const auto& c : columns) {
            if (c.name == "Count") break;
            at += static_cast<size_t>(c.width);
        }
        std::memcpy(&b[at], text, 6);
        korvane::test::writeText(dbf, std::string(b.begin(), b.end()));
        auto fc = FeatureClass::open(tmp.file("base.shp"));
        EXPECT_FALSE(fc->rewriteFields({"Count"}, kAdded, [](const Row& r, Table::AddedValues& a) {
            a = addedFor(r);
            return true;
        }));
        fc->close();
        EXPECT_EQ(readBytes(dbf), b);
    }
}
