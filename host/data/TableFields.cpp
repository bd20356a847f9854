// Field definitions and changes of a table: the checks of a new field, and
// adding and deleting fields (written by this code in one pass where it can,
// else through the driver).
#include "host/data/Table.h"

#include <fmt/format.h>
#include <fcntl.h>
#include <unistd.h>

#include "host/Failure.h"
#include "host/data/GdalSupport.h"
#include "host/data/TableImpl.h"

namespace korvane::host {

namespace {

constexpr const char* kSource = "Table";

}  // namespace

namespace data {

FieldDef checkNewField(const Fields& existing, const FieldDef& in, bool checkName) {
    FieldDef f = in;
    auto refuse = [&](const std::string& why) {
        fail(err::HostInvalidArg, kSource, "Cannot add the field \"" + in.name + "\": " + why + ".");
    };
    if (checkName && !isValidDbfFieldName(f.name))
        refuse("a dBASE field name has 1 to 10 characters of printable ASCII and no blank");
    if (f.name.empty() || f.name.size() > 10) refuse("the name does not fit a dBASE field");
    if (existing.find(f.name) >= 0) refuse("there is already a field of that name");
    switch (f.type) {
        case FieldString:
            if (f.length == 0) f.length = 50;
            if (f.length < 1 || f.length > 254) refuse("a text field holds 1 to 254 characters");
            f.precision = f.scale = 0;
            break;
        case FieldSmallInteger:
        case FieldInteger:
            if (f.precision == 0) f.precision = f.type == FieldSmallInteger ? 5 : 9;
            if (f.precision < 1 || f.precision > 19) refuse("an integer field is 1 to 19 digits wide");
            f.length = f.scale = 0;
            break;
        case FieldSingle:
        case FieldDouble:
            if (f.precision == 0) {
                f.precision = f.type == FieldSingle ? 13 : 19;
                if (f.scale == 0) f.scale = 11;
            }
            if (f.precision < 1 || f.precision > 255) refuse("a numeric field is 1 to 255 characters wide");
            if (f.scale < 0 || (f.scale > 0 && f.scale > f.precision - 2))
                refuse(fmt::format("{} decimal places do not fit a width of {}", f.scale, f.precision));
            f.length = 0;
            break;
        case FieldDate:
            f.length = 8;
            f.precision = f.scale = 0;
            break;
        default: refuse(fmt::format("type code {} cannot be stored in a dBASE file", f.type));
    }
    return f;
}

std::unique_ptr<OGRFieldDefn> toOgr(const FieldDef& f) {
    OGRFieldType t = OFTString;
    int width = 0, prec = 0;
    switch (f.type) {
        case FieldString: width = f.length; break;
        case FieldSmallInteger:
        case FieldInteger:
            t = f.precision > 10 ? OFTInteger64 : OFTInteger;
            width = f.precision;
            break;
        case FieldSingle:
        case FieldDouble:
            t = OFTReal;
            width = f.precision;
            prec = f.scale;
            break;
        case FieldDate:
            t = OFTDate;
            width = 8;
            break;
        default: break;
    }
    auto d = std::make_unique<OGRFieldDefn>(f.name.c_str(), t);
    d->SetWidth(width);
    d->SetPrecision(prec);
    return d;
}

}  // namespace data

std::optional<data::DbfLayout> Table::Impl::releasedDbfLayout() {
    // The driver writes out what it holds and lets go of the file.
    flushRecords();
    {
        gdal::ErrorTrap trap;
        if (layer->SyncToDisk() != OGRERR_NONE) return std::nullopt;
    }
    releaseDataset();
    std::optional<data::DbfLayout> layout;
    {
        int fd = ::open((workingBase() + ".dbf").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return std::nullopt;
        layout = data::DbfLayout::read(fd);
        ::close(fd);
    }
    if (!layout || layout->columns.size() != static_cast<size_t>(fields.count() - offset)) return std::nullopt;
    for (size_t i = 0; i < layout->columns.size(); ++i)
        if (!sameFieldName(layout->columns[i].name, fields.all()[i + static_cast<size_t>(offset)].name))
            return std::nullopt;
    return layout;
}

bool Table::Impl::changeFieldsDirect(const data::DbfFieldChange& change) {
    if (!data::directDbfWrites()) return false;
    std::optional<data::DbfLayout> layout = releasedDbfLayout();
    if (!layout || !data::dbfChangeFits(*layout, change)) return false;
    data::restructureDbf(workingBase() + ".dbf", *layout, change);
    ++data::directDbfCounts().fieldChanges;
    return true;
}

void Table::addField(const FieldDef& field) { addFields({field}); }

void Table::addFields(const std::vector<FieldDef>& defs) {
    if (defs.empty()) return;
    // Every definition is checked, against the fields and against the ones
    // before it in the list, before the file changes.
    Fields probe = impl_->fields;
    std::vector<FieldDef> checked;
    checked.reserve(defs.size());
    for (const FieldDef& d : defs) {
        FieldDef f = data::checkNewField(probe, d, true);
        probe.add(f);
        checked.push_back(std::move(f));
    }
    impl_->prepareWrite("Table.addField");
    if (!impl_->changeFieldsDirect({true, checked, -1})) {
        // The driver adds one field at a time; when one fails, the ones it
        // added before it are taken out again.
        impl_->readyForDriverWrite("Table.addField");
        impl_->syncDriver();
        int32_t before = impl_->layer->GetLayerDefn()->GetFieldCount();
        for (const FieldDef& f : checked) {
            auto d = data::toOgr(f);
            gdal::ErrorTrap trap;
            impl_->driverWrote = true;
            if (impl_->layer->CreateField(d.get(), FALSE) != OGRERR_NONE || trap.failed()) {
                std::string why = gdal::describe("Cannot add the field " + f.name + " to " + name(), trap);
                for (int32_t i = impl_->layer->GetLayerDefn()->GetFieldCount() - 1; i >= before; --i) {
                    gdal::ErrorTrap undo;
                    impl_->layer->DeleteField(i);
                }
                fail(err::HostGeneric, "Table.addField", why);
            }
        }
    }
    for (FieldDef& f : checked) {
        data::rememberFieldType(dbfPath(), f.name, f.type);
        impl_->fields.add(std::move(f));
    }
}

void Table::deleteField(std::string_view fieldName) {
    int32_t i = findField(fieldName);
    if (i < 0) fail(err::HostInvalidArg, "Table.deleteField", "There is no field " + std::string(fieldName) + " in " + name() + ".");
    if (i < impl_->offset)
        fail(err::HostInvalidArg, "Table.deleteField", "The field " + std::string(fieldName) + " cannot be deleted.");
    impl_->prepareWrite("Table.deleteField");
    if (!impl_->changeFieldsDirect({false, {}, i - impl_->offset})) {
        impl_->readyForDriverWrite("Table.deleteField");
        impl_->syncDriver();
        gdal::ErrorTrap trap;
        impl_->driverWrote = true;
        if (impl_->layer->DeleteField(i - impl_->offset) != OGRERR_NONE || trap.failed())
            fail(err::HostGeneric, "Table.deleteField",
                 gdal::describe("Cannot delete the field " + std::string(fieldName), trap));
    }
    data::forgetFieldType(dbfPath(), impl_->fields.field(i).name);
    impl_->fields.remove(i);
}

}  // namespace korvane::host
