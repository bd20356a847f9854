// The attribute model run: entries in list order over one pass, checked
// whole before anything is written.
#include <gtest/gtest.h>

#include <csignal>

#include "FaultInjection.h"
#include "Fixture.h"
#include "host/Failure.h"
#include "host/FileReplace.h"
#include "shared/App.h"
#include "vector/Forms/frmAttributeModelling.h"
#include "vector/Modules/modAttributeModel.h"

namespace h = korvane::host;

namespace {

struct Model : DataFixture {
    h::Application& app = h::Application::instance();
    kv::frmAttributeModelling form;
    h::FeatureLayerPtr layer;

    // Ten unit squares: AGE 10, 20, ... 100; KIND "a" for even ids, "b" for odd.
    Model() {
        auto fc = workspace().createFeatureClass("stands",
                                                 {{"AGE", h::FieldInteger, 0, 4, 0},
                                                  {"KIND", h::FieldString, 4, 0, 0},
                                                  {"HSI", h::FieldDouble, 0, 8, 2},
                                                  {"LABEL", h::FieldString, 6, 0, 0}},
                                                 h::ShapeType::Polygon);
        h::InsertCursor ins = fc->insert(true);
        h::RowPtr r = ins.createRowBuffer();
        for (int i = 0; i < 10; ++i) {
            r->setValue("AGE", (i + 1) * 10);
            r->setValue("KIND", std::string(i % 2 ? "b" : "a"));
            r->setShape(h::Geometry::polygon({square(i, 0, 1)}));
            ins.insertRow(*r);
        }
        ins.flush();
        fc->flush();
        layer = std::make_shared<h::FeatureLayer>(fc);
        map()->addLayer(layer);
        app.document()->setSelectedLayer(layer);
        form.setArcMapHook(&app);
        form.show(false);
    }
    void entry(const std::string& value, const std::string& query) {
        form.get<h::TextBox>("txtAttributeValue").setText(value);
        form.get<h::TextBox>("txtQuery").setText(query);
        form.get<h::CommandButton>("cmdAdd").click();
    }
    void run(const std::string& target) {
        form.get<h::ComboBox>("cboTargetField").setText(target);
        form.get<h::CommandButton>("cmdRun").click();
    }
    std::vector<h::Value> column(const char* f) {
        std::vector<h::Value> out;
        h::Cursor c = layer->featureClass()->search(nullptr, true);
        while (h::RowPtr r = c.next()) out.push_back(r->value(f));
        return out;
    }
};

}  // namespace

TEST(AttributeModel, EntriesRunInListOrderAndSeeEarlierValues) {
    Model fx;
    fx.entry("1", "[AGE] <= 50");
    fx.entry("2", "[KIND] = 'b'");          // overlaps the first: the later value stays
    fx.entry("[HSI]*10+0.5", "[HSI] = 2");   // tests the target the entry before wrote
    fx.run("HSI");
    ASSERT_TRUE(fx.driver.errorReports.empty()) << fx.driver.errorReports.front();
    h::Value n{};
    EXPECT_EQ(fx.column("HSI"), (std::vector<h::Value>{1.0, 20.5, 1.0, 20.5, 1.0, 20.5, n, 20.5, n, 20.5}));
    // A text target gets the value as text; with a selection only it changes.
    fx.layer->selectionSet().add(std::vector<int64_t>{0, 3});
    fx.form.get<h::CommandButton>("cmdRemoveAll").click();
    fx.entry("Old", "[AGE] > 30");
    fx.entry("New", "");
    fx.run("LABEL");
    EXPECT_EQ(fx.column("LABEL"), (std::vector<h::Value>{std::string("New"), n, n, std::string("New"), n, n, n, n, n, n}));
}

