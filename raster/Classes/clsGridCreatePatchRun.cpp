// The patch raster builder of clsG_createPatch (RunClumper), its output
// name, and the unique-value rendering of the new layer.
#include <algorithm>
#include <cmath>
#include <filesystem>

#include <unistd.h>

#include "host/Failure.h"
#include "host/Ui.h"
#include "host/data/RasterLayer.h"
#include "host/data/RasterOperators.h"
#include "host/data/RasterWorkspace.h"
#include "raster/Classes/clsGridCreatePatch.h"
#include "raster/Modules/UtilModule.h"
#include "raster/Modules/modGridOutput.h"
#include "raster/Modules/modMisc.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/modMisc.h"

namespace kv {

namespace h = korvane::host;
namespace stdfs = std::filesystem;

namespace {

// Whether anything of the dataset name is in the folder: the file or GRID
// folder itself, or a sidecar a raster file of that name would have.
bool datasetTaken(const std::string& folder, const std::string& name) {
    std::error_code ec;
    stdfs::path p = stdfs::path(folder) / name;
    for (const char* suffix : {"", ".aux.xml", ".vat.dbf", ".vat.cpg", ".aux", ".ovr"})
        if (stdfs::exists(p.string() + suffix, ec) || stdfs::is_symlink(p.string() + suffix, ec)) return true;
    return false;
}

// A patch field added to the patch raster's table, from the source field.
h::FieldDef patchFieldDef(const std::string& name, const h::FieldDef& source) {
    h::FieldDef f;
    f.name = name;
    f.type = source.type == h::FieldOID ? h::FieldInteger : source.type;
    f.precision = source.precision;
    f.scale = source.scale;
    f.length = source.length;
    return f;
}

// Adds the class field (named patchField, from the grid's class field),
// Area and Perimeter to the rows of the grouping's table (Value, Count,
// Link) and fills them: the class of each patch's code, its area and
// perimeter. A field the table has already is filled in place.
void FillPatchTable(h::RasterTableRows& table, const std::string& patchField, const h::FieldDef& classDef,
                    const PatchClasses& classes, const h::ZonalGeometryTable& geometry) {
    auto at = [&](const std::string& name) -> size_t {
        for (size_t i = 0; i < table.fields.size(); ++i)
            if (h::sameFieldName(table.fields[i].name, name)) return i;
        return table.fields.size();
    };
    const size_t pValue = at("Value"), pLink = at("Link");
    auto add = [&](const h::FieldDef& f) {
        size_t i = at(f.name);
        if (i == table.fields.size()) table.fields.push_back(f);
        return i;
    };
    const size_t pClass = add(patchFieldDef(patchField, classDef));
    // Area and Perimeter are columns of 20 digits with 5 decimals; they
    // are filled as doubles, so that large patches keep every digit.
    const size_t pArea = add({"Area", h::FieldDouble, 0, 20, 5});
    const size_t pPerim = add({"Perimeter", h::FieldDouble, 0, 20, 5});
    for (std::vector<h::Value>& row : table.rows) {
        row.resize(table.fields.size());
        const int64_t id = std::llround(h::toDouble(row[pValue]));
        if (const h::ZoneGeometry* zone = geometry.find(id)) {
            row[pArea] = h::Value(zone->area);
            row[pPerim] = h::Value(zone->perimeter);
            auto it = classes.find(static_cast<int32_t>(std::llround(h::toDouble(row[pLink]))));
            if (it != classes.end()) row[pClass] = it->second;
        }
    }
}

// The patch raster's renderer: one class per distinct class value,
// ascending, each labelled with its value and coloured from a ramp of seed 100.
h::UniqueValueRenderer PatchRenderer(const std::string& field, const PatchClasses& classes) {
    std::vector<h::Value> values;
    for (const auto& [code, v] : classes) values.push_back(v);
    ArraySort(values);
    values.erase(std::unique(values.begin(), values.end()), values.end());
    std::vector<h::Rgb> ramp = h::randomColourRamp(values.size(), 100);
    h::UniqueValueRenderer r;
    r.field = field;
    for (size_t i = 0; i < values.size(); ++i) r.classes.push_back({values[i], h::toText(values[i]), ramp[i]});
    return r;
}

}  // namespace

std::optional<std::string> PatchRasterName(const std::string& folder, const std::string& layerName, std::string& why) {
    // The text after the first "." is kept as the extension only where it
    // names a format a raster can be saved in; otherwise it goes, and the
    // patch raster is a GRID ("landscape.tif by OldValue" -> "landscape").
    std::string stem = layerName, ext;
    if (size_t dot = layerName.find('.'); dot != std::string::npos) {
        stem = layerName.substr(0, dot);
        if (h::rasterFormatForName(layerName)) ext = layerName.substr(dot);
    }
    if (stem.empty() || layerName.find('/') != std::string::npos || layerName.find('\\') != std::string::npos) {
        why = "The layer name \"" + layerName +
              "\" cannot name a raster in the folder: it is empty or holds a path separator or \"..\".";
        return std::nullopt;
    }
    if (!datasetTaken(folder, stem + ext)) return stem + ext;
    struct Stage {
        size_t keep;
        int from, to;
    };
    for (Stage st : {Stage{11, 1, 9}, Stage{10, 10, 99}, Stage{9, 100, 999}}) {
        std::string base = firstChars(stem, st.keep);
        for (int i = st.from; i <= st.to; ++i) {
            std::string candidate = base + "_" + std::to_string(i) + ext;
            if (!datasetTaken(folder, candidate)) return candidate;
        }
    }
    why = "Every name for the patch raster of " + layerName + " is taken in " + folder + ".";
    return std::nullopt;
}

void clsG_createPatch::RunClumper(const h::LayerPtr& InGrid, const std::string& ClassName, bool as8N,
                                  const std::string& SaveLocation) {
    ScratchRasters scratch;
    StageProgress progress;
    KV_MEMBER("RunClumper").run([&] {
        KV_LINE;
        h::MapPtr map = Map();
        auto grid = std::dynamic_pointer_cast<h::RasterLayer>(InGrid);
        if (!grid) return;
        KV_LINE;
        h::RasterDatasetPtr raster = GetRasterDSfromGeoDS(grid->raster());
        if (!raster) return;
        h::TablePtr table = raster->attributeTable();
        if (!table) {
            MsgBox(InGrid->name() + " cannot be grouped into patches: it has no value table (" +
                       (raster->tableStatus().empty() ? std::string("no value table") : raster->tableStatus()) +
                       ").  Cannot continue.",
                   h::mb::Exclamation, "Cannot Continue");
            return;
        }
        KV_LINE;
        const h::Fields& fields = table->fields();
        int32_t valueField = fields.find("Value");
        if (valueField < 0) {
            MsgBox("Cannot find value field in the Grid.  Cannot continue.", h::mb::Critical, "Missing Field");
            return;
        }
        int32_t classField = fields.find(ClassName);
        if (classField < 0) {
            MsgBox("Cannot find " + ClassName + " field in the Grid." + "\r\n" + "Using Value field instead",
                   h::mb::Information, "Missing Field");
            classField = valueField;
        }
        std::string patchField = h::sameFieldName(ClassName, "VALUE") ? "OldValue" : ClassName;
        KV_LINE;
        h::RasterWorkspace::open(SaveLocation);
        // The name is settled before anything is built, so that a name that
        // cannot be used costs nothing.
        std::string why;
        std::optional<std::string> name = PatchRasterName(SaveLocation, InGrid->name(), why);
        if (!name) {
            MsgBox(why, h::mb::Exclamation, "Cannot Continue");
            return;
        }
        if (!h::isValidDbfFieldName(patchField)) {
            MsgBox("The class field name " + patchField + " cannot name a field of the patch table.", h::mb::Exclamation,
                   "Cannot Continue");
            return;
        }
        // Area and Perimeter are in map units: degrees are asked about.
        if (raster->spatialReference() && raster->spatialReference()->geographic &&
            !ConfirmGeographicLayer(InGrid->name()))
            return;

        // Remap and class dictionary, one pass over the table.
        KV_LINE;
        std::unordered_map<int64_t, int32_t> remap;
        PatchClasses classes;
        int32_t code = 0;
        {
            h::Cursor c = table->search(nullptr, true);
            while (h::RowPtr row = c.next()) {
                const h::Value& v = row->value(valueField);
                if (h::isNull(v)) continue;
                classes.emplace(code, row->value(classField));
                remap[std::llround(h::toDouble(v))] = code;
                ++code;
            }
        }
        if (!HasDataCells(*table, valueField)) {
            MsgBox(NoDataCellsMessage(InGrid->name(), "there are no patches to make"), h::mb::Exclamation, "No Data");
            return;
        }
        // The grid's values are grouped by their codes; the regions' table
        // and geometry are taken as the regions are written.
        KV_LINE;
        h::RasterAnalysisEnvironment env;
        h::RegionGroupOptions options;
        options.eightNeighbours = as8N;
        options.codes = &remap;
        h::RasterTableRows patchRows;
        h::ZonalGeometryTable geometry;
        options.table = &patchRows;
        // Value, Count and Link; the class field, Area and Perimeter; Red,
        // Green and Blue.
        options.rowCapacity = 9;
        options.geometry = &geometry;
        progress.stage("Grouping the cells into patches");
        h::RasterDatasetPtr patches = scratch.keep(h::regionGroup(raster, options, env));

        // The patch table: the class field, Area and Perimeter after the
        // grouping's fields, filled in memory and written once, with the raster.
        KV_LINE;
        FillPatchTable(patchRows, patchField, fields.field(classField), classes, geometry);
        // The renderer's colours go into the table as it is written.
        h::addRendererColours(patchRows, PatchRenderer(patchField, classes));

        KV_LINE;
        h::RasterDatasetPtr shown = patches;
        h::RasterDatasetPtr saved;
        progress.stage("Saving the patch raster " + *name);
        if (!MakePermanentRaster(patches, SaveLocation, *name, &patchRows, &saved) || !saved) {
            // The layer shows the working raster, with the table.
            patches->writeValueTable(patchRows);
        } else {
            shown = saved;
        }
        if (shown == patches) {
            // Unsaved: the scratch folder goes when korvane exits, so the
            // result the layer shows is kept beside the document, under a
            // marked name, for as long as the document refers to it.
            const std::string folder = hook() && hook()->document() ? hook()->document()->folder() : std::string();
            if (!folder.empty()) {
                try {
                    h::RasterWorkspace ws = h::RasterWorkspace::open(folder);
                    std::string kept;
                    for (int n = 1; kept.empty() || ws.exists(kept); ++n)
                        kept = stdfs::path(*name).stem().string() + ".kvunsaved-" + std::to_string(::getpid()) + "-" +
                               std::to_string(n) + ".tif";
                    h::RasterDatasetPtr copy = ws.copy(*patches, kept);
                    shown = copy;
                    MsgBox("The patch raster could not be saved in " + SaveLocation + ".  The layer shows the unsaved "
                           "result, kept as " + copy->path() + "; save it with a name of your own to keep it.",
                           h::mb::Exclamation, "Patch Raster Not Saved");
                } catch (const h::Failure& f) {
                    MsgBox("The patch raster could not be saved in " + SaveLocation + ", nor kept beside the "
                           "document (" + f.description() + "): the layer shows a working raster that goes when "
                           "korvane exits.",
                           h::mb::Exclamation, "Patch Raster Not Saved");
                }
            }
        }
        KV_LINE;
        auto layer = std::make_shared<h::RasterLayer>(shown);
        ChangeRenderToUVRenderer(*layer, patchField, classes, true);
        layer->setName(InGrid->name() + " by " + patchField);
        map->addLayer(layer);
        // A failed save leaves the layer showing the working raster.
        if (shown == patches) scratch.release(patches);
    });
}

void clsG_createPatch::ChangeRenderToUVRenderer(h::RasterLayer& InputRasterLayer, const std::string& FieldName,
                                                const PatchClasses& DictValues, bool tableHasColours) {
    KV_MEMBER("ChangeRenderToUVRenderer").run([&] {
        KV_LINE;
        InputRasterLayer.setRenderer(PatchRenderer(FieldName, DictValues));
        KV_LINE;
        // The raster's own files carry the colours too, for other software.
        if (InputRasterLayer.raster())
            h::writeRendererColours(*InputRasterLayer.raster(), *InputRasterLayer.renderer(), tableHasColours);
    });
}

}  // namespace kv
