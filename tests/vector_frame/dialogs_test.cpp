// The shared small dialogs: list choice, multiple choice, text viewer and
// progress window, driven as a user would.
#include <gtest/gtest.h>

#include "shared/frmProgress.h"
#include "shared/modSimpleInput.h"
#include "vector/Forms/frmMultiLineDisplay.h"
#include "vector/Modules/modSimpleInput.h"
#include "TestUi.h"

namespace h = korvane::host;

TEST(ListInput, ReturnsTheChosenEntryOrNothingOnCancel) {
    struct Case {
        std::vector<std::string> script;
        std::string expected;
    } cases[] = {
        {{"choose lstDataSet Perimeter", "click OKButton"}, "Perimeter"},
        {{"choose lstDataSet Perimeter", "click CancelButton"}, ""},
        {{"click OKButton"}, ""},
        {{"set lstDataSet Elsewhere", "click OKButton"}, "Elsewhere"},
    };
    for (auto& c : cases) {
        TestUi ui;
        ui.driver.addLines(c.script);
        EXPECT_EQ(kv::ListInput("Pick a field", {"Area", "Perimeter", "Class"}, "Fields"), c.expected);
        EXPECT_TRUE(ui.driver.errorReports.empty());
    }
}

TEST(ListInput, ShowsTheTitleAndPrompt) {
    TestUi ui;
    ui.driver.echoForms = true;
    ui.driver.addLines({"click OKButton"});
    kv::ListInput("Choose one", {"a"}, "");
    EXPECT_NE(ui.out.str().find("[frmDropdownInputBox] \n"), std::string::npos);
    EXPECT_NE(ui.out.str().find("\"Choose one\""), std::string::npos);
}

TEST(MultiChoiceListInput, SelectedEntriesInListOrderAndNothingOnCancel) {
    const std::vector<std::string> items{"one", "two", "three", "four", "five"};
    {
        TestUi ui;
        ui.driver.addLines({"select lstDataSet four two", "click OKButton"});
        EXPECT_EQ(kv::MultiChoiceListInput("Pick", items, "T"), (std::vector<std::string>{"two", "four"}));
    }
    {
        TestUi ui;
        ui.driver.addLines({"click OKButton"});
        EXPECT_TRUE(kv::MultiChoiceListInput("Pick", items, "T").empty());
    }
    {
        TestUi ui;
        ui.driver.addLines({"select lstDataSet two", "click CancelButton"});
        EXPECT_TRUE(kv::MultiChoiceListInput("Pick", items, "T").empty());
    }
}

// Closed from its box, or left open by a script that ends, a chooser is
// unloaded while it is shown: both choosers answer nothing, without a report.
TEST(ListChoosers, ClosedWithoutAnAnswerGiveNothing) {
    const std::vector<std::string> items{"one", "two", "three"};
    const std::vector<std::vector<std::string>> scripts = {
        {"close"}, {"choose lstDataSet two", "close"}, {}, {"choose lstDataSet two"}};
    for (const auto& script : scripts) {
        std::string line = script.empty() ? "(no line)" : script.back();
        {
            TestUi ui;
            ui.driver.addLines(script);
            EXPECT_EQ(kv::ListInput("Pick", items, "T"), "") << line;
            EXPECT_TRUE(ui.driver.errorReports.empty()) << line << ": " << ui.driver.errorReports.front();
        }
        {
            TestUi ui;
            std::vector<std::string> multi = script;
            for (auto& l : multi)
                if (l.rfind("choose ", 0) == 0) l = "select lstDataSet two three";
            ui.driver.addLines(multi);
            EXPECT_TRUE(kv::MultiChoiceListInput("Pick", items, "T").empty()) << line;
            EXPECT_TRUE(ui.driver.errorReports.empty()) << line << ": " << ui.driver.errorReports.front();
        }
    }
}

TEST(MultiLineDisplay, CloseButtonStaysInTheCornerAsTheWindowGrows) {
    TestUi ui;
    kv::frmMultiLineDisplay f;
    f.load();
    f.resize(9000, 7000);
    auto& close = f.get<h::CommandButton>("cmdClose");
    auto& txt = f.get<h::TextBox>("txtDisplay");
    EXPECT_EQ(close.left, 9000 - 285 - close.width);
    EXPECT_EQ(close.top, 7000 - 555 - close.height);
    EXPECT_EQ(txt.height, 7000 - 150 - 555);
    EXPECT_EQ(txt.width, close.left - 120 - 195);
    f.resize(100, 100);
    EXPECT_EQ(txt.width, 0);
    EXPECT_EQ(txt.height, 0);
    EXPECT_EQ(f.caption(), "multiLineDisplay");
}

TEST(Progress, ValueReadsBackAndRepaintsAtOnce) {
    TestUi ui;
    std::ostringstream progress;
    ui.driver.progressOut = &progress;
    kv::frmProgress p;
    p.show(false);
    EXPECT_EQ(p.caption(), "Processing Progress");
    EXPECT_EQ(p.lblProgress().caption(), "Process Progess");
    p.lblProgress().setCaption("Reading patches");
    p.setMax(10);
    p.setValue(0);
    p.setValue(p.Value() + 3);
    EXPECT_EQ(p.Value(), 3);
    EXPECT_EQ(progress.str(), "Reading patches\n0...10...20...30");
    for (int i = 4; i <= 10; ++i) p.setValue(i);
    EXPECT_EQ(progress.str(), "Reading patches\n0...10...20...30...40...50...60...70...80...90...100 - done.\n");
    p.setValue(11);   // beyond the maximum: reported, the work goes on
    EXPECT_EQ(ui.driver.errorReports.size(), 1u);
    EXPECT_EQ(p.Value(), 10);
}
