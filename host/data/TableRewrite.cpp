// Table::rewriteFields: the one-pass rewrite of a table's attribute fields,
// in stages over one Table::Rewrite.
#include "host/data/Table.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "host/Failure.h"
#include "host/data/GdalSupport.h"
#include "host/data/ShpRecords.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

// What the stages of one rewrite share.
struct Table::Rewrite {
    Rewrite(Table& owner, const std::function<bool(const Row& row, AddedValues& added)>& fillRow)
        : table(owner), t(*owner.impl_), fill(fillRow) {}

    struct PlainNumber {
        int32_t field;
        const data::DbfColumn* column;
        bool integer;
        bool single;
    };
    struct Dataset {
        GDALDataset* ds = nullptr;
        ~Dataset() {
            if (ds) GDALClose(ds);
        }
    };

    Table& table;
    Impl& t;
    const std::function<bool(const Row& row, AddedValues& added)>& fill;
    // The fields that stay, and the added ones.
    std::vector<int> keptColumns;
    std::vector<int32_t> keptFields, readFields;
    Fields probe;
    std::vector<FieldDef> checked;
    // The file's layout and the change.
    std::optional<data::DbfLayout> layout;
    std::string dbf;
    data::DbfFieldChange change;
    std::vector<data::DbfColumn> addedColumns;
    // How the kept values and the shapes are read.
    std::vector<PlainNumber> plain;
    bool driverValues = false;
    Dataset values, shapes;
    OGRLayer* reader = nullptr;
    std::unique_ptr<data::ShpRecords> shp;
    // The pass over the records.
    std::shared_ptr<Row> row;
    AddedValues addedValues;
    FeatureHandle next;
    int64_t deletedRecords = 0;

    bool checkFields(const std::vector<std::string>& keep, const std::vector<FieldDef>& add,
                     const std::vector<std::string>* read);
    bool readLayout();
    bool openReaders();
    static bool parsePlain(const PlainNumber& n, const char* record, Value& v);
    bool openReader(Dataset& d);
    void startPass();
    void advance();
    bool fillRecord(uint32_t record, const char* old, char* added);
    void replaceFields();
};

bool Table::rewriteFields(const std::vector<std::string>& keep, const std::vector<FieldDef>& add,
                          const std::function<bool(const Row& row, AddedValues& added)>& fill,
                          const std::vector<std::string>* read) {
    Impl& t = *impl_;
    if (!data::directDbfWrites()) return false;
    t.prepareWrite("Table.rewriteFields");
    Rewrite r(*this, fill);
    if (!r.checkFields(keep, add, read) || !r.readLayout() || !r.openReaders()) return false;
    r.startPass();
    data::DbfRecordFill fillRecord = [&](uint32_t record, const char* old, char* added) {
        return r.fillRecord(record, old, added);
    };
    if (!data::restructureDbf(r.dbf, *r.layout, r.change, &fillRecord)) return false;
    ++data::directDbfCounts().fieldChanges;
    // The pass counted the deleted records: no count of the file is needed.
    t.deleted = r.deletedRecords;
    t.deletedKnown = true;

    r.replaceFields();
    return true;
}

bool Table::Rewrite::checkFields(const std::vector<std::string>& keep, const std::vector<FieldDef>& add,
                                 const std::vector<std::string>* read) {
    // The fields that stay, and the added ones checked against them.
    for (int32_t i = 0; i < t.offset; ++i) probe.add(t.fields.field(i));
    for (int32_t i = t.offset; i < t.fields.count(); ++i) {
        const FieldDef& f = t.fields.field(i);
        bool kept = std::any_of(keep.begin(), keep.end(), [&](const std::string& k) { return sameFieldName(k, f.name); });
        if (!kept) continue;
        keptColumns.push_back(i - t.offset);
        keptFields.push_back(i);
        if (!read || std::any_of(read->begin(), read->end(), [&](const std::string& r) { return sameFieldName(r, f.name); }))
            readFields.push_back(i);
        probe.add(f);
    }
    try {
        for (const FieldDef& d : add) {
            if (!isNumericFieldType(d.type)) return false;
            FieldDef f = data::checkNewField(probe, d, true);
            probe.add(f);
            checked.push_back(std::move(f));
        }
    } catch (const Failure&) {
        return false;
    }
    return true;
}

bool Table::Rewrite::readLayout() {
    layout = t.releasedDbfLayout();
    if (!layout) return false;
    dbf = t.workingBase() + ".dbf";
    change = data::DbfFieldChange{true, checked, -1, keptColumns};
    if (!data::dbfChangeFits(*layout, change)) return false;
    for (const FieldDef& f : checked) addedColumns.push_back(data::newDbfColumn(f));
    return true;
}

