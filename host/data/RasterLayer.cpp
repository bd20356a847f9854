#include "host/data/RasterLayer.h"

#include <fmt/format.h>

#include <cmath>
#include <random>

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

std::string rgbText(const Rgb& c) { return fmt::format("#{:02x}{:02x}{:02x}", c.red, c.green, c.blue); }

std::optional<Rgb> rgbFromText(const std::string& text) {
    if (text.size() != 7 || text[0] != '#') return std::nullopt;
    unsigned v = 0;
    for (size_t i = 1; i < 7; ++i) {
        char ch = text[i];
        int d = ch >= '0' && ch <= '9' ? ch - '0' : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10 : -1;
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<unsigned>(d);
    }
    return Rgb{static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

std::vector<Rgb> randomColourRamp(size_t size, uint32_t seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> hue(0, 360), sat(0.33, 0.66), val(0.75, 1.0);
    std::vector<Rgb> out;
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        double h = hue(gen), s = sat(gen), v = val(gen);
        double c = v * s, x = c * (1 - std::fabs(std::fmod(h / 60, 2) - 1)), m = v - c;
        double r = 0, g = 0, b = 0;
        switch (static_cast<int>(h / 60) % 6) {
            case 0: r = c, g = x; break;
            case 1: r = x, g = c; break;
            case 2: g = c, b = x; break;
            case 3: g = x, b = c; break;
            case 4: r = x, b = c; break;
            default: r = c, b = x;
        }
        auto byte = [&](double t) { return static_cast<uint8_t>(std::lround((t + m) * 255)); };
        out.push_back({byte(r), byte(g), byte(b)});
    }
    return out;
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
