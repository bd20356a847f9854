// The Add/Refresh Area and Perimeter fields command driven as the host
// drives it, on small shapefiles in a fresh folder.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>

#include "FaultInjection.h"
#include "Fixture.h"
#include "host/FileReplace.h"
#include "host/System.h"
#include "shared/App.h"
#include "vector/Classes/clsAreaPerimeter.h"
#include "vector/Modules/modMisc.h"

namespace h = korvane::host;

namespace {
const char* kConfirm = "Confirm Change";

struct AreaPerimeter : DataFixture {
    kv::clsAreaPerimeter cmd;
    h::Application& app = h::Application::instance();
    AreaPerimeter() { cmd.OnCreate(&app); }

    // A layer of squares (side 1, 2, ...) put on the map and selected.
    h::FeatureLayerPtr selectSquares(const std::string& name, int count) {
        std::vector<std::vector<std::vector<h::Point>>> shapes;
        std::vector<std::string> classes;
        for (int i = 0; i < count; ++i) {
            shapes.push_back({square(i * 10, 0, i + 1)});
            classes.push_back("c");
        }
        auto layer = polygons(name, shapes, classes);
        map()->addLayer(layer);
        app.document()->setSelectedLayer(layer);
        return layer;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> t;
        for (auto& m : driver.messages) t.push_back(m.text);
        return t;
    }
};

double value(const h::FeatureClassPtr& fc, int64_t oid, const char* field) {
    return h::toDouble(fc->feature(oid)->value(field));
}
}  // namespace

TEST(AreaPerimeterCommand, AnswersAndEnabledFollowTheTableOfContents) {
    AreaPerimeter fx;
    EXPECT_EQ(fx.cmd.Name(), "addPerimeterAndArea");
    EXPECT_EQ(fx.cmd.Caption(), "Add/Refresh Area and Perimeter fields");
    EXPECT_FALSE(fx.cmd.Checked());
    EXPECT_EQ(fx.cmd.Tooltip() + fx.cmd.Message() + fx.cmd.HelpFile() + fx.cmd.Category(), "");
    EXPECT_EQ(fx.cmd.HelpContextID(), 0);
    EXPECT_EQ(fx.cmd.Bitmap(), 0);
    EXPECT_EQ(fx.cmd.Map(), fx.map());

    EXPECT_FALSE(fx.cmd.Enabled());   // empty map
    auto raster = std::make_shared<h::RegisteredLayer>("dem", "", h::LayerKind::Raster);
    auto group = std::make_shared<h::GroupLayer>("Group");
    auto lines = fx.workspace().createFeatureClass("roads", {{"ID", h::FieldInteger, 0, 9, 0}}, h::ShapeType::Polyline);
    auto lineLayer = std::make_shared<h::FeatureLayer>(lines);
    auto stands = fx.polygons("stands", {{DataFixture::square(0, 0, 1)}}, {"a"});
    for (h::LayerPtr l : std::initializer_list<h::LayerPtr>{raster, group, lineLayer, stands}) fx.map()->addLayer(l);
    struct Case {
        h::LayerPtr selected;
        bool enabled;
    } cases[] = {{nullptr, false}, {raster, false}, {group, false}, {lineLayer, true}, {stands, true}};
    for (auto& c : cases) {
        fx.app.document()->setSelectedLayer(c.selected);
        EXPECT_EQ(fx.cmd.Enabled(), c.enabled) << (c.selected ? c.selected->name() : "none");
    }
    EXPECT_TRUE(fx.driver.messages.empty());
    EXPECT_TRUE(fx.driver.errorReports.empty());
}

