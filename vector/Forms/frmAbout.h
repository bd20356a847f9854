#pragma once
#include "shared/KorvaneForm.h"

namespace kv {

// The about box: the version line above the stored credits text.
class frmAbout : public KorvaneForm {
public:
    frmAbout() : KorvaneForm("frmAbout") {}
    // The credits text stored with the form.
    static const char* const kCredits;

protected:
    void design() override;
    void Form_Load() override;

private:
    void cmdOK_Click();
};

}  // namespace kv
