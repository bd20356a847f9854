#include "vector/Modules/modSpatialStats.h"

#include <fmt/format.h>

#include <array>
#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

#include "host/Failure.h"
#include "host/Ui.h"
#include "host/data/FeatureLayer.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"
#include "vector/Modules/modMisc.h"

KV_MODULE("Modules/modSpatialStats");

namespace kv {

namespace h = korvane::host;

// ---- the metric table ------------------------------------------------------------

// clang-format off
const MetricInfo kMetricTable[kMetricCount] = {
    {Metric::TCA,    "TCA",    "chkTotalArea",           "Total Core Area",                            "fraCoreAreaMetrics",  240,  255},
    {Metric::TCAI,   "TCAI",   "chkTotalAreaIndex",      "Total Core Area Index",                      "fraCoreAreaMetrics",  720,  255},
    {Metric::CAD,    "CAD",    "chkAreaDensity",         "Core Area Density",                          "fraCoreAreaMetrics",  480,  255},
    {Metric::SDI,    "SDI",    "chkShannonsDiversity",   "Shannon's Diversity Index",                  "fraDiversityMetrics", 240,  255},
    {Metric::SEI,    "SEI",    "chkShannonsEvenness",    "Shannon's Evenness Index",                   "fraDiversityMetrics", 480,  255},
    {Metric::AWMSI,  "AWMSI",  "chkAreaWeightedMSI",     "Area Weighted Mean Shape Index",             "fraShapeMetrics",     480,  255},
    {Metric::MSI,    "MSI",    "chkMeanShapeIndex",      "Mean Shape Index",                           "fraShapeMetrics",     240,  255},
    {Metric::MPAR,   "MPAR",   "chkMeanPerimAreaRatio",  "Mean Perimeter-Area Ratio",                  "fraShapeMetrics",     720,  255},
    {Metric::MPFD,   "MPFD",   "chkMeanPatchFractalDim", "Mean Patch Fractal Dimension",               "fraShapeMetrics",     960,  255},
    {Metric::AWMPFD, "AWMPFD", "chkAreaWeightedMPFD",    "Area Weighted Mean Patch Fractal Dimension", "fraShapeMetrics",     1230, 375},  // caption on two lines
    {Metric::TE,     "TE",     "chkTotalEdge",           "Total Edge",                                 "fraEdgeMetrics",      240,  255},
    {Metric::ED,     "ED",     "chkEdgeDensity",         "Edge Density",                               "fraEdgeMetrics",      480,  255},
    {Metric::MPE,    "MPE",    "chkMeanEdge",            "Mean Patch Edge",                            "fraEdgeMetrics",      720,  255},
    {Metric::MPS,    "MPS",    "chkMeanPatchSize",       "Mean Patch Size",                            "fraDensityAndSize",   480,  255},
    {Metric::NumP,   "NumP",   "chkNumOfPatches",        "Number of Patches",                          "fraDensityAndSize",   240,  255},
    {Metric::MedPS,  "MedPS",  "chkMedianPatchSize",     "Median Patch Size",                          "fraDensityAndSize",   720,  255},
    {Metric::PSCoV,  "PSCoV",  "chkPatchSize_Variance",  "Patch Size Coefficient of Variance",         "fraDensityAndSize",   960,  255},
    {Metric::PSSD,   "PSSD",   "chkPatchSize_stdDev",    "Patch Size Standard Deviation",              "fraDensityAndSize",   1200, 255},
    {Metric::TLA,    "TLA",    "chkTotalLandscapeArea",  "Total Landscape Area",                       nullptr,               600,  255},
    {Metric::CA,     "CA",     "chkClassArea",           "Class Area",                                 nullptr,               360,  255},
};
// clang-format on

const MetricInfo& MetricInfoOf(Metric m) {
    // The table is in control order; the lookup by metric is built once.
    static const std::array<const MetricInfo*, kMetricCount> byMetric = [] {
        std::array<const MetricInfo*, kMetricCount> a{};
        for (const MetricInfo& info : kMetricTable) a[static_cast<size_t>(info.metric)] = &info;
        return a;
    }();
    return *byMetric[static_cast<size_t>(m)];
}

const char* MetricCode(Metric m) { return MetricInfoOf(m).code; }
const char* MetricBox(Metric m) { return MetricInfoOf(m).box; }

bool MetricOfBox(std::string_view boxName, Metric& out) {
    for (const MetricInfo& info : kMetricTable)
        if (boxName == info.box) {
            out = info.metric;
            return true;
        }
    return false;
}

bool MetricOfCode(std::string_view code, Metric& out) {
    for (const MetricInfo& info : kMetricTable)
        if (code == info.code) {
            out = info.metric;
            return true;
        }
    return false;
}

// ---- class values ---------------------------------------------------------------

size_t ClassValueHash::operator()(const h::Value& v) const {
    size_t kind = v.index() * 0x9E3779B97F4A7C15ull;
    if (auto p = std::get_if<int32_t>(&v)) return kind ^ std::hash<int32_t>{}(*p);
    if (auto p = std::get_if<float>(&v)) return kind ^ std::hash<float>{}(*p);  // +0 and -0 hash alike
    if (auto p = std::get_if<double>(&v)) return kind ^ std::hash<double>{}(*p);
    if (auto p = std::get_if<std::string>(&v)) return kind ^ std::hash<std::string>{}(*p);
    if (auto p = std::get_if<h::Date>(&v))
        return kind ^ std::hash<int64_t>{}((int64_t{p->year} * 16 + p->month) * 32 + p->day);
    return kind;
}

int32_t ClassIndex::add(const h::Value& v) {
    if (h::isNull(v)) return -1;
    auto [it, added] = index_.try_emplace(v, size());
    if (added) values_.push_back(v);
    return it->second;
}

int32_t ClassIndex::find(const h::Value& v) const {
    auto it = index_.find(v);
    return it == index_.end() ? -1 : it->second;
}

std::string ClassWhereClause(const std::string& fieldName, const h::Value& value, bool quoted) {
    // toText writes numbers in their shortest exact form, independent of the locale.
    std::string text = h::toText(value);
    if (!quoted) return fieldName + " = " + text;
    std::string escaped;
    escaped.reserve(text.size() + 2);
    for (char c : text) {
        escaped += c;
        if (c == '\'') escaped += '\'';
    }
    return fieldName + " = '" + escaped + "'";
}

std::vector<h::Value> GetClassList(const h::LayerPtr& layer, const std::string& classField) {
    std::vector<h::Value> result;
    KV_PROCEDURE("GetClassList", TopLevel).run([&] {
        KV_LINE;
        auto featureLayer = std::dynamic_pointer_cast<h::FeatureLayer>(layer);
        if (!featureLayer || !featureLayer->featureClass())
            h::fail(h::err::ObjectNotSet, "GetClassList", "The layer is not a feature layer.");
        const h::FeatureClassPtr& fc = featureLayer->featureClass();
        KV_LINE;
        int32_t field = fc->findField(classField);
        if (field < 0)
            h::fail(h::err::HostInvalidArg, "GetClassList",
                    "There is no field " + classField + " in layer " + layer->name() + ".");
        // One pass over the class itself: the list covers every feature,
        // whatever is selected, and the selection is never changed.
        KV_LINE;
        h::Cursor cursor = fc->search(nullptr, true);
        ClassIndex classes;
        KV_LINE;
        while (h::RowPtr row = cursor.next()) classes.add(row->value(field));
        result = classes.values();
    });
    return result;
}

// ---- per-patch formulas ---------------------------------------------------------

double ShapeIndex(double area, double perimeter, bool raster) {
    if (!(area > 0)) return 0;
    if (raster) return 0.25 * perimeter / std::sqrt(area);
    return perimeter / (2 * std::sqrt(kPi * area));
}

double PerimAreaRatio(double area, double perimeter) {
    if (!(area > 0)) return 0;
    return perimeter / area;
}

double FractalDimension(double area, double perimeter, double k) {
    if (!(area > 1)) return 1;
    double fd = 2 * std::log(k * perimeter) / std::log(area);
    if (!(fd >= 1)) fd = 1;  // also a perimeter of 0 (ln 0)
    if (fd > 2) fd = 2;
    return fd;
}

double Median(std::vector<double>& values) {
    if (values.empty()) return 0;
    size_t u = values.size() - 1;
    // The middle values are those of the sorted list; without a NaN (which
    // orders nothing) they are found without sorting the rest.
    if (std::none_of(values.begin(), values.end(), [](double x) { return std::isnan(x); })) {
        auto mid = values.begin() + static_cast<std::ptrdiff_t>(u / 2);
        std::nth_element(values.begin(), mid, values.end());
        if (u % 2 == 0) return *mid;
        return (*mid + *std::min_element(mid + 1, values.end())) / 2;
    }
    ArraySort(values, std::nullopt, false);
    if (u % 2 == 1) return (values[u / 2] + values[u / 2 + 1]) / 2;
    return values[u / 2];
}

double PopulationSD(double count, double sumOfSquares, double sum) {
    if (count == 0) return 0;
    double m = sum / count;
    double variance = (sumOfSquares - m * m * count) / count;
    if (!(variance > 0)) return 0;  // all values equal: rounding may leave a tiny negative
    return std::sqrt(variance);
}

double WeightedMean(const std::vector<double>& weights, const std::vector<double>& values, double totalWeight) {
    if (totalWeight == 0) return 0;
    double sum = 0;
    size_t n = std::min(weights.size(), values.size());
    for (size_t i = 0; i < n; ++i) sum += values[i] * weights[i] / totalWeight;
    return sum;
}

double ShannonTerm(double p) {
    if (!(p > 0)) return 0;
    return std::log(p) * p;
}

// ---- the metric engine -------------------------------------------------------------

PatchLists PatchLists::For(const std::vector<Metric>& metrics) {
    if (metrics.empty()) return PatchLists{true, true, true};
    PatchLists l;
    for (Metric m : metrics) {
        if (m == Metric::MedPS || m == Metric::AWMSI || m == Metric::AWMPFD) l.areas = true;
        if (m == Metric::AWMSI) l.si = true;
        if (m == Metric::AWMPFD) l.fd = true;
    }
    return l;
}

void PatchGroup::add(const PatchValues& p) {
    n_ += 1;
    area_ += p.area;
    areaSquares_ += p.area * p.area;
    perimeter_ += p.perimeter;
    si_ += p.si;
    par_ += p.par;
    fd_ += p.fd;
    patchArea_ += p.patchArea;
    coreArea_ += p.coreArea;
    if (lists_.areas) areas_.push_back(p.area);
    if (lists_.si) siValues_.push_back(p.si);
    if (lists_.fd) fdValues_.push_back(p.fd);
}

double PatchGroup::value(Metric m, const MetricScope& scope) const {
    const double d = scope.divisor;
    auto mean = [&](double sum) { return n_ != 0 ? sum / n_ : 0; };
    double v = 0;
    switch (m) {
        case Metric::CA: v = area_ / d; break;
        case Metric::TLA:
        case Metric::TCA: v = scope.landscapeArea / d; break;
        case Metric::NumP: v = n_; break;
        case Metric::MPS: v = mean(area_) / d; break;
        case Metric::MedPS: {
            // The weighted means pair the kept areas with their patches' values
            // by position, so the median sorts a copy.
            std::vector<double> sorted = areas_;
            v = Median(sorted) / d;
            break;
        }
        case Metric::PSCoV: {
            double m1 = mean(area_);
            v = m1 != 0 ? PopulationSD(n_, areaSquares_, area_) / m1 * 100 : 0;
            break;
        }
        case Metric::PSSD: v = PopulationSD(n_, areaSquares_, area_) / d; break;
        case Metric::TE: v = perimeter_; break;
        case Metric::ED: v = scope.landscapeArea != 0 ? perimeter_ / scope.landscapeArea * d : 0; break;
        case Metric::MPE: v = mean(perimeter_); break;
        case Metric::MSI: v = mean(si_); break;
        case Metric::AWMSI: v = WeightedMean(areas_, siValues_, area_); break;
        case Metric::MPAR: v = mean(par_) * d; break;
        case Metric::MPFD: v = mean(fd_); break;
        case Metric::AWMPFD: v = WeightedMean(areas_, fdValues_, area_); break;
        case Metric::SDI: v = scope.diversity; break;
        case Metric::SEI: v = ShannonEvenness(scope.diversity, scope.diversityClasses); break;
        case Metric::CAD: v = scope.landscapePatchArea != 0 ? n_ / scope.landscapePatchArea * 1000000 : 0; break;
        case Metric::TCAI: v = patchArea_ != 0 ? coreArea_ / patchArea_ * 100 : 0; break;
    }
    return std::isfinite(v) ? v : 0;
}

double ShannonDiversity(const std::vector<double>& classAreas, double total) {
    if (total == 0) return 0;
    double sdi = 0;
    for (double a : classAreas) sdi = sdi - ShannonTerm(a / total);
    return sdi;
}

double ShannonEvenness(double diversity, int32_t classes) {
    if (classes < 2) return 0;
    return diversity / std::log(static_cast<double>(classes));
}

// ---- metric routines ------------------------------------------------------------

namespace {

// Reads the values one metric needs from a cursor's features: a field the
// features carry (Area, Perimeter, SI, PAR, FD) is read as stored, else the
// value is measured on the shape.
class PatchReader {
public:
    PatchReader(const h::Row& first, Metric m, double k) : k_(k) {
        const h::Fields& f = first.fields();
        area_ = f.find("Area");
        perimeter_ = f.find("Perimeter");
        si_ = f.find("SI");
        par_ = f.find("PAR");
        fd_ = f.find("FD");
        switch (m) {
            case Metric::MSI: case Metric::AWMSI: needSI_ = true; break;
            case Metric::MPAR: needPAR_ = true; break;
            case Metric::MPFD: case Metric::AWMPFD: needFD_ = true; break;
            default: break;
        }
        needPerimeter_ = m == Metric::TE || m == Metric::MPE || (needSI_ && si_ < 0) || (needPAR_ && par_ < 0) ||
                         (needFD_ && fd_ < 0);
    }
    PatchValues read(const h::Row& r) const {
        PatchValues p;
        p.area = area_ >= 0 ? h::toDouble(r.value(area_)) : r.shape().area();
        if (needPerimeter_) p.perimeter = perimeter_ >= 0 ? h::toDouble(r.value(perimeter_)) : r.shape().length();
        if (needSI_) p.si = si_ >= 0 ? h::toDouble(r.value(si_)) : ShapeIndex(p.area, p.perimeter, false);
        if (needPAR_) p.par = par_ >= 0 ? h::toDouble(r.value(par_)) : PerimAreaRatio(p.area, p.perimeter);
        if (needFD_) p.fd = fd_ >= 0 ? h::toDouble(r.value(fd_)) : FractalDimension(p.area, p.perimeter, k_);
        return p;
    }

private:
    double k_;
    int32_t area_, perimeter_, si_, par_, fd_;
    bool needSI_ = false, needPAR_ = false, needFD_ = false, needPerimeter_ = false;
};

// The metric over every feature of the cursor, through the engine.
double cursorMetric(h::Cursor& cursor, Metric m, double k = 1) {
    PatchGroup group(PatchLists::For({m}));
    h::RowPtr row = cursor.next();
    if (!row) return 0;
    PatchReader reader(*row, m, k);
    for (; row; row = cursor.next()) group.add(reader.read(*row));
    MetricScope scope;
    scope.landscapeArea = group.area();
    return group.value(m, scope);
}

void missingCoreField(const char* name) {
    MsgBox(fmt::format("There is no {} field in this shapefile.\r\nCannot continue", name), h::mb::Critical,
           "Missing Field");
}

// Shannon's diversity over the given classes of the layer.
double diversity(const h::LayerPtr& layer, const std::string& classField, const std::vector<h::Value>& classes) {
    if (classes.empty()) return 0;
    // The class values must be searchable in one form or the other.
    if (!getCursor(layer, ClassWhereClause(classField, classes.front(), false)) &&
        !getCursor(layer, ClassWhereClause(classField, classes.front(), true))) {
        MsgBox("Unable to search the layer.", h::mb::Critical, "modSpatialStats - GetSDI");
        return 0;
    }
    ClassIndex index;
    for (const h::Value& v : classes) index.add(v);
    std::vector<double> classArea(classes.size(), 0.0);
    LandscapeTotals totals;
    std::optional<h::Cursor> cursor = getCursor(layer, "");
    if (!cursor) h::fail(h::err::ObjectNotSet, "GetSDI", "The layer cannot be searched.");
    h::RowPtr row = cursor->next();
    if (!row) return 0;
    int32_t area = row->fields().find("Area");
    if (area < 0) h::fail(h::err::HostInvalidArg, "GetSDI", "There is no Area field in layer " + layer->name() + ".");
    int32_t cls = row->fields().find(classField);
    if (cls < 0) h::fail(h::err::HostInvalidArg, "GetSDI", "There is no field " + classField + ".");
    for (; row; row = cursor->next()) {
        PatchValues p;
        p.area = h::toDouble(row->value(area));
        totals.add(p);
        int32_t c = index.find(row->value(cls));
        if (c >= 0) classArea[static_cast<size_t>(c)] += p.area;
    }
    return ShannonDiversity(classArea, totals.area);
}

}  // namespace

#define KV_CURSOR_METRIC(name, ...)                         \
    double result = 0;                                      \
    KV_PROCEDURE(name, TopLevel).run([&] {                  \
        KV_LINE;                                            \
        result = cursorMetric(cursor, __VA_ARGS__);         \
    });                                                     \
    return result

double GetCA(h::Cursor& cursor) { KV_CURSOR_METRIC("GetCA", Metric::CA); }
double GetTLA(h::Cursor& cursor) { KV_CURSOR_METRIC("GetTLA", Metric::TLA); }

int32_t GetNumOfPatches(h::Cursor& cursor) {
    int32_t result = 0;
    KV_PROCEDURE("GetNumOfPatches", TopLevel).run([&] {
        int32_t n = 0;
        KV_LINE;
        while (cursor.next()) {
            if (n == INT32_MAX) h::fail(h::err::Overflow, "Korvane", "Overflow");
            ++n;
        }
        result = n;
    });
    return result;
}

double GetMPS(h::Cursor& cursor) { KV_CURSOR_METRIC("GetMPS", Metric::MPS); }
double GetMedPS(h::Cursor& cursor) { KV_CURSOR_METRIC("GetMedPS", Metric::MedPS); }
double getPSSD(h::Cursor& cursor) { KV_CURSOR_METRIC("getPSSD", Metric::PSSD); }
double GetPSCoV(h::Cursor& cursor) { KV_CURSOR_METRIC("GetPSCoV", Metric::PSCoV); }
double GetTE(h::Cursor& cursor) { KV_CURSOR_METRIC("GetTE", Metric::TE); }
double GetMPE(h::Cursor& cursor) { KV_CURSOR_METRIC("GetMPE", Metric::MPE); }
// The shape index routines always take the vector form when they measure.
double GetMSI(h::Cursor& cursor, bool) { KV_CURSOR_METRIC("GetMSI", Metric::MSI); }
double GetAWMSI(h::Cursor& cursor, bool) { KV_CURSOR_METRIC("GetAWMSI", Metric::AWMSI); }
double GetMPAR(h::Cursor& cursor) { KV_CURSOR_METRIC("GetMPAR", Metric::MPAR); }
double GetMPFD(h::Cursor& cursor, bool blnVector) { KV_CURSOR_METRIC("GetMPFD", Metric::MPFD, blnVector ? 1 : 0.25); }
double GetAWMPFD(h::Cursor& cursor, bool blnVector) {
    KV_CURSOR_METRIC("GetAWMPFD", Metric::AWMPFD, blnVector ? 1 : 0.25);
}

#undef KV_CURSOR_METRIC

double GetCAD(h::Cursor& coreCursor, h::Cursor& patchCursor) {
    double result = 0;
    KV_PROCEDURE("GetCAD", TopLevel).run([&] {
        KV_LINE;
        h::RowPtr core = coreCursor.next();
        h::RowPtr patch = patchCursor.next();
        const h::Row* probe = core ? core.get() : patch.get();
        if (probe && probe->fields().find("Patch_Area") < 0) {
            missingCoreField("Patch_Area");
            result = -1;
            return;
        }
        PatchGroup cores(PatchLists{});
        KV_LINE;
        for (; core; core = coreCursor.next()) cores.add(PatchValues{});
        LandscapeTotals totals;
        if (patch) {
            KV_LINE;
            int32_t field = patch->fields().find("Patch_Area");
            if (field < 0) h::fail(h::err::HostInvalidArg, "GetCAD", "The patch rows have no Patch_Area field.");
            for (; patch; patch = patchCursor.next()) {
                PatchValues p;
                p.patchArea = h::toDouble(patch->value(field));
                totals.add(p);
            }
        }
        MetricScope scope;
        scope.landscapePatchArea = totals.patchArea;
        result = cores.value(Metric::CAD, scope);
    });
    return result;
}

double GetTCAI(h::Cursor& cursor) {
    double result = 0;
    KV_PROCEDURE("GetTCAI", TopLevel).run([&] {
        KV_LINE;
        h::RowPtr row = cursor.next();
        if (!row) return;
        int32_t patchArea = row->fields().find("Patch_Area");
        if (patchArea < 0) {
            missingCoreField("Patch_Area");
            result = -1;
            return;
        }
        int32_t coreArea = row->fields().find("Core_Area");
        if (coreArea < 0) {
            missingCoreField("Core_Area");
            result = -1;
            return;
        }
        PatchGroup group(PatchLists{});
        KV_LINE;
        for (; row; row = cursor.next()) {
            PatchValues p;
            p.patchArea = h::toDouble(row->value(patchArea));
            p.coreArea = h::toDouble(row->value(coreArea));
            group.add(p);
        }
        result = group.value(Metric::TCAI, MetricScope{});
    });
    return result;
}

double GetSDI(const h::LayerPtr& layer, const std::string& classField) {
    double result = 0;
    KV_PROCEDURE("GetSDI", TopLevel).run([&] {
        KV_LINE;
        std::vector<h::Value> classes = GetClassList(layer, classField);
        KV_LINE;
        result = diversity(layer, classField, classes);
    });
    return result;
}

double GetSEI(const h::LayerPtr& layer, const std::string& classField) {
    double result = 0;
    KV_PROCEDURE("GetSEI", TopLevel).run([&] {
        KV_LINE;
        std::vector<h::Value> classes = GetClassList(layer, classField);
        // One class has no evenness (ln 1 = 0).
        if (classes.size() < 2) return;
        KV_LINE;
        result = ShannonEvenness(diversity(layer, classField, classes), static_cast<int32_t>(classes.size()));
    });
    return result;
}

}  // namespace kv
