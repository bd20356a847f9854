// Neighbourhood means: the computation against an exhaustive search, and
// the command's prompts and refusals.
#include <gtest/gtest.h>

#include <csignal>

#include <cmath>
#include <random>

#include "FaultInjection.h"
#include "Fixture.h"
#include "host/Failure.h"
#include "host/FileReplace.h"
#include "shared/App.h"
#include "vector/Classes/clsNeighbourhoodMean.h"
#include "vector/Modules/modNeighbourhoodMean.h"

namespace h = korvane::host;

namespace {

struct Means : DataFixture {
    kv::clsNeighbourhoodMean cmd;
    h::Application& app = h::Application::instance();
    Means() { cmd.OnCreate(&app); }

    // Squares of side 2 with their lower-left corners at the points, so the
    // centroids lie at the points + (1, 1); VAL holds the values (null for NaN).
    h::FeatureLayerPtr layer(const std::vector<h::Point>& at, const std::vector<double>& values) {
        auto fc = workspace().createFeatureClass(
            "stands", {{"VAL", h::FieldDouble, 0, 19, 11}, {"MEAN", h::FieldDouble, 0, 19, 11}, {"NAME", h::FieldString, 8, 0, 0}},
            h::ShapeType::Polygon);
        h::InsertCursor ins = fc->insert(true);
        h::RowPtr r = ins.createRowBuffer();
        for (size_t i = 0; i < at.size(); ++i) {
            r->setValue("VAL", std::isnan(values[i]) ? h::Value{} : h::Value(values[i]));
            r->setShape(h::Geometry::polygon({square(at[i].x - 1, at[i].y - 1, 2)}));
            ins.insertRow(*r);
        }
        ins.flush();
        fc->flush();
        auto l = std::make_shared<h::FeatureLayer>(fc);
        map()->addLayer(l);
        map()->setMapUnits(9);
        app.document()->setSelectedLayer(l);
        return l;
    }
    void run(const std::string& source, const std::string& threshold, const std::string& target) {
        driver.addLines({"choose lstDataSet " + source, "click OKButton", "input " + threshold,
                         "choose lstDataSet " + target, "click OKButton"});
        cmd.OnClick();
    }
    static std::vector<h::Value> column(const h::FeatureLayerPtr& l, const char* f) {
        std::vector<h::Value> out;
        h::Cursor c = l->featureClass()->search(nullptr, true);
        while (h::RowPtr r = c.next()) out.push_back(r->value(f));
        return out;
    }
};

// The exhaustive search the index replaces, neighbours in object-id order.
std::vector<h::Value> bruteForce(const std::vector<h::Point>& c, const std::vector<double>& v, double threshold) {
    std::vector<h::Value> out;
    for (size_t i = 0; i < c.size(); ++i) {
        double sum = 0;
        int64_t n = 0;
        for (size_t j = 0; j < c.size(); ++j) {
            double d = std::sqrt((c[i].y - c[j].y) * (c[i].y - c[j].y) + (c[i].x - c[j].x) * (c[i].x - c[j].x));
            if (d <= threshold && !std::isnan(v[j])) {
                ++n;
                sum += v[j];
            }
        }
        out.push_back(n ? h::Value(sum / static_cast<double>(n)) : h::Value{});
    }
    return out;
}

}  // namespace

