#pragma once
// Checks the metric runs (Spatial Statistics, Analysis by Regions) and the
// area tools make so that no wrong result is reported as success: geographic
// layers, self-intersecting shapes, class values the output cannot tell
// apart, and null values left out of the rows.
#include "shared/modMisc.h"   // FitBytes, MeasuredShape
#include <cstdint>
#include <string>
#include <vector>

#include "host/data/Geometry.h"
#include "host/data/Table.h"
#include "host/data/Value.h"

namespace kv {

// True when the feature class's coordinate system is geographic (degrees).
bool IsGeographicLayer(const korvane::host::Table& table);

// The one-line warning of a run that measures a geographic layer without
// asking (a batch line replayed as stored), on standard error.
void WarnGeographicLayer(const std::string& layerName);

// A message naming the values (as text) that become equal when cut to the
// `bytes` bytes the column stores; "" when there are none.
std::string CutValueClash(const std::vector<korvane::host::Value>& values, int32_t bytes, const std::string& column);

// The information message after the rows: how many patches had no class
// value (and, with regions >= 0, no region value) and were left out.
void ReportNullsLeftOut(int64_t nullClasses, int64_t nullRegions = -1);

}  // namespace kv
