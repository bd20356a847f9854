#pragma once
// Shapes: points, polylines and polygons. A shape is kept as well-known
// binary (what the shapefile reader hands over) and turned into a GEOS
// geometry only for the operations that need one (centroid, buffers,
// validity, overlay). Area, length, type and envelope are read straight off
// the coordinates, so that measuring every shape of a large layer costs no
// conversion.
//
// All geometry work runs on one GEOS context: use shapes from one thread at
// a time, as the host does.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvane::host {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Envelope {
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    bool empty = true;
    double width() const { return empty ? 0 : xmax - xmin; }
    double height() const { return empty ? 0 : ymax - ymin; }
};

// The host's geometry type codes.
enum class ShapeType : int32_t { Null = 0, Point = 1, Multipoint = 2, Polyline = 3, Polygon = 4 };
const char* shapeTypeName(ShapeType t);

class Geometry {
public:
    Geometry();  // the empty shape
    ~Geometry();
    Geometry(const Geometry& other);
    Geometry& operator=(const Geometry& other);
    Geometry(Geometry&& other) noexcept;
    Geometry& operator=(Geometry&& other) noexcept;

    // Builders. Rings need not be closed: a ring whose last point differs
    // from its first is closed. The first ring of a polygon is its exterior.
    static Geometry point(double x, double y);
    static Geometry polyline(const std::vector<Point>& points);
    static Geometry polygon(const std::vector<std::vector<Point>>& rings);
    // A polygon or multipolygon from well-known text, e.g. for tests and tools.
    static Geometry fromWkt(const std::string& wkt);
    // Copies the bytes; fails (HostInvalidArg) when they are not valid WKB.
    static Geometry fromWkb(const uint8_t* data, size_t size);

    bool isEmpty() const;
    // Point (point), Multipoint, Polyline (lines) or Polygon (polygons and
    // multipolygons); Null for the empty shape. A collection takes the type of
    // its highest-dimension part.
    ShapeType type() const;

    // Area of polygons (holes subtracted), 0 for other shapes.
    double area() const;
    // Polygons: the length of the whole boundary, exterior and interior rings.
    // Lines: their length. Points: 0.
    double length() const;
    Envelope envelope() const;

    // Fails (HostInvalidArg) on the empty shape.
    Point centroid() const;
    // Rings of every polygon part, each as a closed polyline.
    std::vector<Geometry> exteriorRings() const;
    std::vector<Geometry> interiorRings() const;
    // The vertices of a point, a single polyline or a ring; for other shapes
    // all vertices in order.
    std::vector<Point> points() const;

    // Positive distance grows, negative shrinks; the result may be empty.
    Geometry buffer(double distance, int quadrantSegments = 8) const;
    bool isValid() const;
    // Reason for invalidity ("Valid Geometry" when valid).
    std::string validityReason() const;
    // A valid shape covering the same points (self-intersections resolved).
    Geometry makeValid() const;
    // The polygons of the shape (a collection's lines and points left out:
    // the spikes a repair keeps as lines); the empty shape when it has none.
    Geometry polygonalPart() const;
    Geometry unionWith(const Geometry& other) const;
    Geometry intersection(const Geometry& other) const;
    Geometry difference(const Geometry& other) const;

    std::string toWkt() const;
    // Little-endian ISO WKB, 2D. Empty for the empty shape.
    const std::vector<uint8_t>& wkb() const;

    // For readers that refill one shape per row: replaces the content with
    // the bytes (which must be valid WKB, as OGR exports it) without
    // releasing the buffer.
    void assignWkb(const uint8_t* data, size_t size);
    std::vector<uint8_t>& wkbBuffer();  // then call wkbChanged()
    void wkbChanged();
    void clear();

private:
    friend struct GeosAccess;
    struct Geos;
    const void* geos() const;  // the GEOS geometry, built on demand
    static Geometry fromGeos(void* g);

    std::vector<uint8_t> wkb_;
    mutable std::unique_ptr<Geos> geos_;
};

}  // namespace korvane::host
