// The raster library's Create Core Areas dialog, opened and driven like a
// user: what it lists, what it writes (the source's coordinate system, the
// area fields as doubles), that it stays open, and that every way out of a
// run closes the progress window and gives back the default pointer.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "FaultInjection.h"
#include "host/Application.h"
#include "host/FileReplace.h"
#include "host/Forms.h"
#include "host/System.h"
#include "host/Layer.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"
#include "raster/Forms/frmCores.h"
#include "shared/modMisc.h"

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {

// NAD83 / UTM zone 17N as a shapefile's .prj holds it.
const char* kUtm17 =
    "PROJCS[\"NAD_1983_UTM_Zone_17N\",GEOGCS[\"GCS_North_American_1983\",DATUM[\"D_North_American_1983\","
    "SPHEROID[\"GRS_1980\",6378137.0,298.257222101]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]],"
    "PROJECTION[\"Transverse_Mercator\"],PARAMETER[\"False_Easting\",500000.0],PARAMETER[\"False_Northing\",0.0],"
    "PARAMETER[\"Central_Meridian\",-81.0],PARAMETER[\"Scale_Factor\",0.9996],PARAMETER[\"Latitude_Of_Origin\",0.0],"
    "UNIT[\"Meter\",1.0]]";

// Keeps the forms on screen by name.
class Recording : public h::ScriptDriver {
public:
    using ScriptDriver::ScriptDriver;
    void formShown(h::Form& f, bool modal) override {
        visible.insert(&f);
        ++shown[f.name()];
        ScriptDriver::formShown(f, modal);
    }
    void formHidden(h::Form& f) override {
        visible.erase(&f);
        ScriptDriver::formHidden(f);
    }
    bool showing(const std::string& name) const {
        for (h::Form* f : visible)
            if (f->name() == name) return true;
        return false;
    }
    std::set<h::Form*> visible;
    std::map<std::string, int> shown;
};

std::string readAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The dBASE field descriptor of a column: type letter, width, decimals.
std::string dbfColumn(const std::string& dbf, const std::string& name) {
    std::string b = readAll(dbf);
    for (size_t at = 32; at + 32 <= b.size() && b[at] != '\r'; at += 32) {
        std::string n(b.data() + at, strnlen(b.data() + at, 11));
        if (n == name)
            return std::string(1, b[at + 11]) + " " + std::to_string(static_cast<unsigned char>(b[at + 16])) + "," +
                   std::to_string(static_cast<unsigned char>(b[at + 17]));
    }
    return "missing";
}

struct Session {
    std::string dir;
    std::ostringstream out;
    Recording driver{out};
    h::Application& app = h::Application::instance();
    kv::frmCores form;

    Session() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = (sfs::temp_directory_path() / ("kv-gridcores-" + std::to_string(::getpid()) + "-" + info->name())).string();
        sfs::remove_all(dir);
        sfs::create_directories(dir);
        driver.echoForms = false;
        h::setUi(&driver);
        app.setDocument(std::make_shared<h::Document>());
        app.modelessAllowed = true;
        form.setArcMapHook(&app);
    }
    ~Session() {
        form.unload();
        app.setDocument(std::make_shared<h::Document>());
        h::setUi(nullptr);
        std::error_code ec;
        sfs::remove_all(dir, ec);
    }
    h::MapPtr map() const { return app.document()->focusMap(); }

    // Two 10 x 10 squares in UTM 17N with the fields OBJECTID and PATCH.
    void patches(const std::string& name = "patches") {
        auto sr = h::SpatialReference::fromWkt(kUtm17);
        auto fc = h::ShapefileWorkspace::open(dir).createFeatureClass(
            name, {{"OBJECTID", h::FieldInteger, 0, 9, 0}, {"PATCH", h::FieldInteger, 0, 9, 0}},
            h::ShapeType::Polygon, &sr);
        int id = 1;
        for (const char* wkt : {"POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))", "POLYGON ((20 0, 30 0, 30 10, 20 10, 20 0))"}) {
            auto f = fc->createFeature();
            f->setShape(h::Geometry::fromWkt(wkt));
            f->setValue("OBJECTID", id);
            f->setValue("PATCH", 100 + id++);
            f->store();
        }
        fc->flush();
        map()->addLayer(std::make_shared<h::FeatureLayer>(fc, name));
    }
    void open() {
        kv::ShowForm(form, false);
        driver.driveModeless();
    }
    void act(const std::vector<std::string>& lines) {
        driver.addLines(lines);
        driver.driveModeless();
    }
    // Layer, ID field, width and output file chosen; OK pressed.
    void runOK(const std::string& file, const std::string& width = "1") {
        act({"set lstLayers patches", "set cboIdField PATCH", "set txtBufferSize " + width, "click txtFilenameOut",
             "file " + dir + "/" + file, "set cboIdField PATCH", "click cmdOK"});
    }
    std::string messages() const {
        std::string all;
        for (auto& m : driver.messages) all += m.title + ": " + m.text + "\n";
        return all;
    }
};

}  // namespace

