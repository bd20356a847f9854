#include "programs/korvane/DocumentFile.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <cctype>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "host/Failure.h"
#include "host/FileReplace.h"
#include "host/Ui.h"
#include "host/data/RasterLayer.h"

namespace korvane::app {

using nlohmann::json;
namespace h = korvane::host;

namespace {
constexpr int64_t kDocumentVersion = 1;

json valueToJson(const h::Value& v) {
    if (h::isNull(v)) return nullptr;
    if (auto* t = std::get_if<std::string>(&v)) return *t;
    if (auto* i = std::get_if<int32_t>(&v)) return *i;
    if (std::holds_alternative<h::Date>(v)) return h::toText(v);
    return h::toDouble(v);
}

h::Value valueFromJson(const json& j) {
    if (j.is_string()) return h::Value(j.get<std::string>());
    if (j.is_number_integer() && j.get<int64_t>() >= INT32_MIN && j.get<int64_t>() <= INT32_MAX)
        return h::Value(static_cast<int32_t>(j.get<int64_t>()));
    if (j.is_number()) return h::Value(j.get<double>());
    return h::Value();
}

json rendererToJson(const h::UniqueValueRenderer& r) {
    json classes = json::array();
    for (const auto& c : r.classes)
        classes.push_back({{"value", valueToJson(c.value)}, {"label", c.label}, {"colour", h::rgbText(c.colour)}});
    return {{"type", "uniqueValue"}, {"field", r.field}, {"classes", classes}};
}

// A renderer stored by another version, or damaged, is left out: the layer
// is drawn by default.
std::optional<h::UniqueValueRenderer> rendererFromJson(const json& j) {
    if (!j.is_object() || j.value("type", "") != "uniqueValue" || !j.contains("classes") || !j["classes"].is_array())
        return std::nullopt;
    h::UniqueValueRenderer r;
    r.field = j.value("field", "");
    for (const json& c : j["classes"]) {
        if (!c.is_object()) return std::nullopt;
        auto colour = h::rgbFromText(c.value("colour", ""));
        if (!colour) return std::nullopt;
        r.classes.push_back({valueFromJson(c.value("value", json())), c.value("label", ""), *colour});
    }
    return r;
}

json layerToJson(const h::LayerPtr& l) {
    json j = {{"name", l->name()}, {"kind", h::layerKindName(l->kind())}, {"path", l->path()},
              {"visible", l->visible()}};
    if (auto sel = l->selectedIds()) j["selection"] = *sel;
    if (!l->fieldAliases().empty()) j["aliases"] = l->fieldAliases();
    if (auto r = std::dynamic_pointer_cast<h::RasterLayer>(l); r && r->renderer())
        j["renderer"] = rendererToJson(*r->renderer());
    if (auto g = std::dynamic_pointer_cast<h::GroupLayer>(l)) {
        j["layers"] = json::array();
        for (auto& c : g->layers()) j["layers"].push_back(layerToJson(c));
    }
    return j;
}

// A kept line as JSON: its text, or, for bytes that JSON cannot hold as
// text (not UTF-8: a query-set file written elsewhere), {"hex": ...} of them.
json lineToJson(const std::string& line) {
    try {
        (void)json(line).dump();
        return line;
    } catch (const json::exception&) {
    }
    std::string hex;
    for (unsigned char c : line) hex += fmt::format("{:02x}", c);
    return {{"hex", hex}};
}

std::optional<std::string> lineFromJson(const json& j) {
    if (j.is_string()) return j.get<std::string>();
    if (!j.is_object() || !j.contains("hex") || !j["hex"].is_string()) return std::nullopt;
    const std::string hex = j["hex"].get<std::string>();
    auto nibble = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) ? std::stoi(std::string(1, c), nullptr, 16) : -1; };
    if (hex.size() % 2) return std::nullopt;
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
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
    if (auto r = std::dynamic_pointer_cast<h::RasterLayer>(l); r && j.contains("renderer"))
        r->setRenderer(rendererFromJson(j["renderer"]));
    if (j.contains("selection")) l->restoreSelectedIds(j["selection"].get<std::vector<int64_t>>());
    if (j.contains("aliases") && j["aliases"].is_object())
        for (auto& [field, alias] : j["aliases"].items())
            if (alias.is_string()) l->setFieldAlias(field, alias.get<std::string>());
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
    // A document of another version is refused, never read in part and
    // written back without what this version does not know.
    const json* version = j.is_object() && j.contains("korvaneDocument") ? &j["korvaneDocument"] : nullptr;
    if (!version)
        h::fail(h::err::HostGeneric, "korvane", fmt::format("{} is not a Korvane map document.", path));
    if (!version->is_number_integer() || version->get<int64_t>() != kDocumentVersion)
        h::fail(h::err::HostGeneric, "korvane",
                fmt::format("{} is a Korvane map document of version {}, which this korvane (version {}) does not "
                            "read; it is left as it is.",
                            path, version->dump(), kDocumentVersion));
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
    // The lines libraries keep with the document; a list with an entry that
    // does not read is left out whole.
    if (j.contains("kept") && j["kept"].is_object())
        for (auto& [name, lines] : j["kept"].items()) {
            if (!lines.is_array()) continue;
            std::vector<std::string> read;
            for (const json& l : lines)
                if (auto line = lineFromJson(l)) read.push_back(std::move(*line));
            if (read.size() == lines.size()) doc->setKeptLines(name, std::move(read));
        }
    // The selected layer by its position, which its name must confirm.
    std::string selected = j.value("tocSelected", "");
    auto all = map->allLayers();
    if (!selected.empty() && j.contains("tocSelectedPosition") && j["tocSelectedPosition"].is_number_unsigned()) {
        size_t at = j["tocSelectedPosition"].get<size_t>();
        if (at < all.size() && all[at]->name() == selected) doc->setSelectedLayer(all[at]);
    } else if (!selected.empty()) {
        // Written before positions were stored: only a name no other layer has.
        std::vector<h::LayerPtr> named;
        for (auto& l : all)
            if (l->name() == selected) named.push_back(l);
        if (named.size() == 1) doc->setSelectedLayer(named[0]);
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
    json j = {{"korvaneDocument", kDocumentVersion}, {"maps", maps}};
    if (!doc.allKeptLines().empty()) {
        json kept = json::object();
        for (const auto& [name, lines] : doc.allKeptLines()) {
            json a = json::array();
            for (const std::string& l : lines) a.push_back(lineToJson(l));
            kept[name] = a;
        }
        j["kept"] = kept;
    }
    if (auto sel = doc.selectedLayer()) {
        auto all = doc.focusMap()->allLayers();
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i] == sel) {
                j["tocSelected"] = sel->name();
                j["tocSelectedPosition"] = i;
            }
    }
    // Written whole under a marked temporary name, then renamed over the old
    // document: a failure or a kill leaves the old one as it was.
    try {
        h::replaceFileContents(path, j.dump(2) + "\n");
    } catch (const h::Failure& f) {
        h::fail(f.number(), "korvane",
                fmt::format("The map document {} could not be saved ({}); the stored one is kept.", path,
                            f.description()));
    }
}

