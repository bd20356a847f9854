#include "host/Document.h"

#include <algorithm>

#include "host/Failure.h"

namespace korvane::host {

const char* unitName(int32_t code) {
    switch (code) {
        case UnitInches: return "inches";
        case UnitPoints: return "points";
        case UnitFeet: return "feet";
        case UnitYards: return "yards";
        case UnitMiles: return "miles";
        case UnitNauticalMiles: return "nautical miles";
        case UnitMillimeters: return "millimetres";
        case UnitCentimeters: return "centimetres";
        case UnitMeters: return "metres";
        case UnitKilometers: return "kilometres";
        case UnitDecimalDegrees: return "decimal degrees";
        case UnitDecimeters: return "decimetres";
        default: return "unknown";
    }
}

const char* layerKindName(LayerKind k) {
    switch (k) {
        case LayerKind::Feature: return "feature";
        case LayerKind::Raster: return "raster";
        case LayerKind::Group: return "group";
        default: return "other";
    }
}

LayerKind layerKindFromName(const std::string& s) {
    if (s == "feature") return LayerKind::Feature;
    if (s == "raster") return LayerKind::Raster;
    if (s == "group") return LayerKind::Group;
    return LayerKind::Other;
}

LayerPtr Map::layer(int32_t index) const {
    if (index < 0 || index >= layerCount())
        fail(err::HostInvalidArg, "Map", "The layer index is out of range.");
    return layers_[static_cast<size_t>(index)];
}

static void collect(const std::vector<LayerPtr>& from, std::vector<LayerPtr>& out) {
    for (auto& l : from) {
        out.push_back(l);
        if (auto g = std::dynamic_pointer_cast<GroupLayer>(l)) collect(g->layers(), out);
    }
}

std::vector<LayerPtr> Map::allLayers() const {
    std::vector<LayerPtr> out;
    collect(layers_, out);
    return out;
}

void Map::addLayer(LayerPtr layer) {
    if (!layer) fail(err::ObjectNotSet, "Map", "No layer given.");
    // The first layer of a map without units gives it its coordinate system's units.
    if (layers_.empty() && mapUnits_ == UnitUnknown) mapUnits_ = layer->units();
    layers_.insert(layers_.begin(), layer);
    itemAdded(layer);
    contentsChanged();
}

void Map::deleteLayer(const LayerPtr& layer) {
    auto it = std::find(layers_.begin(), layers_.end(), layer);
    if (it == layers_.end()) return;
    LayerPtr keep = *it;
    layers_.erase(it);
    itemDeleted(keep);
    contentsChanged();
}

void Map::clearLayers() {
    while (!layers_.empty()) deleteLayer(layers_.front());
}

void Map::addTable(StandaloneTablePtr t) {
    if (!t) fail(err::ObjectNotSet, "Map", "No table given.");
    tables_.push_back(std::move(t));
    contentsChanged();
}

void Map::removeTable(const StandaloneTablePtr& t) {
    std::erase(tables_, t);
    contentsChanged();
}

const std::vector<std::string>* Document::keptLines(const std::string& name) const {
    auto it = kept_.find(name);
    return it == kept_.end() ? nullptr : &it->second;
}

void Document::setKeptLines(const std::string& name, std::vector<std::string> lines) {
    kept_[name] = std::move(lines);
}

Document::Document() {
    focus_ = std::make_shared<Map>("Layers");
    maps_.push_back(focus_);
}

void Document::addMap(MapPtr m) {
    maps_.push_back(std::move(m));
    mapsChanged();
}

void Document::setFocusMap(MapPtr m) {
    if (std::find(maps_.begin(), maps_.end(), m) == maps_.end()) addMap(m);
    if (focus_ == m) return;
    focus_ = std::move(m);
    focusMapChanged();
}

}  // namespace korvane::host
