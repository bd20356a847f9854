#include "host/data/Geometry.h"

#include <geos_c.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/Failure.h"
#include "host/data/GeosSupport.h"

namespace korvane::host {

namespace {

constexpr const char* kSource = "Geometry";

// ---- GEOS context ---------------------------------------------------------

std::string& geosMessage() {
    static std::string message;
    return message;
}

void onGeosError(const char* message, void*) { geosMessage() = message ? message : ""; }
void onGeosNotice(const char*, void*) {}

struct GeosEnv {
    GEOSContextHandle_t ctx;
    GEOSWKBReader* reader;
    GEOSWKBWriter* writer;
    GEOSWKTReader* wktReader;
};

// One context for the process, created on first use and kept to the end so
// that shapes living in static storage can still be released.
GeosEnv& env() {
    static GeosEnv* e = [] {
        auto* g = new GeosEnv;
        g->ctx = GEOS_init_r();
        GEOSContext_setErrorMessageHandler_r(g->ctx, onGeosError, nullptr);
        GEOSContext_setNoticeMessageHandler_r(g->ctx, onGeosNotice, nullptr);
        g->reader = GEOSWKBReader_create_r(g->ctx);
        g->writer = GEOSWKBWriter_create_r(g->ctx);
        GEOSWKBWriter_setOutputDimension_r(g->ctx, g->writer, 2);
        GEOSWKBWriter_setByteOrder_r(g->ctx, g->writer, GEOS_WKB_NDR);
        GEOSWKBWriter_setFlavor_r(g->ctx, g->writer, GEOS_WKB_ISO);
        g->wktReader = GEOSWKTReader_create_r(g->ctx);
        return g;
    }();
    return *e;
}

[[noreturn]] void geosFail(const char* what) {
    std::string msg = geosMessage();
    fail(err::HostGeneric, kSource, msg.empty() ? std::string(what) : std::string(what) + ": " + msg);
}

// ---- WKB reading ------------------------------------------------------------

enum WkbKind : uint32_t { kPoint = 1, kLine = 2, kPolygon = 3, kMultiPoint = 4, kMultiLine = 5, kMultiPolygon = 6, kCollection = 7 };

// Walks WKB, calling back for every point, line and polygon ring. All reads
// are bounds-checked: malformed input fails instead of reading past the end.
class WkbReader {
public:
    WkbReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

    struct Visitor {
        virtual ~Visitor() = default;
        // ring: index of the ring in its polygon (-1 for lines and points).
        virtual void sequence(WkbKind kind, int ring, const uint8_t* coords, uint32_t n, int dims, bool swap) = 0;
    };

    void walk(Visitor& v) {
        geometry(v, 0);
        if (p_ != end_) bad();
    }

    static double readDouble(const uint8_t* at, bool swap) {
        uint8_t b[8];
        std::memcpy(b, at, 8);
        if (swap)
            for (int i = 0; i < 4; ++i) std::swap(b[i], b[7 - i]);
        double d;
        std::memcpy(&d, b, 8);
        return d;
    }

private:
    [[noreturn]] static void bad() { fail(err::HostInvalidArg, kSource, "The shape's binary form is malformed."); }

    void need(size_t n) const {
        if (static_cast<size_t>(end_ - p_) < n) bad();
    }
    uint32_t u32(bool swap) {
        need(4);
        uint32_t v;
        std::memcpy(&v, p_, 4);
        p_ += 4;
        if (swap) v = __builtin_bswap32(v);
        return v;
    }

    void geometry(Visitor& v, int depth) {
        if (depth > 32) bad();
        need(1);
        uint8_t order = *p_++;
        if (order > 1) bad();
        bool swap = (order == 0);  // this code runs on little-endian hosts
        uint32_t t = u32(swap);
        int dims = 2;
        if (t & 0x80000000u) ++dims;
        if (t & 0x40000000u) ++dims;
        if (t & 0x20000000u) u32(swap);  // SRID
        t &= 0x0FFFFFFFu;
        if (t >= 1000) {
            uint32_t d = t / 1000;
            if (d > 3) bad();
            dims = 2 + (d == 3 ? 2 : 1);
            t %= 1000;
        }
        switch (t) {
            case kPoint: {
                need(8u * dims);
                v.sequence(kPoint, -1, p_, 1, dims, swap);
                p_ += 8u * dims;
                break;
            }
            case kLine: seq(v, kLine, -1, dims, swap); break;
            case kPolygon: {
                uint32_t rings = u32(swap);
                for (uint32_t r = 0; r < rings; ++r) seq(v, kPolygon, static_cast<int>(r), dims, swap);
                break;
            }
            case kMultiPoint:
            case kMultiLine:
            case kMultiPolygon:
            case kCollection: {
                uint32_t n = u32(swap);
                for (uint32_t i = 0; i < n; ++i) geometry(v, depth + 1);
                break;
            }
            default: bad();
        }
    }