TEST(AreaPerimeterCommand, RefusalsComeInOrderAndTouchNothing) {
    // Without a hook the map is never read, so the empty map is not noticed.
    {
        DataFixture fx;
        kv::clsAreaPerimeter cmd;
        cmd.OnClick();
        ASSERT_EQ(fx.driver.messages.size(), 1u);
        EXPECT_EQ(fx.driver.messages[0].text, "Error with ArcMap hook");
        EXPECT_EQ(fx.driver.messages[0].title, "Cannot Continue");
        EXPECT_EQ(fx.driver.messages[0].icon(), h::mb::Exclamation);
        EXPECT_TRUE(fx.driver.errorReports.empty());
    }
    AreaPerimeter fx;
    fx.cmd.OnClick();
    ASSERT_EQ(fx.driver.messages.size(), 1u);
    EXPECT_EQ(fx.driver.messages[0].text, "There are no layers loaded.  Cannot continue.");
    EXPECT_EQ(fx.driver.messages[0].title, kv::App::Title());
    EXPECT_EQ(fx.driver.messages[0].style, h::mb::OKOnly);

    // Layers but none selected: refused before the map units are looked at.
    auto layer = fx.selectSquares("stands", 1);
    fx.app.document()->setSelectedLayer(nullptr);
    fx.cmd.OnClick();
    ASSERT_EQ(fx.driver.messages.size(), 2u);
    EXPECT_EQ(fx.driver.messages[1].text, "You need to have one, and only one, layer selected.");
    EXPECT_EQ(fx.driver.messages[1].title, "Invalid Layer Selection");
    EXPECT_EQ(fx.driver.messages[1].icon(), h::mb::Information);
    EXPECT_EQ(fx.map()->mapUnits(), h::UnitUnknown);
    EXPECT_EQ(layer->featureClass()->findField("Area"), -1);
    EXPECT_TRUE(fx.driver.errorReports.empty());
}

TEST(AreaPerimeterCommand, YesFillsEveryFeatureAndNoStillLeavesTheUnitsSet) {
    AreaPerimeter fx;
    auto layer = fx.selectSquares("stands", 3);
    layer->selectionSet().add(1);   // the feature selection does not limit the work

    fx.driver.addLines({"answer OK", "answer No"});
    fx.cmd.OnClick();
    EXPECT_EQ(fx.texts(), (std::vector<std::string>{
                              "Map Units are unknown.\r\nSetting map units to metres.\r\nSetting distance units to kilometres.",
                              "Calculate Area and Perimeter for stands?"}));
    const auto& confirm = fx.driver.messages[1];
    EXPECT_EQ(confirm.title, kConfirm);
    EXPECT_EQ(confirm.buttons(), h::mb::YesNo);
    EXPECT_EQ(confirm.icon(), 0);
    EXPECT_EQ(confirm.defaultAnswer(), h::mb::Yes);
    EXPECT_EQ(fx.map()->mapUnits(), h::UnitMeters);
    EXPECT_EQ(fx.map()->distanceUnits(), h::UnitKilometers);
    auto fc = layer->featureClass();
    EXPECT_EQ(fc->findField("Area"), -1);
    EXPECT_EQ(fc->findField("Perimeter"), -1);

    fx.driver.messages.clear();
    fx.driver.addLines({"answer Yes"});
    fx.cmd.OnClick();
    // Units known now, fields new: the confirmation is the only question.
    EXPECT_EQ(fx.texts(), (std::vector<std::string>{"Calculate Area and Perimeter for stands?"}));
    for (int64_t oid = 0; oid < 3; ++oid) {
        double side = oid + 1;
        EXPECT_NEAR(value(fc, oid, "Area"), side * side, 1e-9) << oid;
        EXPECT_NEAR(value(fc, oid, "Perimeter"), 4 * side, 1e-9) << oid;
    }
    // The values are in the file, not only in memory.
    auto reopened = h::FeatureClass::open((fx.dir / "stands.shp").string());
    EXPECT_NEAR(value(reopened, 2, "Area"), 9.0, 1e-5);
    EXPECT_TRUE(fx.driver.errorReports.empty());
}

TEST(AreaPerimeterCommand, ExistingFieldsAreOverwrittenOnlyOnYes) {
    struct Case {
        const char* name;
        bool hasPerimeter;
        std::vector<std::string> answers;   // after the confirmation
        double area, perimeter;             // expected on the 2 x 2 square
    } cases[] = {
        {"both_no", true, {"No", "No"}, 77, 88},
        {"area_yes", true, {"Yes", "No"}, 4, 88},
        {"perim_yes", true, {"No", "Yes"}, 77, 8},
        {"area_only", false, {"No"}, 77, 8},   // Perimeter is made without a question
    };
    for (auto& c : cases) {
        AreaPerimeter fx;
        auto layer = fx.polygons(c.name, {{DataFixture::square(0, 0, 2)}}, {"a"});
        fx.map()->addLayer(layer);
        fx.map()->setMapUnits(h::UnitMeters);
        fx.app.document()->setSelectedLayer(layer);
        auto fc = layer->featureClass();
        fc->addField({"Area", h::FieldSingle, 0, 20, 5});
        if (c.hasPerimeter) fc->addField({"Perimeter", h::FieldSingle, 0, 20, 5});
        auto f = fc->feature(0);
        f->setValue("Area", 77.0);
        if (c.hasPerimeter) f->setValue("Perimeter", 88.0);
        f->store();

        fx.driver.addLines({"answer Yes"});
        for (auto& a : c.answers) fx.driver.addLines({"answer " + a});
        fx.cmd.OnClick();
        std::vector<std::string> asked{std::string("Calculate Area and Perimeter for ") + c.name + "?",
                                       "Overwrite existing Area field?"};
        if (c.hasPerimeter) asked.push_back("Overwrite existing Perimeter field?");
        EXPECT_EQ(fx.texts(), asked) << c.name;
        EXPECT_NEAR(value(fc, 0, "Area"), c.area, 1e-5) << c.name;
        EXPECT_NEAR(value(fc, 0, "Perimeter"), c.perimeter, 1e-5) << c.name;
        EXPECT_TRUE(fx.driver.errorReports.empty()) << c.name;
    }
}

