#pragma once
// The map view as a picture: the visible layers of a map drawn as the
// host's view draws them, bottom layer first, over the map's full extent or
// a given one, and the picture written as a PNG file.
//
// Raster layers: a unique-value renderer's colours (a value in several
// classes takes the first one's colour; a value in none is not drawn),
// otherwise a grey stretch from the lowest value (black) to the highest
// (white) of the value table, or of the cells drawn when there is none.
// Cells are picked by nearest neighbour (the cell under each pixel's
// centre), never blended; NoData is transparent. The cells are read in
// strips of whole block rows, each dropped before the next, so memory does
// not grow with the raster.
//
// Feature layers: outlined (polygons by their rings, lines as lines, points
// as pixels) in kOutlineColour; selected features in kSelectionColour,
// drawn over the others and touching every pixel their outline crosses.
//
// Pixels are square: a picture whose size has another aspect than the
// extent shows more than the extent, centred on it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/data/Geometry.h"
#include "host/data/RasterLayer.h"

namespace korvane::host {

class Map;
class Layer;

inline constexpr int64_t kDefaultPictureWidth = 1200;
inline constexpr int64_t kMaxPictureSide = 20000;
inline constexpr int64_t kMaxPicturePixels = 50'000'000;
inline constexpr Rgb kOutlineColour{0, 0, 0};
inline constexpr Rgb kSelectionColour{0, 255, 255};

struct ViewRequest {
    // The picture's size in pixels. Both 0: kDefaultPictureWidth wide and
    // as high as the extent's aspect gives; one of them 0: from the other.
    int64_t width = 0;
    int64_t height = 0;
    // What to show; nothing: the full extent of the map's visible layers.
    std::optional<Envelope> extent;
};

struct Picture {
    int64_t width = 0;
    int64_t height = 0;
    Envelope extent;            // what the picture shows
    std::vector<uint8_t> rgba;  // rows from the top, red, green, blue, alpha; alpha 0 where nothing is drawn

    const uint8_t* pixel(int64_t x, int64_t y) const { return rgba.data() + 4 * (y * width + x); }
};

// The extent of a layer's data; nothing for a layer with no data to draw.
std::optional<Envelope> layerExtent(const Layer& layer);
// The extent of the map's visible layers (group members included).
std::optional<Envelope> visibleExtent(const Map& map);

// Draws the map. Fails (HostInvalidArg) with a message for a size out of
// range, a map without a visible layer to draw, an extent without area and
// an extent that meets no visible layer; (HostGeneric) when a layer's data
// cannot be read.
Picture drawMap(const Map& map, const ViewRequest& request);

// Writes the picture as a PNG file (red, green, blue, alpha) through the
// replace helper: under a temporary name in the file's folder, put in place
// when complete. Fails (HostGeneric) with the file as it was.
void writePng(const Picture& picture, const std::string& path);

}  // namespace korvane::host
