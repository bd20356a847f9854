// The Create Core Areas command and dialog driven like a user, on a private
// copy of the vector library whose folder holds its own Korvane.ini (or none).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/Application.h"
#include "host/Component.h"
#include "host/Forms.h"
#include "host/Layer.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "host/data/Workspace.h"

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {

class Recording : public h::ScriptDriver {
public:
    using ScriptDriver::ScriptDriver;
    void formShown(h::Form& f, bool modal) override {
        shown.push_back(&f);
        ScriptDriver::formShown(f, modal);
    }
    std::vector<h::Form*> shown;
};

std::string readAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class Session {
public:
    explicit Session(bool withIni = true) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = (sfs::temp_directory_path() /
               ("kv-cores-" + std::to_string(::getpid()) + "-" + info->test_suite_name() + "." + info->name()))
                  .string();
        sfs::remove_all(dir);
        sfs::create_directories(dir);
        sfs::copy_file(KV_VECTOR_LIBRARY, dir + "/libKorvane93.so");
        if (withIni) {
            std::ofstream ini(dir + "/Korvane.ini", std::ios::binary);
            ini << "[KorvaneBatch]\r\nLocation=" << batchFile() << "\r\n";
        }
        driver.echoForms = false;
        h::setUi(&driver);
        app.setDocument(std::make_shared<h::Document>());
        map()->setMapUnits(h::UnitMeters);
        app.modelessAllowed = true;
        app.loadLibrary(dir + "/libKorvane93.so");
        holder = app.registry().create("Korvane.clsCreateCores");
        command = dynamic_cast<h::ICommand*>(holder.get());
        if (!command) throw std::runtime_error("Korvane.clsCreateCores is no command");
        command->OnCreate(&app);
    }
    ~Session() {
        holder.reset();
        app.setDocument(std::make_shared<h::Document>());
        h::setUi(nullptr);
        std::error_code ec;
        sfs::remove_all(dir, ec);
    }
    std::string batchFile() const { return dir + "/runs.kv"; }
    h::MapPtr map() const { return app.document()->focusMap(); }

    // A polygon layer with one 10 x 10 square and the field PATCH.
    h::FeatureLayerPtr patches(const std::string& name = "patches") {
        auto fc = h::ShapefileWorkspace::open(dir).createFeatureClass(
            name, {{"PATCH", h::FieldInteger, 0, 9, 0}, {"KIND", h::FieldString, 8, 0, 0}}, h::ShapeType::Polygon);
        auto f = fc->createFeature();
        f->setShape(h::Geometry::fromWkt("POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0))"));
        f->setValue("PATCH", 7);
        f->store();
        fc->flush();
        auto layer = std::make_shared<h::FeatureLayer>(fc, name);
        map()->addLayer(layer);
        return layer;
    }
    h::Form& open() {
        command->OnClick();
        auto it = std::find_if(driver.shown.rbegin(), driver.shown.rend(),
                               [](h::Form* f) { return f->name() == "frmCores"; });
        if (it == driver.shown.rend()) throw std::runtime_error("the dialog was not shown:\n" + out.str());
        return **it;
    }
    void act(const std::vector<std::string>& lines) {
        driver.addLines(lines);
        driver.driveModeless();
    }
    std::string messages() const {
        std::string all;
        for (auto& m : driver.messages) all += m.title + ": " + m.text + "\n";
        return all;
    }

    std::string dir;
    std::ostringstream out;
    Recording driver{out};
    h::Application& app = h::Application::instance();
    std::unique_ptr<h::Component> holder;
    h::ICommand* command = nullptr;
};

bool okEnabled(h::Form& f) { return f.get<h::CommandButton>("cmdOK").enabled(); }

}  // namespace

