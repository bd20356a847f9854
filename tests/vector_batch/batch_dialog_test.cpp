// The Set and Run Batch Processes command and the Batch Processing dialog
// driven like a user, on a private copy of the vector library whose folder
// holds its own Korvane.ini (or none).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "host/Application.h"
#include "host/Component.h"
#include "host/Forms.h"
#include "host/Ui.h"
#include "host/data/Table.h"
#include "host/data/Value.h"
#include "DialogSession.h"

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}
void writeAll(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Keeps what the text viewer showed while it was open; everything else goes
// to the session's scripted user.
struct Viewed {
    std::string caption, text;
    bool locked = false;
    intptr_t owner = 0;
};

class ViewerWatch : public h::UiDriver {
public:
    explicit ViewerWatch(h::ScriptDriver& user) : user_(user) {}
    void formShown(h::Form& f, bool modal) override {
        if (f.name() == "frmMultiLineDisplay") {
            auto& box = f.get<h::TextBox>("txtDisplay");
            viewed.push_back({f.caption(), box.text(), box.locked, f.owner()});
        }
        user_.formShown(f, modal);
    }
    int32_t messageBox(const h::MessageBoxInfo& m) override { return user_.messageBox(m); }
    std::optional<std::string> inputBox(const std::string& p, const std::string& t, const std::string& d) override {
        return user_.inputBox(p, t, d);
    }
    std::optional<std::string> fileDialog(const h::CommonDialog& dlg, bool save) override {
        return user_.fileDialog(dlg, save);
    }
    void runModal(h::Form& f) override { user_.runModal(f); }
    void formHidden(h::Form& f) override { user_.formHidden(f); }
    void controlChanged(h::Control& c) override { user_.controlChanged(c); }
    void showErrorReport(const std::string& text) override { user_.showErrorReport(text); }
    void documentOpened(const std::string& path) override { user_.documentOpened(path); }

    std::vector<Viewed> viewed;

private:
    h::ScriptDriver& user_;
};

// A session of the shared dialog fixture with the batch command beside the
// Spatial Statistics command.
class Session : public kvtest::DialogSession {
public:
    explicit Session(bool withIni = true) : DialogSession(withIni) {
        if (withIni)
            writeIni({"; installed", "[KorvaneBatch]", "Location=" + batchFile(), "", "[Other]", "x=1"});
        h::setUi(&watch);
        holder = h::Application::instance().registry().create("Korvane.clsBatchParams");
        command = dynamic_cast<h::ICommand*>(holder.get());
        if (!command) throw std::runtime_error("Korvane.clsBatchParams is no command");
        command->OnCreate(&h::Application::instance());
    }
    ~Session() {
        holder.reset();
        h::setUi(&driver());
    }
    h::Form& openBatch() {
        command->OnClick();
        h::Form* f = driver().lastShown("frmBatch");
        if (!f) throw std::runtime_error("the dialog was not shown:\n" + transcript());
        return *f;
    }
    // The messages since the last call, as "title: text".
    std::vector<std::string> messages() {
        std::vector<std::string> all;
        for (auto& m : driver().messages) all.push_back(m.title + ": " + m.text);
        driver().messages.clear();
        return all;
    }
    static std::string box(h::Form& f) { return f.get<h::TextBox>("txtBatchFileName").text(); }
    std::vector<Viewed>& viewed() { return watch.viewed; }
    const std::vector<std::string>& errorReports() { return driver().errorReports; }

    ViewerWatch watch{driver()};
    std::unique_ptr<h::Component> holder;
    h::ICommand* command = nullptr;
};

std::string notFound(const std::string& location) {
    return "File not found: The batch file '" + location + "' could not be found.  Aborting.";
}
const char* const kNothingToDisplay = "File not found: The batch file could not be found.\r\nNothing to display.";

}  // namespace

TEST(BatchCommand, AlwaysEnabledSetsUnitsAndShowsTheLocationModeless) {
    Session s;
    EXPECT_EQ(s.command->Name(), "Batch_processing");
    EXPECT_EQ(s.command->Caption(), "Set and Run Batch Processes");
    EXPECT_TRUE(s.command->Enabled());   // an empty map as well

    h::Form& f = s.openBatch();
    EXPECT_EQ(s.messages(), std::vector<std::string>{"Setting Map Units: Map Units are unknown.\r\nSetting map units "
                                                     "to metres.\r\nSetting distance units to kilometres."});
    EXPECT_TRUE(f.visible());
    EXPECT_FALSE(f.modal());
    EXPECT_EQ(f.owner(), h::Application::instance().hWnd());
    EXPECT_EQ(f.caption(), "Korvane - Batch Processing");
    EXPECT_EQ(f.get<h::Label>("Label1").caption(), "Batch File Location:");
    EXPECT_TRUE(f.get<h::TextBox>("txtBatchFileName").locked);
    EXPECT_EQ(s.box(f), s.batchFile());
    const std::pair<const char*, const char*> buttons[] = {{"cmdChangeFile", "..."},
                                                           {"cmdClearFile", "Delete batch Contents"},
                                                           {"cmdView", "View file contents"},
                                                           {"cmdRun", "Run Batch File"}};
    for (auto [name, caption] : buttons) EXPECT_EQ(f.get<h::CommandButton>(name).caption(), caption);
    EXPECT_TRUE(s.errorReports().empty());
}

