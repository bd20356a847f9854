// The vector menu, the fixed answers of the command frame, and the about
// and help commands.
#include <gtest/gtest.h>

#include "host/Forms.h"
#include "shared/App.h"
#include "shared/modMisc.h"
#include "vector/Classes/clsAboutKorvane.h"
#include "vector/Classes/clsKorvaneHelp.h"
#include "vector/Classes/clsKorvaneMenu.h"
#include "vector/Forms/frmAbout.h"
#include "TestUi.h"

namespace h = korvane::host;

namespace {
std::string version() {
    return std::to_string(KORVANE_VERSION_MAJOR) + "." + std::to_string(KORVANE_VERSION_MINOR) + "." +
           std::to_string(KORVANE_VERSION_REVISION);
}
}  // namespace

TEST(Menu, PositionsIdentifiersAndGroups) {
    TestUi ui;
    kv::clsKorvaneMenu menu;
    EXPECT_EQ(menu.ItemCount(), 15);
    EXPECT_EQ(menu.Caption(), "Korvane");
    EXPECT_EQ(menu.Name(), "KorvaneMenu");
    EXPECT_EQ(kv::App::Title(), "Korvane - " + version());
    const char* ids[] = {"clsDissolve",      "clsIntersect",         "clsCreateCores",   "clsCreateHex",
                         "clsAreaPerimeter", "clsFRIConversion",     "clsAttributeModelling",
                         "clsBatchParams",   "clsNeighbourhoodMean", "clsSpatialStats",  "clsRegionalAnalysis",
                         "clsKorvaneHelp",   "clsAboutKorvane"};
    for (int pos = 0; pos < 13; ++pos) {
        h::ItemDef item;
        menu.GetItemInfo(pos, item);
        EXPECT_EQ(item.id, std::string("Korvane.") + ids[pos]) << pos;
        EXPECT_EQ(item.group, pos == 4 || pos == 6 || pos == 8 || pos == 11) << pos;
    }
    for (int pos : {13, 14, 15, -1}) {
        h::ItemDef item;
        item.group = true;
        menu.GetItemInfo(pos, item);
        EXPECT_FALSE(item.id.has_value());
        EXPECT_TRUE(item.group);   // left untouched
    }
    EXPECT_TRUE(ui.driver.errorReports.empty());
}

TEST(CommandFrame, FixedAnswers) {
    TestUi ui;
    kv::clsAboutKorvane about;
    kv::clsKorvaneHelp help;
    struct Row {
        h::ICommand* cmd;
        const char* name;
        const char* caption;
    } rows[] = {{&about, "About_Korvane", "About Korvane"}, {&help, "Korvane_Help", "Korvane Help"}};
    for (auto& r : rows) {
        r.cmd->OnCreate(&h::Application::instance());
        EXPECT_EQ(r.cmd->Name(), r.name);
        EXPECT_EQ(r.cmd->Caption(), r.caption);
        EXPECT_TRUE(r.cmd->Enabled());
        EXPECT_FALSE(r.cmd->Checked());
        EXPECT_EQ(r.cmd->Tooltip(), "");
        EXPECT_EQ(r.cmd->Message(), "");
        EXPECT_EQ(r.cmd->HelpFile(), "");
        EXPECT_EQ(r.cmd->Category(), "");
        EXPECT_EQ(r.cmd->HelpContextID(), 0);
        EXPECT_EQ(r.cmd->Bitmap(), 0);
    }
    EXPECT_EQ(about.Map(), h::Application::instance().document()->focusMap());
    EXPECT_EQ(kv::App::Title(), "Korvane - " + version());
}

TEST(CommandFrame, MapWithoutHookIsReportedAndGivesNothing) {
    TestUi ui;
    kv::clsAboutKorvane about;
    EXPECT_EQ(about.Map(), nullptr);
    ASSERT_EQ(ui.driver.errorReports.size(), 1u);
    EXPECT_NE(ui.driver.errorReports[0].find("\tMap Classes/clsAboutKorvane Line : "), std::string::npos);
}

TEST(About, OpenedTwiceShowsOneVersionLineOwnedByTheHost) {
    TestUi ui;
    kv::clsAboutKorvane about;
    auto& app = h::Application::instance();
    about.OnCreate(&app);
    const std::string versionLine = "Korvane " + version() + "\r\n";
    for (int i = 0; i < 2; ++i) {
        about.OnClick();
        auto* form = about.dialog();
        ASSERT_TRUE(form->visible());
        EXPECT_FALSE(form->modal());
        EXPECT_EQ(form->owner(), app.hWnd());
        EXPECT_EQ(form->caption(), "About Korvane");
        std::string text = form->get<h::TextBox>("txtAbout").text();
        EXPECT_EQ(text.rfind(versionLine, 0), 0u);
        EXPECT_EQ(text.find(versionLine, 1), std::string::npos);
        std::string cited = "Version " + std::to_string(KORVANE_VERSION_MAJOR) + "." +
                            std::to_string(KORVANE_VERSION_MINOR) + ". ";
        EXPECT_NE(text.find(cited), std::string::npos);
        form->get<h::CommandButton>("cmdOK").click();
        EXPECT_FALSE(form->loaded());
    }
    EXPECT_TRUE(ui.driver.errorReports.empty());
}

TEST(ShowForm, ModalWhenAskedOrWhenTheHostRefusesModelessWindows) {
    TestUi ui;
    kv::frmAbout form;
    ui.driver.addLines({"click cmdOK"});
    h::Application::instance().modelessAllowed = false;
    kv::ShowForm(form, false);   // modal: the script closes it before the call returns
    EXPECT_FALSE(form.loaded());
    h::Application::instance().modelessAllowed = true;
    kv::ShowForm(form, false);
    EXPECT_TRUE(form.visible());
    EXPECT_FALSE(form.modal());
    ui.driver.addLines({"click cmdOK"});
    form.unload();
    kv::ShowForm(form, true);
    EXPECT_FALSE(form.loaded());
}
