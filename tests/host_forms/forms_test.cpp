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

TEST(PrintableText, ControlCharactersAreEscapedAndTextIsKept) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"plain text, 1.5 ha", "plain text, 1.5 ha"},
        {"tab\tcr\rlf\nbell\a", "tab\\tcr\\rlf\\nbell\\x07"},
        {"\x1b[2Jclear", "\\x1b[2Jclear"},
        {"del\x7f", "del\\x7f"},
        {"\xc2\x9b" "31m", "\\u009b31m"},              // C1 control (CSI) in UTF-8
        {"lone \x9b byte", "lone \\x9b byte"},         // not UTF-8
        {"cut \xc3", "cut \\xc3"},                     // a sequence cut short
        {"\xc3\xa9pinette \xe2\x80\x94 \xf0\x9f\x8c\xb2", "\xc3\xa9pinette \xe2\x80\x94 \xf0\x9f\x8c\xb2"},
    };
    for (const Case& c : cases) EXPECT_EQ(h::escapeControls(c.in), c.out) << c.out;
    EXPECT_EQ(h::printableLines("one\r\ntwo\x1b\nthree"), (std::vector<std::string>{"one", "two\\x1b", "three"}));
    EXPECT_EQ(h::printableLines(""), std::vector<std::string>{""});
}

TEST(ScriptDriver, AScriptLineThatCannotRunStopsTheScriptAndNamesIt) {
    Ui ui;
    Sample f;
    ui.driver.addLines({"set chkX 1", "set chkX banana", "click cmdOK"});
    f.show(true);
    ASSERT_TRUE(ui.driver.scriptError.has_value()) << ui.out.str();
    EXPECT_EQ(*ui.driver.scriptError,
              "script line 2 (\"set chkX banana\"): chkX takes 1 or 0 (checked or not), not \"banana\"; the "
              "script stops there");
    EXPECT_EQ(f.log, std::vector<std::string>{"check"});
    EXPECT_EQ(f.clicks, 0);   // the line after it never ran
    EXPECT_FALSE(f.visible());
}