TEST(AreaPerimeterCommand, LayersThatCannotTakeTheFieldsAreLeftUnchanged) {
    AreaPerimeter fx;
    fx.map()->setMapUnits(h::UnitMeters);

    // A line layer is enabled, but the routine refuses it before making a field.
    auto lines = fx.workspace().createFeatureClass("roads", {{"ID", h::FieldInteger, 0, 9, 0}}, h::ShapeType::Polyline);
    auto line = lines->createFeature();
    line->setShape(h::Geometry::polyline({{0, 0}, {3, 4}}));
    line->store();
    lines->flush();
    auto lineLayer = std::make_shared<h::FeatureLayer>(lines);
    fx.map()->addLayer(lineLayer);
    fx.app.document()->setSelectedLayer(lineLayer);
    fx.driver.addLines({"answer Yes"});
    fx.cmd.OnClick();
    ASSERT_EQ(fx.driver.messages.size(), 2u);
    EXPECT_EQ(fx.driver.messages[1].text, "Cannot add area and perimeter to roads.\r\nThe layer does not hold polygons.");
    EXPECT_EQ(lines->findField("Area"), -1);
    EXPECT_EQ(lines->findField("Perimeter"), -1);
    EXPECT_TRUE(fx.driver.errorReports.empty());

    // A read-only attribute file.
    auto ro = fx.selectSquares("locked", 1);
    std::string dbf = (fx.dir / "locked.dbf").string();
    auto before = h::fs::ReadAll(dbf);
    h::fs::SetReadOnly(dbf, true);
    fx.driver.messages.clear();
    fx.driver.addLines({"answer Yes"});
    fx.cmd.OnClick();
    ASSERT_EQ(fx.driver.messages.size(), 2u);
    EXPECT_EQ(fx.driver.messages[1].title, "File Access Error");
    EXPECT_EQ(fx.driver.messages[1].text, "Cannot add area and perimeter to locked.\r\nFile is Read-Only.");
    EXPECT_EQ(ro->featureClass()->findField("Area"), -1);
    EXPECT_EQ(h::fs::ReadAll(dbf), before);
    EXPECT_TRUE(fx.driver.errorReports.empty());

    // No attribute file beside the data: the error report, nothing written.
    auto gone = fx.selectSquares("gone", 1);
    std::filesystem::remove(fx.dir / "gone.dbf");
    fx.driver.messages.clear();
    fx.driver.addLines({"answer Yes"});
    fx.cmd.OnClick();
    ASSERT_EQ(fx.driver.errorReports.size(), 1u);
    EXPECT_NE(fx.driver.errorReports[0].find("AddAreaAndPerimFields Modules/modMisc Line : "), std::string::npos);
    EXPECT_EQ(gone->featureClass()->findField("Area"), -1);
    EXPECT_FALSE(std::filesystem::exists(fx.dir / "gone.dbf"));
}

