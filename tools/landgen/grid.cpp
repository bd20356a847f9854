// Large grid landscapes for benchmarks: one quadrilateral per patch, written
// in one streaming pass that reuses a single feature and geometry.

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "detail.h"
#include "landgen.h"

namespace korvane::landgen {
namespace {

// Bump when the output of the same arguments changes, so cached copies from
// an older generator are not reused.
constexpr int kGridFormat = 1;
constexpr double kOriginX = 400000.0, kTopY = 5100000.0;
constexpr std::int64_t kMaxPatches = 20'000'000;  // keeps .shp under the 4 GB shapefile limit
constexpr int kMaxClasses = 1'000'000;
constexpr std::array<const char*, 4> kParts{".shp", ".shx", ".dbf", ".prj"};

void validate(const std::string& name, const GridOptions& o) {
  if (name.empty() || name.find_first_of("/\\") != std::string::npos || name == "." || name == "..")
    throw std::invalid_argument(fmt::format("bad landscape name '{}'", name));
  if (o.patches < 1 || o.patches > kMaxPatches)
    throw std::invalid_argument(fmt::format("patches must be 1..{}, not {}", kMaxPatches, o.patches));
  if (o.classes < 1 || o.classes > kMaxClasses)
    throw std::invalid_argument(fmt::format("classes must be 1..{}, not {}", kMaxClasses, o.classes));
  if (!(o.cellSize > 0) || !std::isfinite(o.cellSize) || o.cellSize > 1e5)
    throw std::invalid_argument(fmt::format("cell size must be in (0, 100000] m, not {}", o.cellSize));
  if (!(o.jitter >= 0 && o.jitter <= 0.25))
    throw std::invalid_argument(fmt::format("jitter must be in [0, 0.25], not {}", o.jitter));
}

std::filesystem::path withExt(const std::filesystem::path& folder, const std::string& stem, const char* ext) {
  return folder / (stem + ext);
}

std::string describe(const GridOptions& o) {
  return fmt::format("kv_landgen grid format {}\npatches={}\nclasses={}\nseed={}\ncell_size={}\njitter={}\n",
                     kGridFormat, o.patches, o.classes, o.seed, o.cellSize, o.jitter);
}

std::string sizes(const std::filesystem::path& folder, const std::string& stem) {
  std::string out;
  for (const char* ext : kParts) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(withExt(folder, stem, ext), ec);
    if (ec) return {};
    out += fmt::format("{}={}\n", ext + 1, size);
  }
  return out;
}

bool cached(const std::filesystem::path& folder, const std::string& name, const std::string& expected) {
  std::ifstream in(withExt(folder, name, ".landgen"), std::ios::binary);
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  const std::string files = sizes(folder, name);
  return !files.empty() && text.str() == expected + files;
}

// Picks a class for cell (r, c) different from the neighbours already drawn
// that `classes` allows to avoid.
class ClassPicker {
 public:
  ClassPicker(std::uint64_t seed, int classes, std::int64_t cols)
      : rng_(seed ^ 0xC1A55E5ull), classes_(classes), prev_(cols, -1), cur_(cols, -1) {}

  int pick(std::int64_t r, std::int64_t c) {
    int k;
    if (classes_ == 1) {
      k = 0;
    } else if (classes_ == 2) {
      k = static_cast<int>((r + c) % 2);
    } else {
      std::array<int, 4> ex{};
      int n = 0;
      auto avoid = [&](int v) {
        if (v >= 0 && std::find(ex.begin(), ex.begin() + n, v) == ex.begin() + n) ex[n++] = v;
      };
      if (c > 0) avoid(cur_[c - 1]);
      avoid(prev_[c]);
      if (classes_ >= 5) {
        if (c > 0) avoid(prev_[c - 1]);
        if (c + 1 < static_cast<std::int64_t>(prev_.size())) avoid(prev_[c + 1]);
      }
      for (int i = 1; i < n; ++i)  // at most four values: insertion sort
        for (int j = i; j > 0 && ex[j - 1] > ex[j]; --j) std::swap(ex[j - 1], ex[j]);
      k = static_cast<int>(rng_.below(static_cast<std::uint64_t>(classes_ - n)));
      for (int i = 0; i < n; ++i)
        if (k >= ex[i]) ++k;
    }
    cur_[c] = k;
    return k;
  }

  void nextRow() {
    std::swap(prev_, cur_);
    std::fill(cur_.begin(), cur_.end(), -1);
  }

