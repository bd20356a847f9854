// The Attribute Modelling dialog: loading, editing the model, the button
// rules, the field tools and the query-set library's buttons.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "FaultInjection.h"
#include "Fixture.h"
#include "host/FileReplace.h"
#include "host/Failure.h"
#include "shared/App.h"
#include "vector/Classes/clsASttributeModelling.h"
#include "vector/Forms/frmAttributeModelling.h"

namespace h = korvane::host;
using Lines = std::vector<std::string>;

namespace {

struct Dialog : DataFixture {
    h::Application& app = h::Application::instance();
    kv::frmAttributeModelling form;
    h::FeatureLayerPtr stands;

    Dialog() {
        auto fc = workspace().createFeatureClass("stands", {{"AGE", h::FieldInteger, 0, 4, 0}, {"KIND", h::FieldString, 4, 0, 0}},
                                                 h::ShapeType::Polygon);
        for (int i = 0; i < 3; ++i) {
            auto f = fc->createFeature();
            f->setShape(h::Geometry::polygon({square(i, 0, 1)}));
            f->setValue("AGE", i * 10);
            f->store();
        }
        fc->flush();
        stands = std::make_shared<h::FeatureLayer>(fc);
        form.setArcMapHook(&app);
    }
    h::CommandButton& button(const char* n) { return form.get<h::CommandButton>(n); }
    bool enabled(const char* n) { return button(n).enabled(); }
    void entry(const std::string& value, const std::string& query) {
        form.get<h::TextBox>("txtAttributeValue").setText(value);
        form.get<h::TextBox>("txtQuery").setText(query);
        button("cmdAdd").click();
    }
    Lines items(const char* list) {
        auto& l = form.get<h::ListControl>(list);
        Lines out;
        for (int32_t i = 0; i < l.listCount(); ++i) out.push_back(l.list(i));
        return out;
    }
};

}  // namespace

TEST(AttributeModellingDialog, OpensOnTheFirstFeatureLayerAndFollowsTheButtonRules) {
    Dialog fx;
    fx.map()->addLayer(std::make_shared<h::RegisteredLayer>("dem", "", h::LayerKind::Raster));
    fx.map()->addLayer(fx.stands);
    fx.form.show(false);
    // Nothing selected: the first feature layer (not the raster at 0) is taken.
    EXPECT_EQ(fx.app.document()->selectedLayer(), fx.stands);
    EXPECT_EQ(fx.form.get<h::TextBox>("txtLayer").text(), "stands");
    EXPECT_FALSE(fx.form.get<h::TextBox>("txtLayer").enabled());
    EXPECT_EQ(fx.items("cboTargetField"), (Lines{"<New Field>", "AGE", "KIND"}));
    EXPECT_EQ(fx.form.get<h::ComboBox>("cboTargetField").text(), "<New Field>");
    EXPECT_EQ(fx.items("cboViewFields"), (Lines{"AGE", "KIND"}));
    for (const char* b : {"cmdAdd", "cmdRemoveEdit", "cmdRemoveAll", "cmdLoad", "cmdSave", "cmdDelete", "cmdRun"})
        EXPECT_FALSE(fx.enabled(b)) << b;
    EXPECT_EQ(fx.form.width, 8040);
    EXPECT_EQ(fx.form.get<h::CommandButton>("cmdRenameField").left, 5520);

    fx.form.get<h::TextBox>("txtAttributeValue").setText("3");
    EXPECT_FALSE(fx.enabled("cmdAdd"));
    fx.form.get<h::TextBox>("txtQuery").setText("[AGE] > 5");
    EXPECT_TRUE(fx.enabled("cmdAdd"));
    fx.button("cmdAdd").click();
    EXPECT_EQ(fx.items("lstQueryList"), Lines{"3   [AGE] > 5"});
    EXPECT_TRUE(fx.enabled("cmdRun") && fx.enabled("cmdSave") && fx.enabled("cmdRemoveAll"));
    EXPECT_FALSE(fx.enabled("cmdAdd"));
    // A value with a blank or "|" would not read back: refused.
    fx.entry("a b", "[AGE] = 1");
    fx.entry("a|b", "[AGE] = 1");
    EXPECT_EQ(fx.driver.messages.size(), 2u);
    EXPECT_EQ(fx.items("lstQueryList").size(), 1u);
    // Remove / Edit gives the entry back to the boxes.
    fx.form.get<h::TextBox>("txtAttributeValue").setText("");
    fx.form.get<h::TextBox>("txtQuery").setText("");
    fx.form.get<h::ListBox>("lstQueryList").setListIndex(0);
    EXPECT_TRUE(fx.enabled("cmdRemoveEdit"));
    fx.button("cmdRemoveEdit").click();
    EXPECT_EQ(fx.form.get<h::TextBox>("txtAttributeValue").text(), "3");
    EXPECT_EQ(fx.form.get<h::TextBox>("txtQuery").text(), "[AGE] > 5");
    EXPECT_TRUE(fx.items("lstQueryList").empty());
    EXPECT_FALSE(fx.enabled("cmdRun"));
}

