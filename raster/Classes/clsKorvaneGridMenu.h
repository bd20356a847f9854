#pragma once
#include "host/Component.h"

namespace kv {

// The raster library's menu. Unlike the command classes it sets no title.
class clsKorvaneGridMenu : public korvane::host::Component,
                           public korvane::host::IMenuDef,
                           public korvane::host::IRootLevelMenu {
public:
    int32_t ItemCount() override;
    void GetItemInfo(int32_t pos, korvane::host::IItemDef& item) override;
    std::string Name() override;
    std::string Caption() override;
};

}  // namespace kv
