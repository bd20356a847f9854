// The Make Hexagon Regions command with the real builder beside the library,
// on small shapefiles in a fresh folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Fixture.h"
#include "host/System.h"
#include "shared/App.h"
#include "vector/Classes/clsCreateHex.h"

namespace h = korvane::host;

namespace {

struct CreateHex : DataFixture {
    kv::clsCreateHex cmd;
    h::Application& app = h::Application::instance();
    CreateHex() { cmd.OnCreate(&app); }

    // A 1000 m x 700 m layer on the map, selected.
    h::FeatureLayerPtr selectStands(const std::string& layerName = "stands") {
        auto layer = polygons("stands", {{square(0, 0, 700), square(300, 0, 700)}}, {"a"});
        layer->setName(layerName);
        map()->addLayer(layer);
        app.document()->setSelectedLayer(layer);
        return layer;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> t;
        for (auto& m : driver.messages) t.push_back(m.text);
        return t;
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    void touch(const std::string& name) const { std::ofstream(dir / name) << "x"; }
};

}  // namespace

TEST(CreateHexCommand, AnswersAndEnabledFollowTheTableOfContents) {
    CreateHex fx;
    EXPECT_EQ(fx.cmd.Name(), "CreateHexRegions");
    EXPECT_EQ(fx.cmd.Caption(), "Make Hexagon Regions");
    EXPECT_EQ(fx.cmd.Tooltip() + fx.cmd.Message() + fx.cmd.HelpFile() + fx.cmd.Category(), "");
    EXPECT_FALSE(fx.cmd.Enabled());
    auto raster = std::make_shared<h::RegisteredLayer>("dem", "", h::LayerKind::Raster);
    fx.map()->addLayer(raster);
    fx.app.document()->setSelectedLayer(raster);
    EXPECT_FALSE(fx.cmd.Enabled());
    fx.selectStands();
    EXPECT_TRUE(fx.cmd.Enabled());
}

TEST(CreateHexCommand, OutputNamesTakeTheFirstFreeNumber) {
    CreateHex fx;
    const std::string folder = fx.dir.string();
    EXPECT_EQ(fx.cmd.MakeFileName(folder, "hex", "shp"), folder + "/hex.shp");
    fx.touch("hex.shp");
    fx.touch("hex2.shp");
    fx.touch("hex4.shp");
    EXPECT_EQ(fx.cmd.MakeFileName(folder, "hex", "shp"), folder + "/hex3.shp");
    EXPECT_EQ(fx.cmd.MakeFileName(folder, "error", "log"), folder + "/error.log");
    EXPECT_TRUE(fx.driver.messages.empty());

    EXPECT_EQ(fx.cmd.MakeFileName(folder + "/gone", "hex", "shp"), "");
    ASSERT_EQ(fx.driver.messages.size(), 1u);
    EXPECT_EQ(fx.driver.messages[0].text, "Folder " + folder + "/gone does not exist.  Cannot build hexes");
    EXPECT_EQ(fx.driver.messages[0].style, h::mb::OKOnly);
    EXPECT_EQ(fx.driver.messages[0].title, kv::App::Title());
}

TEST(CreateHexCommand, TheBuilderGetsTheInputWithItsDotSRewritten) {
    struct Case {
        const char* path;
        const char* argument;
    } cases[] = {
        {"/data/forest.shp", "\"/data/forest_Zhp\""},
        {"/data/My.Stuff/forest.shp", "\"/data/My_Ztuff/forest.shp\""},
        {"/data/a.set/forest.shp", "\"/data/a_Zet/forest_Zhp\""},
        {"/data/FOREST.SHP", "\"/data/FOREST_ZHP\""},
    };
    for (const auto& c : cases) EXPECT_EQ(kv::HexInputArgument(c.path), c.argument) << c.path;

    struct Answer {
        const char* text;
        bool numeric;
    } answers[] = {{"100", true},  {" 2.5 ", true}, {"-0.5", true}, {".5", true},  {"1e3", true},
                   {"", false},    {"abc", false},  {"1,000", false}, {"1 0", false}, {"1e", false},
                   {"0x10", false}, {"inf", false}, {"-", false},   {"1.2.3", false}};
    for (const auto& a : answers) EXPECT_EQ(kv::IsNumericAnswer(a.text), a.numeric) << "'" << a.text << "'";
}

TEST(CreateHexCommand, RefusalsStartNothing) {
    struct Case {
        const char* name;
        bool select;
        std::vector<std::string> answers;
        std::vector<std::string> texts;   // after the map-unit message
    } cases[] = {
        {"no layer selected", false, {}, {"One layer, and only one, needs to be selected (highlighted)."}},
        {"area no number", true, {"input abc"}, {"Numbers are the only valid input"}},
        {"area cancelled", true, {"input cancel"}, {"Numbers are the only valid input"}},
        {"offset no number", true, {"input 100", "input half"}, {"Numbers are the only valid input"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CreateHex fx;
        fx.selectStands();
        if (!c.select) fx.app.document()->setSelectedLayer(nullptr);
        fx.driver.addLines({"answer OK"});
        fx.driver.addLines(c.answers);
        fx.cmd.OnClick();
        auto texts = fx.texts();
        ASSERT_EQ(texts.size(), 1 + c.texts.size());
        EXPECT_EQ(texts[0].substr(0, 22), "Map Units are unknown.");
        EXPECT_EQ(std::vector<std::string>(texts.begin() + 1, texts.end()), c.texts);
        const auto& refusal = fx.driver.messages.back();
        EXPECT_EQ(refusal.title, c.select ? "Bad data type" : "Cannot create Hexagons");
        EXPECT_EQ(refusal.icon(), c.select ? 0 : h::mb::Exclamation);
        EXPECT_EQ(fx.map()->layerCount(), 1);
        EXPECT_FALSE(h::fs::FileExists(fx.path("hex.shp")));
        EXPECT_TRUE(fx.driver.errorReports.empty());
    }
}

TEST(CreateHexCommand, ARunAddsTheHexagonLayerAndRemovesTheLog) {
    CreateHex fx;
    fx.map()->setMapUnits(h::UnitMeters);
    fx.selectStands();
    fx.touch("hex.shp");   // taken: the run makes hex2
    fx.driver.addLines({"input 10", "input 0.5"});
    fx.cmd.OnClick();
    EXPECT_TRUE(fx.driver.messages.empty()) << (fx.driver.messages.empty() ? "" : fx.driver.messages[0].text);
    EXPECT_TRUE(fx.driver.errorReports.empty());
    ASSERT_EQ(fx.map()->layerCount(), 2);
    auto layer = std::dynamic_pointer_cast<h::FeatureLayer>(fx.map()->layer(0));
    ASSERT_TRUE(layer);
    EXPECT_EQ(layer->name(), "hex2");
    EXPECT_TRUE(layer->visible());
    EXPECT_EQ(layer->featureClass()->path(), fx.path("hex2.shp"));
    EXPECT_GT(layer->featureClass()->rowCount(), 7);   // 70 ha in hexagons of 10 ha
    EXPECT_FALSE(h::fs::FileExists(fx.path("error.log")));
}

TEST(CreateHexCommand, TheBuildersRefusalsAreShownAndAddNothing) {
    struct Case {
        const char* name;
        const char* layerName;
        const char* area;
        const char* message;
    } cases[] = {
        {"layer named unlike its file", "Stands (copy)", "10", "Cannot open input .SHP file"},
        {"larger than the extent", "stands", "5000",
         "Hexagon area larger than coverage bounding box - try a smaler area"},
        {"zero area", "stands", "0", "System limitation of 10,000,000 hexagons exceeded - try larger area"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CreateHex fx;
        fx.map()->setMapUnits(h::UnitMeters);
        fx.selectStands(c.layerName);
        fx.driver.addLines({std::string("input ") + c.area, "input 0.5"});
        fx.cmd.OnClick();
        ASSERT_EQ(fx.driver.messages.size(), 1u);
        EXPECT_EQ(fx.driver.messages[0].text, c.message);
        EXPECT_EQ(fx.driver.messages[0].style, h::mb::OKOnly);
        EXPECT_EQ(fx.driver.messages[0].title, kv::App::Title());
        EXPECT_EQ(fx.map()->layerCount(), 1);
        EXPECT_FALSE(h::fs::FileExists(fx.path("error.log")));
        EXPECT_TRUE(fx.driver.errorReports.empty());
    }
}
