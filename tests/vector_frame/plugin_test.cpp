// The host loads the vector library from its folder and creates its classes
// by identifier; the library finds its companion files beside itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/Application.h"
#include "host/Failure.h"
#include "host/System.h"
#include "TestUi.h"

namespace h = korvane::host;
namespace sfs = std::filesystem;

namespace {
// A private copy of the library in a folder whose name holds blanks.
sfs::path copyLibrary(const std::string& tag) {
    auto dir = sfs::temp_directory_path() / ("kv plugin " + tag + " " + std::to_string(::getpid()));
    sfs::remove_all(dir);
    sfs::create_directories(dir);
    sfs::copy_file(KV_VECTOR_LIBRARY, dir / "libKorvane93.so");
    return dir;
}

h::ICommand* create(std::unique_ptr<h::Component>& holder, const std::string& id) {
    holder = h::Application::instance().registry().create(id);
    auto* cmd = dynamic_cast<h::ICommand*>(holder.get());
    if (cmd) cmd->OnCreate(&h::Application::instance());
    return cmd;
}
}  // namespace

TEST(Plugin, HelpOpensThePageBesideTheLibraryOrReportsItsAbsence) {
    TestUi ui;
    h::Shell::setOpener("");   // record only; no desktop here
    auto dir = copyLibrary("help");
    auto& app = h::Application::instance();
    auto loaded = app.loadLibraries(dir.string());
    ASSERT_EQ(loaded, std::vector<std::string>{"libKorvane93.so"});
    EXPECT_EQ(app.libraryFolder("Korvane93"), dir.string());
    for (const char* id : {"Korvane.clsKorvaneMenu", "Korvane.clsAboutKorvane", "Korvane.clsKorvaneHelp"})
        EXPECT_TRUE(app.registry().has(id)) << id;

    std::unique_ptr<h::Component> holder;
    h::ICommand* help = create(holder, "Korvane.clsKorvaneHelp");
    ASSERT_NE(help, nullptr);
    help->OnClick();   // no page yet
    ASSERT_EQ(ui.driver.errorReports.size(), 1u);
    EXPECT_NE(ui.driver.errorReports[0].find("\tICommand_OnClick Classes/clsKorvaneHelp Line : "), std::string::npos);
    EXPECT_TRUE(ui.driver.openedDocuments.empty());

    std::ofstream(dir / "kv_help.html") << "<html></html>";
    help->OnClick();
    EXPECT_EQ(ui.driver.errorReports.size(), 1u);
    EXPECT_EQ(ui.driver.openedDocuments, std::vector<std::string>{(dir / "kv_help.html").string()});
    holder.reset();
    sfs::remove_all(dir);
}

TEST(Shell, SplitsQuotedWordsAndReturnsExitCodes) {
    EXPECT_EQ(h::splitCommandLine("\"/a b/prog\" x \"y z\"  w"),
              (std::vector<std::string>{"/a b/prog", "x", "y z", "w"}));
    h::Shell shell;
    EXPECT_EQ(shell.Run("sh -c \"exit 7\"", 1, true), 7);
    EXPECT_EQ(shell.Run("true", 1, true), 0);
    EXPECT_THROW(shell.Run("\"/no/such/program here\"", 1, true), h::Failure);
}
