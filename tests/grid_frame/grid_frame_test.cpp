// The raster library's menu, the frame of its command classes with the
// cached Enabled answers, and its about and help commands.
#include <gtest/gtest.h>

#include "host/Failure.h"
#include "host/Forms.h"
#include "raster/Classes/GridCommand.h"
#include "raster/Classes/clsG_AboutKVG.h"
#include "raster/Classes/clsG_KVHelp.h"
#include "raster/Classes/clsKorvaneGridMenu.h"
#include "shared/App.h"
#include "tests/vector_frame/TestUi.h"

namespace h = korvane::host;

namespace {
std::string version() {
    return std::to_string(KORVANE_VERSION_MAJOR) + "." + std::to_string(KORVANE_VERSION_MINOR) + "." +
           std::to_string(KORVANE_VERSION_REVISION);
}

// A caching command whose own test is scripted: it counts its scans and
// answers `suitable`, or fails when `scanFails`.
class clsG_Probe : public kv::GridCachingCommand {
public:
    clsG_Probe() : GridCachingCommand("Classes/clsG_Probe", "gridProbe", "Probe") {}
    void OnClick() override {}
    int scans = 0;
    bool suitable = true;
    bool scanFails = false;

protected:
    bool EnabledTest() override {
        ++scans;
        if (scanFails) h::fail(h::err::HostGeneric, "Probe", "The layers cannot be read");
        return suitable;
    }
};
}  // namespace

TEST(GridMenu, PositionsIdentifiersGroupsAndNoTitle) {
    TestUi ui;
    kv::App::SetOwnTitle("untouched");
    kv::clsKorvaneGridMenu menu;
    EXPECT_EQ(menu.ItemCount(), 10);
    EXPECT_EQ(menu.Caption(), "Korvane Grid");
    EXPECT_EQ(menu.Name(), "KorvaneGridMenu");
    const char* ids[] = {"clsG_createPatch",    "clsG_Intersect",  "clsG_Clip",   "clsG_AreaPerimeter",
                         "clsG_SpatialStats",   "clsG_RegionStats", "clsG_KVHelp", "clsG_AboutKVG"};
    for (int pos = 0; pos < 8; ++pos) {
        h::ItemDef item;
        menu.GetItemInfo(pos, item);
        EXPECT_EQ(item.id, std::string("KorvaneGrid.") + ids[pos]) << pos;
        EXPECT_EQ(item.group, pos == 1 || pos == 4 || pos == 6) << pos;
    }
    // Announced but empty positions, and positions beyond the count.
    for (int pos : {8, 9, 10, 1000000, -1, INT32_MIN}) {
        h::ItemDef item;
        item.group = true;
        menu.GetItemInfo(pos, item);
        EXPECT_FALSE(item.id.has_value()) << pos;
        EXPECT_TRUE(item.group) << pos;   // left untouched
    }
    EXPECT_EQ(kv::App::Title(), "untouched");
    EXPECT_TRUE(ui.driver.errorReports.empty());
}

TEST(GridCommandFrame, FixedAnswersAndTheLibraryTitleOnly) {
    TestUi ui;
    auto& app = h::Application::instance();
    app.setCaption("Host window");
    kv::clsG_AboutKVG about;
    kv::clsG_KVHelp help;
    EXPECT_EQ(kv::App::Title(), "Korvane Grid - " + version());
    EXPECT_EQ(app.caption(), "Host window");
    struct Row {
        kv::GridCommand* cmd;
        const char* name;
        const char* caption;
    } rows[] = {{&about, "gridAbout", "About Korvane for Grids"}, {&help, "kvHelp", "Korvane Help"}};
    for (auto& r : rows) {
        SCOPED_TRACE(r.name);
        r.cmd->OnCreate(&app);
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
        EXPECT_EQ(r.cmd->Map(), app.document()->focusMap());
    }
    EXPECT_TRUE(ui.driver.errorReports.empty());
}

TEST(GridCommandFrame, MapAndAboutClickBeforeOnCreateAreReported) {
    TestUi ui;
    kv::clsG_KVHelp help;
    EXPECT_EQ(help.Map(), nullptr);
    kv::clsG_AboutKVG about;
    about.OnClick();
    ASSERT_EQ(ui.driver.errorReports.size(), 2u);
    EXPECT_NE(ui.driver.errorReports[0].find("\tMap Classes/clsG_KVHelp Line : "), std::string::npos);
    EXPECT_NE(ui.driver.errorReports[1].find("\tICommand_OnClick Classes/clsG_AboutKVG Line : "), std::string::npos);
    EXPECT_EQ(about.form(), nullptr);
}

