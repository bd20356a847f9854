#pragma once
// The progress window of long operations: a bar and one status line. The
// window repaints at once whenever its value or its text changes.
#include "shared/KorvaneForm.h"

namespace kv {

class frmProgress : public KorvaneForm {
public:
    frmProgress() : KorvaneForm("frmProgress") {}
    void setMax(int32_t max);
    void setValue(int32_t value);
    int32_t Value();
    korvane::host::Label& lblProgress() { return get<korvane::host::Label>("lblProgress"); }
    korvane::host::ProgressBar& progBar() { return get<korvane::host::ProgressBar>("progBar"); }

protected:
    void design() override;
};

}  // namespace kv