 private:
  detail::Rng rng_;
  int classes_;
  std::vector<int> prev_, cur_;
};

void writeGrid(const std::filesystem::path& shp, const GridOptions& o, std::int64_t cols, std::int64_t rows) {
  auto out = detail::createPolygonShapefile(shp);
  const int width = static_cast<int>(std::to_string(std::max<std::int64_t>(o.patches, o.classes)).size());
  detail::addField(*out.layer, "PATCHID", OFTInteger, std::max(width, 4));
  detail::addField(*out.layer, "CLASS", OFTInteger, std::max(width, 4));
  detail::addField(*out.layer, "FORTYPE", OFTString, 6 + width);
  OGRFeature f(out.layer->GetLayerDefn());
  const int iPatch = f.GetFieldIndex("PATCHID"), iClass = f.GetFieldIndex("CLASS"), iType = f.GetFieldIndex("FORTYPE");
  std::vector<std::string> typeNames(o.classes);
  for (int k = 0; k < o.classes; ++k) typeNames[k] = fmt::format("Class {}", k + 1);

  auto* ring = new OGRLinearRing;
  ring->setNumPoints(5);
  auto* poly = new OGRPolygon;
  poly->addRingDirectly(ring);
  f.SetGeometryDirectly(poly);

  const double cs = o.cellSize, amp = o.jitter * o.cellSize;
  auto vertex = [&](std::int64_t i, std::int64_t j, double& x, double& y) {
    x = kOriginX + static_cast<double>(i) * cs;
    y = kTopY - static_cast<double>(j) * cs;
    if (amp > 0 && i > 0 && i < cols && j > 0 && j < rows) {
      x += amp * (2 * detail::hashUnit(o.seed, i, j, 0) - 1);
      y += amp * (2 * detail::hashUnit(o.seed, i, j, 1) - 1);
    }
  };

  ClassPicker picker(o.seed, o.classes, cols);
  std::int64_t id = 0;
  for (std::int64_t r = 0; r < rows && id < o.patches; ++r, picker.nextRow()) {
    for (std::int64_t c = 0; c < cols && id < o.patches; ++c) {
      // Clockwise from the north-west corner, as shapefile outer rings go.
      std::array<double, 4> xs, ys;
      vertex(c, r, xs[0], ys[0]);
      vertex(c + 1, r, xs[1], ys[1]);
      vertex(c + 1, r + 1, xs[2], ys[2]);
      vertex(c, r + 1, xs[3], ys[3]);
      for (int k = 0; k < 4; ++k) ring->setPoint(k, xs[k], ys[k]);
      ring->setPoint(4, xs[0], ys[0]);
      const int k = picker.pick(r, c);
      ++id;
      f.SetField(iPatch, static_cast<int>(id));
      f.SetField(iClass, k + 1);
      f.SetField(iType, typeNames[k].c_str());
      f.SetFID(OGRNullFID);
      if (out.layer->CreateFeature(&f) != OGRERR_NONE)
        throw std::runtime_error(fmt::format("cannot write to {}: {}", shp.string(), CPLGetLastErrorMsg()));
    }
  }
  detail::closeDataset(out.dataset, shp);
}

}  // namespace

GridResult generateGrid(const std::filesystem::path& folder, const std::string& name, const GridOptions& options) {
  validate(name, options);
  GridResult result;
  result.shapefile = withExt(folder, name, ".shp");
  result.columns = static_cast<std::int64_t>(std::ceil(std::sqrt(static_cast<double>(options.patches))));
  while (result.columns * result.columns < options.patches) ++result.columns;  // guard against rounding
  while ((result.columns - 1) * (result.columns - 1) >= options.patches) --result.columns;
  result.rows = (options.patches + result.columns - 1) / result.columns;

  const std::string expected = describe(options);
  if (!options.force && cached(folder, name, expected)) {
    result.reused = true;
    return result;
  }

  std::filesystem::create_directories(folder);
  const auto sidecar = withExt(folder, name, ".landgen");
  std::filesystem::remove(sidecar);
  const std::string partial = name + "_partial";
  try {
    writeGrid(withExt(folder, partial, ".shp"), options, result.columns, result.rows);
    detail::removeShapefile(result.shapefile);
    for (const char* ext : kParts) std::filesystem::rename(withExt(folder, partial, ext), withExt(folder, name, ext));
  } catch (...) {
    detail::removeShapefile(withExt(folder, partial, ".shp"));
    throw;
  }
  std::ofstream out(sidecar, std::ios::binary | std::ios::trunc);
  out << expected << sizes(folder, name);
  out.close();
  if (!out) throw std::runtime_error(fmt::format("cannot write {}", sidecar.string()));
  return result;
}

std::filesystem::path generateGridLandscape(const std::filesystem::path& folder, const std::string& name,
                                            std::int64_t patches, int classes, std::uint64_t seed) {
  GridOptions o;
  o.patches = patches;
  o.classes = classes;
  o.seed = seed;
  return generateGrid(folder, name, o).shapefile;
}

}  // namespace korvane::landgen
