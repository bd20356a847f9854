#pragma once
// Raster layers of a map: a layer showing a raster dataset.
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/Layer.h"
#include "host/data/Raster.h"
#include "host/data/Value.h"

namespace korvane::host {

struct Rgb {
    uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Rgb&) const = default;
};
// "#rrggbb".
std::string rgbText(const Rgb& c);
// Parses "#rrggbb"; nothing for any other text.
std::optional<Rgb> rgbFromText(const std::string& text);

// A random colour ramp: size colours drawn from the seed (the same seed
// gives the same colours), hues anywhere, saturation and brightness in the
// middle and upper ranges so that neighbouring classes stay apart.
std::vector<Rgb> randomColourRamp(size_t size, uint32_t seed);

// A unique-value renderer of a raster layer: the field of the value table
// whose values choose the classes, and per class its value, label and
// colour, in drawing order.
struct UniqueValueRenderer {
    struct Class {
        Value value;
        std::string label;
        Rgb colour;
    };
    std::string field;
    std::vector<Class> classes;
};

// A renderer's colours by class value, for looking up many values: numbers
// by their value, texts as they stand; where a value stands in several
// classes, the first of them gives its colour.
class RendererColours {
public:
    explicit RendererColours(const UniqueValueRenderer& renderer);
    // Nothing for null and for a value no class has.
    std::optional<Rgb> of(const Value& v) const;

private:
    std::unordered_map<double, Rgb> numbers_;
    std::unordered_map<std::string, Rgb> texts_;
};

// Writes a renderer's colours into the raster's own files, so that other
// software draws the raster as this host does: the fields `Red`, `Green`
// and `Blue` of its value table (each row the colour of its value of the
// renderer's field; blank where no class has it), carried into the GDAL
// raster attribute table as its colour columns, and for a Byte or UInt16
// band a colour table (entry = cell value) in the GDAL auxiliary file.
// Every file is replaced whole. Does nothing for a raster that is not an
// integer grid or whose value table lacks `Value` or the renderer's field.
// `tableHasColours`: the value table was written with these colours
// already (addRendererColours), so only the colour table is left to write.
void writeRendererColours(RasterDataset& raster, const UniqueValueRenderer& renderer,
                          bool tableHasColours = false);

// Gives value-table rows held in memory the fields `Red`, `Green` and `Blue`
// of writeRendererColours, so that a table written from them carries the
// renderer's colours from the start. Does nothing where the rows lack the
// renderer's field.
void addRendererColours(RasterTableRows& table, const UniqueValueRenderer& renderer);

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

    // How the layer is drawn: nothing for the default stretch.
    const std::optional<UniqueValueRenderer>& renderer() const { return renderer_; }
    void setRenderer(std::optional<UniqueValueRenderer> r) { renderer_ = std::move(r); }

private:
    RasterDatasetPtr raster_;
    std::optional<UniqueValueRenderer> renderer_;
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
