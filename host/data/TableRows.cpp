// The rows of a table: counting, reading, checking and writing them (straight
// into the .dbf, through the appender or through the driver), and Row.
#include "host/data/Table.h"

#include <fmt/format.h>

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <fstream>

#include "host/Failure.h"
#include "host/data/GdalSupport.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

namespace {

constexpr const char* kSource = "Table";

}  // namespace

int64_t Table::Impl::recordCount(const char* source) {
    gdal::ErrorTrap trap;
    return lyr(source).GetFeatureCount(TRUE);
}

void Table::Impl::deleteRecord(int64_t oid, const char* source) {
    prepareWrite(source);
    readyForDriverWrite(source);
    // The driver marks the record in its copy of it, which must be current.
    flushRecords();
    if (isDirty(oid)) {
        releaseDataset();
        lyr(source);
    }
    gdal::ErrorTrap trap;
    driverWrote = true;
    if (layer->DeleteFeature(oid) != OGRERR_NONE)
        fail(err::HostGeneric, source, gdal::describe(fmt::format("Cannot delete row {} of {}", oid, name), trap));
    deletedThisSession = true;
    if (oid >= 0) {
        if (static_cast<size_t>(oid) >= deletedIds.size()) deletedIds.resize(static_cast<size_t>(oid) + 1);
        deletedIds[static_cast<size_t>(oid)] = true;
    }
    if (deletedKnown) ++deleted;
}

namespace {

// Records of a dBASE file that carry the deletion mark.
int64_t deletedRecords(const std::string& dbf) {
    std::ifstream in(dbf, std::ios::binary);
    unsigned char h[32];
    if (!in.read(reinterpret_cast<char*>(h), 32)) return 0;
    uint32_t records = h[4] | (h[5] << 8) | (h[6] << 16) | (static_cast<uint32_t>(h[7]) << 24);
    uint32_t headerLen = h[8] | (h[9] << 8);
    uint32_t recordLen = h[10] | (h[11] << 8);
    if (recordLen == 0) return 0;
    in.seekg(headerLen);
    std::vector<char> block(static_cast<size_t>(recordLen) * 4096);
    int64_t marked = 0;
    uint32_t left = records;
    while (left > 0) {
        uint32_t n = std::min<uint32_t>(left, 4096);
        if (!in.read(block.data(), static_cast<std::streamsize>(n) * recordLen)) break;
        for (uint32_t i = 0; i < n; ++i) marked += block[static_cast<size_t>(i) * recordLen] == '*';
        left -= n;
    }
    return marked;
}

}  // namespace

int64_t Table::Impl::liveRowCount(const char* source) {
    int64_t records = recordCount(source);
    if (!deletedKnown) {
        flushRecords();
        gdal::ErrorTrap trap;
        if (update) layer->SyncToDisk();
        deleted = deletedRecords(workingBase() + ".dbf");
        deletedKnown = true;
    }
    return records - deleted;
}

void Table::Impl::readValues(OGRFeature& f, Row& row, const std::vector<int32_t>* only) const {
    size_t n = static_cast<size_t>(fields.count());
    if (row.values_.size() != n) row.values_.resize(n);
    row.set_.clear();
    row.oid_ = f.GetFID();
    row.values_[0] = static_cast<int32_t>(row.oid_);
    auto one = [&](int32_t i) {
        if (i < offset) return;
        int ogr = i - offset;
        Value& v = row.values_[static_cast<size_t>(i)];
        if (!f.IsFieldSetAndNotNull(ogr)) {
            v = std::monostate{};
            return;
        }
        switch (fields.all()[static_cast<size_t>(i)].type) {
            case FieldSmallInteger:
            case FieldInteger: {
                GIntBig x = f.GetFieldAsInteger64(ogr);
                if (x >= INT32_MIN && x <= INT32_MAX)
                    v = static_cast<int32_t>(x);
                else
                    v = static_cast<double>(x);
                break;
            }
            case FieldSingle: v = static_cast<float>(f.GetFieldAsDouble(ogr)); break;
            case FieldDouble: v = f.GetFieldAsDouble(ogr); break;
            case FieldDate: {
                int y = 0, m = 0, d = 0, h, mi, tz;
                float s;
                f.GetFieldAsDateTime(ogr, &y, &m, &d, &h, &mi, &s, &tz);
                v = Date{y, m, d};
                break;
            }
            default: {
                const char* s = f.GetFieldAsString(ogr);
                if (auto* str = std::get_if<std::string>(&v))
                    str->assign(s);
                else
                    v = std::string(s);
            }
        }
    };
    if (only) {
        for (int32_t i : *only) one(i);
    } else {
        for (int32_t i = offset; i < static_cast<int32_t>(n); ++i) one(i);
    }
}

