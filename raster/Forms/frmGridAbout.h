#pragma once
#include "shared/AboutForm.h"

namespace kv {

// The raster library's about box.
class frmGridAbout : public AboutForm {
public:
    frmGridAbout();
};

}  // namespace kv
