// Clustered class rasters for the grid benchmarks: fractal value noise cut
// into classes of about equal share, written as an Int32 GeoTIFF row block
// by row block (memory independent of the raster's size).
#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <fmt/format.h>

#include "detail.h"
#include "landgen.h"

namespace korvane::landgen {

namespace {

constexpr int kRasterFormat = 1;

// Noise of one octave along one lattice row: the lattice values of the two
// lattice rows around image row r, interpolated down to that row.
class Octave {
 public:
  Octave(std::uint64_t seed, int layer, std::int64_t scale, std::int64_t n)
      : seed_(seed), layer_(layer), scale_(scale), m_(n / scale + 2), row_(static_cast<std::size_t>(m_)) {}

  // The lattice values of image row r, one per lattice column.
  const std::vector<double>& row(std::int64_t r) {
    const std::int64_t lr = r / scale_;
    const double fr = static_cast<double>(r % scale_) / static_cast<double>(scale_);
    for (std::int64_t lc = 0; lc < m_; ++lc) {
      double a = detail::hashUnit(seed_, layer_, lr, lc), b = detail::hashUnit(seed_, layer_, lr + 1, lc);
      row_[static_cast<std::size_t>(lc)] = a + (b - a) * fr;
    }
    return row_;
  }
  double at(const std::vector<double>& row, std::int64_t c) const {
    const std::int64_t lc = c / scale_;
    const double fc = static_cast<double>(c % scale_) / static_cast<double>(scale_);
    const double a = row[static_cast<std::size_t>(lc)], b = row[static_cast<std::size_t>(lc + 1)];
    return a + (b - a) * fc;
  }
  // One value, without the row cache (for the quantile sample).
  double value(std::int64_t r, std::int64_t c) const {
    const std::int64_t lr = r / scale_, lc = c / scale_;
    const double fr = static_cast<double>(r % scale_) / static_cast<double>(scale_);
    const double fc = static_cast<double>(c % scale_) / static_cast<double>(scale_);
    auto h = [&](std::int64_t a, std::int64_t b) { return detail::hashUnit(seed_, layer_, a, b); };
    const double top = h(lr, lc) + (h(lr, lc + 1) - h(lr, lc)) * fc;
    const double bottom = h(lr + 1, lc) + (h(lr + 1, lc + 1) - h(lr + 1, lc)) * fc;
    return top + (bottom - top) * fr;
  }

 private:
  std::uint64_t seed_;
  int layer_;
  std::int64_t scale_, m_;
  std::vector<double> row_;
};

}  // namespace

std::filesystem::path generateClusteredRaster(const std::filesystem::path& folder, const std::string& name,
                                              std::int64_t n, int classes, std::uint64_t seed, double cellSize) {
  if (n < 1 || classes < 1 || !(cellSize > 0)) throw std::invalid_argument("bad clustered raster options");
  std::filesystem::create_directories(folder);
  const std::filesystem::path tif = folder / (name + ".tif");
  const std::filesystem::path note = folder / (name + ".landgen");
  const std::string expected =
      fmt::format("kv_landgen clustered raster format {}\nn={}\nclasses={}\nseed={}\ncell_size={}\n", kRasterFormat,
                  n, classes, seed, cellSize);
  {
    std::ifstream in(note, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::error_code ec;
    if (in && std::filesystem::exists(tif, ec) &&
        text.str() == expected + fmt::format("size={}\n", std::filesystem::file_size(tif, ec)))
      return tif;
  }

  std::vector<Octave> octaves;
  std::vector<double> weights;
  double weight = 1;
  int layer = 0;
  for (std::int64_t scale = 256; scale >= 1; scale /= 2, weight *= 0.55) {
    octaves.emplace_back(seed, layer++, scale, n);
    weights.push_back(weight);
  }

  // Class limits at equal shares, from a sample of the field.
  detail::Rng rng(seed ^ 0x5A3B1Eull);
  std::vector<double> sample(200000);
  for (double& v : sample) {
    const auto r = static_cast<std::int64_t>(rng.below(static_cast<std::uint64_t>(n)));
    const auto c = static_cast<std::int64_t>(rng.below(static_cast<std::uint64_t>(n)));
    v = 0;
    for (std::size_t o = 0; o < octaves.size(); ++o) v += weights[o] * octaves[o].value(r, c);
  }
  std::sort(sample.begin(), sample.end());
  std::vector<double> limits;
  for (int k = 1; k < classes; ++k) limits.push_back(sample[sample.size() * static_cast<std::size_t>(k) / classes]);

  GDALAllRegister();
  GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!gtiff) throw std::runtime_error("GDAL lacks the GTiff driver");
  const std::filesystem::path temp = folder / (name + ".part.tif");
  std::filesystem::remove(temp);
  const char* options[] = {"TILED=NO", "BIGTIFF=IF_SAFER", nullptr};
  detail::DatasetPtr ds(gtiff->Create(temp.string().c_str(), static_cast<int>(n), static_cast<int>(n), 1, GDT_Int32,
                                      const_cast<char**>(options)));
  if (!ds) throw std::runtime_error(fmt::format("cannot create {}: {}", temp.string(), CPLGetLastErrorMsg()));
  const double x0 = 600000, y0 = 5050000 + static_cast<double>(n) * cellSize;
  double gt[6] = {x0, cellSize, 0, y0, 0, -cellSize};
  ds->SetGeoTransform(gt);
  const OGRSpatialReference srs = detail::projectedSrs();
  ds->SetSpatialRef(&srs);
  GDALRasterBand* band = ds->GetRasterBand(1);

  constexpr std::int64_t kBlockRows = 64;
  std::vector<std::int32_t> block(static_cast<std::size_t>(n * kBlockRows));
  std::vector<double> field(static_cast<std::size_t>(n));
  for (std::int64_t r0 = 0; r0 < n; r0 += kBlockRows) {
    const std::int64_t rows = std::min(kBlockRows, n - r0);
    for (std::int64_t r = r0; r < r0 + rows; ++r) {
      std::fill(field.begin(), field.end(), 0.0);
      for (std::size_t o = 0; o < octaves.size(); ++o) {
        const std::vector<double>& lattice = octaves[o].row(r);
        for (std::int64_t c = 0; c < n; ++c) field[static_cast<std::size_t>(c)] += weights[o] * octaves[o].at(lattice, c);
      }
      std::int32_t* out = &block[static_cast<std::size_t>((r - r0) * n)];
      for (std::int64_t c = 0; c < n; ++c)
        out[c] = static_cast<std::int32_t>(
                     std::upper_bound(limits.begin(), limits.end(), field[static_cast<std::size_t>(c)]) -
                     limits.begin()) +
                 1;
    }
    if (band->RasterIO(GF_Write, 0, static_cast<int>(r0), static_cast<int>(n), static_cast<int>(rows), block.data(),
                       static_cast<int>(n), static_cast<int>(rows), GDT_Int32, 0, 0) != CE_None)
      throw std::runtime_error(fmt::format("cannot write {}: {}", temp.string(), CPLGetLastErrorMsg()));
  }
  detail::closeDataset(ds, temp);
  std::filesystem::rename(temp, tif);
  std::ofstream(note, std::ios::binary | std::ios::trunc)
      << expected << fmt::format("size={}\n", std::filesystem::file_size(tif));
  return tif;
}

}  // namespace korvane::landgen
