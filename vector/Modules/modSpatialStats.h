#pragma once
// Vector landscape metrics: the class list of a class field, one routine per
// metric over a feature cursor (regional analysis calls them region by region
// and class by class), and the per-patch formulas that the metric run and the
// support fields share.
//
// Areas and lengths are in the layer's map units; converting them to hectares
// or acres is the caller's business.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/Layer.h"
#include "host/data/Table.h"
#include "host/data/Value.h"

namespace kv {

// ---- the metric table ------------------------------------------------------------

// The twenty vector metric codes, in their listing order.
enum class Metric : int32_t {
    CA, TLA, NumP, MPS, MedPS, PSCoV, PSSD, TE, ED, MPE,
    MSI, AWMSI, MPAR, MPFD, AWMPFD, SDI, SEI, TCA, CAD, TCAI,
};
inline constexpr int32_t kMetricCount = 20;

// Everything the system holds about one metric: its code (also its output
// field name), the dialog's check box for it with caption, frame (nullptr:
// directly in the options frame) and place in that frame.
struct MetricInfo {
    Metric metric;
    const char* code;
    const char* box;
    const char* caption;
    const char* frame;
    int32_t top;
    int32_t height;
};

// The twenty metrics in the dialog's control order (TCA, TCAI, CAD, SDI,
// SEI, AWMSI, ... TLA, CA), which is the order of a request's metrics.
extern const MetricInfo kMetricTable[kMetricCount];
// The entry of one metric.
const MetricInfo& MetricInfoOf(Metric m);

// The code's name, which is also its output field name ("CA", "NumP", ...).
const char* MetricCode(Metric m);
// The dialog's check box of the metric ("chkClassArea", ...).
const char* MetricBox(Metric m);
// The metric that a check-box name stands for (exact, case-sensitive); false
// for any other name, "NIL" among them.
bool MetricOfBox(std::string_view boxName, Metric& out);
// The metric of a code (exact); false for any other text.
bool MetricOfCode(std::string_view code, Metric& out);

// ---- class values ---------------------------------------------------------------

// Class values compared exactly, as a keyed collection compares its keys:
// numbers by value within their own type, text by character codes.
struct ClassValueHash {
    size_t operator()(const korvane::host::Value& v) const;
};
struct ClassValueEqual {
    bool operator()(const korvane::host::Value& a, const korvane::host::Value& b) const { return a == b; }
};

// Distinct class values in first-seen order, each with its position.
class ClassIndex {
public:
    // The value's position, adding it at the end when it is new. Null values
    // belong to no class: -1.
    int32_t add(const korvane::host::Value& v);
    // The value's position, or -1.
    int32_t find(const korvane::host::Value& v) const;
    const std::vector<korvane::host::Value>& values() const { return values_; }
    int32_t size() const { return static_cast<int32_t>(values_.size()); }

private:
    std::unordered_map<korvane::host::Value, int32_t, ClassValueHash, ClassValueEqual> index_;
    std::vector<korvane::host::Value> values_;
};

// A where clause selecting one class value: field " = " value, or with quoted
// true field " = '" value "'". Quotes inside text are doubled; numbers are
// written in their shortest exact form with a '.' whatever the locale.
std::string ClassWhereClause(const std::string& fieldName, const korvane::host::Value& value, bool quoted);

// The distinct values of the class field over every feature of the layer,
// selected or not, in first-seen (object-id) order; null values are left out.
// One pass; the layer's selection is not touched. Empty on failure (the error
// report has been shown).
std::vector<korvane::host::Value> GetClassList(const korvane::host::LayerPtr& layer, const std::string& classField);

// ---- per-patch formulas ---------------------------------------------------------

// The constant pi as the metrics use it.
inline constexpr double kPi = 3.14159265358979;

// Shape index: vector form P / (2 sqrt(pi A)) (a circle gives 1), raster form
// 0.25 P / sqrt(A) (a square gives 1). 0 for a patch without area.
double ShapeIndex(double area, double perimeter, bool raster);
// Perimeter-area ratio P / A; 0 for a patch without area.
double PerimAreaRatio(double area, double perimeter);
// Fractal dimension 2 ln(k P) / ln(A), held to 1..2; 1 when A <= 1.
// k = 1 for vector patches, 0.25 for patches made of raster cells.
double FractalDimension(double area, double perimeter, double k);

// Median of the values, the middle of their ascending order (the values
// are reordered); 0 when empty.
double Median(std::vector<double>& values);
// Population standard deviation from the count, the sum of squares and the
// sum; a variance that rounding takes below 0 counts as 0. 0 for no values.
double PopulationSD(double count, double sumOfSquares, double sum);
// Sum over i of values[i] * weights[i] / totalWeight, in list order; 0 when
// the total is 0.
double WeightedMean(const std::vector<double>& weights, const std::vector<double>& values, double totalWeight);
// The Shannon term p ln p of one share; 0 for p <= 0 (its limit).
double ShannonTerm(double p);

// ---- the metric engine -------------------------------------------------------------
//
// The one place where vector metric values are worked out. A caller hands
// in the values of each patch (in object-id order, so that sums come out the
// same whoever adds them) to one PatchGroup per class, landscape or region
// and class, and asks the group for any metric's value. The metric run, the
// regional analysis and the metric routines all go through it.

// The per-patch values a metric reads: area and perimeter in map units, the
// shape index, perimeter-area ratio and fractal dimension of the patch, and
// the Patch_Area and Core_Area of a core-area layer.
struct PatchValues {
    double area = 0, perimeter = 0, si = 0, par = 0, fd = 0;
    double patchArea = 0, coreArea = 0;
};

// Which per-patch lists a group keeps: the median needs every area, the
// area-weighted means every area with its shape index or fractal dimension.
struct PatchLists {
    bool areas = false, si = false, fd = false;
    // What the metrics need (all of them when the list is empty).
    static PatchLists For(const std::vector<Metric>& metrics);
};

// The landscape-wide figures that a group's values refer to.
struct MetricScope {
    double divisor = 1;              // the units divisor: areas are divided by it
    double landscapeArea = 0;        // TLA, TCA and the denominator of ED
    double landscapePatchArea = 0;   // CAD: Patch_Area total, consecutive repeats once
    double diversity = 0;            // SDI (0 at class level)
    int32_t diversityClasses = 0;    // the classes behind SDI, for SEI
};

// The patches of one class, landscape or region and class.
class PatchGroup {
public:
    explicit PatchGroup(PatchLists lists = PatchLists{true, true, true}) : lists_(lists) {}
    void add(const PatchValues& p);

