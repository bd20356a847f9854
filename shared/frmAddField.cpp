#include "shared/frmAddField.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "host/Failure.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"

KV_MODULE("Forms/frmAddField");

namespace kv {

namespace h = korvane::host;

namespace {
struct TypeEntry {
    const char* text;
    int32_t code;
};
constexpr TypeEntry kTypes[] = {{"Short Integer", 0}, {"Long Integer", 1}, {"Float", 2},
                                {"Double", 3},        {"Text", 4},         {"Date", 5}};

// A text converted to a 16-bit integer as the runtime does: a number in
// range, fractions rounded half to even; anything else fails.
// Only a decimal number: blanks, a sign, digits with one point, an exponent.
// strtod would also take "nan", "inf" and C hexadecimal forms.
bool decimalNumber(const std::string& text) {
    size_t i = 0, n = text.size();
    while (i < n && text[i] == ' ') ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        size_t exp = 0;
        while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++exp;
        if (exp == 0) return false;
    }
    while (i < n && text[i] == ' ') ++i;
    return i == n;
}

int16_t toInteger16(const std::string& text) {
    if (!decimalNumber(text)) h::fail(h::err::TypeMismatch, "Korvane", "Type mismatch");
    const char* s = text.c_str();
    char* end = nullptr;
    double v = std::strtod(s, &end);
    while (end && *end == ' ') ++end;
    if (text.find_first_not_of(' ') == std::string::npos || !end || *end != '\0')
        h::fail(h::err::TypeMismatch, "Korvane", "Type mismatch");
    double r = std::nearbyint(v);
    if (!(r >= -32768 && r <= 32767)) h::fail(h::err::Overflow, "Korvane", "Overflow");
    return static_cast<int16_t>(r);
}
}  // namespace

void frmAddField::design() {
    setCaption("New Field Definition");
    width = 4350;
    height = 3090;
    auto& l1 = add<h::Label>("Label1");
    l1.setCaption("Field Name:");
    l1.move(120, 180, 1335, 255);
    auto& name = add<h::TextBox>("txtFieldName");
    name.move(1560, 120, 2535, 315);
    name.onValidate = [this](bool& cancel) { txtFieldName_Validate(cancel); };
    auto& l2 = add<h::Label>("Label2");
    l2.setCaption("Type:");
    l2.move(120, 660, 1335, 255);
    auto& type = add<h::ComboBox>("cboFieldType");
    type.style = h::ComboStyle::DropDownList;
    type.move(1560, 600, 2535, 315);
    type.onClick = [this] { cboFieldType_Click(); };
    auto& l3 = add<h::Label>("Label3");
    l3.setCaption("Width:");
    l3.move(120, 1140, 1335, 255);
    auto& w = add<h::TextBox>("txtWidth");
    w.move(1560, 1080, 975, 315);
    auto& l4 = add<h::Label>("Label4");
    l4.setCaption("Decimal Places:");
    l4.move(120, 1620, 1335, 255);
    auto& d = add<h::TextBox>("txtDecimalPlaces");
    d.move(1560, 1560, 975, 315);
    auto& ok = add<h::CommandButton>("cmdOK");
    ok.setCaption("OK");
    ok.move(1680, 2160, 1095, 375);
    ok.isDefault = true;
    ok.onClick = [this] { cmdOK_Click(); };
    auto& cancel = add<h::CommandButton>("cmdCancel");
    cancel.setCaption("Cancel");
    cancel.move(3000, 2160, 1095, 375);
    cancel.isCancel = true;
    cancel.causesValidation = false;
    cancel.onClick = [this] { cmdCancel_Click(); };
}

void frmAddField::Form_Load() {
    KV_PROCEDURE("Form_Load", TopLevel).run([&] {
        KV_LINE;
        auto& type = get<h::ComboBox>("cboFieldType");
        for (auto& t : kTypes) type.addItem(t.text);
        KV_LINE;
        type.setListIndex(0);
        KV_LINE;
        get<h::TextBox>("txtFieldName").setText("");
        get<h::TextBox>("txtWidth").setText("0");
        get<h::TextBox>("txtDecimalPlaces").setText("0");
    });
}

void frmAddField::Form_Activate() {
    KV_PROCEDURE("Form_Activate", TopLevel).run([&] {
        KV_LINE;
        if (!layer_) {
            KV_LINE;
            MsgBox("Target Layer not specified.  Cannot continue", h::mb::Critical, "Error in Adding Field");
            KV_LINE;
            unload();
        }
    });
}

void frmAddField::cboFieldType_Click() {
    KV_PROCEDURE("cboFieldType_Click", TopLevel).run([&] {
        KV_LINE;
        const std::string t = get<h::ComboBox>("cboFieldType").text();
        auto& width = get<h::TextBox>("txtWidth");
        auto& decimals = get<h::TextBox>("txtDecimalPlaces");
        KV_LINE;
        decimals.setEnabled(t == "Float" || t == "Double");
        if (t == "Date") {
            width.setText("0");
            width.setEnabled(false);
        } else if (t == "Text") {
            width.setText("50");
            width.setEnabled(true);
        } else {
            width.setText("0");
            width.setEnabled(true);
        }
        KV_LINE;
        get<h::Label>("Label3").setEnabled(width.enabled());
        get<h::Label>("Label4").setEnabled(decimals.enabled());
    });
}

bool frmAddField::nameIsValid() {
    const std::string name = get<h::TextBox>("txtFieldName").text();
    if (name.size() > 8) {
        MsgBox("Fieldname cannot be longer than 8 characters", h::mb::OKOnly);
        return false;
    }
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0]))) {
        MsgBox("Fieldname cannot start with a number", h::mb::OKOnly);
        return false;
    }
    return true;
}

void frmAddField::txtFieldName_Validate(bool& cancel) {
    KV_PROCEDURE("txtFieldName_Validate", TopLevel).run([&] {
        KV_LINE;
        cancel = !nameIsValid();
    });
}

void frmAddField::cmdOK_Click() {
    KV_PROCEDURE("cmdOK_Click", TopLevel).run([&] {
        KV_LINE;
        const std::string name = get<h::TextBox>("txtFieldName").text();
        if (name.empty()) {
            MsgBox("No field name provided", h::mb::OKOnly, "Missing Information");
            return;
        }
        // Enter presses OK without leaving the name box: the rules are checked again.
        KV_LINE;
        if (!nameIsValid()) return;
        KV_LINE;
        const std::string typeText = get<h::ComboBox>("cboFieldType").text();
        int32_t code = -1;
        for (auto& t : kTypes)
            if (typeText == t.text) code = t.code;
        if (code < 0) {
            MsgBox("Invalid field type.  Cannot continue.", h::mb::Critical, "Bad data type");
            return;
        }
        KV_LINE;
        int16_t decimals = toInteger16(get<h::TextBox>("txtDecimalPlaces").text());
        KV_LINE;
        int16_t width = toInteger16(get<h::TextBox>("txtWidth").text());
        KV_LINE;
        if (AddField(layer_, name, width, code, decimals)) {
            KV_LINE;
            unload();
        } else {
            KV_LINE;
            MsgBox("There was an error in adding the field to the table", h::mb::Exclamation, "Field Not Added");
        }
    });
}

void frmAddField::cmdCancel_Click() {
    KV_PROCEDURE("cmdCancel_Click", TopLevel).run([&] {
        KV_LINE;
        unload();
    });
}

}  // namespace kv
