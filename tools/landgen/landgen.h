// Synthetic landscapes for samples, tests and benchmarks.
//
// Everything here is deterministic: the same arguments give the same bytes on
// every run and every machine with the same GDAL and GEOS, independent of the
// clock and the locale.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::landgen {

// EPSG code of every layer written here: NAD83 / UTM zone 17N, metres.
inline constexpr int kEpsg = 26917;

// Seed used by `kv_landgen sample` when none is given; data/sample was made
// with it.
inline constexpr std::uint64_t kDefaultSampleSeed = 4242;

// One forest type of the sample landscape: FORTYPE text and TYPECODE value.
struct ForestType {
  std::string_view name;
  int code;
};

// The forest types of the sample, in TYPECODE order.
std::span<const ForestType> forestTypes();

// ---------------------------------------------------------------------------
// The sample landscape

struct SampleOptions {
  std::uint64_t seed = kDefaultSampleSeed;
};

struct SampleSummary {
  struct ClassStats {
    std::string name;
    int code = 0;
    int patches = 0;
    double area = 0;  // m²
  };
  int patches = 0;
  int patchesWithHoles = 0;
  std::vector<ClassStats> classes;  // in forestTypes() order
  int regions = 0;
  int coreRows = 0;
  int patchesWithCore = 0;
  int rasterColumns = 0;
  int rasterRows = 0;
  double cellSize = 0;      // m
  double minX = 0, minY = 0, maxX = 0, maxY = 0;  // extent, m
};

// Writes landscape.shp, regions.shp, cores.shp (each with .shx .dbf .prj) and
// landscape.tif into `folder` (created when missing; existing files of those
// names are replaced). Throws std::runtime_error on failure.
SampleSummary generateSample(const std::filesystem::path& folder, const SampleOptions& options = {});

// Edge depth used for cores.shp, metres.
inline constexpr double kSampleEdgeDepth = 30.0;

// ---------------------------------------------------------------------------
// Large grid landscapes

struct GridOptions {
  std::int64_t patches = 0;  // exact number of polygons written, >= 1
  int classes = 0;           // CLASS takes the values 1..classes, >= 1
  std::uint64_t seed = 1;
  double cellSize = 10.0;    // nominal side of one polygon, m
  // Inner vertices move by up to this fraction of cellSize in x and in y;
  // 0 gives a plain grid. At most 0.25, which keeps every polygon convex
  // (at worst with one straight angle), so the polygons tile without overlap.
  double jitter = 0.2;
  bool force = false;        // regenerate even when a cached copy matches
};

struct GridResult {
  std::filesystem::path shapefile;  // FOLDER/NAME.shp
  bool reused = false;              // true: the cached copy was kept
  std::int64_t columns = 0, rows = 0;
};

// Writes FOLDER/NAME.shp (+ .shx .dbf .prj): `patches` quadrilaterals laid out
// row by row from the north-west corner, `columns` = ceil(sqrt(patches)) to a
// row, the last row possibly short. Fields: PATCHID (1..patches), CLASS
// (1..classes) and FORTYPE ("Class N"). With 5 or more classes no two
// polygons that touch, even at a corner, share a class; with 3 or 4 no two
// that share an edge do; so a dissolve by class leaves every polygon a patch
// of its own in those cases.
//
// A sidecar FOLDER/NAME.landgen records the arguments and file sizes of a
// finished run; when it matches, the files are kept and the call returns at
// once (reused = true). The files are written under temporary names first,
// so an interrupted run never leaves a copy that looks complete.
// Throws std::invalid_argument for bad options, std::runtime_error on I/O or
// GDAL failure.
GridResult generateGrid(const std::filesystem::path& folder, const std::string& name, const GridOptions& options);

// Shorthand for benchmarks: default cell size and jitter; returns the path.
std::filesystem::path generateGridLandscape(const std::filesystem::path& folder, const std::string& name,
                                            std::int64_t patches, int classes, std::uint64_t seed);

// ---------------------------------------------------------------------------
// Clustered class rasters

// Writes FOLDER/NAME.tif: an n x n Int32 GeoTIFF (EPSG 26917, square cells of
// cellSize m) of `classes` classes 1..classes in clusters of every size
// (fractal value noise cut at equal shares), without NoData. A sidecar
// FOLDER/NAME.landgen records the arguments: when it matches, the file is
// kept. Returns the path.
std::filesystem::path generateClusteredRaster(const std::filesystem::path& folder, const std::string& name,
                                              std::int64_t n, int classes, std::uint64_t seed, double cellSize = 30);

}  // namespace korvane::landgen
