// Helpers shared by the generators in this folder; not part of the API.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include <gdal_priv.h>
#include <geos_c.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

namespace korvane::landgen::detail {

// splitmix64: small, fast and the same on every platform (unlike the
// standard distributions, whose output is left to the implementation).
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }  // [0, 1)
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  std::uint64_t below(std::uint64_t n) { return next() % n; }

 private:
  std::uint64_t state_;
};

// A stateless hash of a few integers to [0, 1), for lattice noise.
double hashUnit(std::uint64_t seed, std::int64_t a, std::int64_t b, std::int64_t c = 0);

// A reentrant GEOS context that throws on the first error it reports.
class Geos {
 public:
  Geos();
  ~Geos();
  Geos(const Geos&) = delete;
  Geos& operator=(const Geos&) = delete;
  GEOSContextHandle_t get() const { return ctx_; }
  operator GEOSContextHandle_t() const { return ctx_; }
  // Throws std::runtime_error naming `what` and the last GEOS message.
  [[noreturn]] void fail(const std::string& what) const;
  std::string lastError() const { return lastError_; }

 private:
  static void onError(const char* message, void* userdata);
  GEOSContextHandle_t ctx_;
  std::string lastError_;
};

struct GeomDeleter {
  GEOSContextHandle_t ctx = nullptr;
  void operator()(GEOSGeometry* g) const {
    if (g) GEOSGeom_destroy_r(ctx, g);
  }
};
using GeomPtr = std::unique_ptr<GEOSGeometry, GeomDeleter>;

// Takes ownership of `g`; throws when it is null.
GeomPtr own(const Geos& geos, GEOSGeometry* g, const char* what);

// OGR geometry of a GEOS one (through WKB).
std::unique_ptr<OGRGeometry> toOgr(const Geos& geos, const GEOSGeometry* g);

struct DatasetCloser {
  void operator()(GDALDataset* ds) const {
    if (ds) GDALClose(ds);
  }
};
using DatasetPtr = std::unique_ptr<GDALDataset, DatasetCloser>;

// The CRS of every generated layer.
OGRSpatialReference projectedSrs();

// Removes NAME.shp/.shx/.dbf/.prj/.cpg/.qix beside `shp`, if present.
void removeShapefile(const std::filesystem::path& shp);

// A new single-layer shapefile `shp` (existing files of that name are
// replaced) with a polygon layer in projectedSrs() and a fixed DBF date, so
// that the bytes do not depend on the day of the run.
struct NewShapefile {
  DatasetPtr dataset;
  OGRLayer* layer = nullptr;
};
NewShapefile createPolygonShapefile(const std::filesystem::path& shp);

void addField(OGRLayer& layer, const char* name, OGRFieldType type, int width, int precision = 0);

// Closes the dataset, reporting a failed flush.
void closeDataset(DatasetPtr& ds, const std::filesystem::path& path);

}  // namespace korvane::landgen::detail