TEST(NeighbourhoodMean, EqualsTheExhaustiveSearchBitForBit) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<h::Point> at;
    std::vector<double> v;
    for (int i = 0; i < 400; ++i) {
        at.push_back({600000 + std::floor(u(rng) * 200) * 5, 5050000 + std::floor(u(rng) * 200) * 5});
        v.push_back(i % 17 == 0 ? NAN : u(rng) * 1e3 / 3);
    }
    kv::NeighbourhoodSource src;
    for (size_t i = 0; i < at.size(); ++i) {
        src.ids.push_back(static_cast<int64_t>(i));
        src.centroids.push_back(at[i]);
        src.values.push_back(std::isnan(v[i]) ? std::nullopt : std::optional<double>(v[i]));
    }
    std::vector<int32_t> all;
    for (int32_t i = 0; i < 400; ++i) all.push_back(i);
    // 0, exact grid distances (5, 10, the diagonal 5*sqrt(2) computed the same way), and wide.
    for (double t : {0.0, 5.0, 10.0, std::sqrt(50.0), 37.0, 400.0, 5000.0}) {
        auto got = kv::NeighbourhoodMeans(src, all, t);
        auto want = bruteForce(at, v, t);
        for (size_t i = 0; i < all.size(); ++i) {
            ASSERT_EQ(got[i].has_value(), !h::isNull(want[i])) << "threshold " << t << " feature " << i;
            if (got[i]) {
                ASSERT_EQ(*got[i], std::get<double>(want[i])) << "threshold " << t << " feature " << i;
            }
        }
    }
}

TEST(NeighbourhoodMean, CommandWritesMeansOfTheSelectedOrAllFeatures) {
    Means fx;
    // Centroids at x = 0, 10, 20, 30 on one line; the third has no value.
    std::vector<h::Point> at = {{0, 0}, {10, 0}, {20, 0}, {35, 0}};
    auto l = fx.layer(at, {1, 2, NAN, 8});
    fx.run("VAL", "10", "MEAN");
    ASSERT_TRUE(fx.driver.errorReports.empty()) << fx.driver.errorReports.front();
    // Exactly 10 apart counts; the null value is skipped, not counted.
    EXPECT_EQ(Means::column(l, "MEAN"), (std::vector<h::Value>{1.5, 1.5, 2.0, 8.0}));
    // Threshold 0: each its own value; the one without a value gets null.
    fx.run("VAL", "0", "MEAN");
    EXPECT_EQ(Means::column(l, "MEAN"), (std::vector<h::Value>{1.0, 2.0, h::Value{}, 8.0}));
    // Source = target: every mean is taken from the values as they were.
    fx.run("VAL", "15", "VAL");
    EXPECT_EQ(Means::column(l, "VAL"), (std::vector<h::Value>{1.5, 1.5, 5.0, 8.0}));
    // With a selection only the selected features change; neighbours come from all.
    l->selectionSet().add(1);
    fx.run("VAL", "1000", "MEAN");
    auto mean = Means::column(l, "MEAN");
    EXPECT_EQ(mean[1], h::Value((1.5 + 1.5 + 5.0 + 8.0) / 4));
    EXPECT_TRUE(h::isNull(mean[2]));
    EXPECT_EQ(mean[0], h::Value(1.0));
}

// The means reach the file together: a failure or a kill on the way, also
// between two features, leaves the layer's files as they were.
TEST(NeighbourhoodMean, AFailureOrAKillPartWayLeavesTheFilesAsTheyWere) {
    namespace t = korvane::host::testing;
    const std::vector<h::Point> at = {{0, 0}, {10, 0}, {20, 0}};
    for (const auto& f : korvane::test::partWayFailures()) {
        Means fx;
        auto l = fx.layer(at, {1, 2, 3});
        l->selectionSet().add(std::vector<int64_t>{0, 2});  // written apart
        korvane::test::FolderSnapshot before(fx.dir);
        f.inject();
        fx.run("VAL", "10", "MEAN");
        t::clearFaults();
        EXPECT_EQ(fx.driver.errorReports.size(), 1u) << f.name;
        EXPECT_TRUE(before.sameAsNow()) << f.name << "\n" << before.differences();
        EXPECT_TRUE(korvane::test::temporariesIn(fx.dir).empty()) << f.name;
    }
    Means fx;
    auto l = fx.layer(at, {1, 2, 3});
    l->selectionSet().add(std::vector<int64_t>{0, 2});
    korvane::test::FolderSnapshot before(fx.dir);
    korvane::test::ChildOutcome out = korvane::test::runInChild([&](std::string&) {
        t::killAt(t::Step::Write, ".dbf", 2);
        fx.run("VAL", "10", "MEAN");
        return 0;
    });
    EXPECT_EQ(out.signal, SIGKILL) << korvane::test::describe(out);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    fx.run("VAL", "10", "MEAN");
    EXPECT_EQ(Means::column(l, "MEAN"), (std::vector<h::Value>{1.5, h::Value{}, 2.5}));
}

