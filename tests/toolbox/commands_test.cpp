// Dissolve Polygons and Intersect Polygons as the host drives them: the
// click opens the host's tool dialog, a scripted user fills it in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ToolFixture.h"
#include "vector/Classes/clsDissolve.h"
#include "vector/Classes/clsIntersect.h"

using namespace kvtest;

namespace {

struct Commands : ToolFixture {
    h::Application& app = h::Application::instance();
    kv::clsDissolve dissolve;
    kv::clsIntersect intersect;
    h::FeatureLayerPtr stands;

    Commands() {
        dissolve.OnCreate(&app);
        intersect.OnCreate(&app);
        stands = layer("stands", {{square(0, 0, 10)}, {square(10, 0, 10)}, {square(30, 0, 5)}}, {"a", "a", "b"});
    }
    void script(const std::vector<std::string>& lines) { driver.addLines(lines); }
    static bool hasAreaFields(const h::LayerPtr& l) {
        auto fc = std::dynamic_pointer_cast<h::FeatureLayer>(l)->featureClass();
        return fc->findField("Area") >= 0 || fc->findField("Perimeter") >= 0;
    }
    static std::string bytes(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    }
};

}  // namespace

TEST(ToolCommands, AnswersAndEnabledFollowTheLayerCount) {
    Commands fx;
    EXPECT_EQ(fx.dissolve.Name(), "dissolvePoly");
    EXPECT_EQ(fx.dissolve.Caption(), "Dissolve Polygons");
    EXPECT_EQ(fx.intersect.Name(), "intersectPolygons");
    EXPECT_EQ(fx.intersect.Caption(), "Intersect Polygons");
    EXPECT_FALSE(fx.dissolve.Enabled());
    EXPECT_FALSE(fx.intersect.Enabled());
    fx.map()->addLayer(fx.stands);
    EXPECT_TRUE(fx.dissolve.Enabled());
    EXPECT_FALSE(fx.intersect.Enabled());
    fx.map()->addLayer(fx.layer("zones", {{DataFixture::square(5, -5, 20)}}, {"z"}));
    EXPECT_TRUE(fx.intersect.Enabled());
}

TEST(ToolCommands, DissolveResultAloneGetsAreaAndPerimeter) {
    Commands fx;
    fx.map()->addLayer(fx.stands);
    std::string out = fx.path("merged.shp");
    std::string before = Commands::bytes(fx.stands->featureClass()->dbfPath());
    fx.script({"show", "choose in_features stands", "select dissolve_field CLASS", "set out_feature_class " + out,
               "click cmdOK"});
    fx.dissolve.OnClick();
    EXPECT_TRUE(fx.driver.errorReports.empty()) << fx.out.str();
    // The preset: single parts (the check box for multipart features is clear).
    EXPECT_NE(fx.out.str().find("multi_part             CheckBox    [ ] Create multipart"), std::string::npos)
        << fx.out.str();
    ASSERT_EQ(fx.map()->layerCount(), 2);
    h::LayerPtr result = fx.map()->layer(0);
    EXPECT_EQ(result->name(), "merged");
    auto fc = std::dynamic_pointer_cast<h::FeatureLayer>(result)->featureClass();
    ASSERT_EQ(fc->rowCount(), 2);
    EXPECT_NEAR(h::toDouble(fc->feature(0)->value("Area")), 200, 1e-3);
    EXPECT_NEAR(h::toDouble(fc->feature(0)->value("Perimeter")), 60, 1e-3);
    EXPECT_NEAR(h::toDouble(fc->feature(1)->value("Area")), 25, 1e-3);
    EXPECT_FALSE(fx.dissolve.watchedMap());
    EXPECT_EQ(Commands::bytes(fx.stands->featureClass()->dbfPath()), before);   // the input untouched

    // A layer added afterwards is left alone.
    auto later = fx.layer("later", {{DataFixture::square(0, 0, 3)}}, {"l"});
    fx.map()->addLayer(later);
    EXPECT_FALSE(Commands::hasAreaFields(later));
}

TEST(ToolCommands, ACancelledOrRefusedDissolveTouchesNoLaterLayer) {
    Commands fx;
    fx.map()->addLayer(fx.stands);
    fx.script({"click cmdCancel"});
    fx.dissolve.OnClick();
    EXPECT_FALSE(fx.dissolve.watchedMap());
    auto later = fx.layer("later", {{DataFixture::square(0, 0, 3)}}, {"l"});
    fx.map()->addLayer(later);
    EXPECT_FALSE(Commands::hasAreaFields(later));

    // An existing output is refused in the dialog, which stays open; the
    // files named are not touched.
    std::string taken = later->featureClass()->path();
    std::string before = Commands::bytes(later->featureClass()->dbfPath());
    fx.script({"choose in_features stands", "set out_feature_class " + taken, "click cmdOK",
               "set out_feature_class " + fx.stands->featureClass()->path(), "click cmdOK", "click cmdCancel"});
    fx.dissolve.OnClick();
    ASSERT_EQ(fx.driver.messages.size(), 2u);
    EXPECT_NE(fx.driver.messages[0].text.find("already exists"), std::string::npos);
    EXPECT_NE(fx.driver.messages[1].text.find("is the input stands"), std::string::npos);
    EXPECT_EQ(fx.driver.messages[0].title, "Dissolve");
    EXPECT_EQ(Commands::bytes(later->featureClass()->dbfPath()), before);
    EXPECT_EQ(fx.map()->layerCount(), 2);
    auto third = fx.layer("third", {{DataFixture::square(0, 0, 3)}}, {"t"});
    fx.map()->addLayer(third);
    EXPECT_FALSE(Commands::hasAreaFields(third));
    EXPECT_TRUE(fx.driver.errorReports.empty()) << fx.out.str();
}

TEST(ToolCommands, IntersectOpensItsDefaultsAndAddsTheResultUnchanged) {
    Commands fx;
    fx.map()->addLayer(fx.stands);
    fx.map()->addLayer(fx.layer("zones", {{DataFixture::square(5, -5, 20)}}, {"z"}));
    std::string out = fx.path("cut.shp");
    fx.script({"select in_features stands", "select in_features stands zones", "set out_feature_class " + out,
               "click cmdOK"});
    fx.intersect.OnClick();
    EXPECT_TRUE(fx.driver.errorReports.empty()) << fx.out.str();
    ASSERT_EQ(fx.map()->layerCount(), 3);
    auto fc = std::dynamic_pointer_cast<h::FeatureLayer>(fx.map()->layer(0))->featureClass();
    EXPECT_EQ(fc->path(), out);
    EXPECT_EQ(fc->rowCount(), 2);
    EXPECT_EQ(fc->fields().field(2).name, "FID_stands");   // the order the inputs were chosen in
    EXPECT_FALSE(Commands::hasAreaFields(fx.map()->layer(0)));
}
