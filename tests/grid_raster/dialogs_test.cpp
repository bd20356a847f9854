// The parameter dialog "Set Fragstats Parameters".
#include <gtest/gtest.h>

#include "host/Forms.h"
#include <filesystem>
#include <fstream>

#include "TestFiles.h"
#include "raster/Forms/frmAnalParams.h"
#include "raster/Modules/modSimpleInput.h"
#include "tests/vector_frame/TestUi.h"

namespace h = korvane::host;
using Texts = std::array<std::string, 4>;

TEST(frmAnalParams, OkKeepsEditsCancelReturnsToTheLoadTimeTexts) {
    TestUi ui;
    kv::frmAnalParams dlg;
    EXPECT_EQ(dlg.texts(), (Texts{"1000000", "", "1", ""}));
    EXPECT_EQ(dlg.caption(), "Set Fragstats Parameters");
    EXPECT_FALSE(dlg.CanUnload());

    dlg.show(false);
    dlg.txtMPI().setText("500");
    dlg.get<h::CommandButton>("cmdOK").click();
    EXPECT_FALSE(dlg.visible());
    EXPECT_EQ(dlg.texts()[0], "500");

    dlg.show(false);
    dlg.txtMPI().setText("700");
    dlg.txtBoundaryInfl().setText("letters");
    dlg.get<h::CommandButton>("cmdCancel").click();
    EXPECT_EQ(dlg.texts(), (Texts{"1000000", "", "1", ""}));

    // Any text is handed over as it stands.
    dlg.txtBoundaryInfl().setText("letters");
    EXPECT_EQ(dlg.texts()[2], "letters");
}

TEST(frmAnalParams, RefusesToUnloadUntilItsOwnerAllowsIt) {
    TestUi ui;
    kv::frmAnalParams dlg;
    dlg.show(false);
    dlg.txtMPI().setText("42");
    EXPECT_FALSE(dlg.unload());        // the title-bar close button
    EXPECT_TRUE(dlg.loaded());
    EXPECT_TRUE(dlg.visible());
    EXPECT_EQ(dlg.texts()[0], "42");
    dlg.unloadWithOwner();
    EXPECT_FALSE(dlg.loaded());
    // Loaded again, it starts from its design and refuses unloading again.
    EXPECT_EQ(dlg.texts()[0], "1000000");
    EXPECT_FALSE(dlg.CanUnload());
}

TEST(frmAnalParams, CancellingTheFileDialogLeavesTheBox) {
    TestUi ui;
    kv::frmAnalParams dlg;
    dlg.show(false);
    dlg.txtCWEDFilename().setText("typed.csv");
    ui.driver.addLines({"cancel"});
    dlg.txtCWEDFilename().fireClick();
    EXPECT_EQ(dlg.texts()[3], "typed.csv");
    ui.driver.addLines({"file /data/weights.csv"});
    dlg.txtCWEDFilename().fireClick();
    EXPECT_EQ(dlg.texts()[3], "/data/weights.csv");
    EXPECT_EQ(dlg.get<h::CommonDialog>("cmnDlg").filter, "CSV File|*.csv");
    dlg.unloadWithOwner();
}

TEST(GetDirectory, OpenFolderOrHighlightedSubfolderCancelAndCaption) {
    TestUi ui;
    korvane::test::TempFolder tmp;
    std::filesystem::create_directory(tmp.file("sub"));
    std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(tmp.path());
    ui.driver.addLines({"click OKButton"});
    EXPECT_EQ(kv::GetDirectory(""), tmp.path());
    ui.driver.addLines({"select Dir1 sub", "click OKButton"});
    EXPECT_EQ(kv::GetDirectory("Select Folder to Save New Grid in"), tmp.file("sub"));
    ui.driver.addLines({"click CancelButton"});
    EXPECT_EQ(kv::GetDirectory(""), "");
    // A drive that cannot be opened: reported, the lists stay where they were.
    ui.driver.addLines({"set Drive1 /no-such-drive-kv", "click OKButton"});
    EXPECT_EQ(kv::GetDirectory(""), tmp.path());
    ASSERT_FALSE(ui.driver.messages.empty());
    EXPECT_EQ(ui.driver.messages.back().text, "/no-such-drive-kv is not available.");
    EXPECT_EQ(ui.driver.messages.back().title, "Cannot Change Drive");
    EXPECT_TRUE(ui.driver.errorReports.empty());
    std::filesystem::current_path(cwd);
}

// The folder chosen comes back as a full path, however the script or the
// user named it.
TEST(GetDirectory, AFolderNamedRelativelyComesBackAsItsFullPath) {
    TestUi ui;
    korvane::test::TempFolder tmp;
    std::filesystem::create_directories(tmp.file("a/b"));
    std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(tmp.path());
    struct Case {
        std::vector<std::string> script;
        std::string want;
    } cases[] = {
        {{"set Dir1 a", "click OKButton"}, tmp.file("a")},
        {{"set Dir1 ./a/b/", "click OKButton"}, tmp.file("a/b")},
        {{"set Dir1 a/b/..", "click OKButton"}, tmp.file("a")},
        {{"set Dir1 a", "select Dir1 b", "click OKButton"}, tmp.file("a/b")},
        {{"set Dir1 .", "click OKButton"}, tmp.path()},
    };
    for (const Case& c : cases) {
        ui.driver.addLines(c.script);
        EXPECT_EQ(kv::GetDirectory(""), c.want) << c.script.front();
    }
    std::filesystem::current_path(cwd);
}

// A name that is taken, by a file or by a GRID folder, is confirmed first:
// No gives nothing, Yes and a script that does not answer give the name.
TEST(GetSaveLocation, ATakenNameIsConfirmedAlsoForAGridFolder) {
    korvane::test::TempFolder tmp;
    std::filesystem::create_directories(tmp.file("grid/grid"));
    std::ofstream(tmp.file("grid/grid/grid.tif")) << "x";
    std::ofstream(tmp.file("clip.tif")) << "x";
    struct Case {
        std::string name;
        const char* answer;   // nullptr: no line answers
        bool asked;
        bool kept;
    } cases[] = {
        {"grid", "answer No", true, false},   {"grid", "answer Yes", true, true},
        {"grid", nullptr, true, true},        {"clip.tif", "answer No", true, false},
        {"clip.tif", "answer Yes", true, true}, {"new", nullptr, false, true},
    };
    for (const Case& c : cases) {
        TestUi ui;
        std::string path = tmp.file(c.name);
        std::vector<std::string> script = {"file " + path};
        if (c.answer) script.push_back(c.answer);
        ui.driver.addLines(script);
        EXPECT_EQ(kv::GetSaveLocation(), c.kept ? path : "") << c.name << " " << (c.answer ? c.answer : "");
        ASSERT_EQ(ui.driver.messages.size(), c.asked ? 1u : 0u) << c.name;
        if (c.asked) EXPECT_EQ(ui.driver.messages[0].text, path + " already exists.\r\nDo you want to replace it?");
    }
    EXPECT_TRUE(std::filesystem::exists(tmp.file("grid/grid/grid.tif")));
}

TEST(GetSaveLocation, ThePathAsTypedOrNothing) {
    TestUi ui;
    ui.driver.addLines({"file /data/out/clip1.tif"});
    EXPECT_EQ(kv::GetSaveLocation(), "/data/out/clip1.tif");
    ui.driver.addLines({"cancel"});
    EXPECT_EQ(kv::GetSaveLocation(), "");
}
