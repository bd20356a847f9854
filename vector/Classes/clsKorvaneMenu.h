#pragma once
#include "shared/MenuDefinition.h"

namespace kv {

// The vector library's menu.
class clsKorvaneMenu : public MenuDefinition {
public:
    clsKorvaneMenu();
};

}  // namespace kv
