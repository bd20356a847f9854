#pragma once
// Sets of selected rows (object ids) of one table or feature class.
#include <cstdint>
#include <vector>

#include "host/data/Table.h"

namespace korvane::host {

// The host's selection result codes.
enum class SelectionMethod : int32_t { New = 0, Add = 1, Subtract = 2, Intersect = 3 };

class SelectionSet {
public:
    SelectionSet() = default;
    explicit SelectionSet(TablePtr target) : target_(std::move(target)) {}

    const TablePtr& target() const { return target_; }
    int64_t count() const { return static_cast<int64_t>(ids_.size()); }
    bool empty() const { return ids_.empty(); }
    // Ascending object ids.
    const std::vector<int64_t>& ids() const { return ids_; }
    bool contains(int64_t oid) const;

    void add(int64_t oid);
    void add(const std::vector<int64_t>& oids);
    void remove(int64_t oid);
    void clear() { ids_.clear(); }

    // Combines the set with the rows of the target that match the filter
    // (nullptr or an empty clause: every row). Subtract and Intersect only
    // look at the rows already in the set. A bad where clause fails before
    // the set changes.
    void select(const QueryFilter* filter, SelectionMethod method);

    // The rows of the set that match the filter, in object-id order.
    Cursor search(const QueryFilter* filter, bool recycling) const;
    // The same rows, for changing (Cursor::updateRow). The where clause is
    // compiled first: a bad clause fails before the files are touched; so
    // does a read-only target (HostAccessDenied).
    Cursor update(const QueryFilter* filter, bool recycling) const;

private:
    void needTarget(const char* source) const;

    TablePtr target_;
    std::vector<int64_t> ids_;
};

}  // namespace korvane::host
