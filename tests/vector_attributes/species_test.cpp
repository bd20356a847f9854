// Species composition strings: the tokenizer and the conversion into
// per-species fields, through the command as the host runs it.
#include <gtest/gtest.h>

#include <csignal>

#include "FaultInjection.h"
#include "Fixture.h"
#include "host/Failure.h"
#include "host/FileReplace.h"
#include "shared/App.h"
#include "vector/Classes/clsFRIConversion.h"
#include "vector/Modules/modSpeciesComposition.h"

namespace h = korvane::host;
using Shares = std::vector<kv::SpeciesShare>;

TEST(SpeciesComposition, ReadsTheSpacedAndTheRunTogetherForms) {
    struct Case {
        const char* text;
        bool ok;
        Shares want;
    } cases[] = {
        {"Sb 8Bw 1Po 1", true, {{"Sb", 8}, {"Bw", 1}, {"Po", 1}}},
        {"Sb8Bw1Po1", true, {{"Sb", 8}, {"Bw", 1}, {"Po", 1}}},   // the information box's example
        {"Sb 0", true, {{"Sb", 10}}},                              // 0 is the whole stand
        {"Sb     8", true, {{"Sb", 8}}},                           // several blanks
        {"Sb 8Bw 2   ", true, {{"Sb", 8}, {"Bw", 2}}},             // blanks after the last digit
        {"  Sb 8", true, {{"Sb", 8}}},
        {"Sb 8 Bw 2", true, {{"Sb", 8}, {"Bw", 2}}},               // blank between digit and code
        {"Sb8 Bw2", true, {{"Sb", 8}, {"Bw", 2}}},
        {"P1 8Bw 2", true, {{"P1", 8}, {"Bw", 2}}},                // a blank follows: digits belong to the code
        {"Sb8Bw 2", true, {{"Sb8Bw", 2}}},
        {"Sb 5SB 5", true, {{"Sb", 5}, {"SB", 5}}},
        {"", true, {}},
        {"    ", true, {}},
        {"Sb ", false, {}},        // code and blank without a digit
        {"Sb", false, {}},
        {"Sb 8Bw", false, {}},
        {"8Sb", false, {}},        // no code before the digit
        {"Sb 88", false, {}},
        {"Sb x", false, {}},
    };
    for (const Case& c : cases) {
        Shares got;
        std::string why;
        bool ok = kv::ParseSpeciesComposition(c.text, got, why);
        EXPECT_EQ(ok, c.ok) << '"' << c.text << "\" " << why;
        if (ok && c.ok) {
            EXPECT_EQ(got, c.want) << '"' << c.text << '"';
        }
        if (!ok) {
            EXPECT_FALSE(why.empty());
        }
    }
}

namespace {

struct Conversion : DataFixture {
    kv::clsFRIConversion cmd;
    h::Application& app = h::Application::instance();
    Conversion() { cmd.OnCreate(&app); }

