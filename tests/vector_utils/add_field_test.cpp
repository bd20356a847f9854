// The add-field dialog, driven as a user would.
#include <gtest/gtest.h>

#include "Fixture.h"
#include "shared/frmAddField.h"
#include "shared/modMisc.h"

namespace h = korvane::host;

namespace {
struct AddFieldDialog : DataFixture {
    h::FeatureLayerPtr layer = polygons("target", {{square(0, 0, 1)}}, {"a"});
    kv::frmAddField dlg;
    void run(const std::vector<std::string>& script) {
        driver.addLines(script);
        dlg.setLayer(layer);
        kv::ShowForm(dlg, true);
    }
    const h::FieldDef* field(const std::string& name) {
        int i = layer->featureClass()->findField(name);
        return i < 0 ? nullptr : &layer->featureClass()->fields().field(i);
    }
    std::vector<std::string> texts() {
        std::vector<std::string> t;
        for (auto& m : driver.messages) t.push_back(m.text);
        return t;
    }
};
}  // namespace

TEST(AddFieldDialog, TypeRuleSetsWidthAndEnablesBoxes) {
    AddFieldDialog t;
    t.dlg.setLayer(t.layer);
    t.dlg.load();
    auto& width = t.dlg.get<h::TextBox>("txtWidth");
    auto& decimals = t.dlg.get<h::TextBox>("txtDecimalPlaces");
    auto& type = t.dlg.get<h::ComboBox>("cboFieldType");
    EXPECT_EQ(type.text(), "Short Integer");
    EXPECT_EQ(width.text(), "0");
    EXPECT_TRUE(width.enabled());
    EXPECT_FALSE(decimals.enabled());
    struct Step {
        const char* type;
        const char* width;
        bool widthOn, decimalsOn;
    } steps[] = {{"Text", "50", true, false}, {"Date", "0", false, false}, {"Double", "0", true, true},
                 {"Float", "0", true, true}, {"Long Integer", "0", true, false}};
    for (auto& s : steps) {
        type.setText(s.type);
        EXPECT_EQ(width.text(), s.width) << s.type;
        EXPECT_EQ(width.enabled(), s.widthOn) << s.type;
        EXPECT_EQ(decimals.enabled(), s.decimalsOn) << s.type;
        EXPECT_EQ(t.dlg.get<h::Label>("Label3").enabled(), s.widthOn);
        EXPECT_EQ(t.dlg.get<h::Label>("Label4").enabled(), s.decimalsOn);
    }
}

TEST(AddFieldDialog, AddsATextFieldOfWidthFifty) {
    AddFieldDialog t;
    t.run({"set txtFieldName NOTES", "choose cboFieldType Text", "click cmdOK"});
    ASSERT_NE(t.field("NOTES"), nullptr);
    EXPECT_EQ(t.field("NOTES")->length, 50);
    EXPECT_FALSE(t.dlg.loaded());
}

TEST(AddFieldDialog, NameRulesHoldWhenLeavingTheBoxAndOnEnter) {
    struct Case {
        const char* name;
        const char* message;   // nullptr: accepted
    } cases[] = {{"ABCDEFGH", nullptr},
                 {"ABCDEFGHI", "Fieldname cannot be longer than 8 characters"},
                 {"7ABC", "Fieldname cannot start with a number"}};
    for (auto& c : cases) {
        for (const char* press : {"click cmdOK", "enter"}) {
            AddFieldDialog t;
            t.run({std::string("set txtFieldName ") + c.name, press, "click cmdCancel"});
            if (c.message) {
                EXPECT_EQ(t.texts(), std::vector<std::string>{c.message}) << c.name << " " << press;
                EXPECT_EQ(t.field(c.name), nullptr);
            } else {
                EXPECT_TRUE(t.texts().empty());
                EXPECT_NE(t.field(c.name), nullptr);
            }
        }
    }
}

TEST(AddFieldDialog, MissingNameBadNumbersAndMissingLayer) {
    {
        AddFieldDialog t;
        t.run({"click cmdOK", "click cmdCancel"});
        ASSERT_EQ(t.driver.messages.size(), 1u);
        EXPECT_EQ(t.driver.messages[0].text, "No field name provided");
        EXPECT_EQ(t.driver.messages[0].title, "Missing Information");
    }
    {
        AddFieldDialog t;
        t.run({"set txtFieldName WIDE", "set txtWidth 40000", "click cmdOK", "click cmdCancel"});
        EXPECT_EQ(t.driver.errorReports.size(), 1u);   // the conversion fails; nothing is added
        EXPECT_EQ(t.field("WIDE"), nullptr);
    }
    // Forms the C conversion would take but the number boxes do not: each
    // is the conversion's Type mismatch, and nothing is added.
    for (const char* text : {"nan", "NaN", "inf", "-Infinity", "0x1A", "0X10", "1e", "."}) {
        for (const char* box : {"txtWidth", "txtDecimalPlaces"}) {
            SCOPED_TRACE(std::string(box) + " " + text);
            AddFieldDialog t;
            t.run({"set txtFieldName ODD", "choose cboFieldType Double", std::string("set ") + box + " " + text,
                   "click cmdOK", "click cmdCancel"});
            ASSERT_EQ(t.driver.errorReports.size(), 1u);
            EXPECT_NE(t.driver.errorReports[0].find("Type mismatch"), std::string::npos) << t.driver.errorReports[0];
            EXPECT_EQ(t.field("ODD"), nullptr);
        }
    }
    {
        AddFieldDialog t;
        t.run({"set txtFieldName FINE", "choose cboFieldType Double", "set txtWidth  12 ", "set txtDecimalPlaces 3",
               "click cmdOK", "click cmdCancel"});
        EXPECT_TRUE(t.driver.errorReports.empty());
        EXPECT_NE(t.field("FINE"), nullptr);
    }
    {
        AddFieldDialog t;
        t.run({"set txtFieldName CLASS", "choose cboFieldType Text", "click cmdOK", "click cmdCancel"});
        ASSERT_EQ(t.driver.messages.size(), 1u);   // the name exists: the report, then the message
        EXPECT_EQ(t.driver.messages[0].title, "Field Not Added");
        EXPECT_EQ(t.driver.errorReports.size(), 1u);
    }
    {
        TestUi ui;
        kv::frmAddField dlg;
        kv::ShowForm(dlg, true);
        ASSERT_EQ(ui.driver.messages.size(), 1u);
        EXPECT_EQ(ui.driver.messages[0].text, "Target Layer not specified.  Cannot continue");
        EXPECT_EQ(ui.driver.messages[0].title, "Error in Adding Field");
        EXPECT_FALSE(dlg.loaded());
    }
}
