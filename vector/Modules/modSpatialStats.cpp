#include "vector/Modules/modSpatialStats.h"

#include <fmt/format.h>

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

// ---- metric codes -------------------------------------------------------------

namespace {

struct MetricName {
    const char* code;
    const char* box;
};

constexpr MetricName kMetricNames[kMetricCount] = {
    {"CA", "chkClassArea"},
    {"TLA", "chkTotalLandscapeArea"},
    {"NumP", "chkNumOfPatches"},
    {"MPS", "chkMeanPatchSize"},
    {"MedPS", "chkMedianPatchSize"},
    {"PSCoV", "chkPatchSize_Variance"},
    {"PSSD", "chkPatchSize_stdDev"},
    {"TE", "chkTotalEdge"},
    {"ED", "chkEdgeDensity"},
    {"MPE", "chkMeanEdge"},
    {"MSI", "chkMeanShapeIndex"},
    {"AWMSI", "chkAreaWeightedMSI"},
    {"MPAR", "chkMeanPerimAreaRatio"},
    {"MPFD", "chkMeanPatchFractalDim"},
    {"AWMPFD", "chkAreaWeightedMPFD"},
    {"SDI", "chkShannonsDiversity"},
    {"SEI", "chkShannonsEvenness"},
    {"TCA", "chkTotalArea"},
    {"CAD", "chkAreaDensity"},
    {"TCAI", "chkTotalAreaIndex"},
};

}  // namespace

const char* MetricCode(Metric m) { return kMetricNames[static_cast<int32_t>(m)].code; }
const char* MetricBox(Metric m) { return kMetricNames[static_cast<int32_t>(m)].box; }

