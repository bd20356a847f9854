#include "programs/korvane/DocumentFile.h"

#include <filesystem>
#include <fstream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "host/Failure.h"

namespace korvane::app {

using nlohmann::json;
namespace h = korvane::host;

namespace {
json layerToJson(const h::LayerPtr& l) {
    json j = {{"name", l->name()}, {"kind", h::layerKindName(l->kind())}, {"path", l->path()},
              {"visible", l->visible()}};
    if (auto sel = l->selectedIds()) j["selection"] = *sel;
    if (auto g = std::dynamic_pointer_cast<h::GroupLayer>(l)) {
        j["layers"] = json::array();
        for (auto& c : g->layers()) j["layers"].push_back(layerToJson(c));
    }
    return j;
}

h::LayerPtr layerFromJson(const json& j, const LayerOpener& opener) {
    auto kind = h::layerKindFromName(j.value("kind", "other"));
    std::string name = j.value("name", "");
    std::string path = j.value("path", "");
    h::LayerPtr l;
    if (kind == h::LayerKind::Group) {
        auto g = std::make_shared<h::GroupLayer>(name, path);
        for (auto& c : j.value("layers", json::array())) g->layers().push_back(layerFromJson(c, opener));
        l = g;
    } else {
        l = opener ? opener(name, path, kind) : nullptr;
        if (!l) l = std::make_shared<h::RegisteredLayer>(name, path, kind);
    }
    l->setVisible(j.value("visible", true));
    if (j.contains("selection")) l->restoreSelectedIds(j["selection"].get<std::vector<int64_t>>());
    return l;
}
}  // namespace

h::DocumentPtr DocumentFile::load(const std::string& path, const LayerOpener& opener) {
    auto doc = std::make_shared<h::Document>();
    loadInto(*doc, path, opener);
    return doc;
}

void DocumentFile::loadInto(h::Document& into, const std::string& path, const LayerOpener& opener) {
    h::Document* doc = &into;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return;
    std::ifstream f(path);
    json j;
    try {
        j = json::parse(f);
    } catch (const json::exception& e) {
        h::fail(h::err::HostGeneric, "korvane", fmt::format("{} is not a Korvane map document ({}).", path, e.what()));
    }
    h::MapPtr map = doc->focusMap();
    map->clearLayers();
    for (auto t : std::vector<h::StandaloneTablePtr>(map->tables())) map->removeTable(t);
    const json& m = j.value("maps", json::array()).empty() ? json::object() : j["maps"][0];
    map->setMapUnits(m.value("mapUnits", 0));
    map->setDistanceUnits(m.value("distanceUnits", 0));
    auto layers = m.value("layers", json::array());
    // Stored top first; adding puts each new layer on top, so add bottom first.
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) map->addLayer(layerFromJson(*it, opener));
    for (auto& t : m.value("tables", json::array()))
        map->addTable(std::make_shared<h::StandaloneTable>(t.value("name", ""), t.value("path", "")));
    std::string selected = j.value("tocSelected", "");
    for (auto& l : map->allLayers())
        if (!selected.empty() && l->name() == selected) {
            doc->setSelectedLayer(l);
            break;
        }
}

void DocumentFile::save(const h::Document& doc, const std::string& path) {
    json maps = json::array();
    for (auto& m : doc.maps()) {
        json jm = {{"name", m->name()}, {"mapUnits", m->mapUnits()}, {"distanceUnits", m->distanceUnits()}};
        jm["layers"] = json::array();
        for (auto& l : m->layers()) jm["layers"].push_back(layerToJson(l));
        jm["tables"] = json::array();
        for (auto& t : m->tables()) jm["tables"].push_back({{"name", t->name()}, {"path", t->path()}});
        maps.push_back(jm);
    }
    json j = {{"korvaneDocument", 1}, {"maps", maps}};
    if (auto sel = doc.selectedLayer()) j["tocSelected"] = sel->name();
    std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp);
        if (!f) h::fail(h::err::PathNotFound, "korvane", "Cannot write the map document " + path);
        f << j.dump(2) << "\n";
        if (!f) h::fail(h::err::PathNotFound, "korvane", "Cannot write the map document " + path);
    }
    std::filesystem::rename(tmp, path);
}

std::vector<std::string> documentItems(const h::Document& doc) {
    std::vector<std::string> items;
    auto map = doc.focusMap();
    for (auto& l : map->allLayers())
        items.push_back(fmt::format("layer {} ({}, {})", l->name(), h::layerKindName(l->kind()),
                                    l->path().empty() ? "no file" : l->path()));
    for (auto& t : map->tables()) items.push_back(fmt::format("table {} ({})", t->name(), t->path()));
    items.push_back(fmt::format("map units {} ({})", h::unitName(map->mapUnits()), map->mapUnits()));
    return items;
}

}  // namespace korvane::app
