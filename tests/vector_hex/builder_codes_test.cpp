// The Make Hexagon Regions command against a stand-in builder: each test
// loads its own copy of the library from a fresh folder, beside which a small
// script takes the builder's place. The script records its arguments and
// writes the log the test asks for (code.txt; without it, no log at all).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "Fixture.h"
#include "host/Component.h"
#include "host/System.h"

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {

const char* kStandIn =
    "#!/bin/sh\n"
    "dir=$(dirname \"$0\")\n"
    "printf '%s\\n' \"$@\" > \"$dir/args.txt\"\n"
    "if [ -f \"$dir/code.txt\" ]; then cat \"$dir/code.txt\" > \"$3\"; fi\n"
    "if [ -f \"$dir/readonly\" ]; then chmod a-w \"$3\"; fi\n";

// The library's copy lives in lib/ of the fixture's folder; the data in data/.
struct Session : DataFixture {
    std::string lib, data;
    std::unique_ptr<h::Component> holder;
    h::ICommand* cmd = nullptr;

    explicit Session(bool withBuilder = true) {
        lib = (dir / "lib").string();
        sfs::create_directories(lib);
        sfs::copy_file(KV_VECTOR_LIBRARY, lib + "/libKorvane93.so");
        if (withBuilder) {
            std::ofstream(lib + "/hex") << kStandIn;
            sfs::permissions(lib + "/hex", sfs::perms::owner_all);
        }
        auto& app = h::Application::instance();
        app.loadLibrary(lib + "/libKorvane93.so");
        holder = app.registry().create("Korvane.clsCreateHex");
        cmd = dynamic_cast<h::ICommand*>(holder.get());
        if (!cmd) throw std::runtime_error("Korvane.clsCreateHex is no command");
        cmd->OnCreate(&app);
        map()->setMapUnits(h::UnitMeters);
    }
    ~Session() { holder.reset(); }

    // A layer of the shapefile <folder>/stands.shp, on the map and selected.
    std::string selectStands(const std::string& folder = "data") {
        sfs::create_directories(dir / folder);
        auto fc = h::ShapefileWorkspace::open((dir / folder).string())
                      .createFeatureClass("stands", {{"ID", h::FieldInteger, 0, 9, 0}}, h::ShapeType::Polygon);
        auto layer = std::make_shared<h::FeatureLayer>(fc, "stands");
        map()->addLayer(layer);
        h::Application::instance().document()->setSelectedLayer(layer);
        return (dir / folder).string();
    }
    void answerCode(const std::string& text) const { std::ofstream(lib + "/code.txt") << text; }
    void click(const std::string& area = "10", const std::string& offset = "0.5") {
        driver.addLines({"input " + area, "input " + offset});
        cmd->OnClick();
    }
    std::vector<std::string> arguments() const { return h::fs::ReadLines(lib + "/args.txt"); }
};

}  // namespace

TEST(HexBuilderCodes, AMissingBuilderIsNamedAndNothingStarts) {
    Session s(false);
    std::string folder = s.selectStands();
    s.click();
    ASSERT_EQ(s.driver.messages.size(), 1u);
    EXPECT_EQ(s.driver.messages[0].text, s.lib + "/hex could not be found.  Cannot create hexes.");
    EXPECT_EQ(s.driver.messages[0].title, "Missing Component");
    EXPECT_EQ(s.driver.messages[0].style, h::mb::OKOnly);
    EXPECT_EQ(s.map()->layerCount(), 1);
    EXPECT_FALSE(h::fs::FileExists(folder + "/error.log"));
}

TEST(HexBuilderCodes, TheCommandLineCarriesTheTypedTextsAndFreeNames) {
    Session s;
    std::string folder = s.selectStands("My.Stuff");
    for (const char* taken : {"hex.shp", "hex2.shp", "error.log"}) std::ofstream(folder + "/" + taken) << "x";
    s.answerCode("9");
    s.click(" 0", "-0.5");
    EXPECT_EQ(s.arguments(), (std::vector<std::string>{folder.substr(0, folder.size() - 9) + "/My_Ztuff/stands.shp",
                                                       folder + "/hex3", folder + "/error2.log", "0", "-0.5"}));
    // Code 9: silent, nothing added, the log gone.
    EXPECT_TRUE(s.driver.messages.empty());
    EXPECT_EQ(s.map()->layerCount(), 1);
    EXPECT_FALSE(h::fs::FileExists(folder + "/error2.log"));
    EXPECT_TRUE(h::fs::FileExists(folder + "/error.log"));   // not the builder's
}

TEST(HexBuilderCodes, EachCodeHasItsMessageAndTheLogGoes) {
    struct Case {
        const char* log;
        const char* message;   // nullptr: none
    } cases[] = {
        {"0", "Cannot open input .SHP file"},
        {"1 extent", "Hexagon area larger than coverage bounding box - try a smaler area"},
        {"2", "Cannot open output .SHP file"},
        {"3", "Cannot open output .DBF file"},
        {"4", "Cannot open output .SHX file"},
        {"5", "System limitation of 10,000,000 hexagons exceeded - try larger area"},
        {"6", "Could not allocate sufficient memory to complete this process"},
        {"9", nullptr},
        {"x", nullptr},
    };
    for (bool readOnly : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.log) + (readOnly ? " read-only" : ""));
            Session s;
            std::string folder = s.selectStands();
            s.answerCode(c.log);
            if (readOnly) std::ofstream(s.lib + "/readonly") << "";
            s.click();
            if (c.message) {
                ASSERT_EQ(s.driver.messages.size(), 1u);
                EXPECT_EQ(s.driver.messages[0].text, c.message);
                EXPECT_EQ(s.driver.messages[0].style, h::mb::OKOnly);
                EXPECT_EQ(s.driver.messages[0].title.substr(0, 10), "Korvane - ");
            } else {
                EXPECT_TRUE(s.driver.messages.empty());
            }
            EXPECT_EQ(s.map()->layerCount(), 1);
            EXPECT_FALSE(h::fs::FileExists(folder + "/error.log"));
            EXPECT_TRUE(s.driver.errorReports.empty());
        }
    }
}

TEST(HexBuilderCodes, AMissingOrEmptyLogIsReportedUnderCreateHex) {
    for (bool empty : {false, true}) {
        SCOPED_TRACE(empty ? "empty log" : "no log");
        Session s;
        std::string folder = s.selectStands();
        if (empty) s.answerCode("");
        s.click();
        EXPECT_TRUE(s.driver.messages.empty());
        ASSERT_EQ(s.driver.errorReports.size(), 1u);
        const std::string& report = s.driver.errorReports[0];
        EXPECT_NE(report.find("CreateHex Classes/clsCreateHex"), std::string::npos) << report;
        EXPECT_NE(report.find(empty ? "Input past end of file" : "File not found"), std::string::npos) << report;
        EXPECT_EQ(s.map()->layerCount(), 1);
        EXPECT_FALSE(h::fs::FileExists(folder + "/error.log"));
    }
}
