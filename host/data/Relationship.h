#pragma once
// Memory relationship classes (a table joined to a feature class by a key),
// their display on a feature layer as a join, and the export of a joined
// layer to a new shapefile.
//
//     auto rel = MemoryRelationshipClass::open("TabletoLayer", regions->featureClass(), "REGION",
//                                              crosstab, "REGION", &thisRun);
//     regions->displayRelationshipClass(rel, JoinType::LeftOuter);
//     FeatureClassPtr joined = exportJoinedLayer(*regions, &regions->selectionSet(), ws, "Join");
//     regions->removeJoin();
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/data/QueryFilter.h"
#include "host/data/Table.h"
#include "host/data/Value.h"

namespace korvane::host {

class FeatureLayer;
class SelectionSet;
class ShapefileWorkspace;

enum class JoinType : int32_t { LeftOuter = 0, Inner = 1 };

// A one-to-one relationship held in memory: each origin row's primary key
// leads to the first destination row (in object-id order) whose foreign key
// is equal to it, found through a hash index built once when it is opened.
// Numbers compare as numbers (an integer key meets a real key of the same
// value), texts exactly; a null key meets nothing.
class MemoryRelationshipClass {
public:
    // Reads the destination rows that match destinationFilter (nullptr: all)
    // once. Fails (HostInvalidArg) for a key field that either class lacks,
    // and for a number key against a text key.
    static std::shared_ptr<MemoryRelationshipClass> open(const std::string& name, FeatureClassPtr origin,
                                                         const std::string& primaryKey, TablePtr destination,
                                                         const std::string& foreignKey,
                                                         const QueryFilter* destinationFilter = nullptr);

    const std::string& name() const { return name_; }
    const FeatureClassPtr& origin() const { return origin_; }
    const TablePtr& destination() const { return destination_; }
    int32_t primaryKeyIndex() const { return primaryKey_; }
    int32_t foreignKeyIndex() const { return foreignKey_; }
    // The values of the destination row the key leads to, or nullptr.
    const std::vector<Value>* related(const Value& key) const;

private:
    static std::optional<std::string> keyOf(const Value& v);
    std::string name_;
    FeatureClassPtr origin_;
    TablePtr destination_;
    int32_t primaryKey_ = -1, foreignKey_ = -1;
    std::vector<std::vector<Value>> rows_;
    std::unordered_map<std::string, size_t> index_;
};
using MemoryRelationshipClassPtr = std::shared_ptr<MemoryRelationshipClass>;

// The fields of a joined layer as its export writes them: the origin's
// attribute fields as they are, then the destination's fields, the object id
// as "OID_" (long integer) and every name that is taken already made unique
// by dbfFieldNameFor (REGION -> REGION_1). `from` tells, per field, whether
// it comes from the destination and its index there (or in the origin).
struct JoinedField {
    FieldDef def;
    bool fromDestination = false;
    int32_t index = -1;
};
std::vector<JoinedField> joinedFields(const MemoryRelationshipClass& rel);

// Writes the features of the layer (those of `selection`; all of them when it
// is nullptr) with the
// fields of its join (joinedFields; the origin's own fields when it has no
// join) to a new shapefile `name` of the workspace, with the origin's shape
// type and coordinate system. A left outer join leaves the destination
// fields null for features without a match; an inner join leaves those
// features out. Written under a temporary name and given its own name at
// the end: a failure leaves no dataset of that name. Fails (HostGeneric)
// when a dataset of that name exists. Fields named in `leaveOut` (by the
// name they would have, in either letter case) are not written.
FeatureClassPtr exportJoinedLayer(const FeatureLayer& layer, const SelectionSet* selection,
                                  const ShapefileWorkspace& ws, const std::string& name,
                                  const std::vector<std::string>& leaveOut = {});

}  // namespace korvane::host
