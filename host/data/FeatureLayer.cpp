#include "host/data/FeatureLayer.h"

#include <fmt/format.h>

#include <cctype>
#include <filesystem>

#include "host/Failure.h"
#include "host/Ui.h"
#include "host/data/RasterLayer.h"

namespace korvane::host {

FeatureLayer::FeatureLayer(FeatureClassPtr fc, std::string name)
    : Layer(name.empty() && fc ? fc->name() : name, fc ? fc->path() : std::string()),
      featureClass_(std::move(fc)),
      selection_(featureClass_) {}

void FeatureLayer::setFeatureClass(FeatureClassPtr fc) {
    featureClass_ = std::move(fc);
    selection_ = SelectionSet(featureClass_);
    setPath(featureClass_ ? featureClass_->path() : std::string());
}

void FeatureLayer::setSelectionSet(SelectionSet s) {
    if (s.target() != featureClass_)
        fail(err::HostInvalidArg, "FeatureLayer", "The selection set belongs to another feature class.");
    selection_ = std::move(s);
}

void FeatureLayer::selectFeatures(const QueryFilter* filter, SelectionMethod method) {
    if (!featureClass_) fail(err::ObjectNotSet, "FeatureLayer", "The layer has no feature class.");
    selection_.select(filter, method);
}

Cursor FeatureLayer::search(const QueryFilter* filter, bool recycling) {
    if (!featureClass_) fail(err::ObjectNotSet, "FeatureLayer", "The layer has no feature class.");
    return featureClass_->search(filter, recycling);
}

int32_t FeatureLayer::units() const { return featureClass_ ? featureClass_->units() : 0; }

FeatureLayerPtr openFeatureLayer(const std::string& shpPath) {
    return std::make_shared<FeatureLayer>(FeatureClass::open(shpPath));
}

StandaloneTablePtr openTableFile(const std::string& dbfPath) {
    TablePtr t = Table::open(dbfPath);
    auto st = std::make_shared<StandaloneTable>(t->name(), t->path());
    st->table = t;
    return st;
}

int32_t layerUnits(const Layer& layer) { return layer.units(); }

OpenedData openData(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));  // .SHP too
    OpenedData d;
    if (RasterDataset::isRasterPath(path))
        d.raster = openRasterLayer(path);
    else if (ext == ".shp")
        d.layer = openFeatureLayer(path);
    else if (ext == ".dbf")
        d.table = openTableFile(path);
    else
        fail(err::HostInvalidArg, "openData", "Not a shapefile, dBASE table, GeoTIFF, IMAGINE file or GRID folder: " + path);
    return d;
}

int64_t selectWhere(FeatureLayer& layer, const std::string& whereClause) {
    QueryFilter f(whereClause);
    layer.selectFeatures(&f, SelectionMethod::New);
    return layer.selectionSet().count();
}

std::string formatStored(const FieldDef& field, const Value& value) {
    if (isNull(value)) return {};
    if ((field.type == FieldSingle || field.type == FieldDouble) && isNumber(value) && field.scale > 0) {
        // The digits the column holds, without the zeros that only pad it
        // to its decimals: 56.0000000000000000 reads 56, 0.50000 reads 0.5.
        std::string text = fmt::format("{:.{}f}", toDouble(value), field.scale);
        size_t last = text.find_last_not_of('0');
        text.erase(text[last] == '.' ? last : last + 1);
        return text == "-0" ? "0" : text;
    }
    return toText(value);
}

void printTable(Table& table, std::ostream& out) {
    const Fields& fields = table.fields();
    std::vector<int32_t> shown;
    for (int32_t i = 0; i < fields.count(); ++i)
        if (fields.field(i).type != FieldOID && fields.field(i).type != FieldGeometry) shown.push_back(i);
    std::string line;
    for (size_t k = 0; k < shown.size(); ++k) {
        if (k) line += '\t';
        line += escapeControls(fields.field(shown[k]).name);
    }
    out << line << '\n';
    Cursor c = table.search(nullptr, true);
    while (RowPtr r = c.next()) {
        line.clear();
        for (size_t k = 0; k < shown.size(); ++k) {
            if (k) line += '\t';
            // A tab or line end inside a value would break the columns.
            line += escapeControls(formatStored(fields.field(shown[k]), r->value(shown[k])));
        }
        out << line << '\n';
    }
}

}  // namespace korvane::host
