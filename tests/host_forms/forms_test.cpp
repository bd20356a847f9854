// Headless forms and the scripted driver: the behaviour the dialogs rely on.
#include <gtest/gtest.h>

#include <sstream>

#include "host/Application.h"
#include "host/Failure.h"
#include "host/Forms.h"
#include "host/Ui.h"

namespace h = korvane::host;

namespace {
struct Ui {
    std::ostringstream out;
    h::ScriptDriver driver{out};
    Ui() {
        driver.echoForms = false;
        h::setUi(&driver);
    }
    ~Ui() { h::setUi(nullptr); }
};

class Sample : public h::Form {
public:
    Sample() : h::Form("frmSample") {}
    int loads = 0, activations = 0, clicks = 0;
    bool refuseUnload = false;
    std::vector<std::string> log;

protected:
    void design() override {
        setCaption("Sample");
        auto& name = add<h::TextBox>("txtName");
        name.onValidate = [this](bool& cancel) {
            cancel = get<h::TextBox>("txtName").text().size() > 8;
            if (cancel) log.push_back("refused");
        };
        add<h::Frame>("fraA");
        auto& a1 = add<h::OptionButton>("optA1");
        auto& a2 = add<h::OptionButton>("optA2");
        a1.setContainer(&get<h::Frame>("fraA"));
        a2.setContainer(&get<h::Frame>("fraA"));
        add<h::OptionButton>("optB1");
        auto& list = add<h::ComboBox>("cboList");
        list.style = h::ComboStyle::DropDownList;
        list.addItem("Pine");
        list.addItem("Birch");
        auto& ok = add<h::CommandButton>("cmdOK");
        ok.isDefault = true;
        ok.onClick = [this] {
            ++clicks;
            hide();
        };
        auto& check = add<h::CheckBox>("chkX");
        check.onClick = [this] { log.push_back("check"); };
    }
    void Form_Load() override { ++loads; }
    void Form_Activate() override { ++activations; }
    void Form_Unload(int& cancel) override { cancel = refuseUnload; }
};
}  // namespace

TEST(Forms, UnloadedFormReloadsWithItsDesignStateOnAccess) {
    Ui ui;
    Sample f;
    f.get<h::TextBox>("txtName").setText("changed");
    EXPECT_EQ(f.loads, 1);
    EXPECT_TRUE(f.unload());
    EXPECT_FALSE(f.loaded());
    EXPECT_EQ(f.get<h::TextBox>("txtName").text(), "");
    EXPECT_EQ(f.loads, 2);
    f.refuseUnload = true;
    EXPECT_FALSE(f.unload());
    EXPECT_TRUE(f.loaded());
}

TEST(Forms, OptionButtonsAreExclusiveWithinTheirContainer) {
    Ui ui;
    Sample f;
    f.get<h::OptionButton>("optB1").setValue(true);
    f.get<h::OptionButton>("optA1").setValue(true);
    f.get<h::OptionButton>("optA2").setValue(true);
    EXPECT_FALSE(f.get<h::OptionButton>("optA1").value());
    EXPECT_TRUE(f.get<h::OptionButton>("optA2").value());
    EXPECT_TRUE(f.get<h::OptionButton>("optB1").value());   // another container
}

TEST(Forms, DropDownListTakesOnlyItsEntries) {
    Ui ui;
    Sample f;
    auto& c = f.get<h::ComboBox>("cboList");
    c.setText("Birch");
    EXPECT_EQ(c.listIndex(), 1);
    EXPECT_THROW(c.setText("Oak"), h::Failure);
    EXPECT_EQ(c.text(), "Birch");
    c.setText("");
    EXPECT_EQ(c.listIndex(), -1);
}

TEST(Forms, ProgressBarRefusesValuesOutsideItsRange) {
    Ui ui;
    Sample f;
    auto& bar = f.get<h::CheckBox>("chkX");
    (void)bar;
    struct P : h::Form {
        P() : h::Form("frmP") {}
        void design() override { add<h::ProgressBar>("progBar"); }
    } p;
    auto& pb = p.get<h::ProgressBar>("progBar");
    pb.setMax(10);
    pb.setValue(3);
    EXPECT_EQ(pb.value(), 3.0f);
    EXPECT_THROW(pb.setValue(11), h::Failure);
}

TEST(ScriptDriver, DrivesAModalFormAndAnswersMessageBoxes) {
    Ui ui;
    Sample f;
    f.get<h::CommandButton>("cmdOK").onClick = [&] {
        int a = h::MsgBox("Overwrite?", h::mb::YesNo | h::mb::Question, "Confirm");
        if (a == h::mb::Yes) f.hide();
    };
    ui.driver.addLines({"# a comment", "set txtName \"Red Pine\"", "click chkX", "click cmdOK", "answer No",
                        "click cmdOK", "answer Yes", "set txtName never"});
    f.show(true);
    EXPECT_FALSE(f.visible());
    EXPECT_EQ(f.get<h::TextBox>("txtName").text(), "Red Pine");
    EXPECT_TRUE(f.get<h::CheckBox>("chkX").checked());
    ASSERT_EQ(ui.driver.messages.size(), 2u);
    EXPECT_EQ(ui.driver.messages[0].title, "Confirm");
    EXPECT_FALSE(ui.driver.exhausted());   // the last line was left for whoever comes next
}

TEST(ScriptDriver, ValidationKeepsTheFocusButEnterPressesTheDefaultButton) {
    Ui ui;
    Sample f;
    ui.driver.addLines({"set txtName TooLongName", "click cmdOK", "enter"});
    f.show(true);
    EXPECT_EQ(f.log, std::vector<std::string>{"refused"});
    EXPECT_EQ(f.clicks, 1);   // only Enter reached the button
}

TEST(ScriptDriver, ClosesAModalFormWhenTheScriptRunsOut) {
    Ui ui;
    Sample f;
    f.show(true);
    EXPECT_FALSE(f.loaded());
    EXPECT_NE(ui.out.str().find("no more input"), std::string::npos);
}

TEST(ScriptDriver, UnansweredMessageBoxTakesItsDefaultButton) {
    Ui ui;
    EXPECT_EQ(h::MsgBox("Continue?", h::mb::YesNoCancel | h::mb::DefaultButton2, "T"), h::mb::No);
    EXPECT_EQ(h::MsgBox("Note", h::mb::OKOnly, ""), h::mb::OK);
    EXPECT_EQ(ui.driver.messages[1].title, h::Application::instance().caption());
}

TEST(ScriptDriver, SplitsScriptLines) {
    EXPECT_EQ(h::splitScriptLine("set txt \"a \"\"b\"\" c\" x"),
              (std::vector<std::string>{"set", "txt", "a \"b\" c", "x"}));
    EXPECT_EQ(h::splitScriptLine("set t \"\""), (std::vector<std::string>{"set", "t", ""}));
}
