#pragma once
// Raster layers of a map: a layer showing a raster dataset.
#include <memory>
#include <optional>
#include <string>

#include "host/Layer.h"
#include "host/data/Raster.h"

namespace korvane::host {

class RasterLayer : public Layer {
public:
    // name: the layer's name; empty takes the dataset's name (the file name
    // with its extension, or the GRID folder's name).
    explicit RasterLayer(RasterDatasetPtr raster, std::string name = {});
    LayerKind kind() const override { return LayerKind::Raster; }

    // The raster the layer shows (its band 0 is what the tools read).
    const RasterDatasetPtr& raster() const { return raster_; }
    void setRaster(RasterDatasetPtr r);
    // The host unit code of the raster's coordinate system (0 when unknown).
    int32_t units() const override;

private:
    RasterDatasetPtr raster_;
};
using RasterLayerPtr = std::shared_ptr<RasterLayer>;

// Opens a raster as a layer named after its dataset. A single-band integer
// raster without a table gets its value table built here, once (see
// RasterDataset::buildValueTable).
RasterLayerPtr openRasterLayer(const std::string& path);

}  // namespace korvane::host

namespace korvane::host {
// The fields of a layer: a feature layer's feature class, a raster layer's
// attribute table; nothing for other layers and a raster without a table.
std::optional<Fields> layerFields(const Layer& layer);
}  // namespace korvane::host
