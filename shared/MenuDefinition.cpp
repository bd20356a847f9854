#include "shared/MenuDefinition.h"

#include "shared/ErrorHandling.h"

namespace kv {

#define KV_MENU_MEMBER(procName) ::kv::Procedure kvProc_(procName, module_, ::kv::TopLevel); kvProc_

int32_t MenuDefinition::ItemCount() {
    int32_t result = 0;
    KV_MENU_MEMBER("IMenuDef_ItemCount").run([&] { KV_LINE; result = count_; });
    return result;
}

void MenuDefinition::GetItemInfo(int32_t pos, korvane::host::IItemDef& item) {
    KV_MENU_MEMBER("IMenuDef_GetItemInfo").run([&] {
        KV_LINE;
        if (pos < 0 || pos >= static_cast<int32_t>(items_.size())) return;
        KV_LINE;
        item.setID(items_[static_cast<size_t>(pos)].id);
        KV_LINE;
        if (items_[static_cast<size_t>(pos)].group) item.setGroup(true);
    });
}

std::string MenuDefinition::Name() {
    std::string result;
    KV_MENU_MEMBER("IMenuDef_Name").run([&] { KV_LINE; result = name_; });
    return result;
}

std::string MenuDefinition::Caption() {
    std::string result;
    KV_MENU_MEMBER("IMenuDef_Caption").run([&] { KV_LINE; result = caption_; });
    return result;
}

}  // namespace kv
