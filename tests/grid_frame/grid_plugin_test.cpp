// The host loads the raster library from its folder and creates its classes
// by identifier; the help command finds its page beside the library.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "host/Application.h"
#include "host/System.h"
#include "tests/vector_frame/TestUi.h"

namespace h = korvane::host;
namespace sfs = std::filesystem;

TEST(GridPlugin, HelpOpensThePageBesideTheLibraryOrReportsItsAbsence) {
    TestUi ui;
    h::Shell::setOpener("");   // record only; no desktop here
    auto dir = sfs::temp_directory_path() / ("kv grid plugin " + std::to_string(::getpid()));
    sfs::remove_all(dir);
    sfs::create_directories(dir);
    sfs::copy_file(KV_GRID_LIBRARY, dir / "libKorvaneGrid93.so");

    auto& app = h::Application::instance();
    ASSERT_EQ(app.loadLibraries(dir.string()), std::vector<std::string>{"libKorvaneGrid93.so"});
    EXPECT_EQ(app.libraryFolder("KorvaneGrid93"), dir.string());
    for (const char* id : {"KorvaneGrid.clsKorvaneGridMenu", "KorvaneGrid.clsG_AboutKVG", "KorvaneGrid.clsG_KVHelp"})
        EXPECT_TRUE(app.registry().has(id)) << id;

    auto holder = app.registry().create("KorvaneGrid.clsG_KVHelp");
    auto* help = dynamic_cast<h::ICommand*>(holder.get());
    ASSERT_NE(help, nullptr);
    help->OnCreate(&app);
    help->OnClick();   // no page yet
    ASSERT_EQ(ui.driver.errorReports.size(), 1u);
    EXPECT_NE(ui.driver.errorReports[0].find("\tICommand_OnClick Classes/clsG_KVHelp Line : "), std::string::npos);
    EXPECT_TRUE(ui.driver.openedDocuments.empty());

    std::ofstream(dir / "kv_help.html") << "<html></html>";
    help->OnClick();
    EXPECT_EQ(ui.driver.errorReports.size(), 1u);
    EXPECT_EQ(ui.driver.openedDocuments, std::vector<std::string>{(dir / "kv_help.html").string()});
    holder.reset();
    sfs::remove_all(dir);
}