void Table::Impl::readShape(OGRFeature& f, Row& row) const {
    row.shapeSet_ = false;
    if (!featureClass) return;
    OGRGeometry* g = f.GetGeometryRef();
    if (!g || g->IsEmpty()) {
        row.shape_.clear();
        return;
    }
    auto& buf = row.shape_.wkbBuffer();
    buf.resize(g->WkbSize());
    g->exportToWkb(wkbNDR, buf.data(), wkbVariantIso);
    row.shape_.wkbChanged();
}

namespace {

// Characters the value takes in its dBASE column.
size_t storedWidth(const FieldDef& fd, const Value& v) {
    char text[1024];
    if (auto p = std::get_if<int32_t>(&v)) return static_cast<size_t>(std::to_chars(text, text + sizeof text, *p).ptr - text);
    if (fd.type == FieldSingle || fd.type == FieldDouble) {
        double d = toDouble(v);
        size_t n = data::fixedLength(d, fd.scale);
        return n > 0 ? n : fmt::format("{:.{}f}", d, fd.scale).size();
    }
    if (auto p = std::get_if<std::string>(&v)) return p->size();
    return 0;
}

void checkWidth(const FieldDef& fd, const Value& v) {
    if (isNull(v)) return;
    int width = fd.type == FieldString ? fd.length : fd.precision;
    if (fd.type != FieldDate && width > 0 && storedWidth(fd, v) > static_cast<size_t>(width))
        fail(err::HostInvalidArg, kSource,
             fmt::format("The value {} does not fit the field {} ({} characters wide).", toText(v), fd.name, width));
}

}  // namespace

void Table::Impl::checkWidths(const Row& row, bool onlySet) const {
    for (int32_t i = offset; i < fields.count(); ++i) {
        // Values an update does not set are written as the file holds them.
        if (onlySet && !(static_cast<size_t>(i) < row.set_.size() && row.set_[static_cast<size_t>(i)])) continue;
        checkWidth(fields.all()[static_cast<size_t>(i)], row.values_[static_cast<size_t>(i)]);
    }
}

void Table::Impl::fill(OGRFeature& f, const Row& row) const {
    checkWidths(row, false);
    for (int32_t i = offset; i < fields.count(); ++i) {
        const Value& v = row.values_[static_cast<size_t>(i)];
        int ogr = i - offset;
        if (isNull(v)) {
            f.SetFieldNull(ogr);
            continue;
        }
        if (auto p = std::get_if<int32_t>(&v))
            f.SetField(ogr, *p);
        else if (auto p = std::get_if<float>(&v))
            f.SetField(ogr, static_cast<double>(*p));
        else if (auto p = std::get_if<double>(&v))
            f.SetField(ogr, *p);
        else if (auto p = std::get_if<std::string>(&v))
            f.SetField(ogr, p->c_str());
        else if (auto p = std::get_if<Date>(&v))
            f.SetField(ogr, p->year, p->month, p->day);
    }
    if (featureClass && !row.shape_.isEmpty()) {
        OGRGeometry* g = nullptr;
        const auto& wkb = row.shape_.wkb();
        if (OGRGeometryFactory::createFromWkb(wkb.data(), nullptr, &g, wkb.size(), wkbVariantIso) != OGRERR_NONE || !g)
            fail(err::HostInvalidArg, kSource, "The shape cannot be stored.");
        f.SetGeometryDirectly(g);
    }
}

bool Table::Impl::writeDirect(const Row& row) {
    if (!data::directDbfWrites() || row.shapeSet_ || row.oid_ < 0) return false;
    if (row.values_.size() != static_cast<size_t>(fields.count())) return false;
    if (static_cast<size_t>(row.oid_) < deletedIds.size() && deletedIds[static_cast<size_t>(row.oid_)]) return false;
    if (!records) {
        if (recordsTried) return false;
        recordsTried = true;
        gdal::ErrorTrap trap;
        if (layer->SyncToDisk() != OGRERR_NONE) return false;
        driverWrote = false;
        records = data::DbfRecordWriter::open(workingBase() + ".dbf", *layer);
        if (!records) return false;
    } else if (driverWrote) {
        // What the driver holds goes to the file first, so that it cannot
        // later overwrite these records with older contents.
        gdal::ErrorTrap trap;
        if (layer->SyncToDisk() != OGRERR_NONE) return false;
        records->refreshCount();
        driverWrote = false;
    }
    size_t n = static_cast<size_t>(fields.count() - offset);
    // Only the fields the update set are formatted; the others keep their
    // stored bytes, whatever the driver would make of them.
    std::vector<bool> only(n, false);
    for (size_t i = 0; i < n; ++i) {
        size_t at = i + static_cast<size_t>(offset);
        only[i] = at < row.set_.size() && row.set_[at];
    }
    if (!records->put(row.oid_, row.values_.data() + offset, n, &only)) return false;
    markDirty(row.oid_);
    ++data::directDbfCounts().records;
    return true;
}