    void seq(Visitor& v, WkbKind kind, int ring, int dims, bool swap) {
        uint32_t n = u32(swap);
        size_t bytes = static_cast<size_t>(n) * 8u * static_cast<size_t>(dims);
        if (bytes / (8u * dims) != n) bad();
        need(bytes);
        v.sequence(kind, ring, p_, n, dims, swap);
        p_ += bytes;
    }

    const uint8_t* p_;
    const uint8_t* end_;
};

struct Coords {
    const uint8_t* at;
    int dims;
    bool swap;
    Point operator[](uint32_t i) const {
        const uint8_t* q = at + static_cast<size_t>(i) * 8u * dims;
        return {WkbReader::readDouble(q, swap), WkbReader::readDouble(q + 8, swap)};
    }
};

// Twice the signed area of a ring, computed about its first vertex to keep
// the products small.
double ringArea2(const Coords& c, uint32_t n) {
    if (n < 3) return 0;
    Point o = c[0];
    double s = 0;
    Point prev{0, 0};
    for (uint32_t i = 1; i < n; ++i) {
        Point q = c[i];
        Point cur{q.x - o.x, q.y - o.y};
        s += prev.x * cur.y - cur.x * prev.y;
        prev = cur;
    }
    return s;  // the closing edge ends at the origin and adds nothing
}

double pathLength(const Coords& c, uint32_t n) {
    double s = 0;
    if (n == 0) return 0;
    Point prev = c[0];
    for (uint32_t i = 1; i < n; ++i) {
        Point q = c[i];
        s += std::hypot(q.x - prev.x, q.y - prev.y);
        prev = q;
    }
    return s;
}

struct Summary : WkbReader::Visitor {
    bool wantArea = false, wantLength = false, wantEnvelope = false;
    double area = 0, length = 0;
    Envelope env;
    bool hasPoint = false, hasLine = false, hasPolygon = false;
    int pointParts = 0;

