#pragma once
// Direct GEOS access for the host's own geometry tools (not part of the
// public interface: include only from the host's sources). Everything runs
// on the one GEOS context of host/data/Geometry.cpp.
#include <geos_c.h>

#include <cstdint>
#include <vector>

#include "host/data/Geometry.h"

namespace korvane::host {

struct GeosAccess {
    static GEOSContextHandle_t context();
    // Forgets the last GEOS error message (call before an operation whose
    // failure is then reported with fail()).
    static void clearMessage();
    // Fails (HostGeneric) with what and GEOS's last message.
    [[noreturn]] static void fail(const char* what);
    // The shape's GEOS geometry, built on demand and owned by the shape.
    static const GEOSGeometry* geometry(const Geometry& g);
    // A shape taking over a GEOS geometry.
    static Geometry adopt(GEOSGeometry* g);
    // A new GEOS geometry from WKB, owned by the caller; nullptr for no bytes.
    static GEOSGeometry* readWkb(const std::vector<uint8_t>& wkb);
};

}  // namespace korvane::host