void Table::Impl::finishAppending() {
    std::unique_ptr<data::ShapefileAppender> a = std::move(appender);
    a->flush();
}

int64_t Table::Impl::appendRow(const Row& row) {
    if (appendRefused || !featureClass || shapeType != ShapeType::Polygon || !data::directDbfWrites()) return -1;
    if (row.values_.size() != static_cast<size_t>(fields.count())) return -1;
    if (!appender) {
        prepareWrite(kSource);
        readyForDriverWrite(kSource);
        // The driver writes out what it holds and lets go of the files.
        flushRecords();
        {
            gdal::ErrorTrap trap;
            if (layer->SyncToDisk() != OGRERR_NONE) {
                appendRefused = true;
                return -1;
            }
        }
        auto a = data::ShapefileAppender::open(workingBase(), *layer);
        if (!a) {
            appendRefused = true;
            return -1;
        }
        releaseDataset();
        appender = std::move(a);
    }
    checkWidths(row, false);
    int64_t id = appender->append(row.shape_, row.values_.data() + offset, row.values_.size() - static_cast<size_t>(offset));
    if (id < 0)
        appendRefused = true;
    else
        ++data::directDbfCounts().appended;
    return id;
}

int64_t Table::Impl::writeRow(const Row& row, bool insert) {
    if (insert) {
        int64_t id = appendRow(row);
        if (id >= 0) return id;
    }
    prepareWrite(kSource);
    if (!insert) {
        checkWidths(row, true);
        if (writeDirect(row)) return row.oid_;
    }
    // Gathered records go first, so that the driver's writes land after them.
    flushRecords();
    readyForDriverWrite(kSource);
    FeatureHandle f(OGRFeature::CreateFeature(layer->GetLayerDefn()));
    fill(*f, row);
    gdal::ErrorTrap trap;
    OGRErr e;
    driverWrote = true;
    if (insert) {
        f->SetFID(OGRNullFID);
        e = layer->CreateFeature(f.get());
    } else {
        f->SetFID(row.oid_);
        e = layer->SetFeature(f.get());
    }
    if (e != OGRERR_NONE || trap.any())
        fail(err::HostGeneric, kSource, gdal::describe("Cannot store the row in " + name, trap));
    return f->GetFID();
}

int64_t Table::rowCount(const QueryFilter* filter) {
    if (!filter || filter->whereClause.empty()) return impl_->liveRowCount("Table.rowCount");
    Cursor c = search(filter, true);
    int64_t n = 0;
    while (c.next()) ++n;
    return n;
}

RowPtr Table::row(int64_t oid) {
    impl_->lyr("Table.row");
    FeatureHandle f;
    if (oid >= 0 && oid < impl_->recordCount("Table.row")) {
        impl_->readyToRead(oid);
        gdal::ErrorTrap trap;
        f.reset(impl_->lyr("Table.row").GetFeature(oid));
    }
    if (!f) fail(err::HostInvalidArg, "Table.row", fmt::format("There is no row {} in {}.", oid, name()));
    auto r = std::make_shared<Row>();
    r->table_ = shared_from_this();
    impl_->readValues(*f, *r, nullptr);
    impl_->readShape(*f, *r);
    return r;
}

RowPtr Table::createRow() {
    impl_->lyr("Table.createRow");
    auto r = std::make_shared<Row>();
    r->table_ = shared_from_this();
    r->values_.resize(static_cast<size_t>(impl_->fields.count()));
    return r;
}

// ---- Row --------------------------------------------------------------------

const Fields& Row::fields() const { return table_->fields(); }

const Value& Row::value(int32_t index) const {
    if (index < 0 || static_cast<size_t>(index) >= values_.size())
        fail(err::HostInvalidArg, "Row", fmt::format("There is no field at index {}.", index));
    return values_[static_cast<size_t>(index)];
}

