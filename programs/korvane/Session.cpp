#include "programs/korvane/Session.h"

#include <algorithm>
#include <iostream>

#include <fmt/format.h>

namespace korvane::app {

namespace h = korvane::host;

Session::Session(std::ostream& out, std::string libraryFolder)
    : out_(out), app_(h::Application::instance()), driver_(out) {
    h::setUi(&driver_);
    loadedLibraries = app_.loadLibraries(libraryFolder, &libraryFailures);
}

h::ICommand* Session::createCommand(const std::string& id) {
    for (auto& [cid, cmd] : commands_)
        if (cid == id) return cmd;
    auto obj = app_.registry().create(id);
    auto* cmd = dynamic_cast<h::ICommand*>(obj.get());
    if (!cmd) return nullptr;
    cmd->OnCreate(&app_);
    objects_.push_back(std::move(obj));
    commands_.push_back({id, cmd});
    return cmd;
}

const std::vector<MenuView>& Session::menus() {
    if (menusBuilt_) return menus_;
    menusBuilt_ = true;
    for (auto& id : app_.registry().ids()) {
        auto probe = app_.registry().find(id);
        (void)probe;
        auto obj = app_.registry().create(id);
        auto* menu = dynamic_cast<h::IMenuDef*>(obj.get());
        if (!menu || !dynamic_cast<h::IRootLevelMenu*>(obj.get())) continue;
        MenuView view{id, menu->Caption(), menu->Name(), {}};
        int32_t n = menu->ItemCount();
        for (int32_t pos = 0; pos < n; ++pos) {
            h::ItemDef item;
            menu->GetItemInfo(pos, item);
            MenuEntry e{pos, item.id.value_or(""), item.group, nullptr};
            if (!e.id.empty()) e.command = createCommand(e.id);
            view.items.push_back(e);
        }
        objects_.push_back(std::move(obj));
        menus_.push_back(std::move(view));
    }
    return menus_;
}

void Session::printMenus() {
    const auto& ms = menus();
    out_ << app_.caption() << "\n";
    if (ms.empty()) out_ << "(no menus: no Korvane library was found)\n";
    for (auto& m : ms) {
        out_ << fmt::format("\n{} ({})\n", m.caption, m.name);
        for (auto& e : m.items) {
            if (e.id.empty()) continue;   // the host draws nothing for an empty position
            if (e.group) out_ << "  ------------------------------------------------\n";
            if (e.command)
                out_ << fmt::format("  {:>2}  {:<44} {}\n", e.position, e.command->Caption(),
                                    e.command->Enabled() ? "enabled" : "disabled");
            else
                out_ << fmt::format("  {:>2}  {:<44} unavailable\n", e.position, e.id);
        }
    }
}

h::ICommand* Session::findCommand(const std::string& key) {
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), ::tolower);
        return s;
    };
    const std::string k = lower(key);
    for (auto& m : menus())
        for (auto& e : m.items)
            if (e.command && (lower(e.command->Caption()) == k || lower(e.command->Name()) == k || lower(e.id) == k))
                return e.command;
    for (auto& id : app_.registry().ids()) {
        if (lower(id) == k) return createCommand(id);
    }
    // Command classes that no menu shows.
    for (auto& id : app_.registry().ids()) {
        auto* cmd = createCommand(id);
        if (cmd && (lower(cmd->Caption()) == k || lower(cmd->Name()) == k)) return cmd;
    }
    return nullptr;
}

}  // namespace korvane::app
