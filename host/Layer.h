#pragma once
// Layers of a map. Feature layers are backed by a feature class (data layer);
// raster layers by a raster dataset; group layers hold other layers.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvane::host {

enum class LayerKind { Feature, Raster, Group, Other };

class Layer {
public:
    explicit Layer(std::string name, std::string path = {}) : name_(std::move(name)), path_(std::move(path)) {}
    virtual ~Layer() = default;

    virtual LayerKind kind() const { return LayerKind::Other; }
    // The host unit code of the layer's coordinate system (0: unknown).
    virtual int32_t units() const { return 0; }

    const std::string& name() const { return name_; }
    void setName(std::string n) { name_ = std::move(n); }
    // The file the layer shows (empty for layers with no file of their own).
    const std::string& path() const { return path_; }
    void setPath(std::string p) { path_ = std::move(p); }
    bool visible() const { return visible_; }
    void setVisible(bool v) { visible_ = v; }

    // The object ids of the selected features, for layers that select
    // (nothing for the others); used to keep a selection in a document file.
    virtual std::optional<std::vector<int64_t>> selectedIds() const { return std::nullopt; }
    virtual void restoreSelectedIds(const std::vector<int64_t>& ids) {}

    // Field aliases the layer shows instead of the field names (kept in the
    // map document): field name -> alias; an empty alias removes one.
    const std::map<std::string, std::string>& fieldAliases() const { return aliases_; }
    void setFieldAlias(const std::string& field, const std::string& alias) {
        if (alias.empty()) aliases_.erase(field);
        else aliases_[field] = alias;
    }
    // The alias of the field, or the field's name when it has none.
    std::string fieldAlias(const std::string& field) const {
        auto it = aliases_.find(field);
        return it == aliases_.end() ? field : it->second;
    }

private:
    std::map<std::string, std::string> aliases_;
    std::string name_;
    std::string path_;
    bool visible_ = true;
};

using LayerPtr = std::shared_ptr<Layer>;

class GroupLayer : public Layer {
public:
    using Layer::Layer;
    LayerKind kind() const override { return LayerKind::Group; }
    std::vector<LayerPtr>& layers() { return layers_; }
    const std::vector<LayerPtr>& layers() const { return layers_; }

private:
    std::vector<LayerPtr> layers_;
};

// A layer known by its name, kind and file alone (its data not opened).
class RegisteredLayer : public Layer {
public:
    RegisteredLayer(std::string name, std::string path, LayerKind kind)
        : Layer(std::move(name), std::move(path)), kind_(kind) {}
    LayerKind kind() const override { return kind_; }

private:
    LayerKind kind_;
};

const char* layerKindName(LayerKind k);
LayerKind layerKindFromName(const std::string& s);

}  // namespace korvane::host
