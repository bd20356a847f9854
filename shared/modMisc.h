#pragma once
// Shared layer, field and form utilities of both libraries.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/Forms.h"
#include "host/data/FeatureLayer.h"

namespace korvane::host { class Application; }

namespace kv {

// Shows a dialog; modal false shows it modeless where the host allows
// modeless windows, and modally otherwise.
void ShowForm(korvane::host::Form& form, bool modal);

// Gives the focused map metres as map units and kilometres as distance
// units when its units are unknown.
void CheckAndSetMapUnits(korvane::host::Application* app);

// The feature layer behind a layer; a type-mismatch failure for any other kind.
korvane::host::FeatureLayer& featureLayerOf(const korvane::host::LayerPtr& layer);

// Every field name of the layer in field order (object id and shape
// included); empty on failure.
std::vector<std::string> GetFields(const korvane::host::LayerPtr& layer);

// Adds a field (host type code 0..5) to the layer's feature class: width is
// the precision (and, for text, the length), decimals the scale. False when
// the field could not be added (the error report has been shown).
bool AddField(const korvane::host::LayerPtr& layer, const std::string& name, int16_t width, int32_t type,
              int16_t decimals);

// The first top-level layer of the map whose name matches exactly, or nothing.
korvane::host::LayerPtr FindLayerByName(const korvane::host::MapPtr& map, const std::string& name);

// The shape as it is measured: a self-intersecting ring is first made valid,
// so that its area and perimeter are those of the ground it covers (its
// polygonal boundary only: spikes that collapse to lines are not edge).
korvane::host::Geometry MeasuredShape(const korvane::host::Geometry& shape);

// The question a save dialog asks before it hands back a name that is
// taken, by a file or by a folder (a GRID): "<path> already exists." and
// "Do you want to replace it?" under "Save As". True when nothing is there or
// the user answers Yes; a script that does not answer takes the default
// button, No unless yesByDefault.
bool MayReplace(const std::string& path, bool yesByDefault = false);

// The wait cursor on the screen for the object's life; the default pointer
// comes back however the scope is left.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// The question before a run that measures a layer in geographic
// coordinates (Yes/No, default No): true to go on.
bool ConfirmGeographicLayer(const std::string& layerName);

// The text cut to at most `bytes` bytes, on a character boundary (UTF-8).
std::string FitBytes(const std::string& s, int32_t bytes);
// The first n characters of a UTF-8 text.
std::string firstChars(const std::string& s, size_t n);
// The date and time of now as an output table's RunDate holds it.
std::string RunDateNow();

// Sorts arr[lower..upper] in place (upper: the last index; the whole array
// when omitted), ascending or descending. Iterative quicksort with a bounded
// stack; the pivot is the median of the range's ends and middle, so ordered
// input costs n log n.
template <class T>
void ArraySort(std::vector<T>& arr, std::optional<int64_t> upperBound = std::nullopt, bool descending = false);

}  // namespace kv

#include "shared/ArraySort.inl"
