// The bundled sample: a 5 km x 5 km forest landscape.
//
// Seeds on a jittered grid give a Voronoi tessellation; the cells are clipped
// to the extent with a clipper that computes every boundary point from the
// cell edge in one canonical direction, so neighbouring cells share their
// vertices bit for bit. Classes come from smooth lattice noise (one field per
// forest type, the highest wins) and a sprinkle of random cells; should that
// give too many patches, rounds of majority smoothing over the cell
// neighbours thin them out. Cells of one class that share edges are
// dissolved into patches.

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gdal_alg.h>

#include "detail.h"
#include "landgen.h"

namespace korvane::landgen {
namespace {

using detail::Geos;
using detail::GeomPtr;
using detail::own;
using detail::Rng;

struct Pt {
  double x, y;
  bool operator==(const Pt&) const = default;
  auto operator<=>(const Pt&) const = default;
};
using Ring = std::vector<Pt>;  // open: the first point is not repeated

struct Extent {
  double minX, minY, maxX, maxY;
  double width() const { return maxX - minX; }
  double height() const { return maxY - minY; }
};

// Layout of the sample.
constexpr Extent kExtent{600000.0, 5050000.0, 605000.0, 5055000.0};
constexpr int kSeedGrid = 56;          // 56 x 56 = 3136 Voronoi cells
constexpr int kRegionGrid = 9;         // cells that make up the regions
constexpr double kCellSize = 10.0;     // raster cell, m
constexpr int kMinPatches = 200, kMaxPatches = 400;
constexpr int kTargetPatches = 360;    // smoothing stops at or below this
constexpr double kMinPatchArea = 1.0;  // m²
// Class field: two octaves of lattice noise (lattice spacings in m) and the
// share of cells given a random class before smoothing.
constexpr double kNoiseScale1 = 600.0, kNoiseScale2 = 200.0, kNoiseWeight2 = 0.45;
constexpr double kScatter = 0.05;

// ---------------------------------------------------------------------------
// Geometry helpers

// Clips `ring` to the half-plane on one side of an axis-parallel line.
// axis 0: x = v; axis 1: y = v. keepAbove: keep coordinates >= v.
Ring clipHalf(const Ring& ring, int axis, double v, bool keepAbove) {
  Ring out;
  const std::size_t n = ring.size();
  if (n == 0) return out;
  auto coord = [axis](const Pt& p) { return axis == 0 ? p.x : p.y; };
  auto inside = [&](const Pt& p) { return keepAbove ? coord(p) >= v : coord(p) <= v; };
  auto cross = [&](Pt p, Pt q) {
    // The same segment gives the same point whichever cell it belongs to.
    if (q < p) std::swap(p, q);
    const double t = (v - coord(p)) / (coord(q) - coord(p));
    if (axis == 0) return Pt{v, p.y + t * (q.y - p.y)};
    return Pt{p.x + t * (q.x - p.x), v};
  };
  for (std::size_t i = 0; i < n; ++i) {
    const Pt& p = ring[i];
    const Pt& q = ring[(i + 1) % n];
    const bool pin = inside(p), qin = inside(q);
    if (pin) out.push_back(p);
    if (pin != qin) out.push_back(cross(p, q));
  }
  // Drop repeated points (a vertex on the line appears twice otherwise).
  Ring clean;
  for (const Pt& p : out)
    if (clean.empty() || !(clean.back() == p)) clean.push_back(p);
  while (clean.size() > 1 && clean.front() == clean.back()) clean.pop_back();
  return clean;
}

Ring clipToExtent(Ring ring, const Extent& e) {
  ring = clipHalf(ring, 0, e.minX, true);
  ring = clipHalf(ring, 0, e.maxX, false);
  ring = clipHalf(ring, 1, e.minY, true);
  ring = clipHalf(ring, 1, e.maxY, false);
  return ring;
}

double signedArea(const Ring& r) {
  double a = 0;
  for (std::size_t i = 0, n = r.size(); i < n; ++i) {
    const Pt& p = r[i];
    const Pt& q = r[(i + 1) % n];
    a += p.x * q.y - q.x * p.y;
  }
  return a / 2;
}

Pt centroid(const Ring& r) {
  double a = 0, cx = 0, cy = 0;
  for (std::size_t i = 0, n = r.size(); i < n; ++i) {
    const Pt& p = r[i];
    const Pt& q = r[(i + 1) % n];
    const double w = p.x * q.y - q.x * p.y;
    a += w;
    cx += (p.x + q.x) * w;
    cy += (p.y + q.y) * w;
  }
  return {cx / (3 * a), cy / (3 * a)};
}

GeomPtr makePolygon(const Geos& geos, const Ring& ring) {
  std::vector<double> xy;
  xy.reserve(2 * ring.size() + 2);
  for (const Pt& p : ring) xy.insert(xy.end(), {p.x, p.y});
  xy.insert(xy.end(), {ring.front().x, ring.front().y});
  GEOSCoordSequence* seq = GEOSCoordSeq_copyFromBuffer_r(geos, xy.data(), xy.size() / 2, 0, 0);
  if (!seq) geos.fail("cannot create a coordinate sequence");
  GEOSGeometry* shell = GEOSGeom_createLinearRing_r(geos, seq);
  if (!shell) geos.fail("cannot create a ring");
  return own(geos, GEOSGeom_createPolygon_r(geos, shell, nullptr, 0), "cannot create a polygon");
}

Ring exteriorRing(const Geos& geos, const GEOSGeometry* polygon) {
  const GEOSGeometry* shell = GEOSGetExteriorRing_r(geos, polygon);
  const GEOSCoordSequence* seq = shell ? GEOSGeom_getCoordSeq_r(geos, shell) : nullptr;
  unsigned size = 0;
  if (!seq || !GEOSCoordSeq_getSize_r(geos, seq, &size)) geos.fail("cannot read a Voronoi cell");
  std::vector<double> xy(2 * static_cast<std::size_t>(size));
  if (size && !GEOSCoordSeq_copyToBuffer_r(geos, seq, xy.data(), 0, 0)) geos.fail("cannot read a Voronoi cell");
  Ring ring;
  for (unsigned i = 0; i + 1 < size; ++i) {  // the last point closes the ring
    const Pt p{xy[2 * i], xy[2 * i + 1]};
    if (ring.empty() || !(ring.back() == p)) ring.push_back(p);
  }
  while (ring.size() > 1 && ring.front() == ring.back()) ring.pop_back();
  return ring;
}

// ---------------------------------------------------------------------------
// Tessellation

struct Tessellation {
  std::vector<Pt> seeds;
  std::vector<Ring> cells;                    // cells[i] holds seeds[i]
  std::vector<std::vector<int>> neighbours;   // cells sharing an edge, sorted
};

// Seeds on an n x n jittered grid over `e`, row by row from the north-west.
std::vector<Pt> jitteredSeeds(Rng& rng, const Extent& e, int n, double jitter) {
  std::vector<Pt> seeds;
  seeds.reserve(static_cast<std::size_t>(n) * n);
  const double sx = e.width() / n, sy = e.height() / n;
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      const double jx = rng.uniform(-jitter, jitter), jy = rng.uniform(-jitter, jitter);
      seeds.push_back({e.minX + (c + 0.5 + jx) * sx, e.maxY - (r + 0.5 + jy) * sy});
    }
  return seeds;
}

Tessellation tessellate(const Geos& geos, std::vector<Pt> seeds, int n, const Extent& e) {
  Tessellation t;
  t.seeds = std::move(seeds);
  std::vector<double> xy;
  for (const Pt& p : t.seeds) xy.insert(xy.end(), {p.x, p.y});
  GEOSCoordSequence* seq = GEOSCoordSeq_copyFromBuffer_r(geos, xy.data(), t.seeds.size(), 0, 0);
  if (!seq) geos.fail("cannot create the seed points");
  GeomPtr line = own(geos, GEOSGeom_createLineString_r(geos, seq), "cannot create the seed points");
  GeomPtr points = own(geos, GEOSGeom_extractUniquePoints_r(geos, line.get()), "cannot create the seed points");
  if (GEOSGetNumGeometries_r(geos, points.get()) != static_cast<int>(t.seeds.size()))
    throw std::runtime_error("two Voronoi seeds coincide");
  GeomPtr diagram = own(geos, GEOSVoronoiDiagram_r(geos, points.get(), nullptr, 0.0, 0), "Voronoi diagram failed");

  // GEOS does not keep the seed order, so match each cell to its seed: the
  // centroid of a (convex) cell lies in it, so its nearest seed is the cell's.
  t.cells.assign(t.seeds.size(), {});
  const double sx = e.width() / n, sy = e.height() / n;
  const int count = GEOSGetNumGeometries_r(geos, diagram.get());
  for (int i = 0; i < count; ++i) {
    Ring ring = clipToExtent(exteriorRing(geos, GEOSGetGeometryN_r(geos, diagram.get(), i)), e);
    if (ring.size() < 3 || std::abs(signedArea(ring)) <= 0) continue;  // outside the extent
    const Pt c = centroid(ring);
    const int cc = std::clamp(static_cast<int>((c.x - e.minX) / sx), 0, n - 1);
    const int cr = std::clamp(static_cast<int>((e.maxY - c.y) / sy), 0, n - 1);
    int best = -1;
    double bestD = 0;
    for (int r = std::max(0, cr - 2); r <= std::min(n - 1, cr + 2); ++r)
      for (int col = std::max(0, cc - 2); col <= std::min(n - 1, cc + 2); ++col) {
        const int s = r * n + col;
        const double d = std::hypot(t.seeds[s].x - c.x, t.seeds[s].y - c.y);
        if (best < 0 || d < bestD) best = s, bestD = d;
      }
    if (!t.cells[best].empty()) throw std::runtime_error("two Voronoi cells matched one seed");
    if (signedArea(ring) < 0) std::reverse(ring.begin(), ring.end());
    t.cells[best] = std::move(ring);
  }
  for (const Ring& cell : t.cells)
    if (cell.empty()) throw std::runtime_error("a Voronoi seed has no cell");

  // Neighbours: cells that share an edge (identical end points).
  std::map<std::array<double, 4>, int> edges;
  t.neighbours.assign(t.cells.size(), {});
  for (int i = 0; i < static_cast<int>(t.cells.size()); ++i) {
    const Ring& r = t.cells[i];
    for (std::size_t k = 0; k < r.size(); ++k) {
      Pt p = r[k], q = r[(k + 1) % r.size()];
      if (q < p) std::swap(p, q);
      auto [it, fresh] = edges.try_emplace({p.x, p.y, q.x, q.y}, i);
      if (!fresh) {
        t.neighbours[i].push_back(it->second);
        t.neighbours[it->second].push_back(i);
        edges.erase(it);
      }
    }
  }
  // Every edge left unpaired must lie on the extent boundary.
  for (const auto& [k, cell] : edges) {
    const bool onBoundary = (k[0] == k[2] && (k[0] == e.minX || k[0] == e.maxX)) ||
                            (k[1] == k[3] && (k[1] == e.minY || k[1] == e.maxY));
    if (!onBoundary) throw std::runtime_error("Voronoi cells do not share their edges exactly");
  }
  for (auto& nb : t.neighbours) {
    std::sort(nb.begin(), nb.end());
    nb.erase(std::unique(nb.begin(), nb.end()), nb.end());
  }
  return t;
}

// ---------------------------------------------------------------------------
// Classes

// Smooth value noise in [0, 1): a lattice of hashed values with spacing
// `scale`, interpolated with a smoothstep.
double valueNoise(std::uint64_t seed, int layer, double x, double y, double scale) {
  const double fx = x / scale, fy = y / scale;
  const double ix = std::floor(fx), iy = std::floor(fy);
  const double tx = fx - ix, ty = fy - iy;
  const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
  const auto a = static_cast<std::int64_t>(ix), b = static_cast<std::int64_t>(iy);
  auto h = [&](std::int64_t i, std::int64_t j) { return detail::hashUnit(seed, layer, i, j); };
  const double v0 = h(a, b) + sx * (h(a + 1, b) - h(a, b));
  const double v1 = h(a, b + 1) + sx * (h(a + 1, b + 1) - h(a, b + 1));
  return v0 + sy * (v1 - v0);
}

// Labels connected groups of same-class cells; returns the group count.
int components(const std::vector<int>& cls, const std::vector<std::vector<int>>& nb, std::vector<int>& label) {
  label.assign(cls.size(), -1);
  int groups = 0;
  std::vector<int> stack;
  for (int s = 0; s < static_cast<int>(cls.size()); ++s) {
    if (label[s] >= 0) continue;
    label[s] = groups;
    stack.push_back(s);
    while (!stack.empty()) {
      const int c = stack.back();
      stack.pop_back();
      for (int o : nb[c])
        if (label[o] < 0 && cls[o] == cls[c]) label[o] = groups, stack.push_back(o);
    }
    ++groups;
  }
  return groups;
}

// One synchronous round of gentle smoothing: a cell takes the class held by
// more than half of its neighbours, if there is one; otherwise it keeps its
// own. Isolated cells go, patch outlines mostly stay.
std::vector<int> majorityRound(const std::vector<int>& cls, const std::vector<std::vector<int>>& nb, int classes) {
  std::vector<int> out(cls);
  std::vector<int> votes(classes);
  for (std::size_t i = 0; i < cls.size(); ++i) {
    std::fill(votes.begin(), votes.end(), 0);
    for (int o : nb[i]) ++votes[cls[o]];
    for (int k = 0; k < classes; ++k)
      if (2 * votes[k] > static_cast<int>(nb[i].size())) out[i] = k;
  }
  return out;
}

std::vector<int> assignClasses(const Tessellation& t, std::uint64_t seed, int classes, const Extent& e) {
  // Relative abundance of the forest types (Pine most common, Wetland rarest).
  static constexpr std::array<double, 6> kBias{0.12, 0.06, 0.02, 0.0, 0.05, -0.06};
  Rng rng(seed ^ 0x5EEDC1A55ull);
  std::vector<int> cls(t.cells.size());
  for (std::size_t i = 0; i < t.cells.size(); ++i) {
    const Pt c = centroid(t.cells[i]);
    const double x = c.x - e.minX, y = c.y - e.minY;
    int best = 0;
    double bestScore = -1e300;
    for (int k = 0; k < classes; ++k) {
      const double score = valueNoise(seed, 2 * k, x, y, kNoiseScale1) + kNoiseWeight2 * valueNoise(seed, 2 * k + 1, x, y, kNoiseScale2) +
                           kBias[k % kBias.size()];
      if (score > bestScore) best = k, bestScore = score;
    }
    cls[i] = best;
    // Scattered stands of another type, most of which the smoothing removes
    // again; the survivors become small patches, often enclosed ones.
    if (rng.uniform() < kScatter) cls[i] = static_cast<int>(rng.below(classes));
  }
  std::vector<int> label;
  for (int round = 0; round < 12 && components(cls, t.neighbours, label) > kTargetPatches; ++round)
    cls = majorityRound(cls, t.neighbours, classes);
  return cls;
}

// ---------------------------------------------------------------------------
// Output

struct Patch {
  GeomPtr geom;
  int type = 0;  // index into forestTypes()
};

GeomPtr dissolve(const Geos& geos, const Tessellation& t, const std::vector<int>& members) {
  std::vector<GEOSGeometry*> parts;
  parts.reserve(members.size());
  for (int m : members) parts.push_back(makePolygon(geos, t.cells[m]).release());
  GeomPtr collection = own(geos,
                           GEOSGeom_createCollection_r(geos, GEOS_MULTIPOLYGON, parts.data(),
                                                       static_cast<unsigned>(parts.size())),
                           "cannot collect cells");
  return own(geos, GEOSUnaryUnion_r(geos, collection.get()), "cannot dissolve cells");
}

// A valid polygon of `g`; repairs it when needed.
GeomPtr repaired(const Geos& geos, GeomPtr g) {
  if (GEOSisValid_r(geos, g.get()) == 1) return g;
  return own(geos, GEOSMakeValid_r(geos, g.get()), "cannot repair a patch");
}

std::vector<Patch> buildPatches(const Geos& geos, const Tessellation& t, const std::vector<int>& cls) {
  std::vector<int> label;
  const int groups = components(cls, t.neighbours, label);
  std::vector<std::vector<int>> members(groups);
  for (int i = 0; i < static_cast<int>(label.size()); ++i) members[label[i]].push_back(i);
  std::vector<Patch> patches;
  for (int gidx = 0; gidx < groups; ++gidx) {
    GeomPtr g = repaired(geos, dissolve(geos, t, members[gidx]));
    // Cells joined through edges always dissolve into one polygon; should a
    // group still come apart, each part is a patch of its own.
    const int n = GEOSGetNumGeometries_r(geos, g.get());
    for (int k = 0; k < n; ++k) {
      const GEOSGeometry* part = GEOSGetGeometryN_r(geos, g.get(), k);
      if (GEOSGeomTypeId_r(geos, part) != GEOS_POLYGON) continue;
      double area = 0;
      GEOSArea_r(geos, part, &area);
      if (area < kMinPatchArea) continue;
      patches.push_back({own(geos, GEOSGeom_clone_r(geos, part), "cannot copy a patch"), cls[members[gidx][0]]});
    }
  }
  return patches;
}

double area(const Geos& geos, const GEOSGeometry* g) {
  double a = 0;
  if (!GEOSArea_r(geos, g, &a)) geos.fail("cannot compute an area");
  return a;
}

void writeFeature(OGRLayer& layer, OGRFeature& f, const Geos& geos, const GEOSGeometry* g,
                  const std::filesystem::path& shp) {
  f.SetGeometryDirectly(detail::toOgr(geos, g).release());
  f.SetFID(OGRNullFID);
  if (layer.CreateFeature(&f) != OGRERR_NONE)
    throw std::runtime_error(fmt::format("cannot write to {}: {}", shp.string(), CPLGetLastErrorMsg()));
}

// The species composition of a patch of forest type `type` (index into
// forestTypes()), as forest inventories write it in the spaced form: each
// species code, a blank and one digit, its share in tenths (0 for the whole
// stand), "Sb 8Bw 1Po 1". Shares add up to ten; the leading species comes
// first. Derived from the patch number alone, so the other fields and the
// shapes do not depend on it.
std::string speciesComposition(int type, std::size_t patch) {
  static const std::vector<std::vector<std::string_view>> species = {
      {"Pj", "Pw", "Pr", "Sb", "Bw"},        // Pine
      {"Sb", "La", "Pj", "Bf"},              // Black Spruce
      {"Bw", "Po", "Sw", "Bf"},              // Birch
      {"Po", "Pb", "Bw", "Sw"},              // Aspen
      {"Po", "Sw", "Bw", "Bf", "Pj", "Sb"},  // Mixed
      {"Sb", "La", "Ce"},                    // Wetland
  };
  const auto& codes = species[static_cast<std::size_t>(type) % species.size()];
  auto u = [&](int k) { return detail::hashUnit(0x5BC0A7ull, static_cast<std::int64_t>(patch), k); };
  const int n = 1 + static_cast<int>(u(0) * static_cast<double>(std::min<std::size_t>(codes.size(), 4)));
  std::string out;
  int left = 10;
  for (int k = 0; k < n; ++k) {
    const int others = n - 1 - k;
    int share = k == n - 1 ? left : std::max(1, std::min(left - others, static_cast<int>(left * (0.45 + 0.4 * u(k + 1)))));
    left -= share;
    out += std::string(codes[static_cast<std::size_t>(k)]) + " " + std::to_string(share % 10);
  }
  return out;
}

void writeLandscape(const Geos& geos, const std::vector<Patch>& patches, const std::filesystem::path& shp) {
  auto out = detail::createPolygonShapefile(shp);
  detail::addField(*out.layer, "FORTYPE", OFTString, 16);
  detail::addField(*out.layer, "TYPECODE", OFTInteger, 4);
  detail::addField(*out.layer, "PATCHID", OFTInteger, 9);
  detail::addField(*out.layer, "SPCOMP", OFTString, 30);
  OGRFeature f(out.layer->GetLayerDefn());
  const auto types = forestTypes();
  for (std::size_t i = 0; i < patches.size(); ++i) {
    const ForestType& ft = types[patches[i].type];
    f.SetField("FORTYPE", std::string(ft.name).c_str());
    f.SetField("TYPECODE", ft.code);
    f.SetField("PATCHID", static_cast<int>(i + 1));
    f.SetField("SPCOMP", speciesComposition(patches[i].type, i).c_str());
    writeFeature(*out.layer, f, geos, patches[i].geom.get(), shp);
  }
  detail::closeDataset(out.dataset, shp);
}

// Returns {rows written, patches with a core}.
std::pair<int, int> writeCores(const Geos& geos, const std::vector<Patch>& patches, const std::filesystem::path& shp) {
  auto out = detail::createPolygonShapefile(shp);
  detail::addField(*out.layer, "FORTYPE", OFTString, 16);
  detail::addField(*out.layer, "TYPECODE", OFTInteger, 4);
  detail::addField(*out.layer, "Patch_Area", OFTReal, 20, 5);
  detail::addField(*out.layer, "Core_Area", OFTReal, 20, 5);
  OGRFeature f(out.layer->GetLayerDefn());
  const auto types = forestTypes();
  int rows = 0, withCore = 0;
  for (const Patch& p : patches) {
    GeomPtr core = own(geos, GEOSBuffer_r(geos, p.geom.get(), -kSampleEdgeDepth, 8), "cannot buffer a patch");
    if (GEOSisEmpty_r(geos, core.get()) == 1) continue;
    const ForestType& ft = types[p.type];
    f.SetField("FORTYPE", std::string(ft.name).c_str());
    f.SetField("TYPECODE", ft.code);
    f.SetField("Patch_Area", area(geos, p.geom.get()));
    f.SetField("Core_Area", area(geos, core.get()));
    const int n = GEOSGetNumGeometries_r(geos, core.get());
    int written = 0;
    for (int k = 0; k < n; ++k) {
      const GEOSGeometry* part = GEOSGetGeometryN_r(geos, core.get(), k);
      if (GEOSGeomTypeId_r(geos, part) != GEOS_POLYGON || GEOSisEmpty_r(geos, part) == 1) continue;
      writeFeature(*out.layer, f, geos, part, shp);
      ++written;
    }
    rows += written;
    withCore += written > 0;
  }
  detail::closeDataset(out.dataset, shp);
  return {rows, withCore};
}

int writeRegions(const Geos& geos, std::uint64_t seed, const Extent& e, const std::filesystem::path& shp) {
  // A coarse tessellation whose cells go to the nearest of five region
  // centres: regions with irregular, cell-shaped borders.
  struct Region {
    const char* name;
    double fx, fy;  // centre as a fraction of the extent
  };
  static constexpr std::array<Region, 5> kRegions{{
      {"North", 0.5, 0.85}, {"East", 0.85, 0.5}, {"South", 0.5, 0.15}, {"West", 0.15, 0.5}, {"Central", 0.5, 0.5}}};
  Rng rng(seed ^ 0x2E610Aull);
  std::vector<Pt> centres;
  for (const Region& r : kRegions)
    centres.push_back({e.minX + (r.fx + rng.uniform(-0.06, 0.06)) * e.width(),
                       e.minY + (r.fy + rng.uniform(-0.06, 0.06)) * e.height()});
  Tessellation t = tessellate(geos, jitteredSeeds(rng, e, kRegionGrid, 0.4), kRegionGrid, e);
  std::vector<int> owner(t.seeds.size());
  for (std::size_t i = 0; i < t.seeds.size(); ++i) {
    double best = 1e300;
    for (std::size_t r = 0; r < centres.size(); ++r) {
      const double d = std::hypot(t.seeds[i].x - centres[r].x, t.seeds[i].y - centres[r].y);
      if (d < best) best = d, owner[i] = static_cast<int>(r);
    }
  }
  auto out = detail::createPolygonShapefile(shp);
  detail::addField(*out.layer, "REGION", OFTString, 16);
  detail::addField(*out.layer, "REGIONID", OFTInteger, 4);
  OGRFeature f(out.layer->GetLayerDefn());
  int written = 0;
  for (std::size_t r = 0; r < kRegions.size(); ++r) {
    std::vector<int> members;
    for (std::size_t i = 0; i < owner.size(); ++i)
      if (owner[i] == static_cast<int>(r)) members.push_back(static_cast<int>(i));
    if (members.empty()) continue;
    GeomPtr g = repaired(geos, dissolve(geos, t, members));
    f.SetField("REGION", kRegions[r].name);
    f.SetField("REGIONID", static_cast<int>(r + 1));
    writeFeature(*out.layer, f, geos, g.get(), shp);
    ++written;
  }
  detail::closeDataset(out.dataset, shp);
  return written;
}

// A raster's value attribute table beside it ("x.tif.vat.dbf"): Value and
// Count as long integers, then an optional class name per value.
void writeValueTable(const std::filesystem::path& tif, const std::map<int, long long>& counts,
                     const std::map<int, std::string>* names, const char* nameField) {
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
  if (!driver) throw std::runtime_error("GDAL has no ESRI Shapefile driver");
  const std::filesystem::path dbf = tif.string() + ".vat.dbf";
  std::filesystem::remove(dbf);
  detail::DatasetPtr ds(driver->Create(dbf.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
  if (!ds) throw std::runtime_error(fmt::format("cannot create {}: {}", dbf.string(), CPLGetLastErrorMsg()));
  const char* options[] = {"DBF_DATE_LAST_UPDATE=2024-01-01", nullptr};
  OGRLayer* layer = ds->CreateLayer(dbf.stem().string().c_str(), nullptr, wkbNone, const_cast<char**>(options));
  if (!layer) throw std::runtime_error(fmt::format("cannot create {}", dbf.string()));
  detail::addField(*layer, "Value", OFTInteger, 11, 0);
  detail::addField(*layer, "Count", OFTInteger, 11, 0);
  if (names) detail::addField(*layer, nameField, OFTString, 16, 0);
  for (const auto& [value, count] : counts) {
    OGRFeature f(layer->GetLayerDefn());
    f.SetField(0, value);
    f.SetField(1, static_cast<int>(count));
    if (names) f.SetField(2, names->at(value).c_str());
    if (layer->CreateFeature(&f) != OGRERR_NONE) throw std::runtime_error("cannot write " + dbf.string());
  }
  detail::closeDataset(ds, dbf);
}

void writeGeoTiff(GDALDataset& ds, const std::filesystem::path& tif) {
  GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
  std::filesystem::remove(tif);
  const char* options[] = {"COMPRESS=DEFLATE", "PREDICTOR=2", nullptr};
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "NO");
  detail::DatasetPtr out(gtiff->CreateCopy(tif.string().c_str(), &ds, FALSE, const_cast<char**>(options), nullptr, nullptr));
  CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", nullptr);
  if (!out) throw std::runtime_error(fmt::format("cannot write {}: {}", tif.string(), CPLGetLastErrorMsg()));
  detail::closeDataset(out, tif);
}

// Stand age classes on the landscape's lattice: a smooth random field cut
// into five classes, so that stands of one age run across forest types.
void writeAgeGrid(std::uint64_t seed, const Extent& e, const std::filesystem::path& tif, int cols, int rows,
                  const double* gt, const OGRSpatialReference& srs) {
  static const std::map<int, std::string> kAges = {
      {1, "Regeneration"}, {2, "Young"}, {3, "Immature"}, {4, "Mature"}, {5, "Old Growth"}};
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  detail::DatasetPtr ds(mem->Create("", cols, rows, 1, GDT_Int16, nullptr));
  ds->SetGeoTransform(const_cast<double*>(gt));
  ds->SetSpatialRef(&srs);
  GDALRasterBand* band = ds->GetRasterBand(1);
  band->SetNoDataValue(-9999);
  std::vector<double> field(static_cast<std::size_t>(cols) * rows);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const double x = (c + 0.5) * kCellSize, y = e.height() - (r + 0.5) * kCellSize;
      field[static_cast<std::size_t>(r) * cols + c] =
          valueNoise(seed, 40, x, y, 900.0) + 0.3 * valueNoise(seed, 41, x, y, 250.0);
    }
  // Class breaks at fixed shares of the cells: 10, 25, 30, 25 and 10 %.
  std::vector<double> sorted(field);
  std::sort(sorted.begin(), sorted.end());
  double breaks[4];
  const double shares[4] = {0.10, 0.35, 0.65, 0.90};
  for (int k = 0; k < 4; ++k) breaks[k] = sorted[static_cast<std::size_t>(shares[k] * (sorted.size() - 1))];
  std::vector<std::int16_t> values(field.size());
  std::map<int, long long> counts;
  for (std::size_t i = 0; i < field.size(); ++i) {
    int cls = 1;
    while (cls < 5 && field[i] > breaks[cls - 1]) ++cls;
    values[i] = static_cast<std::int16_t>(cls);
    ++counts[cls];
  }
  if (band->RasterIO(GF_Write, 0, 0, cols, rows, values.data(), cols, rows, GDT_Int16, 0, 0) != CE_None)
    throw std::runtime_error("cannot write the in-memory raster");
  writeGeoTiff(*ds, tif);
  writeValueTable(tif, counts, &kAges, "AGECLASS");
}

void writeRaster(const Geos& geos, const std::vector<Patch>& patches, const Extent& e,
                 const std::filesystem::path& tif, int cols, int rows, std::uint64_t seed) {
  GDALAllRegister();
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!mem || !gtiff) throw std::runtime_error("GDAL lacks the MEM or GTiff driver");
  detail::DatasetPtr ds(mem->Create("", cols, rows, 1, GDT_Int16, nullptr));
  if (!ds) throw std::runtime_error("cannot create an in-memory raster");
  double gt[6] = {e.minX, kCellSize, 0, e.maxY, 0, -kCellSize};
  ds->SetGeoTransform(gt);
  const OGRSpatialReference srs = detail::projectedSrs();
  ds->SetSpatialRef(&srs);
  GDALRasterBand* band = ds->GetRasterBand(1);
  constexpr double kNoData = -9999;
  band->SetNoDataValue(kNoData);
  band->Fill(kNoData);

