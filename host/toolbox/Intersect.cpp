// intersect_analysis: the parts common to a feature of every input. The
// inputs are overlaid in order: the pieces so far against the next input,
// candidate pairs from a GEOS STRtree of that input's shapes, each pair
// tested on a prepared shape and cut on GEOS. Output polygons (INPUT), the
// lines where the last input's outlines meet the pieces' outlines (LINE), or
// the points where they meet (POINT).
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "host/Failure.h"
#include "host/toolbox/ToolSupport.h"

namespace korvane::host {

namespace {

using namespace tools;

enum class Join { All, NoFid, OnlyFid };
enum class Output { Input, Line, Point };

struct Plan {
    std::vector<Input> inputs;
    Join join = Join::All;
    Output type = Output::Input;
    double tolerance = 0;   // in the data's units
    std::string output;
    std::vector<FieldDef> fields;
};

// A unit name of a tolerance in metres; 0 for an unknown name.
double metresOf(const std::string& unit) {
    static const std::pair<const char*, double> units[] = {
        {"METERS", 1},          {"METRES", 1},     {"KILOMETERS", 1000}, {"KILOMETRES", 1000}, {"CENTIMETERS", 0.01},
        {"MILLIMETERS", 0.001}, {"FEET", 0.3048},  {"YARDS", 0.9144},    {"MILES", 1609.344},  {"INCHES", 0.0254}};
    for (auto& [name, m] : units)
        if (unit == name) return m;
    return 0;
}

std::optional<Plan> prepare(const GPParameterArray& params, const ToolContext& ctx, std::string& message) {
    Plan plan;
    std::vector<std::string> names = splitList(params.text("in_features"));
    if (names.size() < 2) {
        message = "Input Features: choose at least two inputs to intersect.";
        return std::nullopt;
    }
    for (const std::string& n : names) {
        auto in = resolveInput("Input Features", n, ctx, message);
        if (!in) return std::nullopt;
        for (const Input& other : plan.inputs)
            if (other.fc == in->fc) {
                message = "Input Features: " + n + " is given twice.";
                return std::nullopt;
            }
        if (!plan.inputs.empty() && !sameCoordinateSystem(*plan.inputs.front().fc, *in->fc)) {
            message = "Input Features: " + plan.inputs.front().name + " and " + in->name +
                      " are in different coordinate systems; project one of them first.";
            return std::nullopt;
        }
        plan.inputs.push_back(*in);
    }
    const std::string join = params.named("join_attributes").dataType().createValue(
        params.text("join_attributes").empty() ? "ALL" : params.text("join_attributes")).text();
    plan.join = join == "NO_FID" ? Join::NoFid : join == "ONLY_FID" ? Join::OnlyFid : Join::All;
    const std::string type = params.named("output_type").dataType().createValue(
        params.text("output_type").empty() ? "INPUT" : params.text("output_type")).text();
    plan.type = type == "LINE" ? Output::Line : type == "POINT" ? Output::Point : Output::Input;

    std::vector<std::string> tol = splitList(params.text("cluster_tolerance"));
    if (!tol.empty()) {
        std::string t = tol.front();
        size_t blank = t.find_first_of(" \t");
        std::string number = t.substr(0, blank);
        std::string unit = blank == std::string::npos ? "" : upper(t.substr(t.find_first_not_of(" \t", blank)));
        char* end = nullptr;
        double v = std::strtod(number.c_str(), &end);
        if (number.empty() || *end != '\0' || !std::isfinite(v) || v < 0) {
            message = "XY Tolerance: \"" + t + "\" is not a distance (a number of 0 or more, then a unit).";
            return std::nullopt;
        }
        if (!unit.empty() && unit != "UNKNOWN") {
            const auto& sr = plan.inputs.front().fc->spatialReference();
            double m = metresOf(unit);
            if (m == 0 || !sr || sr->metresPerUnit <= 0) {
                message = "XY Tolerance: the unit " + unit + " cannot be used with the coordinates of " +
                          plan.inputs.front().name + "; give the tolerance in their own units.";
                return std::nullopt;
            }
            v = v * m / sr->metresPerUnit;
        }
        plan.tolerance = v;
    }

    FieldNamer namer;
    for (const Input& in : plan.inputs) {
        if (plan.join != Join::NoFid) plan.fields.push_back({namer.add("FID_" + in.name), FieldInteger, 0, 9, 0});
        if (plan.join == Join::OnlyFid) continue;
        const Fields& f = in.fc->fields();
        for (int32_t i = 0; i < f.count(); ++i) {
            if (f.field(i).type == FieldOID || f.field(i).type == FieldGeometry) continue;
            FieldDef d = f.field(i);
            d.name = namer.add(d.name);
            plan.fields.push_back(d);
        }
    }
    std::string m = checkOutput(params.text("out_feature_class"), plan.inputs, plan.output);
    if (!m.empty()) {
        message = m;
        return std::nullopt;
    }
    return plan;
}

// A piece of the overlay so far: its shape and, per input met, the object
// id and attribute values of the feature it lies in.
struct Piece {
    GeosPtr shape;
    std::vector<Value> values;
};

struct Source {
    GeosPtr shape;
    int64_t oid;
    std::vector<Value> attributes;
};

std::vector<Source> readInput(const Input& in, const ToolContext& ctx, const std::string& status) {
    std::vector<Source> out;
    int64_t total = std::max<int64_t>(1, in.fc->rowCount());
    Cursor c = in.features();
    while (RowPtr row = c.next()) {
        GeosPtr shape = readPolygons(row->shape());
        if (!shape) continue;
        Source s{std::move(shape), row->oid(), {}};
        for (int32_t i = 2; i < row->fields().count(); ++i) s.attributes.push_back(row->value(i));
        out.push_back(std::move(s));
        if (out.size() % 5000 == 0) ctx.report(status, static_cast<double>(out.size()) / total);
    }
    return out;
}

void appendValues(const Plan& plan, std::vector<Value>& values, const Source& s) {
    if (plan.join != Join::NoFid) values.push_back(static_cast<int32_t>(s.oid));
    if (plan.join != Join::OnlyFid) values.insert(values.end(), s.attributes.begin(), s.attributes.end());
}

// The boundary of a polygonal shape.
GeosPtr outline(const GEOSGeometry* g) {
    GEOSGeometry* b = GEOSBoundary_r(GeosAccess::context(), g);
    if (!b) GeosAccess::fail("Cannot take the outline");
    return GeosPtr(b);
}

class IntersectTool : public PlannedTool<Plan, prepare> {
public:
    std::string name() const override { return "intersect_analysis"; }
    std::string displayName() const override { return "Intersect"; }

