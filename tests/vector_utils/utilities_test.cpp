// Layer, field, cursor, sort and map-unit utilities on real shapefiles.
#include <gtest/gtest.h>

#include <cmath>

#include <numeric>

#include "Fixture.h"
#include "host/System.h"
#include "shared/modMisc.h"
#include "vector/Modules/modMisc.h"

namespace h = korvane::host;

namespace {
int count(std::optional<h::Cursor>& c) {
    int n = 0;
    while (c->next()) ++n;
    return n;
}
}  // namespace

TEST(GetCursor, HonoursTheSelectionAndGivesNothingForARejectedClause) {
    DataFixture fx;
    std::vector<std::vector<std::vector<h::Point>>> shapes;
    std::vector<std::string> classes;
    for (int i = 0; i < 5; ++i) {
        shapes.push_back({DataFixture::square(i * 10, 0, 10)});
        classes.push_back(i % 2 ? "Pine" : "Birch");
    }
    auto layer = fx.polygons("stands", shapes, classes);
    auto all = kv::getCursor(layer, "");
    ASSERT_TRUE(all);
    EXPECT_EQ(count(all), 5);
    layer->selectionSet().add({0, 2, 3});
    auto sel = kv::getCursor(layer, "");
    EXPECT_EQ(count(sel), 3);
    auto pine = kv::getCursor(layer, "CLASS = 'Pine'");
    ASSERT_TRUE(pine);
    EXPECT_EQ(count(pine), 1);   // only feature 3 of the selection
    EXPECT_FALSE(kv::getCursor(layer, "CLASS = Pine"));
    EXPECT_FALSE(kv::getCursor(layer, "CLASS = 'Pine"));
    EXPECT_TRUE(fx.driver.messages.empty());
    EXPECT_TRUE(fx.driver.errorReports.empty());
}

TEST(Layers, FindByNameIsExactAndTakesTheTopmost) {
    DataFixture fx;
    auto first = std::make_shared<h::RegisteredLayer>("Roads", "", h::LayerKind::Other);
    auto second = std::make_shared<h::RegisteredLayer>("Roads", "", h::LayerKind::Other);
    fx.map()->addLayer(second);
    fx.map()->addLayer(first);   // now at index 0
    EXPECT_EQ(kv::FindLayerByName(fx.map(), "Roads"), first);
    EXPECT_EQ(kv::FindLayerByName(fx.map(), "roads"), nullptr);
    auto group = std::make_shared<h::GroupLayer>("Group");
    group->layers().push_back(std::make_shared<h::RegisteredLayer>("Inner", "", h::LayerKind::Other));
    fx.map()->addLayer(group);
    EXPECT_EQ(kv::FindLayerByName(fx.map(), "Inner"), nullptr);
}

TEST(Layers, FieldListsSkipIdAndShapeOnlyInTheComboBox) {
    DataFixture fx;
    auto layer = fx.polygons("fields", {{DataFixture::square(0, 0, 1)}}, {"a"});
    EXPECT_EQ(kv::GetFields(layer), (std::vector<std::string>{"FID", "Shape", "WEIGHT", "CLASS"}));
    struct F : h::Form {
        F() : h::Form("f") {}
        void design() override { add<h::ComboBox>("cbo").addItem("old"); }
    } form;
    auto& combo = form.get<h::ComboBox>("cbo");
    kv::PopulateFieldListBox(layer, combo);
    EXPECT_EQ(combo.items(), (std::vector<std::string>{"WEIGHT", "CLASS"}));
    kv::PopulateFieldListBox(nullptr, combo);
    ASSERT_EQ(fx.driver.messages.size(), 1u);
    EXPECT_EQ(fx.driver.messages[0].text, "PopulateFieldListBox cannot find layer ''");
    EXPECT_EQ(fx.driver.messages[0].title, "Layer Not Found");
    EXPECT_TRUE(kv::GetFields(nullptr).empty());
}

TEST(Layers, AddFieldMakesTextOfTheWidthAndReportsRefusals) {
    DataFixture fx;
    auto layer = fx.polygons("addf", {{DataFixture::square(0, 0, 1)}}, {"a"});
    EXPECT_TRUE(kv::AddField(layer, "NOTE", 50, h::FieldString, 0));
    auto& f = layer->featureClass()->fields().field(layer->featureClass()->findField("NOTE"));
    EXPECT_EQ(f.type, h::FieldString);
    EXPECT_EQ(f.length, 50);
    EXPECT_FALSE(kv::AddField(layer, "NOTE", 50, h::FieldString, 0));   // exists already
    EXPECT_FALSE(kv::AddField(nullptr, "X", 5, h::FieldInteger, 0));
    ASSERT_EQ(fx.driver.errorReports.size(), 2u);
    EXPECT_NE(fx.driver.errorReports[1].find("\tAddField Modules/modMisc Line : "), std::string::npos);
    EXPECT_NE(fx.driver.errorReports[1].find("\t-2147220904\r\nDescription\r\n\tTarget layer not provided."),
              std::string::npos);
}

