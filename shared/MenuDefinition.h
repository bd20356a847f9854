#pragma once
// A library's menu: its caption, name, the number of positions it announces
// and, position by position, the command identifier and whether a separator
// goes before it. Positions without an item are left untouched.
#include <span>
#include <string>

#include "host/Component.h"

namespace kv {

struct MenuItem {
    const char* id;
    bool group;   // a separator goes before the item
};

class MenuDefinition : public korvane::host::Component,
                       public korvane::host::IMenuDef,
                       public korvane::host::IRootLevelMenu {
public:
    MenuDefinition(const char* modulePath, std::string caption, std::string name, int32_t itemCount,
                   std::span<const MenuItem> items)
        : module_(modulePath), caption_(std::move(caption)), name_(std::move(name)), count_(itemCount),
          items_(items) {}

    int32_t ItemCount() override;
    void GetItemInfo(int32_t pos, korvane::host::IItemDef& item) override;
    std::string Name() override;
    std::string Caption() override;

protected:
    const char* module_;

private:
    std::string caption_, name_;
    int32_t count_;
    std::span<const MenuItem> items_;
};

}  // namespace kv
