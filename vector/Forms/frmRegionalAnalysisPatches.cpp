// Analysis by Regions: the patches of the source layer grouped by region and
// class, by a cursor over the layer or in the one pass that also refreshes
// its Area and Perimeter fields.
#include "vector/Forms/frmRegionalAnalysisPatches.h"

#include <charconv>
#include <cmath>

#include "host/System.h"
#include "host/data/FieldsInPlace.h"
#include "shared/modMisc.h"
#include "vector/Forms/frmSpatialStat1Progress.h"

namespace kv {

namespace h = korvane::host;

namespace {

// The number a numeric where clause compares: the value's text form read
// back, as the data source reads the clause; nothing for a value no clause
// can match.
std::optional<double> clauseNumber(const h::Value& v) {
    if (!h::isNumber(v)) return std::nullopt;
    std::string text = h::toText(v);
    double d = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
    if (ec != std::errc() || std::isnan(d)) return std::nullopt;
    return d;
}

// The number a stored value compares as; nothing for null, text and NaN.
std::optional<double> storedNumber(const h::Value& v) {
    if (!h::isNumber(v)) return std::nullopt;
    double d = h::toDouble(v);
    if (std::isnan(d)) return std::nullopt;
    return d;
}

}  // namespace

RegionalPatchReader::RegionalPatchReader(const h::Fields& fields, const std::string& classField,
                                         const std::string& regionField, bool raster,
                                         const AreaAndPerimeter* written)
    : k_(raster ? 0.25 : 1), written_(written && !written->area.empty() ? written : nullptr) {
    area_ = fields.find("Area");
    perimeter_ = fields.find("Perimeter");
    fd_ = fields.find("FD");
    auto kept = [&](const char* name) {
        return h::sameFieldName(classField, name) || h::sameFieldName(regionField, name) ? fields.find(name) : -1;
    };
    si_ = kept("SI");
    par_ = kept("PAR");
}

PatchValues RegionalPatchReader::read(const h::Row& f) const {
    const size_t oid = static_cast<size_t>(f.oid());
    if (written_ && oid < written_->area.size()) return read(f, written_->area[oid], written_->perimeter[oid]);
    // Measured after repair where the source has no stored values.
    const bool stored = area_ >= 0 && perimeter_ >= 0;
    const h::Geometry measured = stored ? h::Geometry() : MeasuredShape(f.shape());
    return read(f, area_ >= 0 ? h::toDouble(f.value(area_)) : measured.area(),
                perimeter_ >= 0 ? h::toDouble(f.value(perimeter_)) : measured.length());
}

PatchValues RegionalPatchReader::read(const h::Row& f, double area, double perimeter) const {
    PatchValues p;
    p.area = area;
    p.perimeter = perimeter;
    p.si = si_ >= 0 ? h::toDouble(f.value(si_)) : ShapeIndex(p.area, p.perimeter, false);
    p.par = par_ >= 0 ? h::toDouble(f.value(par_)) : PerimAreaRatio(p.area, p.perimeter);
    p.fd = fd_ >= 0 ? h::toDouble(f.value(fd_)) : FractalDimension(p.area, p.perimeter, k_);
    return p;
}

void addPatch(Region& region, ClassIndex& classes, const h::Value& classValue, const PatchValues& p) {
    region.area += p.area;
    int32_t at = classes.add(classValue);
    if (at < 0) return;
    auto it = region.byClass.find(at);
    if (it == region.byClass.end()) it = region.byClass.emplace(at, PatchGroup(PatchLists::For({}))).first;
    it->second.add(p);
}

const Region* RegionalPatches::find(const h::Value& regionValue) const {
    if (landscape) return &all;
    if (textRegions) {
        const std::string* t = std::get_if<std::string>(&regionValue);
        auto it = t ? byText.find(*t) : byText.end();
        return it == byText.end() ? nullptr : &it->second;
    }
    std::optional<double> key = clauseNumber(regionValue);
    auto it = key ? byNumber.find(*key) : byNumber.end();
    return it == byNumber.end() ? nullptr : &it->second;
}

RegionalGrouping::RegionalGrouping(const h::Fields& fields, const std::string& classField,
                                   const std::string& regionField, bool raster, const AreaAndPerimeter* written)
    : g_(std::make_unique<RegionalPatches>()),
      classAt_(fields.find(classField)),
      regionAt_(regionField.empty() ? -1 : fields.find(regionField)),
      dateRegions_(regionAt_ >= 0 && fields.field(regionAt_).type == h::FieldDate),
      reader_(fields, classField, regionField, raster, written) {
    g_->landscape = regionField.empty();
    if (!g_->landscape) g_->textRegions = fields.field(regionAt_).type == h::FieldString;
}

void RegionalGrouping::add(const h::Row& f, const double* given) {
    RegionalPatches& g = *g_;
    Region* region = &g.all;
    if (!g.landscape) {
        const h::Value& v = f.value(regionAt_);
        region = nullptr;
        if (g.textRegions) {
            if (auto t = std::get_if<std::string>(&v)) region = &g.byText[*t];
        } else if (!dateRegions_) {  // a date region clause is never searchable
            if (std::optional<double> key = storedNumber(v)) region = &g.byNumber[*key];
        }
        if (!region) {
            g.classes.add(f.value(classAt_));  // listed all the same
            return;
        }
    }
    addPatch(*region, g.classes, f.value(classAt_), given ? reader_.read(f, given[0], given[1]) : reader_.read(f));
}

std::unique_ptr<RegionalPatches> GroupPatches(h::FeatureClass& source, const std::string& classField,
                                              const std::string& regionField, bool raster,
                                              const AreaAndPerimeter* written, ProgressSteps& progress) {
    RegionalGrouping grouping(source.fields(), classField, regionField, raster, written);
    h::Cursor cursor = source.search(nullptr, true);
    while (h::RowPtr f = cursor.next()) {
        progress.step();
        grouping.add(*f);
    }
    return grouping.take();
}

std::optional<RegionalPass> ReadRegionalLayer(h::FeatureClass& source, const std::string& classField,
                                              const std::string& regionField) {
    const bool classLevel = !classField.empty();
    const h::Fields& fields = source.fields();
    const int32_t regionAt = fields.find(regionField);
    const int32_t classAt = classLevel ? fields.find(classField) : -1;
    // Where the refresh would have to ask, refuse or overwrite, the stages do it.
    if (source.shapeType() != h::ShapeType::Polygon || regionAt < 0 || (classLevel && classAt < 0) ||
        h::fs::IsReadOnly(h::fs::BuildPath(source.workspacePath(), source.name() + ".dbf")))
        return std::nullopt;
    // The fields the refresh makes, or refills where they are the last two
    // fields as it would make them (a layer an earlier run refreshed).
    const int32_t areaAt = fields.find("Area"), perimeterAt = fields.find("Perimeter");
    std::vector<h::FieldDef> add{{"Area", h::FieldSingle, 0, 20, 5}, {"Perimeter", h::FieldSingle, 0, 20, 5}};
    if (areaAt >= 0 || perimeterAt >= 0) {
        for (const std::string& field : {regionField, classField})
            if (h::sameFieldName(field, "Area") || h::sameFieldName(field, "Perimeter")) return std::nullopt;
        if (areaAt < 0 || perimeterAt < 0 || !h::fieldsRewrittenInPlace(source, {"Area", "Perimeter"}))
            return std::nullopt;
        add = {fields.field(areaAt), fields.field(perimeterAt)};
    }

    // Every other attribute field keeps its bytes; only those the run looks
    // at are read.
    std::vector<std::string> keep, read{regionField};
    for (const h::FieldDef& f : fields.all())
        if (f.type != h::FieldOID && f.type != h::FieldGeometry && !h::sameFieldName(f.name, "Area") &&
            !h::sameFieldName(f.name, "Perimeter"))
            keep.push_back(f.name);
    if (classLevel) read.push_back(classField);
    if (fields.find("FD") >= 0) read.push_back("FD");  // SI and PAR are read as class or region only

    RegionalPass pass;
    ClassIndex regions;
    // At landscape level the region field is the class field of the grouping.
    RegionalGrouping grouping(fields, classLevel ? classField : regionField, classLevel ? regionField : std::string{},
                              false, nullptr);
    auto measure = [&](const h::Row& row, h::Table::AddedValues& values) {
        if (row.oid() != pass.rows) return false;  // deleted records: ids with gaps
        const h::Geometry& shape = row.shape();
        if (shape.isEmpty() || shape.type() != h::ShapeType::Polygon) return false;
        const h::Geometry measured = MeasuredShape(shape);
        const double area = measured.area(), perimeter = measured.length();
        values = {area, perimeter};
        const h::Value& region = row.value(regionAt);
        if (classLevel) regions.add(region);
        if (h::isNull(region))
            ++pass.nullRegions;
        else if (classLevel && h::isNull(row.value(classAt)))
            ++pass.nullClasses;
        grouping.add(row, area, perimeter);
        ++pass.rows;
        return true;
    };
    try {
        auto session = std::make_unique<h::EditSession>(source);
        if (!source.rewriteFields(keep, add, measure, &read)) return std::nullopt;
        pass.refresh = std::move(session);
    } catch (...) {
        return std::nullopt;
    }
    pass.grouped = grouping.take();
    pass.classes = pass.grouped->classes.values();
    pass.regions = classLevel ? regions.values() : pass.classes;
    if (!classLevel) pass.classes.clear();
    return pass;
}

}  // namespace kv
