#pragma once
#include "shared/KorvaneForm.h"

namespace kv {

// A resizable window that shows a multi-line text with a Close button.
class frmMultiLineDisplay : public KorvaneForm {
public:
    frmMultiLineDisplay() : KorvaneForm("frmMultiLineDisplay") {}

protected:
    void design() override;
    void Form_Resize() override;

private:
    void cmdClose_Click();
};

}  // namespace kv