    // Unit squares with the strings in a SPCOMP field (null where nullptr).
    h::FeatureLayerPtr layer(const std::vector<const char*>& strings, std::vector<h::FieldDef> extra = {}) {
        std::vector<h::FieldDef> defs = {{"SPCOMP", h::FieldString, 30, 0, 0}};
        defs.insert(defs.end(), extra.begin(), extra.end());
        auto fc = workspace().createFeatureClass("stands", defs, h::ShapeType::Polygon);
        h::InsertCursor ins = fc->insert(true);
        h::RowPtr r = ins.createRowBuffer();
        for (size_t i = 0; i < strings.size(); ++i) {
            r->setValue("SPCOMP", strings[i] ? h::Value(std::string(strings[i])) : h::Value{});
            r->setShape(h::Geometry::polygon({square(static_cast<double>(i), 0, 1)}));
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
    void run(const std::string& field = "SPCOMP") {
        driver.addLines({"answer Yes", "choose lstDataSet " + field, "click OKButton"});
        cmd.OnClick();
    }
    std::vector<std::string> fieldNames(const h::FeatureLayerPtr& l) { return l->featureClass()->fields().names(); }
    h::Value at(const h::FeatureLayerPtr& l, int64_t oid, const char* f) { return l->featureClass()->row(oid)->value(f); }
};

}  // namespace

TEST(SpeciesConversion, AddsOneFieldPerCodeInFirstMetOrder) {
    Conversion fx;
    auto l = fx.layer({"Sb 8Bw 1Po 1", nullptr, "   ", "Po 5SB 5", "Sb8Bw2", "Sb 3Sb 0"}, {{"Po", h::FieldInteger, 0, 9, 0}});
    fx.run();
    EXPECT_TRUE(fx.driver.errorReports.empty()) << fx.driver.errorReports.front();
    // Po is taken by a field of the layer; SB clashes with Sb, as dBASE
    // compares names without case.
    EXPECT_EQ(fx.fieldNames(l), (std::vector<std::string>{"FID", "Shape", "SPCOMP", "Po", "Sb", "Bw", "Po_1", "SB_1"}));
    for (auto f : {"Sb", "Bw", "Po_1", "SB_1"}) EXPECT_EQ(l->featureClass()->fields().field(l->featureClass()->findField(f)).type, h::FieldSmallInteger);
    EXPECT_EQ(fx.at(l, 0, "Sb"), h::Value(int32_t{8}));
    EXPECT_EQ(fx.at(l, 0, "Po_1"), h::Value(int32_t{1}));
    EXPECT_TRUE(h::isNull(fx.at(l, 0, "SB_1")));   // a code the string lacks
    EXPECT_TRUE(h::isNull(fx.at(l, 1, "Sb")));     // null: no entry
    EXPECT_TRUE(h::isNull(fx.at(l, 2, "Sb")));     // blanks: no entry
    EXPECT_EQ(fx.at(l, 3, "SB_1"), h::Value(int32_t{5}));
    EXPECT_EQ(fx.at(l, 4, "Bw"), h::Value(int32_t{2}));
    EXPECT_EQ(fx.at(l, 5, "Sb"), h::Value(int32_t{10}));   // the later entry of a code wins
    // A second run finds the names taken and adds suffixed fields.
    fx.run();
    EXPECT_EQ(fx.fieldNames(l).back(), "SB_3");   // Sb_2 came first
}

TEST(SpeciesConversion, RefusesBeforeAnyFieldIsAdded) {
    struct Case {
        std::vector<const char*> strings;
        const char* message;   // part of the refusal
    } cases[] = {
        {{"Sb 8Bw 1", "Sb 8Bw", "Po 1"}, "feature 1 cannot be read: \"Sb 8Bw\""},
        {{"Sb 8", "S\xc3\xa9 2"}, "\"S\xc3\xa9\" of feature 1"},   // not ASCII
        {{"Sb 8", "Abcdefghij 2"}, "\"Abcdefghij\""},   // 10 characters fit, but the name is taken: Abcdefghij_1 does not
    };
    for (const Case& c : cases) {
        Conversion fx;
        auto l = fx.layer(c.strings, {{"ABCDEFGHIJ", h::FieldInteger, 0, 9, 0}});
        korvane::test::FolderSnapshot before(fx.dir);
        fx.run();
        ASSERT_EQ(fx.driver.messages.size(), 2u);
        EXPECT_NE(fx.driver.messages[1].text.find(c.message), std::string::npos) << fx.driver.messages[1].text;
        EXPECT_NE(fx.driver.messages[1].text.find("Nothing was changed."), std::string::npos);
        EXPECT_TRUE(fx.driver.errorReports.empty());
        EXPECT_EQ(l->featureClass()->fields().count(), 4);
        l->featureClass()->flush();
        EXPECT_TRUE(before.sameAsNow()) << before.differences();
    }
}

TEST(SpeciesConversion, AFailedWriteOrAReadOnlyLayerLeavesTheFilesAsTheyWere) {
    namespace t = korvane::host::testing;
    for (int attempt = 0; attempt < 2; ++attempt) {
        Conversion fx;
        auto l = fx.layer({"Sb 8Bw 2", "Po 1"});
        korvane::test::FolderSnapshot before(fx.dir);
        if (attempt == 0) {
            t::failAt(t::Step::Rename, ENOSPC, ".dbf");
        } else {
            for (auto& e : std::filesystem::directory_iterator(fx.dir))
                std::filesystem::permissions(e.path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
        }
        fx.run();
        t::clearFaults();
        EXPECT_EQ(fx.driver.errorReports.size(), 1u) << attempt;
        EXPECT_EQ(l->featureClass()->fields().count(), 3) << attempt;
        EXPECT_TRUE(before.sameAsNow()) << before.differences();
        EXPECT_TRUE(korvane::test::temporariesIn(fx.dir).empty());
    }
}

// The new fields and their values reach the file together: a failure or a
// kill after the fields are made, or between two rows, changes nothing.
TEST(SpeciesConversion, AFailureOrAKillPartWayLeavesTheFilesAsTheyWere) {
    namespace t = korvane::host::testing;
    const std::vector<const char*> strings = {"Sb 8Bw 2", nullptr, "Po 5Sb 5"};
    for (const auto& f : korvane::test::partWayFailures()) {
        Conversion fx;
        auto l = fx.layer(strings);
        korvane::test::FolderSnapshot before(fx.dir);
        f.inject();
        fx.run();
        t::clearFaults();
        EXPECT_EQ(fx.driver.errorReports.size(), 1u) << f.name;
        EXPECT_EQ(fx.fieldNames(l).size(), 3u) << f.name;
        EXPECT_TRUE(before.sameAsNow()) << f.name << "\n" << before.differences();
        EXPECT_TRUE(korvane::test::temporariesIn(fx.dir).empty()) << f.name;
    }
    // The copy (one write), the fields added (three: header, records, end),
    // the first row: the kill comes before the second.
    Conversion fx;
    auto l = fx.layer(strings);
    korvane::test::FolderSnapshot before(fx.dir);
    korvane::test::ChildOutcome out = korvane::test::runInChild([&](std::string&) {
        t::killAt(t::Step::Write, ".dbf", 5);
        fx.run();
        return 0;
    });
    EXPECT_EQ(out.signal, SIGKILL) << korvane::test::describe(out);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
}

TEST(SpeciesConversion, LayersOfMoreThan32767FeaturesAreConverted) {
    Conversion fx;
    std::vector<const char*> strings(33000, "Sb 6Bw 4");
    strings.back() = "Po 0";
    auto l = fx.layer(strings);
    fx.run();
    EXPECT_TRUE(fx.driver.errorReports.empty());
    EXPECT_EQ(fx.at(l, 32999, "Po"), h::Value(int32_t{10}));
    EXPECT_EQ(fx.at(l, 32998, "Bw"), h::Value(int32_t{4}));
}

// The field prompt begins with a line break, as the prompts of the other list
// inputs do, and the hourglass is up from the progress window's start to its
// end.
TEST(SpeciesConversion, ThePromptBeginsWithALineBreakAndTheHourglassShowsTheWork) {
    Conversion fx;
    fx.layer({"Sb 8", "Bw 2"});
    struct Watch : h::ScriptDriver {
        using h::ScriptDriver::ScriptDriver;
        std::vector<std::string> prompts;
        std::vector<h::Application::Pointer> atProgress;
        void formShown(h::Form& f, bool modal) override {
            if (auto* l = dynamic_cast<h::Label*>(f.find("lblDescription"))) prompts.push_back(l->caption());
            if (f.name() == "frmProgress") atProgress.push_back(h::Application::instance().mousePointer);
            h::ScriptDriver::formShown(f, modal);
        }
    } watch{fx.out};
    watch.echoForms = false;
    h::setUi(&watch);
    watch.addLines({"answer Yes", "choose lstDataSet SPCOMP", "click OKButton"});
    fx.cmd.OnClick();
    h::setUi(&fx.driver);
    EXPECT_TRUE(watch.errorReports.empty());
    EXPECT_EQ(watch.prompts, std::vector<std::string>{"\r\nChoose Field Containing FRI String"});
    ASSERT_FALSE(watch.atProgress.empty());
    for (auto p : watch.atProgress) EXPECT_EQ(p, h::Application::Pointer::Wait);
    EXPECT_EQ(fx.app.mousePointer, h::Application::Pointer::Default);
}