    double count() const { return n_; }
    double area() const { return area_; }

    // The metric's value over the patches added so far; 0 where the metric
    // has nothing to measure (no patches, a total of 0) and for a value
    // beyond any sense (an infinite area).
    double value(Metric m, const MetricScope& scope) const;

private:
    PatchLists lists_;
    double n_ = 0, area_ = 0, areaSquares_ = 0, perimeter_ = 0;
    double si_ = 0, par_ = 0, fd_ = 0, patchArea_ = 0, coreArea_ = 0;
    std::vector<double> areas_, siValues_, fdValues_;
};

// The landscape totals of a run, over every patch, whatever its class.
class LandscapeTotals {
public:
    void add(const PatchValues& p) {
        area += p.area;
        if (p.patchArea != previousPatchArea_) patchArea += p.patchArea;
        previousPatchArea_ = p.patchArea;
    }
    double area = 0;
    // The cores of one patch repeat its Patch_Area on consecutive rows, so a
    // repeated value is added once.
    double patchArea = 0;

private:
    double previousPatchArea_ = 0;
};

// Shannon's diversity of the class areas over the landscape's area (the
// negated sum of p ln p, in class order); 0 when the total is 0.
double ShannonDiversity(const std::vector<double>& classAreas, double total);
// Shannon's evenness: the diversity over ln(number of classes); 0 for fewer
// than two classes.
double ShannonEvenness(double diversity, int32_t classes);

// ---- metric routines ------------------------------------------------------------
//
// Each routine reads its cursor to the end (a cursor serves one call). Patch
// area is field Area when the features have it, else the shape's area; patch
// perimeter is field Perimeter, else the shape's length. A routine with
// nothing to measure (an empty cursor, a total of 0) returns 0. Other
// failures are shown in the error report and the routine returns 0.

double GetCA(korvane::host::Cursor& cursor);
double GetTLA(korvane::host::Cursor& cursor);
int32_t GetNumOfPatches(korvane::host::Cursor& cursor);
double GetMPS(korvane::host::Cursor& cursor);
double GetMedPS(korvane::host::Cursor& cursor);
double getPSSD(korvane::host::Cursor& cursor);
// Percent.
double GetPSCoV(korvane::host::Cursor& cursor);
double GetTE(korvane::host::Cursor& cursor);
double GetMPE(korvane::host::Cursor& cursor);
// Field SI when present, else the vector shape index; blnVector is not read.
double GetMSI(korvane::host::Cursor& cursor, bool blnVector);
double GetAWMSI(korvane::host::Cursor& cursor, bool blnVector);
// Field PAR when present, else P / A.
double GetMPAR(korvane::host::Cursor& cursor);
// Field FD when present, else the fractal dimension with k = 1 (blnVector)
// or 0.25.
double GetMPFD(korvane::host::Cursor& cursor, bool blnVector);
double GetAWMPFD(korvane::host::Cursor& cursor, bool blnVector);
// Cores counted on coreCursor per unit of the Patch_Area total of
// patchCursor (consecutive equal values added once), times 1,000,000.
// -1 after a "Missing Field" message when there is no Patch_Area field.
double GetCAD(korvane::host::Cursor& coreCursor, korvane::host::Cursor& patchCursor);
// Core_Area sum over Patch_Area sum, percent; -1 after a "Missing Field"
// message when either field is missing.
double GetTCAI(korvane::host::Cursor& cursor);
// Shannon's diversity of the layer's classes (areas from field Area over the
// layer's selected features, all when none is selected).
double GetSDI(const korvane::host::LayerPtr& layer, const std::string& classField);
// Shannon's evenness: GetSDI over ln(number of classes); 0 for one class.
double GetSEI(const korvane::host::LayerPtr& layer, const std::string& classField);

}  // namespace kv
