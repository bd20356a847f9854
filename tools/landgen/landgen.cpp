#include "landgen.h"

#include <array>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>

#include "detail.h"

namespace korvane::landgen {

namespace {
constexpr std::array<ForestType, 6> kForestTypes{{
    {"Pine", 10},
    {"Black Spruce", 20},
    {"Birch", 30},
    {"Aspen", 40},
    {"Mixed", 50},
    {"Wetland", 60},
}};
}  // namespace

std::span<const ForestType> forestTypes() { return kForestTypes; }

namespace detail {

double hashUnit(std::uint64_t seed, std::int64_t a, std::int64_t b, std::int64_t c) {
  Rng rng(seed ^ (static_cast<std::uint64_t>(a) * 0xD1B54A32D192ED03ull) ^
          (static_cast<std::uint64_t>(b) * 0xABC98388FB8FAC03ull) ^
          (static_cast<std::uint64_t>(c) * 0x8CB92BA72F3D8DD7ull));
  rng.next();
  return rng.uniform();
}

Geos::Geos() {
  ctx_ = GEOS_init_r();
  if (!ctx_) throw std::runtime_error("cannot start GEOS");
  GEOSContext_setErrorMessageHandler_r(ctx_, &Geos::onError, this);
}

Geos::~Geos() { GEOS_finish_r(ctx_); }

void Geos::onError(const char* message, void* userdata) {
  static_cast<Geos*>(userdata)->lastError_ = message ? message : "";
}

void Geos::fail(const std::string& what) const {
  throw std::runtime_error(lastError_.empty() ? what : fmt::format("{}: {}", what, lastError_));
}

GeomPtr own(const Geos& geos, GEOSGeometry* g, const char* what) {
  if (!g) geos.fail(what);
  return GeomPtr(g, GeomDeleter{geos.get()});
}

std::unique_ptr<OGRGeometry> toOgr(const Geos& geos, const GEOSGeometry* g) {
  GEOSWKBWriter* writer = GEOSWKBWriter_create_r(geos);
  if (!writer) geos.fail("cannot create a WKB writer");
  std::size_t size = 0;
  unsigned char* wkb = GEOSWKBWriter_write_r(geos, writer, g, &size);
  GEOSWKBWriter_destroy_r(geos, writer);
  if (!wkb) geos.fail("cannot encode a geometry as WKB");
  OGRGeometry* out = nullptr;
  const OGRErr err = OGRGeometryFactory::createFromWkb(wkb, nullptr, &out, size);
  GEOSFree_r(geos, wkb);
  if (err != OGRERR_NONE || !out) throw std::runtime_error("cannot decode a WKB geometry");
  return std::unique_ptr<OGRGeometry>(out);
}

OGRSpatialReference projectedSrs() {
  OGRSpatialReference srs;
  if (srs.importFromEPSG(kEpsg) != OGRERR_NONE)
    throw std::runtime_error(fmt::format("cannot load EPSG:{} (is proj.db installed?)", kEpsg));
  srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  return srs;
}

void removeShapefile(const std::filesystem::path& shp) {
  for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg", ".qix"}) {
    std::filesystem::path p = shp;
    p.replace_extension(ext);
    std::error_code ec;
    std::filesystem::remove(p, ec);
    if (ec) throw std::runtime_error(fmt::format("cannot remove {}: {}", p.string(), ec.message()));
  }
}

NewShapefile createPolygonShapefile(const std::filesystem::path& shp) {
  GDALAllRegister();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
  if (!driver) throw std::runtime_error("GDAL has no ESRI Shapefile driver");
  removeShapefile(shp);
  NewShapefile out;
  out.dataset.reset(driver->Create(shp.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
  if (!out.dataset) throw std::runtime_error(fmt::format("cannot create {}: {}", shp.string(), CPLGetLastErrorMsg()));
  OGRSpatialReference srs = projectedSrs();
  const char* options[] = {"SHPT=POLYGON", "DBF_DATE_LAST_UPDATE=2024-01-01", nullptr};
  out.layer = out.dataset->CreateLayer(shp.stem().string().c_str(), &srs, wkbPolygon, const_cast<char**>(options));
  if (!out.layer)
    throw std::runtime_error(fmt::format("cannot create layer in {}: {}", shp.string(), CPLGetLastErrorMsg()));
  return out;
}

void addField(OGRLayer& layer, const char* name, OGRFieldType type, int width, int precision) {
  OGRFieldDefn field(name, type);
  field.SetWidth(width);
  field.SetPrecision(precision);
  if (layer.CreateField(&field) != OGRERR_NONE)
    throw std::runtime_error(fmt::format("cannot create field {}: {}", name, CPLGetLastErrorMsg()));
}

void closeDataset(DatasetPtr& ds, const std::filesystem::path& path) {
  if (!ds) return;
  CPLErrorReset();
  ds.reset();
  if (CPLGetLastErrorType() >= CE_Failure)
    throw std::runtime_error(fmt::format("cannot write {}: {}", path.string(), CPLGetLastErrorMsg()));
}

}  // namespace detail
}  // namespace korvane::landgen
