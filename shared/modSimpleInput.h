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

// Asks for one entry of items; the entry chosen (or typed), or "" on Cancel.
std::string ListInput(const std::string& prompt, const std::vector<std::string>& items, const std::string& title);

}  // namespace kv
