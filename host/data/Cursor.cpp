#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "host/Failure.h"
#include "host/data/GdalSupport.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

namespace {

// While a keys-only cursor is open, the driver leaves out the shapes and the
// fields its clause does not use: a selection by a clause reads the few
// bytes it tests, not every record's shape. Set once for the cursor, not
// for each row it gives, since the driver looks every name up again.
class ClauseFieldsOnly {
public:
    // left: the fields to leave out; layer and openings: the table's layer
    // and the count of its openings, as they are now.
    ClauseFieldsOnly(std::vector<std::string> left, OGRLayer* const& layer, const uint64_t& openings)
        : names_(std::move(left)), layer_(layer), openings_(openings) {
        names_.push_back("OGR_GEOMETRY");
        names_.push_back("OGR_STYLE");
        for (const std::string& n : names_) list_.push_back(n.c_str());
        list_.push_back(nullptr);
    }
    ClauseFieldsOnly(const ClauseFieldsOnly&) = delete;
    ClauseFieldsOnly& operator=(const ClauseFieldsOnly&) = delete;
    ~ClauseFieldsOnly() {
        // A layer the table has since let go of is gone with its settings.
        if (set_ && layer_ && openings_ == opening_) layer_->SetIgnoredFields(nullptr);
    }
    // Before each record is read (the table may have reopened its layer).
    void apply() {
        if (tried_ && opening_ == openings_) return;
        tried_ = true;
        opening_ = openings_;
        set_ = layer_ && layer_->SetIgnoredFields(list_.data()) == OGRERR_NONE;
    }

private:
    std::vector<std::string> names_;
    std::vector<const char*> list_;
    OGRLayer* const& layer_;
    const uint64_t& openings_;
    uint64_t opening_ = 0;
    bool tried_ = false, set_ = false;
};

}  // namespace

// Rows are fetched by object id rather than with the layer's own reading
// position, so that any number of cursors on one table can be open at once.
struct Cursor::Impl {
    TablePtr table;
    WhereClause where;
    bool recycling = false;
    bool update = false;
    bool keysOnly = false;
    // Either the ids of a selection (useIds) or the range [next, end).
    bool useIds = false;
    std::vector<int64_t> ids;
    size_t pos = 0;
    int64_t nextId = 0;
    int64_t endId = 0;
    RowPtr row;      // the recycled row, or the row being filled
    int64_t last = -1;
    std::optional<ClauseFieldsOnly> only;   // a keys-only cursor's, from its first row

    bool nextId_(int64_t& id) {
        if (useIds) {
            if (pos >= ids.size()) return false;
            id = ids[pos++];
            return true;
        }
        if (nextId >= endId) return false;
        id = nextId++;
        return true;
    }

    RowPtr next() {
        auto& t = TableAccess::impl(*table);
        const std::vector<int32_t>& used = where.fieldsUsed();
        bool filtered = !where.matchesAll();
        if (keysOnly && !only) {
            std::vector<std::string> left;
            const auto& all = t.fields.all();
            for (int32_t i = t.offset; i < static_cast<int32_t>(all.size()); ++i)
                if (std::find(used.begin(), used.end(), i) == used.end()) left.push_back(all[static_cast<size_t>(i)].name);
            only.emplace(std::move(left), t.layer, t.layerOpenings);
        }
        int64_t id;
        while (nextId_(id)) {
            t.readyToRead(id);
            OGRLayer& layer = t.lyr("Cursor");
            if (only) only->apply();
            FeatureHandle f;
            {
                gdal::ErrorTrap trap;
                f.reset(layer.GetFeature(id));
            }
            if (!f) continue;  // a deleted record
            if (!row) {
                row = std::make_shared<Row>();
                row->table_ = table;
            }
            if (filtered) {
                t.readValues(*f, *row, &used);
                if (!where.matches(row->values_)) continue;
            }
            if (keysOnly) {
                row->oid_ = f->GetFID();
            } else {
                t.readValues(*f, *row, nullptr);
                t.readShape(*f, *row);
            }
            last = row->oid_;
            if (recycling) return row;
            RowPtr out = std::move(row);
            row.reset();
            return out;
        }
        last = -1;
        return nullptr;
    }
};

