// Checks of the landscape generator: the sample's layers read back through
// OGR/GDAL and checked with GEOS, and the grid landscapes with their cache.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <unistd.h>

#include "detail.h"
#include "landgen.h"

namespace fs = std::filesystem;
namespace lg = korvane::landgen;
using lg::detail::Geos;
using lg::detail::GeomPtr;
using lg::detail::own;

namespace {

class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    path_ = fs::temp_directory_path() / fmt::format("kv_landgen_test_{}_{}", getpid(), counter++);
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  EXPECT_TRUE(in) << p;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Feature {
  std::unique_ptr<OGRFeature> row;
  GeomPtr geom;
  std::string str(const char* f) const { return row->GetFieldAsString(f); }
  int integer(const char* f) const { return row->GetFieldAsInteger(f); }
  double real(const char* f) const { return row->GetFieldAsDouble(f); }
};

struct FieldInfo {
  OGRFieldType type;
  int width, precision;
};

struct Layer {
  std::vector<Feature> features;
  std::map<std::string, FieldInfo> fields;
  std::unique_ptr<OGRSpatialReference> srs;
};

Layer readLayer(const Geos& geos, const fs::path& shp) {
  GDALAllRegister();
  lg::detail::DatasetPtr ds(GDALDataset::Open(shp.string().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
  if (!ds) throw std::runtime_error("cannot open " + shp.string());
  OGRLayer* layer = ds->GetLayer(0);
  Layer out;
  OGRFeatureDefn* defn = layer->GetLayerDefn();
  for (int i = 0; i < defn->GetFieldCount(); ++i) {
    const OGRFieldDefn* f = defn->GetFieldDefn(i);
    out.fields[f->GetNameRef()] = {f->GetType(), f->GetWidth(), f->GetPrecision()};
  }
  if (layer->GetSpatialRef()) out.srs.reset(layer->GetSpatialRef()->Clone());
  for (auto& f : *layer) {
    Feature feature;
    OGRGeometry* g = f->GetGeometryRef();
    if (g) {
      std::vector<unsigned char> wkb(g->WkbSize());
      g->exportToWkb(wkbNDR, wkb.data());
      feature.geom = own(geos, GEOSGeomFromWKB_buf_r(geos, wkb.data(), wkb.size()), "bad WKB");
    }
    feature.row.reset(f.release());
    out.features.push_back(std::move(feature));
  }
  return out;
}

double area(const Geos& geos, const GEOSGeometry* g) {
  double a = 0;
  GEOSArea_r(geos, g, &a);
  return a;
}

GeomPtr unionOf(const Geos& geos, const std::vector<Feature>& fs) {
  std::vector<GEOSGeometry*> parts;
  for (const Feature& f : fs) parts.push_back(GEOSGeom_clone_r(geos, f.geom.get()));
  GeomPtr all = own(geos, GEOSGeom_createCollection_r(geos, GEOS_GEOMETRYCOLLECTION, parts.data(), parts.size()), "collect");
  return own(geos, GEOSUnaryUnion_r(geos, all.get()), "union");
}

void expectProjected(const Layer& layer) {
  ASSERT_TRUE(layer.srs);
  OGRSpatialReference expected;
  expected.importFromEPSG(lg::kEpsg);
  EXPECT_TRUE(layer.srs->IsSame(&expected)) << "layer CRS is not EPSG:" << lg::kEpsg;
  EXPECT_TRUE(layer.srs->IsProjected());
}

void expectField(const Layer& layer, const char* name, OGRFieldType type, int width = -1, int precision = -1) {
  auto it = layer.fields.find(name);
  ASSERT_NE(it, layer.fields.end()) << "no field " << name;
  EXPECT_EQ(it->second.type, type) << name;
  if (width >= 0) {
    EXPECT_EQ(it->second.width, width) << name;
  }
  if (precision >= 0) {
    EXPECT_EQ(it->second.precision, precision) << name;
  }
}

const char* const kSampleFiles[] = {
    "landscape.shp", "landscape.shx", "landscape.dbf", "landscape.prj", "regions.shp", "regions.shx", "regions.dbf",
    "regions.prj",   "cores.shp",     "cores.shx",     "cores.dbf",     "cores.prj",   "landscape.tif",
    "landscape.tif.vat.dbf", "standage.tif", "standage.tif.vat.dbf"};

// One fresh sample for every test of the suite.
class Sample : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    summary_ = new lg::SampleSummary(lg::generateSample(dir_->path()));
  }
  static void TearDownTestSuite() {
    delete summary_;
    delete dir_;
  }
  static fs::path file(const char* name) { return dir_->path() / name; }
  static const lg::SampleSummary& summary() { return *summary_; }

  Geos geos;

 private:
  static inline TempDir* dir_ = nullptr;
  static inline lg::SampleSummary* summary_ = nullptr;
};

TEST_F(Sample, SameSeedGivesSameBytesAndOtherSeedsDiffer) {
  TempDir again;
  lg::generateSample(again.path());
  for (const char* name : kSampleFiles) EXPECT_EQ(bytes(file(name)), bytes(again.path() / name)) << name;

  TempDir other;
  lg::generateSample(other.path(), lg::SampleOptions{lg::kDefaultSampleSeed + 1});
  EXPECT_NE(bytes(file("landscape.shp")), bytes(other.path() / "landscape.shp"));
}

TEST_F(Sample, CommittedSampleIsCurrent) {
  // data/sample must be what the generator writes now; regenerate it with
  // `kv_landgen sample data/sample` after changing the generator.
  const fs::path committed = fs::path(KORVANE_SOURCE_DIR) / "data" / "sample";
  for (const char* name : kSampleFiles) {
    ASSERT_TRUE(fs::exists(committed / name)) << name;
    EXPECT_EQ(bytes(file(name)), bytes(committed / name)) << name << " differs from data/sample";
  }
}

TEST_F(Sample, LandscapeIsAValidTessellationOfDissolvedPatches) {
  const Layer layer = readLayer(geos, file("landscape.shp"));
  expectProjected(layer);
  expectField(layer, "FORTYPE", OFTString);
  expectField(layer, "TYPECODE", OFTInteger, 4);
  expectField(layer, "PATCHID", OFTInteger);
  const auto& ps = layer.features;
  ASSERT_GE(ps.size(), 200u);
  ASSERT_LE(ps.size(), 400u);
  EXPECT_EQ(static_cast<int>(ps.size()), summary().patches);

  std::map<int, std::string> typeOfCode;
  for (const auto& ft : lg::forestTypes()) typeOfCode[ft.code] = std::string(ft.name);
  std::set<int> ids, codes;
  int withHoles = 0;
  double total = 0;
  for (const Feature& p : ps) {
    ASSERT_TRUE(p.geom);
    EXPECT_EQ(GEOSGeomTypeId_r(geos, p.geom.get()), GEOS_POLYGON) << "PATCHID " << p.integer("PATCHID");
    EXPECT_EQ(GEOSisValid_r(geos, p.geom.get()), 1) << "PATCHID " << p.integer("PATCHID");
    EXPECT_GE(area(geos, p.geom.get()), 1.0);
    ids.insert(p.integer("PATCHID"));
    codes.insert(p.integer("TYPECODE"));
    ASSERT_TRUE(typeOfCode.count(p.integer("TYPECODE"))) << p.integer("TYPECODE");
    EXPECT_EQ(p.str("FORTYPE"), typeOfCode[p.integer("TYPECODE")]);
    withHoles += GEOSGetNumInteriorRings_r(geos, p.geom.get()) > 0;
    total += area(geos, p.geom.get());
  }
  EXPECT_EQ(ids.size(), ps.size());
  EXPECT_EQ(*ids.begin(), 1);
  EXPECT_EQ(*ids.rbegin(), static_cast<int>(ps.size()));
  EXPECT_GE(codes.size(), 5u);
  EXPECT_GT(withHoles, 0) << "no patch encloses another";

  // The patches tile the 5 km square: no gaps (union is the square) and no
  // overlaps (areas add up to it).
  GeomPtr all = unionOf(geos, ps);
  double minX, minY, maxX, maxY;
  GEOSGeom_getXMin_r(geos, all.get(), &minX), GEOSGeom_getYMin_r(geos, all.get(), &minY);
  GEOSGeom_getXMax_r(geos, all.get(), &maxX), GEOSGeom_getYMax_r(geos, all.get(), &maxY);
  EXPECT_NEAR(maxX - minX, 5000.0, 1e-6);
  EXPECT_NEAR(maxY - minY, 5000.0, 1e-6);
  EXPECT_NEAR(area(geos, all.get()), 25e6, 1e-3);
  EXPECT_NEAR(total, 25e6, 1e-3);

  // Dissolved: two patches of one class never share an edge.
  for (std::size_t i = 0; i < ps.size(); ++i)
    for (std::size_t j = i + 1; j < ps.size(); ++j) {
      if (ps[i].integer("TYPECODE") != ps[j].integer("TYPECODE")) continue;
      EXPECT_EQ(GEOSRelatePattern_r(geos, ps[i].geom.get(), ps[j].geom.get(), "****1****"), 0)
          << "patches " << ps[i].integer("PATCHID") << " and " << ps[j].integer("PATCHID") << " share an edge";
    }
}

TEST_F(Sample, CoresAreInwardBuffersOfTheirPatchesInPatchOrder) {
  const Layer patches = readLayer(geos, file("landscape.shp"));
  const Layer cores = readLayer(geos, file("cores.shp"));
  expectProjected(cores);
  expectField(cores, "FORTYPE", OFTString);
  expectField(cores, "TYPECODE", OFTInteger);
  expectField(cores, "Patch_Area", OFTReal, 20, 5);
  expectField(cores, "Core_Area", OFTReal, 20, 5);
  EXPECT_EQ(static_cast<int>(cores.features.size()), summary().coreRows);

  // Owner of each row: the patch holding a point of the core.
  std::vector<int> owner;
  for (const Feature& c : cores.features) {
    ASSERT_TRUE(c.geom);
    ASSERT_EQ(GEOSGeomTypeId_r(geos, c.geom.get()), GEOS_POLYGON);
    EXPECT_EQ(GEOSisValid_r(geos, c.geom.get()), 1);
    GeomPtr inside = own(geos, GEOSPointOnSurface_r(geos, c.geom.get()), "point on surface");
    int found = -1;
    for (std::size_t p = 0; p < patches.features.size() && found < 0; ++p)
      if (GEOSContains_r(geos, patches.features[p].geom.get(), inside.get()) == 1) found = static_cast<int>(p);
    ASSERT_GE(found, 0) << "core row outside every patch";
    owner.push_back(found);
  }

  // Rows of one patch follow one another, in patch order.
  for (std::size_t i = 1; i < owner.size(); ++i) EXPECT_LE(owner[i - 1], owner[i]) << "row " << i;

  std::map<int, double> partSum;
  for (std::size_t i = 0; i < owner.size(); ++i) {
    const Feature& c = cores.features[i];
    const Feature& p = patches.features[owner[i]];
    const double patchArea = area(geos, p.geom.get());
    EXPECT_EQ(c.str("FORTYPE"), p.str("FORTYPE"));
    EXPECT_EQ(c.integer("TYPECODE"), p.integer("TYPECODE"));
    EXPECT_NEAR(c.real("Patch_Area"), patchArea, 1e-5);
    EXPECT_LE(c.real("Core_Area"), c.real("Patch_Area"));
    // The core lies inside its patch, at least the edge depth from its outline.
    GeomPtr outside = own(geos, GEOSDifference_r(geos, c.geom.get(), p.geom.get()), "difference");
    EXPECT_LT(area(geos, outside.get()), 1e-6);
    GeomPtr outline = own(geos, GEOSBoundary_r(geos, p.geom.get()), "boundary");
    double d = 0;
    GEOSDistance_r(geos, c.geom.get(), outline.get(), &d);
    EXPECT_GT(d, lg::kSampleEdgeDepth * 0.98);
    partSum[owner[i]] += area(geos, c.geom.get());
    if (i > 0 && owner[i - 1] == owner[i]) {
      EXPECT_EQ(c.real("Core_Area"), cores.features[i - 1].real("Core_Area"));
    }
  }
  for (std::size_t i = 0; i < owner.size(); ++i)
    EXPECT_NEAR(cores.features[i].real("Core_Area"), partSum[owner[i]], 1e-4);

  // Exactly the patches whose inward buffer is not empty have rows, and the
  // pieces are the pieces of that buffer.
  int multi = 0;
  for (std::size_t p = 0; p < patches.features.size(); ++p) {
    GeomPtr core = own(geos, GEOSBuffer_r(geos, patches.features[p].geom.get(), -lg::kSampleEdgeDepth, 8), "buffer");
    const int rows = static_cast<int>(std::count(owner.begin(), owner.end(), static_cast<int>(p)));
    const int expected = GEOSisEmpty_r(geos, core.get()) == 1 ? 0 : GEOSGetNumGeometries_r(geos, core.get());
    EXPECT_EQ(rows, expected) << "PATCHID " << patches.features[p].integer("PATCHID");
    multi += rows > 1;
  }
  EXPECT_GT(multi, 0) << "no patch whose core falls apart";
  EXPECT_LT(summary().patchesWithCore, summary().patches) << "every patch has a core: no small patches";
}

TEST_F(Sample, RegionsTileTheLandscapeExtent) {
  const Layer regions = readLayer(geos, file("regions.shp"));
  const Layer patches = readLayer(geos, file("landscape.shp"));
  expectProjected(regions);
  expectField(regions, "REGION", OFTString);
  expectField(regions, "REGIONID", OFTInteger);
  ASSERT_GE(regions.features.size(), 4u);
  ASSERT_LE(regions.features.size(), 6u);
  std::set<std::string> names;
  std::set<int> ids;
  double total = 0;
  for (const Feature& r : regions.features) {
    EXPECT_EQ(GEOSisValid_r(geos, r.geom.get()), 1);
    names.insert(r.str("REGION"));
    ids.insert(r.integer("REGIONID"));
    total += area(geos, r.geom.get());
  }
  EXPECT_EQ(names.size(), regions.features.size());
  EXPECT_EQ(ids.size(), regions.features.size());
  EXPECT_TRUE(names.count("North"));
  GeomPtr landscape = unionOf(geos, patches.features);
  GeomPtr all = unionOf(geos, regions.features);
  GeomPtr diff = own(geos, GEOSSymDifference_r(geos, all.get(), landscape.get()), "symdifference");
  EXPECT_LT(area(geos, diff.get()), 1e-3) << "regions and landscape cover different ground";
  EXPECT_NEAR(total, area(geos, landscape.get()), 1e-3) << "regions overlap";
}

TEST_F(Sample, RasterAgreesWithPolygons) {
  const Layer patches = readLayer(geos, file("landscape.shp"));
  lg::detail::DatasetPtr ds(GDALDataset::Open(file("landscape.tif").string().c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  ASSERT_TRUE(ds);
  const int cols = ds->GetRasterXSize(), rows = ds->GetRasterYSize();
  EXPECT_EQ(cols, 500);
  EXPECT_EQ(rows, 500);
  double gt[6];
  ASSERT_EQ(ds->GetGeoTransform(gt), CE_None);
  EXPECT_EQ(gt[0], summary().minX);
  EXPECT_EQ(gt[3], summary().maxY);
  EXPECT_EQ(gt[1], 10.0);
  EXPECT_EQ(gt[5], -10.0);
  EXPECT_EQ(gt[2], 0.0);
  EXPECT_EQ(gt[4], 0.0);
  ASSERT_TRUE(ds->GetSpatialRef());
  OGRSpatialReference expected;
  expected.importFromEPSG(lg::kEpsg);
  EXPECT_TRUE(ds->GetSpatialRef()->IsSame(&expected));
  GDALRasterBand* band = ds->GetRasterBand(1);
  EXPECT_TRUE(band->GetRasterDataType() == GDT_Int16 || band->GetRasterDataType() == GDT_Int32);
  int hasNoData = 0;
  EXPECT_EQ(band->GetNoDataValue(&hasNoData), -9999.0);
  EXPECT_TRUE(hasNoData);
  std::vector<std::int32_t> v(static_cast<std::size_t>(cols) * rows);
  ASSERT_EQ(band->RasterIO(GF_Read, 0, 0, cols, rows, v.data(), cols, rows, GDT_Int32, 0, 0), CE_None);

  std::map<int, double> cellArea, polyArea, perimeter;
  for (std::int32_t x : v) cellArea[x] += gt[1] * -gt[5];
  EXPECT_EQ(cellArea.count(-9999), 0u) << "cells left without a class";
  for (const Feature& p : patches.features) {
    polyArea[p.integer("TYPECODE")] += area(geos, p.geom.get());
    double len = 0;
    GEOSLength_r(geos, p.geom.get(), &len);
    perimeter[p.integer("TYPECODE")] += len;
  }
  for (const auto& [code, a] : polyArea) {
    // Each boundary cell is off by less than its own area, and the errors
    // mostly cancel: 3 % of perimeter x cell is still a wide margin.
    EXPECT_NEAR(cellArea[code], a, 0.03 * perimeter[code] * gt[1]) << "TYPECODE " << code;
  }

  // Cell values are the class of the patch holding the cell centre.
  lg::detail::Rng rng(99);
  for (int k = 0; k < 300; ++k) {
    const int c = static_cast<int>(rng.below(cols)), r = static_cast<int>(rng.below(rows));
    GeomPtr pt = own(geos, GEOSGeom_createPointFromXY_r(geos, gt[0] + (c + 0.5) * gt[1], gt[3] + (r + 0.5) * gt[5]), "pt");
    for (const Feature& p : patches.features)
      if (GEOSIntersects_r(geos, p.geom.get(), pt.get()) == 1) {
        EXPECT_EQ(v[static_cast<std::size_t>(r) * cols + c], p.integer("TYPECODE")) << "cell " << c << "," << r;
        break;
      }
  }
}

// ---------------------------------------------------------------------------
// Grid landscapes

struct GridCase {
  std::int64_t patches;
  int classes;
  double jitter = 0.2;
};

void checkGrid(const Geos& geos, const lg::GridResult& r, const GridCase& gc) {
  SCOPED_TRACE(fmt::format("{} patches, {} classes, jitter {}", gc.patches, gc.classes, gc.jitter));
  const Layer layer = readLayer(geos, r.shapefile);
  expectProjected(layer);
  expectField(layer, "CLASS", OFTInteger);
  expectField(layer, "PATCHID", OFTInteger);
  ASSERT_EQ(static_cast<std::int64_t>(layer.features.size()), gc.patches);
  ASSERT_EQ(r.columns * (r.rows - 1) < gc.patches && gc.patches <= r.columns * r.rows, true);

  std::set<int> classes;
  double total = 0;
  for (std::size_t i = 0; i < layer.features.size(); ++i) {
    const Feature& f = layer.features[i];
    ASSERT_EQ(f.integer("PATCHID"), static_cast<int>(i + 1));
    const int k = f.integer("CLASS");
    ASSERT_GE(k, 1);
    ASSERT_LE(k, gc.classes);
    classes.insert(k);
    EXPECT_EQ(f.str("FORTYPE"), fmt::format("Class {}", k));
    ASSERT_EQ(GEOSisValid_r(geos, f.geom.get()), 1) << "PATCHID " << i + 1;
    total += area(geos, f.geom.get());
  }
  if (gc.classes <= 10 && gc.patches >= 20 * gc.classes) {
    EXPECT_EQ(static_cast<int>(classes.size()), gc.classes);
  }

  // No overlaps: the areas add up to the area of the union.
  GeomPtr all = unionOf(geos, layer.features);
  EXPECT_NEAR(area(geos, all.get()), total, 1e-6 * total);
  EXPECT_EQ(GEOSGeomTypeId_r(geos, all.get()), GEOS_POLYGON) << "the grid is not one connected block";

  // Neighbours in the grid: those sharing an edge always differ in class
  // from 2 classes on; with 5 or more, those touching at a corner do too.
  if (gc.classes < 2) return;
  auto cls = [&](std::int64_t r0, std::int64_t c0) -> int {
    const std::int64_t i = r0 * r.columns + c0;
    return i < gc.patches ? layer.features[i].integer("CLASS") : -1;
  };
  for (std::int64_t row = 0; row < r.rows; ++row)
    for (std::int64_t c = 0; c < r.columns && row * r.columns + c < gc.patches; ++c) {
      const int k = cls(row, c);
      if (c + 1 < r.columns) {
        EXPECT_NE(k, cls(row, c + 1)) << row << "," << c;
      }
      if (row + 1 < r.rows) {
        EXPECT_NE(k, cls(row + 1, c)) << row << "," << c;
      }
      if (gc.classes >= 5 && row + 1 < r.rows) {
        if (c > 0) {
          EXPECT_NE(k, cls(row + 1, c - 1)) << row << "," << c;
        }
        if (c + 1 < r.columns) {
          EXPECT_NE(k, cls(row + 1, c + 1)) << row << "," << c;
        }
      }
    }
}

TEST(Grid, WritesExactlyNPolygonsWithKClasses) {
  Geos geos;
  TempDir dir;
  for (const GridCase gc : {GridCase{1003, 10}, GridCase{400, 1000}, GridCase{150, 3}, GridCase{50, 2},
                            GridCase{7, 1}, GridCase{1, 5}, GridCase{222, 6, 0.0}, GridCase{333, 7, 0.25}}) {
    const std::string name = fmt::format("g{}_{}", gc.patches, gc.classes);
    lg::GridOptions o;
    o.patches = gc.patches;
    o.classes = gc.classes;
    o.jitter = gc.jitter;
    o.seed = 11;
    const lg::GridResult r = lg::generateGrid(dir.path(), name, o);
    EXPECT_EQ(r.shapefile, dir.path() / (name + ".shp"));
    EXPECT_FALSE(r.reused);
    checkGrid(geos, r, gc);
    EXPECT_FALSE(fs::exists(dir.path() / (name + "_partial.shp")));
  }
}

TEST(Grid, SameArgumentsSameBytes) {
  TempDir a, b;
  const fs::path pa = lg::generateGridLandscape(a.path(), "g", 500, 10, 3);
  const fs::path pb = lg::generateGridLandscape(b.path(), "g", 500, 10, 3);
  for (const char* ext : {".shp", ".shx", ".dbf", ".prj"})
    EXPECT_EQ(bytes(fs::path(pa).replace_extension(ext)), bytes(fs::path(pb).replace_extension(ext))) << ext;
  const fs::path pc = lg::generateGridLandscape(b.path(), "h", 500, 10, 4);
  EXPECT_NE(bytes(pa), bytes(pc));
}

TEST(Grid, CacheKeepsOnlyAMatchingCompleteCopy) {
  TempDir dir;
  lg::GridOptions o;
  o.patches = 300;
  o.classes = 10;
  o.seed = 5;
  const fs::path dbf = dir.path() / "c.dbf";
  EXPECT_FALSE(lg::generateGrid(dir.path(), "c", o).reused);
  const std::string first = bytes(dir.path() / "c.shp");
  EXPECT_TRUE(lg::generateGrid(dir.path(), "c", o).reused);

  o.seed = 6;  // other arguments: regenerated
  EXPECT_FALSE(lg::generateGrid(dir.path(), "c", o).reused);
  EXPECT_NE(bytes(dir.path() / "c.shp"), first);
  EXPECT_TRUE(lg::generateGrid(dir.path(), "c", o).reused);

  fs::resize_file(dbf, fs::file_size(dbf) / 2);  // a damaged copy is not reused
  EXPECT_FALSE(lg::generateGrid(dir.path(), "c", o).reused);
  Geos geos;
  EXPECT_EQ(readLayer(geos, dir.path() / "c.shp").features.size(), 300u);

  fs::remove(dir.path() / "c.prj");
  EXPECT_FALSE(lg::generateGrid(dir.path(), "c", o).reused);

  o.force = true;
  EXPECT_FALSE(lg::generateGrid(dir.path(), "c", o).reused);
}

TEST(Grid, RejectsBadArgumentsWithoutWriting) {
  TempDir dir;
  auto attempt = [&](const std::string& name, std::int64_t patches, int classes, double jitter = 0.2,
                     double cell = 10) {
    lg::GridOptions o;
    o.patches = patches;
    o.classes = classes;
    o.jitter = jitter;
    o.cellSize = cell;
    EXPECT_THROW(lg::generateGrid(dir.path(), name, o), std::invalid_argument) << name;
  };
  attempt("zero", 0, 10);
  attempt("negative", -5, 10);
  attempt("noclass", 10, 0);
  attempt("jitter", 10, 10, 0.26);
  attempt("jitterneg", 10, 10, -0.1);
  attempt("cell", 10, 10, 0.2, 0);
  attempt("cellnan", 10, 10, 0.2, std::nan(""));
  attempt("a/b", 10, 10);
  attempt("", 10, 10);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

int run(const std::string& args) {
  const int status = std::system(fmt::format("'{}' {} >/dev/null 2>&1", KV_LANDGEN_EXE, args).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Program, ReportsFailureAndSuccessThroughItsExitCode) {
  TempDir dir;
  const std::string d = "'" + dir.path().string() + "'";
  EXPECT_NE(run(fmt::format("grid {} g --patches 0 --classes 10", d)), 0);
  EXPECT_NE(run(fmt::format("grid {} g --patches 10", d)), 0);
  EXPECT_NE(run("frobnicate"), 0);
  EXPECT_NE(run(""), 0);
  EXPECT_EQ(run(fmt::format("grid {} g --patches 20 --classes 4 --seed 2", d)), 0);
  Geos geos;
  EXPECT_EQ(readLayer(geos, dir.path() / "g.shp").features.size(), 20u);
  EXPECT_NE(run(fmt::format("sample '{}'", (dir.path() / "g.shp").string())), 0) << "a file is not a folder";
}

}  // namespace
