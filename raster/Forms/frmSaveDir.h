#pragma once
// "Select Directory": a drive list (Linux has one root, "/"), a folder list
// and OK / Cancel, plus the common save dialog that GetSaveLocation uses.
#include <string>

#include "shared/KorvaneForm.h"

namespace kv {

class frmSaveDir : public KorvaneForm {
public:
    frmSaveDir() : KorvaneForm("frmSaveDir") {}
    // The chosen folder after OK; empty after Cancel or closing the window.
    std::string strSaveDir;

protected:
    void design() override;

private:
    void OKButton_Click();
    void CancelButton_Click();
    void Drive1_Change();
};

}  // namespace kv