// The PATCH ids of the cores of the two 100 m2 squares, each checked for its
// areas (an empty core has no shape).
std::vector<int> coreIds(const std::string& shp, double coreArea) {
    auto cores = h::FeatureClass::open(shp);
    auto c = cores->search(nullptr, false);
    std::vector<int> ids;
    while (auto f = c.next()) {
        ids.push_back(static_cast<int>(h::toDouble(f->value("PATCH"))));
        EXPECT_NEAR(h::toDouble(f->value("Patch_Area")), 100, 1e-9);
        EXPECT_NEAR(h::toDouble(f->value("Core_Area")), coreArea, 1e-9);
        EXPECT_NEAR(h::toDouble(f->value("Area")), coreArea, 1e-9);
        EXPECT_EQ(f->shape().isEmpty(), coreArea == 0);
    }
    return ids;
}

TEST(GridCoreAreasDialog, WritesCoresInTheSourceSystemWithDoubleAreasAndStaysOpen) {
    Session s;
    s.patches();
    auto lines = h::ShapefileWorkspace::open(s.dir).createFeatureClass("roads", {{"NAME", h::FieldString, 8, 0, 0}},
                                                                        h::ShapeType::Polyline);
    s.map()->addLayer(std::make_shared<h::FeatureLayer>(lines, "roads"));
    s.map()->addLayer(std::make_shared<h::RegisteredLayer>("dem", "", h::LayerKind::Raster));
    s.open();

    // Polygon layers only; no batch file in this library.
    auto& lst = s.form.get<h::ListBox>("lstLayers");
    ASSERT_EQ(lst.listCount(), 1);
    EXPECT_EQ(lst.list(0), "patches");
    EXPECT_FALSE(s.form.get<h::CommandButton>("cnmdBatch").enabled());
    s.act({"set lstLayers patches"});
    EXPECT_EQ(s.form.get<h::ComboBox>("cboIdField").items(), (std::vector<std::string>{"PATCH"}));

    // ".SHP" is the extension in any letter case.
    s.runOK("Cores.SHP");
    EXPECT_EQ(s.messages(), "");
    EXPECT_TRUE(s.driver.errorReports.empty());
    EXPECT_TRUE(s.form.loaded());
    EXPECT_TRUE(s.form.visible());
    EXPECT_EQ(s.app.mousePointer, h::Application::Pointer::Default);
    ASSERT_TRUE(sfs::exists(s.dir + "/Cores.shp"));
    EXPECT_EQ(readAll(s.dir + "/Cores.prj"), readAll(s.dir + "/patches.prj"));
    for (const char* field : {"Patch_Area", "Core_Area", "Area"}) EXPECT_EQ(dbfColumn(s.dir + "/Cores.dbf", field), "N 20,5") << field;

    EXPECT_EQ(coreIds(s.dir + "/Cores.shp", 64), (std::vector<int>{101, 102}));
    // Added switched off, on top.
    ASSERT_EQ(s.map()->layerCount(), 4);
    EXPECT_EQ(s.map()->layer(0)->name(), "Cores");
    EXPECT_FALSE(s.map()->layer(0)->visible());
    EXPECT_FALSE(s.driver.showing("frmProgress"));

    // OK again replaces the output with the new run's, once the map no
    // longer shows it.
    s.map()->deleteLayer(s.map()->layer(0));
    s.act({"set txtBufferSize 2", "click cmdOK"});
    EXPECT_EQ(s.messages(), "");
    auto again = h::FeatureClass::open(s.dir + "/Cores.shp");
    auto row = again->search(nullptr, false).next();
    ASSERT_TRUE(row);
    EXPECT_NEAR(h::toDouble(row->value("Core_Area")), 36, 1e-9);
    EXPECT_TRUE(korvane::test::temporariesIn(s.dir).empty());
}