// The new fields and the values reach the file together: a failure or a
// kill after the fields are made leaves the layer's files as they were, and
// no value is handed on as written.
TEST(AreaPerimeterCommand, AFailureOrAKillPartWayLeavesTheFilesAsTheyWere) {
    namespace t = korvane::host::testing;
    for (const auto& f : korvane::test::partWayFailures()) {
        AreaPerimeter fx;
        fx.map()->setMapUnits(h::UnitMeters);
        auto layer = fx.selectSquares("stands", 3);
        korvane::test::FolderSnapshot before(fx.dir);
        f.inject();
        kv::AreaAndPerimeter written;
        kv::AddAreaAndPerimFields(layer, true, &written);
        t::clearFaults();
        EXPECT_EQ(fx.driver.errorReports.size(), 1u) << f.name;
        EXPECT_TRUE(written.area.empty()) << f.name;
        EXPECT_EQ(layer->featureClass()->findField("Area"), -1) << f.name;
        EXPECT_TRUE(before.sameAsNow()) << f.name << "\n" << before.differences();
        EXPECT_TRUE(korvane::test::temporariesIn(fx.dir).empty()) << f.name;
    }
    AreaPerimeter fx;
    fx.map()->setMapUnits(h::UnitMeters);
    auto layer = fx.selectSquares("stands", 3);
    korvane::test::FolderSnapshot before(fx.dir);
    korvane::test::ChildOutcome out = korvane::test::runInChild([&](std::string&) {
        // The copy (one write), each field added (three), then the rows.
        t::killAt(t::Step::Write, ".dbf", 7);
        kv::AddAreaAndPerimFields(layer, true, nullptr);
        return 0;
    });
    EXPECT_EQ(out.signal, SIGKILL) << korvane::test::describe(out);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
}

namespace {
std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
}  // namespace

// A world-countries layer stores its population 318622525 in a field N 24,15
// with 14 decimals, so that it fits: the driver would format it 25 wide. The
// update writes Area and Perimeter only; pop keeps its bytes and stops
// nothing. A self-intersecting ring is measured after repair, and the
// rewritten .dbf keeps its mode.
TEST(AreaPerimeterCommand, FieldsTheUpdateDoesNotSetKeepTheirStoredBytes) {
    AreaPerimeter fx;
    fx.map()->setMapUnits(h::UnitMeters);
    const std::string dbf = (fx.dir / "countries.dbf").string();
    {
        auto fc = fx.workspace().createFeatureClass(
            "countries", {{"NAME", h::FieldString, 20, 0, 0}, {"pop", h::FieldDouble, 0, 24, 15}}, h::ShapeType::Polygon);
        for (auto [name, shape] : {std::pair<const char*, const char*>{"square", "POLYGON ((0 0, 0 10, 10 10, 10 0, 0 0))"},
                                   {"bowtie", "POLYGON ((20 0, 30 10, 30 0, 20 10, 20 0))"}}) {
            auto f = fc->createFeature();
            f->setShape(h::Geometry::fromWkt(shape));
            f->setValue("NAME", std::string(name));
            f->setValue("pop", 1.5);
            f->store();
        }
        fc->close();
    }
    // Record 0's pop as the real layer stores it: 24 characters, 14 decimals.
    const long header = 32 + 32 * 2 + 1, record = 1 + 20 + 24, popAt = 1 + 20;
    {
        std::fstream f(dbf, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(header + popAt);
        f << "318622525.00000000000000";
    }
    ASSERT_EQ(::chmod(dbf.c_str(), 0640), 0);
    const std::string popBefore = bytesOf(dbf).substr(header + popAt, 24);
    const std::string pop2Before = bytesOf(dbf).substr(header + record + popAt, 24);

    auto layer = h::openFeatureLayer((fx.dir / "countries.shp").string());
    fx.map()->addLayer(layer);
    fx.app.document()->setSelectedLayer(layer);
    fx.driver.addLines({"answer Yes"});
    fx.cmd.OnClick();
    EXPECT_TRUE(fx.driver.errorReports.empty()) << fx.driver.errorReports.front();

    auto fc = h::FeatureClass::open((fx.dir / "countries.shp").string());
    EXPECT_NEAR(value(fc, 0, "Area"), 100, 1e-6);
    EXPECT_NEAR(value(fc, 1, "Area"), 50, 1e-6);   // two triangles of 25, not 0
    fc.reset();
    layer.reset();
    fx.map()->clearLayers();
    const std::string after = bytesOf(dbf);
    const long newRecord = record + 20 * 2;   // Area and Perimeter, 20 wide each
    const long newHeader = header + 32 * 2;
    EXPECT_EQ(after.substr(newHeader + popAt, 24), popBefore);
    EXPECT_EQ(after.substr(newHeader + newRecord + popAt, 24), pop2Before);
    struct stat st;
    ASSERT_EQ(::stat(dbf.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}
