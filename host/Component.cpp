#include "host/Component.h"

#include "host/Failure.h"

namespace korvane::host {

void ComponentRegistry::add(const std::string& progId, const std::string& library, ComponentFactory factory) {
    for (auto& e : entries_)
        if (e.progId == progId) {
            e = {progId, library, std::move(factory)};
            return;
        }
    entries_.push_back({progId, library, std::move(factory)});
}

bool ComponentRegistry::has(const std::string& progId) const { return find(progId) != nullptr; }

const ComponentRegistry::Entry* ComponentRegistry::find(const std::string& progId) const {
    for (auto& e : entries_)
        if (e.progId == progId) return &e;
    return nullptr;
}

std::unique_ptr<Component> ComponentRegistry::create(const std::string& progId) const {
    const Entry* e = find(progId);
    if (!e) return nullptr;
    return e->factory();
}

std::vector<std::string> ComponentRegistry::ids() const {
    std::vector<std::string> out;
    for (auto& e : entries_) out.push_back(e.progId);
    return out;
}

}  // namespace korvane::host
