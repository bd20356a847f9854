#include "vector/Modules/modDerivedFields.h"

#include "host/data/SelectionSet.h"

namespace kv {

namespace h = korvane::host;

void WriteRowsById(h::FeatureClass& fc, const std::vector<int64_t>& ids, const std::function<void(h::Row&, size_t)>& set) {
    if (ids.empty()) return;
    h::EditSession edit(fc);
    h::SelectionSet rows(fc.shared_from_this());
    rows.add(ids);
    h::Cursor c = rows.update(nullptr, true);
    size_t i = 0;
    while (h::RowPtr r = c.next()) {
        while (i < ids.size() && ids[i] < r->oid()) ++i;
        set(*r, i);
        c.updateRow(*r);
    }
    edit.commit();
}

}  // namespace kv