TEST(Layers, IsLayerSelectedOnlyForFeatureLayers) {
    DataFixture fx;
    auto& app = h::Application::instance();
    EXPECT_FALSE(kv::IsLayerSelected(&app));
    auto raster = std::make_shared<h::RegisteredLayer>("dem", "", h::LayerKind::Raster);
    fx.map()->addLayer(raster);
    EXPECT_FALSE(kv::IsLayerSelected(&app));
    app.document()->setSelectedLayer(raster);
    EXPECT_FALSE(kv::IsLayerSelected(&app));
    auto layer = fx.polygons("sel", {{DataFixture::square(0, 0, 1)}}, {"a"});
    fx.map()->addLayer(layer);
    app.document()->setSelectedLayer(layer);
    EXPECT_TRUE(kv::IsLayerSelected(&app));
}

TEST(ArraySort, RangesOrdersAndDegenerateInput) {
    struct Case {
        std::vector<double> in;
        std::optional<int64_t> upper;
        bool descending;
        std::vector<double> out;
    } cases[] = {
        {{5, 3, 9, 1}, 2, false, {3, 5, 9, 1}},
        {{5, 3, 9, 1}, {}, false, {1, 3, 5, 9}},
        {{5, 3, 9, 1}, {}, true, {9, 5, 3, 1}},
        {{}, {}, false, {}},
        {{7}, {}, false, {7}},
        {{2, 1}, -1, false, {2, 1}},
        {{2, 2, 1, 2, 1, 1, 2}, {}, false, {1, 1, 1, 2, 2, 2, 2}},
    };
    for (auto& c : cases) {
        auto v = c.in;
        kv::ArraySort(v, c.upper, c.descending);
        EXPECT_EQ(v, c.out);
    }
    std::vector<std::string> words{"b", "B", "a"};
    kv::ArraySort(words);
    EXPECT_EQ(words, (std::vector<std::string>{"B", "a", "b"}));   // by character codes
}

TEST(ArraySort, LargeOrderedAndConstantInputsSort) {
    for (int pattern = 0; pattern < 3; ++pattern) {
        std::vector<double> v(200000);
        std::iota(v.begin(), v.end(), 0.0);
        if (pattern == 1) std::reverse(v.begin(), v.end());
        if (pattern == 2) std::fill(v.begin(), v.end(), 4.0);
        auto expected = v;
        std::sort(expected.begin(), expected.end());
        kv::ArraySort(v);
        EXPECT_EQ(v, expected) << pattern;
    }
}

TEST(MapUnits, UnknownUnitsBecomeMetresAfterOneMessage) {
    DataFixture fx;
    auto& app = h::Application::instance();
    kv::CheckAndSetMapUnits(&app);
    EXPECT_EQ(fx.map()->mapUnits(), h::UnitMeters);
    EXPECT_EQ(fx.map()->distanceUnits(), h::UnitKilometers);
    ASSERT_EQ(fx.driver.messages.size(), 1u);
    EXPECT_EQ(fx.driver.messages[0].title, "Setting Map Units");
    EXPECT_EQ(fx.driver.messages[0].text,
              "Map Units are unknown.\r\nSetting map units to metres.\r\nSetting distance units to kilometres.");
    fx.map()->setMapUnits(h::UnitFeet);
    kv::CheckAndSetMapUnits(&app);
    EXPECT_EQ(fx.map()->mapUnits(), h::UnitFeet);
    EXPECT_EQ(fx.driver.messages.size(), 1u);
}

TEST(AreaAndPerimeter, SquareAndHoleGetExactValuesOnEveryFeature) {
    DataFixture fx;
    std::vector<h::Point> outer{{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}};
    std::vector<h::Point> hole{{2, 2}, {4, 2}, {4, 5}, {2, 5}, {2, 2}};
    auto layer = fx.polygons("ap", {{DataFixture::square(100, 100, 1)}, {outer, hole}}, {"a", "b"});
    layer->selectionSet().add(0);   // a selection does not limit the update
    kv::AddAreaAndPerimFields(layer, false);
    auto fc = layer->featureClass();
    int a = fc->findField("Area"), p = fc->findField("Perimeter");
    ASSERT_GE(a, 0);
    ASSERT_GE(p, 0);
    EXPECT_EQ(fc->fields().field(a).type, h::FieldSingle);
    EXPECT_EQ(fc->fields().field(a).precision, 20);
    EXPECT_EQ(fc->fields().field(a).scale, 5);
    EXPECT_NEAR(h::toDouble(fc->feature(0)->value(a)), 1.0, 1e-9);
    EXPECT_NEAR(h::toDouble(fc->feature(0)->value(p)), 4.0, 1e-9);
    EXPECT_NEAR(h::toDouble(fc->feature(1)->value(a)), 100.0 - 6.0, 1e-9);
    EXPECT_NEAR(h::toDouble(fc->feature(1)->value(p)), 40.0 + 10.0, 1e-9);
    EXPECT_TRUE(fx.driver.messages.empty());   // new fields need no confirmation
}

