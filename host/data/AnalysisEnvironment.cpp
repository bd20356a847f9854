#include "host/data/AnalysisEnvironment.h"

#include <cmath>

#include "host/Failure.h"

namespace korvane::host {

namespace {
constexpr const char* kSource = "RasterAnalysisEnvironment";

// Rounds to whole cells of the lattice that starts at origin, outward:
// a bound within a millionth of a cell of a lattice line stays on it.
double snapDown(double v, double origin, double cell) {
    return origin + std::floor((v - origin) / cell + 1e-6) * cell;
}
double snapUp(double v, double origin, double cell) { return origin + std::ceil((v - origin) / cell - 1e-6) * cell; }
}  // namespace

Envelope RasterLattice::extent() const {
    Envelope e;
    e.xmin = xmin;
    e.ymax = ymax;
    e.xmax = xmin + cellSize * static_cast<double>(columns);
    e.ymin = ymax - cellY() * static_cast<double>(rows);
    e.empty = columns == 0 || rows == 0;
    return e;
}

void RasterAnalysisEnvironment::getCellSize(int32_t& kind, double& size) const {
    kind = cellKind_;
    size = cellKind_ == EnvValue ? cellSize_ : 0.0;
}

void RasterAnalysisEnvironment::setCellSize(int32_t kind, double size) {
    if (kind == EnvValue && !(size > 0 && std::isfinite(size)))
        fail(err::HostInvalidArg, kSource, "A cell size must be a positive number.");
    if (kind != EnvValue && kind != EnvMaxOf && kind != EnvMinOf)
        fail(err::HostInvalidArg, kSource, "Not a cell size setting.");
    cellKind_ = kind;
    cellSize_ = kind == EnvValue ? size : 0.0;
    cellHeight_ = cellSize_;
}

void RasterAnalysisEnvironment::setCellSizeFrom(const RasterDataset& raster) {
    setCellSize(EnvValue, raster.cellSizeX());
    if (raster.cellSizeY() > 0 && std::isfinite(raster.cellSizeY())) cellHeight_ = raster.cellSizeY();
}

bool RasterAnalysisEnvironment::getExtent(int32_t& kind, Envelope& extent) const {
    kind = extentKind_;
    if (extentKind_ != EnvValue) return false;
    extent = extent_;
    return true;
}

void RasterAnalysisEnvironment::setExtent(int32_t kind, const Envelope& extent, const RasterDatasetPtr& snapRaster) {
    if (kind == EnvValue && (extent.empty || !(extent.xmax > extent.xmin) || !(extent.ymax > extent.ymin)))
        fail(err::HostInvalidArg, kSource, "An extent must not be empty.");
    if (kind != EnvValue && kind != EnvIntersectionOf && kind != EnvUnionOf)
        fail(err::HostInvalidArg, kSource, "Not an extent setting.");
    extentKind_ = kind;
    extent_ = kind == EnvValue ? extent : Envelope{};
    snap_ = snapRaster;
}

void RasterAnalysisEnvironment::setExtentFrom(const RasterDataset& raster) { setExtent(EnvValue, raster.extent()); }

RasterLattice RasterAnalysisEnvironment::outputLattice(const RasterDataset& derivedFrom) const {
    const RasterDataset& grid = snap_ ? *snap_ : derivedFrom;
    RasterLattice l;
    l.cellSize = cellKind_ == EnvValue ? cellSize_ : derivedFrom.cellSizeX();
    l.cellHeight = cellKind_ == EnvValue ? cellHeight_ : derivedFrom.cellSizeY();
    const double cellY = l.cellY();
    Envelope want = extentKind_ == EnvValue ? extent_ : derivedFrom.extent();
    Envelope origin = grid.extent();
    l.xmin = snapDown(want.xmin, origin.xmin, l.cellSize);
    l.ymax = snapUp(want.ymax, origin.ymax, cellY);
    double xmax = snapUp(want.xmax, origin.xmin, l.cellSize);
    double ymin = snapDown(want.ymin, origin.ymax, cellY);
    l.columns = std::max<int64_t>(0, std::llround((xmax - l.xmin) / l.cellSize));
    l.rows = std::max<int64_t>(0, std::llround((l.ymax - ymin) / cellY));
    return l;
}

}  // namespace korvane::host