TEST(NeighbourhoodMean, PromptsRefuseBadAnswersAndChangeNothing) {
    Means fx;
    auto l = fx.layer({{0, 0}, {10, 0}}, {1, 2});
    korvane::test::FolderSnapshot before(fx.dir);
    // Not a number, then negative: asked again each time; Cancel ends it.
    fx.driver.addLines({"choose lstDataSet VAL", "click OKButton", "input abc", "input -1", "cancel"});
    fx.cmd.OnClick();
    ASSERT_EQ(fx.driver.messages.size(), 2u);
    EXPECT_EQ(fx.driver.messages[0].text, "Invalid entry.  Must be a number.");
    EXPECT_EQ(fx.driver.messages[1].title, "Bad Data Type");
    // Text and object-id fields are refused as source and target.
    fx.driver.messages.clear();
    for (const char* source : {"NAME", "FID"}) {
        fx.driver.addLines({std::string("choose lstDataSet ") + source, "click OKButton"});
        fx.cmd.OnClick();
    }
    fx.run("VAL", "5", "NAME");
    ASSERT_EQ(fx.driver.messages.size(), 3u) << fx.out.str();
    EXPECT_EQ(fx.driver.messages[0].text, "Derivation field must be of numeric type.\r\nField \"NAME\" is not numeric.");
    EXPECT_EQ(fx.driver.messages[1].title, "Field Type Error");
    EXPECT_EQ(fx.driver.messages[2].text, "Destination field must be of numeric type.\r\nField \"NAME\" is not numeric.");
    fx.map()->deleteLayer(l);
    l->featureClass()->close();
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
}

TEST(NeighbourhoodMean, RefusesMeansThatDoNotFitAndLayersOfOtherShapes) {
    Means fx;
    auto l = fx.layer({{0, 0}, {10, 0}, {50, 0}}, {1, 500, 3});
    l->featureClass()->addField({"SMALL", h::FieldSmallInteger, 0, 2, 0});
    l->featureClass()->flush();
    korvane::test::FolderSnapshot before(fx.dir);
    fx.run("VAL", "20", "SMALL");   // 250.5 does not fit two digits
    ASSERT_EQ(fx.driver.messages.size(), 1u);
    EXPECT_NE(fx.driver.messages[0].text.find("feature 0"), std::string::npos) << fx.driver.messages[0].text;
    EXPECT_NE(fx.driver.messages[0].text.find("Nothing was changed."), std::string::npos);
    l->featureClass()->flush();
    EXPECT_TRUE(before.sameAsNow()) << before.differences();

    auto pts = fx.workspace().createFeatureClass("wells", {{"VAL", h::FieldDouble, 0, 10, 2}}, h::ShapeType::Point);
    auto wells = std::make_shared<h::FeatureLayer>(pts);
    fx.map()->addLayer(wells);
    fx.app.document()->setSelectedLayer(wells);
    fx.driver.messages.clear();
    fx.cmd.OnClick();
    ASSERT_EQ(fx.driver.messages.size(), 1u);
    EXPECT_EQ(fx.driver.messages[0].title, "Invalid Layer Selection");
    EXPECT_TRUE(fx.driver.errorReports.empty());
}

TEST(NeighbourhoodMean, ThePromptNamesTheLayersUnitsWhenTheyDifferFromTheMaps) {
    EXPECT_EQ(kv::MapUnitName(9), "Meters");
    EXPECT_EQ(kv::MapUnitName(5), "miles");
    EXPECT_EQ(kv::MapUnitName(12), "Decimeters");
    EXPECT_EQ(kv::MapUnitName(13), "");
    Means fx;
    fx.layer({{0, 0}}, {1});
    fx.map()->setMapUnits(3);
    fx.driver.addLines({"choose lstDataSet VAL", "click OKButton", "cancel"});
    fx.cmd.OnClick();
    EXPECT_NE(fx.out.str().find("Using current map units of Feet"), std::string::npos) << fx.out.str();
}

