// The patch raster builder of clsG_createPatch (RunClumper), its output
// name, and the unique-value rendering of the new layer.
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "host/Failure.h"
#include "host/Ui.h"
#include "host/data/RasterOperators.h"
#include "host/data/RasterWorkspace.h"
#include "raster/Classes/clsGridCreatePatch.h"
#include "raster/Modules/UtilModule.h"
#include "raster/Modules/modGridOutput.h"
#include "raster/Modules/modMisc.h"
#include "shared/App.h"
#include "shared/ErrorHandling.h"
#include "shared/frmProgress.h"
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
    frmProgress progress;
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
        KV_LINE;
        h::RasterAnalysisEnvironment env;
        h::RasterDatasetPtr reclassed = scratch.keep(h::remap(raster, remap, env));
        KV_LINE;
        h::RegionGroupOptions options;
        options.eightNeighbours = as8N;
        h::RasterDatasetPtr patches = scratch.keep(h::regionGroup(reclassed, options, env));
        KV_LINE;
        h::ZonalGeometryTable geometry = h::zonalGeometry(*patches);

        // Fields of the patch table, added in one rewrite.
        KV_LINE;
        h::TablePtr patchTable = patches->attributeTable();
        std::vector<h::FieldDef> add;
        if (patchTable->fields().find(patchField) < 0)
            add.push_back(patchFieldDef(patchField, fields.field(classField)));
        // Area and Perimeter are columns of 20 digits with 5 decimals; they
        // are filled as doubles, so that large patches keep every digit.
        if (patchTable->fields().find("Area") < 0) add.push_back({"Area", h::FieldDouble, 0, 20, 5});
        if (patchTable->fields().find("Perimeter") < 0) add.push_back({"Perimeter", h::FieldDouble, 0, 20, 5});
        if (!add.empty()) patchTable->addFields(add);
        const h::Fields& pf = patchTable->fields();
        int32_t pValue = pf.find("Value"), pLink = pf.find("Link"), pClass = pf.find(patchField),
                pArea = pf.find("Area"), pPerim = pf.find("Perimeter");

        KV_LINE;
        ShowForm(progress, false);
        progress.lblProgress().setCaption("Calculating Area and Perimeter");
        progress.setMax(static_cast<int32_t>(std::min<size_t>(geometry.rows().size(), INT32_MAX)));
        {
            h::Cursor c = patchTable->update(nullptr, true);
            int32_t done = 0;
            while (h::RowPtr row = c.next()) {
                int64_t id = std::llround(h::toDouble(row->value(pValue)));
                if (const h::ZoneGeometry* zone = geometry.find(id)) {
                    row->setValue(pArea, h::Value(zone->area));
                    row->setValue(pPerim, h::Value(zone->perimeter));
                    auto it = classes.find(static_cast<int32_t>(std::llround(h::toDouble(row->value(pLink)))));
                    if (it != classes.end()) row->setValue(pClass, it->second);
                }
                c.updateRow(*row);
                if (++done % 1024 == 0) progress.setValue(done);
            }
            progress.setValue(done);
        }
        patchTable->flush();
        progress.unload();

        KV_LINE;
        h::RasterDatasetPtr shown = patches;
        if (MakePermanentRaster(patches, SaveLocation, *name)) {
            if (h::RasterDatasetPtr saved = OpenRasterDataset(SaveLocation, *name)) shown = saved;
        }
        KV_LINE;
        auto layer = std::make_shared<h::RasterLayer>(shown);
        ChangeRenderToUVRenderer(*layer, patchField, classes);
        layer->setName(InGrid->name() + " by " + patchField);
        map->addLayer(layer);
        // A failed save leaves the layer showing the working raster.
        if (shown == patches) scratch.release(patches);
    });
    progress.unload();
}

void clsG_createPatch::ChangeRenderToUVRenderer(h::RasterLayer& InputRasterLayer, const std::string& FieldName,
                                                const PatchClasses& DictValues) {
    KV_MEMBER("ChangeRenderToUVRenderer").run([&] {
        KV_LINE;
        std::vector<h::Value> values;
        for (const auto& [code, v] : DictValues) values.push_back(v);
        ArraySort(values);
        values.erase(std::unique(values.begin(), values.end()), values.end());
        KV_LINE;
        std::vector<h::Rgb> ramp = h::randomColourRamp(values.size(), 100);
        h::UniqueValueRenderer r;
        r.field = FieldName;
        for (size_t i = 0; i < values.size(); ++i) r.classes.push_back({values[i], h::toText(values[i]), ramp[i]});
        InputRasterLayer.setRenderer(std::move(r));
    });
}

}  // namespace kv
