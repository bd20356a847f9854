#pragma once
#include "shared/AboutForm.h"

namespace kv {

// The vector library's about box: the version line above the stored credits text.
class frmAbout : public AboutForm {
public:
    frmAbout();
};

}  // namespace kv
