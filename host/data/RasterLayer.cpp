#include "host/data/RasterLayer.h"

#include "host/Failure.h"
#include "host/data/FeatureLayer.h"

namespace korvane::host {

RasterLayer::RasterLayer(RasterDatasetPtr raster, std::string name)
    : Layer(name.empty() && raster ? raster->name() : name, raster ? raster->path() : std::string()),
      raster_(std::move(raster)) {}

void RasterLayer::setRaster(RasterDatasetPtr r) {
    raster_ = std::move(r);
    setPath(raster_ ? raster_->path() : std::string());
}

int32_t RasterLayer::units() const { return raster_ ? raster_->units() : 0; }

RasterLayerPtr openRasterLayer(const std::string& path) {
    auto raster = RasterDataset::open(path);
    raster->buildValueTable();
    return std::make_shared<RasterLayer>(raster);
}

std::optional<Fields> layerFields(const Layer& layer) {
    if (auto* fl = dynamic_cast<const FeatureLayer*>(&layer))
        return fl->featureClass() ? std::optional<Fields>(fl->featureClass()->fields()) : std::nullopt;
    if (auto* rl = dynamic_cast<const RasterLayer*>(&layer)) {
        if (!rl->raster()) return std::nullopt;
        TablePtr t = rl->raster()->attributeTable();
        return t ? std::optional<Fields>(t->fields()) : std::nullopt;
    }
    return std::nullopt;
}

}  // namespace korvane::host