TEST(BatchDialog, ChoosingAFileStoresItAndViewClearAndRunActOnIt) {
    Session s;
    h::Form& f = s.openBatch();
    s.messages();
    const std::string installed = readAll(s.iniFile());

    // Cancelling the chooser changes nothing.
    s.act({"click cmdChangeFile", "cancel"});
    EXPECT_EQ(s.box(f), s.batchFile());
    EXPECT_EQ(readAll(s.iniFile()), installed);

    // A file that does not exist yet is taken and stored; the other lines stay.
    const std::string chosen = s.file("new.kv");
    s.act({"click cmdChangeFile", "file " + chosen});
    EXPECT_EQ(s.box(f), chosen);
    EXPECT_EQ(readAll(s.iniFile()), "; installed\r\n[KorvaneBatch]\r\nLocation=" + chosen + "\r\n\r\n[Other]\r\nx=1\r\n");
    s.act({"click cmdView", "click cmdRun", "click cmdClearFile"});
    EXPECT_EQ(s.messages(), (std::vector<std::string>{kNothingToDisplay, notFound(chosen)}));
    EXPECT_FALSE(sfs::exists(chosen));

    // Once it holds lines: view shows them read-only; a skipped line runs nothing.
    writeAll(chosen, "Note first\r\nNote second");
    s.act({"click cmdView", "click cmdClose", "click cmdRun"});
    ASSERT_EQ(s.viewed().size(), 1u);
    EXPECT_EQ(s.viewed()[0].caption, "Korvane - Batch Processing");
    EXPECT_EQ(s.viewed()[0].text, "Note first\r\nNote second\r\n");
    EXPECT_TRUE(s.viewed()[0].locked);
    EXPECT_EQ(s.viewed()[0].owner, f.hWnd());

    // Emptying asks first; No keeps the file, Yes leaves zero bytes.
    s.act({"click cmdClearFile", "answer No"});
    EXPECT_EQ(readAll(chosen), "Note first\r\nNote second");
    s.act({"click cmdClearFile", "answer Yes", "click cmdView", "click cmdClose"});
    EXPECT_EQ(s.messages(),
              (std::vector<std::string>(2, "Confirm Deletion: Are you sure you want to delete everything from the "
                                           "batch file\r\n" + chosen)));
    EXPECT_TRUE(sfs::exists(chosen));
    EXPECT_EQ(sfs::file_size(chosen), 0u);
    ASSERT_EQ(s.viewed().size(), 2u);
    EXPECT_EQ(s.viewed()[1].text, "");

    // Reopened, the dialog reads the stored location again.
    s.act({"close"});
    h::Form& again = s.openBatch();
    EXPECT_EQ(s.box(again), chosen);
    EXPECT_TRUE(s.errorReports().empty()) << s.errorReports().front();
}

TEST(BatchDialog, WithoutKorvaneIniTheDialogOpensEmptyAndNothingIsCreated) {
    Session s(/*withIni=*/false);
    const std::string missing = "Missing system file: '" + s.folder() + "/Korvane.ini' could not be found.  Cannot continue.";
    h::Form& f = s.openBatch();
    auto shown = s.messages();
    ASSERT_EQ(shown.size(), 2u);   // the map units first
    EXPECT_EQ(shown[1], missing);
    EXPECT_EQ(s.box(f), "");

    // An empty location: view and run report the file missing, clear does nothing.
    s.act({"click cmdView", "click cmdClearFile", "click cmdRun"});
    EXPECT_EQ(s.messages(), (std::vector<std::string>{kNothingToDisplay, notFound("")}));

    // The chosen file holds while the dialog stays loaded but is not stored.
    const std::string chosen = s.file("kept.kv");
    writeAll(chosen, "");
    s.act({"click cmdChangeFile", "file " + chosen, "click cmdView", "click cmdClose"});
    EXPECT_EQ(s.messages(), std::vector<std::string>{missing});
    EXPECT_EQ(s.box(f), chosen);
    EXPECT_EQ(s.viewed().size(), 1u);
    EXPECT_FALSE(sfs::exists(s.iniFile()));
    s.act({"close"});
    h::Form& again = s.openBatch();
    EXPECT_EQ(s.messages(), std::vector<std::string>{missing});
    EXPECT_EQ(s.box(again), "");
    EXPECT_TRUE(s.errorReports().empty()) << s.errorReports().front();
}

TEST(BatchDialog, ALineAddedByTheStatisticsDialogReplaysItsRun) {
    Session s;
    s.addLayer(s.sampleLayer("landscape"));
    s.map()->setMapUnits(h::UnitMeters);
    const std::string table = s.file("stats.dbf");
    s.open();
    // Saved first, then run directly: the replay adds the same rows as run 2.
    s.act({"choose lstLayers landscape", "choose cboClass FORTYPE", "click cmdSelectNone", "click chkClassArea",
           "click chkNumOfPatches", "click txtOutputTableName", "file \"" + table + "\"", "click cmdBatch",
           "click cmdOK"});
    s.openBatch();
    s.act({"form frmBatch", "click cmdRun"});
    ASSERT_TRUE(s.errorReports().empty()) << s.errorReports().front();

    std::map<int, std::map<std::string, std::pair<double, double>>> runs;   // run -> class -> (CA, NumP)
    auto t = h::Table::open(table);
    h::Cursor c = t->search(nullptr, false);
    while (h::RowPtr r = c.next())
        runs[static_cast<int>(h::toDouble(r->value("Run")))][h::toText(r->value("Class"))] = {
            h::toDouble(r->value("CA")), h::toDouble(r->value("NumP"))};
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1].size(), 6u);
    EXPECT_EQ(runs[2], runs[1]);
}