  // Pixel-centre rule: a cell takes the class of the patch holding its centre.
  std::vector<std::unique_ptr<OGRGeometry>> geoms;
  std::vector<OGRGeometryH> handles;
  std::vector<double> burn;
  const auto types = forestTypes();
  for (const Patch& p : patches) {
    geoms.push_back(detail::toOgr(geos, p.geom.get()));
    handles.push_back(OGRGeometry::ToHandle(geoms.back().get()));
    burn.push_back(types[p.type].code);
  }
  int bandList[1] = {1};
  if (GDALRasterizeGeometries(GDALDataset::ToHandle(ds.get()), 1, bandList, static_cast<int>(handles.size()),
                              handles.data(), nullptr, nullptr, burn.data(), nullptr, nullptr, nullptr) != CE_None)
    throw std::runtime_error(fmt::format("rasterization failed: {}", CPLGetLastErrorMsg()));

  // A centre that falls exactly on a shared edge may be missed by the scan
  // line fill; look such cells up directly.
  std::vector<std::int16_t> values(static_cast<std::size_t>(cols) * rows);
  if (band->RasterIO(GF_Read, 0, 0, cols, rows, values.data(), cols, rows, GDT_Int16, 0, 0) != CE_None)
    throw std::runtime_error("cannot read the in-memory raster");
  bool changed = false;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      std::int16_t& v = values[static_cast<std::size_t>(r) * cols + c];
      if (v != kNoData) continue;
      GeomPtr pt = own(geos, GEOSGeom_createPointFromXY_r(geos, e.minX + (c + 0.5) * kCellSize,
                                                          e.maxY - (r + 0.5) * kCellSize),
                       "cannot create a point");
      for (const Patch& p : patches)
        if (GEOSIntersects_r(geos, p.geom.get(), pt.get()) == 1) {
          v = static_cast<std::int16_t>(types[p.type].code);
          changed = true;
          break;
        }
    }
  if (changed && band->RasterIO(GF_Write, 0, 0, cols, rows, values.data(), cols, rows, GDT_Int16, 0, 0) != CE_None)
    throw std::runtime_error("cannot write the in-memory raster");

  writeGeoTiff(*ds, tif);
  std::map<int, long long> counts;
  for (std::int16_t v : values)
    if (v != kNoData) ++counts[v];
  writeValueTable(tif, counts, nullptr, nullptr);
  writeAgeGrid(seed, e, tif.parent_path() / "standage.tif", cols, rows, gt, srs);
}

}  // namespace

