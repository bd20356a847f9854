#pragma once
// Whether a table's trailing fields can be refilled by Table::rewriteFields
// without a byte of their header changing.
#include <string>
#include <vector>

#include "host/data/Table.h"

namespace korvane::host {

// True when the table's last attribute fields are `names`, in that order,
// numeric, and each held in the .dbf exactly as rewriteFields writes a new
// field of its definition: kept out of `keep` and given again in `add`
// (with the definitions fields() gives), they come back in their place with
// the same header bytes, and only their values are new. False for anything
// else, and when the direct writes are off.
bool fieldsRewrittenInPlace(Table& table, const std::vector<std::string>& names);

}  // namespace korvane::host