TEST(CreateCoresCommand, AnswersEnabledAndTheClickThatShowsTheDialog) {
    Session s;
    EXPECT_EQ(s.command->Name(), "Create_cores");
    EXPECT_EQ(s.command->Caption(), "Create core areas");
    EXPECT_FALSE(s.command->Checked());
    EXPECT_EQ(s.command->Tooltip() + s.command->Message() + s.command->HelpFile() + s.command->Category(), "");
    EXPECT_EQ(s.command->HelpContextID() + s.command->Bitmap(), 0);
    EXPECT_FALSE(s.command->Enabled());
    // Any layer enables it, a raster too; its dialog then lists nothing.
    s.map()->addLayer(std::make_shared<h::RegisteredLayer>("dem", "", h::LayerKind::Raster));
    EXPECT_TRUE(s.command->Enabled());

    s.map()->setMapUnits(h::UnitUnknown);
    h::Form& f = s.open();
    ASSERT_EQ(s.driver.messages.size(), 1u);
    EXPECT_EQ(s.driver.messages[0].title, "Setting Map Units");
    EXPECT_EQ(s.map()->mapUnits(), h::UnitMeters);
    EXPECT_EQ(f.caption(), "Create Core Areas");
    EXPECT_EQ(f.owner(), s.app.hWnd());
    EXPECT_TRUE(f.visible());
    EXPECT_FALSE(f.modal());
    EXPECT_EQ(f.get<h::ListBox>("lstLayers").listCount(), 0);
    EXPECT_TRUE(s.driver.errorReports.empty());
}

TEST(CreateCoresDialog, ListsFeatureLayersAndEnablesOKOnlyWithAllThreeInputs) {
    Session s;
    auto group = std::make_shared<h::GroupLayer>("Group");
    s.map()->addLayer(group);
    s.map()->addLayer(std::make_shared<h::RegisteredLayer>("dem", "", h::LayerKind::Raster));
    s.patches();
    h::Form& f = s.open();

    auto& lst = f.get<h::ListBox>("lstLayers");
    ASSERT_EQ(lst.listCount(), 1);
    EXPECT_EQ(lst.list(0), "patches");
    EXPECT_EQ(f.get<h::CheckBox>("chkDetach").value(), h::Checked);
    EXPECT_EQ(f.get<h::CheckBox>("chkAddLayer").value(), h::Checked);
    EXPECT_TRUE(f.get<h::TextBox>("txtFilenameOut").locked);
    EXPECT_FALSE(okEnabled(f));
    std::vector<std::string> tab;
    for (h::Control* c : f.tabOrder())
        if (c->type() != h::ControlType::CommonDialog) tab.push_back(c->name());
    EXPECT_EQ(tab, (std::vector<std::string>{"lstLayers", "cboIdField", "chkDetach", "txtFilenameOut",
                                             "txtBufferSize", "cmdCancel", "cnmdBatch", "cmdOK", "chkAddLayer"}));

    s.act({"set lstLayers patches"});
    EXPECT_EQ(f.get<h::ComboBox>("cboIdField").items(), (std::vector<std::string>{"PATCH", "KIND"}));
    s.act({"set txtBufferSize 2", "set cboIdField PATCH"});
    EXPECT_FALSE(okEnabled(f));   // no output file yet
    // The file chosen last does not re-evaluate the rule.
    s.act({"click txtFilenameOut", "file " + s.dir + "/cores.shp"});
    EXPECT_EQ(f.get<h::TextBox>("txtFilenameOut").text(), s.dir + "/cores.shp");
    EXPECT_FALSE(okEnabled(f));
    s.act({"set cboIdField KIND", "set cboIdField PATCH"});
    EXPECT_TRUE(okEnabled(f));
    // One click on the box, one save dialog.
    std::string transcript = s.out.str();
    size_t dialogs = 0;
    for (size_t at = transcript.find("Save dialog"); at != std::string::npos; at = transcript.find("Save dialog", at + 1))
        ++dialogs;
    EXPECT_EQ(dialogs, 1u) << transcript;

    s.act({"click cmdOK"});
    EXPECT_FALSE(f.loaded());
    EXPECT_TRUE(sfs::exists(s.dir + "/cores.shp"));
    ASSERT_EQ(s.map()->layerCount(), 4);
    EXPECT_EQ(s.map()->layer(0)->name(), "cores");
    EXPECT_EQ(s.messages(), "");
    EXPECT_TRUE(s.driver.errorReports.empty());
}

TEST(CreateCoresDialog, TheBufferSizeTakesDigitsPointsEnterAndBackspaceOnly) {
    Session s;
    s.patches();
    h::Form& f = s.open();
    auto& box = f.get<h::TextBox>("txtBufferSize");
    struct Key {
        int key;
        bool kept;
    } keys[] = {{'1', true}, {'9', true}, {'.', true}, {13, true}, {8, true},  {'-', false},
                {'+', false}, {'e', false}, {' ', false}, {3, false}, {22, false}};
    for (const Key& k : keys) {
        int key = k.key;
        box.onKeyPress(key);
        EXPECT_EQ(key != 0, k.kept) << k.key;
    }
    s.act({"key txtBufferSize -12.5x"});
    EXPECT_EQ(box.text(), "12.5");
}

