// dissolve_management: features grouped by the values of the dissolve
// fields, each group's polygons united on GEOS (one cascaded union per
// group), written as one multipart feature per group or one feature per
// polygon, with optional statistics of other fields per group.
#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "host/Failure.h"
#include "host/toolbox/ToolSupport.h"

namespace korvane::host {

namespace {

using namespace tools;

enum class Stat { Sum, Mean, Min, Max, Range, Std, Count, First, Last };
struct StatName {
    const char* name;
    Stat stat;
    bool numeric;
};
constexpr StatName kStats[] = {{"SUM", Stat::Sum, true},     {"MEAN", Stat::Mean, true},   {"MIN", Stat::Min, true},
                               {"MAX", Stat::Max, true},     {"RANGE", Stat::Range, true}, {"STD", Stat::Std, true},
                               {"COUNT", Stat::Count, false}, {"FIRST", Stat::First, false}, {"LAST", Stat::Last, false}};

struct StatField {
    int32_t source;   // field index in the input
    Stat stat;
    FieldDef out;
};

// What the parameters ask for, checked.
struct Plan {
    Input input;
    std::vector<int32_t> keys;   // dissolve field indexes in the input
    std::vector<StatField> stats;
    bool multiPart = true;
    std::string output;
    std::vector<FieldDef> fields;
};

std::optional<Plan> prepare(const GPParameterArray& params, const ToolContext& ctx, std::string& message) {
    Plan plan;
    auto in = resolveInput("Input Features", params.text("in_features"), ctx, message);
    if (!in) return std::nullopt;
    plan.input = *in;
    const Fields& fields = in->fc->fields();
    FieldNamer namer;
    for (const std::string& name : splitList(params.text("dissolve_field"))) {
        int32_t i = fields.find(name);
        if (i < 0 || fields.field(i).type == FieldOID || fields.field(i).type == FieldGeometry) {
            message = "Dissolve Field(s): " + in->name + " has no attribute field " + name + ".";
            return std::nullopt;
        }
        if (std::find(plan.keys.begin(), plan.keys.end(), i) != plan.keys.end()) continue;
        plan.keys.push_back(i);
        FieldDef out = fields.field(i);
        out.name = namer.add(out.name);
        plan.fields.push_back(out);
    }
    for (const std::string& entry : splitList(params.text("statistics_fields"))) {
        size_t blank = entry.find_last_of(" \t");
        std::string field = blank == std::string::npos ? entry : entry.substr(0, blank);
        std::string stat = blank == std::string::npos ? "" : upper(entry.substr(blank + 1));
        while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.pop_back();
        const StatName* s = nullptr;
        for (const StatName& k : kStats)
            if (stat == k.name) s = &k;
        if (!s) {
            message = "Statistics Field(s): \"" + entry +
                      "\" is not a field followed by SUM, MEAN, MIN, MAX, RANGE, STD, COUNT, FIRST or LAST.";
            return std::nullopt;
        }
        int32_t i = fields.find(field);
        if (i < 0 || fields.field(i).type == FieldOID || fields.field(i).type == FieldGeometry) {
            message = "Statistics Field(s): " + in->name + " has no attribute field " + field + ".";
            return std::nullopt;
        }
        const FieldDef& src = fields.field(i);
        if (s->numeric && !isNumericFieldType(src.type)) {
            message = "Statistics Field(s): " + std::string(s->name) + " needs a numeric field; " + src.name +
                      " holds " + fieldTypeName(src.type) + ".";
            return std::nullopt;
        }
        FieldDef out;
        if (s->stat == Stat::First || s->stat == Stat::Last) out = src;
        else if (s->stat == Stat::Count) out = {"", FieldInteger, 0, 9, 0};
        else out = {"", FieldDouble, 0, 0, 0};
        out.name = namer.add(std::string(s->name) + "_" + src.name);
        plan.stats.push_back({i, s->stat, out});
        plan.fields.push_back(out);
    }
    const GPParameter& multi = params.named("multi_part");
    plan.multiPart = multi.dataType().createValue(multi.value().text()).text() == "MULTI_PART";
    std::string m = checkOutput(params.text("out_feature_class"), {plan.input}, plan.output);
    if (!m.empty()) {
        message = m;
        return std::nullopt;
    }
    return plan;
}

struct Accumulator {
    double sum = 0, sumSquares = 0, min = std::numeric_limits<double>::infinity(),
           max = -std::numeric_limits<double>::infinity();
    int64_t count = 0;
    Value first, last;
    bool seen = false;
};

struct Group {
    std::vector<Value> key;
    std::vector<GEOSGeometry*> shapes;   // owned until united
    std::vector<Accumulator> stats;
    ~Group() {
        for (GEOSGeometry* g : shapes) GEOSGeom_destroy_r(GeosAccess::context(), g);
    }
};

// null < numbers < dates < text; numbers by value, text by bytes.
int rank(const Value& v) {
    if (isNull(v)) return 0;
    if (isNumber(v)) return 1;
    if (std::holds_alternative<Date>(v)) return 2;
    return 3;
}
bool valueLess(const Value& a, const Value& b) {
    int ra = rank(a), rb = rank(b);
    if (ra != rb) return ra < rb;
    switch (ra) {
        case 1: return toDouble(a) < toDouble(b);
        case 2: return std::get<Date>(a) < std::get<Date>(b);
        case 3: return std::get<std::string>(a) < std::get<std::string>(b);
        default: return false;
    }
}

Value result(const Accumulator& a, Stat s);

int32_t digitsOf(double v) {
    int32_t d = 1;
    for (double limit = 10; limit <= v && d < 400; limit *= 10) ++d;
    return d;
}

// Each numeric statistics field is made wide enough for its values, the
// groups' sums, means, extremes, ranges and deviations as they came out:
// the whole digits, a sign and 11 decimals, within the 32 digits a dBASE
// number holds (fewer decimals for larger values). COUNT is an integer as
// wide as its largest count.
void sizeStatisticsFields(Plan& plan, const std::vector<std::unique_ptr<Group>>& groups) {
    constexpr int32_t kDecimals = 11, kWidest = 32;
    for (size_t s = 0; s < plan.stats.size(); ++s) {
        const Stat stat = plan.stats[s].stat;
        if (stat == Stat::First || stat == Stat::Last) continue;
        double largest = 0;
        for (const auto& g : groups) {
            const Value v = result(g->stats[s], stat);
            if (isNumber(v) && std::isfinite(toDouble(v))) largest = std::max(largest, std::fabs(toDouble(v)));
        }
        FieldDef& f = plan.fields[plan.keys.size() + s];
        const int32_t whole = digitsOf(largest);
        if (stat == Stat::Count) {
            f.precision = std::max<int32_t>(9, whole);
            continue;
        }
        const int32_t decimals = std::clamp(kWidest - whole - 2, 0, kDecimals);
        f.precision = std::max(19, whole + 2 + decimals);
        f.scale = decimals;
        plan.stats[s].out = f;
    }
}

std::string keyText(const std::vector<Value>& key) {
    std::string k;
    for (const Value& v : key) {
        k += static_cast<char>('0' + rank(v));
        k += toText(v);
        k += '\x1f';
    }
    return k;
}

Value result(const Accumulator& a, Stat s) {
    switch (s) {
        case Stat::Sum: return a.sum;
        case Stat::Count: return static_cast<int32_t>(a.count);
        case Stat::First: return a.first;
        case Stat::Last: return a.last;
        default: break;
    }
    if (a.count == 0) return {};
    switch (s) {
        case Stat::Mean: return a.sum / static_cast<double>(a.count);
        case Stat::Min: return a.min;
        case Stat::Max: return a.max;
        case Stat::Range: return a.max - a.min;
        case Stat::Std: {
            double n = static_cast<double>(a.count);
            double mean = a.sum / n;
            return std::sqrt(std::max(0.0, a.sumSquares / n - mean * mean));
        }
        default: return {};
    }
}

class DissolveTool : public PlannedTool<Plan, prepare> {
public:
    std::string name() const override { return "dissolve_management"; }
    std::string displayName() const override { return "Dissolve"; }