std::vector<std::string> documentItems(const h::Document& doc) {
    std::vector<std::string> items;
    auto map = doc.focusMap();
    for (auto& l : map->allLayers()) {
        items.push_back(fmt::format("layer {} ({}, {})", h::escapeControls(l->name()), h::layerKindName(l->kind()),
                                    l->path().empty() ? "no file" : h::escapeControls(l->path())));
        for (auto& [field, alias] : l->fieldAliases())
            items.push_back(fmt::format("  alias {} = {}", h::escapeControls(field), h::escapeControls(alias)));
    }
    for (auto& t : map->tables())
        items.push_back(fmt::format("table {} ({})", h::escapeControls(t->name()), h::escapeControls(t->path())));
    items.push_back(fmt::format("map units {} ({})", h::unitName(map->mapUnits()), map->mapUnits()));
    return items;
}

std::vector<std::string> documentChanges(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    auto isUnits = [](const std::string& s) { return s.rfind("map units ", 0) == 0; };
    // Items compare as a multiset: a table added a second time under the
    // same name and path is a change like the first.
    std::map<std::string, int> left;
    for (auto& b : before) ++left[b];
    std::vector<std::string> out;
    for (auto& a : after)
        if (left[a]-- <= 0) out.push_back((isUnits(a) ? "~ " : "+ ") + a);
    std::map<std::string, int> kept;
    for (auto& a : after) ++kept[a];
    for (auto& b : before)
        if (!isUnits(b) && kept[b]-- <= 0) out.push_back("- " + b);
    return out;
}

}  // namespace korvane::app