TEST(AttributeModel, AnyProblemRefusesTheWholeModelBeforeItWrites) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> entries;
        const char* target;
        bool message;   // a message box (else the error report)
    } cases[] = {
        {{{"1", "[AGE] > 0"}, {"2", "[NOPE] = 1"}}, "HSI", true},     // missing bracketed field
        {{{"1", "[AGE] > 0"}, {"2", "[AGE = 1"}}, "HSI", false},      // "[" without "]"
        {{{"1", "[AGE] > 0"}, {"2", "KIND] = 'b' OR [AGE] > 1"}}, "HSI", false},   // the first "]" before its "["
        {{{"1", "[AGE] > 0"}, {"2", "AGE >> 1"}}, "HSI", false},      // bad where clause
        {{{"1", "[AGE] > 0"}, {"abc", "[AGE] > 5"}}, "HSI", false},   // not an expression
        {{{"1", "[AGE] > 0"}, {"999999", "[AGE] = 100"}}, "HSI", false},   // does not fit 8 characters
        {{{"1", "[AGE] > 0"}, {"1/([AGE]-100)", ""}}, "HSI", false},  // division by zero at the last feature
        {{{"1", "[AGE] > 0"}, {"toolong", ""}}, "LABEL", false},      // text too long
    };
    for (const Case& c : cases) {
        Model fx;
        korvane::test::FolderSnapshot before(fx.dir);
        for (auto& [v, q] : c.entries) fx.entry(v, q);
        fx.run(c.target);
        SCOPED_TRACE(c.entries.back().first + " / " + c.entries.back().second);
        EXPECT_EQ(fx.driver.messages.size(), c.message ? 1u : 0u);
        EXPECT_EQ(fx.driver.errorReports.size(), c.message ? 0u : 1u);
        fx.layer->featureClass()->flush();
        EXPECT_TRUE(before.sameAsNow()) << before.differences();
        if (c.message) {
            EXPECT_EQ(fx.driver.messages[0].text, "Field \"NOPE\" could not be found in the selected layer.");
            EXPECT_EQ(fx.driver.messages[0].title, "Field Missing");
        }
    }
}

TEST(AttributeModel, ATargetTheLayerNoLongerHasIsReported) {
    Model fx;
    fx.entry("1", "");
    fx.layer->featureClass()->deleteField("LABEL");   // after the boxes were filled
    fx.layer->featureClass()->flush();
    korvane::test::FolderSnapshot before(fx.dir);
    fx.run("LABEL");
    EXPECT_EQ(fx.driver.errorReports.size(), 1u);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
}