Cursor::Cursor() = default;
Cursor::~Cursor() = default;
Cursor::Cursor(Cursor&&) noexcept = default;
Cursor& Cursor::operator=(Cursor&&) noexcept = default;

RowPtr Cursor::next() {
    if (!impl_) return nullptr;
    return impl_->next();
}

void Cursor::updateRow(const Row& row) {
    if (!impl_ || !impl_->update) fail(err::HostInvalidArg, "Cursor.updateRow", "The cursor is not an update cursor.");
    if (&row.table() != impl_->table.get()) fail(err::HostInvalidArg, "Cursor.updateRow", "The row belongs to another table.");
    TableAccess::impl(*impl_->table).writeRow(row, false);
}

void Cursor::deleteRow() {
    if (!impl_ || !impl_->update) fail(err::HostInvalidArg, "Cursor.deleteRow", "The cursor is not an update cursor.");
    if (impl_->last < 0) fail(err::HostInvalidArg, "Cursor.deleteRow", "There is no current row.");
    TableAccess::impl(*impl_->table).deleteRecord(impl_->last, "Cursor.deleteRow");
}

Cursor CursorAccess::open(TablePtr table, WhereClause where, bool recycling, bool update,
                          const std::vector<int64_t>* ids, bool keysOnly) {
    Cursor c;
    c.impl_ = std::make_unique<Cursor::Impl>();
    auto& i = *c.impl_;
    i.endId = TableAccess::impl(*table).recordCount("Cursor");
    i.table = std::move(table);
    i.where = std::move(where);
    i.recycling = recycling;
    i.update = update;
    i.keysOnly = keysOnly;
    if (ids) {
        i.useIds = true;
        i.ids = *ids;
    }
    return c;
}

Cursor Table::search(const QueryFilter* filter, bool recycling) {
    WhereClause w = filter ? WhereClause::compile(filter->whereClause, fields()) : WhereClause();
    return CursorAccess::open(shared_from_this(), std::move(w), recycling, false, nullptr, false);
}

Cursor Table::update(const QueryFilter* filter, bool recycling) {
    WhereClause w = filter ? WhereClause::compile(filter->whereClause, fields()) : WhereClause();
    impl_->prepareWrite("Table.update");
    return CursorAccess::open(shared_from_this(), std::move(w), recycling, true, nullptr, false);
}

// ---- insert cursors ---------------------------------------------------------

InsertCursor::InsertCursor() = default;
InsertCursor::~InsertCursor() {
    try {
        if (table_ && pending_ > 0) table_->flush();
    } catch (...) {
    }
}
InsertCursor::InsertCursor(InsertCursor&& o) noexcept
    : table_(std::move(o.table_)), buffered_(o.buffered_), pending_(std::exchange(o.pending_, 0)) {}
InsertCursor& InsertCursor::operator=(InsertCursor&& o) noexcept {
    if (this != &o) {
        if (table_ && pending_ > 0) {
            try {
                table_->flush();
            } catch (...) {
            }
        }
        table_ = std::move(o.table_);
        buffered_ = o.buffered_;
        pending_ = std::exchange(o.pending_, 0);
    }
    return *this;
}

RowPtr InsertCursor::createRowBuffer() {
    if (!table_) fail(err::HostInvalidArg, "InsertCursor", "The cursor is not open.");
    return table_->createRow();
}

int64_t InsertCursor::insertRow(const Row& row) {
    if (!table_) fail(err::HostInvalidArg, "InsertCursor", "The cursor is not open.");
    auto& t = TableAccess::impl(*table_);
    if (&row.table() != table_.get()) {
        // A row of another table with the same attribute layout (an export).
        if (row.fields().count() != t.fields.count())
            fail(err::HostInvalidArg, "InsertCursor", "The row does not match the table's fields.");
    }
    int64_t id = t.writeRow(row, true);
    if (buffered_) {
        ++pending_;
    } else {
        pending_ = 1;
        table_->flush();
        pending_ = 0;
    }
    return id;
}

void InsertCursor::flush() {
    if (table_) table_->flush();
    pending_ = 0;
}

InsertCursor Table::insert(bool buffered) {
    impl_->prepareWrite("Table.insert");
    InsertCursor c;
    c.table_ = shared_from_this();
    c.buffered_ = buffered;
    return c;
}

}  // namespace korvane::host
