#include "host/data/Relationship.h"

#include <algorithm>
#include <fmt/format.h>

#include "host/Failure.h"
#include "host/data/FeatureLayer.h"
#include "host/data/SelectionSet.h"
#include "host/data/Workspace.h"

namespace korvane::host {

namespace {
constexpr const char* kSource = "MemoryRelationshipClass";

bool isTextField(const FieldDef& f) { return f.type == FieldString; }
}  // namespace

std::optional<std::string> MemoryRelationshipClass::keyOf(const Value& v) {
    if (isNull(v)) return std::nullopt;
    if (isNumber(v)) {
        double d = toDouble(v);
        if (d == 0) d = 0;   // -0 meets 0
        return fmt::format("n{}", d);
    }
    if (const auto* s = std::get_if<std::string>(&v)) return "t" + *s;
    return "d" + toText(v);
}

std::shared_ptr<MemoryRelationshipClass> MemoryRelationshipClass::open(const std::string& name,
                                                                       FeatureClassPtr origin,
                                                                       const std::string& primaryKey,
                                                                       TablePtr destination,
                                                                       const std::string& foreignKey,
                                                                       const QueryFilter* destinationFilter) {
    if (!origin || !destination) fail(err::HostInvalidArg, kSource, "A relationship needs two classes.");
    auto rel = std::shared_ptr<MemoryRelationshipClass>(new MemoryRelationshipClass());
    rel->name_ = name;
    rel->primaryKey_ = origin->findField(primaryKey);
    rel->foreignKey_ = destination->findField(foreignKey);
    if (rel->primaryKey_ < 0)
        fail(err::HostInvalidArg, kSource, "The origin " + origin->name() + " has no field " + primaryKey + ".");
    if (rel->foreignKey_ < 0)
        fail(err::HostInvalidArg, kSource,
             "The destination " + destination->name() + " has no field " + foreignKey + ".");
    if (isTextField(origin->fields().field(rel->primaryKey_)) !=
        isTextField(destination->fields().field(rel->foreignKey_)))
        fail(err::HostInvalidArg, kSource,
             "The keys " + primaryKey + " and " + foreignKey + " are not of one kind (text against numbers).");
    rel->origin_ = std::move(origin);
    rel->destination_ = std::move(destination);
    Cursor rows = rel->destination_->search(destinationFilter, false);
    while (RowPtr row = rows.next()) {
        std::optional<std::string> key = keyOf(row->value(rel->foreignKey_));
        if (!key) continue;
        // The first row of a key is the one it leads to.
        if (rel->index_.emplace(*key, rel->rows_.size()).second) rel->rows_.push_back(row->values());
    }
    return rel;
}

const std::vector<Value>* MemoryRelationshipClass::related(const Value& key) const {
    std::optional<std::string> k = keyOf(key);
    if (!k) return nullptr;
    auto it = index_.find(*k);
    return it == index_.end() ? nullptr : &rows_[it->second];
}

void FeatureLayer::displayRelationshipClass(MemoryRelationshipClassPtr rel, JoinType type) {
    if (rel && rel->origin() != featureClass_)
        fail(err::HostInvalidArg, kSource, "The relationship " + rel->name() + " does not start at this layer's class.");
    join_ = std::move(rel);
    joinType_ = type;
}

std::vector<JoinedField> joinedFields(const MemoryRelationshipClass& rel) {
    std::vector<JoinedField> out;
    std::vector<std::string> taken;
    const Fields& of = rel.origin()->fields();
    for (int32_t i = 0; i < of.count(); ++i) {
        const FieldDef& f = of.field(i);
        if (f.type == FieldOID || f.type == FieldGeometry) continue;
        out.push_back({f, false, i});
        taken.push_back(f.name);
    }
    const Fields& df = rel.destination()->fields();
    for (int32_t i = 0; i < df.count(); ++i) {
        FieldDef f = df.field(i);
        if (f.type == FieldGeometry) continue;
        if (f.type == FieldOID) f = {"OID_", FieldInteger, 0, 9, 0};
        f.name = dbfFieldNameFor(f.name, taken);
        taken.push_back(f.name);
        out.push_back({f, true, i});
    }
    return out;
}

FeatureClassPtr exportJoinedLayer(const FeatureLayer& layer, const SelectionSet* selection,
                                  const ShapefileWorkspace& ws, const std::string& name,
                                  const std::vector<std::string>& leaveOut) {
    FeatureClass& origin = *layer.featureClass();
    if (ws.exists(name)) fail(err::HostGeneric, kSource, "A dataset named " + name + " already exists in " + ws.path() + ".");
    if (selection && selection->target().get() != &origin)
        fail(err::HostInvalidArg, kSource, "The selection set belongs to another table.");
    const MemoryRelationshipClass* rel = layer.join().get();
    std::vector<JoinedField> fields;
    if (rel) {
        fields = joinedFields(*rel);
    } else {
        for (int32_t i = 0; i < origin.fields().count(); ++i) {
            const FieldDef& f = origin.fields().field(i);
            if (f.type != FieldOID && f.type != FieldGeometry) fields.push_back({f, false, i});
        }
    }
    // The export is written once, without the fields the caller leaves out.
    std::erase_if(fields, [&](const JoinedField& f) {
        return std::any_of(leaveOut.begin(), leaveOut.end(), [&](const std::string& n) { return sameFieldName(n, f.def.name); });
    });
    std::vector<FieldDef> defs;
    for (const JoinedField& f : fields) defs.push_back(f.def);

    DatasetReplacement next(ws, name, true);
    const SpatialReference* sr = origin.spatialReference() ? &*origin.spatialReference() : nullptr;
    FeatureClassPtr out = ws.createFeatureClass(next.temporaryName(), defs, origin.shapeType(), sr);
    {
        InsertCursor ins = out->insert(true);
        RowPtr buffer = ins.createRowBuffer();
        // Output field i + 2: after the object id and the shape.
        Cursor rows = selection ? selection->search(nullptr, true) : origin.search(nullptr, true);
        while (RowPtr row = rows.next()) {
            const std::vector<Value>* match = rel ? rel->related(row->value(rel->primaryKeyIndex())) : nullptr;
            if (rel && !match && layer.joinType() == JoinType::Inner) continue;
            for (size_t i = 0; i < fields.size(); ++i) {
                const JoinedField& f = fields[i];
                Value v;
                if (!f.fromDestination) v = row->value(f.index);
                else if (match) v = (*match)[static_cast<size_t>(f.index)];
                buffer->setValue(static_cast<int32_t>(i) + 2, std::move(v));
            }
            buffer->setShape(row->shape());
            ins.insertRow(*buffer);
        }
        ins.flush();
    }
    out->close();
    out.reset();
    return std::dynamic_pointer_cast<FeatureClass>(next.commit());
}

}  // namespace korvane::host