const Value& Row::value(std::string_view fieldName) const {
    int32_t i = table_->findField(fieldName);
    if (i < 0) fail(err::HostInvalidArg, "Row", "There is no field " + std::string(fieldName) + ".");
    return values_[static_cast<size_t>(i)];
}

namespace {

Value coerce(const FieldDef& fd, Value v) {
    if (isNull(v)) return v;
    auto refuse = [&](const std::string& why) -> Value {
        fail(err::HostInvalidArg, "Row.setValue", "Cannot set the field " + fd.name + " to " + toText(v) + ": " + why + ".");
    };
    // The value as a number: a date is refused, a text must read as one.
    auto number = [&]() -> double {
        if (std::holds_alternative<Date>(v)) refuse("a date is not a number");
        double d;
        if (auto s = std::get_if<std::string>(&v)) {
            if (!parseNumber(*s, d)) refuse("the text is not a number");
            return d;
        }
        return toDouble(v);
    };
    switch (fd.type) {
        case FieldSmallInteger:
        case FieldInteger: {
            double d = number();
            double r = std::round(d);
            double lo = fd.type == FieldSmallInteger ? -32768.0 : static_cast<double>(INT32_MIN);
            double hi = fd.type == FieldSmallInteger ? 32767.0 : static_cast<double>(INT32_MAX);
            if (!(r >= lo && r <= hi)) return refuse("the number is out of the field's range");
            return static_cast<int32_t>(r);
        }
        case FieldSingle:
        case FieldDouble: {
            double d = number();
            if (!std::isfinite(d)) return refuse("the number is not finite");
            if (fd.type == FieldDouble) return d;
            if (std::fabs(d) > FLT_MAX) return refuse("the number is out of the field's range");
            return static_cast<float>(d);
        }
        case FieldString:
            if (std::holds_alternative<std::string>(v)) return v;
            return toText(v);
        case FieldDate: {
            if (std::holds_alternative<Date>(v)) return v;
            Date d;
            if (auto s = std::get_if<std::string>(&v); s && parseDate(*s, d)) return d;
            return refuse("a date field takes dates (YYYY-MM-DD)");
        }
        default: return refuse("the field cannot be set");
    }
}

}  // namespace

Value valueForField(const FieldDef& field, Value v) {
    if (field.type == FieldOID || field.type == FieldGeometry)
        fail(err::HostInvalidArg, "Row.setValue", "The field " + field.name + " cannot be set.");
    Value out = coerce(field, std::move(v));
    checkWidth(field, out);
    return out;
}

void Row::setValue(int32_t index, Value v) {
    const FieldDef& fd = fields().field(index);
    if (index < TableAccess::impl(*table_).offset)
        fail(err::HostInvalidArg, "Row.setValue", "The field " + fd.name + " cannot be set.");
    values_[static_cast<size_t>(index)] = coerce(fd, std::move(v));
    if (set_.size() < values_.size()) set_.resize(values_.size(), false);
    set_[static_cast<size_t>(index)] = true;
}

void Row::setValue(std::string_view fieldName, Value v) {
    int32_t i = table_->findField(fieldName);
    if (i < 0) fail(err::HostInvalidArg, "Row.setValue", "There is no field " + std::string(fieldName) + ".");
    setValue(i, std::move(v));
}

void Row::setShape(Geometry g) {
    auto& t = TableAccess::impl(*table_);
    if (!t.featureClass) fail(err::HostInvalidArg, "Row.setShape", "A table row has no shape.");
    if (!g.isEmpty()) {
        ShapeType have = g.type();
        bool fits = have == t.shapeType || (t.shapeType == ShapeType::Multipoint && have == ShapeType::Point);
        if (!fits)
            fail(err::HostInvalidArg, "Row.setShape",
                 std::string("A ") + shapeTypeName(have) + " cannot be stored in a " + shapeTypeName(t.shapeType) +
                     " feature class.");
    }
    shape_ = std::move(g);
    shapeSet_ = true;
}

void Row::store() {
    auto& t = TableAccess::impl(*table_);
    if (oid_ < 0) {
        oid_ = t.writeRow(*this, true);
        values_[0] = static_cast<int32_t>(oid_);
    } else {
        t.writeRow(*this, false);
    }
}

void Row::deleteRow() {
    if (oid_ < 0) fail(err::HostInvalidArg, "Row.deleteRow", "The row has not been stored.");
    TableAccess::impl(*table_).deleteRecord(oid_, "Row.deleteRow");
}

}  // namespace korvane::host
