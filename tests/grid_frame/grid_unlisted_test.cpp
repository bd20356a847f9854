// The two registered commands of the raster library that no menu lists:
// Load Sample Data, which does nothing, and Select Patches Based on
// Attributes, which only checks the table-of-contents selection.
#include <gtest/gtest.h>

#include "host/Component.h"
#include "host/Layer.h"
#include "host/data/FeatureLayer.h"
#include "shared/App.h"
#include "tests/vector_frame/TestUi.h"

namespace h = korvane::host;

extern "C" void korvane_register_components(h::ComponentRegistry& r);

namespace {

std::unique_ptr<h::Component> create(const char* id) {
    static h::ComponentRegistry registry;
    if (!registry.has(id)) korvane_register_components(registry);
    return registry.create(id);
}

h::ICommand& command(const std::unique_ptr<h::Component>& c) { return dynamic_cast<h::ICommand&>(*c); }

std::string messages(const TestUi& ui) {
    std::string all;
    for (auto& m : ui.driver.messages) all += m.title + ": " + m.text + "\n";
    return all;
}

}  // namespace

TEST(GridLoadSample, EnabledOnAnEmptyMapAndAClickChangesNothing) {
    TestUi ui;
    auto& app = h::Application::instance();
    kv::App::SetOwnTitle("untouched");
    auto holder = create("KorvaneGrid.clsG_LoadSample");
    ASSERT_TRUE(holder);
    h::ICommand& cmd = command(holder);
    EXPECT_EQ(kv::App::Title(), "untouched");
    cmd.OnCreate(&app);
    EXPECT_EQ(cmd.Name(), "gridLoadSample");
    EXPECT_EQ(cmd.Caption(), "Load Sample Data");
    EXPECT_EQ(cmd.Category() + cmd.Tooltip() + cmd.Message() + cmd.HelpFile(), "");
    EXPECT_EQ(cmd.HelpContextID() + cmd.Bitmap(), 0);
    EXPECT_FALSE(cmd.Checked());
    h::DocumentPtr doc = app.document();
    EXPECT_EQ(doc->focusMap()->layerCount(), 0);
    EXPECT_TRUE(cmd.Enabled());
    cmd.OnClick();
    EXPECT_EQ(app.document(), doc);
    EXPECT_EQ(doc->focusMap()->layerCount(), 0);
    EXPECT_TRUE(doc->focusMap()->tables().empty());
    EXPECT_EQ(kv::App::Title(), "untouched");
    EXPECT_EQ(messages(ui), "");
    EXPECT_TRUE(ui.driver.errorReports.empty());
}

TEST(GridSelectPatches, EachSelectionGetsItsAnswerAndItsMessage) {
    auto& app = h::Application::instance();
    struct Case {
        const char* what;
        bool layers, select, raster, hooked;
        bool enabled;
        const char* message;   // title ": " text, or empty
    } cases[] = {
        {"no layers", false, false, false, true, false, "@: There are no layers loaded.  Cannot continue.\n"},
        {"no hook", true, true, true, false, false, "Cannot Continue: Error with ArcMap hook\n"},
        {"nothing selected", true, false, false, true, false,
         "Invalid Layer Selection: You need to have one, and only one, layer selected.\n"},
        {"a feature layer selected", true, true, false, true, false, "@: Layer must be a grid layer.\n"},
        {"a grid selected", true, true, true, true, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestUi ui;
        auto holder = create("KorvaneGrid.clsG_SelectPatches");
        ASSERT_TRUE(holder);
        h::ICommand& cmd = command(holder);
        EXPECT_EQ(cmd.Name(), "gridPatchSelect");
        EXPECT_EQ(cmd.Caption(), "Select Patches Based on Attributes");
        const std::string title = kv::App::Title();
        EXPECT_EQ(title.rfind("Korvane Grid - ", 0), 0u) << title;
        h::MapPtr map = app.document()->focusMap();
        if (c.layers) {
            auto grid = std::make_shared<h::RegisteredLayer>("dem", "", h::LayerKind::Raster);
            auto polygons = std::make_shared<h::RegisteredLayer>("stands", "", h::LayerKind::Feature);
            map->addLayer(grid);
            map->addLayer(polygons);
            if (c.select) app.document()->setSelectedLayer(c.raster ? h::LayerPtr(grid) : h::LayerPtr(polygons));
        }
        if (c.hooked) {
            cmd.OnCreate(&app);
            EXPECT_EQ(cmd.Enabled(), c.enabled);
        }
        ui.driver.messages.clear();
        cmd.OnClick();
        std::string expected = c.message;
        if (expected.rfind("@", 0) == 0) expected = title + expected.substr(1);
        EXPECT_EQ(messages(ui), expected);
        EXPECT_TRUE(ui.driver.errorReports.empty());
        EXPECT_EQ(map->layerCount(), c.layers ? 2 : 0);
    }
}
