#pragma once
// The analysis environment that every raster operator takes: where outputs
// go, their coordinate system and name prefixes, the mask, the cell size,
// the extent and whether inputs are checked. A plain object: operators read
// it, callers copy it (SetSpatialAnalysisSettings of the raster library).
//
// Output grids are snapped to the lattice of the raster they derive from:
// their cells line up with that raster's cells (same origin), whatever cell
// size and extent the environment asks for.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "host/data/Geometry.h"
#include "host/data/Raster.h"
#include "host/data/SpatialReference.h"
#include "host/data/Table.h"

namespace korvane::host {

// How a cell size or an extent is given.
enum EnvSetting : int32_t {
    EnvMaxOf = 1,          // the largest of the inputs' (cell size)
    EnvMinOf = 2,          // the smallest of the inputs' (cell size)
    EnvValue = 3,          // an explicit value (or one taken from a given raster)
    EnvIntersectionOf = 4, // the inputs' common extent
    EnvUnionOf = 5,        // the extent that covers every input
};

// A mask or a snap raster: a raster or a feature class, or nothing.
using GeoDataset = std::variant<std::monostate, RasterDatasetPtr, FeatureClassPtr>;
inline bool isSet(const GeoDataset& g) { return !std::holds_alternative<std::monostate>(g); }

// The cells of an output grid: its north-west corner, cell width
// (cellSize) and height (cellHeight; 0 for square cells) and its size.
struct RasterLattice {
    double xmin = 0, ymax = 0, cellSize = 0, cellHeight = 0;
    int64_t columns = 0, rows = 0;
    double cellY() const { return cellHeight > 0 ? cellHeight : cellSize; }
    Envelope extent() const;
};

class RasterAnalysisEnvironment {
public:
    // The folder outputs are written to (empty: none; operators then use the
    // scratch folder).
    std::string outWorkspace;
    std::optional<SpatialReference> outSpatialReference;
    std::string defaultOutputRasterPrefix;
    std::string defaultOutputVectorPrefix;
    GeoDataset mask;
    bool verifyType = false;

    // kind: EnvMaxOf (the default) or EnvMinOf give size 0; EnvValue its value.
    void getCellSize(int32_t& kind, double& size) const;
    // Fails (HostInvalidArg) for a value that is not a positive number.
    void setCellSize(int32_t kind, double size = 0);
    // The cell size of the given raster as the value (its width and height,
    // for cells that are not square).
    void setCellSizeFrom(const RasterDataset& raster);

    // False when no extent is set (the inputs' intersection is used).
    bool getExtent(int32_t& kind, Envelope& extent) const;
    // Fails (HostInvalidArg) for an empty envelope with EnvValue.
    void setExtent(int32_t kind, const Envelope& extent = {}, const RasterDatasetPtr& snapRaster = nullptr);
    void setExtentFrom(const RasterDataset& raster);
    const RasterDatasetPtr& snapRaster() const { return snap_; }

    // The output grid of an operator on derivedFrom: the environment's cell
    // size (or derivedFrom's), its extent (or derivedFrom's), the extent
    // grown outward to whole cells on the lattice of the snap raster when
    // one is set, else of derivedFrom.
    RasterLattice outputLattice(const RasterDataset& derivedFrom) const;

private:
    int32_t cellKind_ = EnvMaxOf;
    double cellSize_ = 0, cellHeight_ = 0;
    int32_t extentKind_ = EnvIntersectionOf;
    Envelope extent_;
    RasterDatasetPtr snap_;
};

}  // namespace korvane::host