    GPParameterArray parameterInfo() const override {
        using K = GPDataKind;
        return GPParameterArray({
            {"in_features", "Input Features", {K::MultiFeatureLayer, "Value Table"}, GPDirection::Input, true},
            {"out_feature_class", "Output Feature Class", {K::FeatureClass, "Feature Class"}, GPDirection::Output, true},
            {"join_attributes", "Join Attributes (optional)", {K::Keyword, "String", {"ALL", "NO_FID", "ONLY_FID"}},
             GPDirection::Input, false, GPValue("ALL")},
            {"cluster_tolerance", "XY Tolerance (optional)", {K::LinearUnit, "Linear unit"}, GPDirection::Input, false},
            {"output_type", "Output Type (optional)", {K::Keyword, "String", {"INPUT", "LINE", "POINT"}},
             GPDirection::Input, false, GPValue("INPUT")},
        });
    }

protected:
    std::string run(Plan& request, const ToolContext& ctx) const override {
        Plan* plan = &request;
        GEOSContextHandle_t gc = GeosAccess::context();

        std::vector<Piece> pieces;
        for (Source& s : readInput(plan->inputs[0], ctx, "Reading " + plan->inputs[0].name + "...")) {
            Piece p{std::move(s.shape), {}};
            appendValues(*plan, p.values, s);
            pieces.push_back(std::move(p));
        }
        const size_t steps = plan->inputs.size() - 1;
        for (size_t k = 1; k < plan->inputs.size(); ++k) {
            const Input& in = plan->inputs[k];
            const bool last = k == steps;
            const int dim = !last || plan->type == Output::Input ? 2 : plan->type == Output::Line ? 1 : 0;
            std::vector<Source> sources = readInput(in, ctx, "Reading " + in.name + "...");
            std::vector<GeosPtr> outlines;
            if (dim < 2)
                for (const Source& s : sources) outlines.push_back(outline(s.shape.get()));

            GEOSSTRtree* tree = GEOSSTRtree_create_r(gc, 10);
            if (!tree) GeosAccess::fail("Cannot build the spatial index");
            struct TreeGuard {
                GEOSSTRtree* t;
                ~TreeGuard() { GEOSSTRtree_destroy_r(GeosAccess::context(), t); }
            } guard{tree};
            for (size_t i = 0; i < sources.size(); ++i)
                GEOSSTRtree_insert_r(gc, tree, sources[i].shape.get(), reinterpret_cast<void*>(i));

            std::vector<Piece> next;
            std::vector<size_t> candidates;
            for (size_t pi = 0; pi < pieces.size(); ++pi) {
                Piece& p = pieces[pi];
                candidates.clear();
                GEOSSTRtree_query_r(
                    gc, tree, p.shape.get(),
                    [](void* item, void* data) {
                        static_cast<std::vector<size_t>*>(data)->push_back(reinterpret_cast<size_t>(item));
                    },
                    &candidates);
                if (candidates.empty()) continue;
                std::sort(candidates.begin(), candidates.end());
                const GEOSPreparedGeometry* prepared = GEOSPrepare_r(gc, p.shape.get());
                if (!prepared) GeosAccess::fail("Cannot prepare the shape");
                GeosPtr pieceOutline = dim < 2 ? outline(p.shape.get()) : nullptr;
                try {
                    for (size_t c : candidates) {
                        const Source& s = sources[c];
                        char hit = GEOSPreparedIntersects_r(gc, prepared, s.shape.get());
                        if (hit == 2) GeosAccess::fail("Cannot test the shapes");
                        if (!hit) continue;
                        const GEOSGeometry* a = dim < 2 ? pieceOutline.get() : p.shape.get();
                        const GEOSGeometry* b = dim < 2 ? outlines[c].get() : s.shape.get();
                        GeosAccess::clearMessage();
                        GEOSGeometry* cut = plan->tolerance > 0 ? GEOSIntersectionPrec_r(gc, a, b, plan->tolerance)
                                                                : GEOSIntersection_r(gc, a, b);
                        if (!cut) GeosAccess::fail("Cannot intersect the shapes");
                        GeosPtr part = partsOfDimension(GeosPtr(cut), dim);
                        if (!part) continue;
                        if (dim == 1) {
                            GEOSGeometry* merged = GEOSLineMerge_r(gc, part.get());
                            if (merged) part.reset(merged);
                        }
                        Piece q{std::move(part), p.values};
                        appendValues(*plan, q.values, s);
                        next.push_back(std::move(q));
                    }
                } catch (...) {
                    GEOSPreparedGeom_destroy_r(gc, prepared);
                    throw;
                }
                GEOSPreparedGeom_destroy_r(gc, prepared);
                if (pi % 2000 == 0)
                    ctx.report("Intersecting with " + in.name + "...", static_cast<double>(pi) / pieces.size());
            }
            pieces = std::move(next);
        }

        ShapeType type = plan->type == Output::Input  ? ShapeType::Polygon
                         : plan->type == Output::Line ? ShapeType::Polyline
                                                      : ShapeType::Multipoint;
        OutputWriter out(plan->output, plan->fields, type, plan->inputs.front().fc->spatialReference());
        for (size_t i = 0; i < pieces.size(); ++i) {
            GeosPtr& shape = pieces[i].shape;
            if (type == ShapeType::Multipoint && GEOSGeomTypeId_r(gc, shape.get()) == GEOS_POINT) {
                GEOSGeometry* one = shape.release();
                GEOSGeometry* multi = GEOSGeom_createCollection_r(gc, GEOS_MULTIPOINT, &one, 1);
                if (!multi) {
                    GEOSGeom_destroy_r(gc, one);
                    GeosAccess::fail("Cannot collect the points");
                }
                shape.reset(multi);
            }
            out.add(pieces[i].values, std::move(shape));
            if (i % 5000 == 0) ctx.report("Writing " + std::to_string(pieces.size()) + " features...",
                                          static_cast<double>(i) / pieces.size());
        }
        out.finish();
        return plan->output;
    }
};

}  // namespace

GPToolPtr makeIntersectTool() { return std::make_shared<IntersectTool>(); }

}  // namespace korvane::host
