#pragma once
// The per-patch support fields of a working copy: Area, Perimeter, SI (shape
// index), PAR (perimeter-area ratio) and FD (fractal dimension), made and
// filled from each feature's polygon for the metrics that read them.
#include <array>
#include <string>
#include <vector>

#include "host/data/Table.h"
#include "shared/frmProgress.h"

namespace kv {

// The support fields, in the order they are made and filled.
enum SupportField { SupportArea, SupportPerimeter, SupportSI, SupportPAR, SupportFD, SupportFieldCount };
const char* SupportFieldName(SupportField f);

// Which support fields the checked metric boxes need.
std::array<bool, SupportFieldCount> SupportFieldsNeeded(const std::vector<std::string>& CheckedBoxes);

// The support values as computed, in double precision: for each needed
// field one value per feature, in object-id order (empty for a field that
// was not needed). The run measures from these, not from the rounded
// values the Single fields store.
struct SupportValues {
    std::array<std::vector<double>, SupportFieldCount> values;
};

// Adds the needed fields that TargetFeatureClass lacks (single, precision 20,
// scale 5) and fills every needed field of every feature; blnRaster selects
// the raster forms of SI and FD. The progress window counts one step per
// field made and per value written. False when a field could not be made or
// filled (the error report has been shown); the fields then hold no usable
// values. computed, when given, receives the values as computed.
bool AddSupportData(const korvane::host::FeatureClassPtr& TargetFeatureClass, const std::vector<std::string>& CheckedBoxes,
                    bool blnRaster, frmProgress& ProgressBar, SupportValues* computed = nullptr);

}  // namespace kv