// A width that leaves no core: each patch is still written, with its ID,
// Patch_Area, and Core_Area and Area 0, so a join to the patches keeps them.
TEST(GridCoreAreasDialog, EmptyCoresAreWrittenWithZeroAreas) {
    Session s;
    s.patches();
    s.open();
    s.runOK("Cores.shp", "6");
    EXPECT_EQ(s.messages(), "");
    EXPECT_TRUE(s.driver.errorReports.empty());
    EXPECT_EQ(coreIds(s.dir + "/Cores.shp", 0), (std::vector<int>{101, 102}));
}

// The refusals, and a failure while the new output is put in place: each
// ends with the progress window closed and the default pointer, and an old
// output stays as it was.
TEST(GridCoreAreasDialog, EveryWayOutClosesTheProgressAndKeepsTheOldOutput) {
    namespace ht = korvane::host::testing;
    Session s;
    s.patches();
    s.open();
    s.act({"uncheck chkAddLayer"});
    s.runOK("cores.shp");
    ASSERT_EQ(s.messages(), "");
    const int progressShown = s.driver.shown["frmProgress"];
    EXPECT_EQ(progressShown, 1);
    korvane::test::FolderSnapshot before(s.dir);

    struct Case {
        const char* what;
        std::function<void()> act;
        const char* expected;   // a message, or the start of an error report's last line
        bool report;
    } cases[] = {
        {"the layer is gone",
         [&] {
             s.form.CreateCores(s.dir, "cores", "nothere", "PATCH", 1, true, true);
         },
         "Cannot Buffer Layer: nothere is not loaded into the current map.\n", false},
        {"the ID field is gone",
         [&] { s.form.CreateCores(s.dir, "cores", "patches", "KIND", 1, true, true); },
         "Cannot Buffer Layer: Cannot find ID field KIND in layer patches\n", false},
        {"the old output is read-only",
         [&] {
             h::fs::SetReadOnly(s.dir + "/cores.dbf", true);
             s.act({"click cmdOK"});
             h::fs::SetReadOnly(s.dir + "/cores.dbf", false);
         },
         "Shapefile not created: Error in creating layer cores\n", false},
        {"the width is no number",
         [&] { s.act({"set txtBufferSize 1..5", "click cmdOK", "set txtBufferSize 1"}); }, "Type mismatch", true},
        {"the new output cannot be put in place",
         [&] {
             ht::failAt(ht::Step::Rename, EIO, "cores.shx");
             s.act({"click cmdOK"});
             ht::clearFaults();
         },
         "Cannot write", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        s.driver.messages.clear();
        s.driver.errorReports.clear();
        c.act();
        if (c.report) {
            ASSERT_EQ(s.driver.errorReports.size(), 1u) << s.messages();
            EXPECT_NE(s.driver.errorReports[0].find("cmdOK_Click Forms/frmCores"), std::string::npos)
                << s.driver.errorReports[0];
            EXPECT_NE(s.driver.errorReports[0].find(c.expected), std::string::npos) << s.driver.errorReports[0];
        } else {
            EXPECT_EQ(s.messages(), c.expected);
            EXPECT_TRUE(s.driver.errorReports.empty());
        }
        EXPECT_FALSE(s.driver.showing("frmProgress"));
        EXPECT_EQ(s.app.mousePointer, h::Application::Pointer::Default);
        EXPECT_TRUE(s.form.loaded());
        EXPECT_TRUE(before.sameAsNow()) << before.differences();
        EXPECT_TRUE(korvane::test::temporariesIn(s.dir).empty());
    }
    // The failure came while the run's progress window was up.
    EXPECT_EQ(s.driver.shown["frmProgress"], progressShown + 1);
}