    void sequence(WkbKind kind, int ring, const uint8_t* at, uint32_t n, int dims, bool swap) override {
        Coords c{at, dims, swap};
        if (kind == kPoint) {
            Point p = c[0];
            if (std::isnan(p.x) || std::isnan(p.y)) return;  // empty point
            hasPoint = true;
            ++pointParts;
        } else if (n == 0) {
            return;
        } else if (kind == kLine) {
            hasLine = true;
        } else {
            hasPolygon = true;
        }
        if (wantArea && kind == kPolygon) {
            double a = std::fabs(ringArea2(c, n)) / 2;
            area += (ring == 0) ? a : -a;
        }
        if (wantLength && kind != kPoint) length += pathLength(c, n);
        if (wantEnvelope) {
            for (uint32_t i = 0; i < n; ++i) {
                Point p = c[i];
                if (env.empty) {
                    env = {p.x, p.y, p.x, p.y, false};
                } else {
                    env.xmin = std::min(env.xmin, p.x);
                    env.ymin = std::min(env.ymin, p.y);
                    env.xmax = std::max(env.xmax, p.x);
                    env.ymax = std::max(env.ymax, p.y);
                }
            }
        }
    }
};

Summary summarize(const std::vector<uint8_t>& wkb, bool area, bool length, bool envelope) {
    Summary s;
    s.wantArea = area;
    s.wantLength = length;
    s.wantEnvelope = envelope;
    if (!wkb.empty()) WkbReader(wkb.data(), wkb.size()).walk(s);
    return s;
}

struct PointCollector : WkbReader::Visitor {
    // mode 0: all vertices; 1: exterior rings; 2: interior rings
    int mode = 0;
    std::vector<Point> all;
    std::vector<std::vector<Point>> rings;
    void sequence(WkbKind kind, int ring, const uint8_t* at, uint32_t n, int dims, bool swap) override {
        Coords c{at, dims, swap};
        if (mode == 0) {
            for (uint32_t i = 0; i < n; ++i) {
                Point p = c[i];
                if (kind == kPoint && (std::isnan(p.x) || std::isnan(p.y))) continue;
                all.push_back(p);
            }
            return;
        }
        if (kind != kPolygon || n == 0) return;
        if ((mode == 1) != (ring == 0)) return;
        std::vector<Point> r(n);
        for (uint32_t i = 0; i < n; ++i) r[i] = c[i];
        rings.push_back(std::move(r));
    }
};

// ---- WKB writing ------------------------------------------------------------

void put32(std::vector<uint8_t>& b, uint32_t v) {
    uint8_t t[4];
    std::memcpy(t, &v, 4);
    b.insert(b.end(), t, t + 4);
}
void putD(std::vector<uint8_t>& b, double v) {
    uint8_t t[8];
    std::memcpy(t, &v, 8);
    b.insert(b.end(), t, t + 8);
}
void putRing(std::vector<uint8_t>& b, const std::vector<Point>& pts, bool close) {
    bool addClose = close && !pts.empty() && !(pts.front() == pts.back());
    put32(b, static_cast<uint32_t>(pts.size() + (addClose ? 1 : 0)));
    for (const Point& p : pts) {
        putD(b, p.x);
        putD(b, p.y);
    }
    if (addClose) {
        putD(b, pts.front().x);
        putD(b, pts.front().y);
    }
}

}  // namespace

// ---- Geometry ---------------------------------------------------------------

struct Geometry::Geos {
    GEOSGeometry* g = nullptr;
    ~Geos() {
        if (g) GEOSGeom_destroy_r(env().ctx, g);
    }
};

const char* shapeTypeName(ShapeType t) {
    switch (t) {
        case ShapeType::Point: return "point";
        case ShapeType::Multipoint: return "multipoint";
        case ShapeType::Polyline: return "polyline";
        case ShapeType::Polygon: return "polygon";
        default: return "null";
    }
}

Geometry::Geometry() = default;
Geometry::~Geometry() = default;
Geometry::Geometry(const Geometry& other) : wkb_(other.wkb_) {}
Geometry& Geometry::operator=(const Geometry& other) {
    if (this != &other) {
        wkb_ = other.wkb_;
        geos_.reset();
    }
    return *this;
}
Geometry::Geometry(Geometry&& other) noexcept = default;
Geometry& Geometry::operator=(Geometry&& other) noexcept = default;

Geometry Geometry::point(double x, double y) {
    Geometry g;
    g.wkb_.push_back(1);
    put32(g.wkb_, kPoint);
    putD(g.wkb_, x);
    putD(g.wkb_, y);
    return g;
}

Geometry Geometry::polyline(const std::vector<Point>& points) {
    Geometry g;
    if (points.empty()) return g;
    if (points.size() < 2) fail(err::HostInvalidArg, kSource, "A polyline needs at least two points.");
    g.wkb_.push_back(1);
    put32(g.wkb_, kLine);
    putRing(g.wkb_, points, false);
    return g;
}

Geometry Geometry::polygon(const std::vector<std::vector<Point>>& rings) {
    Geometry g;
    if (rings.empty()) return g;
    for (const auto& r : rings)
        if (r.size() < 3) fail(err::HostInvalidArg, kSource, "A polygon ring needs at least three points.");
    g.wkb_.push_back(1);
    put32(g.wkb_, kPolygon);
    put32(g.wkb_, static_cast<uint32_t>(rings.size()));
    for (const auto& r : rings) putRing(g.wkb_, r, true);
    return g;
}

Geometry Geometry::fromWkb(const uint8_t* data, size_t size) {
    Geometry g;
    g.assignWkb(data, size);
    Summary s;
    if (!g.wkb_.empty()) WkbReader(g.wkb_.data(), g.wkb_.size()).walk(s);  // validates
    return g;
}

Geometry Geometry::fromWkt(const std::string& wkt) {
    auto& e = env();
    geosMessage().clear();
    GEOSGeometry* gg = GEOSWKTReader_read_r(e.ctx, e.wktReader, wkt.c_str());
    if (!gg) fail(err::HostInvalidArg, kSource, "Cannot read the well-known text: " + geosMessage());
    return fromGeos(gg);
}

Geometry Geometry::fromGeos(void* p) {
    auto* gg = static_cast<GEOSGeometry*>(p);
    auto& e = env();
    Geometry g;
    g.geos_ = std::make_unique<Geos>();
    g.geos_->g = gg;
    if (GEOSisEmpty_r(e.ctx, gg) == 1) {
        g.geos_.reset();
        return g;
    }
    size_t size = 0;
    unsigned char* buf = GEOSWKBWriter_write_r(e.ctx, e.writer, gg, &size);
    if (!buf) geosFail("Cannot convert the shape");
    g.wkb_.assign(buf, buf + size);
    GEOSFree_r(e.ctx, buf);
    return g;
}

const void* Geometry::geos() const {
    if (!geos_) {
        if (wkb_.empty()) fail(err::HostInvalidArg, kSource, "The shape is empty.");
        auto& e = env();
        geosMessage().clear();
        GEOSGeometry* gg = GEOSWKBReader_read_r(e.ctx, e.reader, wkb_.data(), wkb_.size());
        if (!gg) geosFail("Cannot read the shape");
        geos_ = std::make_unique<Geos>();
        geos_->g = gg;
    }
    return geos_->g;
}

void Geometry::assignWkb(const uint8_t* data, size_t size) {
    geos_.reset();
    wkb_.assign(data, data + size);
}
std::vector<uint8_t>& Geometry::wkbBuffer() { return wkb_; }
void Geometry::wkbChanged() { geos_.reset(); }
void Geometry::clear() {
    geos_.reset();
    wkb_.clear();
}

bool Geometry::isEmpty() const {
    if (wkb_.empty()) return true;
    Summary s = summarize(wkb_, false, false, false);
    return !(s.hasPoint || s.hasLine || s.hasPolygon);
}

ShapeType Geometry::type() const {
    Summary s = summarize(wkb_, false, false, false);
    if (s.hasPolygon) return ShapeType::Polygon;
    if (s.hasLine) return ShapeType::Polyline;
    if (s.pointParts == 1) return ShapeType::Point;
    if (s.pointParts > 1) return ShapeType::Multipoint;
    return ShapeType::Null;
}

double Geometry::area() const { return summarize(wkb_, true, false, false).area; }

double Geometry::length() const { return summarize(wkb_, false, true, false).length; }

Envelope Geometry::envelope() const { return summarize(wkb_, false, false, true).env; }

Point Geometry::centroid() const {
    auto& e = env();
    geosMessage().clear();
    GEOSGeometry* c = GEOSGetCentroid_r(e.ctx, static_cast<const GEOSGeometry*>(geos()));
    if (!c) geosFail("Cannot compute the centroid");
    Point p;
    int ok = GEOSisEmpty_r(e.ctx, c) == 0 && GEOSGeomGetX_r(e.ctx, c, &p.x) == 1 && GEOSGeomGetY_r(e.ctx, c, &p.y) == 1;
    GEOSGeom_destroy_r(e.ctx, c);
    if (!ok) fail(err::HostInvalidArg, kSource, "The shape has no centroid.");
    return p;
}

std::vector<Point> Geometry::points() const {
    PointCollector c;
    if (!wkb_.empty()) WkbReader(wkb_.data(), wkb_.size()).walk(c);
    return std::move(c.all);
}

static std::vector<Geometry> ringsOf(const std::vector<uint8_t>& wkb, int mode) {
    PointCollector c;
    c.mode = mode;
    if (!wkb.empty()) WkbReader(wkb.data(), wkb.size()).walk(c);
    std::vector<Geometry> out;
    out.reserve(c.rings.size());
    for (auto& r : c.rings) out.push_back(Geometry::polyline(r));
    return out;
}

std::vector<Geometry> Geometry::exteriorRings() const { return ringsOf(wkb_, 1); }
std::vector<Geometry> Geometry::interiorRings() const { return ringsOf(wkb_, 2); }

Geometry Geometry::buffer(double distance, int quadrantSegments) const {
    if (isEmpty()) return {};
    geosMessage().clear();
    GEOSGeometry* r = GEOSBuffer_r(env().ctx, static_cast<const GEOSGeometry*>(geos()), distance, quadrantSegments);
    if (!r) geosFail("Cannot buffer the shape");
    return fromGeos(r);
}

namespace {

// The sign of the turn a -> b -> c: +1 left, -1 right, 0 when rounding could
// have decided it (exactly collinear points among them). The error bound is
// that of the plain floating-point orientation test, with room to spare.
int certainTurn(Point a, Point b, Point c) {
    double left = (a.x - c.x) * (b.y - c.y);
    double right = (a.y - c.y) * (b.x - c.x);
    double det = left - right;
    double bound = 1e-15 * (std::fabs(left) + std::fabs(right));
    if (det > bound) return 1;
    if (-det > bound) return -1;
    return 0;
}

// Whether the segments pq and rs certainly have no point in common.
bool certainlyApart(Point p, Point q, Point r, Point s) {
    if (std::max(p.x, q.x) < std::min(r.x, s.x) || std::max(r.x, s.x) < std::min(p.x, q.x) ||
        std::max(p.y, q.y) < std::min(r.y, s.y) || std::max(r.y, s.y) < std::min(p.y, q.y))
        return true;
    int a = certainTurn(p, q, r), b = certainTurn(p, q, s);
    if (a != 0 && a == b) return true;
    int c = certainTurn(r, s, p), d = certainTurn(r, s, q);
    return c != 0 && c == d;
}

// True when the shape is a polygon of one small ring that is certainly
// simple: closed, finite, no repeated vertex, a definite turn at every vertex
// and no two edges meeting but at their shared ends. Such a polygon is valid,
// so most patches need no topology test. False decides nothing.
bool plainSimplePolygon(const std::vector<uint8_t>& wkb) {
    constexpr uint32_t kMaxPoints = 64;
    if (wkb.size() < 13 || wkb[0] != 1) return false;
    uint32_t type, rings, n;
    std::memcpy(&type, &wkb[1], 4);
    std::memcpy(&rings, &wkb[5], 4);
    std::memcpy(&n, &wkb[9], 4);
    if (type != kPolygon || rings != 1 || n < 4 || n > kMaxPoints || wkb.size() != 13 + 16 * size_t{n}) return false;
    Point pts[kMaxPoints];
    for (uint32_t i = 0; i < n; ++i) {
        std::memcpy(&pts[i].x, &wkb[13 + 16 * size_t{i}], 8);
        std::memcpy(&pts[i].y, &wkb[21 + 16 * size_t{i}], 8);
        if (!std::isfinite(pts[i].x) || !std::isfinite(pts[i].y)) return false;
        if (i > 0 && pts[i] == pts[i - 1]) return false;
    }
    if (!(pts[0] == pts[n - 1])) return false;
    const uint32_t edges = n - 1;
    for (uint32_t i = 0; i < edges; ++i)
        if (certainTurn(pts[i], pts[i + 1], pts[(i + 2) % edges]) == 0) return false;
    for (uint32_t i = 0; i < edges; ++i)
        for (uint32_t j = i + 2; j < edges; ++j) {
            if (i == 0 && j == edges - 1) continue;  // the closing edge meets the first at the start
            if (!certainlyApart(pts[i], pts[i + 1], pts[j], pts[j + 1])) return false;
        }
    return true;
}

}  // namespace

bool Geometry::isValid() const {
    if (isEmpty()) return true;
    if (plainSimplePolygon(wkb_)) return true;
    geosMessage().clear();
    char v = GEOSisValid_r(env().ctx, static_cast<const GEOSGeometry*>(geos()));
    if (v == 2) geosFail("Cannot test the shape");
    return v == 1;
}

std::string Geometry::validityReason() const {
    if (isEmpty()) return "Valid Geometry";
    auto& e = env();
    char* r = GEOSisValidReason_r(e.ctx, static_cast<const GEOSGeometry*>(geos()));
    if (!r) geosFail("Cannot test the shape");
    std::string s = r;
    GEOSFree_r(e.ctx, r);
    return s;
}

Geometry Geometry::makeValid() const {
    if (isEmpty()) return {};
    geosMessage().clear();
    GEOSGeometry* r = GEOSMakeValid_r(env().ctx, static_cast<const GEOSGeometry*>(geos()));
    if (!r) geosFail("Cannot repair the shape");
    return fromGeos(r);
}

Geometry Geometry::polygonalPart() const {
    if (isEmpty()) return {};
    auto& e = env();
    const auto* g = static_cast<const GEOSGeometry*>(geos());
    const int type = GEOSGeomTypeId_r(e.ctx, g);
    if (type == GEOS_POLYGON || type == GEOS_MULTIPOLYGON) return *this;
    std::vector<GEOSGeometry*> polygons;
    std::vector<const GEOSGeometry*> pending = {g};
    while (!pending.empty()) {
        const GEOSGeometry* p = pending.back();
        pending.pop_back();
        const int t = GEOSGeomTypeId_r(e.ctx, p);
        if (t == GEOS_POLYGON) {
            if (GEOSisEmpty_r(e.ctx, p) != 1) polygons.push_back(GEOSGeom_clone_r(e.ctx, p));
        } else if (t == GEOS_MULTIPOLYGON || t == GEOS_GEOMETRYCOLLECTION) {
            const int n = GEOSGetNumGeometries_r(e.ctx, p);
            for (int i = n - 1; i >= 0; --i) pending.push_back(GEOSGetGeometryN_r(e.ctx, p, i));
        }
    }
    if (polygons.empty()) return {};
    if (polygons.size() == 1) return fromGeos(polygons[0]);
    GEOSGeometry* m = GEOSGeom_createCollection_r(e.ctx, GEOS_MULTIPOLYGON, polygons.data(),
                                                  static_cast<unsigned>(polygons.size()));
    if (!m) geosFail("Cannot collect the polygons");
    return fromGeos(m);
}

Geometry Geometry::unionWith(const Geometry& other) const {
    if (isEmpty()) return other;
    if (other.isEmpty()) return *this;
    geosMessage().clear();
    GEOSGeometry* r = GEOSUnion_r(env().ctx, static_cast<const GEOSGeometry*>(geos()),
                                  static_cast<const GEOSGeometry*>(other.geos()));
    if (!r) geosFail("Cannot unite the shapes");
    return fromGeos(r);
}

Geometry Geometry::intersection(const Geometry& other) const {
    if (isEmpty() || other.isEmpty()) return {};
    geosMessage().clear();
    GEOSGeometry* r = GEOSIntersection_r(env().ctx, static_cast<const GEOSGeometry*>(geos()),
                                         static_cast<const GEOSGeometry*>(other.geos()));
    if (!r) geosFail("Cannot intersect the shapes");
    return fromGeos(r);
}

Geometry Geometry::difference(const Geometry& other) const {
    if (isEmpty()) return {};
    if (other.isEmpty()) return *this;
    geosMessage().clear();
    GEOSGeometry* r = GEOSDifference_r(env().ctx, static_cast<const GEOSGeometry*>(geos()),
                                       static_cast<const GEOSGeometry*>(other.geos()));
    if (!r) geosFail("Cannot subtract the shapes");
    return fromGeos(r);
}

std::string Geometry::toWkt() const {
    if (isEmpty()) return "EMPTY";
    auto& e = env();
    GEOSWKTWriter* w = GEOSWKTWriter_create_r(e.ctx);
    GEOSWKTWriter_setTrim_r(e.ctx, w, 1);
    char* s = GEOSWKTWriter_write_r(e.ctx, w, static_cast<const GEOSGeometry*>(geos()));
    GEOSWKTWriter_destroy_r(e.ctx, w);
    if (!s) geosFail("Cannot write the shape as text");
    std::string out = s;
    GEOSFree_r(e.ctx, s);
    return out;
}

const std::vector<uint8_t>& Geometry::wkb() const { return wkb_; }

// ---- direct GEOS access for the host's own geometry tools ---------------------

GEOSContextHandle_t GeosAccess::context() { return env().ctx; }
void GeosAccess::clearMessage() { geosMessage().clear(); }
void GeosAccess::fail(const char* what) { geosFail(what); }
const GEOSGeometry* GeosAccess::geometry(const Geometry& g) { return static_cast<const GEOSGeometry*>(g.geos()); }
Geometry GeosAccess::adopt(GEOSGeometry* g) { return Geometry::fromGeos(g); }
GEOSGeometry* GeosAccess::readWkb(const std::vector<uint8_t>& wkb) {
    if (wkb.empty()) return nullptr;
    auto& e = env();
    geosMessage().clear();
    GEOSGeometry* g = GEOSWKBReader_read_r(e.ctx, e.reader, wkb.data(), wkb.size());
    if (!g) geosFail("Cannot read the shape");
    return g;
}

}  // namespace korvane::host
