// A unique-value renderer's colours: looked up by class value, and written
// into the files of the raster it draws (value table colour fields, the GDAL
// raster attribute table's colour columns, a colour table where the band
// type has one).
#include <cpl_minixml.h>
#include <fmt/format.h>

#include <array>
#include <cmath>

#include "host/FileReplace.h"
#include "host/Failure.h"
#include "host/data/RasterImpl.h"
#include "host/data/RasterLayer.h"

namespace korvane::host {

namespace {

constexpr std::array<const char*, 3> kChannels = {"Red", "Green", "Blue"};

FieldDef colourField(const char* name) { return {name, FieldSmallInteger, 0, 3, 0}; }

int32_t channel(const Rgb& c, size_t k) { return static_cast<int32_t>(k == 0 ? c.red : k == 1 ? c.green : c.blue); }

// Band 1's colour table (and its colour interpretation Palette) as the
// nodes of a GDAL auxiliary file.
void putColourTable(CPLXMLNode* band, const std::vector<std::optional<Rgb>>& table) {
    CPLXMLNode* interp = CPLCreateXMLElementAndValue(nullptr, "ColorInterp", "Palette");
    data::replaceXmlChild(band, interp);
    CPLXMLNode* ct = CPLCreateXMLNode(nullptr, CXT_Element, "ColorTable");
    for (const std::optional<Rgb>& c : table) {
        CPLXMLNode* e = CPLCreateXMLNode(ct, CXT_Element, "Entry");
        Rgb rgb = c.value_or(Rgb{});
        CPLAddXMLAttributeAndValue(e, "c1", std::to_string(rgb.red).c_str());
        CPLAddXMLAttributeAndValue(e, "c2", std::to_string(rgb.green).c_str());
        CPLAddXMLAttributeAndValue(e, "c3", std::to_string(rgb.blue).c_str());
        CPLAddXMLAttributeAndValue(e, "c4", c ? "255" : "0");
    }
    data::replaceXmlChild(band, ct);
}

}  // namespace

RendererColours::RendererColours(const UniqueValueRenderer& renderer) {
    for (const UniqueValueRenderer::Class& c : renderer.classes) {
        if (isNull(c.value)) continue;
        if (isNumber(c.value)) numbers_.emplace(toDouble(c.value), c.colour);
        else texts_.emplace(toText(c.value), c.colour);
    }
}

std::optional<Rgb> RendererColours::of(const Value& v) const {
    if (isNull(v)) return std::nullopt;
    if (isNumber(v)) {
        auto it = numbers_.find(toDouble(v));
        return it == numbers_.end() ? std::nullopt : std::optional<Rgb>(it->second);
    }
    auto it = texts_.find(toText(v));
    return it == texts_.end() ? std::nullopt : std::optional<Rgb>(it->second);
}

void addRendererColours(RasterTableRows& table, const UniqueValueRenderer& renderer) {
    auto at = [&](const std::string& name) {
        for (size_t i = 0; i < table.fields.size(); ++i)
            if (sameFieldName(table.fields[i].name, name)) return i;
        return table.fields.size();
    };
    const size_t classAt = at(renderer.field);
    if (classAt == table.fields.size()) return;
    std::array<size_t, 3> channelAt{};
    for (size_t k = 0; k < kChannels.size(); ++k) {
        channelAt[k] = at(kChannels[k]);
        if (channelAt[k] == table.fields.size()) table.fields.push_back(colourField(kChannels[k]));
    }
    const RendererColours colours(renderer);
    for (std::vector<Value>& row : table.rows) {
        row.resize(table.fields.size());
        const std::optional<Rgb> c = colours.of(row[classAt]);
        for (size_t k = 0; k < kChannels.size(); ++k) row[channelAt[k]] = c ? Value(channel(*c, k)) : Value();
    }
}

void writeRendererColours(RasterDataset& raster, const UniqueValueRenderer& renderer, bool tableHasColours) {
    if (!raster.isIntegerGrid()) return;
    TablePtr table = raster.attributeTable();
    if (!table) return;
    const int32_t valueField = table->findField("Value"), classField = table->findField(renderer.field);
    if (valueField < 0 || classField < 0) return;
    const RendererColours colours(renderer);

    // The fields first, in one pass where the table can make it.
    std::vector<FieldDef> missing;
    for (const char* name : kChannels)
        if (table->findField(name) < 0) missing.push_back(colourField(name));
    bool written = tableHasColours;
    if (!written && missing.size() == kChannels.size()) {
        std::vector<std::string> keep;
        for (const FieldDef& f : table->fields().all())
            if (f.type != FieldOID && f.type != FieldGeometry) keep.push_back(f.name);
        written = table->rewriteFields(keep, missing, [&](const Row& row, Table::AddedValues& added) {
            std::optional<Rgb> c = colours.of(row.value(classField));
            for (size_t k = 0; k < kChannels.size(); ++k) added[k] = c ? Value(channel(*c, k)) : Value();
            return true;
        });
    }
    if (!written) {
        EditSession edit(*table);
        if (!missing.empty()) table->addFields(missing);
        std::array<int32_t, 3> at{};
        for (size_t k = 0; k < kChannels.size(); ++k) at[k] = table->findField(kChannels[k]);
        Cursor cursor = table->update(nullptr, true);
        while (RowPtr row = cursor.next()) {
            std::optional<Rgb> c = colours.of(row->value(classField));
            for (size_t k = 0; k < kChannels.size(); ++k) row->setValue(at[k], c ? Value(channel(*c, k)) : Value());
            cursor.updateRow(*row);
        }
        edit.commit();
    }

    RasterDataset::Impl& m = RasterAccess::impl(raster);
    if (m.format != RasterFormat::Tiff && m.format != RasterFormat::Grid) return;
    if (!tableHasColours) raster.writeGdalAttributeTable();
    if (m.pixelType != PixelType::UInt8 && m.pixelType != PixelType::UInt16) return;
    // A colour table is indexed by the cell value: it runs up to the table's
    // largest value; values the table lacks, and NoData, stay transparent.
    std::vector<std::optional<Rgb>> entries;
    Cursor cursor = table->search(nullptr, true);
    while (RowPtr row = cursor.next()) {
        const Value& v = row->value(valueField);
        if (!isNumber(v)) continue;
        double value = toDouble(v);
        if (value < 0 || value > 65535 || value != std::floor(value)) continue;
        if (m.noData && value == *m.noData) continue;
        auto index = static_cast<size_t>(value);
        if (entries.size() <= index) entries.resize(index + 1);
        entries[index] = colours.of(row->value(classField));
    }
    if (entries.empty()) return;
    const std::string aux = m.dataPath + ".aux.xml";
    replaceFileContents(aux, data::auxXmlWithBand1(aux, [&](CPLXMLNode* band) { putColourTable(band, entries); }));
    // GDAL reads the auxiliary file when it opens the dataset again.
    m.closeHandle();
}

}  // namespace korvane::host
