// The parameter dialog "Set Fragstats Parameters".
#include <gtest/gtest.h>

#include "host/Forms.h"
#include <filesystem>

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

TEST(GetSaveLocation, ThePathAsTypedOrNothing) {
    TestUi ui;
    ui.driver.addLines({"file /data/out/clip1.tif"});
    EXPECT_EQ(kv::GetSaveLocation(), "/data/out/clip1.tif");
    ui.driver.addLines({"cancel"});
    EXPECT_EQ(kv::GetSaveLocation(), "");
}