TEST(AttributeModellingDialog, TheLibraryButtonsSaveLoadDeleteExportAndImport) {
    Dialog fx;
    fx.map()->addLayer(fx.stands);
    fx.app.document()->setSelectedLayer(fx.stands);
    fx.form.show(false);
    fx.entry("1", "[AGE] = 0");
    fx.entry("2", "[AGE] > 0");
    fx.driver.addLines({"input \"  Moose \""});
    fx.button("cmdSave").click();
    fx.driver.addLines({"input Hare"});
    fx.button("cmdSave").click();
    EXPECT_EQ(fx.items("cboCritterBox"), (Lines{"Hare", "Moose"}));   // the box sorts
    EXPECT_TRUE(fx.enabled("cmdDelete"));
    EXPECT_FALSE(fx.enabled("cmdLoad"));
    fx.button("cmdRemoveAll").click();
    fx.form.get<h::ComboBox>("cboCritterBox").setListIndex(1);
    EXPECT_TRUE(fx.enabled("cmdLoad"));
    fx.button("cmdLoad").click();
    EXPECT_EQ(fx.items("lstQueryList"), (Lines{"1   [AGE] = 0", "2   [AGE] > 0"}));

    // Export of Moose: a text file through the save dialog.
    std::string file = (fx.dir / "moose.txt").string();
    fx.driver.addLines({"select lstDataSet Moose", "click OKButton", "file " + file});
    fx.button("cmdExport").click();
    EXPECT_EQ(fx.form.get<h::CommonDialog>("cmnDlg").filter, "Textfile(*.txt)|*.txt");
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, "'Moose\r\n$1|[AGE] = 0\r\n;2|[AGE] > 0\r\n\r\n");
    // A failed write over it leaves the file whole and reports.
    namespace t = korvane::host::testing;
    korvane::test::FolderSnapshot before(fx.dir);
    t::failAt(t::Step::Write, ENOSPC, "moose.txt");
    fx.driver.addLines({"select lstDataSet Hare", "click OKButton", "file " + file, "answer Yes"});
    fx.button("cmdExport").click();
    t::clearFaults();
    EXPECT_EQ(fx.driver.errorReports.size(), 1u);
    EXPECT_TRUE(before.sameAsNow()) << before.differences();
    EXPECT_TRUE(korvane::test::temporariesIn(fx.dir).empty());
    fx.driver.errorReports.clear();
    // The file is there: the save dialogs' question first; No (also the
    // default, when no line answers) keeps it, Yes replaces it.
    for (const char* answer : {"answer No", "", "answer Yes"}) {
        fx.driver.messages.clear();
        Lines script = {"select lstDataSet Hare", "click OKButton", "file " + file};
        if (*answer) script.push_back(answer);
        fx.driver.addLines(script);
        fx.button("cmdExport").click();
        ASSERT_EQ(fx.driver.messages.size(), 1u) << answer;
        EXPECT_EQ(fx.driver.messages[0].text, file + " already exists.\r\nDo you want to replace it?");
        std::ifstream again(file, std::ios::binary);
        std::string now((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
        EXPECT_EQ(now.rfind(std::string(answer) == "answer Yes" ? "'Hare\r\n" : "'Moose\r\n", 0), 0u) << answer;
    }
    EXPECT_TRUE(fx.driver.errorReports.empty());
    // The chooser closed from its box, or left open at the script's end:
    // nothing is asked or written, and nothing is reported.
    for (const Lines& script : {Lines{"select lstDataSet Moose", "close"}, Lines{"select lstDataSet Moose"}}) {
        korvane::test::FolderSnapshot unchanged(fx.dir);
        fx.driver.messages.clear();
        fx.driver.addLines(script);
        fx.button("cmdExport").click();
        EXPECT_TRUE(fx.driver.errorReports.empty()) << script.size() << ": " << fx.driver.errorReports.front();
        EXPECT_TRUE(fx.driver.messages.empty()) << script.size();
        EXPECT_TRUE(unchanged.sameAsNow()) << unchanged.differences();
    }
    // Moose back in the file for what follows.
    fx.driver.addLines({"select lstDataSet Moose", "click OKButton", "file " + file, "answer Yes"});
    fx.button("cmdExport").click();

    // Delete, then Import of the exported file replaces the library.
    fx.driver.addLines({"choose lstDataSet Hare", "click OKButton"});
    fx.button("cmdDelete").click();
    EXPECT_EQ(fx.items("cboCritterBox"), Lines{"Moose"});
    fx.driver.addLines({"file " + file});
    fx.button("cmdImport").click();
    EXPECT_EQ(fx.form.library().lines(), (Lines{"'Moose", "$1|[AGE] = 0", ";2|[AGE] > 0", ""}));
    // An empty file keeps the library, with a message; so does a missing one.
    std::string empty = (fx.dir / "empty.txt").string();
    std::ofstream(empty).close();
    fx.driver.messages.clear();
    fx.driver.addLines({"file " + empty});
    fx.button("cmdImport").click();
    EXPECT_EQ(fx.driver.messages.size(), 1u);
    fx.driver.addLines({"file " + (fx.dir / "missing.txt").string()});
    fx.button("cmdImport").click();
    EXPECT_EQ(fx.driver.errorReports.size(), 1u);
    EXPECT_EQ(fx.form.library().lines().size(), 4u);
    // The marker set leaves the box as it was.
    std::string marked = (fx.dir / "marked.txt").string();
    std::ofstream(marked, std::ios::binary) << "'<!-BAD -*- DATA-!>\r\n$1|\r\n";
    fx.driver.addLines({"file " + marked});
    fx.button("cmdImport").click();
    EXPECT_EQ(fx.items("cboCritterBox"), Lines{"Moose"});
    EXPECT_EQ(fx.form.library().headers(), Lines{"<!-BAD -*- DATA-!>"});
    // Clear empties the box only.
    fx.button("cmdClear").click();
    EXPECT_TRUE(fx.items("cboCritterBox").empty());
    EXPECT_FALSE(fx.enabled("cmdLoad") || fx.enabled("cmdDelete"));
}

// Load reads a set entry by entry: a line that does not read is reported,
// the entries before it stay in the list, and the buttons follow the list as
// it then is.
TEST(AttributeModellingDialog, AFailedLoadKeepsTheEntriesReadAndSetsTheButtons) {
    struct Case {
        const char* file;
        Lines list;
        bool reported;
    } cases[] = {
        {"'A\r\n$1|[AGE] = 0\r\n;2|[AGE] > 0\r\nno bar\r\n;3|[AGE] > 9\r\n", {"1   [AGE] = 0", "2   [AGE] > 0"}, true},
        {"'A\r\nno bar\r\n", {}, true},
        {"'A\r\n$1|[AGE] = 0\r\n\r\nno bar\r\n", {"1   [AGE] = 0"}, false},   // the set ends at the empty line
    };
    for (const Case& c : cases) {
        Dialog fx;
        fx.map()->addLayer(fx.stands);
        fx.app.document()->setSelectedLayer(fx.stands);
        fx.form.show(false);
        fx.entry("9", "[AGE] = 9");   // the list held an entry before
        std::string file = (fx.dir / "sets.txt").string();
        std::ofstream(file, std::ios::binary) << c.file;
        fx.driver.addLines({"file " + file});
        fx.button("cmdImport").click();
        fx.form.get<h::ComboBox>("cboCritterBox").setListIndex(0);
        fx.button("cmdLoad").click();
        SCOPED_TRACE(c.file);
        EXPECT_EQ(fx.driver.errorReports.size(), c.reported ? 1u : 0u);
        EXPECT_EQ(fx.items("lstQueryList"), c.list);
        for (const char* b : {"cmdRemoveAll", "cmdSave", "cmdRun"}) EXPECT_EQ(fx.enabled(b), !c.list.empty()) << b;
    }
}

// The library outlives the dialog and the command: it is kept with the map
// document, so a dialog opened later on the same document (korvane's next
// command reads it from the file) has what Save, Delete and Import left.
TEST(AttributeModellingDialog, TheLibraryIsKeptWithTheMapDocument) {
    Dialog fx;
    fx.map()->addLayer(fx.stands);
    fx.app.document()->setSelectedLayer(fx.stands);
    fx.form.show(false);
    fx.entry("1", "[AGE] = 0");
    fx.driver.addLines({"input Moose"});
    fx.button("cmdSave").click();
    fx.driver.addLines({"input Hare"});
    fx.button("cmdSave").click();
    fx.driver.addLines({"choose lstDataSet Moose", "click OKButton"});
    fx.button("cmdDelete").click();
    const std::vector<std::string>* kept = fx.app.document()->keptLines("frmAttributeModelling.querySets");
    ASSERT_TRUE(kept);
    EXPECT_EQ(*kept, fx.form.library().lines());
    EXPECT_EQ(*kept, (Lines{"", "'Hare", "$1|[AGE] = 0"}));

    kv::frmAttributeModelling later;
    later.setArcMapHook(&fx.app);
    later.show(false);
    EXPECT_EQ(later.library().lines(), *kept);
    // Its animal box starts empty, as on every opening; Import fills it.
    EXPECT_TRUE(later.get<h::ComboBox>("cboCritterBox").listCount() == 0);
    // A fresh document keeps no library: the dialog starts with the empty one.
    fx.app.setDocument(std::make_shared<h::Document>());
    fx.map()->addLayer(fx.stands);
    kv::frmAttributeModelling fresh;
    fresh.setArcMapHook(&fx.app);
    fresh.show(false);
    EXPECT_EQ(fresh.library().lines(), Lines{""});
}

TEST(AttributeModellingDialog, RenameFieldChecksTheNameAndCopiesTheValues) {
    Dialog fx;
    fx.map()->addLayer(fx.stands);
    fx.form.show(false);
    // Without a selected feature layer it refuses.
    fx.app.document()->setSelectedLayer(nullptr);
    fx.button("cmdRenameField").click();
    ASSERT_EQ(fx.driver.messages.size(), 1u);
    EXPECT_EQ(fx.driver.messages[0].text, "You need to select a layer first");
    fx.app.document()->setSelectedLayer(fx.stands);
    fx.driver.messages.clear();
    // Too long, a leading digit, a bad character and a clash in another case
    // are asked again; then No keeps the old field.
    fx.driver.addLines({"choose lstDataSet AGE", "click OKButton", "input NINECHARS", "input 1AGE", "input \"A B\"",
                        "input kind", "input YEARS", "answer No"});
    fx.button("cmdRenameField").click();
    ASSERT_TRUE(fx.driver.errorReports.empty()) << fx.driver.errorReports.front();
    Lines titles;
    for (auto& m : fx.driver.messages) titles.push_back(m.title);
    EXPECT_EQ(titles, (Lines{"Field name too long", "Invalid Field Name", "Invalid Field Name", "Field Name Exists",
                             "Delete old field"}));
    // Each time the name is asked for, the old name is offered.
    Lines defaults;
    std::istringstream printed(fx.out.str());
    for (std::string line; std::getline(printed, line);)
        if (line.rfind("  default ", 0) == 0) defaults.push_back(line);
    EXPECT_EQ(defaults, Lines(5, "  default \"AGE\"")) << fx.out.str();
    auto fc = fx.stands->featureClass();
    EXPECT_EQ(fc->fields().names(), (Lines{"FID", "Shape", "AGE", "KIND", "YEARS"}));
    EXPECT_EQ(fc->row(2)->value("YEARS"), h::Value(int32_t{20}));
    // Yes deletes the old field.
    fx.driver.addLines({"choose lstDataSet KIND", "click OKButton", "input SORT", "answer Yes"});
    fx.button("cmdRenameField").click();
    EXPECT_EQ(fc->fields().names(), (Lines{"FID", "Shape", "AGE", "YEARS", "SORT"}));
}

// The new field, its values and the old field's deletion reach the file
// together: a failure on the way changes nothing.
TEST(AttributeModellingDialog, RenameFieldThatFailsPartWayChangesNothing) {
    for (const auto& f : korvane::test::partWayFailures()) {
        Dialog fx;
        fx.map()->addLayer(fx.stands);
        fx.app.document()->setSelectedLayer(fx.stands);
        fx.form.show(false);
        korvane::test::FolderSnapshot before(fx.dir);
        f.inject();
        fx.driver.addLines({"choose lstDataSet AGE", "click OKButton", "input YEARS", "answer Yes"});
        fx.button("cmdRenameField").click();
        korvane::host::testing::clearFaults();
        EXPECT_EQ(fx.driver.errorReports.size(), 1u) << f.name;
        EXPECT_EQ(fx.stands->featureClass()->fields().names(), (Lines{"FID", "Shape", "AGE", "KIND"})) << f.name;
        EXPECT_TRUE(before.sameAsNow()) << f.name << "\n" << before.differences();
        EXPECT_TRUE(korvane::test::temporariesIn(fx.dir).empty()) << f.name;
    }
}

TEST(AttributeModellingCommand, OpensOneDialogOwnedByTheHost) {
    DataFixture fx;
    kv::clsAttributeModelling cmd;
    auto& app = h::Application::instance();
    cmd.OnCreate(&app);
    EXPECT_EQ(cmd.Name(), "attribute_modelling");
    EXPECT_EQ(cmd.Caption(), "Attribute Modelling");
    EXPECT_FALSE(cmd.Enabled());
    cmd.OnClick();
    ASSERT_EQ(fx.driver.messages.size(), 2u);   // the map units, then the empty map
    EXPECT_EQ(fx.driver.messages[1].text, "There are no layers loaded.  Cannot continue");
    auto l = fx.polygons("p", {{DataFixture::square(0, 0, 1)}}, {"a"});
    fx.map()->addLayer(l);
    app.document()->setSelectedLayer(l);
    EXPECT_TRUE(cmd.Enabled());
    cmd.OnClick();
    cmd.OnClick();
    EXPECT_TRUE(cmd.dialog()->visible());
    EXPECT_EQ(cmd.dialog()->owner(), app.hWnd());
}