SampleSummary generateSample(const std::filesystem::path& folder, const SampleOptions& options) {
  std::filesystem::create_directories(folder);
  Geos geos;
  const Extent& e = kExtent;
  const auto types = forestTypes();
  const int classes = static_cast<int>(types.size());

  Rng rng(options.seed);
  Tessellation t = tessellate(geos, jitteredSeeds(rng, e, kSeedGrid, 0.45), kSeedGrid, e);
  const std::vector<int> cls = assignClasses(t, options.seed, classes, e);
  std::vector<Patch> patches = buildPatches(geos, t, cls);
  if (static_cast<int>(patches.size()) < kMinPatches || static_cast<int>(patches.size()) > kMaxPatches)
    throw std::runtime_error(fmt::format("seed {} gives {} patches, outside {}..{}; try another seed", options.seed,
                                         patches.size(), kMinPatches, kMaxPatches));

  SampleSummary s;
  s.patches = static_cast<int>(patches.size());
  for (const ForestType& ft : types) s.classes.push_back({std::string(ft.name), ft.code, 0, 0});
  double total = 0;
  for (const Patch& p : patches) {
    const double a = area(geos, p.geom.get());
    s.classes[p.type].patches++;
    s.classes[p.type].area += a;
    total += a;
    s.patchesWithHoles += GEOSGetNumInteriorRings_r(geos, p.geom.get()) > 0;
  }
  if (std::abs(total - e.width() * e.height()) > 1e-6 * e.width() * e.height())
    throw std::runtime_error(fmt::format("patches cover {} m² of a {} m² extent", total, e.width() * e.height()));

  writeLandscape(geos, patches, folder / "landscape.shp");
  std::tie(s.coreRows, s.patchesWithCore) = writeCores(geos, patches, folder / "cores.shp");
  s.regions = writeRegions(geos, options.seed, e, folder / "regions.shp");
  s.rasterColumns = static_cast<int>(std::lround(e.width() / kCellSize));
  s.rasterRows = static_cast<int>(std::lround(e.height() / kCellSize));
  writeRaster(geos, patches, e, folder / "landscape.tif", s.rasterColumns, s.rasterRows, options.seed);
  s.cellSize = kCellSize;
  s.minX = e.minX, s.minY = e.minY, s.maxX = e.maxX, s.maxY = e.maxY;
  return s;
}

}  // namespace korvane::landgen
