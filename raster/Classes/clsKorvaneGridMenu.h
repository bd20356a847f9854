#pragma once
#include "shared/MenuDefinition.h"

namespace kv {

// The raster library's menu. Unlike the command classes it sets no title.
class clsKorvaneGridMenu : public MenuDefinition {
public:
    clsKorvaneGridMenu();
};

}  // namespace kv