TEST(AttributeModel, AReadOnlyLayerOrAFailedWriteIsReported) {
    Model fx;
    fx.entry("1", "");
    for (auto& e : std::filesystem::directory_iterator(fx.dir))
        std::filesystem::permissions(e.path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
    korvane::test::FolderSnapshot before(fx.dir);
    fx.run("HSI");
    EXPECT_EQ(fx.driver.errorReports.size(), 1u);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
}

// The rows reach the file together: a failure or a kill on the way, also
// between two rows, leaves the layer's files as they were and is reported.
TEST(AttributeModel, AFailureOrAKillPartWayLeavesTheFilesAsTheyWere) {
    namespace t = korvane::host::testing;
    for (const auto& f : korvane::test::partWayFailures()) {
        Model fx;
        fx.entry("[AGE]/4", "[KIND] = 'b'");  // the odd features: written apart
        korvane::test::FolderSnapshot before(fx.dir);
        f.inject();
        fx.run("HSI");
        t::clearFaults();
        EXPECT_EQ(fx.driver.errorReports.size(), 1u) << f.name;
        EXPECT_TRUE(before.sameAsNow()) << f.name << "\n" << before.differences();
        EXPECT_TRUE(korvane::test::temporariesIn(fx.dir).empty()) << f.name;
        EXPECT_TRUE(h::isNull(fx.column("HSI")[1])) << f.name;
    }
    Model fx;
    fx.entry("[AGE]/4", "[KIND] = 'b'");
    korvane::test::FolderSnapshot before(fx.dir);
    korvane::test::ChildOutcome out = korvane::test::runInChild([&](std::string&) {
        t::killAt(t::Step::Write, ".dbf", 2);  // after the first row, before the second
        fx.run("HSI");
        return 0;
    });
    EXPECT_EQ(out.signal, SIGKILL) << korvane::test::describe(out);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    // Unhindered, the same run writes the values.
    fx.run("HSI");
    EXPECT_EQ(fx.column("HSI")[1], h::Value(5.0));
    EXPECT_TRUE(h::isNull(fx.column("HSI")[0]));
}

// A field added from Run for the run reaches the file with the values: a
// failure or a kill while they are written takes it with them; a run that
// stops before its first value (here: a field the queries name is missing)
// keeps it.
TEST(AttributeModel, AFieldAddedForTheRunGoesWithItsValues) {
    namespace t = korvane::host::testing;
    const std::vector<std::string> addField = {"set txtFieldName NEWF", "choose cboFieldType Double", "click cmdOK"};
    auto names = [](const std::filesystem::path& shp) { return h::FeatureClass::open(shp.string())->fields().names(); };
    const std::vector<std::string> without = {"FID", "Shape", "AGE", "KIND", "HSI", "LABEL"};
    std::vector<std::string> with = without;
    with.push_back("NEWF");
    for (const auto& f : korvane::test::partWayFailures()) {
        Model fx;
        fx.entry("[AGE]/4", "[KIND] = 'b'");
        korvane::test::FolderSnapshot before(fx.dir);
        f.inject();
        fx.driver.addLines(addField);
        fx.run("<New Field>");
        t::clearFaults();
        EXPECT_EQ(fx.driver.errorReports.size(), 1u) << f.name;
        EXPECT_TRUE(before.sameAsNow()) << f.name << "\n" << before.differences();
        EXPECT_TRUE(korvane::test::temporariesIn(fx.dir).empty()) << f.name;
        EXPECT_EQ(fx.layer->featureClass()->fields().names(), without) << f.name;
        // The boxes no longer offer the field that went.
        EXPECT_EQ(fx.form.get<h::ComboBox>("cboTargetField").text(), "<New Field>") << f.name;
        EXPECT_LT(fx.form.get<h::ComboBox>("cboTargetField").find("NEWF"), 0) << f.name;
    }
    // Killed at each write of the values: the file keeps no new field.
    bool killed = false;
    for (int write = 2; write <= 6; ++write) {
        Model fx;
        fx.entry("[AGE]/4", "[KIND] = 'b'");
        korvane::test::FolderSnapshot before(fx.dir);
        korvane::test::ChildOutcome out = korvane::test::runInChild([&](std::string&) {
            t::killAt(t::Step::Write, ".dbf", write);
            fx.driver.addLines(addField);
            fx.run("<New Field>");
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
    // Stopped with a message before any value: the field stays, empty.
    Model fx;
    fx.entry("1", "[NOPE] = 1");
    fx.driver.addLines(addField);
    fx.run("<New Field>");
    ASSERT_EQ(fx.driver.messages.size(), 1u);
    EXPECT_EQ(fx.driver.messages[0].title, "Field Missing");
    EXPECT_EQ(names(fx.dir / "stands.shp"), with);
    EXPECT_TRUE(fx.driver.errorReports.empty());
    // Unhindered, field and values arrive together.
    fx.form.get<h::CommandButton>("cmdRemoveAll").click();
    fx.entry("[AGE]/4", "[KIND] = 'b'");
    fx.driver.addLines({"set txtFieldName NEWG", "choose cboFieldType Double", "click cmdOK"});
    fx.run("<New Field>");
    ASSERT_TRUE(fx.driver.errorReports.empty()) << fx.driver.errorReports.front();
    EXPECT_EQ(fx.column("NEWG")[1], h::Value(5.0));
}

// The run shows the wait cursor while it works and puts the pointer back.
TEST(AttributeModel, TheWaitCursorIsShownWhileTheModelRuns) {
    Model fx;
    std::vector<h::Application::Pointer> seen;
    int token = fx.app.mousePointerChanged.connect([&](h::Application::Pointer p) { seen.push_back(p); });
    fx.entry("1", "[AGE] > 0");
    fx.run("HSI");
    fx.app.mousePointerChanged.disconnect(token);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), h::Application::Pointer::Wait);
    EXPECT_EQ(seen.back(), h::Application::Pointer::Default);
    EXPECT_EQ(fx.app.mousePointer, h::Application::Pointer::Default);
}

// Written through its working copy, the model gives the files that storing
// each planned row in place gives, byte for byte (the header's date aside).
TEST(AttributeModel, TheFilesAreThoseOfRowsStoredInPlace) {
    Model fx;
    h::FeatureClassPtr fc = fx.layer->featureClass();
    const std::filesystem::path plain = fx.dir / "plain";
    korvane::test::copyFolderFiles(fx.dir, plain);
    kv::ModelPlan plan = kv::PlanAttributeModel(
        *fc, nullptr, {kv::QueryListEntry("[AGE]/3", "[KIND] = 'b'"), kv::QueryListEntry("7", "[AGE] < 30")}, "HSI");
    kv::WriteAttributeModel(*fc, plan);
    {
        auto other = h::FeatureClass::open((plain / "stands.shp").string());
        h::Cursor c = other->update(nullptr, true);
        size_t i = 0;
        while (h::RowPtr r = c.next()) {
            if (i >= plan.ids.size() || plan.ids[i] != r->oid()) continue;
            r->setValue(plan.target, plan.values[i++]);
            c.updateRow(*r);
        }
        other->close();
    }
    fc->flush();
    auto bytes = [](const std::filesystem::path& folder) {
        std::map<std::string, std::string> files = korvane::test::FolderSnapshot::read(folder);
        for (auto& [name, b] : files)
            if (name.ends_with(".dbf")) b.replace(1, 3, "---");
        return files;
    };
    auto mine = bytes(fx.dir), theirs = bytes(plain);
    EXPECT_EQ(mine, theirs);
    EXPECT_EQ(fx.column("HSI")[1], h::Value(7.0));
}