TEST(CreateCoresDialog, BatchAppendsTheStoredLineAndCloses) {
    Session s;
    s.patches();
    sfs::create_directories(s.dir + "/cores");
    struct Case {
        const char* what;
        std::vector<std::string> actions;
        std::string line;
    } cases[] = {
        {"every choice", {"set lstLayers patches", "set cboIdField PATCH", "uncheck chkAddLayer",
                          "set txtBufferSize 12.5", "click txtFilenameOut", "file " + s.dir + "/out.shp"},
         "CreateCores " + s.dir + ", out, patches, PATCH, 12.5, True, False"},
        // A folder named like the file keeps its whole path.
        {"folder named like the file", {"uncheck chkDetach", "set txtBufferSize 50", "click txtFilenameOut",
                                        "file " + s.dir + "/cores/cores.shp"},
         "CreateCores " + s.dir + "/cores, cores, , , 50, False, True"},
        // A name typed without its extension names the same shapefile.
        {"name without .shp", {"set txtBufferSize 0.25", "click txtFilenameOut", "file " + s.dir + "/plain"},
         "CreateCores " + s.dir + ", plain, , , 0.25, True, True"},
    };
    std::string expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        h::Form& f = s.open();
        s.act(c.actions);
        s.act({"click cnmdBatch"});
        EXPECT_FALSE(f.loaded());
        expected += c.line + "\r\n";
        EXPECT_EQ(readAll(s.batchFile()), expected);
    }
    EXPECT_EQ(s.messages(), "");
    EXPECT_TRUE(s.driver.errorReports.empty());
    EXPECT_FALSE(sfs::exists(s.dir + "/out.shp"));   // saved, not run
}

TEST(CreateCoresDialog, RefusalsKeepTheDialogOpenAndWriteNothing) {
    struct Case {
        const char* what;
        bool ini;
        std::string file;     // chosen output
        std::string buffer;   // typed into the box as it is
        std::string message;  // "title: text", or empty when an error report is expected
    };
    const Case cases[] = {
        {"no configuration file", false, "/out.shp", "5", "Missing system file: '@/Korvane.ini' could not be found.  Cannot continue.\n"},
        {"a comma in the name", true, "/a,b.shp", "5",
         "Cannot Continue: The output shapefile name 'a,b' contains \",\", \"[\" or \"]\", which a batch line cannot "
         "hold without changing its meaning.\r\nUse OK to create the core areas now, or rename it before adding it "
         "to the batch.\n"},
        {"two points", true, "/out.shp", "1.2.5", ""},
        {"no output file", true, "", "5", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Session s(c.ini);
        s.patches();
        h::Form& f = s.open();
        s.act({"set lstLayers patches", "set cboIdField PATCH", "set txtBufferSize " + c.buffer});
        if (!c.file.empty()) s.act({"click txtFilenameOut", "file " + s.dir + c.file});
        s.act({"click cnmdBatch"});
        EXPECT_TRUE(f.loaded());
        EXPECT_FALSE(sfs::exists(s.batchFile()));
        std::string want = c.message;
        if (auto at = want.find('@'); at != std::string::npos) want.replace(at, 1, s.dir);
        EXPECT_EQ(s.messages(), want);
        EXPECT_EQ(s.driver.errorReports.size(), want.empty() ? 1u : 0u);
    }
}

TEST(CreateCoresDialog, AnExistingOutputIsReplacedOnlyAfterTheUserAgrees) {
    Session s;
    s.patches();
    std::ofstream(s.dir + "/old.shp") << "x";
    h::Form& f = s.open();
    auto& box = f.get<h::TextBox>("txtFilenameOut");
    s.act({"click txtFilenameOut", "file " + s.dir + "/old.shp", "answer No"});
    EXPECT_EQ(box.text(), "");
    ASSERT_EQ(s.driver.messages.size(), 1u);
    EXPECT_EQ(s.driver.messages[0].text, s.dir + "/old.shp already exists.\r\nDo you want to replace it?");
    EXPECT_EQ(s.driver.messages[0].defaultAnswer(), h::mb::No);
    s.act({"click txtBufferSize", "click txtFilenameOut", "file " + s.dir + "/old.shp", "answer Yes"});
    EXPECT_EQ(box.text(), s.dir + "/old.shp");
}