bool Table::Rewrite::openReaders() {
    // The rows are read in order through a reader of their own: only the
    // kept fields are parsed, and the plain shapes come straight from the
    // .shp; the driver reads the others. Numbers in columns whose type the
    // driver reads as the field's (integers without decimals, fractions with)
    // are parsed from the record's bytes as the driver parses them; any
    // other kept field has the driver read every row's values.
    for (int32_t i : readFields) {
        const FieldDef& f = t.fields.field(i);
        const data::DbfColumn& c = layout->columns[static_cast<size_t>(i - t.offset)];
        bool numericColumn = c.type == 'N' || c.type == 'F';
        bool integer = (f.type == FieldSmallInteger || f.type == FieldInteger) && c.decimals == 0 && c.width <= 9;
        bool fraction = (f.type == FieldSingle || f.type == FieldDouble) && c.decimals > 0;
        if (numericColumn && (integer || fraction))
            plain.push_back({i, &c, integer, f.type == FieldSingle});
        else
            driverValues = true;
    }
    if (driverValues) {
        if (!openReader(values)) return false;
        reader = values.ds->GetLayer(0);
        plain.clear();

        std::vector<std::string> ignoredNames;
        for (int32_t i = t.offset; i < t.fields.count(); ++i)
            if (std::find(readFields.begin(), readFields.end(), i) == readFields.end())
                ignoredNames.push_back(t.fields.field(i).name);
        ignoredNames.push_back("OGR_GEOMETRY");
        ignoredNames.push_back("OGR_STYLE");
        std::vector<const char*> ignored;
        for (const std::string& n : ignoredNames) ignored.push_back(n.c_str());
        ignored.push_back(nullptr);
        gdal::ErrorTrap trap;
        if (reader->SetIgnoredFields(ignored.data()) != OGRERR_NONE) return false;
        reader->ResetReading();
    }
    if (t.featureClass) shp = std::make_unique<data::ShpRecords>(t.workingBase());
    return true;
}

// A number's text as the driver reads it: blanks around it trimmed; null
// when nothing is left or the column is all '*'. False for a text the
// driver might read otherwise.
bool Table::Rewrite::parsePlain(const PlainNumber& n, const char* record, Value& v) {
    const char* b = record + n.column->offset;
    const char* e = b + n.column->width;
    if (std::all_of(b, e, [](char c) { return c == '*'; })) {
        v = std::monostate{};
        return true;
    }
    while (b < e && *b == ' ') ++b;
    while (e > b && e[-1] == ' ') --e;
    if (b == e) {
        v = std::monostate{};
        return true;
    }
    if (n.integer) {
        int64_t x = 0;
        auto [end, ec] = std::from_chars(b, e, x);
        if (ec != std::errc() || end != e) return false;
        v = static_cast<int32_t>(x);  // at most 9 digits
        return true;
    }
    double x = 0;
    auto [end, ec] = std::from_chars(b, e, x);
    if (ec != std::errc() || end != e || !std::isfinite(x)) return false;
    if (n.single)
        v = static_cast<float>(x);
    else
        v = x;
    return true;
}

// A read-only handle of the driver's own, with its own reading position.
bool Table::Rewrite::openReader(Dataset& d) {
    gdal::ErrorTrap trap;
    const char* const drivers[] = {"ESRI Shapefile", nullptr};
    d.ds = static_cast<GDALDataset*>(
        GDALOpenEx(t.workingPath().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr));
    return d.ds && d.ds->GetLayerCount() > 0;
}

void Table::Rewrite::startPass() {
    row = std::make_shared<Row>();
    row->table_ = table.shared_from_this();
    row->values_.resize(static_cast<size_t>(t.fields.count()));
    if (reader) advance();
}

void Table::Rewrite::advance() {
    gdal::ErrorTrap trap;
    next.reset(reader->GetNextFeature());
}

bool Table::Rewrite::fillRecord(uint32_t record, const char* old, char* added) {
    if (old[0] == '*') {  // a deleted record keeps its flag and gets no values
        ++deletedRecords;
        return true;
    }
    if (reader) {
        if (!next || next->GetFID() != static_cast<GIntBig>(record)) return false;
        t.readValues(*next, *row, &readFields);
        advance();
    } else {
        row->oid_ = record;
        row->values_[0] = static_cast<int32_t>(record);
        row->set_.clear();
        for (const PlainNumber& n : plain)
            if (!parsePlain(n, old, row->values_[static_cast<size_t>(n.field)])) return false;
    }
    row->shapeSet_ = false;
    if (t.featureClass) {
        data::ShpRecords::Kind kind = shp->read(record, row->shape_.wkbBuffer());
        if (kind == data::ShpRecords::Kind::Polygon) {
            row->shape_.wkbChanged();
        } else if (kind == data::ShpRecords::Kind::Null) {
            row->shape_.clear();
        } else {
            if (!shapes.ds && !openReader(shapes)) return false;
            FeatureHandle f;
            {
                gdal::ErrorTrap trap;
                f.reset(shapes.ds->GetLayer(0)->GetFeature(record));
            }
            if (!f) return false;
            t.readShape(*f, *row);
        }
    }
    addedValues.assign(checked.size(), Value{});
    if (!fill(*row, addedValues) || addedValues.size() != checked.size()) return false;
    int at = 0;
    for (size_t k = 0; k < checked.size(); ++k) {
        Value v;
        try {
            v = valueForField(checked[k], std::move(addedValues[k]));
        } catch (const Failure&) {
            return false;
        }
        const data::DbfColumn& c = addedColumns[k];
        if (!isNull(v) && !data::formatDbfNumber(v, c, added + at)) return false;
        at += c.width;
    }
    return true;
}

void Table::Rewrite::replaceFields() {
    for (int32_t i = t.fields.count() - 1; i >= t.offset; --i) {
        if (std::find(keptFields.begin(), keptFields.end(), i) != keptFields.end()) continue;
        data::forgetFieldType(table.dbfPath(), t.fields.field(i).name);
        t.fields.remove(i);
    }
    for (FieldDef& f : checked) {
        data::rememberFieldType(table.dbfPath(), f.name, f.type);
        t.fields.add(std::move(f));
    }
}

}  // namespace korvane::host
