#include "shared/modSimpleInput.h"
#include <functional>

#include "host/Failure.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"

namespace kv {

namespace h = korvane::host;

// A list dialog reads its entries with a 16-bit index.
static void checkListSize(size_t n) {
    if (n > 32767) h::fail(h::err::Overflow, "Korvane", "Overflow");
}

namespace {
void layoutListDialog(KorvaneForm& f, h::Control& list, std::function<void()> ok, std::function<void()> cancel) {
    f.width = 4680;
    f.height = 3195;
    auto& label = f.get<h::Label>("lblDescription");
    label.move(120, 120, 4335, 495);
    list.move(120, 720, 4335, 1575);
    auto& okb = f.get<h::CommandButton>("OKButton");
    okb.setCaption("OK");
    okb.move(2040, 2400, 1095, 375);
    okb.isDefault = true;
    okb.onClick = std::move(ok);
    auto& cb = f.get<h::CommandButton>("CancelButton");
    cb.setCaption("Cancel");
    cb.move(3360, 2400, 1095, 375);
    cb.isCancel = true;
    cb.onClick = std::move(cancel);
}
}  // namespace

// ---- frmDropdownInputBox ----------------------------------------------------

void frmDropdownInputBox::design() {
    add<h::Label>("lblDescription");
    auto& list = add<h::ComboBox>("lstDataSet");
    add<h::CommandButton>("OKButton");
    add<h::CommandButton>("CancelButton");
    layoutListDialog(*this, list, [this] { OKButton_Click(); }, [this] { CancelButton_Click(); });
}

void frmDropdownInputBox::Form_Load() {
    KV_MODULE("Forms/frmDropdownInputBox");
    KV_PROCEDURE("Form_Load", TopLevel).run([&] {
        KV_LINE;
        setCaption("");
    });
}

void frmDropdownInputBox::OKButton_Click() {
    KV_MODULE("Forms/frmDropdownInputBox");
    KV_PROCEDURE("OKButton_Click", TopLevel).run([&] {
        KV_LINE;
        hide();
    });
}

void frmDropdownInputBox::CancelButton_Click() {
    KV_MODULE("Forms/frmDropdownInputBox");
    KV_PROCEDURE("CancelButton_Click", TopLevel).run([&] {
        KV_LINE;
        get<h::ComboBox>("lstDataSet").setText("");
        KV_LINE;
        hide();
    });
}

// ---- frmMultiSelectBox --------------------------------------------------------

void frmMultiSelectBox::design() {
    add<h::Label>("lblDescription");
    auto& list = add<h::ListBox>("lstDataSet");
    list.multiSelect = h::MultiSelect::Extended;
    add<h::CommandButton>("OKButton");
    add<h::CommandButton>("CancelButton");
    layoutListDialog(*this, list, [this] { OKButton_Click(); }, [this] { CancelButton_Click(); });
}

void frmMultiSelectBox::Form_Load() {
    KV_MODULE("Forms/frmMultiSelectBox");
    KV_PROCEDURE("Form_Load", TopLevel).run([&] {
        KV_LINE;
        cancelled_ = false;
        KV_LINE;
        setCaption("");
    });
}

void frmMultiSelectBox::OKButton_Click() {
    KV_MODULE("Forms/frmMultiSelectBox");
    KV_PROCEDURE("OKButton_Click", TopLevel).run([&] {
        KV_LINE;
        cancelled_ = false;
        KV_LINE;
        hide();
    });
}

void frmMultiSelectBox::CancelButton_Click() {
    KV_MODULE("Forms/frmMultiSelectBox");
    KV_PROCEDURE("CancelButton_Click", TopLevel).run([&] {
        KV_LINE;
        cancelled_ = true;
        KV_LINE;
        hide();
    });
}

// ---- ListInput ---------------------------------------------------------------

h::ListControl* ShowListDialog(KorvaneForm& dlg, const std::string& prompt, const std::vector<std::string>& items,
                               const std::string& title) {
    dlg.load();
    auto& list = dlg.get<h::ListControl>("lstDataSet");
    list.clear();
    checkListSize(items.size());
    for (auto& item : items) list.addItem(item);
    dlg.setCaption(title);
    dlg.get<h::Label>("lblDescription").setCaption(prompt);
    if (auto* combo = dynamic_cast<h::ComboBox*>(&list)) combo->setText("");
    ShowForm(dlg, true);
    if (!dlg.loaded()) return nullptr;
    return &dlg.get<h::ListControl>("lstDataSet");
}

std::string ListInput(const std::string& prompt, const std::vector<std::string>& items, const std::string& title) {
    KV_MODULE("Modules/modSimpleInput");
    std::string result;
    KV_PROCEDURE("ListInput", TopLevel).run([&] {
        KV_LINE;
        frmDropdownInputBox dlg;
        KV_LINE;
        auto* chosen = dynamic_cast<h::ComboBox*>(ShowListDialog(dlg, prompt, items, title));
        KV_LINE;
        // The entry at the selected index; with none selected, the text typed.
        if (chosen) result = chosen->listIndex() >= 0 ? chosen->list(chosen->listIndex()) : chosen->text();
    });
    return result;
}

}  // namespace kv
