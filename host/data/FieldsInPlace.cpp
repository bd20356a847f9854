#include "host/data/FieldsInPlace.h"

#include "host/Failure.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

bool fieldsRewrittenInPlace(Table& table, const std::vector<std::string>& names) {
    if (!data::directDbfWrites() || names.empty()) return false;
    auto& t = TableAccess::impl(table);
    const Fields& fields = t.fields;
    const int32_t first = fields.count() - static_cast<int32_t>(names.size());
    if (first < t.offset) return false;
    t.lyr("fieldsRewrittenInPlace");
    std::optional<data::DbfLayout> layout = t.releasedDbfLayout();
    if (!layout) return false;
    Fields probe;
    for (int32_t i = 0; i < first; ++i) probe.add(fields.field(i));
    for (size_t k = 0; k < names.size(); ++k) {
        const int32_t at = first + static_cast<int32_t>(k);
        const FieldDef& f = fields.field(at);
        if (!sameFieldName(f.name, names[k]) || !isNumericFieldType(f.type)) return false;
        FieldDef checked;
        try {
            checked = data::checkNewField(probe, f, true);
        } catch (const Failure&) {
            return false;
        }
        if (data::newDbfColumn(checked).raw != layout->columns[static_cast<size_t>(at - t.offset)].raw) return false;
        probe.add(checked);
    }
    return true;
}

}  // namespace korvane::host
