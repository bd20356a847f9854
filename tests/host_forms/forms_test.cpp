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
        list.addItem("Jack Pine");
        auto& ok = add<h::CommandButton>("cmdOK");
        ok.isDefault = true;
        ok.onClick = [this] {
            ++clicks;
            hide();
        };
        auto& check = add<h::CheckBox>("chkX");
        check.onClick = [this] { log.push_back("check"); };
        auto& apply = add<h::CommandButton>("cmdApply");
        apply.setEnabled(false);
        apply.onClick = [this] { log.push_back("apply"); };
        add<h::TextBox>("txtHidden").setVisible(false);
        // Asks until the answer is a distance, as the attribute tools do.
        add<h::CommandButton>("cmdAsk").onClick = [this] {
            for (std::string a = h::InputBox("Distance?", "Mean", "2000");; a = h::InputBox("Distance?", "Mean", "2000")) {
                if (a.empty()) return log.push_back("cancelled");
                if (a[0] != '-') return log.push_back("distance " + a);
                h::MsgBox("The distance must not be negative.", h::mb::Exclamation, "Bad Data Type");
            }
        };
    }
    void Form_Load() override { ++loads; }
    void Form_Activate() override { ++activations; }
    void Form_Unload(int& cancel) override {
        cancel = refuseUnload;
        unloadedName = get<h::TextBox>("txtName").text();
        unloadedList = get<h::ComboBox>("cboList").text();
    }

public:
    std::string unloadedName, unloadedList;   // as the form was when it unloaded
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

// Each rule of a form script: the lines, the error that stops the script
// (empty: none) and what the form was left with.
TEST(ScriptDriver, ScriptRulesTable) {
    struct Case {
        std::vector<std::string> lines;
        std::string error;   // the script error after "script line N (...): ", without "; the script stops there"
        std::string name = {}, list = {};
        std::vector<std::string> log = {};
    } cases[] = {
        // set and choose take the rest of the line; quotes keep their meaning
        {{"set txtName Red Pine"}, "", "Red Pine"},
        {{"set txtName [A] >  1   "}, "", "[A] >  1"},
        {{"set txtName \"Red \"\"Pine\"\"\"   "}, "", "Red \"Pine\""},
        {{"set txtName \"two\\nlines\""}, "", "two\r\nlines"},
        {{"set txtName it's \"quoted\" here"}, "", "it's \"quoted\" here"},
        {{"set txtName \"\""}, "", ""},
        {{"choose cboList Jack Pine"}, "", "", "Jack Pine"},
        {{"choose cboList \"Jack Pine\""}, "", "", "Jack Pine"},
        {{"set txtName \"Red\" Pine"}, "line 1 (\"set txtName \"Red\" Pine\"): \"Pine\" follows the closing quote of "
                                        "the value (quote the whole value, writing \"\" for a quote inside it)"},
        {{"set txtName \"Red Pine"}, "line 1 (\"set txtName \"Red Pine\"): the quote that starts the value is not closed"},
        {{"choose cboList Jack"}, "line 1 (\"choose cboList Jack\"): cboList has no entry \"Jack\""},
        // words left over by an action of fixed words
        {{"click chkX twice"}, "line 1 (\"click chkX twice\"): \"click\" takes one word (quote a name with blanks); "
                               "\"twice\" is left over"},
        {{"show all"}, "line 1 (\"show all\"): \"show\" takes nothing after it; \"all\" is left over"},
        {{"click \"chk X"}, "line 1 (\"click \"chk X\"): a quote is not closed"},
        // controls that cannot be used
        {{"click cmdApply", "click chkX"}, "line 1 (\"click cmdApply\"): cmdApply is disabled"},
        {{"set txtHidden x"}, "line 1 (\"set txtHidden x\"): txtHidden is not shown"},
        {{"check chkX", "uncheck chkX", "check chkX"}, "", "", "", {"check", "check", "check"}},
        // answers that nothing asks for
        {{"answer Yes"}, "line 1 (\"answer Yes\"): nothing asks for \"answer\": no message box is open"},
        {{"file out.dbf"}, "line 1 (\"file out.dbf\"): nothing asks for \"file\": no file dialog is open"},
        {{"input 5"}, "line 1 (\"input 5\"): nothing asks for \"input\": no input box is open"},
        {{"cancel"}, "line 1 (\"cancel\"): nothing asks for \"cancel\": no file dialog or input box is open"},
        {{"click cmdOK", "answer Yes"}, "line 2 (\"answer Yes\"): nothing asks for \"answer\": the command has ended"},
        {{"click cmdOK", "click chkX"},
         "line 2 (\"click chkX\"): the command has ended, and no dialog is open to carry it out"},
        // an input box asked again after a refusal
        {{"click cmdAsk", "input 50"}, "", "", "", {"distance 50"}},
        {{"click cmdAsk"}, "", "", "", {"distance 2000"}},   // asked once: its default
        {{"click cmdAsk", "input -100", "input 70 m"}, "", "", "", {"distance 70 m"}},
        {{"click cmdAsk", "input -100", "answer OK", "cancel"}, "", "", "", {"cancelled"}},
        {{"click cmdAsk", "input -100"},
         "line 2 (\"input -100\"): the input box \"Mean\" refused the answer and asks again, and no line answers it",
         "", "", {"cancelled"}},
    };
    for (const Case& c : cases) {
        Ui ui;
        Sample f;
        ui.driver.addLines(c.lines);
        f.show(true);
        ui.driver.finishScript();
        const std::string context = c.lines[0] + "\n" + ui.out.str();
        if (c.error.empty()) {
            EXPECT_FALSE(ui.driver.scriptError) << *ui.driver.scriptError << "\n" << context;
        } else {
            ASSERT_TRUE(ui.driver.scriptError) << context;
            EXPECT_EQ(*ui.driver.scriptError, "script " + c.error + "; the script stops there") << context;
        }
        const bool loaded = f.loaded();
        EXPECT_EQ(loaded ? f.get<h::TextBox>("txtName").text() : f.unloadedName, c.name) << context;
        EXPECT_EQ(loaded ? f.get<h::ComboBox>("cboList").text() : f.unloadedList, c.list)
            << context;
        if (!c.log.empty() || c.error.empty()) {
            EXPECT_EQ(f.log, c.log) << context;
        }
        EXPECT_TRUE(std::find(f.log.begin(), f.log.end(), "apply") == f.log.end()) << context;
    }
}

// At the terminal a refused answer is asked again with the same default, and
// the next line typed answers it.
TEST(ScriptDriver, AnInputBoxAskedAgainWaitsForTheTerminal) {
    Ui ui;
    Sample f;
    std::istringstream terminal("input 80\nclick cmdOK\n");
    ui.driver.addLines({"click cmdAsk", "input -1"});
    ui.driver.setInteractive(&terminal);
    f.show(true);
    EXPECT_FALSE(ui.driver.scriptError) << ui.out.str();
    EXPECT_EQ(f.log, std::vector<std::string>{"distance 80"});
}
