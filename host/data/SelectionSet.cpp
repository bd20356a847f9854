#include "host/data/SelectionSet.h"

#include <algorithm>
#include <iterator>

#include "host/Failure.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

bool SelectionSet::contains(int64_t oid) const { return std::binary_search(ids_.begin(), ids_.end(), oid); }

void SelectionSet::add(int64_t oid) {
    auto it = std::lower_bound(ids_.begin(), ids_.end(), oid);
    if (it == ids_.end() || *it != oid) ids_.insert(it, oid);
}

void SelectionSet::add(const std::vector<int64_t>& oids) {
    std::vector<int64_t> sorted = oids;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    std::vector<int64_t> merged;
    merged.reserve(ids_.size() + sorted.size());
    std::set_union(ids_.begin(), ids_.end(), sorted.begin(), sorted.end(), std::back_inserter(merged));
    ids_ = std::move(merged);
}

void SelectionSet::remove(int64_t oid) {
    auto it = std::lower_bound(ids_.begin(), ids_.end(), oid);
    if (it != ids_.end() && *it == oid) ids_.erase(it);
}

void SelectionSet::needTarget(const char* source) const {
    if (!target_) fail(err::ObjectNotSet, source, "The selection set has no table.");
}

void SelectionSet::select(const QueryFilter* filter, SelectionMethod method) {
    needTarget("SelectionSet.select");
    WhereClause where = filter ? WhereClause::compile(filter->whereClause, target_->fields()) : WhereClause();
    bool onSet = method == SelectionMethod::Subtract || method == SelectionMethod::Intersect;
    Cursor c = CursorAccess::open(target_, std::move(where), true, false, onSet ? &ids_ : nullptr, true);
    std::vector<int64_t> found;
    while (RowPtr r = c.next()) found.push_back(r->oid());  // ascending
    std::vector<int64_t> result;
    switch (method) {
        case SelectionMethod::New: result = std::move(found); break;
        case SelectionMethod::Add:
            std::set_union(ids_.begin(), ids_.end(), found.begin(), found.end(), std::back_inserter(result));
            break;
        case SelectionMethod::Subtract:
            std::set_difference(ids_.begin(), ids_.end(), found.begin(), found.end(), std::back_inserter(result));
            break;
        case SelectionMethod::Intersect: result = std::move(found); break;
    }
    ids_ = std::move(result);
}

Cursor SelectionSet::search(const QueryFilter* filter, bool recycling) const {
    needTarget("SelectionSet.search");
    WhereClause where = filter ? WhereClause::compile(filter->whereClause, target_->fields()) : WhereClause();
    return CursorAccess::open(target_, std::move(where), recycling, false, &ids_, false);
}

Cursor SelectionSet::update(const QueryFilter* filter, bool recycling) const {
    needTarget("SelectionSet.update");
    WhereClause where = filter ? WhereClause::compile(filter->whereClause, target_->fields()) : WhereClause();
    TableAccess::impl(*target_).prepareWrite("SelectionSet.update");
    return CursorAccess::open(target_, std::move(where), recycling, true, &ids_, false);
}

}  // namespace korvane::host
