#pragma once
// "Set Fragstats Parameters": the four analysis parameters of a metrics run
// (MPI threshold, buffer distance, boundary influence, CWED weight file) as
// text. A statistics dialog owns one for its lifetime, shows it modally and
// copies the four boxes into its own afterwards. It is hidden, never
// unloaded, between showings: Cancel puts back the texts it had when it was
// loaded; an unload is refused until its owner sets CanUnload, which the
// owner does whenever it unloads itself (see unloadWithOwner).
#include <array>
#include <string>

#include "shared/KorvaneForm.h"

namespace kv {

class frmAnalParams : public KorvaneForm {
public:
    frmAnalParams() : KorvaneForm("frmAnalParams") {}

    bool CanUnload();
    void setCanUnload(bool can);

    korvane::host::TextBox& txtMPI() { return get<korvane::host::TextBox>("txtMPI"); }
    korvane::host::TextBox& txtBufferDistance() { return get<korvane::host::TextBox>("txtBufferDistance"); }
    korvane::host::TextBox& txtBoundaryInfl() { return get<korvane::host::TextBox>("txtBoundaryInfl"); }
    korvane::host::TextBox& txtCWEDFilename() { return get<korvane::host::TextBox>("txtCWEDFilename"); }

    // The four texts in the order MPI threshold, buffer distance, boundary
    // influence, CWED file name (loads the form when it is not loaded).
    std::array<std::string, 4> texts();

    // For the owner's own unload: allows the unload and unloads the dialog.
    void unloadWithOwner();

protected:
    void design() override;
    void Form_Load() override;
    void Form_Unload(int& cancel) override;

private:
    void cmdOK_Click();
    void cmdCancel_Click();
    void txtCWEDFilename_Click();

    std::array<std::string, 4> snapshot_;
    bool canUnload_ = false;
};

}  // namespace kv