TEST(GridCachingCommand, AnswersFromTheCacheUnlessTheLayersChanged) {
    TestUi ui;
    auto& app = h::Application::instance();
    kv::clsG_AboutKVG about;
    about.OnCreate(&app);
    kv::SetMapLayersChanged(false);   // as loaded
    clsG_Probe probe;
    probe.OnCreate(&app);

    // Created after load: False, whatever the map holds, and the map is not looked at.
    EXPECT_FALSE(probe.Enabled());
    EXPECT_EQ(probe.scans, 0);

    // While the flag is set every question rescans; the command leaves the flag set.
    kv::SetMapLayersChanged(true);
    EXPECT_TRUE(probe.Enabled());
    EXPECT_TRUE(probe.Enabled());
    EXPECT_EQ(probe.scans, 2);
    EXPECT_TRUE(kv::MapLayersChanged());

    // The about command clears it; a change that raises no event goes unseen.
    EXPECT_TRUE(about.Enabled());
    EXPECT_FALSE(kv::MapLayersChanged());
    probe.suitable = false;
    EXPECT_TRUE(probe.Enabled());
    EXPECT_EQ(probe.scans, 2);

    // OnCreate forgets the stored answer.
    probe.OnCreate(&app);
    EXPECT_FALSE(probe.Enabled());

    // A failing scan is reported, answers False and leaves False stored.
    probe.suitable = true;
    kv::SetMapLayersChanged(true);
    EXPECT_TRUE(probe.Enabled());
    probe.scanFails = true;
    EXPECT_FALSE(probe.Enabled());
    ASSERT_EQ(ui.driver.errorReports.size(), 1u);
    EXPECT_NE(ui.driver.errorReports[0].find("\tICommand_Enabled Classes/clsG_Probe Line : "), std::string::npos);
    EXPECT_NE(ui.driver.errorReports[0].find("The layers cannot be read"), std::string::npos);
    about.Enabled();
    EXPECT_FALSE(probe.Enabled());
    EXPECT_EQ(probe.scans, 4);
}

TEST(GridAbout, EnabledWithAnEmptyMapClearsTheFlagWhateverItWas) {
    TestUi ui;
    kv::clsG_AboutKVG about;
    about.OnCreate(&h::Application::instance());
    ASSERT_EQ(about.Map()->layerCount(), 0);
    for (bool before : {true, false}) {
        kv::SetMapLayersChanged(before);
        EXPECT_TRUE(about.Enabled());
        EXPECT_FALSE(kv::MapLayersChanged());
    }
}

TEST(GridAbout, ShownTwiceWithItsTextBuiltAfreshOwnedByTheHost) {
    TestUi ui;
    auto& app = h::Application::instance();
    kv::clsG_AboutKVG about;
    about.OnCreate(&app);
    kv::frmGridAbout* form = about.form();
    ASSERT_NE(form, nullptr);
    const std::string versionLine = "Korvane Grid " + version() + "\r\n";
    const std::string cited = "Version " + std::to_string(KORVANE_VERSION_MAJOR) + "." +
                              std::to_string(KORVANE_VERSION_MINOR) + ". ";
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        about.OnClick();
        about.OnClick();   // a click while it is open shows the same window
        EXPECT_EQ(about.form(), form);
        ASSERT_TRUE(form->visible());
        EXPECT_FALSE(form->modal());
        EXPECT_EQ(form->owner(), app.hWnd());
        EXPECT_EQ(form->caption(), "About Korvane for Grids");
        std::string text = form->get<h::TextBox>("txtAbout").text();
        EXPECT_EQ(text.rfind(versionLine, 0), 0u);
        EXPECT_EQ(text.find(versionLine, 1), std::string::npos);
        EXPECT_NE(text.find(cited), std::string::npos);
        EXPECT_EQ(text.find("Version 4. "), std::string::npos);
        form->get<h::CommandButton>("cmdOK").click();
        EXPECT_FALSE(form->loaded());
    }
    EXPECT_TRUE(ui.driver.errorReports.empty());
}
