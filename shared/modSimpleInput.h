#pragma once
// Small modal dialogs that ask the user for one or several entries of a list.
#include <string>
#include <vector>

#include "shared/KorvaneForm.h"

namespace kv {

// The drop-down choice dialog of ListInput.
class frmDropdownInputBox : public KorvaneForm {
public:
    frmDropdownInputBox() : KorvaneForm("frmDropdownInputBox") {}

protected:
    void design() override;
    void Form_Load() override;

private:
    void OKButton_Click();
    void CancelButton_Click();
};

// The multiple-choice dialog of MultiChoiceListInput.
class frmMultiSelectBox : public KorvaneForm {
public:
    frmMultiSelectBox() : KorvaneForm("frmMultiSelectBox") {}
    bool cancelled() const { return cancelled_; }

protected:
    void design() override;
    void Form_Load() override;

private:
    void OKButton_Click();
    void CancelButton_Click();
    bool cancelled_ = false;
};

// Fills a list dialog (the list "lstDataSet", its caption and its prompt
// label), shows it modal and gives back its list as it is when the dialog
// has been answered; nothing when it was closed from its close box or by the
// end of a script while it was open. Such a dialog has been unloaded and its
// controls destroyed, so nothing taken from it before the show may be used
// after it: the choosers read their answer from what this returns.
korvane::host::ListControl* ShowListDialog(KorvaneForm& dlg, const std::string& prompt,
                                           const std::vector<std::string>& items, const std::string& title);

// Asks for one entry of items; the entry chosen (or typed), or "" on Cancel.
std::string ListInput(const std::string& prompt, const std::vector<std::string>& items, const std::string& title);

}  // namespace kv