// A target field added from the prompt reaches the file with the means: a
// failure or a kill while they are written takes it with them. Refused as
// not numeric, a field added there stays, as the user made it.
TEST(NeighbourhoodMean, AFieldAddedForTheRunGoesWithItsMeans) {
    namespace t = korvane::host::testing;
    const std::vector<h::Point> at = {{0, 0}, {10, 0}, {20, 0}};
    auto names = [](const std::filesystem::path& shp) { return h::FeatureClass::open(shp.string())->fields().names(); };
    const std::vector<std::string> without = {"FID", "Shape", "VAL", "MEAN", "NAME"};
    auto script = [](const std::string& type) {
        return std::vector<std::string>{"choose lstDataSet VAL", "click OKButton", "input 10",
                                        "choose lstDataSet \"<New Field>\"", "click OKButton",
                                        "set txtFieldName NMEAN", "choose cboFieldType " + type, "click cmdOK"};
    };
    for (const auto& f : korvane::test::partWayFailures()) {
        Means fx;
        auto l = fx.layer(at, {1, 2, 3});
        korvane::test::FolderSnapshot before(fx.dir);
        f.inject();
        fx.driver.addLines(script("Double"));
        fx.cmd.OnClick();
        t::clearFaults();
        EXPECT_EQ(fx.driver.errorReports.size(), 1u) << f.name;
        EXPECT_TRUE(before.sameAsNow()) << f.name << "\n" << before.differences();
        EXPECT_TRUE(korvane::test::temporariesIn(fx.dir).empty()) << f.name;
        EXPECT_EQ(l->featureClass()->fields().names(), without) << f.name;
    }
    bool killed = false;
    for (int write = 2; write <= 6; ++write) {
        Means fx;
        fx.layer(at, {1, 2, 3});
        korvane::test::FolderSnapshot before(fx.dir);
        korvane::test::ChildOutcome out = korvane::test::runInChild([&](std::string&) {
            t::killAt(t::Step::Write, ".dbf", write);
            fx.driver.addLines(script("Double"));
            fx.cmd.OnClick();
            return 0;
        });
        if (out.signal == SIGKILL) {
            killed = true;
            EXPECT_TRUE(before.sameAsNow()) << write << "\n" << before.differences();
            EXPECT_EQ(names(fx.dir / "stands.shp"), without) << write;
        } else {
            EXPECT_TRUE(out.exited && out.code == 0) << korvane::test::describe(out);
        }
    }
    EXPECT_TRUE(killed);
    // A text field added there: refused with the destination message; it stays.
    Means fx;
    auto l = fx.layer(at, {1, 2, 3});
    fx.driver.addLines(script("Text"));
    fx.cmd.OnClick();
    ASSERT_EQ(fx.driver.messages.size(), 1u) << fx.out.str();
    EXPECT_EQ(fx.driver.messages[0].text, "Destination field must be of numeric type.\r\nField \"NMEAN\" is not numeric.");
    std::vector<std::string> with = without;
    with.push_back("NMEAN");
    EXPECT_EQ(names(fx.dir / "stands.shp"), with);
    // Unhindered: the field with its means.
    fx.driver.messages.clear();
    fx.driver.addLines({"choose lstDataSet VAL", "click OKButton", "input 10", "choose lstDataSet \"<New Field>\"",
                        "click OKButton", "set txtFieldName NM2", "choose cboFieldType Double", "click cmdOK"});
    fx.cmd.OnClick();
    ASSERT_TRUE(fx.driver.errorReports.empty()) << fx.driver.errorReports.front();
    EXPECT_EQ(Means::column(l, "NM2"), (std::vector<h::Value>{1.5, 2.0, 2.5}));
}