bool MetricOfBox(std::string_view boxName, Metric& out) {
    for (int32_t i = 0; i < kMetricCount; ++i)
        if (boxName == kMetricNames[i].box) {
            out = static_cast<Metric>(i);
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
    ArraySort(values, std::nullopt, false);
    size_t u = values.size() - 1;
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

// ---- metric routines ------------------------------------------------------------

namespace {

// Patch area and perimeter of a feature: the support fields when the class
// has them, else the shape.
struct PatchFields {
    int32_t area = -1;
    int32_t perimeter = -1;

    explicit PatchFields(const h::Row& first)
        : area(first.fields().find("Area")), perimeter(first.fields().find("Perimeter")) {}
    double areaOf(const h::Row& r) const { return area >= 0 ? h::toDouble(r.value(area)) : r.shape().area(); }
    double perimeterOf(const h::Row& r) const {
        return perimeter >= 0 ? h::toDouble(r.value(perimeter)) : r.shape().length();
    }
};

// Calls f(row, fields) for every feature of the cursor.
template <class F>
void forEachPatch(h::Cursor& cursor, F&& f) {
    h::RowPtr row = cursor.next();
    if (!row) return;
    PatchFields fields(*row);
    for (; row; row = cursor.next()) f(*row, fields);
}

double sumOfAreas(h::Cursor& cursor) {
    double sum = 0;
    forEachPatch(cursor, [&](const h::Row& r, const PatchFields& p) { sum += p.areaOf(r); });
    return sum;
}

// The mean of field `name` when the features have it, else of fallback(row, fields).
template <class F>
double meanOfFieldOr(h::Cursor& cursor, const char* name, F&& fallback) {
    h::RowPtr row = cursor.next();
    if (!row) return 0;
    PatchFields fields(*row);
    int32_t own = row->fields().find(name);
    double sum = 0;
    int64_t n = 0;
    for (; row; row = cursor.next(), ++n) sum += own >= 0 ? h::toDouble(row->value(own)) : fallback(*row, fields);
    return sum / static_cast<double>(n);
}

// The area-weighted mean of field `name`, else of fallback(row, fields).
template <class F>
double areaWeightedOr(h::Cursor& cursor, const char* name, F&& fallback) {
    h::RowPtr row = cursor.next();
    if (!row) return 0;
    PatchFields fields(*row);
    int32_t own = row->fields().find(name);
    std::vector<double> areas, values;
    double total = 0;
    for (; row; row = cursor.next()) {
        double a = fields.areaOf(*row);
        areas.push_back(a);
        values.push_back(own >= 0 ? h::toDouble(row->value(own)) : fallback(*row, fields));
        total += a;
    }
    return WeightedMean(areas, values, total);
}

struct AreaMoments {
    double n = 0, sum = 0, sumOfSquares = 0;
};

AreaMoments areaMoments(h::Cursor& cursor) {
    AreaMoments m;
    forEachPatch(cursor, [&](const h::Row& r, const PatchFields& p) {
        double a = p.areaOf(r);
        m.n += 1;
        m.sum += a;
        m.sumOfSquares += a * a;
    });
    return m;
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
    double total = 0;
    std::optional<h::Cursor> cursor = getCursor(layer, "");
    if (!cursor) h::fail(h::err::ObjectNotSet, "GetSDI", "The layer cannot be searched.");
    h::RowPtr row = cursor->next();
    if (!row) return 0;
    int32_t area = row->fields().find("Area");
    if (area < 0) h::fail(h::err::HostInvalidArg, "GetSDI", "There is no Area field in layer " + layer->name() + ".");
    int32_t cls = row->fields().find(classField);
    if (cls < 0) h::fail(h::err::HostInvalidArg, "GetSDI", "There is no field " + classField + ".");
    for (; row; row = cursor->next()) {
        double a = h::toDouble(row->value(area));
        total += a;
        int32_t c = index.find(row->value(cls));
        if (c >= 0) classArea[static_cast<size_t>(c)] += a;
    }
    if (total == 0) return 0;
    double sdi = 0;
    for (double a : classArea) sdi = sdi - ShannonTerm(a / total);
    return sdi;
}

}  // namespace

double GetCA(h::Cursor& cursor) {
    double result = 0;
    KV_PROCEDURE("GetCA", TopLevel).run([&] {
        KV_LINE;
        result = sumOfAreas(cursor);
    });
    return result;
}

double GetTLA(h::Cursor& cursor) {
    double result = 0;
    KV_PROCEDURE("GetTLA", TopLevel).run([&] {
        KV_LINE;
        result = sumOfAreas(cursor);
    });
    return result;
}

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

double GetMPS(h::Cursor& cursor) {
    double result = 0;
    KV_PROCEDURE("GetMPS", TopLevel).run([&] {
        KV_LINE;
        AreaMoments m = areaMoments(cursor);
        result = m.n > 0 ? m.sum / m.n : 0;
    });
    return result;
}

double GetMedPS(h::Cursor& cursor) {
    double result = 0;
    KV_PROCEDURE("GetMedPS", TopLevel).run([&] {
        std::vector<double> areas;
        KV_LINE;
        forEachPatch(cursor, [&](const h::Row& r, const PatchFields& p) { areas.push_back(p.areaOf(r)); });
        KV_LINE;
        result = Median(areas);
    });
    return result;
}

double getPSSD(h::Cursor& cursor) {
    double result = 0;
    KV_PROCEDURE("getPSSD", TopLevel).run([&] {
        KV_LINE;
        AreaMoments m = areaMoments(cursor);
        result = PopulationSD(m.n, m.sumOfSquares, m.sum);
    });
    return result;
}

double GetPSCoV(h::Cursor& cursor) {
    double result = 0;
    KV_PROCEDURE("GetPSCoV", TopLevel).run([&] {
        KV_LINE;
        AreaMoments m = areaMoments(cursor);
        double mean = m.n > 0 ? m.sum / m.n : 0;
        result = mean != 0 ? PopulationSD(m.n, m.sumOfSquares, m.sum) / mean * 100 : 0;
    });
    return result;
}

double GetTE(h::Cursor& cursor) {
    double result = 0;
    KV_PROCEDURE("GetTE", TopLevel).run([&] {
        double sum = 0;
        KV_LINE;
        forEachPatch(cursor, [&](const h::Row& r, const PatchFields& p) { sum += p.perimeterOf(r); });
        result = sum;
    });
    return result;
}

double GetMPE(h::Cursor& cursor) {
    double result = 0;
    KV_PROCEDURE("GetMPE", TopLevel).run([&] {
        double sum = 0, n = 0;
        KV_LINE;
        forEachPatch(cursor, [&](const h::Row& r, const PatchFields& p) {
            sum += p.perimeterOf(r);
            n += 1;
        });
        result = n > 0 ? sum / n : 0;
    });
    return result;
}

double GetMSI(h::Cursor& cursor, bool blnVector) {
    double result = 0;
    KV_PROCEDURE("GetMSI", TopLevel).run([&] {
        KV_LINE;
        result = meanOfFieldOr(cursor, "SI", [](const h::Row& r, const PatchFields& p) {
            return ShapeIndex(p.areaOf(r), p.perimeterOf(r), false);
        });
    });
    return result;
}

double GetAWMSI(h::Cursor& cursor, bool blnVector) {
    double result = 0;
    KV_PROCEDURE("GetAWMSI", TopLevel).run([&] {
        KV_LINE;
        result = areaWeightedOr(cursor, "SI", [](const h::Row& r, const PatchFields& p) {
            return ShapeIndex(p.areaOf(r), p.perimeterOf(r), false);
        });
    });
    return result;
}

double GetMPAR(h::Cursor& cursor) {
    double result = 0;
    KV_PROCEDURE("GetMPAR", TopLevel).run([&] {
        KV_LINE;
        result = meanOfFieldOr(cursor, "PAR", [](const h::Row& r, const PatchFields& p) {
            return PerimAreaRatio(p.areaOf(r), p.perimeterOf(r));
        });
    });
    return result;
}

double GetMPFD(h::Cursor& cursor, bool blnVector) {
    double result = 0;
    KV_PROCEDURE("GetMPFD", TopLevel).run([&] {
        double k = blnVector ? 1 : 0.25;
        KV_LINE;
        result = meanOfFieldOr(cursor, "FD", [k](const h::Row& r, const PatchFields& p) {
            return FractalDimension(p.areaOf(r), p.perimeterOf(r), k);
        });
    });
    return result;
}

double GetAWMPFD(h::Cursor& cursor, bool blnVector) {
    double result = 0;
    KV_PROCEDURE("GetAWMPFD", TopLevel).run([&] {
        double k = blnVector ? 1 : 0.25;
        KV_LINE;
        result = areaWeightedOr(cursor, "FD", [k](const h::Row& r, const PatchFields& p) {
            return FractalDimension(p.areaOf(r), p.perimeterOf(r), k);
        });
    });
    return result;
}

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
        double cores = 0;
        KV_LINE;
        for (; core; core = coreCursor.next()) cores += 1;
        double total = 0, previous = 0;
        if (patch) {
            KV_LINE;
            int32_t field = patch->fields().find("Patch_Area");
            if (field < 0) h::fail(h::err::HostInvalidArg, "GetCAD", "The patch rows have no Patch_Area field.");
            for (; patch; patch = patchCursor.next()) {
                double a = h::toDouble(patch->value(field));
                if (a != previous) total += a;
                previous = a;
            }
        }
        result = total != 0 ? cores / total * 1000000 : 0;
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
        double patches = 0, cores = 0;
        KV_LINE;
        for (; row; row = cursor.next()) {
            patches += h::toDouble(row->value(patchArea));
            cores += h::toDouble(row->value(coreArea));
        }
        result = patches != 0 ? cores / patches * 100 : 0;
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
        result = diversity(layer, classField, classes) / std::log(static_cast<double>(classes.size()));
    });
    return result;
}

}  // namespace kv