    GPParameterArray parameterInfo() const override {
        using K = GPDataKind;
        return GPParameterArray({
            {"in_features", "Input Features", {K::FeatureLayer, "Feature Layer"}, GPDirection::Input, true},
            {"out_feature_class", "Output Feature Class", {K::FeatureClass, "Feature Class"}, GPDirection::Output, true},
            {"dissolve_field", "Dissolve_Field(s) (optional)", {K::FieldList, "Field"}, GPDirection::Input, false, {},
             "in_features"},
            {"statistics_fields", "Statistics Field(s) (optional)", {K::StatisticsTable, "Value Table"},
             GPDirection::Input, false},
            {"multi_part", "Create multipart features (optional)", {K::Boolean, "Boolean", {"MULTI_PART", "SINGLE_PART"}},
             GPDirection::Input, false, GPValue("MULTI_PART")},
            {"unsplit_lines", "Unsplit lines (optional)", {K::Boolean, "Boolean", {"UNSPLIT_LINES", "DISSOLVE_LINES"}},
             GPDirection::Input, false, GPValue("DISSOLVE_LINES")},
        });
    }

protected:
    std::string run(Plan& request, const ToolContext& ctx) const override {
        Plan* plan = &request;
        GEOSContextHandle_t gc = GeosAccess::context();

        // Read: one pass over the input, grouping as it goes.
        std::vector<std::unique_ptr<Group>> groups;
        std::unordered_map<std::string, size_t> index;
        int64_t total = plan->input.layer && plan->input.layer->selectionSet().count() > 0
                            ? plan->input.layer->selectionSet().count()
                            : plan->input.fc->rowCount();
        int64_t read = 0;
        Cursor cursor = plan->input.features();
        std::vector<Value> key(plan->keys.size());
        while (RowPtr row = cursor.next()) {
            for (size_t k = 0; k < plan->keys.size(); ++k) key[k] = row->value(plan->keys[k]);
            auto [it, fresh] = index.try_emplace(keyText(key), groups.size());
            if (fresh) {
                groups.push_back(std::make_unique<Group>());
                groups.back()->key = key;
                groups.back()->stats.resize(plan->stats.size());
            }
            Group& g = *groups[it->second];
            if (GeosPtr shape = readPolygons(row->shape())) g.shapes.push_back(shape.release());
            for (size_t s = 0; s < plan->stats.size(); ++s) {
                const Value& v = row->value(plan->stats[s].source);
                Accumulator& a = g.stats[s];
                if (!a.seen) a.first = v;
                a.seen = true;
                a.last = v;
                if (isNull(v)) continue;
                ++a.count;
                if (isNumber(v)) {
                    double d = toDouble(v);
                    a.sum += d;
                    a.sumSquares += d * d;
                    a.min = std::min(a.min, d);
                    a.max = std::max(a.max, d);
                }
            }
            if (++read % 2000 == 0) ctx.report("Reading features...", 0.3 * read / std::max<int64_t>(total, 1));
        }
        cursor = Cursor();
        sizeStatisticsFields(*plan, groups);
        std::stable_sort(groups.begin(), groups.end(), [](const auto& a, const auto& b) {
            return std::lexicographical_compare(a->key.begin(), a->key.end(), b->key.begin(), b->key.end(), valueLess);
        });

        // Unite and write, group by group.
        OutputWriter out(plan->output, plan->fields, ShapeType::Polygon, plan->input.fc->spatialReference());
        std::vector<Value> values(plan->fields.size());
        for (size_t gi = 0; gi < groups.size(); ++gi) {
            Group& g = *groups[gi];
            ctx.report("Dissolving...", 0.3 + 0.7 * gi / groups.size());
            if (g.shapes.empty()) continue;
            GeosAccess::clearMessage();
            GEOSGeometry* all = GEOSGeom_createCollection_r(gc, GEOS_GEOMETRYCOLLECTION, g.shapes.data(),
                                                            static_cast<unsigned>(g.shapes.size()));
            if (!all) GeosAccess::fail("Cannot collect the shapes");
            g.shapes.clear();   // the collection owns them now
            GeosPtr collection(all);
            GEOSGeometry* united = GEOSUnaryUnion_r(gc, collection.get());
            if (!united) GeosAccess::fail("Cannot unite the shapes");
            collection.reset();
            GeosPtr shape = partsOfDimension(GeosPtr(united), 2);
            if (!shape) continue;
            size_t v = 0;
            for (const Value& k : g.key) values[v++] = k;
            for (size_t s = 0; s < plan->stats.size(); ++s) values[v++] = result(g.stats[s], plan->stats[s].stat);
            if (plan->multiPart) {
                out.add(values, std::move(shape));
            } else {
                for (GeosPtr& part : polygonsOf(shape.get())) out.add(values, std::move(part));
            }
        }
        out.finish();
        return plan->output;
    }
};

}  // namespace

GPToolPtr makeDissolveTool() { return std::make_shared<DissolveTool>(); }

}  // namespace korvane::host