// A self-intersecting ring is measured after repair, by its polygonal
// boundary: a spike that collapses to a line adds no perimeter.
TEST(AreaAndPerimeter, ARepairedRingIsMeasuredByItsPolygonsOnly) {
    struct Case {
        const char* what;
        std::vector<h::Point> ring;
        double area, perimeter;
    } cases[] = {
        {"square with a spike", {{0, 0}, {0, 10}, {10, 10}, {10, 5}, {15, 5}, {10, 5}, {10, 0}, {0, 0}}, 100, 40},
        {"bow-tie", {{0, 0}, {10, 10}, {10, 0}, {0, 10}, {0, 0}}, 50, 2 * (10 + 10 * std::sqrt(2.0))},
    };
    for (const Case& c : cases) {
        DataFixture fx;
        auto layer = fx.polygons("ap", {{c.ring}}, {"a"});
        const h::Geometry measured = kv::MeasuredShape(layer->featureClass()->feature(0)->shape());
        EXPECT_NEAR(measured.area(), c.area, 1e-9) << c.what;
        EXPECT_NEAR(measured.length(), c.perimeter, 1e-9) << c.what;
        kv::AddAreaAndPerimFields(layer, false);
        auto fc = layer->featureClass();
        EXPECT_NEAR(h::toDouble(fc->feature(0)->value("Perimeter")), c.perimeter, 1e-4) << c.what;
    }
}

TEST(AreaAndPerimeter, ExistingAreaKeptOnNoWhilePerimeterIsMade) {
    DataFixture fx;
    auto layer = fx.polygons("keep", {{DataFixture::square(0, 0, 3)}}, {"a"});
    auto fc = layer->featureClass();
    fc->addField({"Area", h::FieldSingle, 0, 20, 5});
    auto f = fc->feature(0);
    f->setValue("Area", 77.0);
    f->store();
    fx.driver.addLines({"answer No"});
    kv::AddAreaAndPerimFields(layer, false);
    ASSERT_EQ(fx.driver.messages.size(), 1u);
    EXPECT_EQ(fx.driver.messages[0].text, "Overwrite existing Area field?");
    EXPECT_EQ(fx.driver.messages[0].defaultAnswer(), h::mb::No);
    EXPECT_NEAR(h::toDouble(fc->feature(0)->value("Area")), 77.0, 1e-6);
    EXPECT_NEAR(h::toDouble(fc->feature(0)->value("Perimeter")), 12.0, 1e-9);
}

TEST(AreaAndPerimeter, ReadOnlyTableAndLineLayersAreRefusedUnchanged) {
    DataFixture fx;
    auto layer = fx.polygons("ro", {{DataFixture::square(0, 0, 1)}}, {"a"});
    std::string dbf = (fx.dir / "ro.dbf").string();
    auto before = h::fs::ReadAll(dbf);
    h::fs::SetReadOnly(dbf, true);
    kv::AddAreaAndPerimFields(layer, true);
    ASSERT_EQ(fx.driver.messages.size(), 1u);
    EXPECT_EQ(fx.driver.messages[0].title, "File Access Error");
    EXPECT_EQ(fx.driver.messages[0].text, "Cannot add area and perimeter to ro.\r\nFile is Read-Only.");
    EXPECT_EQ(layer->featureClass()->findField("Area"), -1);
    EXPECT_EQ(h::fs::ReadAll(dbf), before);

    auto lines = fx.workspace().createFeatureClass("lines", {{"ID", h::FieldInteger, 0, 9, 0}}, h::ShapeType::Polyline);
    auto line = lines->createFeature();
    line->setShape(h::Geometry::polyline({{0, 0}, {1, 1}}));
    line->store();
    lines->flush();
    kv::AddAreaAndPerimFields(std::make_shared<h::FeatureLayer>(lines), true);
    ASSERT_EQ(fx.driver.messages.size(), 2u);
    EXPECT_EQ(fx.driver.messages[1].title, "Invalid Layer Selection");
    EXPECT_EQ(lines->findField("Area"), -1);
    EXPECT_TRUE(fx.driver.errorReports.empty());
}
