#pragma once
// The map document: its maps, the focused map, the table-of-contents
// selection, and the events that maps and documents raise.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/Layer.h"

namespace korvane::host {

// The host's unit codes.
enum Units : int32_t {
    UnitUnknown = 0,
    UnitInches = 1,
    UnitPoints = 2,
    UnitFeet = 3,
    UnitYards = 4,
    UnitMiles = 5,
    UnitNauticalMiles = 6,
    UnitMillimeters = 7,
    UnitCentimeters = 8,
    UnitMeters = 9,
    UnitKilometers = 10,
    UnitDecimalDegrees = 11,
    UnitDecimeters = 12,
};
const char* unitName(int32_t code);

class Table;  // data layer

// A table shown in the map's table list rather than as a layer.
class StandaloneTable {
public:
    StandaloneTable(std::string name, std::string path) : name_(std::move(name)), path_(std::move(path)) {}
    virtual ~StandaloneTable() = default;
    const std::string& name() const { return name_; }
    const std::string& path() const { return path_; }
    // The opened table, when the data layer has opened it.
    std::shared_ptr<Table> table;

private:
    std::string name_;
    std::string path_;
};
using StandaloneTablePtr = std::shared_ptr<StandaloneTable>;

template <class... Args>
class Event {
public:
    using Handler = std::function<void(Args...)>;
    // Returns a token to disconnect with.
    int connect(Handler h) {
        handlers_.push_back({next_, std::move(h)});
        return next_++;
    }
    void disconnect(int token) {
        std::erase_if(handlers_, [token](auto& e) { return e.first == token; });
    }
    void operator()(Args... args) const {
        auto copy = handlers_;  // handlers may connect or disconnect
        for (auto& [token, h] : copy) h(args...);
    }
    bool empty() const { return handlers_.empty(); }

private:
    std::vector<std::pair<int, Handler>> handlers_;
    int next_ = 1;
};

class Map {
public:
    explicit Map(std::string name = "Layers") : name_(std::move(name)) {}

    const std::string& name() const { return name_; }

    // Top-level layers, in table-of-contents order (index 0 is the top).
    int32_t layerCount() const { return static_cast<int32_t>(layers_.size()); }
    LayerPtr layer(int32_t index) const;
    const std::vector<LayerPtr>& layers() const { return layers_; }
    // Top-level and group-member layers, depth first.
    std::vector<LayerPtr> allLayers() const;
    // New layers go on top, as the host adds them.
    void addLayer(LayerPtr layer);
    void deleteLayer(const LayerPtr& layer);
    void clearLayers();

    int32_t mapUnits() const { return mapUnits_; }
    void setMapUnits(int32_t u) { mapUnits_ = u; }
    int32_t distanceUnits() const { return distanceUnits_; }
    void setDistanceUnits(int32_t u) { distanceUnits_ = u; }

    const std::vector<StandaloneTablePtr>& tables() const { return tables_; }
    void addTable(StandaloneTablePtr t);
    void removeTable(const StandaloneTablePtr& t);

    Event<const LayerPtr&> itemAdded;
    Event<const LayerPtr&> itemDeleted;
    Event<> contentsChanged;

private:
    std::string name_;
    std::vector<LayerPtr> layers_;
    std::vector<StandaloneTablePtr> tables_;
    int32_t mapUnits_ = UnitUnknown;
    int32_t distanceUnits_ = UnitUnknown;
};
using MapPtr = std::shared_ptr<Map>;

class Document {
public:
    Document();

    MapPtr focusMap() const { return focus_; }
    const std::vector<MapPtr>& maps() const { return maps_; }
    void addMap(MapPtr m);
    void setFocusMap(MapPtr m);

    // The folder of the file the document is kept in (empty when it is kept
    // in none): results that must outlive the process and have no place of
    // their own are kept there.
    const std::string& folder() const { return folder_; }
    void setFolder(std::string folder) { folder_ = std::move(folder); }

    // The item selected in the table of contents (a layer, or nothing).
    LayerPtr selectedLayer() const { return selected_.lock(); }
    void setSelectedLayer(const LayerPtr& l) { selected_ = l; }

    // Raised after a document is opened, when the set of maps changes, and
    // when another map becomes the focused map.
    Event<> openDocument;
    Event<> mapsChanged;
    Event<> focusMapChanged;

    // Text lines a library keeps with the document under a name of its own
    // (the attribute modelling dialog's query-set library), so that they
    // outlive one command; nothing when none are kept under the name.
    const std::vector<std::string>* keptLines(const std::string& name) const;
    void setKeptLines(const std::string& name, std::vector<std::string> lines);
    const std::map<std::string, std::vector<std::string>>& allKeptLines() const { return kept_; }

private:
    std::map<std::string, std::vector<std::string>> kept_;
    std::vector<MapPtr> maps_;
    MapPtr focus_;
    std::weak_ptr<Layer> selected_;
    std::string folder_;
};
using DocumentPtr = std::shared_ptr<Document>;

}  // namespace korvane::host
