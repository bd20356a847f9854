#pragma once
// The about box of both libraries: a read-only text box and an OK button that
// unloads the form. Loading it puts the product name and the version line
// above the stored credits text, whose "Version 4." citations take the
// library's own major and minor version. Each library's about box gives its
// own caption, product name and module.
#include "shared/KorvaneForm.h"

namespace kv {

class AboutForm : public KorvaneForm {
public:
    struct Texts {
        const char* modulePath;   // the module named in error reports ("Forms/frmAbout")
        const char* caption;
        const char* product;
        const char* credits;
    };
    AboutForm(std::string formName, Texts texts) : KorvaneForm(std::move(formName)), texts_(texts) {}

    // The credits text stored with the about boxes.
    static const char* const kCredits;

protected:
    void design() override;
    void Form_Load() override;

private:
    void cmdOK_Click();
    Texts texts_;
};

}  // namespace kv
